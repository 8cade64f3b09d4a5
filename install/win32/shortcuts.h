// The program group and its shortcuts: the folder under the user's Start-menu Programs folder
// that CREATE GROUP makes current, and the shell links that ADD ITEM saves into it
// (shortcuts.cpp, win32 tree); the commands reach them through the engine's actions.
#pragma once
#include <stdint.h>

#include "actions.h"
#include "state.h"

// Makes name (a path relative to the Programs folder, such as "Tools\Viewer"; empty: the
// Programs folder itself) the current group and creates its folder with every missing parent.
// Returns 1. Refused (0, logged, the current group unchanged, nothing created): a name of
// SHELL_GROUP_SIZE characters or more, or a group folder that would not fit SHELL_PATH_SIZE.
int Shell_CreateGroup(const char *name);
// Saves the shortcut itemName.lnk in the current group: target (relative to InstallPath or
// starting with a path macro) with its arguments, the item name as its description, icon
// iconIndex (already 0 or more) of the target, working directory the target's macro folder
// (InstallPath without a macro). Returns 1: a shortcut that cannot be made is only logged.
int Shell_AddItem(const InstallState *state, const char *target, const char *arguments,
                  int32_t iconIndex, const char *itemName);
// The Programs folder into output (SHELL_PATH_SIZE bytes), followed by a backslash and text
// when text is not empty. Returns 1, or 0 with output empty and one log line when the folder
// cannot be had or the path does not fit (refused, never cut).
int Shell_ProgramsPath(const char *text, char *output);
// The shortcut file of itemName in the current group into output (SHELL_PATH_SIZE bytes).
// Returns 1, or 0 with output empty and one log line as Shell_ProgramsPath.
int Shell_LinkPath(char *output, const char *itemName);
