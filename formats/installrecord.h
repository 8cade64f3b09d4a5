// The install record: what INSTALL did with the files that the uninstaller may not simply take
// for the product's own, kept beside the uninstaller ("uninst.exe" has "uninst.dat"). A "$?"
// file was either written or kept as it was; a file in the Windows folder (a shared file) had
// its count under the system's SharedDLLs key raised, or not. Portable: the setup writes the
// record, the uninstaller reads it, and both take their decisions here.
//
// The record is text, one line each, CR LF:
//   Tessel install record 1
//   W- C:\Program Files\Rocket\lib.dll        W written or K kept; S count raised, or -
//   KS C:\windows\system32\shared.dll
//   End 2 1A2B3C4D                            the entries and the CRC-32 of all bytes before
// Anything else, a cut record included, is damaged, and a damaged record counts as none: the
// uninstaller then removes no "$?" file and lowers no count.
#pragma once
#include <stdint.h>

enum {
    RECORD_WRITTEN = 1,     // the file is the setup's: written, not kept
    RECORD_SHARED = 2,      // its shared count was raised once for this installation
    RECORD_UNKNOWN = -1,    // no entry for the path, or no usable record
    RECORD_PATH_SIZE = 320, // a path in the record: at most 319 characters
    RECORD_LIMIT = 1 << 24, // a record file's size: far beyond any list the setup can hold
    RECORD_NO_COUNT = -1,   // a shared file without a count
    RECORD_DROP_COUNT = -2, // RecordVerdict.Count: delete the count
    RECORD_KEEP_COUNT = -3, // RecordVerdict.Count: leave the count as it is
};

// The entries of a record, as the text of their lines.
typedef struct InstallRecord {
    char *Lines;      // "W- path\r\n" each; a block from the memory manager, or null
    int32_t Length;   // bytes used
    int32_t Capacity; // bytes allocated
    int32_t Count;    // entries
} InstallRecord;

// The record's file for the uninstaller at uninstallerPath, into path (size bytes): its name
// with the extension ".dat" in place of its own (or added, without one). Returns 1, or 0 with
// path empty when it does not fit (refused, never cut).
int Record_PathFor(const char *uninstallerPath, char *path, int size);
// Reads the record's text (size bytes, no terminator needed) into record, which it clears
// first. Returns 1, or 0 when the text is damaged: record is then empty.
int Record_Parse(const char *text, int32_t size, InstallRecord *record);
// The flags of path's entry (RECORD_WRITTEN, RECORD_SHARED), or RECORD_UNKNOWN. Paths are
// compared as Windows does, letters folded.
int Record_Find(const InstallRecord *record, const char *path);
// Sets path's entry to flags, replacing one that is there. Returns 1, or 0 with the record
// unchanged for a path that is empty, holds a byte below 32 or does not fit RECORD_PATH_SIZE.
int Record_Set(InstallRecord *record, const char *path, int flags);
// The record's whole text, header and end line included, in a block of exactly *size bytes from
// the memory manager (free it with that size). Returns the block.
char *Record_Format(const InstallRecord *record, int32_t *size);
// Releases the entries; the record is empty and usable again.
void Record_Free(InstallRecord *record);

// What the uninstaller does with a FILE LIST item's file.
enum {
    VERDICT_REMOVE = 0,     // the setup's own file
    VERDICT_KEPT = 1,       // a "$?" file that was there before and was kept
    VERDICT_UNRECORDED = 2, // a "$?" file that no record says the setup wrote
    VERDICT_SHARED = 3,     // a shared file that other installations still count
};

typedef struct RecordVerdict {
    int Verdict;   // VERDICT_
    int32_t Count; // the shared count to leave: a number, RECORD_DROP_COUNT or RECORD_KEEP_COUNT
} RecordVerdict;

// The decision on one item's file: confirm when the item has "$?", shared when its file lies in
// the Windows folder, flags its record entry (or RECORD_UNKNOWN), count the file's shared count
// now (RECORD_NO_COUNT for none). A count that this installation raised is lowered, and the file
// goes only when none is left; a count it did not raise keeps the file and is left alone.
RecordVerdict Record_Decide(int confirm, int shared, int flags, int32_t count);
// The log line's words for a verdict other than VERDICT_REMOVE: "the setup kept the file that
// was there". "" for VERDICT_REMOVE.
const char *Record_Reason(int verdict);
