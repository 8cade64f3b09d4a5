// The script engine's window on the machine: the record of operations through which the
// command handlers and the interpreter show boxes, dialogs and the backdrop, write files and
// reach programs, the Start menu and the registry. The setup program installs the system's
// record (system-actions.cpp, win32 tree); the unit tests and fuzz targets install the
// stand-ins (actions-standins.cpp), which do nothing, log what was asked and report failure, so
// that the engine builds, runs and is tested on any host.
#pragma once
#include <stdint.h>

#include "state.h"

// The boxes' titles when a caller names none.
#define ACTIONS_CONFIRM_TITLE "Install..."
#define ACTIONS_PROBLEM_TITLE "Install problem..."

// The fields and modes that the commands and the system's actions share.
enum {
    WND_NAME_SIZE = 120,    // WINDOW's titles and classes, and its prompt: at most 119 characters
    SHELL_GROUP_SIZE = 160, // CREATE GROUP's group: at most 159 characters
    SHELL_PATH_SIZE = 260,  // the Programs folder, a group folder, a shortcut file: 259 at most
};
// How WINDOW (CloseWindows) treats a window that matches.
enum WndCloseMode {
    WND_CLOSE_SILENT = 0, // send it WM_CLOSE
    WND_CLOSE_TELL = 1,   // tell the user (the problem box with the prompt) and stop
    WND_CLOSE_ASK = 2,    // ask the user (Yes/No with the prompt) for each window
};

typedef struct InstallActions {
    // Yes/No question (null title: "Install..."): 0 only for No. Problem box with OK (null
    // title: "Install problem..."): always 1.
    int (*Confirm)(const char *text, const char *title);
    int (*Problem)(const char *text, const char *title);
    // Destroys the backdrop window at the script's end; has it repainted as a whole (REFRESH).
    int (*DestroyWindow)(void *window);
    int (*RefreshBackdrop)(void *window);
    // FONT: writes the archive's font name into the temporary folder and adds it.
    int (*ExtractFont)(const char *name);
    // Removes a font added before, with its file; 0 when the system refused the removal.
    int (*RemoveFont)(const char *path);
    // MESSAGE and AGREEMENT: the archive's text name in its dialog; 0 when the user leaves.
    int (*ShowMessage)(void *owner, const char *caption, const char *name);
    int (*ShowAgreement)(void *owner, const char *caption, const char *name);
    // INSTALL PATH after its prompt is in Caption.
    int (*ChooseInstallPath)(InstallState *state);
    // A script path with its macros expanded into output (size bytes); 0 when refused.
    int (*ExpandPath)(const InstallState *state, const char *input, char *output, int size,
                      uint32_t *flags);
    // INSTALL.
    int (*InstallFiles)(InstallState *state);
    // Starts a program or document through the shell.
    int (*RunProgram)(const char *file, const char *parameters, int wait, int32_t *exitCode);
    // OLE: DllRegisterServer (reg 1) or DllUnregisterServer.
    int (*RegisterServer)(const char *path, int reg);
    // WINDOW: closes the matching top-level windows.
    int (*CloseWindows)(InstallState *state, int mode, int32_t budget, const char *title,
                        const char *windowClass, const char *relaunch, const char *prompt);
    // CREATE GROUP and ADD ITEM.
    int (*CreateGroup)(const char *name);
    int (*AddItem)(const InstallState *state, const char *target, const char *arguments,
                   int32_t iconIndex, const char *itemName);
    // DONE: the uninstall entry.
    int (*RegisterUninstall)(const InstallState *state);
} InstallActions;

// Installs actions for every later command (the record must outlive its use); null removes
// them. Returns 1.
int Actions_Set(const InstallActions *actions);
// The record in force; fatal when none is installed.
const InstallActions *Actions_Get(void);
// The stand-ins' record (actions-standins.cpp), whole or as the base of a caller's own.
const InstallActions *Actions_StandIns(void);
