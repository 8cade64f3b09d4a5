// The LZMA codec's decoder: an entry stored as an LZMA block (a 16-byte header, then the raw
// range-coded LZMA stream, optionally of bytes passed through the x86 branch converter). The
// archive reader decodes with it in pieces, the setup's read-ahead threads apart, the builder's
// list and verify whole; the builder's encoder is liblzma's.
#pragma once
#include <stdint.h>

#include "ffs.h"

#define LZMA_TAG "FFL@"

enum {
    LZMA_HEADER_SIZE = 16,
    LZMA_DICT_MAX = 8 << 20,    // the largest dictionary a block may name
    LZMA_DICT_MIN = 4096,       // smaller dictionaries (0 among them) are read as this
    LZMA_FILTER_NONE = 0,       // the stream's bytes are the entry's
    LZMA_FILTER_BRANCH_X86 = 1, // the entry's bytes passed through the x86 branch converter (not
                                // LZMA_FILTER_X86: liblzma's macro of that name)
    LZMA_PIECE_SIZE = 65536,    // the pieces in which a block is read and its bytes handed on
};

// The codec record "LZMA" / "1.0" for Ffs_AddCodec: sizes, identifies and decodes whole, in
// pieces or apart; Compress null (the builder encodes with liblzma).
extern FfsCodec Lzma_Codec;

// A block's header, read and checked.
typedef struct LzmaHeader {
    int32_t Size;      // the unpacked size, 1 to INT32_MAX
    int Filter;        // LZMA_FILTER_NONE or LZMA_FILTER_BRANCH_X86
    int Lc, Lp, Pb;    // literal context bits, literal position bits, position bits
    uint32_t DictSize; // LZMA_DICT_MIN to LZMA_DICT_MAX (below the minimum: read as it)
} LzmaHeader;

// Fills *header from the first LZMA_HEADER_SIZE bytes of a block of blockLength bytes: 1, or 0
// (the header untouched) when the block is shorter, the tag is missing, the size is not
// positive, the filter is unknown, lc > 8, lp > 4, pb > 4 or lc + lp > 4, the dictionary is
// above LZMA_DICT_MAX or bytes 14 and 15 are not zero.
int Lzma_ReadHeader(const uint8_t *block, int32_t blockLength, LzmaHeader *header);
// Decodes exactly outputLength bytes, the output being the decoder's window; 0, writing nothing,
// when the header is refused or its size is not outputLength; 0, with the output partly written
// (a correct start of it), when the stream runs out before the last byte, its first byte is not
// 0, a match reaches before the first byte or beyond the dictionary, or a match runs past the
// size. Never writes past outputLength or reads past blockLength. Allocates its probability
// tables through the memory manager.
int Lzma_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                    int32_t outputLength);
// The same decoder over pieces: the block's blockLength bytes read through source in pieces of
// at most LZMA_PIECE_SIZE (never a byte past blockLength), its outputLength bytes handed to sink
// in pieces of at most LZMA_PIECE_SIZE, the bytes Lzma_Decompress gives. Holds a window of the
// smaller of the dictionary and the size, the probability tables and the two pieces, never the
// block or the output. Returns 1 when every byte went to the sink; 0, with nothing handed on,
// when the header is refused, and 0 at the first failed read, the sink's first 0 or where
// Lzma_Decompress fails (what was handed on is a correct start).
int Lzma_DecompressStream(FfsSource source, void *sourceContext, int32_t blockLength, FfsSink sink,
                          void *sinkContext, int32_t outputLength);
// Lzma_Decompress with its state on the caller's stack (under 29 KB: the probability tables of
// the largest lc + lp), without
// the memory manager, the log or the asserts: callable on any thread. 0 also for null pointers.
int Lzma_DecompressApart(const uint8_t *block, int32_t blockLength, uint8_t *output,
                         int32_t outputLength);
// The same decoder resumable: Lzma_StreamOpen reads and checks the header through source (as
// Lzma_DecompressStream) and starts the stream; null when the header is refused, its size is not
// outputLength, or the block is filtered (the converter holds its last bytes back). Each
// Lzma_StreamNext hands the next n bytes to sink, source read as they are needed: 1, or 0 when n
// reaches past the size or the stream fails as Lzma_Decompress does (every later call then
// fails too). Lzma_StreamClose releases it (null is allowed). The memory of Lzma_DecompressStream
// is held from the open to the close.
void *Lzma_StreamOpen(FfsSource source, void *sourceContext, int32_t blockLength,
                      int32_t outputLength);
int Lzma_StreamNext(void *stream, int32_t n, FfsSink sink, void *sinkContext);
void Lzma_StreamClose(void *stream);
// The size recorded in the block (complement of its second word). 0 only for a null block.
int Lzma_GetSize(const uint8_t *block, int32_t *size);
// 1 when the block begins with the tag.
int Lzma_Identify(const uint8_t *block);
// The codec keeps no state between calls: both return 1.
int Lzma_Init(void);
int Lzma_Shutdown(void);
