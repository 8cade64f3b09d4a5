// The argument readers with which every command handler takes its arguments out of the script,
// and what a handler is. The setup's commands (command.cpp), its setters (settings.cpp) and the
// uninstaller's reading of its script share them.
#pragma once
#include <stdint.h>

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

// ---- Argument readers ----
// An argument runs from the cursor up to its terminator (Keyword_IsTerminator): the first byte
// that is below 32 as a signed 8-bit number (control characters, the marker 0x16, and every
// byte of 0x80 and above).
// A zero byte ends the text as well as the argument: no reader steps over it, so nothing
// beyond a zero-terminated text is ever read.

// Number of bytes of the argument at the cursor.
int32_t Cmd_ArgLength(const char *arguments, int32_t cursor);
// Moves the cursor past an argument of length bytes and its terminator; a zero byte is the end
// of the text and is never stepped over. Returns 1.
int Cmd_StepPast(const char *arguments, int32_t length, int32_t *cursor);
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
