// The earlier installation that INSTALL replaces: found, its version compared, and what only it
// installed removed once the new files are in place.
#include "earlier.h"

#include <windows.h>

#include <string.h>

#include "files.h"
#include "installdir.h"
#include "installrecord.h"
#include "keywords.h"
#include "pathguard.h"
#include "removal.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "ui.h"
#include "uninstreg.h"
#include "uninstscript.h"
#include "upgrade.h"

enum {
    EARLIER_FILE_LIMIT = 64 << 20, // an uninstaller with its script is far smaller
    EARLIER_REASON_SIZE = 480,
    EARLIER_QUESTION_SIZE = 3 * INSTALL_TEXT_SIZE + 120,
};

static struct {
    int found;          // an earlier installation with a readable script
    int folderAccepted; // its folder passed the guard rails: its files may be removed
    int refusedNewer;
    InstallState state; // the earlier script's settings and its installation folder
    char *script;
    int32_t scriptSize;
    InstallRecord record; // the earlier install record
    char uninstaller[REMOVAL_PATH_SIZE];
    char recordPath[REMOVAL_PATH_SIZE];
} E;

// The earlier uninstaller's path from the entry's "UninstallString", without its quotation
// marks, into path (size bytes). Returns 1, or 0 when the entry or the value is missing.
static int EntryUninstaller(const InstallState *state, char *path, int size) {
    char keyName[UNINSTREG_KEY_SIZE], command[REMOVAL_PATH_SIZE + 2];
    if (Uninst_KeyName(state->CompanyName, state->ProductName, keyName, sizeof keyName) < 0 ||
        !Reg_KeyExists(REG_ROOT_MACHINE, keyName))
        return 0;
    SysKey key;
    if (!Reg_OpenKey(&key, REG_ROOT_MACHINE, keyName)) return 0;
    int read = Reg_GetString(key, "UninstallString", command, sizeof command);
    Reg_CloseKey(&key);
    if (!read || !command[0]) return 0;
    const char *start = command;
    int length = Str_Length(command);
    if (command[0] == '"') {
        start++;
        const char *end = start;
        while (*end && *end != '"') end++;
        length = (int)(end - start);
    }
    return Str_Format(path, size, "%.*s", length, start) >= 0;
}

// Reads the earlier uninstaller's script and settings into E. 1 when they could be read.
static int ReadScript(void) {
    uint8_t *file = NULL;
    int32_t size = 0;
    if (File_ReadAll(E.uninstaller, EARLIER_FILE_LIMIT, &file, &size) != 1) return 0;
    int found = UninstScript_Extract(file, size, &E.script, &E.scriptSize);
    TESSEL_FREE(file, size + 1);
    return found && UninstScript_Settings(E.script, E.scriptSize, &E.state);
}

// The earlier install record beside its uninstaller; none, or a damaged one, leaves E.record
// empty, which keeps every "$?" file and lowers no shared count.
static void ReadRecord(void) {
    if (!Record_PathFor(E.uninstaller, E.recordPath, sizeof E.recordPath)) return;
    uint8_t *text = NULL;
    int32_t size = 0;
    if (File_ReadAll(E.recordPath, RECORD_LIMIT, &text, &size) == 1 &&
        !Record_Parse((const char *)text, size, &E.record))
        Log_Print("The earlier install record '%s' is damaged: no \"$?\" file is removed\n",
                  E.recordPath);
    if (text) TESSEL_FREE(text, size + 1);
}

// The version question: 1 to go on.
static int AcceptVersion(const InstallState *state) {
    const char *earlier = E.state.ProductVersion, *now = state->ProductVersion;
    int order = Upgrade_CompareVersions(now, earlier);
    Log_Print("Earlier version %s, this one %s\n", earlier[0] ? earlier : "(none)",
              now[0] ? now : "(none)");
    if (order != VERSION_OLDER) return 1;
    if (state->Mode == Quiet) {
        E.refusedNewer = 1;
        Log_Print("A newer version of %s (%s) is installed: version %s is not installed over it\n",
                  state->ProductName, earlier, now);
        return 0;
    }
    char question[EARLIER_QUESTION_SIZE];
    Str_Format(question, sizeof question,
               "A newer version of %s (%s) is installed. Do you want to replace it with the older "
               "version %s?",
               state->ProductName, earlier, now);
    if (Ui_Confirm(question, NULL)) return 1;
    Log_Print("The newer version was kept\n");
    return 0;
}

int Earlier_Prepare(const InstallState *state) {
    CORE_GUARD(state);
    Earlier_Release();
    if (!EntryUninstaller(state, E.uninstaller, sizeof E.uninstaller)) return 1;
    if (!ReadScript()) {
        Log_Print("The earlier installation's uninstaller '%s' cannot be read: its files stay\n",
                  E.uninstaller);
        Earlier_Release();
        return 1;
    }
    E.found = 1;
    ReadRecord();
    Removal_LookUpGuarded();
    char reason[EARLIER_REASON_SIZE];
    E.folderAccepted =
        Removal_FindInstallPath(&E.state, E.uninstaller, reason, sizeof reason); // logs the path
    if (!E.folderAccepted) Log_Print("The earlier installation's files stay: %s\n", reason);
    Log_Print("Earlier installation: '%s'\n", E.uninstaller);
    if (AcceptVersion(state)) return 1;
    Earlier_Release();
    return 0;
}

// Keeps the files this installation writes.
static int WrittenAgain(const char *target, void *context) {
    return Upgrade_Keeps((const InstallRecord *)context, target);
}

typedef struct ObsoleteWalk {
    InstallRecord *targets;
    int folders; // the second walk: the folders left empty
} ObsoleteWalk;

static int RemoveObsolete(int32_t keyword, const char *arguments, void *context) {
    ObsoleteWalk *walk = (ObsoleteWalk *)context;
    if (keyword == KW_FILE_LIST)
        Removal_Items(&E.state, arguments, walk->folders, &E.record, WrittenAgain, walk->targets);
    return 1;
}

// The earlier uninstaller and its record, when this installation put its own elsewhere.
static void RemoveEarlierUninstaller(const InstallRecord *targets) {
    const char *files[] = {E.uninstaller, E.recordPath};
    for (const char *file : files) {
        if (!file[0] || Upgrade_Keeps(targets, file)) continue;
        if (!PathGuard_IsInside(file, E.state.InstallPath) ||
            !Removal_LeadsInside(file, E.state.InstallPath))
            continue;
        Removal_File(file);
        Removal_EmptyParents(file, E.state.InstallPath, 0);
    }
}

void Earlier_Finish(const InstallState *state) {
    CORE_GUARD(state);
    if (E.found && E.folderAccepted) {
        InstallRecord targets;
        memset(&targets, 0, sizeof targets);
        if (!Upgrade_CollectTargets(state, Path_MacroDir, &targets)) {
            Log_Print("The earlier version's files stay: this installation's list is not whole\n");
        } else {
            Log_Print("Removing what only the earlier version installed\n");
            ObsoleteWalk walk = {&targets, 0};
            UninstScript_Walk(E.script, E.scriptSize, RemoveObsolete, &walk);
            walk.folders = 1;
            UninstScript_Walk(E.script, E.scriptSize, RemoveObsolete, &walk);
            RemoveEarlierUninstaller(&targets);
            // An earlier folder that is not this installation's goes when it is empty now.
            if (!PathGuard_SameFolder(E.state.InstallPath, state->InstallPath) &&
                Removal_EmptyFolder(E.state.InstallPath))
                Removal_EmptyAbove(E.state.InstallPath);
        }
        Record_Free(&targets);
    }
    Earlier_Release();
}

void Earlier_Release(void) {
    UninstScript_Free(&E.script, E.scriptSize);
    Record_Free(&E.record);
    int refused = E.refusedNewer;
    memset(&E.state, 0, sizeof E.state);
    E.found = E.folderAccepted = 0;
    E.scriptSize = 0;
    E.uninstaller[0] = E.recordPath[0] = 0;
    E.refusedNewer = refused;
}

int Earlier_RefusedNewer(void) { return E.refusedNewer; }
