// The checksum and the security directory entry of a PE image, the signed-file test, and where
// the image's sections end in its file.
#include "tessel-pe.h"

#include <string.h>

#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-sys.h"

enum {
    PE_NEW_HEADER_AT = 0x3C, // the file offset of the "PE\0\0" signature
    PE_FILE_HEADER_SIZE = 24,
    PE_OPT_CHECKSUM = 64,
    PE32_DIRECTORY_COUNT = 92,
    PE32_DIRECTORIES = 96,
    PE64_DIRECTORY_COUNT = 108,
    PE64_DIRECTORIES = 112,
    PE_SECURITY_INDEX = 4,
    PE_SECTION_COUNT = 6,       // in the file header, 16 bits
    PE_OPTIONAL_SIZE = 20,      // the optional header's size, 16 bits, in the file header
    PE_SECTION_RAW_SIZE = 16,   // the size of a section's file data, in its header
    PE_SECTION_RAW_POINTER = 20 // where that data begins in the file
};

// The offset of the "PE\0\0" signature, with the file header and the optional header's magic
// inside the head; 0 when the head holds no such image.
static uint32_t NewHeaderAt(const uint8_t *head, int32_t headSize) {
    if (headSize < PE_NEW_HEADER_AT + 4 || head[0] != 'M' || head[1] != 'Z') return 0;
    uint32_t pe = Le_Get32(head + PE_NEW_HEADER_AT);
    if (pe > (uint32_t)headSize - PE_FILE_HEADER_SIZE - 2 || memcmp(head + pe, "PE\0\0", 4) != 0)
        return 0;
    return pe;
}

int Pe_ReadMachine(const uint8_t *head, int32_t headSize, uint16_t *machine) {
    CORE_GUARD(head);
    CORE_GUARD(machine);
    *machine = 0;
    uint32_t pe = NewHeaderAt(head, headSize);
    if (!pe) return 0;
    *machine = (uint16_t)(head[pe + 4] | head[pe + 5] << 8);
    return 1;
}

int Pe_ReadSignature(const uint8_t *head, int32_t headSize, PeSignature *signature) {
    CORE_GUARD(head);
    CORE_GUARD(signature);
    memset(signature, 0, sizeof *signature);
    uint32_t pe = NewHeaderAt(head, headSize);
    if (!pe) return 0;
    uint32_t optional = pe + PE_FILE_HEADER_SIZE;
    uint32_t magic = (uint32_t)head[optional] | (uint32_t)head[optional + 1] << 8;
    uint32_t countAt, directories;
    if (magic == 0x10B) {
        countAt = optional + PE32_DIRECTORY_COUNT;
        directories = optional + PE32_DIRECTORIES;
    } else if (magic == 0x20B) {
        countAt = optional + PE64_DIRECTORY_COUNT;
        directories = optional + PE64_DIRECTORIES;
    } else {
        return 0;
    }
    uint32_t entry = directories + PE_SECURITY_INDEX * PE_ENTRY_SIZE;
    if (entry + PE_ENTRY_SIZE > (uint32_t)headSize) return 0;
    if (Le_Get32(head + countAt) <= PE_SECURITY_INDEX) return 0;
    signature->ChecksumOffset = (int32_t)(optional + PE_OPT_CHECKSUM);
    signature->EntryOffset = (int32_t)entry;
    signature->TableOffset = Le_Get32(head + entry);
    signature->TableSize = Le_Get32(head + entry + 4);
    return 1;
}

int Pe_IsSigned(const PeSignature *signature, int64_t fileLength) {
    CORE_GUARD(signature);
    return signature->TableOffset > 0 && signature->TableSize > 0 &&
           (int64_t)signature->TableOffset + signature->TableSize == fileLength;
}

// The first bytes of the file at path (up to PE_HEAD_SIZE, *got of them) and its *length.
// Returns 0 when it cannot be opened or read, or its length cannot be told.
static int ReadHead(const char *path, uint8_t head[PE_HEAD_SIZE], int32_t *got, int64_t *length) {
    SysFile *file = Sys_FileOpen(path, "rb");
    if (!file) return 0;
    int read = Sys_FileRead(file, head, PE_HEAD_SIZE, got);
    int64_t end = read ? Sys_FileLength(file) : -1;
    Sys_FileClose(file);
    *length = end;
    return read && end >= 0;
}

int Pe_FileSignature(const char *path, PeSignature *signature, int64_t *fileLength) {
    CORE_GUARD(path);
    CORE_GUARD(signature);
    CORE_GUARD(fileLength);
    memset(signature, 0, sizeof *signature);
    *fileLength = 0;
    uint8_t head[PE_HEAD_SIZE];
    int32_t got = 0;
    int64_t end = 0;
    if (!ReadHead(path, head, &got, &end)) return 0;
    *fileLength = end;
    return Pe_ReadSignature(head, got, signature) && Pe_IsSigned(signature, end);
}

int Pe_ReadImageEnd(const uint8_t *head, int32_t headSize, uint32_t *imageEnd) {
    CORE_GUARD(head);
    CORE_GUARD(imageEnd);
    *imageEnd = 0;
    uint32_t pe = NewHeaderAt(head, headSize); // the file header lies inside the head
    if (!pe) return 0;
    uint32_t count = Le_Get16(head + pe + PE_SECTION_COUNT);
    uint32_t table = pe + PE_FILE_HEADER_SIZE + Le_Get16(head + pe + PE_OPTIONAL_SIZE); // no wrap
    if (table + count * PE_SECTION_SIZE > (uint32_t)headSize) return 0;
    uint64_t end = 0;
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t *section = head + table + i * PE_SECTION_SIZE;
        uint64_t size = Le_Get32(section + PE_SECTION_RAW_SIZE);
        uint64_t sectionEnd = Le_Get32(section + PE_SECTION_RAW_POINTER) + size;
        if (size > 0 && sectionEnd > end) end = sectionEnd;
    }
    if (end == 0 || end > 0xFFFFFFFFu) return 0;
    *imageEnd = (uint32_t)end;
    return 1;
}

int Pe_FileIsBareImage(const char *path) {
    CORE_GUARD(path);
    uint8_t head[PE_HEAD_SIZE];
    int32_t got = 0;
    int64_t length = 0;
    uint32_t imageEnd = 0;
    return ReadHead(path, head, &got, &length) && Pe_ReadImageEnd(head, got, &imageEnd) &&
           length == (int64_t)imageEnd;
}
