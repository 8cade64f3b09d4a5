// The Type2 codec: LZ77 over a 4096-byte window with literals and match lengths in one adaptive
// Huffman code and positions in a fixed prefix code. This is its decoder, with which the archive
// reader decodes; the builder's encoder (encoder/ffs-enc2.h) is a library of its own, which the
// programs do not link. One working state, allocated by Type2_Init, serves every call; in the
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

// The codec record "Type2" / "1.0" for Ffs_AddCodec, the one that the setup, the uninstaller,
// the builder and the tools register: the reader's operations only, Compress and Decompress
// null (the encoder is encoder/ffs-enc2.h; Type2_Decompress is called directly).
extern FfsCodec Type2_Codec;

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
