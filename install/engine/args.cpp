// The argument readers: an argument's length, the copies into fields (cut or refused), list
// counts, numbers and byte lists.
#include "args.h"

#include <string.h>

#include "scan.h"
#include "tessel-core.h"

int32_t Cmd_ArgLength(const char *arguments, int32_t cursor) {
    return Scan_ArgLength(arguments, cursor);
}

int Cmd_StepPast(const char *arguments, int32_t length, int32_t *cursor) {
    *cursor += length;
    if (arguments[*cursor] != 0) *cursor += 1;
    return 1;
}

int Cmd_ReadArg(const char *arguments, char *destination, int32_t size, int32_t *cursor) {
    CORE_GUARD(arguments);
    CORE_GUARD(destination);
    CORE_GUARD(cursor);
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(size >= 1, "Argument field of %d bytes\n", size);
    int32_t length = Cmd_ArgLength(arguments, *cursor);
    int32_t kept = length < size ? length : size - 1;
    memcpy(destination, arguments + *cursor, (size_t)kept);
    destination[kept] = 0;
    Cmd_StepPast(arguments, length, cursor);
    return kept == length;
}

int Cmd_CountList(const char *arguments, char separator, int32_t *count, int32_t *cursor) {
    CORE_GUARD(arguments);
    CORE_GUARD(count);
    CORE_GUARD(cursor);
    for (; !Keyword_IsTerminator(arguments[*cursor]); (*cursor)++)
        if (arguments[*cursor] == separator) (*count)++;
    return 1;
}

// Decimal number at text: blanks, sign, digits; stops at the first other byte. *value gets the
// low 32 bits of the number; returns 0 when the number does not fit 32 signed bits.
static int ParseDecimal(const char *text, int32_t *value) {
    const char *p = text;
    while (*p == ' ') p++;
    int negative = 0;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    uint32_t low = 0;
    uint64_t magnitude = 0; // saturates once out of range
    for (; *p >= '0' && *p <= '9'; p++) {
        low = low * 10u + (uint32_t)(*p - '0');
        if (magnitude <= 0x80000000u) magnitude = magnitude * 10u + (uint64_t)(*p - '0');
    }
    *value = (int32_t)(negative ? 0u - low : low);
    return magnitude <= (negative ? 0x80000000u : 0x7FFFFFFFu);
}

int Cmd_ReadNumber(const char *arguments, int32_t *value, int32_t *cursor) {
    CORE_GUARD(arguments);
    CORE_GUARD(value);
    CORE_GUARD(cursor);
    // Blanks, signs and digits are never terminators, so the number lies inside the argument.
    int inRange = ParseDecimal(arguments + *cursor, value);
    Cmd_StepPast(arguments, Cmd_ArgLength(arguments, *cursor), cursor);
    return inRange;
}

int Cmd_ParseBytes(uint8_t *destination, int32_t size, char *text) {
    CORE_GUARD(destination);
    CORE_GUARD(text);
    int32_t stored = 0, pieces = 0;
    char *piece = text;
    for (char *p = text;; p++) {
        int last = Keyword_IsTerminator(*p);
        if (!last && *p != ',') continue;
        if (!last) *p = 0;
        int32_t value = 0;
        ParseDecimal(piece, &value); // only the low 8 bits are kept
        if (stored < size) destination[stored++] = (uint8_t)value;
        pieces++;
        if (last) break;
        piece = p + 1;
    }
    return pieces <= size;
}

int Cmd_ReadField(const char *keyword, const char *arguments, char *field, int32_t size,
                  CmdFieldRule rule, int32_t *cursor) {
    CORE_GUARD(keyword);
    CORE_GUARD(arguments);
    CORE_GUARD(cursor);
    int32_t length = Cmd_ArgLength(arguments, *cursor);
    if (length >= size) {
        if (rule == CMD_REFUSE) {
            Log_Print("Argument of '%s' too long (%d > %d)\n", keyword, length, size - 1);
            return 0;
        }
        Log_Print("Argument of '%s' cut to %d characters\n", keyword, size - 1);
    }
    Cmd_ReadArg(arguments, field, size, cursor);
    return 1;
}
