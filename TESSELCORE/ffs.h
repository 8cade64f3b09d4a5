// The FFS archive reader: one archive per process (appended to the setup program or standing
// alone), its directory of name hashes, codec plug-ins for compressed entries, and the fallback
// to ordinary disk files while no archive is open. Used by start-up, the script loader, the
// settings, the backdrop fonts, the file installation and the text dialogs.
#pragma once
#include <stdint.h>

enum {
    FFS_HEADER_SIZE = 24,
    FFS_DIRECTORY_ENTRY_SIZE = 8,
    FFS_BLOCK_HEADER_SIZE = 8, // name hash and stored length before the stored bytes
    FFS_PEEK_SIZE = 16,        // bytes a codec may look at to identify a block and its size
    FFS_NAME_SIZE = 320,       // names are at most 319 characters
    FFS_TRAILER_SIZE = 4,
    FFS_FLAG_SEQUENTIAL = 0x1,
    FFS_FLAG_UPPER_NAMES = 0x2,
    FFS_PIECE_SIZE = 65536, // the pieces in which Ffs_Stream reads a raw entry or a disk file
};

#define FFS_TAG "FFS!"
// The stored bytes of an entry whose file lies inside another entry's (a member of a solid
// group, or a copy of a file stored once): the tag, the complement of the file's size, the hash
// of the entry that holds it (its source) and where the file begins in the source's bytes, each
// a little-endian word. A source is never a reference itself.
#define FFS_REF_TAG "FFG@"
enum { FFS_REF_SIZE = 16 };

// One directory entry: the name hash and the absolute offset of the entry's block.
typedef struct FfsEntry {
    uint32_t Hash;
    uint32_t BlockOffset;
} FfsEntry;

// Reading in pieces. A source fills buffer with exactly the next n stored bytes: 1, or 0 when
// they cannot be read. A sink takes the next n (at least 1) bytes of a file: 1 to go on, 0 to
// stop the reading.
typedef int (*FfsSource)(void *context, uint8_t *buffer, int32_t n);
typedef int (*FfsSink)(void *context, const uint8_t *data, int32_t n);

// A compression method. The record belongs to the codec's module; the reader only links it.
typedef struct FfsCodec {
    const char *Name;
    const char *Version;
    // in: *blockLength is the output capacity; out: the block's length.
    int (*Compress)(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength);
    // Decodes a whole block into exactly outputLength bytes (for the tools: the reader decodes
    // in pieces, through DecompressStream).
    int (*Decompress)(const uint8_t *block, int32_t blockLength, uint8_t *output,
                      int32_t outputLength);
    // Both decide from the first FFS_PEEK_SIZE bytes of a block.
    int (*GetSize)(const uint8_t *block, int32_t *size);
    int (*Identify)(const uint8_t *block);
    int (*Init)(void);
    int (*Shutdown)(void);
    struct FfsCodec *Next;
    // Decodes a block of blockLength bytes, read through source, into exactly outputLength bytes
    // handed to sink, holding neither whole; 0 when it cannot or the sink stops it. A codec
    // without it (null) cannot be read.
    int (*DecompressStream)(FfsSource source, void *sourceContext, int32_t blockLength,
                            FfsSink sink, void *sinkContext, int32_t outputLength);
    // Decodes a whole block as Decompress does, with a working state of its own and without the
    // memory manager or the log: callable on another thread while the reader goes on. Null where
    // the codec has none (its entries are then decoded on the reader's thread only).
    int (*DecompressApart)(const uint8_t *block, int32_t blockLength, uint8_t *output,
                           int32_t outputLength);
    // A block decoded in pieces that the caller asks for one after the other (the files of a
    // solid group, in order): StreamOpen reads the block's start through source and returns the
    // decoding's state, null when it cannot; StreamNext hands the next n bytes to sink, 1, or 0
    // at a failure (the state then fails every call); StreamClose releases the state. Null where
    // the codec has none (a group is then decoded from its start for each file).
    void *(*StreamOpen)(FfsSource source, void *sourceContext, int32_t blockLength,
                        int32_t outputLength);
    int (*StreamNext)(void *stream, int32_t n, FfsSink sink, void *sinkContext);
    void (*StreamClose)(void *stream);
} FfsCodec;

// A reference record, read and checked.
typedef struct FfsRef {
    int32_t Size;    // the file's size, 1 to INT32_MAX
    uint32_t Source; // the hash of the entry that holds it
    int32_t Offset;  // its first byte in the source's bytes, 0 to INT32_MAX - Size
} FfsRef;

// 1 when the blockLength stored bytes at block are a reference record, with *ref filled; 0 for
// any other block, and for a record refused (ref untouched): not FFS_REF_SIZE bytes, a size
// below 1, an offset below 0, or a file that would end past INT32_MAX.
int Ffs_ReadRef(const uint8_t *block, int32_t blockLength, FfsRef *ref);
// 1 when the first bytes of a block (FFS_PEEK_SIZE of them) begin with the reference tag.
int Ffs_IsRef(const uint8_t *block);

// Opens path and finds the archive at offset, or through the file's trailer. Returns 1 with the
// directory loaded and the file kept open; 0 with one log line and no archive open.
int Ffs_Open(const char *path, int32_t offset);
// Calls the codec's Init and appends it to the codec list (which Ffs_Open empties). Returns 1.
int Ffs_AddCodec(FfsCodec *codec);
// The named file's size: an entry's uncompressed size, or a disk file's size while no archive
// is open. Returns 0 when the file is missing (no log line) or cannot be read.
int Ffs_GetSize(const char *name, int32_t *size);
// Fills buffer with exactly size bytes of the named file; size must be what Ffs_GetSize gave.
// Returns 0 on failure, leaving the buffer untouched or partly written.
int Ffs_Load(const char *name, void *buffer, int32_t size);
// Hands the named file to sink in pieces as it is read and decoded, without holding it whole:
// an entry of the open archive (the same bytes as Ffs_Load), or a disk file while none is open.
// Returns 1 when every byte went to the sink (none for an empty disk file). Returns 0 when the
// sink returned 0, without a log line (the sink's owner says why); and when the file is missing
// or cannot be read or decoded, with the codec's line as for Ffs_Load and "Unable to load
// '%s'\n". The sink has then had a start of the file, and must not use the reader.
int Ffs_Stream(const char *name, FfsSink sink, void *context);
// Ffs_Stream for the entry of hash in the open archive, whose name the caller may not know (the
// builder's check of every entry). Returns 0 also when no archive is open.
int Ffs_StreamEntry(uint32_t hash, FfsSink sink, void *context);
// An entry's stored bytes, found (Ffs_LocateStored) and read whole into the caller's memory
// (Ffs_ReadStored), to be decoded apart from the reader.
typedef struct FfsStored {
    int32_t Offset;  // where the stored bytes lie in the archive
    int32_t Length;  // their count
    int32_t Size;    // the file's size
    FfsCodec *Codec; // the codec that decodes them
    uint8_t *Block;  // the stored bytes once read, in the caller's memory
    // The named file in the decoded bytes: the entry's own, or for a reference, its source's
    // (a solid group holds many files).
    uint32_t Source;  // the hash of the entry whose bytes these are
    int32_t Part;     // where the file begins in them
    int32_t PartSize; // its size
} FfsStored;

// Finds the stored bytes of the named entry of the open archive, or for a reference those of its
// source, when a codec with DecompressApart decodes them and their decoded size and stored length
// lie from minimum to limit (the length from FFS_PEEK_SIZE): 1 with *stored filled but nothing
// read yet (Block null), else 0. Never logs: whoever reads the entry the
// ordinary way afterwards says what is wrong with it.
int Ffs_LocateStored(const char *name, int32_t minimum, int32_t limit, FfsStored *stored);
// Reads the stored bytes that Ffs_LocateStored found into block (stored->Length bytes), which
// becomes stored->Block. 1, or 0 when they cannot be read (not logged).
int Ffs_ReadStored(FfsStored *stored, uint8_t *block);
// Decodes what Ffs_ReadStored read into output (stored->Size bytes): no reader, log or memory
// manager involved, so another thread may call it while the reader goes on. 1, or 0 when the
// codec fails.
int Ffs_DecodeStored(const FfsStored *stored, uint8_t *output);
// A named file loaded whole into a block of its own (Ffs_LoadBlock).
typedef struct FfsBlock {
    uint8_t *Data;     // zero-filled, Size bytes of the file and the caller's extra bytes
    int32_t Size;      // the file's size
    int32_t Allocated; // the block's size: Size + extra, at least 1
} FfsBlock;

enum {
    FFS_LOAD_DONE = 1,
    FFS_LOAD_NO_SIZE = 0,    // the file is missing or its size cannot be read
    FFS_LOAD_TOO_LARGE = -1, // its size is negative or above the caller's limit
    FFS_LOAD_FAILED = -2,    // it cannot be loaded
};

// The one way a file of the installation is read whole: its size, checked against limit (and
// against what a block with extra more bytes can hold), a new zero-filled block, the load.
// Returns FFS_LOAD_DONE with *block filled, or one of the failures with block->Data null (and
// block->Size the size, when it was had). With log 1 each failure writes one line: "Unable to
// get size for '%s'\n" for FFS_LOAD_NO_SIZE, "Unable to load '%s'\n" for the others.
int Ffs_LoadBlock(const char *name, int32_t limit, int32_t extra, int log, FfsBlock *block);
// Releases the block's memory and empties the record. Returns 1.
int Ffs_FreeBlock(FfsBlock *block);
// Shuts the codecs down, closes the archive and frees the directory. Returns 1, also when no
// archive is open.
int Ffs_Close(void);

// The internal steps, exported for the tests and the tools. Each returns 1/0 as the reader's
// contract says; all are 0 while no archive file is open.
int Ffs_Tell(int32_t *position);
int Ffs_Seek(int32_t position);
int Ffs_Read(void *buffer, int32_t n);
int Ffs_Peek(void *buffer, int32_t n);
// Binary search of the directory (unsigned hashes): 1 with *entry filled, 0 when no entry of
// the open archive has the hash.
int Ffs_FindEntry(uint32_t hash, FfsEntry *entry);
// CRC-32 of the name (upper-cased first when the open archive's flags say so).
uint32_t Ffs_HashName(const char *name);
// The same for an archive of the given flags (the builder's entry point). Names of
// FFS_NAME_SIZE characters or more, which no archive holds, are hashed as they are.
uint32_t Ffs_HashNameFlags(const char *name, uint32_t flags);
// Leaves the file at the entry's first stored byte; 0 for a missing or empty entry.
int Ffs_SeekEntry(uint32_t hash, int32_t *storedLength);
int Ffs_LoadEntry(uint32_t hash, void *buffer, int32_t size);
// Ffs_GetSize of an entry given by its hash (archive open only).
int Ffs_GetEntrySize(uint32_t hash, int32_t *size);
// The directory, for the tools: the entry count and the index-th entry (0 past the end).
uint32_t Ffs_EntryCount(void);
int Ffs_EntryAt(uint32_t index, uint32_t *hash, uint32_t *blockOffset);
// The open archive's flags word (0 while none is open).
uint32_t Ffs_Flags(void);

// ---- The reader's steps between its two files ----
// ffs.cpp reads the archive, its directory and its entries; ffs-ref.cpp the entries that lie
// inside another entry's bytes. Not for callers of the reader.

// The stored bytes of the entry of hash, found by the directory: the file at their first byte,
// *length of them, their *codec (null: raw) and *size, the file's size. 0 when the entry is
// missing, reaches past the end of the file or its codec cannot tell its size (logged).
int Reader_FindSource(uint32_t hash, int32_t *length, FfsCodec **codec, int32_t *size);
// Exactly length raw bytes from the file's position to the sink, a piece at a time.
int Reader_CopyRaw(int32_t length, FfsSink sink, void *context);

// The record of the reference entries ("GROUP"): identified and sized by the reader as a codec,
// streamed by Ref_Stream.
extern FfsCodec Ref_Codec;
// The file of a reference entry whose length stored bytes begin at the file's position, size
// bytes (what its record says), to the sink; the file is left behind the record. A group read in
// order is decoded once: the decoding stays open between its files. 0 when the record is
// damaged, its source is missing, is a reference or is shorter than the record says, or the
// source cannot be read or decoded (each logged), and when the sink refused (not logged; then
// *refused is 1).
int Ref_Stream(int32_t length, int32_t size, FfsSink sink, void *context, int *refused);
// Ends the group being read and releases its memory (at the archive's opening and closing).
void Ref_Reset(void);
