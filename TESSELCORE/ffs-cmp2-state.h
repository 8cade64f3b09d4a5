// The Type2 codec's working state, shared by its decoder (ffs-cmp2.cpp) and its encoder
// (encoder/ffs-enc2.cpp) and by no one else: the format's constants, the state record, the
// position code's tables, the machine word, and the steps both directions take (the reset, the
// adaptive Huffman tree, the output piece handed on).
#pragma once
#include <stdint.h>
#include <string.h>

#include "ffs.h"

enum {
    WINDOW_SIZE = 4096,
    LOOKAHEAD = 60,
    THRESHOLD = 3,
    SYMBOLS = 256 - THRESHOLD + LOOKAHEAD, // 313: bytes, then lengths 4..60
    TREE_SIZE = 2 * SYMBOLS - 1,           // 625
    ROOT = TREE_SIZE - 1,                  // 624
    REBUILD_LIMIT = 0x8000,
    NONE = WINDOW_SIZE,
    START = WINDOW_SIZE - LOOKAHEAD,   // 4036: first window position written
    LENGTH_BASE = 256 - THRESHOLD - 1, // symbol = 252 + match length
    PATH_SIZE = 64,                    // a decoded symbol's path kept for the update
};

enum {
    FREQ_COUNT = TREE_SIZE + 1,                 // a 0xFFFF sentinel behind the last node
    WINDOW_BYTES = WINDOW_SIZE + LOOKAHEAD - 1, // positions 0..58 copied behind the window
    PARENT_COUNT = TREE_SIZE + SYMBOLS,         // nodes, then each symbol's leaf
    UP_COUNT = WINDOW_SIZE + 1,
    // A left and a right link for each window position, none (4096), and the 256 trees' roots:
    // the right link of 4097 + b is the root of the strings that begin with byte b.
    LINK_COUNT = 2 * (WINDOW_SIZE + 257),
    LEFT = 0,
    RIGHT = 1,
};

typedef struct Type2State {
    const uint8_t *input;
    int32_t inputLength;
    uint8_t *output;
    int32_t outputCapacity;
    int32_t outputLength;
    uint16_t writeBuffer;
    uint8_t writeCount;
    uint16_t *freq;
    uint8_t *window;
    uint16_t *parent;
    uint16_t *up;
    uint16_t *child;
    uint16_t *links; // links[2 * p + LEFT], links[2 * p + RIGHT]
    int32_t matchPosition;
    int32_t matchLength;
    // The decoder in pieces (all zero for whole buffers): input is a piece of inputPiece,
    // refilled through source while storedLeft bytes of the block are unread; output is a
    // piece that goes to sink whenever it is full, handed bytes so far.
    FfsSource source;
    void *sourceContext;
    uint8_t *inputPiece;
    int32_t storedLeft;
    FfsSink sink;
    void *sinkContext;
    int32_t handed;
    int failed; // a read or the sink failed, or the block ran out: decoding stops
} Type2State;

// The position code's tables, built by the first Type2_Init: the code byte and length of each
// upper six bits for the encoder, and for the decoder, by the next 8 bits of the stream, the
// upper value whose code they begin with and that code's length.
typedef struct Type2Codes {
    uint8_t encodeCode[64];
    uint8_t encodeLength[64];
    uint8_t decodeUpper[256];
    uint8_t decodeLength[256];
} Type2Codes;
extern Type2Codes Type2_Codes;

// The machine's word: the decoder's bit buffer and the match finder's unit of comparison.
typedef uintptr_t Word;
enum { WORD_BYTES = (int)sizeof(Word), WORD_BITS = 8 * WORD_BYTES };

// Leading zero bits of a word that is not 0.
static inline int LeadingZeros(Word x) {
    return __builtin_clzll((unsigned long long)x) - (64 - WORD_BITS);
}

// A word of bytes, the first byte highest: words compare as the bytes do.
static inline Word LoadHigh(const uint8_t *bytes) {
    Word value;
    memcpy(&value, bytes, WORD_BYTES);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    value = WORD_BYTES == 8 ? (Word)__builtin_bswap64(value) : __builtin_bswap32((uint32_t)value);
#endif
    return value;
}

// The calling thread's working state; fatal before Type2_Init.
Type2State *Type2_RequireState(void);
// A state ready for a call over input (inputLength bytes) into output (capacity bytes): the bit
// buffers empty, no source or sink, the window filled as the format starts it.
void Type2_ResetState(Type2State *t, const uint8_t *input, int32_t inputLength, uint8_t *output,
                      int32_t capacity);
// The adaptive Huffman tree of literals and match lengths as each block starts it.
void Type2_StartTree(Type2State *t);
// Counts symbol in the tree (rebuilding it at the limit). A decoder's path (depth > 0: the
// positions it walked, the root at path[0], the leaf's at path[depth]) spares the walk up;
// the encoder gives none (null, 0).
void Type2_UpdateTree(Type2State *t, int symbol, const uint16_t *path, int depth);
// The output piece, length bytes, to the sink; returns the length the piece keeps (0 after it
// went to the sink). A whole buffer has no sink: it is full only at its end.
int32_t Type2_HandOn(Type2State *t, int32_t length);
