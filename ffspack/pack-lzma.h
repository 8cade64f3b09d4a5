// The builder's LZMA encoder: one entry as an LZMA block ("FFL@", the header of ffs-lzma.h, then
// liblzma's raw LZMA1 stream without an end marker), read and written in pieces. Only the Linux
// builder has it (liblzma); the Windows build of ffspack says that it cannot encode LZMA.
#pragma once
#include <stdint.h>

#include "ffs.h"

enum {
    PACK_LZMA_DICT_MIN = 4096, // the decoder's smallest window
    // The largest window the builder gives: half of what the decoder accepts, so that the
    // setup's decoding (two read-ahead threads and the installing thread) stays within 16 MiB.
    PACK_LZMA_DICT_MAX = 4 << 20,
    PACK_LZMA_LC = 3, // literal context bits
    PACK_LZMA_LP = 0, // literal position bits
    PACK_LZMA_PB = 2, // position bits
};

// 1 when this build of ffspack encodes LZMA, 0 when it has no encoder (the Windows build).
int Pack_LzmaAvailable(void);
// The window for an entry of size bytes: the size rounded up to a power of two, at least
// PACK_LZMA_DICT_MIN, at most PACK_LZMA_DICT_MAX.
uint32_t Pack_LzmaDictSize(uint64_t size);
// 1 when data beginning with head (its first 2 bytes, zeros behind a shorter one) is a program
// whose relative calls and jumps the x86 converter may make more alike ("MZ").
int Pack_LzmaIsProgram(const uint8_t head[2]);
// Encodes length bytes (1 to INT32_MAX) read through source in pieces of at most 64 KB into an
// LZMA block handed to sink in pieces, the x86 converter applied first when filter is
// LZMA_FILTER_BRANCH_X86. Returns 1 with the block's length in *blockLength; 0 when the block grows
// past stopAfter bytes (encoding stops there; some pieces may have gone to the sink); -1 at the
// first failed read, at the sink's first 0, and when the encoder cannot be set up or fails (and
// always in a build without the encoder).
int Pack_LzmaEncode(FfsSource source, void *sourceContext, int32_t length, int filter, FfsSink sink,
                    void *sinkContext, int32_t stopAfter, int32_t *blockLength);
