// The install record's text, its reading and writing, and the uninstaller's decision on a file
// from it.
#include "installrecord.h"

#include "tessel-core.h"
#include "tessel-str.h"

static const char HEADER[] = "Tessel install record 1\r\n";
static const char END[] = "End ";

enum {
    FLAGS_LENGTH = 3,   // "W- " before the path
    END_LINE_SIZE = 40, // "End " and a count, a blank, eight hex digits, CR LF
    FIRST_CAPACITY = 1024,
};

// The two flag letters of an entry line.
static int FlagsOf(const char *line) {
    return (line[0] == 'W' ? RECORD_WRITTEN : 0) | (line[1] == 'S' ? RECORD_SHARED : 0);
}

static void WriteFlags(char *line, int flags) {
    line[0] = (flags & RECORD_WRITTEN) ? 'W' : 'K';
    line[1] = (flags & RECORD_SHARED) ? 'S' : '-';
    line[2] = ' ';
}

// The length of the line at text (size bytes left) without its CR LF; -1 when it has none.
static int32_t LineLength(const char *text, int32_t size) {
    for (int32_t i = 0; i + 1 < size; i++)
        if (text[i] == '\r') return text[i + 1] == '\n' ? i : -1;
    return -1;
}

// 1 when a path of length bytes may stand in the record.
static int IsRecordPath(const char *path, int32_t length) {
    if (length < 1 || length >= RECORD_PATH_SIZE) return 0;
    for (int32_t i = 0; i < length; i++)
        if ((unsigned char)path[i] < 32) return 0;
    return 1;
}

// 1 when the line of length bytes is an entry: two flag letters, a blank and a path.
static int IsEntryLine(const char *line, int32_t length) {
    return length > FLAGS_LENGTH && (line[0] == 'W' || line[0] == 'K') &&
           (line[1] == 'S' || line[1] == '-') && line[2] == ' ' &&
           IsRecordPath(line + FLAGS_LENGTH, length - FLAGS_LENGTH);
}

// Makes room for more bytes behind the entries.
static void Reserve(InstallRecord *record, int32_t more) {
    int32_t need = record->Length + more;
    if (need <= record->Capacity) return;
    int32_t capacity = record->Capacity ? record->Capacity : FIRST_CAPACITY;
    while (capacity < need) capacity *= 2;
    char *lines = (char *)TESSEL_ALLOC(capacity);
    if (record->Lines) {
        for (int32_t i = 0; i < record->Length; i++) lines[i] = record->Lines[i];
        TESSEL_FREE(record->Lines, record->Capacity);
    }
    record->Lines = lines;
    record->Capacity = capacity;
}

static void Append(InstallRecord *record, const char *bytes, int32_t length) {
    Reserve(record, length);
    for (int32_t i = 0; i < length; i++) record->Lines[record->Length + i] = bytes[i];
    record->Length += length;
}

// The entry line of path (its flag letters), or null.
static char *FindLine(const InstallRecord *record, const char *path) {
    int32_t pathLength = Str_Length(path);
    for (int32_t at = 0; at < record->Length;) {
        char *line = record->Lines + at;
        int32_t length = LineLength(line, record->Length - at);
        if (length < 0) break; // never: the entries are whole lines
        if (length - FLAGS_LENGTH == pathLength &&
            Str_EqualNoCaseN(line + FLAGS_LENGTH, path, pathLength))
            return line;
        at += length + 2;
    }
    return NULL;
}

int Record_PathFor(const char *uninstallerPath, char *path, int size) {
    CORE_GUARD(uninstallerPath);
    CORE_GUARD(path);
    int length = Str_Length(uninstallerPath), stem = length;
    // The extension's dot: the last one of the name, but not one that starts it (".hidden").
    for (int i = length - 1; i > 0; i--) {
        char c = uninstallerPath[i], before = uninstallerPath[i - 1];
        if (c == '\\' || c == '/') break;
        if (c == '.' && before != '\\' && before != '/') {
            stem = i;
            break;
        }
    }
    if (Str_Format(path, size, "%.*s.dat", stem, uninstallerPath) >= 0) return 1;
    if (size > 0) path[0] = 0;
    return 0;
}

int Record_Parse(const char *text, int32_t size, InstallRecord *record) {
    CORE_GUARD(text);
    CORE_GUARD(record);
    Record_Free(record);
    int32_t header = Str_Length(HEADER);
    if (size < header || size > RECORD_LIMIT) return 0;
    for (int32_t i = 0; i < header; i++)
        if (text[i] != HEADER[i]) return 0;
    int32_t at = header, entries = 0;
    for (;;) {
        int32_t length = LineLength(text + at, size - at);
        if (length < 0) break; // cut: no end line
        // The line is inside the text: the comparisons below stop within it.
        if (Str_StartsWith(text + at, END)) {
            char expected[END_LINE_SIZE];
            Str_Format(expected, sizeof expected, "End %d %.8X", (int)entries,
                       (unsigned)Core_Crc32(text, at));
            if (length != Str_Length(expected) || !Str_StartsWith(text + at, expected) ||
                at + length + 2 != size)
                break;
            return 1;
        }
        if (!IsEntryLine(text + at, length)) break;
        Append(record, text + at, length + 2);
        record->Count = ++entries;
        at += length + 2;
    }
    Record_Free(record);
    return 0;
}

int Record_Find(const InstallRecord *record, const char *path) {
    CORE_GUARD(record);
    CORE_GUARD(path);
    const char *line = FindLine(record, path);
    return line ? FlagsOf(line) : RECORD_UNKNOWN;
}

int Record_Set(InstallRecord *record, const char *path, int flags) {
    CORE_GUARD(record);
    CORE_GUARD(path);
    int32_t length = Str_Length(path);
    if (!IsRecordPath(path, length)) return 0;
    char *line = FindLine(record, path);
    if (line) {
        WriteFlags(line, flags);
        return 1;
    }
    char start[FLAGS_LENGTH];
    WriteFlags(start, flags);
    Append(record, start, FLAGS_LENGTH);
    Append(record, path, length);
    Append(record, "\r\n", 2);
    record->Count++;
    return 1;
}

char *Record_Format(const InstallRecord *record, int32_t *size) {
    CORE_GUARD(record);
    CORE_GUARD(size);
    int32_t header = Str_Length(HEADER), body = header + record->Length;
    uint32_t crc = Core_Crc32Update(Core_Crc32Update(0xFFFFFFFFu, HEADER, header),
                                    record->Lines ? record->Lines : "", record->Length) ^
                   0xFFFFFFFFu;
    char end[END_LINE_SIZE];
    int endLength =
        Str_Format(end, sizeof end, "End %d %.8X\r\n", (int)record->Count, (unsigned)crc);
    char *text = (char *)TESSEL_ALLOC(body + endLength);
    for (int32_t i = 0; i < header; i++) text[i] = HEADER[i];
    for (int32_t i = 0; i < record->Length; i++) text[header + i] = record->Lines[i];
    for (int i = 0; i < endLength; i++) text[body + i] = end[i];
    *size = body + endLength;
    return text;
}

void Record_Free(InstallRecord *record) {
    CORE_GUARD(record);
    if (record->Lines) TESSEL_FREE(record->Lines, record->Capacity);
    record->Lines = NULL;
    record->Length = record->Capacity = record->Count = 0;
}

RecordVerdict Record_Decide(int confirm, int shared, int flags, int32_t count) {
    RecordVerdict verdict = {VERDICT_REMOVE, RECORD_KEEP_COUNT};
    int known = flags != RECORD_UNKNOWN;
    if (shared && known && (flags & RECORD_SHARED)) {
        int32_t left = count > 0 ? count - 1 : 0;
        verdict.Count = left > 0 ? left : RECORD_DROP_COUNT;
        if (left > 0) {
            verdict.Verdict = VERDICT_SHARED;
            return verdict;
        }
    } else if (shared && count > 0) { // counted by others, never by this installation
        verdict.Verdict = VERDICT_SHARED;
        return verdict;
    }
    if (known && !(flags & RECORD_WRITTEN))
        verdict.Verdict = VERDICT_KEPT;
    else if (confirm && !known)
        verdict.Verdict = VERDICT_UNRECORDED;
    return verdict;
}

const char *Record_Reason(int verdict) {
    static const char *const REASONS[] = {
        "",                                               // VERDICT_REMOVE
        "the setup kept the file that was there",         // VERDICT_KEPT
        "no install record says the setup wrote it",      // VERDICT_UNRECORDED
        "other installations still use this shared file", // VERDICT_SHARED
    };
    if (verdict < 0 || verdict >= (int)(sizeof REASONS / sizeof REASONS[0])) return "";
    return REASONS[verdict];
}
