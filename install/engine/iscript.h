// The script interpreter: loads "install.dat" into a fresh install state, runs it command by
// command through the registry (a run may stop at BREAK or at a failed command and a later run
// resumes there), and releases the state with the backdrop fonts at the end.
#pragma once
#include <stdint.h>

#include "state.h"

// Loads the named file (archive entry, or disk file when no archive is open) into a new
// zero-filled state with ScriptPosition at its start and the given mode, and stores the state
// in *slot. Returns 0, with nothing allocated and *slot untouched, when the file's size cannot
// be had, the file is too large to hold, or it cannot be loaded.
int Script_Load(InstallState **slot, const char *name, int32_t mode);
// Runs the script from ScriptPosition with window as the state's Window (null in the first run
// and in quiet mode). Returns 1 when the script ended (window, if any, destroyed) or paused at
// BREAK, 0 when a command was unknown (problem box shown) or failed; ScriptPosition then
// points at that command's marker.
int Script_Run(InstallState *state, void *window);
// Registers BREAK with Script_Break in the command registry (after Cmd_RegisterAll). Returns 1.
int Script_RegisterBreak(void);
// The BREAK command: 1 in quiet mode (passed over), 0 in interactive mode (Script_Run pauses).
int Script_Break(InstallState *state, const char *arguments, int32_t *cursor);
// Removes the backdrop fonts, frees the strings, the font slots, the script and the state,
// and nulls *slot. Returns 1; a null *slot is left as it is.
int Script_Release(InstallState **slot);
