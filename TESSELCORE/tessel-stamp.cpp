// The integrity stamp: the program's own record, the stamp's scrambled words made and read, and
// the check of a file in one pass of chunks through the file seam, with the ranges that signing
// rewrites read as zero.
#include "tessel-stamp.h"

#include <string.h>

#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tessel-str.h"
#include "tessel-sys.h"

// Not const: it must stay in initialised data, where the builder writes the stamp.
uint8_t Core_Stamp[CORE_STAMP_SIZE] = CORE_STAMP_UNSET;

int Core_HasStamp(uint32_t key) {
    // Copied through volatile: the record only looks constant to the compiler, the builder
    // rewrites it in the file. (Compared with no copy of the unstamped record: the builder
    // must find that exactly once in the stub.)
    const volatile uint8_t *own = Core_Stamp;
    uint8_t record[CORE_STAMP_SIZE];
    for (int i = 0; i < CORE_STAMP_SIZE; i++) record[i] = own[i];
    CoreStampFields fields;
    return Core_ReadStamp(record, key, &fields);
}

// The record: '|', five little-endian words, '|', 0. With w4 = nameCrc ^ key and
// w2 = crc ^ key the words are position ^ w4, w2, length ^ w2, w4 and the check word
// (nameCrc ^ position ^ crc ^ length) ^ key.
int Core_MakeStamp(uint8_t record[CORE_STAMP_SIZE], uint32_t key, uint32_t nameCrc,
                   uint32_t position, uint32_t crc, uint32_t length) {
    CORE_GUARD(record);
    uint32_t w4 = nameCrc ^ key, w2 = crc ^ key;
    uint32_t words[5] = {position ^ w4, w2, length ^ w2, w4,
                         (nameCrc ^ position ^ crc ^ length) ^ key};
    record[0] = '|';
    for (int i = 0; i < 5; i++) Le_Put32(record + 1 + 4 * i, words[i]);
    record[21] = '|';
    record[22] = 0;
    return 1;
}

int Core_ReadStamp(const uint8_t record[CORE_STAMP_SIZE], uint32_t key, CoreStampFields *fields) {
    CORE_GUARD(record);
    CORE_GUARD(fields);
    if (record[0] != '|' || record[21] != '|') return 0;
    uint32_t w[5];
    for (int i = 0; i < 5; i++) w[i] = Le_Get32(record + 1 + 4 * i);
    fields->NameCrc = w[3] ^ key;
    fields->Position = w[0] ^ w[3];
    fields->Crc = w[1] ^ key;
    fields->Length = w[2] ^ w[1];
    return (fields->NameCrc ^ fields->Position ^ fields->Crc ^ fields->Length) == (w[4] ^ key);
}

// The 12 bytes that signing rewrote, read as zero in a signed file's check sum (offset and size
// pairs): the checksum and the security entry, when the file's head names a certificate table
// that begins where the covered length ends and ends the file. Returns the pairs' count, 0 or 2.
static int SigningRanges(const uint8_t *head, int32_t headSize, uint32_t length, int64_t fileLength,
                         int32_t ranges[4]) {
    PeSignature signature;
    if (!Pe_ReadSignature(head, headSize < PE_HEAD_SIZE ? headSize : PE_HEAD_SIZE, &signature) ||
        !Pe_IsSigned(&signature, fileLength) || signature.TableOffset != length)
        return 0;
    ranges[0] = signature.ChecksumOffset;
    ranges[1] = PE_CHECKSUM_SIZE;
    ranges[2] = signature.EntryOffset;
    ranges[3] = PE_ENTRY_SIZE;
    return 2;
}

// One pass over file bytes [0, length) in chunks of CORE_STAMP_CHUNK: their running CRC without
// the record at [position, position + 23), and *isSigned as SigningRanges finds it in the first
// chunk, whose ranges then read as zero. A chunk that reads short ends the pass; a failed read
// ends it with 0 (else 1, the CRC in *running).
static int StampCrc(SysFile *file, int32_t position, int32_t length, int64_t fileLength,
                    int *isSigned, uint32_t *running) {
    uint32_t *table = (uint32_t *)TESSEL_ALLOC(CORE_CRC32_TABLE_WORDS * 4);
    uint8_t *chunk = (uint8_t *)TESSEL_ALLOC(CORE_STAMP_CHUNK);
    Core_Crc32MakeTable(table);
    int32_t zeroed[4];
    int count = 0, read = 1;
    uint32_t crc = 0xFFFFFFFF;
    for (int32_t at = 0; at < length;) {
        int32_t want = length - at < CORE_STAMP_CHUNK ? length - at : CORE_STAMP_CHUNK;
        int32_t got = 0;
        if (!(read = Sys_FileRead(file, chunk, want, &got))) break;
        if (at == 0) count = SigningRanges(chunk, got, (uint32_t)length, fileLength, zeroed);
        for (int i = 0; i < count; i++) {
            int32_t from = zeroed[2 * i] - at, to = zeroed[2 * i] + zeroed[2 * i + 1] - at;
            if (from < 0) from = 0;
            if (to > got) to = got;
            if (from < to) memset(chunk + from, 0, (size_t)(to - from));
        }
        // The part of this chunk outside the record: before it, then after it.
        int32_t holeStart = position - at, holeEnd = position + CORE_STAMP_SIZE - at;
        int32_t before = holeStart < 0 ? 0 : (holeStart > got ? got : holeStart);
        int32_t after = holeEnd < 0 ? 0 : (holeEnd > got ? got : holeEnd);
        if (before > 0) crc = Core_Crc32Sliced(table, crc, chunk, before);
        if (got - after > 0) crc = Core_Crc32Sliced(table, crc, chunk + after, got - after);
        at += got;
        if (got < want) break;
    }
    TESSEL_FREE(chunk, CORE_STAMP_CHUNK);
    TESSEL_FREE(table, CORE_CRC32_TABLE_WORDS * 4);
    *isSigned = count > 0;
    *running = crc;
    return read;
}

// A file signed after the build: the certificate table begins where the built file ended and
// reaches the end of the file. Its check sum reads the checksum and the security directory
// entry, which signing rewrote, as zero: the builder stamps the setup with both zero. Any other
// file passes only with its length, unless the length check is skipped.
int Core_VerifyStampRecord(const uint8_t record[CORE_STAMP_SIZE], uint32_t key, const char *path,
                           int skipLengthCheck, int skipNameCheck) {
    CORE_GUARD(record);
    CORE_GUARD(path);
    CoreStampFields stamp;
    if (!Core_ReadStamp(record, key, &stamp)) return 0;
    if ((int32_t)stamp.Position < 0 || (int32_t)stamp.Position > (int32_t)stamp.Length) return 0;
    if (!skipNameCheck) {
        const char *name = path;
        for (const char *p = path; *p; p++)
            if (*p == '/' || *p == '\\') name = p + 1;
        uint32_t quick = 0;
        Str_QuickCrc(name, &quick);
        if (quick != stamp.NameCrc) return 0;
    }
    SysFile *file = Sys_FileOpen(path, "rb");
    if (!file) {
        Log_Print("Couldn't open file '%s'!\n", path);
        return 0;
    }
    int64_t end = Sys_FileLength(file); // -1, unknown: neither signed nor of the stamped length
    int isSigned = 0;
    uint32_t running = 0;
    int passed =
        StampCrc(file, (int32_t)stamp.Position, (int32_t)stamp.Length, end, &isSigned, &running) &&
        ~running == stamp.Crc && (isSigned || skipLengthCheck || end == (int64_t)stamp.Length);
    Sys_FileClose(file);
    return passed;
}

int Core_VerifyStamp(uint32_t key, const char *path, int skipLengthCheck, int skipNameCheck) {
    return Core_VerifyStampRecord(Core_Stamp, key, path, skipLengthCheck, skipNameCheck);
}
