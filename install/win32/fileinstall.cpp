// File installation (win32 tree): INSTALL's copying of every listed archive entry to its place
// in pieces as it is decoded, with the progress window, the uninstaller with the script behind
// it, and the writing of files and creation of directories that other commands share.
#include "fileinstall.h"

#include <windows.h>

#include <errno.h>
#include <string.h>

#include "dialogs.h"
#include "earlier.h"
#include "ffs.h"
#include "filelist.h"
#include "installdir.h"
#include "installrecord.h"
#include "sharedfiles.h"
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

// ---- The install record ----

static void ReportUnwritten(const char *target);

// What INSTALL keeps for the uninstaller: the record of an earlier installation of the product
// into the same place (its entries stand unless this run decides them anew), and this run's.
typedef struct RecordKeeper {
    int active; // an uninstaller is written, and its record's place is known
    char path[INSTALL_TARGET_SIZE + 4];
    int existed; // a record was there before
    InstallRecord record;
} RecordKeeper;

// Starts the record beside the uninstaller that INSTALL will write, from the one there.
static void OpenRecord(const InstallState *state, RecordKeeper *keeper) {
    char uninstaller[INSTALL_TARGET_SIZE];
    uint32_t flags = 0;
    if (!state->UninstallName[0] ||
        !Path_Expand(state, state->UninstallName, uninstaller, &flags) ||
        !Record_PathFor(uninstaller, keeper->path, sizeof keeper->path))
        return;
    keeper->active = 1;
    uint8_t *text = NULL;
    int32_t size = 0;
    int read = File_ReadAll(keeper->path, RECORD_LIMIT, &text, &size);
    keeper->existed = read != 0;
    if (read == 1 && !Record_Parse((const char *)text, size, &keeper->record))
        Log_Print("The install record '%s' is damaged: it is made anew\n", keeper->path);
    if (text) TESSEL_FREE(text, size + 1);
}

// Notes what became of a "$?" file or a shared file at target: kept says it was there and
// stays as it was; existed that it was there before. A shared file's count is raised, once for
// the installation: not again when the earlier record says it was.
static void NoteItem(RecordKeeper *keeper, const char *target, int kept, int existed) {
    int earlier = Record_Find(&keeper->record, target);
    int flags = kept ? 0 : RECORD_WRITTEN;
    if (earlier != RECORD_UNKNOWN) flags |= earlier; // written once, the file stays the setup's
    if (SharedFile_IsShared(target) && !(flags & RECORD_SHARED)) {
        int32_t count = SharedFile_Count(target);
        // A file that was there without a count was used by one installation already; a count
        // without its file is left over from one that is gone.
        if (!existed)
            count = 0;
        else if (count <= 0)
            count = 1;
        if (SharedFile_SetCount(target, count + 1)) {
            flags |= RECORD_SHARED;
            Log_Print("Shared file '%s': count %d\n", target, (int)(count + 1));
        }
    }
    if (!Record_Set(&keeper->record, target, flags))
        Log_Print("Not in the install record: '%s'\n", target);
}

// Writes the record when it holds an entry or replaces an earlier one, and releases it. Returns
// 1, or 0 when it cannot be written (as for a file of the product).
static int CloseRecord(RecordKeeper *keeper) {
    int result = 1;
    if (keeper->active && (keeper->record.Count > 0 || keeper->existed)) {
        int32_t size = 0;
        char *text = Record_Format(&keeper->record, &size);
        result = File_WriteAll(keeper->path, text, size);
        if (!result) ReportUnwritten(keeper->path);
        TESSEL_FREE(text, size);
    }
    Record_Free(&keeper->record);
    return result;
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
    if (!target->file) target->file = File_OpenTarget(target->path);
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
        return File_CloseTarget(target.file, path, streamed) ? ENTRY_WRITTEN : ENTRY_UNWRITTEN;
    Sys_FileClose(target.file);
    DeleteFileA(path); // the start of an entry is no installed file either
    return ENTRY_UNREAD;
}

// ---- Decoding ahead ----

// While INSTALL decodes one entry into its file, more threads (one a processor) decode the next
// entries of a middling size into memory, so that every core shares the work while the
// installing thread writes what they decoded. A solid group is decoded whole by one thread, and its
// files, which follow one another in the list, are written from that memory. Everything a user or
// the log sees stays on the installing thread, in the list's order: a thread only decodes bytes
// read for it beforehand into memory taken for it beforehand. An entry a thread fails to decode is
// then read the ordinary way, whose log lines say what is wrong.
// The benchmarks build a stub with fewer threads at most (-DAHEAD_THREADS_OVERRIDE=1) to measure
// what the threads bring; setups are built with four at most.
#ifndef AHEAD_THREADS_OVERRIDE
#define AHEAD_THREADS_OVERRIDE 4
#endif
enum {
    AHEAD_MINIMUM = 64 * 1024,     // smaller files are done before a thread would start
    AHEAD_LIMIT = 4 * 1024 * 1024, // the stored bytes and the file (or group), each
    // The memory of all threads together: with the installing thread's window (at most the
    // builder's largest dictionary, 4 MiB) 16 MiB at most, room for two groups of 4 MiB.
    AHEAD_ROOM = 12 * 1024 * 1024,
    AHEAD_THREADS = AHEAD_THREADS_OVERRIDE, // the most: one a processor, from one to this
    AHEAD_STACK_SIZE = 256 * 1024,          // the codec's working state lies on the thread's stack
    AHEAD_REACH = 8,                        // items looked at for the next one worth a thread
};

typedef struct Ahead {
    int32_t index; // the list item being decoded, -1 for none
    int32_t last;  // the last item of the list whose file lies in the same decoded bytes
    FfsStored stored;
    uint8_t *memory;  // the stored bytes, then the file's; kept for the next item
    int32_t capacity; // its size, grown as an item needs
    HANDLE thread;
    int decoded; // the thread's result, read once it has ended
} Ahead;

typedef struct Decoders {
    Ahead ahead[AHEAD_THREADS];
    int threads;    // the records in use: one a processor, at most AHEAD_THREADS
    int32_t next;   // the list item from which the search for more goes on
    int32_t cursor; // the list's cursor at that item
} Decoders;

static DWORD WINAPI DecodeAhead(void *context) {
    Ahead *ahead = (Ahead *)context;
    ahead->decoded = Ffs_DecodeStored(&ahead->stored, ahead->memory + ahead->stored.Length);
    return 0;
}

// Waits for the thread; the record is free for another item, its memory kept.
static void DropAhead(Ahead *ahead) {
    if (ahead->thread) {
        WaitForSingleObject(ahead->thread, INFINITE);
        CloseHandle(ahead->thread);
        ahead->thread = NULL;
    }
    ahead->index = -1;
}

// The record decoding the bytes of the list's item number index, or null.
static Ahead *FindAhead(Decoders *decoders, int32_t index) {
    for (Ahead &ahead : decoders->ahead)
        if (ahead.index >= 0 && ahead.index <= index && index <= ahead.last) return &ahead;
    return NULL;
}

// The items behind the one at *index (whose end is at *cursor) whose files lie in the same
// decoded bytes as its own: *index and *cursor move to the last of them.
static void TakeGroup(const InstallState *state, const FfsStored *stored, int32_t *index,
                      int32_t *cursor) {
    char item[INSTALL_ITEM_SIZE];
    FfsStored next;
    for (int32_t at = *cursor; *index + 1 < state->FileCount; *cursor = at, ++*index) {
        if (!FileList_NextItem(state->FileList, &at, item, sizeof item) ||
            !Ffs_LocateStored(FileList_ArchiveName(item), stored->Size, stored->Size, &next) ||
            next.Source != stored->Source)
            return;
    }
}

// 1 when the record's memory holds the stored bytes and the file of *stored, grown when the
// records' memory stays within AHEAD_ROOM. It grows to twice its size up to its share of the
// room where that is enough, so that a row of growing items does not take fresh memory for each
// (each fresh page costs a fault).
static int MakeRoom(Decoders *decoders, Ahead *ahead, const FfsStored *stored) {
    int32_t need = stored->Length + stored->Size, room = AHEAD_ROOM;
    if (need <= ahead->capacity) return 1;
    for (const Ahead &other : decoders->ahead)
        if (&other != ahead) room -= other.capacity;
    if (need > room) return 0;
    int32_t grown = ahead->capacity * 2;
    if (grown > AHEAD_ROOM / decoders->threads) grown = AHEAD_ROOM / decoders->threads;
    if (grown < need) grown = need;
    if (ahead->memory) TESSEL_FREE(ahead->memory, ahead->capacity);
    ahead->memory = (uint8_t *)TESSEL_ALLOC(grown);
    ahead->capacity = grown;
    return 1;
}

// Starts decoding the first item worth a thread, and with room for it, among the AHEAD_REACH
// items of the list from decoders->next on; 1 when one was started, and the search goes on
// behind it. The item being installed (current) goes to a thread only as a file of a group: the
// thread decodes the group once for all its files, and the installing thread waits for it.
static int StartAhead(Decoders *decoders, Ahead *ahead, const InstallState *state,
                      int32_t current) {
    char item[INSTALL_ITEM_SIZE];
    int32_t index = decoders->next, cursor = decoders->cursor;
    for (int32_t reach = 0;; reach++, index++) {
        if (reach == AHEAD_REACH || index >= state->FileCount ||
            !FileList_NextItem(state->FileList, &cursor, item, sizeof item))
            return 0;
        const char *name = FileList_ArchiveName(item);
        if (Ffs_LocateStored(name, AHEAD_MINIMUM, AHEAD_LIMIT, &ahead->stored) &&
            (index > current || ahead->stored.Source != Ffs_HashName(name)) &&
            MakeRoom(decoders, ahead, &ahead->stored))
            break;
    }
    // Unread stored bytes are left to the ordinary read, which says why.
    if (!Ffs_ReadStored(&ahead->stored, ahead->memory)) return 0;
    ahead->decoded = 0;
    ahead->thread = CreateThread(NULL, AHEAD_STACK_SIZE, DecodeAhead, ahead,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (!ahead->thread) return 0;
    ahead->index = ahead->last = index;
    TakeGroup(state, &ahead->stored, &ahead->last, &cursor);
    decoders->next = ahead->last + 1;
    decoders->cursor = cursor;
    return 1;
}

// Gives the free threads the next items worth one from the list's item number index on, which
// begins at cursor: this item is decoded here (or was decoded ahead, and is only written),
// unless it is a file of a group that a thread takes.
static void StartDecoders(Decoders *decoders, const InstallState *state, int32_t index,
                          int32_t cursor) {
    if (decoders->next <= index) {
        decoders->next = index;
        decoders->cursor = cursor;
    }
    for (int t = 0; t < decoders->threads; t++)
        if (decoders->ahead[t].index < 0 &&
            !StartAhead(decoders, &decoders->ahead[t], state, index))
            return;
}

// The threads that decode ahead: one a processor, from 1 to AHEAD_THREADS.
static int AheadThreads(void) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int threads = (int)system.dwNumberOfProcessors;
    return threads < 1 ? 1 : threads > AHEAD_THREADS ? AHEAD_THREADS : threads;
}

// Ends every thread and releases the records' memory.
static void EndDecoders(Decoders *decoders) {
    for (Ahead &ahead : decoders->ahead) {
        DropAhead(&ahead);
        if (ahead.memory) TESSEL_FREE(ahead.memory, ahead.capacity);
        ahead.capacity = 0;
    }
}

// The list's item number index written to path: from memory when a thread decoded it (for a
// file of a group, from where the group's bytes hold it), the ordinary way otherwise.
static int WriteItem(Decoders *decoders, int32_t index, const char *name, const char *path) {
    Ahead *ahead = FindAhead(decoders, index);
    if (!ahead) return WriteEntry(name, path);
    WaitForSingleObject(ahead->thread, INFINITE);
    FfsStored file = ahead->stored;
    int decoded = ahead->decoded &&
                  (index == ahead->index || (Ffs_LocateStored(name, file.Size, file.Size, &file) &&
                                             file.Source == ahead->stored.Source));
    int written =
        decoded && File_WriteAll(path, ahead->memory + file.Length + file.Part, file.PartSize);
    if (index == ahead->last) DropAhead(ahead);
    if (!decoded) return WriteEntry(name, path);
    return written ? ENTRY_WRITTEN : ENTRY_UNWRITTEN;
}

// Writes InstallPath as "Install Path" under HKEY_CURRENT_USER\RegistryPath.
static void RememberInstallPath(const InstallState *state) {
    if (!state->RegistryPath[0]) return;
    SysKey key;
    Reg_OpenOrCreateKey(&key, REG_ROOT_USER, state->RegistryPath);
    Reg_SetString(key, INSTALL_PATH_VALUE, state->InstallPath); // a refusal is logged
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
// skipped. A "$?" file and a shared file go into the record. 0 at a failure, logged (and shown
// when the file cannot be written).
static int InstallItem(const InstallState *state, const char *item, int32_t index,
                       Decoders *decoders, RecordKeeper *keeper, int32_t *kb) {
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
    int noted = keeper->active && ((flags & PATH_FLAG_CONFIRM) || SharedFile_IsShared(target));
    int existed = noted && GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
    int kept = KeepExisting(state, name, target, flags);
    if (!kept) {
        int written = WriteItem(decoders, index, name, target);
        if (written == ENTRY_UNWRITTEN) ReportUnwritten(target);
        if (written != ENTRY_WRITTEN) return 0;
    }
    if (noted) NoteItem(keeper, target, kept, existed);
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
    // Before anything is written: the earlier installation's uninstaller, record and folder are
    // read as they are, and a newer version is not replaced unasked.
    if (!Earlier_Prepare(state)) return 0;
    Progress_Show(1);
    RememberInstallPath(state);
    RecordKeeper keeper;
    memset(&keeper, 0, sizeof keeper);
    OpenRecord(state, &keeper);
    int32_t kb = 0; // whole KB processed, written or skipped
    int32_t cursor = 0;
    Decoders decoders;
    memset(&decoders, 0, sizeof decoders);
    for (Ahead &ahead : decoders.ahead) ahead.index = -1;
    decoders.threads = AheadThreads();
    int result = 1;
    for (int32_t i = 0; result && i < state->FileCount; i++) {
        ShowInstalled(state, kb);
        char item[INSTALL_ITEM_SIZE];
        int32_t start = cursor;
        if (!FileList_NextItem(state->FileList, &cursor, item, sizeof item)) {
            result = 0;
            break;
        }
        StartDecoders(&decoders, state, i, start);
        result = InstallItem(state, item, i, &decoders, &keeper, &kb);
        Ahead *kept = FindAhead(&decoders, i); // the item was kept as it was
        if (kept && kept->last == i) DropAhead(kept);
    }
    EndDecoders(&decoders);
    // Kept after a failure too: the counts raised so far are in it, for the uninstaller.
    int recorded = CloseRecord(&keeper);
    if (!result || !recorded || (state->UninstallName[0] && !WriteUninstaller(state))) {
        Earlier_Release(); // the earlier version's files stay beside what was written
        return 0;
    }
    Earlier_Finish(state);
    Progress_Show(0);
    return 1;
}
