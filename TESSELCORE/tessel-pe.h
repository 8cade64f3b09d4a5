// The two places of a Windows image that code signing rewrites, read from its PE header: the
// checksum and the security directory entry, which names the certificate table that signing
// appends to the file. The archive reader finds a signed setup's archive before that table,
// and the integrity check leaves those 12 bytes out of a signed setup's check sum. The machine
// field tells 'ffspack test' which Wine runs a setup; where the sections end tells the setup
// whether anything was ever appended to it.
#pragma once
#include <stdint.h>

enum {
    PE_HEAD_SIZE = 1024,  // the bytes of a file's start that hold every header read here
    PE_CHECKSUM_SIZE = 4, // the checksum field
    PE_ENTRY_SIZE = 8,    // the security directory entry: the table's offset and size
    PE_SECTION_SIZE = 40, // a section header
    PE_MACHINE_I386 = 0x14C,
    PE_MACHINE_AMD64 = 0x8664,
};

typedef struct PeSignature {
    int32_t ChecksumOffset; // file offset of the checksum field
    int32_t EntryOffset;    // file offset of the security directory entry
    uint32_t TableOffset;   // the entry's file offset of the certificate table; 0 when none
    uint32_t TableSize;     // the entry's size of the table in bytes
} PeSignature;

// Reads the PE header from the first headSize bytes of a file (PE32 or PE32+, with a security
// directory entry). Returns 1 with the fields set, 0 when the bytes are no such image.
int Pe_ReadSignature(const uint8_t *head, int32_t headSize, PeSignature *signature);
// Reads the machine field of the file header from the first headSize bytes of a file
// (PE_MACHINE_I386, PE_MACHINE_AMD64, ...). Returns 1 with *machine set, 0 with *machine 0 when
// the bytes are no PE image.
int Pe_ReadMachine(const uint8_t *head, int32_t headSize, uint16_t *machine);
// 1 when the image names a certificate table that ends exactly at fileLength (a signed file).
int Pe_IsSigned(const PeSignature *signature, int64_t fileLength);
// Reads the start of the file at path and fills *signature. Returns 1 when the file is a signed
// image (Pe_IsSigned with its length), 0 otherwise (also when it cannot be read).
int Pe_FileSignature(const char *path, PeSignature *signature, int64_t *fileLength);
// Reads the section table from the first headSize bytes of a file: *imageEnd is the offset at
// which the file data of its last section ends (sections without file data do not count); what
// lies behind it was appended. Returns 1, or 0 with *imageEnd 0 when the bytes are no PE image,
// its section table does not lie whole inside them, or no section has file data.
int Pe_ReadImageEnd(const uint8_t *head, int32_t headSize, uint32_t *imageEnd);
// 1 when the file at path is a PE image whose length is its image end: nothing appended to it.
// 0 otherwise, also when it cannot be read.
int Pe_FileIsBareImage(const char *path);
