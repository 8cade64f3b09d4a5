// The setter commands of the install state (names, sizes, directories, lists, list server) and
// the backdrop's commands (GRADIENT START/END, FONT, STRING, REFRESH), bound to their rows of
// the keyword table. The registry takes them into Cmd_RegisterAll.
#pragma once
#include <stdint.h>

#include "args.h"

// The bindings of these commands (keyword id and handler) and their number in *count.
const CommandBinding *Settings_Bindings(int32_t *count);
