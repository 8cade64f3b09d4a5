// The uninstaller program (win32 tree): reads the script that INSTALL appended to its own file
// and removes what that script installed, in this order: the product's running windows are
// closed, the COM servers unregistered, the listed files deleted (a file in use waits for the
// next restart), the shortcuts and the group folders removed, the folders the files left
// empty, the uninstall entry and the remembered installation folder; last, a copy of the
// program in a fresh temporary folder waits for this process to end and deletes its file.
// Guard rails: an installation folder that is no plain full path, a drive's root or a folder
// of the system (pathguard.h) stops it before anything is removed, and it removes only the
// files of its script's FILE LIST inside their folders, its shortcuts and empty folders.
//
//   uninst.exe [-Quiet] [debug-log switches]
//
// The log, with the same switches as the setup's, is "uninstall.log" in the temporary folder
// (the program's own folder is being removed). Exit codes: 1 removed, 2 stopped (the user said
// No, or a program could not be closed), 3 damaged (no readable script), a refused
// installation folder, or an internal error.
#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include "command.h"
#include "dialogs.h"
#include "entry.h"
#include "fileinstall.h"
#include "filelist.h"
#include "installdir.h"
#include "installrecord.h"
#include "keywords.h"
#include "pathguard.h"
#include "pathtext.h"
#include "programs.h"
#include "settings.h"
#include "sharedfiles.h"
#include "shortcuts.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "ui.h"
#include "uninst.h"
#include "uninstreg.h"
#include "uninstscript.h"

enum {
    UNINSTALL_EXIT_DONE = 1,
    UNINSTALL_EXIT_STOPPED = 2,
    UNINSTALL_EXIT_DAMAGED = 3,
    UNINSTALL_FILE_LIMIT = 64 << 20, // an uninstaller with its script is far smaller
    UNINSTALL_PENDING_SIZE = 4096,   // the closing message's list of files left for the restart
    UNINSTALL_PATH_SIZE = 320,
    UNINSTALL_REASON_SIZE = 480, // a refusal's text: the folder and why
    GUARDED_LIMIT = 48,          // the guarded folders, each in two spellings at most
    COPY_RANDOM_BYTES = UNINST_COPY_DIGITS / 2, // 128 random bits name the copy's folder
};

// RtlGenRandom of advapi32, the system's random source (its header clashes with state.h's names).
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

static const char DAMAGED[] = "The uninstaller has been damaged.";
static const char COPY_NAME[] = UNINST_COPY_NAME;

static struct {
    InstallState state; // the settings of the script and the installation folder
    char title[INSTALL_TEXT_SIZE + 16];
    char group[SHELL_GROUP_SIZE]; // the current group while the shortcuts are walked
    char pending[UNINSTALL_PENDING_SIZE];
    int32_t pendingCount, pendingCut;
    int cancelled;
    GuardedFolder guarded[GUARDED_LIMIT]; // the folders an installation folder may not be
    char guardedPaths[GUARDED_LIMIT][UNINSTALL_PATH_SIZE];
    int guardedCount;
    InstallRecord record;                 // what INSTALL did with "$?" and shared files
    char recordPath[UNINSTALL_PATH_SIZE]; // its file beside this program
} U;

// ---- Guard rails ----

enum {
    ASK_TEMP = -1,          // GetTempPath
    ASK_WINDOWS = -2,       // GetWindowsDirectory
    ASK_SYSTEM = -3,        // GetSystemDirectory
    ASK_PROGRAM_FILES = -4, // the Program Files folder of "$0", as the setup found it
    ASK_NATIVE_FILES = -5,  // the 64-bit Program Files folder, seen from a 32-bit program
};

// The folders that no installation folder may be nor hold, asked of the system at run time
// (a CSIDL, or one of the ASK_ queries); parent: the folder above the one asked for. A folder
// this system does not have is left out.
static const struct {
    int ask, parent;
    const char *name;
} GUARDED[] = {
    {ASK_WINDOWS, 0, "the Windows folder"},
    {CSIDL_WINDOWS, 0, "the Windows folder"},
    {ASK_SYSTEM, 0, "the system folder"},
    {CSIDL_SYSTEMX86, 0, "the system folder"},
    {ASK_PROGRAM_FILES, 0, "the Program Files folder"},
    {CSIDL_PROGRAM_FILES, 0, "the Program Files folder"},
    {CSIDL_PROGRAM_FILESX86, 0, "the Program Files folder"},
    {ASK_NATIVE_FILES, 0, "the Program Files folder"},
    {CSIDL_PROGRAM_FILES_COMMON, 0, "the Common Files folder"},
    {CSIDL_PROGRAM_FILES_COMMONX86, 0, "the Common Files folder"},
    {ASK_TEMP, 0, "the temporary folder"},
    {CSIDL_PROFILE, 0, "your profile folder"},
    {CSIDL_PROFILE, 1, "the folder of the profiles"},
    {CSIDL_COMMON_DOCUMENTS, 1, "the shared profile folder"},
    {CSIDL_APPDATA, 0, "the application data folder"},
    {CSIDL_LOCAL_APPDATA, 0, "the application data folder"},
    {CSIDL_COMMON_APPDATA, 0, "the application data folder"},
    {CSIDL_PERSONAL, 0, "the Documents folder"},
    {CSIDL_DESKTOPDIRECTORY, 0, "the desktop folder"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, 0, "the desktop folder"},
    {CSIDL_STARTMENU, 0, "the Start menu"},
    {CSIDL_COMMON_STARTMENU, 0, "the Start menu"},
    {CSIDL_FONTS, 0, "the Fonts folder"},
};
static_assert(2 * sizeof GUARDED / sizeof GUARDED[0] <= GUARDED_LIMIT, "room for two spellings");

static int AskFolder(int ask, char *folder, int size) {
    switch (ask) {
    case ASK_TEMP:
        return Path_TempDir(folder, size);
    case ASK_WINDOWS:
        return Path_WindowsDir(folder, size);
    case ASK_SYSTEM:
        return Path_SystemDir(folder, size);
    case ASK_PROGRAM_FILES:
        return Path_MacroDir('0', folder, size) == 1;
    case ASK_NATIVE_FILES: {
        DWORD length = GetEnvironmentVariableA("ProgramW6432", folder, (DWORD)size);
        return length > 0 && length < (DWORD)size;
    }
    default:
        return size >= MAX_PATH && SHGetFolderPathA(NULL, ask, NULL, 0, folder) == S_OK;
    }
}

typedef DWORD(WINAPI *FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);

// The name the disk gives an existing folder, through junctions, links and short names, into
// out (size bytes; the "\\?\" of a drive path dropped). Returns 1, or 0 when the folder cannot
// be opened or the name cannot be had (GetFinalPathNameByHandle, looked up at run time, or
// GetLongPathName where it is missing).
static int DiskName(const char *folder, char *out, int size) {
    HANDLE handle = CreateFileA(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    FinalPathFunction finalPath = (FinalPathFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    char name[UNINSTALL_PATH_SIZE + 8];
    DWORD length = finalPath ? finalPath(handle, name, sizeof name, 0)
                             : GetLongPathNameA(folder, name, sizeof name);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof name) return 0;
    const char *drivePath = name;
    if (Str_StartsWith(name, "\\\\?\\") && PathText_StartsWithDrive(name + 4)) drivePath += 4;
    return Str_Format(out, size, "%s", drivePath) >= 0;
}

// Adds a guarded folder (the name, path) unless the list holds that spelling already.
static void AddGuarded(const char *name, const char *path) {
    for (int i = 0; i < U.guardedCount; i++)
        if (PathGuard_SameFolder(U.guarded[i].Path, path)) return;
    if (U.guardedCount == GUARDED_LIMIT) return;
    Str_Copy(U.guardedPaths[U.guardedCount], path);
    U.guarded[U.guardedCount].Name = name;
    U.guarded[U.guardedCount].Path = U.guardedPaths[U.guardedCount];
    U.guardedCount++;
}

// Fills U.guarded: each folder of GUARDED as the system gives it and as the disk names it.
static void LookUpGuardedFolders(void) {
    U.guardedCount = 0;
    for (const auto &row : GUARDED) {
        char folder[UNINSTALL_PATH_SIZE], disk[UNINSTALL_PATH_SIZE];
        if (!AskFolder(row.ask, folder, sizeof folder)) continue;
        int length = Str_Length(folder);
        while (length > 0 && folder[length - 1] == '\\') folder[--length] = 0;
        if (row.parent) {
            while (length > 0 && folder[length - 1] != '\\') length--;
            folder[length > 0 ? length - 1 : 0] = 0;
        }
        if (!folder[0]) continue;
        AddGuarded(row.name, folder);
        if (DiskName(folder, disk, sizeof disk)) AddGuarded(row.name, disk);
    }
}

// The guard rails' verdict on an installation folder, in its own spelling and in the one the
// disk gives it: GUARD_ACCEPTED, or a refusal whose text goes into reason (size bytes).
static int CheckInstallFolder(const char *folder, char *reason, int size) {
    int which = -1;
    int verdict = PathGuard_CheckFolder(folder, U.guarded, U.guardedCount, &which);
    char disk[UNINSTALL_PATH_SIZE];
    if (verdict == GUARD_ACCEPTED && DiskName(folder, disk, sizeof disk))
        verdict = PathGuard_CheckFolder(disk, U.guarded, U.guardedCount, &which);
    PathGuard_Describe(verdict, folder, which >= 0 ? U.guarded[which].Name : NULL, reason, size);
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
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *verdict = GUARD_MISSING;
        return 0;
    }
    if (!IsRelativeName(name)) return 1;
    char expected[UNINSTALL_PATH_SIZE], expectedDisk[UNINSTALL_PATH_SIZE];
    char ownDisk[UNINSTALL_PATH_SIZE];
    int same = Str_Format(expected, sizeof expected, "%s%s", folder, name) >= 0 &&
               DiskName(expected, expectedDisk, sizeof expectedDisk) &&
               DiskName(ownPath, ownDisk, sizeof ownDisk) && Str_EqualNoCase(expectedDisk, ownDisk);
    if (!same) *verdict = GUARD_ELSEWHERE;
    return same;
}

// The remembered "Install Path"; without one, the folder of this program when UNINSTALL NAME
// is relative to the installation folder (ownPath ends with it). A remembered value that is
// empty or cannot be read counts as no folder (it never falls back to another). The folder
// must pass the guard rails, exist, and hold this program when UNINSTALL NAME is relative.
// Returns 1, or 0 with the text of the refusal in reason (size bytes).
static int FindInstallPath(InstallState *state, const char *ownPath, char *reason, int size) {
    char path[UNINSTALL_PATH_SIZE] = "";
    int remembered = 0;
    if (state->RegistryPath[0]) {
        SysKey key;
        if (Reg_OpenKey(&key, REG_ROOT_USER, state->RegistryPath)) {
            remembered = RegQueryValueExA((HKEY)key, "Install Path", NULL, NULL, NULL, NULL) ==
                         ERROR_SUCCESS;
            if (remembered) Reg_GetString(key, "Install Path", path, sizeof path); // "" if bad
            Reg_CloseKey(&key);
        }
    }
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
    if (CheckInstallFolder(path, reason, size) != GUARD_ACCEPTED) return 0;
    int verdict = GUARD_ACCEPTED;
    char disk[UNINSTALL_PATH_SIZE]; // only asked for: a folder the disk cannot name is refused
    if (!ProveFolder(path, name, ownPath, &verdict) || !DiskName(path, disk, sizeof disk)) {
        if (verdict == GUARD_ACCEPTED) verdict = GUARD_MISSING; // the disk has no name for it
        PathGuard_Describe(verdict, path, NULL, reason, size);
        return 0;
    }
    Str_Copy(state->InstallPath, path);
    Log_Print("Install Path   : %s\n", state->InstallPath);
    return 1;
}

// Reads the install record beside this program into U.record; without one, or with a damaged
// one, U.record stays empty and says the same as no record: no "$?" file is removed, no shared
// count lowered.
static void LoadRecord(const char *ownPath) {
    if (!Record_PathFor(ownPath, U.recordPath, sizeof U.recordPath)) return;
    uint8_t *text = NULL;
    int32_t size = 0;
    int read = File_ReadAll(U.recordPath, RECORD_LIMIT, &text, &size);
    if (read == 1 && Record_Parse((const char *)text, size, &U.record))
        Log_Print("Install record : %s, %d entries\n", U.recordPath, (int)U.record.Count);
    else if (read != 0)
        Log_Print("The install record '%s' is damaged: no \"$?\" file is removed, no shared "
                  "count lowered\n",
                  U.recordPath);
    if (text) TESSEL_FREE(text, size + 1);
}

// ---- Files and folders ----

static void NotePending(const char *path) {
    U.pendingCount++;
    int used = Str_Length(U.pending), length = Str_Length(path);
    if (used + length + 2 >= UNINSTALL_PENDING_SIZE) {
        U.pendingCut++;
        return;
    }
    Str_Append(U.pending, path);
    Str_Append(U.pending, "\n");
}

// Deletes a file; one in use is left for the next restart. A missing file is no failure.
static void RemoveFile(const char *path) {
    if (DeleteFileA(path)) {
        Log_Print("Removed '%s'\n", path);
        return;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Log_Print("In use, removed at the next restart: '%s' (%lu)\n", path, error);
        NotePending(path);
    } else {
        Log_Print("Unable to remove '%s' (%lu)\n", path, GetLastError());
    }
}

// 1 when folder (with its trailing backslash) is a macro's own folder, a drive's root or a
// guarded folder: such folders are never removed, empty or not.
static int IsProtectedFolder(const char *folder) {
    if (Str_Length(folder) <= 3) return 1;
    for (char letter = '0'; letter <= '5'; letter++) {
        char dir[UNINSTALL_PATH_SIZE];
        if (Path_MacroDir(letter, dir, sizeof dir) == 1 && Str_EqualNoCase(dir, folder)) return 1;
    }
    for (int i = 0; i < U.guardedCount; i++)
        if (PathGuard_SameFolder(U.guarded[i].Path, folder)) return 1;
    return 0;
}

// 1 when path leads, on the disk, to base itself or below it: its final name, through every link
// and short name, lies in base's. 0 when it leads elsewhere, or either does not exist. (Wine
// deletes what a link leads to, not the link: nothing is deleted that leads outside.)
static int LeadsInside(const char *path, const char *base) {
    char pathDisk[UNINSTALL_PATH_SIZE], baseDisk[UNINSTALL_PATH_SIZE];
    return DiskName(path, pathDisk, sizeof pathDisk) && DiskName(base, baseDisk, sizeof baseDisk) &&
           (PathGuard_SameFolder(pathDisk, baseDisk) || PathGuard_IsInside(pathDisk, baseDisk));
}

// Removes the empty folders from path's folder upwards while they lie below base (a folder
// with its trailing backslash), base itself included when removeBase is set; a folder that
// leads outside base on the disk (a link) stops the walk.
static void RemoveEmptyParents(const char *path, const char *base, int removeBase) {
    char folder[UNINSTALL_PATH_SIZE];
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
        if (IsProtectedFolder(folder)) return;
        if (!LeadsInside(folder, base)) {
            if (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES)
                Log_Print("Not removed, it leads outside its folder: '%s'\n", folder);
            return;
        }
        if (!RemoveDirectoryA(folder)) return; // not empty: it holds what the user made
        Log_Print("Removed folder '%s'\n", folder);
    }
}

// Removes the empty folders above an installation folder that is gone, up to the Program Files
// folder: a setup made "Acme\Rocket" below it, and an empty "Acme" is its leftover. Folders
// elsewhere (a drive's root, a folder the user picked) are left as they are.
static void RemoveEmptyAbove(const char *installPath) {
    char programs[UNINSTALL_PATH_SIZE];
    if (GetFileAttributesA(installPath) != INVALID_FILE_ATTRIBUTES) return;
    if (Path_MacroDir('0', programs, sizeof programs) != 1) return;
    if (PathGuard_IsInside(installPath, programs)) RemoveEmptyParents(installPath, programs, 0);
}

// The folder an item's path starts from: the macro's folder, or the installation folder. 0 for
// "$3" and "$5": the uninstaller's own and current folders are not the setup's.
static int ItemBase(const InstallState *state, const char *item, char *base, int size) {
    char letter = 0;
    for (const char *p = item; p[0] == '$' && p[1]; p += 2)
        if (p[1] >= '0' && p[1] <= '5') letter = p[1];
    if (letter == '3' || letter == '5') return 0;
    if (!letter) return Str_Format(base, size, "%s", state->InstallPath) >= 0;
    return Path_MacroDir(letter, base, size) == 1;
}

// ---- The walks over the script ----

static int CloseWindows(int32_t keyword, const char *arguments, void *context) {
    InstallState *state = (InstallState *)context;
    if (keyword != KW_WINDOW) return 1;
    char mode[8], title[WND_NAME_SIZE], windowClass[WND_NAME_SIZE], relaunch[INSTALL_PATH_SIZE];
    char prompt[WND_NAME_SIZE];
    int32_t cursor = 0, milliseconds = 0;
    Cmd_ReadArg(arguments, mode, &cursor);
    if (!Cmd_ReadNumber(arguments, &milliseconds, &cursor)) milliseconds = 0;
    int ready = Cmd_ReadArg(arguments, title, &cursor);
    ready &= Cmd_ReadArg(arguments, windowClass, &cursor);
    Cmd_ReadArg(arguments, relaunch, &cursor);
    Cmd_ReadArg(arguments, prompt, &cursor);
    if (!ready) return 1; // the setup refused these names too
    int closeMode = mode[0] == '1'   ? WND_CLOSE_TELL
                    : mode[0] == '2' ? WND_CLOSE_ASK
                                     : WND_CLOSE_SILENT;
    if (Wnd_CloseMatching(state, closeMode, milliseconds, title, windowClass, "", prompt)) return 1;
    // A program the user keeps, or one that cannot be told to close: its files would stay in
    // use. Asked and refused, nothing is removed; otherwise its files wait for the restart.
    if (closeMode != WND_CLOSE_SILENT) {
        U.cancelled = 1;
        return 0;
    }
    return 1;
}

static int UnregisterServers(int32_t keyword, const char *arguments, void *context) {
    const InstallState *state = (const InstallState *)context;
    if (keyword != KW_OLE) return 1;
    char verb[16], server[UNINSTALL_PATH_SIZE], expanded[UNINSTALL_PATH_SIZE];
    int32_t cursor = 0;
    uint32_t flags = 0;
    Cmd_ReadArg(arguments, verb, &cursor);
    if (!Str_EqualNoCase(verb, "REGISTER") || !Cmd_ReadArg(arguments, server, &cursor) ||
        !Path_Expand(state, server, expanded, &flags))
        return 1;
    if (GetFileAttributesA(expanded) == INVALID_FILE_ATTRIBUTES) return 1;
    Log_Print("OLE: unregister '%s'\n", expanded);
    Ole_Register(expanded, 0); // a failure is logged
    return 1;
}

// Removes the file of a FILE LIST item at target below base, as the install record and the
// shared count decide (installrecord.h); flags are the item's. A count this installation raised
// is lowered first. Nothing that leads outside base on the disk is removed.
static void RemoveItemFile(const char *target, const char *base, uint32_t flags) {
    int shared = SharedFile_IsShared(target);
    int32_t count = shared ? SharedFile_Count(target) : RECORD_NO_COUNT;
    RecordVerdict verdict =
        Record_Decide(flags & PATH_FLAG_CONFIRM, shared, Record_Find(&U.record, target), count);
    if (verdict.Count != RECORD_KEEP_COUNT && SharedFile_SetCount(target, verdict.Count)) {
        if (verdict.Count == RECORD_DROP_COUNT)
            Log_Print("Shared file '%s': no count left\n", target);
        else
            Log_Print("Shared file '%s': count %d\n", target, (int)verdict.Count);
    }
    if (verdict.Verdict != VERDICT_REMOVE) {
        Log_Print("Not removed, %s: '%s'\n", Record_Reason(verdict.Verdict), target);
        return;
    }
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES) return; // gone already
    if (!LeadsInside(target, base)) {
        Log_Print("Not removed, it leads outside its folder: '%s'\n", target);
        return;
    }
    RemoveFile(target);
}

// Each FILE LIST item, with its target and the folder it starts from; folders says whether
// this walk removes the files or the folders they leave empty. An item whose target does not
// lie below its folder (a drive of its own, a ".." name, "$3" or "$5") is left alone.
static int ForEachItem(const InstallState *state, const char *arguments, int folders) {
    int32_t cursor = 0;
    while (!Keyword_IsTerminator(arguments[cursor])) {
        char item[INSTALL_ITEM_SIZE], target[UNINSTALL_PATH_SIZE], base[UNINSTALL_PATH_SIZE];
        uint32_t flags = 0;
        int32_t before = cursor;
        int read = FileList_NextItem(arguments, &cursor, item, sizeof item);
        if (cursor == before) break;
        if (!read || !item[0] || !Path_Expand(state, item, target, &flags)) continue;
        if (!ItemBase(state, item, base, sizeof base) || !PathGuard_IsInside(target, base)) {
            if (!folders) Log_Print("Not removed, outside its folder: '%s'\n", target);
            continue;
        }
        if (!folders)
            RemoveItemFile(target, base, flags);
        else
            RemoveEmptyParents(target, base, 0);
    }
    return 1;
}

static int RemoveFiles(int32_t keyword, const char *arguments, void *context) {
    if (keyword == KW_FILE_LIST) ForEachItem((const InstallState *)context, arguments, 0);
    return 1;
}

static int RemoveFolders(int32_t keyword, const char *arguments, void *context) {
    if (keyword == KW_FILE_LIST) ForEachItem((const InstallState *)context, arguments, 1);
    return 1;
}

// 1 when path lies below the Start menu's Programs folder, where the shortcuts and groups are.
static int InsidePrograms(const char *path) {
    char programs[SHELL_PATH_SIZE];
    return Shell_ProgramsPath("", programs) && PathGuard_IsInside(path, programs);
}

static int RemoveShortcuts(int32_t keyword, const char *arguments, void *context) {
    (void)context;
    int32_t cursor = 0;
    if (keyword == KW_CREATE_GROUP) {
        if (!Cmd_ReadArg(arguments, U.group, &cursor)) U.group[0] = 0;
        return 1;
    }
    if (keyword != KW_ADD_ITEM) return 1;
    char number[16], target[INSTALL_TEXT_SIZE], parameters[INSTALL_TEXT_SIZE];
    char itemName[INSTALL_TEXT_SIZE], relative[SHELL_PATH_SIZE], link[SHELL_PATH_SIZE];
    Cmd_ReadArg(arguments, number, &cursor);
    Cmd_ReadArg(arguments, target, &cursor);
    Cmd_ReadArg(arguments, parameters, &cursor);
    if (!Cmd_ReadArg(arguments, itemName, &cursor)) return 1;
    int fits = Str_Format(relative, sizeof relative, "%s%s%s.lnk", U.group, U.group[0] ? "\\" : "",
                          itemName) < (int)sizeof relative;
    if (fits && Shell_ProgramsPath(relative, link)) {
        if (InsidePrograms(link))
            RemoveFile(link);
        else
            Log_Print("Not removed, outside the Programs folder: '%s'\n", link);
    }
    return 1;
}

// Each group's folders, deepest first, each only when empty; never the Programs folder.
static int RemoveGroups(int32_t keyword, const char *arguments, void *context) {
    (void)context;
    if (keyword != KW_CREATE_GROUP) return 1;
    char group[SHELL_GROUP_SIZE], folder[SHELL_PATH_SIZE];
    int32_t cursor = 0;
    if (!Cmd_ReadArg(arguments, group, &cursor) || !group[0]) return 1;
    for (int length = Str_Length(group); length > 0;) {
        group[length] = 0;
        if (!Shell_ProgramsPath(group, folder) || !InsidePrograms(folder)) return 1;
        if (!RemoveDirectoryA(folder)) return 1;
        Log_Print("Removed folder '%s'\n", folder);
        while (length > 0 && group[length - 1] != '\\') length--;
        if (length > 0) length--; // the backslash before the last part
    }
    return 1;
}

// ---- Registry ----

static int IsEmptyKey(const char *path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD subkeys = 1, values = 1;
    LONG queried = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL,
                                    NULL, NULL, NULL);
    RegCloseKey(key);
    return queried == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

static void RemoveEntries(const InstallState *state) {
    char keyName[UNINSTALL_PATH_SIZE];
    int length = Str_Format(keyName, sizeof keyName, "%s%s %s", UNINSTREG_KEY_PREFIX,
                            state->CompanyName, state->ProductName);
    if (length < (int)sizeof keyName && RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName) == ERROR_SUCCESS)
        Log_Print("Removed key 'HKLM\\%s'\n", keyName);
    if (!state->RegistryPath[0]) return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, state->RegistryPath, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "Install Path");
    RegCloseKey(key);
    // The key, and the parents the installation made with it, each only when nothing is left
    // in it; never a key at the top ("Software").
    char path[INSTALL_TEXT_SIZE];
    Str_Copy(path, state->RegistryPath);
    for (;;) {
        char *cut = NULL;
        for (char *p = path; *p; p++)
            if (*p == '\\') cut = p;
        if (!cut || !IsEmptyKey(path) || RegDeleteKeyA(HKEY_CURRENT_USER, path) != ERROR_SUCCESS)
            return;
        Log_Print("Removed key 'HKCU\\%s'\n", path);
        *cut = 0;
    }
}

// ---- Removing its own file ----

// A new folder for the clean-up copy in the temporary folder, into folder (size bytes, no
// trailing backslash): "tsu-" and 32 hex digits from the system's random source, so that nobody
// can guess it to make or fill it beforehand; made afresh (never one that exists), for the
// system, the administrators and its owner only (an elevated uninstaller's owner is the
// administrators' group: the user's unelevated programs cannot write there) where the system
// knows those rights. Returns 1, or 0 with one log line.
static int MakeCopyFolder(char *folder, int size) {
    static const char HEX[] = "0123456789abcdef";
    char temp[UNINSTALL_PATH_SIZE], name[2 * COPY_RANDOM_BYTES + 1];
    uint8_t random[COPY_RANDOM_BYTES];
    if (!Path_TempDir(temp, sizeof temp) || !SystemFunction036(random, sizeof random)) {
        Log_Print("No folder for the clean-up copy (%lu)\n", GetLastError());
        return 0;
    }
    for (int i = 0; i < COPY_RANDOM_BYTES; i++) {
        name[2 * i] = HEX[random[i] >> 4];
        name[2 * i + 1] = HEX[random[i] & 15];
    }
    name[2 * COPY_RANDOM_BYTES] = 0;
    if (Str_Format(folder, size, "%stsu-%s", temp, name) < 0) return 0;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)", SDDL_REVISION_1,
            &attributes.lpSecurityDescriptor, NULL))
        attributes.lpSecurityDescriptor = NULL; // the temporary folder's rights, then
    BOOL made = CreateDirectoryA(folder, &attributes);
    DWORD error = GetLastError();
    if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
    if (!made) Log_Print("Unable to make the folder '%s' (%lu)\n", folder, error);
    return made;
}

// 1 when folder holds the copy's file and nothing else.
static int HoldsOnlyTheCopy(const char *folder) {
    char pattern[UNINSTALL_PATH_SIZE];
    if (Str_Format(pattern, sizeof pattern, "%s\\*", folder) < 0) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int copies = 0, others = 0;
    do {
        const char *name = found.cFileName;
        if (Str_EqualNoCase(name, ".") || Str_EqualNoCase(name, "..")) continue;
        if (Str_EqualNoCase(name, COPY_NAME))
            copies++;
        else
            others++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return copies == 1 && others == 0;
}

// Copies this program into a new folder of its own (MakeCopyFolder) and starts it there, in
// the system folder as its current folder, to delete ownPath once this process has ended, and
// the folders that leaves empty up to the installation folder. Returns 1 when the copy runs.
static int StartCleanup(const char *ownPath, const char *installPath) {
    char folder[UNINSTALL_PATH_SIZE], copy[UNINSTALL_PATH_SIZE], system[UNINSTALL_PATH_SIZE];
    if (!MakeCopyFolder(folder, sizeof folder)) return 0;
    if (Str_Format(copy, sizeof copy, "%s\\%s", folder, COPY_NAME) < 0 ||
        !Path_SystemDir(system, sizeof system) || !CopyFileA(ownPath, copy, TRUE) ||
        !HoldsOnlyTheCopy(folder)) {
        Log_Print("The clean-up copy was not started from '%s'\n", folder);
        DeleteFileA(copy);
        RemoveDirectoryA(folder);
        return 0;
    }
    HANDLE self = NULL;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE, TRUE, 0);
    char command[3 * UNINSTALL_PATH_SIZE + 64];
    Str_Format(command, sizeof command, "\"%s\" -Cleanup %lu \"%s\" \"%s\"", copy,
               (unsigned long)(uintptr_t)self, ownPath, installPath);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    BOOL started =
        CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, system, &startup, &process);
    if (self) CloseHandle(self);
    if (!started) {
        Log_Print("Unable to start the clean-up copy (%lu)\n", GetLastError());
        return 0;
    }
    Log_Print("Clean-up copy  : %s\n", copy);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

// The copy's own file and folder, at its end: a running program cannot be deleted, but it can
// be renamed. The file moves beside its folder ("tsu-....tmp" in the temporary folder) to wait
// there for the next restart, and the folder, empty then, goes at once; where the move fails,
// both wait for the restart.
static void LeaveCopyFolder(void) {
    char self[UNINSTALL_PATH_SIZE], folder[UNINSTALL_PATH_SIZE], parked[UNINSTALL_PATH_SIZE];
    Sys_ExecutablePath(self, sizeof self);
    Str_Copy(folder, self);
    char *cut = NULL;
    for (char *q = folder; *q; q++)
        if (*q == '\\') cut = q;
    if (!cut) return;
    *cut = 0;
    if (Str_Format(parked, sizeof parked, "%s.tmp", folder) >= 0 && MoveFileExA(self, parked, 0)) {
        MoveFileExA(parked, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (RemoveDirectoryA(folder)) return;
    } else {
        MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// 1 when this program is a clean-up copy and file the installed uninstaller it was copied
// from: a copy's path, and both files the same bytes with a script behind them.
static int IsOwnOriginal(const char *file) {
    char self[UNINSTALL_PATH_SIZE], temp[UNINSTALL_PATH_SIZE];
    Sys_ExecutablePath(self, sizeof self);
    if (!Path_TempDir(temp, sizeof temp) || !UninstScript_IsCleanupCopy(self, temp)) {
        Log_Print("Clean-up refused: '%s' is no clean-up copy\n", self);
        return 0;
    }
    uint8_t *own = NULL, *original = NULL;
    int32_t ownSize = 0, originalSize = 0;
    int same = File_ReadAll(self, UNINSTALL_FILE_LIMIT, &own, &ownSize) == 1 &&
               File_ReadAll(file, UNINSTALL_FILE_LIMIT, &original, &originalSize) == 1 &&
               ownSize == originalSize;
    for (int32_t i = 0; same && i < ownSize; i++) same = own[i] == original[i];
    char *script = NULL;
    int32_t scriptSize = 0;
    if (same && UninstScript_Extract(own, ownSize, &script, &scriptSize))
        UninstScript_Free(&script, scriptSize);
    else
        same = 0;
    if (own) TESSEL_FREE(own, ownSize + 1);
    if (original) TESSEL_FREE(original, originalSize + 1);
    if (!same) Log_Print("Clean-up refused: '%s' is not the uninstaller of this copy\n", file);
    return same;
}

// The copy's work: "-Cleanup HANDLE "FILE" "INSTALLPATH"", refused (exit code 3, nothing
// touched) unless this program is the clean-up copy of FILE. The installation folder passes
// the guard rails again before a folder is removed.
static int Cleanup(const char *arguments) {
    uint32_t handle = 0;
    char file[UNINSTALL_PATH_SIZE], installPath[UNINSTALL_PATH_SIZE];
    if (!UninstScript_CleanupArguments(arguments, &handle, file, installPath,
                                       UNINSTALL_PATH_SIZE)) {
        Log_Print("Clean-up refused: no file and folder to clean up\n");
        return UNINSTALL_EXIT_DAMAGED;
    }
    HANDLE original = (HANDLE)(uintptr_t)handle;
    if (!IsOwnOriginal(file)) return UNINSTALL_EXIT_DAMAGED;
    if (original) {
        WaitForSingleObject(original, 30000);
        CloseHandle(original);
    }
    for (int attempt = 0; attempt < 50 && !DeleteFileA(file); attempt++) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) break;
        Sleep(100);
    }
    if (GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES)
        MoveFileExA(file, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    LookUpGuardedFolders();
    char reason[UNINSTALL_REASON_SIZE];
    if (CheckInstallFolder(installPath, reason, sizeof reason) == GUARD_ACCEPTED) {
        RemoveEmptyParents(file, installPath, 1);
        RemoveEmptyAbove(installPath);
    }
    LeaveCopyFolder();
    return UNINSTALL_EXIT_DONE;
}

// ---- The run ----

static int Damaged(void) {
    Ui_Problem(DAMAGED, U.title);
    return UNINSTALL_EXIT_DAMAGED;
}

// The guard rails stopped the run before anything was removed: one log line (in quiet mode the
// box's own) and the box.
static int Refused(const InstallState *state, const char *reason) {
    char message[UNINSTALL_REASON_SIZE + INSTALL_TEXT_SIZE + 64];
    Str_Format(message, sizeof message, "%s was not removed: %s. Nothing was removed.",
               state->ProductName, reason);
    if (!Core_Quiet()) Log_Print("%s\n", message);
    Ui_Problem(message, U.title);
    return UNINSTALL_EXIT_DAMAGED;
}

static int Finish(int exitCode) {
    Progress_Destroy();
    Sys_ExitCom();
    Mem_Shutdown();
    Log_Shutdown();
    Log_Print("Uninstall exit code %d\n", exitCode);
    return exitCode;
}

static void ShowClosingBox(const InstallState *state) {
    char message[UNINSTALL_PENDING_SIZE + 256];
    if (!U.pendingCount) {
        Str_Format(message, sizeof message, "%s was removed from your computer.",
                   state->ProductName);
    } else {
        Str_Format(message, sizeof message,
                   "%s was removed from your computer, except for these files, which are in use "
                   "and will be removed when Windows restarts:\n\n%s%s",
                   state->ProductName, U.pending, U.pendingCut ? "...\n" : "");
    }
    Ui_Problem(message, U.title);
}

static int Uninstall(const char *ownPath) {
    InstallState *state = &U.state;
    uint8_t *file = NULL;
    int32_t size = 0;
    if (File_ReadAll(ownPath, UNINSTALL_FILE_LIMIT, &file, &size) != 1) {
        Log_Print("Unable to read '%s'\n", ownPath);
        return Damaged();
    }
    char *script = NULL;
    int32_t scriptSize = 0;
    int found = UninstScript_Extract(file, size, &script, &scriptSize);
    TESSEL_FREE(file, size + 1);
    if (!found) return Damaged();
    int result = UNINSTALL_EXIT_DONE;
    if (!UninstScript_Settings(script, scriptSize, state)) {
        result = Damaged();
    } else {
        Str_Format(U.title, sizeof U.title, "%s Uninstall", state->ProductName);
        LookUpGuardedFolders();
        char reason[UNINSTALL_REASON_SIZE];
        if (!FindInstallPath(state, ownPath, reason, sizeof reason))
            result = Refused(state, reason);
        else
            LoadRecord(ownPath);
    }
    if (result == UNINSTALL_EXIT_DONE) {
        char question[INSTALL_TEXT_SIZE + 64];
        Str_Format(question, sizeof question, "Do you want to remove %s and all of its components?",
                   state->ProductName);
        if (!Core_Quiet() && !Ui_Confirm(question, U.title)) {
            Log_Print("Uninstall declined\n");
            result = UNINSTALL_EXIT_STOPPED;
        }
    }
    if (result == UNINSTALL_EXIT_DONE) {
        if (!Core_Quiet()) { // a quiet run has no window, nor one to fail to make
            Progress_Create(GetModuleHandleA(NULL), NULL);
            Progress_Show(1);
        }
        UninstScript_Walk(script, scriptSize, CloseWindows, state);
        if (U.cancelled) {
            Log_Print("Uninstall stopped: the program is still running\n");
            result = UNINSTALL_EXIT_STOPPED;
        }
    }
    if (result == UNINSTALL_EXIT_DONE) {
        const UninstVisit steps[] = {UnregisterServers, RemoveFiles, RemoveShortcuts, RemoveGroups,
                                     RemoveFolders};
        for (int i = 0; i < (int)(sizeof steps / sizeof steps[0]); i++) {
            UninstScript_Walk(script, scriptSize, steps[i], state);
            Progress_Set(100.0 * (i + 1) / (sizeof steps / sizeof steps[0] + 1));
        }
        if (U.recordPath[0]) RemoveFile(U.recordPath);
        // Empty now unless it holds the uninstaller (the clean-up copy removes it then) or a
        // file the user made.
        if (!IsProtectedFolder(state->InstallPath) && RemoveDirectoryA(state->InstallPath))
            Log_Print("Removed folder '%s'\n", state->InstallPath);
        RemoveEmptyAbove(state->InstallPath);
        RemoveEntries(state);
        Progress_Set(100.0);
        if (!StartCleanup(ownPath, state->InstallPath)) NotePending(ownPath);
        Progress_Show(0);
        ShowClosingBox(state);
    }
    UninstScript_Free(&script, scriptSize);
    Record_Free(&U.record);
    return result;
}

int Uninstall_Main(const char *arguments) {
    // Before anything can load a DLL: the uninstaller runs elevated, and its copy from the
    // temporary folder.
    int dllSearchRestricted = Sys_RestrictDllSearch();
    const char *found = NULL;
    int quiet = Str_FindNoCase(Sys_CommandLine(), "-Quiet", &found);
    Core_SetQuiet(quiet);
    uint32_t flags = 0;
    int cleanup = Str_FindNoCase(arguments, "-Cleanup ", &found) && found == arguments;
    Log_ParseOptions(&flags, arguments); // the clean-up copy is started without log switches
    char logPath[LOG_PATH_SIZE];
    if (!Path_TempDir(logPath, sizeof logPath - 16)) logPath[0] = 0;
    Str_Append(logPath, "uninstall.log");
    Log_Init(logPath, flags);
    Mem_Init(MEM_NO_LIMIT, 0);
    Sys_InitControls();
    Sys_InitCom();
    if (cleanup) return Cleanup(arguments);
    Str_Copy(U.title, "Uninstall");
    char ownPath[UNINSTALL_PATH_SIZE];
    Sys_ExecutablePath(ownPath, sizeof ownPath);
    Log_Print("Uninstall '%s' %s\n", ownPath, quiet ? "(quiet)" : "");
    Log_Print("DLL search     : %s\n",
              dllSearchRestricted ? "the system folder only" : "without the current folder");
    return Finish(Uninstall(ownPath));
}

int Entry_Main(const char *arguments) { return Uninstall_Main(arguments); }
