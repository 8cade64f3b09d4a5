// The FFS archive reader: header and trailer, the directory of name hashes held in memory, entry
// blocks read raw or through a codec, whole or in pieces, sequential mode, the disk-file fallback
// while no archive is open. Bytes the file did not give are never trusted: a directory or an
// entry reaching past the end of the file is refused before anything is allocated for it.
#include "ffs.h"

#include <string.h>
#include <sys/stat.h>

#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tessel-str.h"
#include "tessel-sys.h"

static struct {
    SysFile *file;
    int open; // an archive is open (its directory may be empty)
    int32_t fileLength;
    uint32_t flags;
    uint32_t archiveSize;
    uint32_t entryCount;
    FfsEntry *directory; // entryCount entries, null for an empty archive
    FfsCodec *codecs;
} F;

static int ReadWord(uint32_t *value) {
    uint8_t bytes[4];
    if (!Ffs_Read(bytes, 4)) return 0;
    *value = Le_Get32(bytes);
    return 1;
}

static int32_t DirectoryBytes(void) { return (int32_t)(F.entryCount * FFS_DIRECTORY_ENTRY_SIZE); }

static void CloseFile(void) {
    if (F.file) Sys_FileClose(F.file);
    F.file = NULL;
}

// ---- Internal steps ----

int Ffs_Tell(int32_t *position) {
    CORE_GUARD(position);
    if (!F.file) return 0;
    int64_t at = Sys_FileTell(F.file);
    if ((uint64_t)at > INT32_MAX) return 0; // unknown, or past 2 GB
    *position = (int32_t)at;
    return 1;
}

int Ffs_Seek(int32_t position) {
    if (!F.file || position < 0) return 0;
    return Sys_FileSeek(F.file, position);
}

int Ffs_Read(void *buffer, int32_t n) {
    CORE_GUARD(buffer);
    if (!F.file || n < 0) return 0;
    int32_t got = 0;
    return Sys_FileRead(F.file, buffer, n, &got) && got == n;
}

int Ffs_Peek(void *buffer, int32_t n) {
    CORE_GUARD(buffer);
    int32_t position = 0;
    if (!Ffs_Tell(&position)) return 0;
    int read = Ffs_Read(buffer, n);
    int back = Ffs_Seek(position);
    return read && back;
}

uint32_t Ffs_HashNameFlags(const char *name, uint32_t flags) {
    CORE_GUARD(name);
    char working[FFS_NAME_SIZE];
    int length = Str_Length(name);
    // Longer names cannot be in an archive; they are hashed whole and never cut to another name.
    if (length >= FFS_NAME_SIZE) return Core_Crc32(name, length);
    memcpy(working, name, (size_t)length + 1);
    if (flags & FFS_FLAG_UPPER_NAMES) Str_Upper(working);
    return Core_Crc32(working, length);
}

uint32_t Ffs_HashName(const char *name) { return Ffs_HashNameFlags(name, F.flags); }

static const FfsEntry *FindEntry(uint32_t hash) {
    uint32_t low = 0, high = F.entryCount;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        uint32_t key = F.directory[middle].Hash;
        if (key == hash) return &F.directory[middle];
        if (key < hash)
            low = middle + 1;
        else
            high = middle;
    }
    return NULL;
}

int Ffs_FindEntry(uint32_t hash, FfsEntry *entry) {
    CORE_GUARD(entry);
    const FfsEntry *found = F.open ? FindEntry(hash) : NULL;
    if (!found) return 0;
    *entry = *found;
    return 1;
}

// Leaves the file behind the block header of hash's directory entry, with the stored length in
// *length. 0 when no entry has the hash, or its header lies outside the file, cannot be read or
// names another hash ("FFS: Pos Fail" logged when log is set).
static int SeekByDirectory(uint32_t hash, uint32_t *length, int log) {
    const FfsEntry *entry = FindEntry(hash);
    uint32_t value = 0;
    if (!entry || entry->BlockOffset > 0x7FFFFFFF || !Ffs_Seek((int32_t)entry->BlockOffset))
        return 0;
    if (!ReadWord(&value)) value = 0;
    if (value != hash) {
        if (log) Log_Print("FFS: Pos Fail %x != %x\n", hash, value);
        return 0;
    }
    return ReadWord(length);
}

int Ffs_SeekEntry(uint32_t hash, int32_t *storedLength) {
    CORE_GUARD(storedLength);
    uint32_t value = 0, length = 0;
    int found = 0;
    if (F.flags & FFS_FLAG_SEQUENTIAL) {
        if (ReadWord(&value) && value == hash && ReadWord(&length))
            found = 1;
        else
            F.flags &= ~(uint32_t)FFS_FLAG_SEQUENTIAL; // off until the next Ffs_Open
    }
    if (!found && !SeekByDirectory(hash, &length, 1)) return 0;
    *storedLength = (int32_t)length;
    return length != 0;
}

// 1 when length stored bytes follow the current position inside the file.
static int StoredBytesInFile(int32_t length) {
    int32_t position = 0;
    if (length < 0 || !Ffs_Tell(&position)) return 0;
    return length <= F.fileLength - position;
}

static FfsCodec *IdentifyCodec(const uint8_t *block) {
    if (Ref_Codec.Identify(block)) return &Ref_Codec; // the reader's own
    for (FfsCodec *codec = F.codecs; codec; codec = codec->Next)
        if (codec->Identify(block) == 1) return codec;
    return NULL;
}

// ---- Entries, whole or in pieces ----

// The *codec (null: raw) and the file's *size of the length stored bytes at the file's position,
// which stays there. 0 when they cannot be read, or when the codec cannot tell the size ("[%s]
// Unable to get size" logged when log is set).
static int PeekStored(int32_t length, FfsCodec **codec, int32_t *size, int log) {
    // A codec looks at the first 16 bytes; a shorter block is shown zeros after its end.
    uint8_t peek[FFS_PEEK_SIZE] = {0};
    int32_t position = 0;
    if (!Ffs_Tell(&position) || !Ffs_Read(peek, length < FFS_PEEK_SIZE ? length : FFS_PEEK_SIZE) ||
        !Ffs_Seek(position))
        return 0;
    *codec = IdentifyCodec(peek);
    *size = length;
    if (*codec && !(*codec)->GetSize(peek, size)) {
        if (log) Log_Print("[%s] Unable to get size\n", (*codec)->Name);
        return 0;
    }
    return 1;
}

// The entry's stored bytes found and identified: the file at their first byte, *length of them,
// their *codec (null: raw) and *size, the file's size. 0 when the entry is missing, reaches past
// the end of the file or cannot be read, or when its codec cannot tell its size (logged).
static int FindStored(uint32_t hash, int32_t *length, FfsCodec **codec, int32_t *size) {
    return Ffs_SeekEntry(hash, length) && StoredBytesInFile(*length) &&
           PeekStored(*length, codec, size, 1);
}

// The stored bytes of the entry of hash by the directory, from minimum to limit bytes, with their
// codec and size: the file at their first byte. Lines logged when log is set.
static int FindByDirectory(uint32_t hash, int32_t minimum, int32_t limit, int log, int32_t *length,
                           FfsCodec **codec, int32_t *size) {
    uint32_t stored = 0;
    if (!SeekByDirectory(hash, &stored, log) || stored < (uint32_t)minimum ||
        stored > (uint32_t)limit)
        return 0;
    *length = (int32_t)stored;
    return StoredBytesInFile(*length) && PeekStored(*length, codec, size, log);
}

int Reader_FindSource(uint32_t hash, int32_t *length, FfsCodec **codec, int32_t *size) {
    return FindByDirectory(hash, 0, INT32_MAX, 1, length, codec, size);
}

typedef struct StreamTarget {
    FfsSink sink;
    void *context;
    int refused; // the sink returned 0
} StreamTarget;

static int HandOn(void *context, const uint8_t *data, int32_t n) {
    StreamTarget *target = (StreamTarget *)context;
    if (target->sink(target->context, data, n)) return 1;
    target->refused = 1;
    return 0;
}

static int ReadStored(void *context, uint8_t *buffer, int32_t n) {
    (void)context;
    return Ffs_Read(buffer, n);
}

// Exactly length bytes of file from its position to the target, a piece at a time.
static int CopyPieces(SysFile *file, int32_t length, StreamTarget *target) {
    uint8_t *piece = (uint8_t *)TESSEL_ALLOC(FFS_PIECE_SIZE);
    int result = 1;
    for (int32_t left = length; result && left > 0;) {
        int32_t n = left < FFS_PIECE_SIZE ? left : FFS_PIECE_SIZE;
        int32_t got = 0;
        result = Sys_FileRead(file, piece, n, &got) && got == n && HandOn(target, piece, n);
        left -= n;
    }
    TESSEL_FREE(piece, FFS_PIECE_SIZE);
    return result;
}

// The stored bytes that FindStored found, decoded, to the target in pieces. 0 when a read, the
// codec ("[%s] Failed to decompress" logged) or the sink failed.
static int PassStored(int32_t length, FfsCodec *codec, int32_t size, StreamTarget *target) {
    if (!codec) return CopyPieces(F.file, length, target);
    if (codec == &Ref_Codec) return Ref_Stream(length, size, HandOn, target, &target->refused);
    if (codec->DecompressStream &&
        codec->DecompressStream(ReadStored, NULL, length, HandOn, target, size))
        return 1;
    if (!target->refused) Log_Print("[%s] Failed to decompress\n", codec->Name);
    return 0;
}

int Reader_CopyRaw(int32_t length, FfsSink sink, void *context) {
    StreamTarget target = {sink, context, 0};
    return CopyPieces(F.file, length, &target);
}

// A caller's buffer filled by the pieces, never past its capacity.
typedef struct Filling {
    uint8_t *buffer;
    int32_t capacity;
    int32_t filled;
} Filling;

static int Fill(void *context, const uint8_t *data, int32_t n) {
    Filling *filling = (Filling *)context;
    if (n > filling->capacity - filling->filled) return 0;
    memcpy(filling->buffer + filling->filled, data, (size_t)n);
    filling->filled += n;
    return 1;
}

int Ffs_LoadEntry(uint32_t hash, void *buffer, int32_t size) {
    CORE_GUARD(buffer);
    int32_t length = 0, entrySize = 0;
    FfsCodec *codec = NULL;
    if (!FindStored(hash, &length, &codec, &entrySize)) return 0;
    if (entrySize != size) {
        if (codec)
            Log_Print("[%s] Memory size not same (%d != %d)\n", codec->Name, entrySize, size);
        else
            Log_Print("Incompatible sizes (%d != %d)\n", length, size);
        return 0;
    }
    if (!codec) return Ffs_Read(buffer, length);
    Filling filling = {(uint8_t *)buffer, size, 0};
    StreamTarget target = {Fill, &filling, 0};
    return PassStored(length, codec, size, &target);
}

static int StreamEntry(uint32_t hash, StreamTarget *target) {
    int32_t length = 0, size = 0;
    FfsCodec *codec = NULL;
    return FindStored(hash, &length, &codec, &size) && PassStored(length, codec, size, target);
}

// ---- Disk files, while no archive is open ----

static int DiskSize(const char *name, int32_t *size) {
    struct stat status;
    if (stat(name, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    if (status.st_size < 0 || status.st_size > 0x7FFFFFFF) return 0;
    *size = (int32_t)status.st_size;
    return 1;
}

static int DiskLoad(const char *name, void *buffer, int32_t size) {
    if (size < 0) return 0;
    SysFile *file = Sys_FileOpen(name, "rb");
    if (!file) return 0;
    int32_t got = 0;
    int read = Sys_FileRead(file, buffer, size, &got) && got == size;
    Sys_FileClose(file);
    if (!read) {
        Log_Print("Unable to read from file '%s'\n", name);
        return 0;
    }
    return 1;
}

static int StreamDisk(const char *name, StreamTarget *target) {
    int32_t size = 0;
    if (!DiskSize(name, &size)) return 0;
    SysFile *file = Sys_FileOpen(name, "rb");
    if (!file) return 0;
    int result = CopyPieces(file, size, target);
    Sys_FileClose(file);
    return result;
}

// ---- Public operations ----

uint32_t Ffs_Flags(void) { return F.open ? F.flags : 0; }

static int FailOpen(void) {
    CloseFile();
    F.entryCount = 0;
    F.flags = 0;
    return 0;
}

static int HasTag(void) {
    char tag[4];
    return Ffs_Read(tag, 4) && memcmp(tag, FFS_TAG, 4) == 0;
}

// The end of the open file's archive part into F.fileLength: the file's length (0 when unknown
// or beyond 2 GB: nothing to read), or for a signed setup the start of the certificate table
// that signing appended, before which the trailer is looked for.
static void FindFileEnd(void) {
    int64_t end = Sys_FileLength(F.file);
    if ((uint64_t)end > 0x7FFFFFFF) end = 0;
    F.fileLength = (int32_t)end;
    uint8_t head[PE_HEAD_SIZE];
    PeSignature signature;
    int32_t got = 0;
    if (Ffs_Seek(0) && Sys_FileRead(F.file, head, (int32_t)sizeof head, &got) &&
        Pe_ReadSignature(head, got, &signature) && Pe_IsSigned(&signature, F.fileLength))
        F.fileLength = (int32_t)signature.TableOffset;
}

int Ffs_Open(const char *path, int32_t offset) {
    CORE_GUARD(path);
    Ref_Reset();
    F.codecs = NULL;
    F.file = Sys_FileOpen(path, "rb");
    if (!F.file) {
        Log_Print("Couldn't open flat file '%s'!\n", path);
        return 0;
    }
    FindFileEnd();
    if (F.fileLength < offset) {
        Log_Print("Offset too large for flat file '%s' (%d < %d)!\n", path, F.fileLength, offset);
        return FailOpen();
    }
    if (!(Ffs_Seek(offset) && HasTag())) {
        uint32_t trailer = 0;
        if (!(Ffs_Seek(F.fileLength - FFS_TRAILER_SIZE) && ReadWord(&trailer))) trailer = 0;
        if (trailer == 0 || trailer >= (uint32_t)F.fileLength) {
            Log_Print("File '%s' doesn't contain FFS data!\n", path);
            return FailOpen();
        }
        if (!(Ffs_Seek((int32_t)trailer) && HasTag())) {
            Log_Print("FFS Does not contain proper tag (Read %d from %d)!!!\n", (int)trailer,
                      F.fileLength - FFS_TRAILER_SIZE);
            return FailOpen();
        }
    }
    // A header cut short reads as zeros, which no check word accepts; flags that cannot be read
    // (they have no check word) leave the directory unread.
    uint32_t count = 0, countCheck = 0, size = 0, sizeCheck = 0, flags = 0;
    int whole = ReadWord(&count) && ReadWord(&countCheck) && ReadWord(&size) &&
                ReadWord(&sizeCheck) && ReadWord(&flags);
    if (count != ~countCheck) {
        Log_Print("FFS: CMatch Fail %d != %d\n", (int)count, (int)~countCheck);
        return FailOpen();
    }
    if (size != ~sizeCheck) {
        Log_Print("FFS: SMatch Fail %d != %d\n", (int)size, (int)~sizeCheck);
        return FailOpen();
    }
    int32_t position = 0;
    if (!Ffs_Tell(&position)) position = F.fileLength; // an unknown place: nothing known left
    uint64_t wanted = (uint64_t)count * FFS_DIRECTORY_ENTRY_SIZE;
    if (!whole || wanted > (uint64_t)(F.fileLength - position)) {
        Log_Print("FFS: Directory cut short (%u entries, %d bytes left)\n", count,
                  F.fileLength - position);
        return FailOpen();
    }
    F.entryCount = count;
    F.archiveSize = size;
    F.flags = flags;
    if (count > 0) {
        F.directory = (FfsEntry *)TESSEL_ALLOC(DirectoryBytes());
        uint8_t *raw = (uint8_t *)F.directory;
        if (!Ffs_Read(raw, DirectoryBytes())) {
            Log_Print("FFS: Directory cut short (%u entries, %d bytes left)\n", count,
                      F.fileLength - position);
            TESSEL_FREE(F.directory, DirectoryBytes());
            return FailOpen();
        }
        // The entries are stored little-endian; decode them in place.
        for (uint32_t i = 0; i < count; i++) {
            uint32_t hash = Le_Get32(raw + i * 8), blockOffset = Le_Get32(raw + i * 8 + 4);
            F.directory[i].Hash = hash;
            F.directory[i].BlockOffset = blockOffset;
        }
    }
    F.open = 1;
    Log_Print("Flat/Fast File System Initialized...\n");
    return 1;
}

int Ffs_AddCodec(FfsCodec *codec) {
    CORE_GUARD(codec);
    FfsCodec **link = &F.codecs;
    while (*link) link = &(*link)->Next;
    codec->Init();
    codec->Next = NULL;
    *link = codec;
    return 1;
}

int Ffs_GetEntrySize(uint32_t hash, int32_t *size) {
    CORE_GUARD(size);
    int32_t length = 0;
    if (!Ffs_SeekEntry(hash, &length)) return 0;
    uint8_t peek[FFS_PEEK_SIZE];
    if (!Ffs_Peek(peek, FFS_PEEK_SIZE)) {
        Log_Print("Unable to peek into compressed data\n");
        return 0;
    }
    FfsCodec *codec = IdentifyCodec(peek);
    if (!codec) {
        *size = length;
        return 1;
    }
    if (!codec->GetSize(peek, size)) {
        Log_Print("[%s] Unable to get size\n", codec->Name);
        return 0;
    }
    return 1;
}

int Ffs_GetSize(const char *name, int32_t *size) {
    CORE_GUARD(name);
    CORE_GUARD(size);
    if (!F.open) return DiskSize(name, size);
    return Ffs_GetEntrySize(Ffs_HashName(name), size);
}

uint32_t Ffs_EntryCount(void) { return F.open ? F.entryCount : 0; }

int Ffs_EntryAt(uint32_t index, uint32_t *hash, uint32_t *blockOffset) {
    CORE_GUARD(hash);
    CORE_GUARD(blockOffset);
    if (!F.open || index >= F.entryCount) return 0;
    *hash = F.directory[index].Hash;
    *blockOffset = F.directory[index].BlockOffset;
    return 1;
}

int Ffs_Load(const char *name, void *buffer, int32_t size) {
    CORE_GUARD(name);
    CORE_GUARD(buffer);
    if (!F.open) return DiskLoad(name, buffer, size);
    return Ffs_LoadEntry(Ffs_HashName(name), buffer, size);
}

int Ffs_Stream(const char *name, FfsSink sink, void *context) {
    CORE_GUARD(name);
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(sink != NULL, "Pointer is NULL...\n");
    StreamTarget target = {sink, context, 0};
    int result = F.open ? StreamEntry(Ffs_HashName(name), &target) : StreamDisk(name, &target);
    if (!result && !target.refused) Log_Print("Unable to load '%s'\n", name);
    return result;
}

int Ffs_StreamEntry(uint32_t hash, FfsSink sink, void *context) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(sink != NULL, "Pointer is NULL...\n");
    StreamTarget target = {sink, context, 0};
    return F.open && StreamEntry(hash, &target);
}

int Ffs_LoadBlock(const char *name, int32_t limit, int32_t extra, int log, FfsBlock *block) {
    CORE_GUARD(name);
    CORE_GUARD(block);
    block->Data = nullptr;
    block->Size = block->Allocated = 0;
    int32_t size = 0;
    if (!Ffs_GetSize(name, &size)) {
        if (log) Log_Print("Unable to get size for '%s'\n", name);
        return FFS_LOAD_NO_SIZE;
    }
    block->Size = size;
    // A damaged entry's size, or one whose block with its extra bytes would not fit 31 bits.
    if (size < 0 || size > limit || extra < 0 || size > INT32_MAX - extra) {
        if (log) Log_Print("Unable to load '%s'\n", name);
        return FFS_LOAD_TOO_LARGE;
    }
    // The memory manager takes no empty block: an empty file still gets one byte.
    block->Allocated = size + extra > 0 ? size + extra : 1;
    block->Data = (uint8_t *)TESSEL_ALLOC(block->Allocated);
    if (!Ffs_Load(name, block->Data, size)) {
        if (log) Log_Print("Unable to load '%s'\n", name);
        Ffs_FreeBlock(block);
        return FFS_LOAD_FAILED;
    }
    return FFS_LOAD_DONE;
}

int Ffs_FreeBlock(FfsBlock *block) {
    CORE_GUARD(block);
    if (block->Data) TESSEL_FREE(block->Data, block->Allocated);
    block->Data = nullptr;
    block->Allocated = 0;
    return 1;
}

// The same without a log line, for a block of FFS_PEEK_SIZE to limit bytes, and where it begins.
static int LocateBlock(uint32_t hash, int32_t limit, int32_t *offset, int32_t *length,
                       FfsCodec **codec, int32_t *size) {
    return FindByDirectory(hash, FFS_PEEK_SIZE, limit, 0, length, codec, size) && Ffs_Tell(offset);
}

int Ffs_LocateStored(const char *name, int32_t minimum, int32_t limit, FfsStored *stored) {
    CORE_GUARD(name);
    CORE_GUARD(stored);
    memset(stored, 0, sizeof *stored);
    if (!F.open) return 0;
    uint32_t hash = Ffs_HashName(name);
    int32_t offset = 0, length = 0, size = 0;
    FfsCodec *codec = NULL;
    if (!LocateBlock(hash, limit, &offset, &length, &codec, &size)) return 0;
    FfsRef ref = {size, hash, 0};
    if (codec == &Ref_Codec) { // the source's bytes, where the file lies
        uint8_t record[FFS_REF_SIZE];
        if (length != FFS_REF_SIZE || !Ffs_Read(record, FFS_REF_SIZE) ||
            !Ffs_ReadRef(record, FFS_REF_SIZE, &ref) ||
            !LocateBlock(ref.Source, limit, &offset, &length, &codec, &size) ||
            ref.Size > size - ref.Offset)
            return 0;
    }
    if (!codec || !codec->DecompressApart || size < minimum || size > limit) return 0;
    stored->Offset = offset;
    stored->Length = length;
    stored->Size = size;
    stored->Codec = codec;
    stored->Source = ref.Source;
    stored->Part = ref.Offset;
    stored->PartSize = ref.Size;
    return 1;
}

int Ffs_ReadStored(FfsStored *stored, uint8_t *block) {
    CORE_GUARD(stored);
    CORE_GUARD(block);
    if (!F.open || !stored->Codec || !Ffs_Seek(stored->Offset) || !Ffs_Read(block, stored->Length))
        return 0;
    stored->Block = block;
    return 1;
}

int Ffs_DecodeStored(const FfsStored *stored, uint8_t *output) {
    return stored->Codec->DecompressApart(stored->Block, stored->Length, output, stored->Size);
}

int Ffs_Close(void) {
    for (FfsCodec *codec = F.codecs; codec;) {
        FfsCodec *next = codec->Next;
        codec->Shutdown();
        codec = next;
    }
    F.codecs = NULL;
    Ref_Reset();
    if (F.open) {
        CloseFile();
        if (F.directory) TESSEL_FREE(F.directory, DirectoryBytes());
        F.open = 0;
        F.entryCount = 0;
        F.flags = 0;
    }
    Log_Print("Flat/Fast File System Removed...\n");
    return 1;
}
