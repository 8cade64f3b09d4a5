// The backdrop's font slots at the end of their life: the file a slot's FONT command wrote into
// the temporary folder is removed from the system and deleted, through the engine's actions.
// FONT uses it for a slot given again, the interpreter's release for every slot.
#pragma once
#include <stdint.h>

#include "state.h"

enum { FONT_PATH_SIZE = 260 + 320 }; // the temporary directory and a font slot's name

// Removes the font of slot index (from 0) that FONT added under the temporary directory, with
// its file. Returns 1, or 0 with the log line "Unable to remove font '%d' '%s'" when the path
// does not fit or the system does not remove it.
int FontSlot_Remove(const FontSlot *fonts, int32_t index);
// Removes the font of every slot of state. A slot that no FONT command filled names the
// directory itself: its removal fails and is logged like any other. Returns 1.
int FontSlot_RemoveAll(const InstallState *state);
