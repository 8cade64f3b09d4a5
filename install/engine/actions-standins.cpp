// The stand-ins of the engine's actions, for a host without the Win32 modules (the unit tests,
// the fuzz targets): each logs what would have been done and fails. Kept apart from the record
// itself, so that the setup program, which installs the system's record, carries none of them.
#include "actions.h"

#include "tessel-core.h"

static int NoConfirm(const char *text, const char *title) {
    CORE_GUARD(text);
    Log_Print("[confirm box \"%s\"] %s\n", title ? title : ACTIONS_CONFIRM_TITLE, text);
    return 1;
}

static int NoProblem(const char *text, const char *title) {
    CORE_GUARD(text);
    Log_Print("[problem box \"%s\"] %s\n", title ? title : ACTIONS_PROBLEM_TITLE, text);
    return 1;
}

static int NoDestroy(void *window) {
    (void)window;
    return 1;
}

static int NoRefresh(void *window) {
    CORE_GUARD(window);
    Log_Print("No backdrop window on this platform\n");
    return 0;
}

// No font is written or added here: FONT fails after filling its slot.
static int NoExtractFont(const char *name) {
    CORE_GUARD(name);
    Log_Print("No font '%s' on this platform\n", name);
    return 0;
}

static int NoRemoveFont(const char *path) {
    CORE_GUARD(path);
    return 1;
}

static int NoTextDialog(void *owner, const char *caption, const char *name) {
    (void)owner;
    (void)caption;
    CORE_GUARD(name);
    Log_Print("No dialog for '%s' on this platform\n", name);
    return 0;
}

// The path macros and the directory dialog exist only on Windows: INSTALL PATH fails here.
static int NoChoosePath(InstallState *state) {
    CORE_GUARD(state);
    Log_Print("No installation directory on this platform\n");
    return 0;
}

static int NoExpandPath(const InstallState *state, const char *input, char *output, int size,
                        uint32_t *flags) {
    CORE_GUARD(state);
    CORE_GUARD(input);
    CORE_GUARD(output);
    CORE_GUARD(flags);
    *flags = 0;
    if (size > 0) output[0] = 0;
    Log_Print("No path '%s' on this platform\n", input);
    return 0;
}

// Files are written only on Windows: INSTALL fails here.
static int NoInstallFiles(InstallState *state) {
    CORE_GUARD(state);
    Log_Print("No file installation on this platform\n");
    return 0;
}

static int NoRunProgram(const char *file, const char *parameters, int wait, int32_t *exitCode) {
    CORE_GUARD(file);
    CORE_GUARD(exitCode);
    (void)parameters;
    (void)wait;
    *exitCode = 0;
    Log_Print("Unable to execute '%s' on this platform\n", file);
    return 1;
}

static int NoRegisterServer(const char *path, int reg) {
    CORE_GUARD(path);
    (void)reg;
    Log_Print("No COM server '%s' on this platform\n", path);
    return 0;
}

static int NoCloseWindows(InstallState *state, int mode, int32_t budget, const char *title,
                          const char *windowClass, const char *relaunch, const char *prompt) {
    CORE_GUARD(state);
    (void)mode, (void)budget, (void)title, (void)windowClass, (void)relaunch, (void)prompt;
    state->RelaunchPath[0] = 0;
    Log_Print("No windows on this platform\n");
    return 0;
}

static int NoCreateGroup(const char *name) {
    CORE_GUARD(name);
    Log_Print("No program group '%s' on this platform\n", name);
    return 0;
}

static int NoAddItem(const InstallState *state, const char *target, const char *arguments,
                     int32_t iconIndex, const char *itemName) {
    CORE_GUARD(state);
    CORE_GUARD(target);
    (void)arguments, (void)iconIndex, (void)itemName;
    Log_Print("No shortcut to '%s' on this platform\n", target);
    return 0;
}

static int NoRegisterUninstall(const InstallState *state) {
    CORE_GUARD(state);
    Log_Print("No uninstall entry on this platform\n");
    return 0;
}

static const InstallActions STAND_INS = {
    NoConfirm,      NoProblem,           NoDestroy,        NoRefresh,      NoExtractFont,
    NoRemoveFont,   NoTextDialog,        NoTextDialog,     NoChoosePath,   NoExpandPath,
    NoInstallFiles, NoRunProgram,        NoRegisterServer, NoCloseWindows, NoCreateGroup,
    NoAddItem,      NoRegisterUninstall,
};

const InstallActions *Actions_StandIns(void) { return &STAND_INS; }
