// String utilities over zero-terminated 8-bit text: copying, ASCII case folding, comparisons
// and searches, a lenient number parser, the keyword quick CRC and the standard CRC-32. Every
// routine that takes a pointer is fatal on a null one (the library guard).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "tessel-core.h" // the guard; and Str_Format, which the log beneath these uses

int Str_Length(const char *text);                      // bytes before the terminating zero
int Str_Copy(char *destination, const char *source);   // 1; the caller provides the room
int Str_Append(char *destination, const char *source); // 1; the caller provides the room
int Str_Upper(char *text);                             // 1; a-z to A-Z in place
int Str_Reverse(char *text);                           // 1; reverses the bytes in place

// 1 when the texts are equal after folding ASCII letters (and have the same length).
int Str_EqualNoCase(const char *a, const char *b);
// 1 when the first n bytes are equal after folding; compares exactly n positions.
int Str_EqualNoCaseN(const char *a, const char *b, int n);
int Str_StartsWith(const char *text, const char *prefix);       // an empty prefix gives 1
int Str_StartsWithNoCase(const char *text, const char *prefix); // the same, folding letters

// First position of text at which pattern begins: 1 and *position set, or 0 and *position
// null. An empty text never matches.
int Str_Find(const char *text, const char *pattern, const char **position);
int Str_FindNoCase(const char *text, const char *pattern, const char **position);

// Lenient number: the run of digits, '+', '-' and '.' at the start of text, converted by
// strtod. A null text or an empty run gives 0.0; a run of 70 bytes or more is fatal.
double Str_ToFloat(const char *text);

// The keyword key: case-blind hash with the text's length in its top bits. Returns 1.
int Str_QuickCrc(const char *text, uint32_t *value);

// Standard CRC-32 (zlib's), computed without a stored table. A length below 1 gives 0.
uint32_t Core_Crc32(const void *buffer, int length);
// One step of the same CRC over a further piece: start with 0xFFFFFFFF, end with ~running.
uint32_t Core_Crc32Update(uint32_t running, const void *buffer, int length);

// The same CRC eight bytes at a time, for whole files: CORE_CRC32_TABLE_WORDS words of tables
// that Core_Crc32MakeTable fills at run time (the program file stores none).
enum { CORE_CRC32_TABLE_WORDS = 8 * 256 };
// Fills table. Returns 1.
int Core_Crc32MakeTable(uint32_t *table);
// Core_Crc32Update through a table made by Core_Crc32MakeTable: the same running value.
uint32_t Core_Crc32Sliced(const uint32_t *table, uint32_t running, const void *buffer, int length);
