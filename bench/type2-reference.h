// A plain transcription of the Type2 codec, step by step as the format describes it and without
// any speed work: the yardstick that the codec benchmark and the tests hold our codec against.
// One global state; not reentrant.
#pragma once
#include <stdint.h>

// The whole block of length bytes (0 and up), however long: bytes beyond capacity are dropped.
// Returns the block's full length.
int32_t Type2Ref_Encode(const uint8_t *data, int32_t length, uint8_t *block, int32_t capacity);
// As Type2_Compress: 1 with the block's length in *blockLength (capacity on entry); 0 when length
// is 10 or less or the block is not shorter than the data.
int Type2Ref_Compress(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength);
// As Type2_Decompress: exactly outputLength bytes; 0, writing nothing, when the tag is missing or
// the block's size is not positive or not outputLength.
int Type2Ref_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                        int32_t outputLength);
// After Type2Ref_Decompress: the code bits its decoding read, those past the block's end (read
// as zeros) included, and the length of the code stream that the format's bit writer makes of
// the same codes. A block that the encoder wrote of them holds exactly that many bytes behind
// its header.
int64_t Type2Ref_CodeBits(void);
int32_t Type2Ref_WrittenLength(void);
