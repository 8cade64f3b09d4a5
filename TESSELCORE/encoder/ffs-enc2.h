// The Type2 encoder, the builder's: blocks that the decoder of ffs-cmp2.h reads, bit for bit as
// the format makes them. A library of its own (type2enc) that the builder, the tests, the
// benchmarks and the fuzz targets link, never the setup or the uninstaller. It works in the
// codec's state: Type2_Init comes first.
#pragma once
#include <stdint.h>

#include "ffs-cmp2.h"

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
