// The integrity stamp: the 23-byte record in the program's initialised data that the builder
// writes last, made, read and checked against the file (the setup checks its own file at
// start-up; the builder and the tests check the files they make).
#pragma once
#include <stdint.h>

// Integrity stamp: a 23-byte record in the program's initialised data, '|', five scrambled
// little-endian words, '|', 0. The builder finds the unstamped record in the finished file
// (exactly once) and writes the stamp there last, covering the whole file.
enum {
    CORE_STAMP_SIZE = 23,
    CORE_STAMP_CHUNK = 65536, // the check reads the file in one pass of chunks of this size
};
#define CORE_STAMP_KEY 0x7E55E1A5u
#define CORE_STAMP_UNSET "|TesselStampUnwritten|"
extern uint8_t Core_Stamp[CORE_STAMP_SIZE];

// 1 when the program's own record holds a well-formed stamp (a build stamped the file it was
// loaded from), 0 while it is the unstamped record.
int Core_HasStamp(uint32_t key);
// Fills record with the stamp for a file named with quick CRC nameCrc whose record lies at
// position, whose CRC-32 without the record's 23 bytes is crc and whose length is length.
int Core_MakeStamp(uint8_t record[CORE_STAMP_SIZE], uint32_t key, uint32_t nameCrc,
                   uint32_t position, uint32_t crc, uint32_t length);
// What a stamp record holds.
typedef struct CoreStampFields {
    uint32_t NameCrc;  // quick CRC of the file's name
    uint32_t Position; // offset of the record in the file
    uint32_t Crc;      // CRC-32 of the file without the record's 23 bytes
    uint32_t Length;   // the file's length
} CoreStampFields;
// Decodes record into *fields. Returns 1 when the record is well formed (its two bars and its
// check word agree), else 0 (*fields then holds what the words gave).
int Core_ReadStamp(const uint8_t record[CORE_STAMP_SIZE], uint32_t key, CoreStampFields *fields);
// Checks the program's stamp against the file at path, in one pass over the file with a CRC
// table made at run time (its table and chunk are taken from Mem_Alloc for the call). Returns 1
// when it passes, 0 when the record is inconsistent, the file differs or cannot be read
// ("Couldn't open file" logged).
int Core_VerifyStamp(uint32_t key, const char *path, int skipLengthCheck, int skipNameCheck);
// The same check of a given record (the builder's and the tests' entry point).
int Core_VerifyStampRecord(const uint8_t record[CORE_STAMP_SIZE], uint32_t key, const char *path,
                           int skipLengthCheck, int skipNameCheck);
