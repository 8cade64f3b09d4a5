// The support library's core: the debug log with its console and file, the recursive library
// lock and its bypass, the recorded source location and the fatal report, and the guarded
// memory manager with its statistics and end-of-run report.
#include "tessel-core.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tessel-sys.h"

enum { LOG_WRITE_TRIES = 5, LOG_RETRY_MS = 100 };

static const struct {
    const char *name;
    uint32_t bits;
} LogSwitches[] = {
    // lower case
    {"-debug", LOG_FILE | LOG_LIBRARY},
    {"-unique", LOG_DATED | LOG_APPEND | LOG_LIBRARY | LOG_FILE},
    {"-window", LOG_CONSOLE},
    {"-timestamp", LOG_TIMESTAMP},
    {"-append", LOG_APPEND},
};

// The log's buffers stand apart from its initialised state, so that they cost the program file
// nothing (zero-filled at load time).
static struct {
    char path[LOG_PATH_SIZE];
    char line[LOG_LINE_SIZE];
} B;

static struct {
    uint32_t flags;
    void *console;
    const char *file; // recorded source location
    int fileLine;
    void *lock;
    int bypass;  // while 1 the lock is neither taken nor released
    int writing; // a fatal report about the file itself must not write to it again
    int quiet;   // no box is shown
} S = {0, NULL, "Unknown", 0, NULL, 1, 0, 0};

static struct { MemStats stats; } M;

// ---- Library lock ----

int Core_Lock(void) {
    if (S.bypass || !S.lock) return 1;
    return Sys_MutexTake(S.lock);
}

int Core_Unlock(void) {
    if (S.bypass || !S.lock) return 1;
    Sys_MutexRelease(S.lock);
    return 1;
}

// Switching the bypass is itself done under the lock.
static void SetBypass(int bypass) {
    if (S.bypass == bypass || !S.lock) {
        S.bypass = bypass;
        return;
    }
    Sys_MutexTake(S.lock);
    S.bypass = bypass;
    Sys_MutexRelease(S.lock);
}

int Core_SetLocation(const char *file, int line) {
    S.file = file ? file : "Unknown";
    S.fileLine = line;
    return 1;
}

int Core_Locate(const char *file, int line) {
    Core_Lock();
    return Core_SetLocation(file, line);
}

// ---- Log ----

// The log is beneath the string utilities, which report through it: what it needs of them it
// does with the C runtime.
int Str_Format(char *buffer, int size, const char *format, ...) {
    if (size < 1) return -1;
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, (size_t)size, format, args);
    va_end(args);
    // Some C runtimes answer a cut with -1 and leave the buffer unterminated.
    buffer[size - 1] = 0;
    if (length < 0) return length == -1 ? -(size - 1) : -1;
    if (length >= size) return -length;
    return length;
}

// text holds pattern (lower case) somewhere, its ASCII letters in any case.
static int HasNoCase(const char *text, const char *pattern) {
    for (; *text; text++) {
        int i = 0;
        while (pattern[i] &&
               (text[i] >= 'A' && text[i] <= 'Z' ? text[i] + 32 : text[i]) == pattern[i])
            i++;
        if (!pattern[i]) return 1;
    }
    return 0;
}

int Log_ParseOptions(uint32_t *flags, const char *commandLine) {
    CORE_GUARD(flags);
    CORE_GUARD(commandLine);
    uint32_t bits = 0;
    for (size_t i = 0; i < sizeof LogSwitches / sizeof LogSwitches[0]; i++)
        if (HasNoCase(commandLine, LogSwitches[i].name)) bits |= LogSwitches[i].bits;
    *flags = bits;
    return 1;
}

uint32_t Log_Flags(void) { return S.flags; }
const char *Log_Path(void) { return B.path; }

static void ResolvePath(const char *logName) {
    // A drive-qualified path, or a share's ("\\server\share\..."), is taken as it is.
    if ((logName[0] && logName[1] == ':') || (logName[0] == '\\' && logName[1] == '\\')) {
        Str_Format(B.path, sizeof B.path, "%s", logName);
        return;
    }
    char exe[LOG_PATH_SIZE];
    Sys_ExecutablePath(exe, sizeof exe);
    char *cut = NULL;
    for (char *p = exe; *p; p++)
        if (*p == '\\' || *p == '/') cut = p;
    if (cut)
        cut[1] = 0;
    else
        exe[0] = 0;
    const char *name = strlen(logName) > 1 ? logName : "debug.log";
    // Cut to the field: a path that does not fit still names a file beside the executable's
    // folder prefix rather than overrunning the variable.
    Str_Format(B.path, sizeof B.path, "%s%s", exe, name);
}

// Every step of a file write is tried up to five times, 100 ms apart: another program (a virus
// scanner, an editor) may hold the file for a moment. A retried write may repeat what the
// failed one got through; the close has nothing left to write (the seam does not buffer), so
// its answer is not examined.
static SysFile *OpenLogFile(const char *name, const char *mode) {
    for (int attempt = 0; attempt < LOG_WRITE_TRIES; attempt++) {
        SysFile *file = Sys_FileOpen(name, mode);
        if (file) return file;
        Sys_Sleep(LOG_RETRY_MS);
    }
    return NULL;
}

static int PutLogBytes(SysFile *file, const char *text, int count) {
    for (int attempt = 0; attempt < LOG_WRITE_TRIES; attempt++) {
        if (Sys_FileWrite(file, text, count)) return 1;
        Sys_Sleep(LOG_RETRY_MS);
    }
    return 0;
}

int Log_Init(const char *logName, uint32_t flags) {
    CORE_GUARD(logName);
    if (!S.lock) S.lock = Sys_MutexCreate();
    SetBypass(0);
    if (!Sys_CommandLine()) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("Unable to retrieve commandline!\n");
    }
    ResolvePath(logName);
    S.flags = flags;
    if (flags == 0) return 1;
    if (flags & LOG_CONSOLE) S.console = Sys_ConsoleOpen(B.path);
    if ((flags & LOG_FILE) && !(flags & LOG_APPEND)) {
        // A file that cannot be emptied cannot be written either: the first write reports it.
        SysFile *file = OpenLogFile(B.path, "w");
        if (file) Sys_FileClose(file);
    }
    if (flags & LOG_LIBRARY) Log_Print("TesselCore v%s\n", TESSELCORE_VERSION);
    return 1;
}

int Log_Shutdown(void) {
    SetBypass(1);
    if (S.lock) {
        Sys_MutexDestroy(S.lock);
        S.lock = NULL;
    }
    return 1;
}

int Log_Write(const char *text) {
    CORE_GUARD(text);
    int length = (int)strlen(text);
    if (S.flags & LOG_CONSOLE) Sys_ConsoleWrite(S.console, text, length);
    if (!(S.flags & LOG_FILE)) return 1;
    struct tm now;
    memset(&now, 0, sizeof now);
    if (S.flags & (LOG_TIMESTAMP | LOG_DATED)) {
        time_t seconds = time(NULL);
        struct tm *local = localtime(&seconds);
        if (local) now = *local;
    }
    char dated[16];
    const char *name = B.path;
    if (S.flags & LOG_DATED) {
        Str_Format(dated, sizeof dated, "d%.2d%.2d%.2d.log", now.tm_mon + 1, now.tm_mday,
                   (now.tm_year + 1900) % 100);
        name = dated;
    }
    char stamp[80] = ""; // six numbers of at most 11 characters with their separators
    if (S.flags & LOG_TIMESTAMP)
        Str_Format(stamp, sizeof stamp, "%.2d/%.2d/%.4d %.2d:%.2d:%.2d ", now.tm_mon + 1,
                   now.tm_mday, now.tm_year + 1900, now.tm_hour, now.tm_min, now.tm_sec);
    SysFile *file = OpenLogFile(name, "a+");
    int written = file && (!stamp[0] || PutLogBytes(file, stamp, (int)strlen(stamp))) &&
                  PutLogBytes(file, text, length);
    int error = errno;
    if (file) Sys_FileClose(file);
    if (!written) {
        // The report of this failure must not try the same file again: it ends with the box
        // and exit code 1 instead.
        S.flags &= ~(uint32_t)LOG_FILE;
        Core_Lock();
        Core_Abort("Unable to write to 'debug.log' (%d)\n", error);
    }
    return 1;
}

static void CheckLength(const char *text) {
    CORE_GUARD(text);
    int length = (int)strlen(text);
    if (length > LOG_MAX_TEXT) {
        Core_SetLocation("Unknown", 0);
        Core_Abort("Last string too large (%d > %d)\n", length, LOG_MAX_TEXT);
    }
}

int Log_Print(const char *format, ...) {
    if (S.flags == 0) return 1;
    Core_Lock();
    va_list args;
    va_start(args, format);
    int length = vsnprintf(B.line, sizeof B.line, format, args);
    va_end(args);
    B.line[LOG_LINE_SIZE - 1] = 0;
    if (length < 0) length = (int)strlen(B.line); // a runtime that answers a cut with -1
    Log_Write(B.line);
    // A message that filled the buffer was cut; its true length decides the check.
    if (length > LOG_MAX_TEXT) {
        Core_SetLocation("Unknown", 0);
        Core_Abort("Last string too large (%d > %d)\n", length, LOG_MAX_TEXT);
    }
    Core_Unlock();
    return 1;
}

int Log_Section(const char *title) {
    if (S.flags == 0) return 1;
    Core_Lock();
    int length = title ? Str_Format(B.line, sizeof B.line, "====[%s]", title)
                       : Str_Format(B.line, sizeof B.line, "====");
    if (length < 0) length = -length;
    if (length > LOG_MAX_TEXT) length = LOG_MAX_TEXT;
    for (int i = length; i < LOG_RULE_WIDTH; i++) B.line[i] = '=';
    B.line[LOG_RULE_WIDTH] = '\n';
    B.line[LOG_RULE_WIDTH + 1] = 0;
    Log_Write(B.line);
    Core_Unlock();
    return 1;
}

// ---- Fatal path ----

// Appends to the line buffer, cut to the space left in it.
static int AppendReport(int used, const char *format, va_list args) {
    if (used >= LOG_LINE_SIZE - 1) return used;
    int length = vsnprintf(B.line + used, (size_t)(LOG_LINE_SIZE - used), format, args);
    B.line[LOG_LINE_SIZE - 1] = 0;
    if (length < 0) return used + (int)strlen(B.line + used);
    return used + length < LOG_LINE_SIZE ? used + length : LOG_LINE_SIZE - 1;
}

static int AppendReportF(int used, const char *format, ...) TESSEL_PRINTF(2, 3);
static int AppendReportF(int used, const char *format, ...) {
    va_list args;
    va_start(args, format);
    used = AppendReport(used, format, args);
    va_end(args);
    return used;
}

#define FATAL_CAPTION "Internal error..."

[[noreturn]] static void FatalReport(const char *prefix, const char *format, va_list args) {
    int used = AppendReportF(0, "\n\n%s", prefix);
    used = AppendReport(used, format, args);
    AppendReportF(used, "       (%s/%d)\n", S.file, S.fileLine);
    Sys_ErrorWrite(B.line + 2, FATAL_CAPTION);
    if (!S.quiet) Sys_ErrorBox(B.line + 2, FATAL_CAPTION);
    // A report about a report (the length check below, a failing log file) ends here too.
    if (!S.writing) {
        S.writing = 1;
        Log_Write(B.line);
        CheckLength(B.line);
    }
    Core_Unlock();
    // Ends at once: no exit handler runs on a state the report has just called broken (and a
    // leak checker finds no "leaks" in blocks a dying process still holds). Only the C
    // runtime's own buffered streams are written out first.
    fflush(NULL);
    _Exit(CORE_EXIT_INTERNAL);
}

void Core_Abort(const char *format, ...) {
    va_list args;
    va_start(args, format);
    FatalReport("ABORT: ", format, args);
}

int Core_Assert(int condition, const char *format, ...) {
    if (condition) return Core_Unlock();
    va_list args;
    va_start(args, format);
    FatalReport("ASSERT:", format, args);
}

// ---- Quiet mode ----

void Core_SetQuiet(int quiet) { S.quiet = quiet != 0; }
int Core_Quiet(void) { return S.quiet; }

int Core_QuietReport(const char *caption, const char *text, const char *answer) {
    Sys_ErrorWrite(text, caption);
    return Log_Print("Quiet: [%.*s] %.*s -> %s\n", (int)CORE_QUIET_CAPTION, caption,
                     (int)CORE_QUIET_TEXT, text, answer);
}

int Core_AssertPointer(const void *pointer) {
    return Core_Assert(pointer != NULL, "Pointer is NULL...\n");
}

int Core_Guard(const void *pointer, const char *file, int line) {
    Core_Locate(file, line);
    return Core_AssertPointer(pointer);
}

// ---- Memory manager ----

int32_t Mem_BlockSize(int32_t n) { return (int32_t)(((uint32_t)n + 11u) & ~3u); }

static void GuardBytes(const void *block, unsigned char guard[4]) {
    int32_t address = (int32_t)(uint32_t)(uintptr_t)block;
    for (int i = 0; i < 4; i++) guard[i] = (unsigned char)(((address >> i) ^ 0xCC) & 0xFF);
}

static void CheckSize(int32_t n, const char *file, int line) {
    if (n >= 1) return;
    Core_SetLocation(file, line);
    Core_Abort("Invalid Memory Size (%d)\n", n);
}

int Mem_Init(int32_t limit, int32_t arenaSize) {
    (void)arenaSize; // the frame arena is never used by this system: size 0, no arena
    int diagnostics = (Log_Flags() & LOG_LIBRARY) != 0;
    if (diagnostics) Log_Section("Memory Init");
    Core_Lock();
    memset(&M.stats, 0, sizeof M.stats);
    M.stats.limit = limit;
    Core_Unlock();
    if (diagnostics) {
        Log_Print("Quickmemory Initialized (Disabled)\n");
        if (limit == MEM_NO_LIMIT)
            Log_Print("Memory Initialized (Maximum)\n");
        else
            Log_Print("Memory Initialized (limit %dk)\n", limit / 1024);
        Log_Section(NULL);
    }
    return 1;
}

void *Mem_Alloc(int32_t n, int32_t flags, const char *file, int line) {
    (void)flags;
    Core_Lock();
    CheckSize(n, file, line);
    int32_t total = Mem_BlockSize(n);
    if (n > MEM_NO_LIMIT - 11 || (int64_t)M.stats.bytesInUse + total > M.stats.limit) {
        Core_SetLocation(file, line);
        Core_Abort("Memory exceeds limit ((%d + %d) / %d)\n", M.stats.bytesInUse, total,
                   M.stats.limit);
    }
    unsigned char *block = (unsigned char *)malloc((size_t)total);
    if (!block) {
        Core_SetLocation(file, line);
        Core_Abort("No Memory available (%d / %d)\n", n, total);
    }
    unsigned char guard[4];
    GuardBytes(block, guard);
    memcpy(block, guard, 4);
    memset(block + 4, 0, (size_t)(total - 8));
    memcpy(block + total - 4, guard, 4);
    M.stats.blockCount++;
    M.stats.bytesInUse += total;
    if (M.stats.blockCount > M.stats.peakBlockCount) M.stats.peakBlockCount = M.stats.blockCount;
    if (M.stats.bytesInUse > M.stats.peakBytes) M.stats.peakBytes = M.stats.bytesInUse;
    Core_Unlock();
    return block + 4;
}

int Mem_CheckGuards(const void *block, int32_t n, const char *file, int line) {
    const unsigned char *bytes = (const unsigned char *)block;
    CheckSize(n, file, line);
    int32_t total = Mem_BlockSize(n);
    unsigned char guard[4];
    GuardBytes(block, guard);
    int before = 0, after = 0;
    for (int i = 0; i < 4; i++) {
        before += bytes[i] != guard[i];
        after += bytes[total - 4 + i] != guard[i];
    }
    if (before || after) {
        Core_SetLocation(file, line);
        Core_Abort("Memory corrupt (%d) <Before:%d After:%d Max:%d>\n", n, before, after, 4);
    }
    return 1;
}

int Mem_Free(void *pointerVariable, int32_t n, int32_t flags, const char *file, int line) {
    (void)flags;
    Core_Lock();
    CheckSize(n, file, line);
    int32_t total = Mem_BlockSize(n);
    void *area = NULL;
    if (pointerVariable) memcpy(&area, pointerVariable, sizeof area);
    if (!area) {
        Core_SetLocation(file, line);
        Core_Abort("No Memory address to free (%d / %d)\n", n, total);
    }
    unsigned char *block = (unsigned char *)area - 4;
    Mem_CheckGuards(block, n, file, line);
    memset(block, 0, (size_t)total);
    free(block);
    area = NULL;
    memcpy(pointerVariable, &area, sizeof area);
    M.stats.blockCount--;
    M.stats.bytesInUse -= total;
    Core_Unlock();
    return 1;
}

int Mem_EndFrame(void) {
    Core_Lock();
    // No frame arena in this system: nothing to reset.
    Core_Unlock();
    return 1;
}

int Mem_Shutdown(void) {
    int diagnostics = (Log_Flags() & LOG_LIBRARY) != 0;
    if (diagnostics) {
        Log_Section("Memory Remove");
        Log_Print("Maximum Memory in use (%d / %dk)\n", M.stats.peakBlockCount,
                  M.stats.peakBytes / 1024);
    }
    if (M.stats.bytesInUse != 0) {
        if (M.stats.bytesInUse < 1024)
            Log_Print("Not all memory was free'd (%d / %db)\n", M.stats.blockCount,
                      M.stats.bytesInUse);
        else
            Log_Print("Not all memory was free'd (%d / %dk)\n", M.stats.blockCount,
                      M.stats.bytesInUse / 1024);
    }
    if (diagnostics) Log_Section(NULL);
    return 1;
}

int Mem_GetStats(MemStats *stats) {
    CORE_GUARD(stats);
    Core_Lock();
    *stats = M.stats;
    Core_Unlock();
    return 1;
}
