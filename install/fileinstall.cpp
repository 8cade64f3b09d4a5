// File installation (win32 tree): INSTALL's copying of every listed archive entry to its place
// in pieces as it is decoded, with the progress window, the uninstaller with the script behind
// it, and the writing of files and creation of directories that other commands share.
#include "fileinstall.h"

#include <windows.h>

#include <errno.h>
#include <string.h>

#include "dialogs.h"
#include "ffs.h"
#include "filelist.h"
#include "installdir.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "ui.h"
#include "uninst.h"

// ---- File installation ----

static const char OVERWRITE_TITLE[] = "Overwrite confirmation...";

enum {
    // Room for the longest archive name or target path with the words around it: the user is
    // told which file, never part of its name.
    INSTALL_QUESTION_SIZE = INSTALL_ITEM_SIZE + 40,
    INSTALL_PROBLEM_SIZE = INSTALL_TARGET_SIZE + 40,
};

int Dir_CreatePath(char *path) {
    CORE_GUARD(path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return 1;
    }
    // The parent first, so that the levels are made from the outermost missing one inwards; a
    // trailing backslash makes the path itself the first "parent".
    char *last = strrchr(path, '\\');
    if (last && last > path) {
        *last = 0;
        Dir_CreatePath(path);
        *last = '\\';
    }
    CreateDirectoryA(path, NULL); // an existing or impossible directory shows at the open
    return 1;
}

// Creates every missing level of the directory part of path: up to and with its last separator
// ("" without one). 0 when path does not fit the work copy.
static int CreateParents(const char *path) {
    char directory[INSTALL_TARGET_SIZE];
    // Refused, never cut: a cut path would create other directories.
    if (Str_Length(path) >= (int)sizeof directory) return 0;
    Str_Copy(directory, path);
    int cut = 0;
    for (int i = Str_Length(directory) - 1; i > 0; i--) {
        if (directory[i] == '\\' || directory[i] == '/') {
            cut = i + 1;
            break;
        }
    }
    directory[cut] = 0;
    return Dir_CreatePath(directory);
}

// The file at path opened for writing, created or emptied; the missing directories along the
// path are made when the first open fails. Null with the log line "Unable to create file".
static SysFile *OpenTarget(const char *path) {
    SysFile *file = Sys_FileOpen(path, "wb");
    if (!file && CreateParents(path)) file = Sys_FileOpen(path, "wb");
    if (!file) Log_Print("Unable to create file '%s'\n", path);
    return file;
}

// Closes the file, which written says was written completely. Returns 1, or 0 with the log line
// "Unable to write to file" when it was not or the close failed; the file is then removed.
static int CloseTarget(SysFile *file, const char *path, int written) {
    // A failed close is a failed write: the system may tell of a write's trouble only then.
    int closed = Sys_FileClose(file);
    if (written && closed) return 1;
    Log_Print("Unable to write to file '%s'\n", path);
    DeleteFileA(path); // a cut file must not pass for an installed one
    return 0;
}

int File_WriteAll(const char *path, const void *data, int32_t count) {
    CORE_GUARD(path);
    CORE_GUARD(data);
    SysFile *file = OpenTarget(path);
    if (!file) return 0;
    return CloseTarget(file, path, Sys_FileWrite(file, data, count)); // 0 for a negative count
}

// What became of an entry written to its file.
enum {
    ENTRY_WRITTEN = 1,
    ENTRY_UNWRITTEN = 0, // the file could not be created or written
    ENTRY_UNREAD = -1,   // the entry could not be read or decoded
};

typedef struct EntryFile {
    const char *path;
    SysFile *file; // opened at the first piece (for an empty entry, at its end)
    int failed;    // the file could not be created or written
} EntryFile;

// Opens the file when it is not open yet. 1, or 0 when it cannot be created (logged).
static int OpenEntryFile(EntryFile *target) {
    if (!target->file) target->file = OpenTarget(target->path);
    target->failed = target->file == NULL;
    return !target->failed;
}

static int WritePiece(void *context, const uint8_t *data, int32_t n) {
    EntryFile *target = (EntryFile *)context;
    if (!OpenEntryFile(target)) return 0;
    target->failed = !Sys_FileWrite(target->file, data, n);
    return !target->failed;
}

// The archive entry name written to path as it is read and decoded, a piece at a time, so that
// no file is ever held whole. The file is opened at the first piece: an entry that cannot be
// read at all leaves the place as it was. Each failure is logged and leaves no file at path.
static int WriteEntry(const char *name, const char *path) {
    EntryFile target = {path, NULL, 0};
    int streamed = Ffs_Stream(name, WritePiece, &target); // logs a failed read
    if (streamed && !OpenEntryFile(&target)) return ENTRY_UNWRITTEN;
    if (!target.file) return target.failed ? ENTRY_UNWRITTEN : ENTRY_UNREAD;
    if (streamed || target.failed)
        return CloseTarget(target.file, path, streamed) ? ENTRY_WRITTEN : ENTRY_UNWRITTEN;
    Sys_FileClose(target.file);
    DeleteFileA(path); // the start of an entry is no installed file either
    return ENTRY_UNREAD;
}

// ---- Decoding ahead ----

// While INSTALL decodes one entry into its file, a second thread decodes the next entry of a
// middling size into memory, so that two cores share the work. Everything a user or the log
// sees stays on the installing thread, in the list's order: the thread only decodes bytes read
// for it beforehand into memory taken for it beforehand. An entry it fails to decode is then
// read the ordinary way, whose log lines say what is wrong.
enum {
    AHEAD_MINIMUM = 64 * 1024,     // smaller files are done before a thread would start
    AHEAD_LIMIT = 4 * 1024 * 1024, // the stored bytes and the file, each: 8 MB at most
    AHEAD_STACK_SIZE = 256 * 1024, // the codec's working state lies on the thread's stack
    AHEAD_REACH = 8,               // items looked at for the next one worth a thread
};

typedef struct Ahead {
    int32_t index; // the list item being decoded, -1 for none
    FfsStored stored;
    uint8_t *output; // stored.Size bytes
    HANDLE thread;
    int decoded; // the thread's result, read once it has ended
} Ahead;

static DWORD WINAPI DecodeAhead(void *context) {
    Ahead *ahead = (Ahead *)context;
    ahead->decoded = Ffs_DecodeStored(&ahead->stored, ahead->output);
    return 0;
}

// Waits for the thread and releases everything; the record is free again.
static void DropAhead(Ahead *ahead) {
    if (ahead->thread) {
        WaitForSingleObject(ahead->thread, INFINITE);
        CloseHandle(ahead->thread);
        ahead->thread = NULL;
    }
    if (ahead->output) TESSEL_FREE(ahead->output, ahead->stored.Size);
    Ffs_FreeStored(&ahead->stored);
    ahead->index = -1;
}

// Starts decoding the first item worth a thread among the AHEAD_REACH items of the list from
// cursor on, the list's item number index onwards; none when there is none.
static void StartAhead(Ahead *ahead, const InstallState *state, int32_t cursor, int32_t index) {
    char item[INSTALL_ITEM_SIZE];
    for (int32_t reach = 0;; reach++, index++) {
        if (reach == AHEAD_REACH || index >= state->FileCount ||
            !FileList_NextItem(state->FileList, &cursor, item, sizeof item))
            return;
        if (Ffs_ReadStored(FileList_ArchiveName(item), AHEAD_MINIMUM, AHEAD_LIMIT, &ahead->stored))
            break;
    }
    ahead->output = (uint8_t *)TESSEL_ALLOC(ahead->stored.Size);
    ahead->decoded = 0;
    ahead->thread = CreateThread(NULL, AHEAD_STACK_SIZE, DecodeAhead, ahead,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (!ahead->thread) {
        DropAhead(ahead);
        return;
    }
    ahead->index = index;
}

// The list's item number index written to path: from memory when the thread decoded it, the
// ordinary way otherwise.
static int WriteItem(Ahead *ahead, int32_t index, const char *name, const char *path) {
    if (ahead->index != index) return WriteEntry(name, path);
    WaitForSingleObject(ahead->thread, INFINITE);
    if (!ahead->decoded) {
        DropAhead(ahead);
        return WriteEntry(name, path);
    }
    int written = File_WriteAll(path, ahead->output, ahead->stored.Size);
    DropAhead(ahead);
    return written ? ENTRY_WRITTEN : ENTRY_UNWRITTEN;
}

// Writes InstallPath as "Install Path" under HKEY_CURRENT_USER\RegistryPath.
static void RememberInstallPath(const InstallState *state) {
    if (!state->RegistryPath[0]) return;
    SysKey key;
    Reg_OpenOrCreateKey(&key, REG_ROOT_USER, state->RegistryPath);
    Reg_SetString(key, "Install Path", state->InstallPath); // a refusal is logged
    Reg_CloseKey(&key);
}

// The bar at kb of InstallSizeKB; left alone without a positive size.
static void ShowInstalled(const InstallState *state, int32_t kb) {
    if (state->InstallSizeKB > 0) Progress_Set((double)kb / state->InstallSizeKB * 100.0);
}

// Hides the progress window and shows which file could not be written (in quiet mode too).
static void ReportUnwritten(const char *target) {
    Progress_Show(0);
    char problem[INSTALL_PROBLEM_SIZE];
    Str_Format(problem, sizeof problem, "Unable to create file '%s'", target);
    Ui_Problem(problem, NULL);
}

// 1 when the existing target of a "$?" item stays: in quiet mode (never asked there), or when
// the user says No.
static int KeepExisting(const InstallState *state, const char *name, const char *target,
                        uint32_t flags) {
    if (!(flags & PATH_FLAG_CONFIRM)) return 0;
    // Only a file known to be missing is written without the question: one that cannot be
    // opened for another reason may well be there.
    SysFile *existing = Sys_FileOpen(target, "rb");
    if (!existing && errno == ENOENT) return 0;
    if (existing) Sys_FileClose(existing); // only opened to be seen
    if (state->Mode == Quiet) return 1;
    char question[INSTALL_QUESTION_SIZE];
    Str_Format(question, sizeof question, "File '%s' already exists - overwrite?", name);
    return !Ui_Confirm(question, OVERWRITE_TITLE);
}

// Writes one list item to its place; *kb grows by its size in whole KB, also when it is
// skipped. 0 at a failure, logged (and shown when the file cannot be written).
static int InstallItem(const InstallState *state, const char *item, int32_t index, Ahead *ahead,
                       int32_t *kb) {
    const char *name = FileList_ArchiveName(item);
    int32_t size = 0; // an empty entry becomes an empty file
    if (!Ffs_GetSize(name, &size)) {
        Log_Print("Unable to get size for '%s'\n", name);
        return 0;
    }
    if (size < 0) { // a damaged entry's size: no file is made for it
        Log_Print("Unable to load '%s'\n", name);
        return 0;
    }
    ShowInstalled(state, *kb + (size >> 11)); // half of this file
    char target[INSTALL_TARGET_SIZE];
    uint32_t flags = 0;
    if (!Path_Expand(state, item, target, &flags)) return 0; // refused when too long: logged
    Log_Print("%s to %s [0x%.8X]\n", name, target, (unsigned)flags);
    if (!KeepExisting(state, name, target, flags)) {
        int written = WriteItem(ahead, index, name, target);
        if (written == ENTRY_UNWRITTEN) ReportUnwritten(target);
        if (written != ENTRY_WRITTEN) return 0;
    }
    *kb += size >> 10;
    return 1;
}

// The entry "uninst.exe" with the scrambled script behind it, written to UninstallName; no
// question about an existing file. 0 at a failure, as for a list item.
static int WriteUninstaller(const InstallState *state) {
    FfsBlock file; // the entry, and room for the marker, the script and the trailer
    if (Ffs_LoadBlock(UNINST_ENTRY, INT32_MAX, state->ScriptSize + UNINST_EXTRA_SIZE, 1, &file) !=
        FFS_LOAD_DONE)
        return 0;
    char target[INSTALL_TARGET_SIZE];
    uint32_t flags = 0;
    int result = Path_Expand(state, state->UninstallName, target, &flags);
    if (result) {
        Uninst_AppendScript(file.Data, file.Size, state->ScriptText, state->ScriptSize);
        result = File_WriteAll(target, file.Data, file.Allocated);
        if (!result) ReportUnwritten(target);
    }
    Ffs_FreeBlock(&file);
    return result;
}

int Install_Files(InstallState *state) {
    CORE_GUARD(state);
    Progress_Show(1);
    RememberInstallPath(state);
    int32_t kb = 0; // whole KB processed, written or skipped
    int32_t cursor = 0;
    Ahead ahead = {-1, {NULL, 0, 0, NULL}, NULL, NULL, 0};
    int result = 1;
    for (int32_t i = 0; result && i < state->FileCount; i++) {
        ShowInstalled(state, kb);
        char item[INSTALL_ITEM_SIZE];
        if (!FileList_NextItem(state->FileList, &cursor, item, sizeof item)) {
            result = 0;
            break;
        }
        // While the thread is free, it takes the next item worth it after this one, which is
        // decoded here (or was decoded ahead, and is only written).
        if (ahead.index < 0) StartAhead(&ahead, state, cursor, i + 1);
        result = InstallItem(state, item, i, &ahead, &kb);
        if (ahead.index == i) DropAhead(&ahead); // the item was kept as it was
    }
    DropAhead(&ahead);
    if (!result) return 0;
    if (state->UninstallName[0] && !WriteUninstaller(state)) return 0;
    Progress_Show(0);
    return 1;
}
