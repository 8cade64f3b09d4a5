// The uninstaller's run over its script: each walk over the commands, in the order the removal
// needs, on the removal's record of actions and the uninstaller's own.
#include "uninstrun.h"

#include "actions.h"
#include "command.h"
#include "keywords.h"
#include "pathguard.h"
#include "removal-actions.h"
#include "removal.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "uninst.h"
#include "uninstscript.h"

// What a walk over the script needs besides the command.
typedef struct Walk {
    InstallState *state; // the settings and the installation folder (written only by WINDOW)
    const InstallRecord *record;
    const UninstallActions *actions;
    char group[SHELL_GROUP_SIZE]; // the current group while the shortcuts are walked
    int cancelled;
} Walk;

static int CloseWindows(int32_t keyword, const char *arguments, void *context) {
    Walk *walk = (Walk *)context;
    if (keyword != KW_WINDOW) return 1;
    WindowArgs window;
    int32_t cursor = 0;
    if (!Cmd_ReadWindow(arguments, &window, &cursor)) return 1; // the setup stopped there too
    int closeMode = window.Mode;
    if (walk->actions->CloseWindows(walk->state, closeMode, window.Milliseconds, window.Title,
                                    window.Class, "", window.Prompt))
        return 1;
    // A program the user keeps, or one that cannot be told to close: its files would stay in
    // use. Asked and refused, nothing is removed; otherwise its files wait for the restart.
    if (closeMode != WND_CLOSE_SILENT) {
        walk->cancelled = 1;
        return 0;
    }
    return 1;
}

int UninstRun_CloseWindows(const char *script, int32_t size, InstallState *state,
                           const UninstallActions *actions) {
    CORE_GUARD(state);
    CORE_GUARD(actions);
    Walk walk = {state, NULL, actions, "", 0};
    UninstScript_Walk(script, size, CloseWindows, &walk);
    if (!walk.cancelled) return 1;
    Log_Print("Uninstall stopped: the program is still running\n");
    return 0;
}

static int UnregisterServers(int32_t keyword, const char *arguments, void *context) {
    const Walk *walk = (const Walk *)context;
    if (keyword != KW_OLE) return 1;
    char verb[16], server[REMOVAL_PATH_SIZE], expanded[REMOVAL_PATH_SIZE];
    int32_t cursor = 0;
    uint32_t flags = 0;
    Cmd_ReadArg(arguments, verb, &cursor);
    if (!Str_EqualNoCase(verb, "REGISTER") || !Cmd_ReadArg(arguments, server, &cursor) ||
        !RemovalActions_Get()->ExpandPath(walk->state, server, expanded, sizeof expanded, &flags))
        return 1;
    if (RemovalActions_Get()->PathKind(expanded) == RPATH_MISSING) return 1;
    Log_Print("OLE: unregister '%s'\n", expanded);
    walk->actions->RegisterServer(expanded, 0); // a failure is logged
    return 1;
}

static int RemoveFiles(int32_t keyword, const char *arguments, void *context) {
    const Walk *walk = (const Walk *)context;
    if (keyword == KW_FILE_LIST) Removal_Items(walk->state, arguments, 0, walk->record, NULL, NULL);
    return 1;
}

static int RemoveFolders(int32_t keyword, const char *arguments, void *context) {
    const Walk *walk = (const Walk *)context;
    if (keyword == KW_FILE_LIST) Removal_Items(walk->state, arguments, 1, walk->record, NULL, NULL);
    return 1;
}

// 1 when path lies below the Start menu's Programs folder, where the shortcuts and groups are.
static int InsidePrograms(const UninstallActions *actions, const char *path) {
    char programs[SHELL_PATH_SIZE];
    return actions->ProgramsPath("", programs) && PathGuard_IsInside(path, programs);
}

static int RemoveShortcuts(int32_t keyword, const char *arguments, void *context) {
    Walk *walk = (Walk *)context;
    int32_t cursor = 0;
    if (keyword == KW_CREATE_GROUP) {
        if (!Cmd_ReadArg(arguments, walk->group, &cursor)) walk->group[0] = 0;
        return 1;
    }
    if (keyword != KW_ADD_ITEM) return 1;
    char number[16], target[INSTALL_TEXT_SIZE], parameters[INSTALL_TEXT_SIZE];
    char itemName[INSTALL_TEXT_SIZE], relative[SHELL_PATH_SIZE], link[SHELL_PATH_SIZE];
    Cmd_ReadArg(arguments, number, &cursor);
    Cmd_ReadArg(arguments, target, &cursor);
    Cmd_ReadArg(arguments, parameters, &cursor);
    if (!Cmd_ReadArg(arguments, itemName, &cursor)) return 1;
    const char *group = walk->group;
    int fits = Str_Format(relative, sizeof relative, "%s%s%s.lnk", group, group[0] ? "\\" : "",
                          itemName) >= 0; // a cut name is another file
    if (fits && walk->actions->ProgramsPath(relative, link)) {
        if (InsidePrograms(walk->actions, link))
            Removal_File(link);
        else
            Log_Print("Not removed, outside the Programs folder: '%s'\n", link);
    }
    return 1;
}

// Each group's folders, deepest first, each only when empty; never the Programs folder.
static int RemoveGroups(int32_t keyword, const char *arguments, void *context) {
    const UninstallActions *actions = ((const Walk *)context)->actions;
    if (keyword != KW_CREATE_GROUP) return 1;
    char group[SHELL_GROUP_SIZE], folder[SHELL_PATH_SIZE];
    int32_t cursor = 0;
    if (!Cmd_ReadArg(arguments, group, &cursor) || !group[0]) return 1;
    for (int length = Str_Length(group); length > 0;) {
        group[length] = 0;
        if (!actions->ProgramsPath(group, folder) || !InsidePrograms(actions, folder)) return 1;
        if (!RemovalActions_Get()->RemoveFolder(folder)) return 1;
        Log_Print("Removed folder '%s'\n", folder);
        while (length > 0 && group[length - 1] != '\\') length--;
        if (length > 0) length--; // the backslash before the last part
    }
    return 1;
}

// The uninstall entry, the remembered installation folder, and the key that held it with the
// parents the installation made with it, each only when nothing is left in it; never a key at
// the top ("Software").
static void RemoveEntries(const InstallState *state, const UninstallActions *actions) {
    char keyName[UNINSTREG_KEY_SIZE]; // never a cut name: that would be another product's entry
    if (Uninst_KeyName(state->CompanyName, state->ProductName, keyName, sizeof keyName) >= 0 &&
        actions->DeleteEntryKey(keyName))
        Log_Print("Removed key 'HKLM\\%s'\n", keyName);
    if (!state->RegistryPath[0] || !actions->DeletePathValue(state->RegistryPath)) return;
    char path[INSTALL_TEXT_SIZE];
    Str_Copy(path, state->RegistryPath);
    for (;;) {
        char *cut = NULL;
        for (char *p = path; *p; p++)
            if (*p == '\\') cut = p;
        if (!cut || !actions->DeleteEmptyKey(path)) return;
        Log_Print("Removed key 'HKCU\\%s'\n", path);
        *cut = 0;
    }
}

void UninstRun_Remove(const char *script, int32_t size, const InstallState *state,
                      const InstallRecord *record, const char *recordPath,
                      const UninstallActions *actions) {
    CORE_GUARD(state);
    CORE_GUARD(actions);
    CORE_GUARD(recordPath);
    // The walks only read the state: WINDOW, which writes its relaunch path, is not among them.
    Walk walk = {(InstallState *)state, record, actions, "", 0};
    const UninstVisit steps[] = {UnregisterServers, RemoveFiles, RemoveShortcuts, RemoveGroups,
                                 RemoveFolders};
    const int count = (int)(sizeof steps / sizeof steps[0]);
    for (int i = 0; i < count; i++) {
        UninstScript_Walk(script, size, steps[i], &walk);
        actions->SetProgress(100.0 * (i + 1) / (count + 1));
    }
    if (recordPath[0]) Removal_File(recordPath);
    // Empty now unless it holds the uninstaller (the clean-up copy removes it then) or a file
    // the user made.
    Removal_EmptyFolder(state->InstallPath);
    Removal_EmptyAbove(state->InstallPath);
    RemoveEntries(state, actions);
    actions->SetProgress(100.0);
}

int UninstRun_RefusalText(const char *product, const char *reason, char *message, int size) {
    Str_Format(message, size, "%s was not removed: %s. Nothing was removed.", product, reason);
    return 1;
}

int UninstRun_ClosingText(const char *product, char *message, int size) {
    int32_t count = 0, cut = 0;
    const char *pending = Removal_Pending(&count, &cut);
    if (!count) {
        Str_Format(message, size, "%s was removed from your computer.", product);
    } else {
        Str_Format(message, size,
                   "%s was removed from your computer, except for these files, which are in use "
                   "and will be removed when Windows restarts:\n\n%s%s",
                   product, pending, cut ? "...\n" : "");
    }
    return 1;
}
