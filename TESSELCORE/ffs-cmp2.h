// The Type2 codec: LZ77 over a 4096-byte window with literals and match lengths in one adaptive
// Huffman code and positions in a fixed prefix code. The archive reader decodes with it; the
// builder encodes with it. One working state, allocated by Type2_Init, serves every call; in the
// host build each thread has a state of its own (the builder's first Init comes before its
// threads start).
#pragma once
#include <stdint.h>

#include "ffs.h"

// 1 where each thread has a working state of its own (the host build, where the builder encodes
// on several threads), 0 where one global state serves the process (the Windows programs).
#ifdef _WIN32
#define TYPE2_THREAD_STATES 0
#else
#define TYPE2_THREAD_STATES 1
#endif

#define TYPE2_TAG "FFC@"

enum {
    TYPE2_HEADER_SIZE = 8,
    TYPE2_MIN_LENGTH = 11,
    TYPE2_PIECE_SIZE = 65536, // the pieces in which a block is read and its bytes handed on
};

// The codec record "Type2" / "1.0" for Ffs_AddCodec.
extern FfsCodec Type2_Codec;

// Writes a block into block (capacity *blockLength, at least length). Returns 1 with the
// block's length in *blockLength; 0 when length is 10 or less or the block would not be
// shorter than the data (the 8 header bytes may then have been written).
int Type2_Compress(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength);
// The builder's form for data that must not be stored raw (it begins with the tag): a block of
// any length from 1 byte up, whether it shrinks or not. Returns 0 when length < 1 or the block
// does not fit the capacity in *blockLength (the builder gives three times the length and 64
// bytes).
int Type2_CompressAlways(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength);
// The encoder over pieces, for data that is never held whole: its length bytes read through
// source in pieces of at most TYPE2_PIECE_SIZE (never a byte past length), the block handed to
// sink in pieces of at most TYPE2_PIECE_SIZE, the bytes that Type2_Compress (stopAfter length - 1)
// or Type2_CompressAlways (stopAfter its capacity) writes. Holds the two pieces and the working
// state, never the data or the block. Returns 1 with the block's length in *blockLength; 0 when
// length < 1, when the block grows past stopAfter bytes (at most INT32_MAX - 64; encoding stops
// there, some pieces may have gone to the sink), at the first failed read and at the sink's
// first 0. Neither may use the codec.
int Type2_CompressStream(FfsSource source, void *sourceContext, int32_t length, FfsSink sink,
                         void *sinkContext, int32_t stopAfter, int32_t *blockLength);
// Decodes exactly outputLength bytes; 0, writing nothing, when the tag is missing or the
// block's size is not positive or not outputLength; 0, with the output partly written, when the
// block runs out: it holds fewer bytes than the encoder writes of the codes read from it. Never
// writes past outputLength or reads past blockLength, whatever the stream holds.
int Type2_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                     int32_t outputLength);
// The same decoder over pieces: the block's blockLength bytes read through source in pieces of
// at most TYPE2_PIECE_SIZE (never a byte past blockLength), its outputLength bytes handed to
// sink in pieces of at most TYPE2_PIECE_SIZE (never a byte past outputLength), the bytes that
// Type2_Decompress gives. Holds the two pieces and the 4 KB window, never the block or the
// output. Returns 1 when every byte went to the sink; 0, with nothing handed on, when the header
// is refused as Type2_Decompress refuses it, and 0 at the first failed read, the sink's first 0
// or where the block runs out (decoding stops there; the piece then being filled is not handed
// on). Neither may use the codec.
int Type2_DecompressStream(FfsSource source, void *sourceContext, int32_t blockLength, FfsSink sink,
                           void *sinkContext, int32_t outputLength);
// Type2_Decompress with a working state of its own on the caller's stack (about 9 KB), without
// the memory manager, the log or the asserts: callable on any thread once Type2_Init has run,
// beside the other calls. 0 also for null pointers and before the first Init.
int Type2_DecompressApart(const uint8_t *block, int32_t blockLength, uint8_t *output,
                          int32_t outputLength);
// The size recorded in the block (complement of its second word). 0 only for a null block.
int Type2_GetSize(const uint8_t *block, int32_t *size);
// 1 when the block begins with the tag.
int Type2_Identify(const uint8_t *block);
// Allocates the (thread's) working state once (a second call keeps the first state). Returns 1.
int Type2_Init(void);
// Frees the working state. Returns 1.
int Type2_Shutdown(void);
