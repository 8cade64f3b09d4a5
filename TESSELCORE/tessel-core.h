// Support library core: the debug log, the recursive library lock, the fatal-error path and the
// guarded memory manager. Every other module reports failures through Log_Print and internal
// errors through Core_Abort or the asserts, and takes all its memory from Mem_Alloc.
#pragma once
#include <stdint.h>

#if defined(__GNUC__)
#define TESSEL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TESSEL_PRINTF(fmt, args)
#endif

#define TESSELCORE_VERSION "0.38"

// printf-style formatting into buffer, never more than size bytes with the terminating zero.
// Returns the length written, or a negative number when the text was cut (it is still
// terminated). No pointer guard; a size below 1 writes nothing and returns -1.
int Str_Format(char *buffer, int size, const char *format, ...) TESSEL_PRINTF(3, 4);

// Bits of the log flags word.
enum {
    LOG_CONSOLE = 0x01,   // a console window shows every message
    LOG_FILE = 0x02,      // every message is appended to the log file
    LOG_LIBRARY = 0x04,   // banner and memory reports
    LOG_APPEND = 0x08,    // the file is not emptied at start
    LOG_TIMESTAMP = 0x20, // each file write starts with the local date and time
    LOG_DATED = 0x40,     // the file is named after the date, in the current directory
};

enum {
    LOG_LINE_SIZE = 4096, // the shared line buffer
    LOG_MAX_TEXT = 4086,  // longest text that passes the length check
    LOG_PATH_SIZE = 320,
    LOG_RULE_WIDTH = 79,
};

// Sets *flags to the OR of the bits of every switch found anywhere in commandLine, any case.
int Log_ParseOptions(uint32_t *flags, const char *commandLine);
// Creates the lock, resolves the log path (beside the executable unless logName is
// drive-qualified or a share's "\\server\..."), opens the console, empties the file and writes the
// banner as the flags say.
int Log_Init(const char *logName, uint32_t flags);
// Switches the lock off and destroys it; the log itself stays usable, unlocked.
int Log_Shutdown(void);
// Formats into the line buffer and writes it; silent while the flags word is 0. Fatal after
// writing a text longer than LOG_MAX_TEXT. Returns 1.
int Log_Print(const char *format, ...) TESSEL_PRINTF(1, 2);
// A rule of exactly 79 characters and a newline, "====[title]" or "====" for a null title.
int Log_Section(const char *title);
// The single writer: console, then the file (timestamp, dated name). Each step of the file
// write (the open, each write) is tried up to five times, 100 ms apart; when one fails five
// times the write ends in the fatal report, which does not write to the file. Returns 1.
int Log_Write(const char *text);
uint32_t Log_Flags(void);
const char *Log_Path(void);

// The recursive library lock; both do nothing while the lock is bypassed.
int Core_Lock(void);
int Core_Unlock(void);
// Records the source location for the next fatal report, without the lock.
int Core_SetLocation(const char *file, int line);
// Takes the lock and records the location; the check that follows releases it.
int Core_Locate(const char *file, int line);
// Fatal "Pointer is NULL..." on a null pointer; otherwise releases the lock and returns 1.
int Core_AssertPointer(const void *pointer);
// Fatal report with the formatted message when condition is 0; otherwise unlocks, returns 1.
int Core_Assert(int condition, const char *format, ...) TESSEL_PRINTF(2, 3);
// Fatal report "ABORT: " + message: box "Internal error..." (not in quiet mode), the standard
// error handle, the log, exit code CORE_EXIT_INTERNAL.
[[noreturn]] void Core_Abort(const char *format, ...) TESSEL_PRINTF(1, 2);

// The exit code of every fatal report: the program could not do its work.
enum { CORE_EXIT_INTERNAL = 3 };

// Quiet mode: no box is shown, the fatal one included; what a box would have said goes to the
// log (the fatal report is there anyway) and the standard error handle instead. Off until set.
void Core_SetQuiet(int quiet);
int Core_Quiet(void);
// The box that quiet mode does not show: the log line "Quiet: [caption] text -> answer" and the
// caption and text on the standard error handle. The log line holds at most CORE_QUIET_CAPTION
// characters of the caption and CORE_QUIET_TEXT of the text. Returns 1.
enum { CORE_QUIET_CAPTION = 256, CORE_QUIET_TEXT = 2000 };
int Core_QuietReport(const char *caption, const char *text, const char *answer);

// Core_Locate and Core_AssertPointer in one call: the guard every pointer-taking operation
// begins with. One call where there were two keeps the programs small. It reads nothing behind
// the pointer, which GCC is told: it would take a buffer not yet written for one read.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((access(none, 1)))
#endif
int Core_Guard(const void *pointer, const char *file, int line);
#define CORE_GUARD(pointer) Core_Guard((pointer), __FILE__, __LINE__)

// Memory manager. Blocks are zero-filled, carry guards before and after the caller's area, and
// must be released with the size and flags they were allocated with. Every failure is fatal.
typedef struct MemStats {
    int32_t blockCount;
    int32_t bytesInUse;
    int32_t limit;
    int32_t peakBlockCount;
    int32_t peakBytes;
} MemStats;

enum { MEM_NO_LIMIT = 0x7FFFFFFF };

int Mem_Init(int32_t limit, int32_t arenaSize);
// A zero-filled area of n bytes; never null (fatal instead).
void *Mem_Alloc(int32_t n, int32_t flags, const char *file, int line);
// pointerVariable is the address of the caller's pointer variable, which is set to null.
int Mem_Free(void *pointerVariable, int32_t n, int32_t flags, const char *file, int line);
// 1 when both guards of the block (its start, 4 bytes before the area) are intact; else fatal.
int Mem_CheckGuards(const void *block, int32_t n, const char *file, int line);
int Mem_EndFrame(void);
// The end-of-run report; live blocks are reported, not released.
int Mem_Shutdown(void);
// Total size a request of n bytes takes from the heap: n + 8 rounded up to a multiple of 4.
int32_t Mem_BlockSize(int32_t n);
int Mem_GetStats(MemStats *stats);

// Allocation and release with the caller's location and flags 1 (MEM_FREE is a Windows name).
#define TESSEL_ALLOC(n) Mem_Alloc((n), 1, __FILE__, __LINE__)
#define TESSEL_FREE(variable, n) Mem_Free(&(variable), (n), 1, __FILE__, __LINE__)
