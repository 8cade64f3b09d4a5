// The Type2 encoder: bit output over a 16-bit buffer, the codes of symbols and positions, the
// binary-tree match finder, and the block encoder over a whole buffer or over pieces read from a
// source and handed to a sink. Linked by the builder and its tools only: the programs decode.
#include "ffs-enc2.h"

#include <string.h>

#include "ffs-cmp2-state.h"
#include "tessel-bytes.h"
#include "tessel-core.h"

// Every link of the match finder none: the encoder's reset (the decoder has no use for them).
static void ResetLinks(Type2State *t) {
    for (int i = 0; i < UP_COUNT; i++) t->up[i] = NONE;
    for (int i = 0; i < LINK_COUNT; i++) t->links[i] = NONE;
}

// ---- Bits out ----

// A byte of the block: into the whole buffer (dropped beyond its capacity), or into the piece,
// which goes to the sink whenever it is full.
static void OutputByte(Type2State *t, unsigned value) {
    int32_t at = t->outputLength - t->handed;
    if (at < t->outputCapacity) t->output[at] = (uint8_t)value;
    t->outputLength++;
    if (at + 1 == t->outputCapacity) Type2_HandOn(t, at + 1);
}

// n bits of code, left-aligned in 16 bits.
static void PutCode(Type2State *t, int n, unsigned code) {
    t->writeBuffer = (uint16_t)(t->writeBuffer | (code >> t->writeCount));
    t->writeCount = (uint8_t)(t->writeCount + n);
    if (t->writeCount < 8) return;
    OutputByte(t, t->writeBuffer >> 8);
    t->writeCount = (uint8_t)(t->writeCount - 8);
    if (t->writeCount >= 8) {
        OutputByte(t, t->writeBuffer & 0xFF);
        t->writeCount = (uint8_t)(t->writeCount - 8);
        t->writeBuffer = (uint16_t)(code << (n - t->writeCount));
    } else {
        t->writeBuffer = (uint16_t)(t->writeBuffer << 8);
    }
}

static void FlushBits(Type2State *t) {
    if (t->writeCount != 0) OutputByte(t, t->writeBuffer >> 8);
}

// ---- Codes ----

static void EncodeSymbol(Type2State *t, int symbol) {
    const uint16_t *parent = t->parent;
    unsigned code = 0;
    int count = 0;
    int node = parent[TREE_SIZE + symbol];
    do {
        code = (code >> 1) | (node & 1) << 15;
        count++;
        node = parent[node];
    } while (node != ROOT);
    PutCode(t, count, code);
    Type2_UpdateTree(t, symbol, NULL, 0);
}

static void EncodePosition(Type2State *t, unsigned position) {
    unsigned upper = position >> 6;
    PutCode(t, Type2_Codes.encodeLength[upper], (unsigned)Type2_Codes.encodeCode[upper] << 8);
    PutCode(t, 6, (position & 0x3F) << 10);
}

// ---- Match finder ----

// Where two keys whose first word after byte 0 agrees first differ (up to 59; LOOKAHEAD when
// they are equal), with *greater = 1 when a's byte there is the greater. A word at a time, the
// last one ending at the keys' end, so that no byte past them is read.
static int MismatchAfterHead(const uint8_t *a, const uint8_t *b, int *greater) {
    for (int i = 1 + WORD_BYTES;; i += WORD_BYTES) {
        int at = i + WORD_BYTES <= LOOKAHEAD ? i : LOOKAHEAD - WORD_BYTES;
        Word x = LoadHigh(a + at), y = LoadHigh(b + at);
        if (x != y) {
            *greater = x > y;
            return at + (LeadingZeros(x ^ y) >> 3);
        }
        if (at == LOOKAHEAD - WORD_BYTES) return LOOKAHEAD;
    }
}

// Inserts position r into the tree of its first byte, leaving in matchLength / matchPosition the
// longest match it met, the nearest of equal ones (length 0 when none is longer than 3). Each
// node visited is scored (common length << 12) + (4096 - distance back): the best score is that
// match, which a compare picks without a branch.
static void InsertNode(Type2State *t, int r) {
    uint16_t *links = t->links, *up = t->up;
    const uint8_t *window = t->window, *key = window + r;
    const Word head = LoadHigh(key + 1); // the bytes after the first settle most comparisons
    int p = WINDOW_SIZE + 1 + key[0];
    uint16_t *link = &links[2 * p + RIGHT];
    unsigned best = THRESHOLD << 12 | (WINDOW_SIZE - 1); // above every match of 3 bytes or less
    links[2 * r + LEFT] = links[2 * r + RIGHT] = NONE;
    for (;;) {
        if (*link == NONE) {
            *link = (uint16_t)r;
            up[r] = (uint16_t)p;
            break;
        }
        p = *link;
        Word nodeHead = LoadHigh(window + p + 1);
        int i, greater;
        if (head != nodeHead) {
            i = 1 + (LeadingZeros(head ^ nodeHead) >> 3);
            greater = head > nodeHead;
        } else {
            i = MismatchAfterHead(key, window + p, &greater);
        }
        unsigned score = (unsigned)i << 12 | (WINDOW_SIZE - ((r - p) & (WINDOW_SIZE - 1)));
        best = score > best ? score : best;
        if (i >= LOOKAHEAD) {
            // r replaces p, which holds the same 60 bytes and is older.
            up[r] = up[p];
            links[2 * r + LEFT] = links[2 * p + LEFT];
            links[2 * r + RIGHT] = links[2 * p + RIGHT];
            up[links[2 * p + LEFT]] = (uint16_t)r;
            up[links[2 * p + RIGHT]] = (uint16_t)r;
            *link = (uint16_t)r;
            up[p] = NONE;
            break;
        }
        link = &links[2 * p + greater]; // right when the key is greater
    }
    int length = (int)(best >> 12);
    t->matchLength = length > THRESHOLD ? length : 0;
    t->matchPosition = (int)(WINDOW_SIZE - (best & (WINDOW_SIZE - 1))) - 1;
}

static void DeleteNode(Type2State *t, int p) {
    uint16_t *links = t->links, *up = t->up;
    if (up[p] == NONE) return;
    int q;
    if (links[2 * p + RIGHT] == NONE) {
        q = links[2 * p + LEFT];
    } else if (links[2 * p + LEFT] == NONE) {
        q = links[2 * p + RIGHT];
    } else {
        // The greatest node below p (the rightmost of its left subtree) takes its place.
        q = links[2 * p + LEFT];
        if (links[2 * q + RIGHT] != NONE) {
            while (links[2 * q + RIGHT] != NONE) q = links[2 * q + RIGHT];
            links[2 * up[q] + RIGHT] = links[2 * q + LEFT];
            up[links[2 * q + LEFT]] = up[q];
            links[2 * q + LEFT] = links[2 * p + LEFT];
            up[links[2 * p + LEFT]] = (uint16_t)q;
        }
        links[2 * q + RIGHT] = links[2 * p + RIGHT];
        up[links[2 * p + RIGHT]] = (uint16_t)q;
    }
    int parent = up[p];
    up[q] = (uint16_t)parent;
    links[2 * parent + (links[2 * parent + RIGHT] == p ? RIGHT : LEFT)] = (uint16_t)q;
    up[p] = NONE;
}

// ---- Blocks ----

// The next byte of the data: from the whole buffer, or from its piece, refilled through the
// source while storedLeft bytes of the data are unread. *at is the place in the buffer or piece.
// A failed read sets failed, which stops the encoder, and gives 0.
static uint8_t TakeByte(Type2State *t, int32_t *at) {
    if (*at == t->inputLength) {
        int32_t n = t->storedLeft < TYPE2_PIECE_SIZE ? t->storedLeft : TYPE2_PIECE_SIZE;
        if (!t->source || n == 0 || t->failed || !t->source(t->sourceContext, t->inputPiece, n)) {
            t->failed = 1;
            return 0;
        }
        t->storedLeft -= n;
        t->input = t->inputPiece;
        t->inputLength = n;
        *at = 0;
    }
    return t->input[(*at)++];
}

// Writes the whole block of the state's data, length >= 1 bytes, to its output (a whole buffer
// of at least 8 bytes, or the piece handed to the sink; its last piece is handed on too) and
// returns the block's full length; or stops once more than stopAfter bytes are out, a block the
// caller refuses (which also keeps the count of a 2 GB block inside 31 bits), or at a failed
// read or sink.
static int32_t Encode(Type2State *t, int32_t length, int32_t stopAfter) {
    memcpy(t->output, TYPE2_TAG, 4);
    Le_Put32(t->output + 4, ~(uint32_t)length);
    ResetLinks(t);
    t->outputLength = TYPE2_HEADER_SIZE;
    Type2_StartTree(t);
    uint8_t *window = t->window;
    int32_t read = 0, at = 0;
    int s = 0, r = START, len = 0;
    for (; len < LOOKAHEAD && read < length; read++) window[r + len++] = TakeByte(t, &at);
    for (int i = 1; i <= LOOKAHEAD; i++) InsertNode(t, r - i);
    InsertNode(t, r);
    do {
        if (t->matchLength > len) t->matchLength = len;
        if (t->matchLength <= THRESHOLD) {
            t->matchLength = 1;
            EncodeSymbol(t, window[r]);
        } else {
            EncodeSymbol(t, LENGTH_BASE + t->matchLength);
            EncodePosition(t, (unsigned)t->matchPosition);
        }
        int last = t->matchLength, i = 0;
        for (; i < last && read < length; i++, read++) {
            uint8_t c = TakeByte(t, &at);
            DeleteNode(t, s);
            window[s] = c;
            if (s < LOOKAHEAD - 1) window[s + WINDOW_SIZE] = c;
            s = (s + 1) & (WINDOW_SIZE - 1);
            r = (r + 1) & (WINDOW_SIZE - 1);
            InsertNode(t, r);
        }
        for (; i < last; i++) {
            DeleteNode(t, s);
            s = (s + 1) & (WINDOW_SIZE - 1);
            r = (r + 1) & (WINDOW_SIZE - 1);
            if (--len) InsertNode(t, r);
        }
    } while (len > 0 && t->outputLength <= stopAfter && !t->failed);
    FlushBits(t);
    Type2_HandOn(t, t->outputLength - t->handed);
    return t->outputLength;
}

int Type2_Compress(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength) {
    CORE_GUARD(data);
    CORE_GUARD(block);
    CORE_GUARD(blockLength);
    Type2State *t = Type2_RequireState();
    if (length <= 10) return 0;
    Type2_ResetState(t, data, length, block, *blockLength);
    int32_t encoded = Encode(t, length, length - 1);
    if (encoded >= length) return 0;
    *blockLength = encoded;
    return 1;
}

int Type2_CompressAlways(const uint8_t *data, int32_t length, uint8_t *block,
                         int32_t *blockLength) {
    CORE_GUARD(data);
    CORE_GUARD(block);
    CORE_GUARD(blockLength);
    Type2State *t = Type2_RequireState();
    if (length < 1 || *blockLength < TYPE2_HEADER_SIZE) return 0;
    int32_t stopAfter = *blockLength < INT32_MAX - 64 ? *blockLength : INT32_MAX - 64;
    Type2_ResetState(t, data, length, block, *blockLength);
    int32_t encoded = Encode(t, length, stopAfter);
    if (encoded > stopAfter) return 0;
    *blockLength = encoded;
    return 1;
}

int Type2_CompressStream(FfsSource source, void *sourceContext, int32_t length, FfsSink sink,
                         void *sinkContext, int32_t stopAfter, int32_t *blockLength) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(source && sink && blockLength, "Pointer is NULL...\n");
    Type2State *t = Type2_RequireState();
    if (length < 1 || stopAfter < TYPE2_HEADER_SIZE) return 0;
    if (stopAfter > INT32_MAX - 64) stopAfter = INT32_MAX - 64;
    // One block for both pieces: the data's, then the block's.
    uint8_t *pieces = (uint8_t *)TESSEL_ALLOC(2 * TYPE2_PIECE_SIZE);
    Type2_ResetState(t, pieces, 0, pieces + TYPE2_PIECE_SIZE, TYPE2_PIECE_SIZE);
    t->source = source;
    t->sourceContext = sourceContext;
    t->inputPiece = pieces;
    t->storedLeft = length;
    t->sink = sink;
    t->sinkContext = sinkContext;
    int32_t encoded = Encode(t, length, stopAfter);
    int failed = t->failed;
    TESSEL_FREE(pieces, 2 * TYPE2_PIECE_SIZE);
    Type2_ResetState(t, NULL, 0, NULL,
                     0); // no pointer to the pieces, or to the caller's ends, stays
    if (failed || encoded > stopAfter) return 0;
    *blockLength = encoded;
    return 1;
}
