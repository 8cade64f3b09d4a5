// The uninstaller's side of its script (portable): finding the scrambled copy that INSTALL
// appended to the uninstaller file, and reading the script's commands without running them.
// The settings the removal needs are read by the setup's own setters, so that both programs
// see the same company, product, registry path and directories.
#pragma once
#include <stdint.h>

#include "state.h"

// The script behind an uninstaller file of size bytes (layout in uninst.h): U from the last four
// bytes, the marker at U, the script between them, unscrambled into *script (a block of
// *scriptSize + 1 bytes from the memory manager, the last one zero). Returns 1, or 0 with one
// log line and *script null when the file is too short, U lies outside it or the marker is not
// at U.
int UninstScript_Extract(const uint8_t *file, int32_t size, char **script, int32_t *scriptSize);
// Releases what UninstScript_Extract gave; *script becomes null.
int UninstScript_Free(char **script, int32_t scriptSize);

// One command of the script: its keyword (a KeywordId) and its arguments as they stand in the
// script. Returning 0 ends the walk.
typedef int (*UninstVisit)(int32_t keyword, const char *arguments, void *context);
// Calls visit for every command of the script (size bytes and a zero byte), in order. Returns 1,
// or 0 with one log line at a command the keyword table does not know, or when visit returned 0.
int UninstScript_Walk(const char *script, int32_t size, UninstVisit visit, void *context);
// Reads COMPANY NAME, PRODUCT NAME, REGISTRY PATH, INSTALL DIR and UNINSTALL NAME into state
// (cleared first; the script's text is left in it) with the setup's setters, the last of each
// counting. Returns 1, or 0 when the script does not parse.
int UninstScript_Settings(const char *script, int32_t size, InstallState *state);
