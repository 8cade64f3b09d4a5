// Entries inside another entry's bytes: the reference record, the range of the source handed on
// (raw, or decoded from the source's start), and the group being read, whose decoding stays
// open from one file to the next so that a solid group read in its order is decoded once.
#include <string.h>

#include "ffs.h"
#include "tessel-bytes.h"
#include "tessel-core.h"

int Ffs_IsRef(const uint8_t *block) {
    CORE_GUARD(block);
    return memcmp(block, FFS_REF_TAG, 4) == 0;
}

int Ffs_ReadRef(const uint8_t *block, int32_t blockLength, FfsRef *ref) {
    CORE_GUARD(block);
    CORE_GUARD(ref);
    if (blockLength != FFS_REF_SIZE || !Ffs_IsRef(block)) return 0;
    int32_t size = (int32_t)~Le_Get32(block + 4), offset = (int32_t)Le_Get32(block + 12);
    if (size < 1 || offset < 0 || offset > INT32_MAX - size) return 0;
    ref->Size = size;
    ref->Source = Le_Get32(block + 8);
    ref->Offset = offset;
    return 1;
}

static int Ref_GetSize(const uint8_t *block, int32_t *size) {
    CORE_GUARD(size);
    *size = (int32_t)~Le_Get32(block + 4);
    return 1;
}

static int Ref_Init(void) { return 1; }

// Name, version, Compress, Decompress, GetSize, Identify, Init, Shutdown, Next and the rest: the
// reader streams references itself (Ref_Stream) and never decodes them apart.
FfsCodec Ref_Codec = {"GROUP",  "1.0", NULL, NULL, Ref_GetSize, Ffs_IsRef, Ref_Init,
                      Ref_Init, NULL,  NULL, NULL, NULL,        NULL,      NULL};

// ---- Reading and handing on ----

// Stored bytes read from a place of the file that moves on as they are read: other reads may
// come between two pieces.
static int ReadAt(void *context, uint8_t *buffer, int32_t n) {
    int32_t *at = (int32_t *)context;
    if (!Ffs_Seek(*at) || !Ffs_Read(buffer, n)) return 0;
    *at += n;
    return 1;
}

// The sink of a reference's file, through which the refusal is seen.
typedef struct Target {
    FfsSink sink;
    void *context;
    int refused;
} Target;

static int Pass(void *context, const uint8_t *data, int32_t n) {
    Target *target = (Target *)context;
    if (target->sink(target->context, data, n)) return 1;
    target->refused = 1;
    return 0;
}

static int Discard(void *context, const uint8_t *data, int32_t n) {
    (void)context, (void)data, (void)n;
    return 1;
}

// A source decoded from its start: the skip bytes before the file are dropped, the take bytes of
// the file handed on, and the decoding stopped behind them.
typedef struct Window {
    int32_t skip, take;
    Target *target;
} Window;

static int Cut(void *context, const uint8_t *data, int32_t n) {
    Window *window = (Window *)context;
    if (window->skip >= n) {
        window->skip -= n;
        return 1;
    }
    data += window->skip;
    n -= window->skip;
    window->skip = 0;
    if (n > window->take) n = window->take;
    if (!Pass(window->target, data, n)) return 0;
    window->take -= n;
    return window->take > 0; // the rest of the source is not needed
}

static int FromStart(FfsCodec *codec, int32_t at, int32_t length, int32_t sourceSize,
                     const FfsRef *ref, Target *target) {
    Window window = {ref->Offset, ref->Size, target};
    if (!codec->DecompressStream) return 0;
    codec->DecompressStream(ReadAt, &at, length, Cut, &window, sourceSize);
    return window.take == 0;
}

// ---- The group being read ----

static struct {
    FfsCodec *codec;
    void *stream; // the codec's state, null while no group is open
    uint32_t source;
    int32_t position; // the source's bytes handed on or dropped so far
    int32_t size;     // all of them
    int32_t at;       // where its next stored byte lies
} G;

void Ref_Reset(void) {
    if (G.stream) G.codec->StreamClose(G.stream);
    memset(&G, 0, sizeof G);
}

// The file from the open group when it is the source and has not passed the file's start; the
// source opened anew otherwise. A codec that cannot resume decodes the source from its start.
static int FromGroup(FfsCodec *codec, int32_t at, int32_t length, int32_t sourceSize,
                     const FfsRef *ref, Target *target) {
    if (!G.stream || G.source != ref->Source || G.position > ref->Offset) {
        Ref_Reset();
        G.at = at;
        G.stream = codec->StreamOpen(ReadAt, &G.at, length, sourceSize);
        if (!G.stream) return FromStart(codec, at, length, sourceSize, ref, target);
        G.codec = codec;
        G.source = ref->Source;
        G.size = sourceSize;
    }
    if (!codec->StreamNext(G.stream, ref->Offset - G.position, Discard, NULL) ||
        !codec->StreamNext(G.stream, ref->Size, Pass, target)) {
        Ref_Reset();
        return 0;
    }
    G.position = ref->Offset + ref->Size;
    if (G.position == G.size) Ref_Reset(); // its memory is not kept for nothing
    return 1;
}

// ---- A reference's file ----

// The record at the file's position, read and checked against the entry's size.
static int ReadRecord(int32_t length, int32_t size, FfsRef *ref) {
    uint8_t record[FFS_REF_SIZE];
    if (length == FFS_REF_SIZE && Ffs_Read(record, FFS_REF_SIZE) &&
        Ffs_ReadRef(record, length, ref) && ref->Size == size)
        return 1;
    Log_Print("[GROUP] Damaged record (%d bytes)\n", length);
    return 0;
}

static int StreamSource(const FfsRef *ref, Target *target) {
    int32_t length = 0, sourceSize = 0, at = 0;
    FfsCodec *codec = NULL;
    if (!Reader_FindSource(ref->Source, &length, &codec, &sourceSize) || !Ffs_Tell(&at)) {
        Log_Print("[GROUP] Source %.8X missing\n", (unsigned)ref->Source);
        return 0;
    }
    if (codec == &Ref_Codec) {
        Log_Print("[GROUP] Source %.8X is a reference itself\n", (unsigned)ref->Source);
        return 0;
    }
    if (ref->Size > sourceSize - ref->Offset) {
        Log_Print("[GROUP] Outside its source (%d + %d > %d)\n", ref->Offset, ref->Size,
                  sourceSize);
        return 0;
    }
    if (!codec) return Ffs_Seek(at + ref->Offset) && Reader_CopyRaw(ref->Size, Pass, target);
    int result = codec->StreamOpen ? FromGroup(codec, at, length, sourceSize, ref, target)
                                   : FromStart(codec, at, length, sourceSize, ref, target);
    if (!result && !target->refused) Log_Print("[%s] Failed to decompress\n", codec->Name);
    return result;
}

int Ref_Stream(int32_t length, int32_t size, FfsSink sink, void *context, int *refused) {
    CORE_GUARD(refused);
    Target target = {sink, context, 0};
    FfsRef ref;
    int32_t after = 0;
    int result = ReadRecord(length, size, &ref) && Ffs_Tell(&after) && StreamSource(&ref, &target);
    if (after) Ffs_Seek(after); // the next entry of a sequential reading follows the record
    *refused = target.refused;
    return result;
}
