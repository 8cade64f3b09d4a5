// String utilities and checksums over zero-terminated 8-bit text. Every routine that takes a
// pointer begins with the library guard, so a null pointer ends the run with a report naming
// this file and the routine's line instead of a crash.
#include "tessel-str.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tessel-bytes.h"
#include "tessel-core.h"

// mingw routes strtod to its own C99 parser (about 19 KB of the stub); the runs this module
// converts hold only digits, signs and points, which the C runtime's own atof reads alike.
static double ConvertRun(const char *run) {
#if defined(_WIN32)
    return atof(run);
#else
    return strtod(run, NULL);
#endif
}

enum { FLOAT_RUN_LIMIT = 70 }; // a numeric run of this many bytes is refused

static int IsLower(int c) { return c >= 'a' && c <= 'z'; }
static int FoldEqual(unsigned char a, unsigned char b) {
    if (a == b) return 1;
    if (IsLower(a) && a - 32 == b) return 1;
    if (IsLower(b) && b - 32 == a) return 1;
    return 0;
}

int Str_Length(const char *text) {
    CORE_GUARD(text);
    return (int)strlen(text);
}

int Str_Copy(char *destination, const char *source) {
    CORE_GUARD(destination);
    CORE_GUARD(source);
    memmove(destination, source, strlen(source) + 1);
    return 1;
}

int Str_Append(char *destination, const char *source) {
    CORE_GUARD(destination);
    CORE_GUARD(source);
    return Str_Copy(destination + Str_Length(destination), source);
}

int Str_Upper(char *text) {
    CORE_GUARD(text);
    for (; *text; text++)
        if (IsLower((unsigned char)*text)) *text = (char)(*text - 32);
    return 1;
}

int Str_Reverse(char *text) {
    int length = Str_Length(text);
    for (int i = 0, j = length - 1; i < j; i++, j--) {
        char swap = text[i];
        text[i] = text[j];
        text[j] = swap;
    }
    return 1;
}

int Str_EqualNoCase(const char *a, const char *b) {
    CORE_GUARD(a);
    CORE_GUARD(b);
    for (;; a++, b++) {
        if (!FoldEqual((unsigned char)*a, (unsigned char)*b)) return 0;
        if (*a == 0) return 1;
    }
}

int Str_EqualNoCaseN(const char *a, const char *b, int n) {
    CORE_GUARD(a);
    CORE_GUARD(b);
    for (int i = 0; i < n; i++)
        if (!FoldEqual((unsigned char)a[i], (unsigned char)b[i])) return 0;
    return 1;
}

int Str_StartsWith(const char *text, const char *prefix) {
    CORE_GUARD(text);
    CORE_GUARD(prefix);
    for (; *prefix; text++, prefix++)
        if (*text != *prefix) return 0;
    return 1;
}

int Str_StartsWithNoCase(const char *text, const char *prefix) {
    CORE_GUARD(text);
    CORE_GUARD(prefix);
    // The text's terminator never folds to a letter, so a shorter text fails here.
    for (; *prefix; text++, prefix++)
        if (!FoldEqual((unsigned char)*text, (unsigned char)*prefix)) return 0;
    return 1;
}

static int FindWith(const char *text, const char *pattern, const char **position,
                    int (*startsWith)(const char *, const char *)) {
    for (const char *p = text; *p; p++) {
        if (startsWith(p, pattern)) {
            *position = p;
            return 1;
        }
    }
    *position = NULL;
    return 0;
}

int Str_Find(const char *text, const char *pattern, const char **position) {
    CORE_GUARD(text);
    CORE_GUARD(pattern);
    CORE_GUARD(position);
    return FindWith(text, pattern, position, Str_StartsWith);
}

int Str_FindNoCase(const char *text, const char *pattern, const char **position) {
    CORE_GUARD(text);
    CORE_GUARD(pattern);
    CORE_GUARD(position);
    return FindWith(text, pattern, position, Str_StartsWithNoCase);
}

static int IsNumberByte(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

double Str_ToFloat(const char *text) {
    if (!text) return 0.0;
    char run[FLOAT_RUN_LIMIT];
    int length = 0;
    while (IsNumberByte(text[length])) {
        if (length + 1 >= FLOAT_RUN_LIMIT) {
            Core_Locate(__FILE__, __LINE__);
            Core_Abort("Input AtoF string too large (%s)\n", text);
        }
        run[length] = text[length];
        length++;
    }
    if (length == 0) return 0.0;
    run[length] = 0;
    return ConvertRun(run);
}

int Str_QuickCrc(const char *text, uint32_t *value) {
    CORE_GUARD(text);
    CORE_GUARD(value);
    uint32_t h = 0, length = 0;
    int k = 1;
    for (const char *p = text; *p; p++) {
        int32_t v = (signed char)*p;
        if (v >= 'a' && v <= 'z') v -= 32;
        uint32_t u = (uint32_t)v;
        h = ((u << (4 * k)) ^ h) + (u << (4 * (7 - k)));
        if (++k == 6) k = 1;
        length++;
    }
    *value = (length << 22) + h;
    return 1;
}

static uint32_t Reflect(uint32_t value, int bits) {
    uint32_t result = 0;
    for (int i = 0; i < bits; i++, value >>= 1) result = (result << 1) | (value & 1);
    return result;
}

// The table entry for one index, computed on the fly: the polynomial's remainder of the
// reflected index, reflected back.
static uint32_t Crc32Entry(uint32_t index) {
    uint32_t word = Reflect(index & 0xFF, 8) << 24;
    for (int i = 0; i < 8; i++) word = (word & 0x80000000u) ? (word << 1) ^ 0x04C11DB7u : word << 1;
    return Reflect(word, 32);
}

uint32_t Core_Crc32Update(uint32_t running, const void *buffer, int length) {
    CORE_GUARD(buffer);
    const unsigned char *bytes = (const unsigned char *)buffer;
    for (int i = 0; i < length; i++)
        running = Crc32Entry((running ^ bytes[i]) & 0xFF) ^ (running >> 8);
    return running;
}

// Table k gives the CRC step of a byte followed by k zero bytes, so that eight bytes are taken
// at once: the first four folded into the running value, the next four as they are.
int Core_Crc32MakeTable(uint32_t *table) {
    CORE_GUARD(table);
    for (uint32_t i = 0; i < 256; i++) table[i] = Crc32Entry(i);
    for (int i = 256; i < CORE_CRC32_TABLE_WORDS; i++)
        table[i] = (table[i - 256] >> 8) ^ table[table[i - 256] & 0xFF];
    return 1;
}

uint32_t Core_Crc32Sliced(const uint32_t *table, uint32_t running, const void *buffer, int length) {
    CORE_GUARD(table);
    CORE_GUARD(buffer);
    const uint8_t *p = (const uint8_t *)buffer;
    for (; length >= 8; length -= 8, p += 8) {
        uint32_t low = running ^ Le_Get32(p), high = Le_Get32(p + 4);
        running = table[7 * 256 + (low & 0xFF)] ^ table[6 * 256 + ((low >> 8) & 0xFF)] ^
                  table[5 * 256 + ((low >> 16) & 0xFF)] ^ table[4 * 256 + (low >> 24)] ^
                  table[3 * 256 + (high & 0xFF)] ^ table[2 * 256 + ((high >> 8) & 0xFF)] ^
                  table[1 * 256 + ((high >> 16) & 0xFF)] ^ table[high >> 24];
    }
    for (; length > 0; length--, p++) running = table[(running ^ *p) & 0xFF] ^ (running >> 8);
    return running;
}

uint32_t Core_Crc32(const void *buffer, int length) {
    CORE_GUARD(buffer);
    if (length <= 0) return 0;
    return ~Core_Crc32Update(0xFFFFFFFFu, buffer, length);
}
