// The uninstaller's run over its script, free of the system: the product's windows closed, the
// COM servers unregistered, the listed files, shortcuts and groups removed, the folders left
// empty, the install record, the installation folder and the registry entries; and the texts
// of its refusal and its closing box. The machine is reached through the removal's record
// (removal-actions.h) and the uninstaller's own (UninstallActions).
#pragma once
#include <stdint.h>

#include "installrecord.h"
#include "state.h"

// The uninstaller's operations beyond the removal's: its program installs the system's
// (uninstall-system.cpp, win32 tree), the unit tests a machine of their own.
typedef struct UninstallActions {
    // WINDOW: closes the matching top-level windows (the setup's CloseWindows action).
    int (*CloseWindows)(InstallState *state, int mode, int32_t budget, const char *title,
                        const char *windowClass, const char *relaunch, const char *prompt);
    // DllUnregisterServer (reg 0) of the DLL at path; 0 (logged) when it failed.
    int (*RegisterServer)(const char *path, int reg);
    // The Programs folder into output (SHELL_PATH_SIZE bytes), followed by a backslash and text
    // when text is not empty. Returns 1, or 0 with one log line.
    int (*ProgramsPath)(const char *text, char *output);
    // Deletes HKEY_LOCAL_MACHINE\keyName (the uninstall entry). Returns 1 when it was deleted.
    int (*DeleteEntryKey)(const char *keyName);
    // Deletes the "Install Path" value under the user's registryPath. Returns 1 when the key
    // could be opened for it, 0 when it is missing.
    int (*DeletePathValue)(const char *registryPath);
    // Deletes the user's key at path when it holds neither keys nor values. Returns 1 when it
    // was deleted.
    int (*DeleteEmptyKey)(const char *path);
    // The progress bar at percent (0 to 100); nothing without a window.
    int (*SetProgress)(double percent);
} UninstallActions;

// The WINDOW commands of the script, each closing its windows as it says. Returns 1 to go on;
// 0 when a program is still running that the user keeps or that was only to be told of
// (nothing is removed then).
int UninstRun_CloseWindows(const char *script, int32_t size, InstallState *state,
                           const UninstallActions *actions);
// The removal itself, in order: the servers unregistered, the FILE LIST files removed as
// record decides, the shortcuts and groups, the folders left empty, the record's own file at
// recordPath (when not empty), the installation folder and the empty folders above it, the
// uninstall entry and the remembered installation folder. Call Removal_FindInstallPath first.
void UninstRun_Remove(const char *script, int32_t size, const InstallState *state,
                      const InstallRecord *record, const char *recordPath,
                      const UninstallActions *actions);
// The refusal's text: "PRODUCT was not removed: REASON. Nothing was removed." into message
// (size bytes, cut to fit). Returns 1.
int UninstRun_RefusalText(const char *product, const char *reason, char *message, int size);
// The closing box's text into message (size bytes, cut to fit): the product removed, with the
// files in use left for the restart (Removal_Pending) listed, "..." when the list was cut.
// Returns 1.
int UninstRun_ClosingText(const char *product, char *message, int size);
