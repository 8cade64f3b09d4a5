// The guard rails of removal, shared by the uninstaller and the setup that upgrades an earlier
// installation: the folders of the system that no installation folder may be nor hold, and the
// removal of a FILE LIST's files and of the folders they leave empty, inside their folders only,
// as the install record decides. Portable: the machine is reached through removal-actions.h.
#include "removal.h"

#include <string.h>

#include "filelist.h"
#include "keywords.h"
#include "pathguard.h"
#include "pathtext.h"
#include "removal-actions.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "uninst.h"

enum {
    GUARDED_LIMIT = 48, // the guarded folders, each in two spellings at most
};

static struct {
    GuardedFolder guarded[GUARDED_LIMIT]; // the folders an installation folder may not be
    char guardedPaths[GUARDED_LIMIT][REMOVAL_PATH_SIZE];
    int guardedCount;
    char pending[REMOVAL_PENDING_SIZE]; // the files left for the next restart, one a line
    int32_t pendingCount, pendingCut;
} R;

// The folders that no installation folder may be nor hold, asked of the system at run time;
// parent: the folder above the one asked for. A folder this system does not have is left out.
static const struct {
    uint8_t ask, parent; // ask: a RemovalFolder
    const char *name;
} GUARDED[] = {
    {RFOLDER_WINDOWS, 0, "the Windows folder"},
    {RFOLDER_WINDOWS_SHELL, 0, "the Windows folder"},
    {RFOLDER_SYSTEM, 0, "the system folder"},
    {RFOLDER_SYSTEM_X86, 0, "the system folder"},
    {RFOLDER_PROGRAM_FILES, 0, "the Program Files folder"},
    {RFOLDER_PROGRAM_FILES_SHELL, 0, "the Program Files folder"},
    {RFOLDER_PROGRAM_FILES_X86, 0, "the Program Files folder"},
    {RFOLDER_PROGRAM_FILES_NATIVE, 0, "the Program Files folder"},
    {RFOLDER_COMMON_FILES, 0, "the Common Files folder"},
    {RFOLDER_COMMON_FILES_X86, 0, "the Common Files folder"},
    {RFOLDER_TEMP, 0, "the temporary folder"},
    {RFOLDER_PROFILE, 0, "your profile folder"},
    {RFOLDER_PROFILE, 1, "the folder of the profiles"},
    {RFOLDER_SHARED_DOCUMENTS, 1, "the shared profile folder"},
    {RFOLDER_APPDATA, 0, "the application data folder"},
    {RFOLDER_LOCAL_APPDATA, 0, "the application data folder"},
    {RFOLDER_COMMON_APPDATA, 0, "the application data folder"},
    {RFOLDER_DOCUMENTS, 0, "the Documents folder"},
    {RFOLDER_DESKTOP, 0, "the desktop folder"},
    {RFOLDER_COMMON_DESKTOP, 0, "the desktop folder"},
    {RFOLDER_START_MENU, 0, "the Start menu"},
    {RFOLDER_COMMON_START_MENU, 0, "the Start menu"},
    {RFOLDER_FONTS, 0, "the Fonts folder"},
};
static_assert(2 * sizeof GUARDED / sizeof GUARDED[0] <= GUARDED_LIMIT, "room for two spellings");

static const RemovalActions *Machine(void) { return RemovalActions_Get(); }

int Removal_DiskName(const char *path, char *out, int size) {
    return Machine()->DiskName(path, out, size);
}

// Adds a guarded folder (the name, path) unless the list holds that spelling already.
static void AddGuarded(const char *name, const char *path) {
    for (int i = 0; i < R.guardedCount; i++)
        if (PathGuard_SameFolder(R.guarded[i].Path, path)) return;
    if (R.guardedCount == GUARDED_LIMIT) return;
    Str_Copy(R.guardedPaths[R.guardedCount], path);
    R.guarded[R.guardedCount].Name = name;
    R.guarded[R.guardedCount].Path = R.guardedPaths[R.guardedCount];
    R.guardedCount++;
}

// Fills R.guarded: each folder of GUARDED as the system gives it and as the disk names it.
void Removal_LookUpGuarded(void) {
    R.guardedCount = 0;
    for (const auto &row : GUARDED) {
        char folder[REMOVAL_PATH_SIZE], disk[REMOVAL_PATH_SIZE];
        if (!Machine()->SystemFolder(row.ask, folder, sizeof folder)) continue;
        int length = Str_Length(folder);
        while (length > 0 && folder[length - 1] == '\\') folder[--length] = 0;
        if (row.parent) {
            while (length > 0 && folder[length - 1] != '\\') length--;
            folder[length > 0 ? length - 1 : 0] = 0;
        }
        if (!folder[0]) continue;
        AddGuarded(row.name, folder);
        if (Removal_DiskName(folder, disk, sizeof disk)) AddGuarded(row.name, disk);
    }
}

// The guard rails' verdict on an installation folder, in its own spelling and in the one the
// disk gives it: GUARD_ACCEPTED, or a refusal whose text goes into reason (size bytes).
int Removal_CheckFolder(const char *folder, char *reason, int size) {
    int which = -1;
    int verdict = PathGuard_CheckFolder(folder, R.guarded, R.guardedCount, &which);
    char disk[REMOVAL_PATH_SIZE];
    if (verdict == GUARD_ACCEPTED && Removal_DiskName(folder, disk, sizeof disk))
        verdict = PathGuard_CheckFolder(disk, R.guarded, R.guardedCount, &which);
    PathGuard_Describe(verdict, folder, which >= 0 ? R.guarded[which].Name : NULL, reason, size);
    return verdict;
}

// ---- The installation folder ----

// 1 when name (UNINSTALL NAME) is relative to the installation folder.
static int IsRelativeName(const char *name) {
    return name[0] && name[0] != '$' && !PathText_StartsWithDrive(name);
}

// 1 when folder exists, and, for an uninstaller named relative to it, holds this program: the
// disk gives folder + name and ownPath one and the same final name. Otherwise 0 with the
// verdict in *verdict.
static int ProveFolder(const char *folder, const char *name, const char *ownPath, int *verdict) {
    if (Machine()->PathKind(folder) != RPATH_FOLDER) {
        *verdict = GUARD_MISSING;
        return 0;
    }
    if (!IsRelativeName(name)) return 1;
    char expected[REMOVAL_PATH_SIZE], expectedDisk[REMOVAL_PATH_SIZE];
    char ownDisk[REMOVAL_PATH_SIZE];
    int same = Str_Format(expected, sizeof expected, "%s%s", folder, name) >= 0 &&
               Removal_DiskName(expected, expectedDisk, sizeof expectedDisk) &&
               Removal_DiskName(ownPath, ownDisk, sizeof ownDisk) &&
               Str_EqualNoCase(expectedDisk, ownDisk);
    if (!same) *verdict = GUARD_ELSEWHERE;
    return same;
}

// The remembered "Install Path"; without one, the folder of this program when UNINSTALL NAME
// is relative to the installation folder (ownPath ends with it). A remembered value that is
// empty or cannot be read counts as no folder (it never falls back to another). The folder
// must pass the guard rails, exist, and hold this program when UNINSTALL NAME is relative.
// Returns 1, or 0 with the text of the refusal in reason (size bytes).
int Removal_FindInstallPath(InstallState *state, const char *ownPath, char *reason, int size) {
    char path[REMOVAL_PATH_SIZE] = "";
    int remembered =
        state->RegistryPath[0] && Machine()->RememberedPath(state->RegistryPath, path, sizeof path);
    if (!remembered) path[0] = 0;
    const char *name = state->UninstallName;
    if (!remembered && IsRelativeName(name)) {
        int own = Str_Length(ownPath), tail = Str_Length(name);
        if (own > tail && Str_EqualNoCase(ownPath + own - tail, name) &&
            ownPath[own - tail - 1] == '\\')
            Str_Format(path, sizeof path, "%.*s", own - tail, ownPath);
    }
    int length = Str_Length(path);
    if (length > 0 && path[length - 1] != '\\') Str_Append(path, "\\");
    // Refused, never cut: a cut folder is another folder.
    if (Str_Length(path) >= (int)sizeof state->InstallPath) path[0] = 0;
    if (Removal_CheckFolder(path, reason, size) != GUARD_ACCEPTED) return 0;
    int verdict = GUARD_ACCEPTED;
    char disk[REMOVAL_PATH_SIZE]; // only asked for: a folder the disk cannot name is refused
    if (!ProveFolder(path, name, ownPath, &verdict) || !Removal_DiskName(path, disk, sizeof disk)) {
        if (verdict == GUARD_ACCEPTED) verdict = GUARD_MISSING; // the disk has no name for it
        PathGuard_Describe(verdict, path, NULL, reason, size);
        return 0;
    }
    Str_Copy(state->InstallPath, path);
    Log_Print("Install Path   : %s\n", state->InstallPath);
    return 1;
}

// ---- Files and folders ----

void Removal_Reset(void) { memset(&R, 0, sizeof R); }

void Removal_NotePending(const char *path) {
    R.pendingCount++;
    int used = Str_Length(R.pending), length = Str_Length(path);
    if (used + length + 2 >= REMOVAL_PENDING_SIZE) {
        R.pendingCut++;
        return;
    }
    Str_Append(R.pending, path);
    Str_Append(R.pending, "\n");
}

// Deletes a file; one in use is left for the next restart. A missing file is no failure.
void Removal_File(const char *path) {
    uint32_t error = 0, restartError = 0;
    int deleted = Machine()->Delete(path, &error);
    if (deleted == RDELETE_DONE) {
        Log_Print("Removed '%s'\n", path);
        return;
    }
    if (deleted == RDELETE_MISSING) return;
    if (Machine()->DeleteAtRestart(path, &restartError)) {
        Log_Print("In use, removed at the next restart: '%s' (%lu)\n", path, (unsigned long)error);
        Removal_NotePending(path);
    } else {
        Log_Print("Unable to remove '%s' (%lu)\n", path, (unsigned long)restartError);
    }
}

// 1 when folder (with its trailing backslash) is a macro's own folder, a drive's root or a
// guarded folder: such folders are never removed, empty or not.
int Removal_IsProtected(const char *folder) {
    if (Str_Length(folder) <= 3) return 1;
    for (char letter = '0'; letter <= '5'; letter++) {
        char dir[REMOVAL_PATH_SIZE];
        if (Machine()->MacroDir(letter, dir, sizeof dir) == 1 && Str_EqualNoCase(dir, folder))
            return 1;
    }
    for (int i = 0; i < R.guardedCount; i++)
        if (PathGuard_SameFolder(R.guarded[i].Path, folder)) return 1;
    return 0;
}

int Removal_EmptyFolder(const char *folder) {
    if (Removal_IsProtected(folder) || !Machine()->RemoveFolder(folder)) return 0;
    Log_Print("Removed folder '%s'\n", folder);
    return 1;
}

// 1 when path leads, on the disk, to base itself or below it: its final name, through every link
// and short name, lies in base's. 0 when it leads elsewhere, or either does not exist. (Wine
// deletes what a link leads to, not the link: nothing is deleted that leads outside.)
int Removal_LeadsInside(const char *path, const char *base) {
    char pathDisk[REMOVAL_PATH_SIZE], baseDisk[REMOVAL_PATH_SIZE];
    return Removal_DiskName(path, pathDisk, sizeof pathDisk) &&
           Removal_DiskName(base, baseDisk, sizeof baseDisk) &&
           (PathGuard_SameFolder(pathDisk, baseDisk) || PathGuard_IsInside(pathDisk, baseDisk));
}

// Removes the empty folders from path's folder upwards while they lie below base (a folder
// with its trailing backslash), base itself included when removeBase is set; a folder that
// leads outside base on the disk (a link) stops the walk.
void Removal_EmptyParents(const char *path, const char *base, int removeBase) {
    char folder[REMOVAL_PATH_SIZE];
    Str_Format(folder, sizeof folder, "%s", path);
    int baseLength = Str_Length(base);
    for (;;) {
        int length = Str_Length(folder);
        if (length > 0 && folder[length - 1] == '\\') folder[--length] = 0;
        char *cut = NULL;
        for (char *p = folder; *p; p++)
            if (*p == '\\') cut = p;
        if (!cut) return;
        cut[1] = 0; // the parent, with its backslash
        length = Str_Length(folder);
        if (length < baseLength) return;
        if (length == baseLength && !(removeBase && Str_EqualNoCase(folder, base))) return;
        if (length > baseLength && !Str_StartsWithNoCase(folder, base)) return;
        if (Removal_IsProtected(folder)) return;
        if (!Removal_LeadsInside(folder, base)) {
            if (Machine()->PathKind(folder) != RPATH_MISSING)
                Log_Print("Not removed, it leads outside its folder: '%s'\n", folder);
            return;
        }
        if (!Machine()->RemoveFolder(folder)) return; // not empty: it holds what the user made
        Log_Print("Removed folder '%s'\n", folder);
    }
}

// Removes the empty folders above an installation folder that is gone, up to the Program Files
// folder: a setup made "Acme\Rocket" below it, and an empty "Acme" is its leftover. Folders
// elsewhere (a drive's root, a folder the user picked) are left as they are.
void Removal_EmptyAbove(const char *installPath) {
    char programs[REMOVAL_PATH_SIZE];
    if (Machine()->PathKind(installPath) != RPATH_MISSING) return;
    if (Machine()->MacroDir('0', programs, sizeof programs) != 1) return;
    if (PathGuard_IsInside(installPath, programs)) Removal_EmptyParents(installPath, programs, 0);
}

// The folder an item's path starts from: the macro's folder, or the installation folder. 0 for
// "$3" and "$5": the uninstaller's own and current folders are not the setup's.
int Removal_ItemBase(const InstallState *state, const char *item, char *base, int size) {
    char letter = 0;
    for (const char *p = item; p[0] == '$' && p[1]; p += 2)
        if (p[1] >= '0' && p[1] <= '5') letter = p[1];
    if (letter == '3' || letter == '5') return 0;
    if (!letter) return Str_Format(base, size, "%s", state->InstallPath) >= 0;
    return Machine()->MacroDir(letter, base, size) == 1;
}

// Removes the file of a FILE LIST item at target below base, as the install record and the
// shared count decide (installrecord.h); flags are the item's. A count this installation raised
// is lowered first. Nothing that leads outside base on the disk is removed.
void Removal_ItemFile(const char *target, const char *base, uint32_t flags,
                      const InstallRecord *record) {
    const RemovalActions *machine = Machine();
    int shared = machine->IsShared(target);
    int32_t count = shared ? machine->SharedCount(target) : RECORD_NO_COUNT;
    RecordVerdict verdict =
        Record_Decide(flags & PATH_FLAG_CONFIRM, shared, Record_Find(record, target), count);
    if (verdict.Count != RECORD_KEEP_COUNT && machine->SetSharedCount(target, verdict.Count)) {
        if (verdict.Count == RECORD_DROP_COUNT)
            Log_Print("Shared file '%s': no count left\n", target);
        else
            Log_Print("Shared file '%s': count %d\n", target, (int)verdict.Count);
    }
    if (verdict.Verdict != VERDICT_REMOVE) {
        Log_Print("Not removed, %s: '%s'\n", Record_Reason(verdict.Verdict), target);
        return;
    }
    if (machine->PathKind(target) == RPATH_MISSING) return; // gone already
    if (!Removal_LeadsInside(target, base)) {
        Log_Print("Not removed, it leads outside its folder: '%s'\n", target);
        return;
    }
    Removal_File(target);
}

// Each FILE LIST item, with its target and the folder it starts from; folders says whether
// this walk removes the files or the folders they leave empty. An item whose target does not
// lie below its folder (a drive of its own, a ".." name, "$3" or "$5") is left alone.
int Removal_Items(const InstallState *state, const char *arguments, int folders,
                  const InstallRecord *record, RemovalKeep keep, void *context) {
    int32_t cursor = 0;
    while (!Keyword_IsTerminator(arguments[cursor])) {
        char item[INSTALL_ITEM_SIZE], target[REMOVAL_PATH_SIZE], base[REMOVAL_PATH_SIZE];
        uint32_t flags = 0;
        int32_t before = cursor;
        int read = FileList_NextItem(arguments, &cursor, item, sizeof item);
        if (cursor == before) break;
        if (!read || !item[0] || !Machine()->ExpandPath(state, item, target, sizeof target, &flags))
            continue;
        if (!Removal_ItemBase(state, item, base, sizeof base) ||
            !PathGuard_IsInside(target, base)) {
            if (!folders) Log_Print("Not removed, outside its folder: '%s'\n", target);
            continue;
        }
        if (keep && keep(target, context)) continue;
        if (!folders)
            Removal_ItemFile(target, base, flags, record);
        else
            Removal_EmptyParents(target, base, 0);
    }
    return 1;
}

const char *Removal_Pending(int32_t *count, int32_t *cut) {
    CORE_GUARD(count);
    CORE_GUARD(cut);
    *count = R.pendingCount;
    *cut = R.pendingCut;
    return R.pending;
}
