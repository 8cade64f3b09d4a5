// The command registry and the argument readers: script keywords mapped to their handlers by
// quick CRC, the handlers of the keyword table (keywords.h) that start-up registers, and the
// readers with which every handler takes its arguments out of the script.
#pragma once
#include <stdint.h>

#include "keywords.h"
#include "state.h"

// A command handler: (state, argument text, cursor) -> 1 to go on, 0 to stop the run. The
// argument text is the script after the keyword's ":", the cursor a byte offset into it that
// starts at 0 and that the readers advance.
typedef int (*CommandHandler)(InstallState *state, const char *arguments, int32_t *cursor);

// A handler bound to a row of the keyword table.
typedef struct CommandBinding {
    int32_t Id; // a KeywordId
    CommandHandler Handler;
} CommandBinding;

// One registered keyword. The list runs longest keyword first; among equal lengths the one
// registered last stands first; no two entries share both length and quick CRC.
typedef struct CommandEntry {
    char Keyword[KEYWORD_SIZE];
    int32_t Length;
    uint32_t QuickCrc;
    CommandHandler Handler;
    struct CommandEntry *Next;
} CommandEntry;

// Adds a keyword; returns 1. Fatal for a keyword of 40 characters or more and for a second
// keyword with both the length and the quick CRC of one registered before; a quick-CRC twin of
// another length is only logged.
int Cmd_Register(const char *keyword, CommandHandler handler);
// Registers the keyword table in its order, every keyword but BREAK, which the interpreter
// registers (Script_RegisterBreak). Returns 1.
int Cmd_RegisterAll(void);
// 1 when word has the length and the quick CRC of a registered keyword (letters are not
// compared), else 0.
int Cmd_Find(const char *word);
// Sets *cursor to 0 and returns the result of the matching keyword's handler; 0 without
// calling anything when nothing matches.
int Cmd_Dispatch(const char *word, InstallState *state, const char *arguments, int32_t *cursor);
// Frees every entry and empties the registry. Returns 1.
int Cmd_ReleaseAll(void);

// ---- Argument readers ----
// An argument runs from the cursor up to its terminator (Keyword_IsTerminator): the first byte
// that is below 32 as a signed 8-bit number (control characters, the marker 0x16, and every
// byte of 0x80 and above).
// A zero byte ends the text as well as the argument: no reader steps over it, so nothing
// beyond a zero-terminated text is ever read.

// Number of bytes of the argument at the cursor.
int32_t Cmd_ArgLength(const char *arguments, int32_t cursor);
// Copies the argument at the cursor into destination (size bytes, at least 1), at most
// size - 1 of its bytes and a terminating zero, and advances the cursor past the whole
// argument and past its terminator (unless that is a zero byte). Returns 1 when the whole
// argument fitted, 0 when it was cut to size - 1 bytes.
int Cmd_ReadArg(const char *arguments, char *destination, int32_t size, int32_t *cursor);
// Adds 1 to *count for each separator byte in the argument at the cursor and leaves the cursor
// on the terminator. Returns 1. Callers set *count to 1 first, so it becomes the item count.
int Cmd_CountList(const char *arguments, char separator, int32_t *count, int32_t *cursor);
// Reads the argument at the cursor as a decimal number (leading blanks, a sign, digits,
// anything after them ignored, no digits 0) without copying it, and advances the cursor as
// Cmd_ReadArg does. Returns 1, or 0 when the number lies outside the 32-bit signed range
// (*value then holds its low 32 bits).
int Cmd_ReadNumber(const char *arguments, int32_t *value, int32_t *cursor);
// Reads comma-separated decimal numbers from text into consecutive bytes of destination (the
// low 8 bits of each), up to the first terminator; the commas of text become zeros. At most
// size values are stored and later bytes are left as they were. Returns 1, or 0 when text held
// more than size values (the first size of them stored).
int Cmd_ParseBytes(uint8_t *destination, int32_t size, char *text);

// The same readers for a destination that is an array: its size is the array's, so a call
// names only the argument text, the destination and the cursor (or the text).
template <int32_t N>
inline int Cmd_ReadArg(const char *arguments, char (&destination)[N], int32_t *cursor) {
    return Cmd_ReadArg(arguments, destination, N, cursor);
}
template <int32_t N> inline int Cmd_ParseBytes(uint8_t (&destination)[N], char *text) {
    return Cmd_ParseBytes(destination, N, text);
}

// What a command does with an argument longer than its field.
enum CmdFieldRule {
    CMD_CUT,    // keep the first size - 1 bytes, log "Argument of '%s' cut to %d characters\n"
    CMD_REFUSE, // leave the field untouched, log "Argument of '%s' too long (%d > %d)\n", fail
};
// Reads the argument at the cursor into a field of size bytes under the rule; keyword names
// the command in the log line. Returns 0 only for a refused argument.
int Cmd_ReadField(const char *keyword, const char *arguments, char *field, int32_t size,
                  CmdFieldRule rule, int32_t *cursor);
