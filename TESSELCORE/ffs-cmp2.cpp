// The Type2 codec: the working state and its reset, bit output over a 16-bit buffer and input
// over a 64-bit one, the adaptive Huffman tree of literals and match lengths with its rebuild,
// the fixed position code, the binary-tree match finder of the encoder, the block encoder, and
// the one decoder, over whole buffers or over pieces read from a source and handed to a sink.
#include "ffs-cmp2.h"

#include <string.h>

#include "tessel-bytes.h"
#include "tessel-core.h"

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

// The builder encodes on several threads at once, each with a state of its own; the setup and
// the uninstaller decode on one thread and keep a plain global.
#if TYPE2_THREAD_STATES
static thread_local Type2State *T;
#else
static Type2State *T;
#endif

// The position code: canonical, by the upper six bits of a position.
static const struct {
    uint8_t firstUpper;
    uint8_t count;
    uint8_t length;
} PositionCodeGroups[] = {
    {0, 1, 3}, {1, 3, 4}, {4, 8, 5}, {12, 12, 6}, {24, 24, 7}, {48, 16, 8},
};

static struct {
    uint8_t encodeCode[64];
    uint8_t encodeLength[64];
    uint8_t decodeUpper[256];
    uint8_t decodeLength[256];
} Codes;

static void BuildPositionTables(void) {
    unsigned code = 0; // left-aligned in a byte
    for (const auto &group : PositionCodeGroups) {
        unsigned step = 1u << (8 - group.length);
        for (unsigned k = 0; k < group.count; k++, code += step) {
            unsigned upper = group.firstUpper + k;
            Codes.encodeCode[upper] = (uint8_t)code;
            Codes.encodeLength[upper] = group.length;
            for (unsigned b = 0; b < step; b++) {
                Codes.decodeUpper[code + b] = (uint8_t)upper;
                Codes.decodeLength[code + b] = group.length;
            }
        }
    }
}

// ---- State ----

static void ResetState(Type2State *t, const uint8_t *input, int32_t inputLength, uint8_t *output,
                       int32_t capacity) {
    t->input = input;
    t->inputLength = inputLength;
    t->output = output;
    t->outputCapacity = capacity;
    t->outputLength = 0;
    t->writeBuffer = 0;
    t->writeCount = 0;
    t->matchPosition = 0;
    t->matchLength = 0;
    t->source = NULL;
    t->sourceContext = NULL;
    t->inputPiece = NULL;
    t->storedLeft = 0;
    t->sink = NULL;
    t->sinkContext = NULL;
    t->handed = 0;
    t->failed = 0;
    memset(t->window, 0, WINDOW_BYTES);
    memset(t->window, ' ', START);
}

static void Reset(const uint8_t *input, int32_t inputLength, uint8_t *output, int32_t capacity) {
    ResetState(T, input, inputLength, output, capacity);
}

// Every link of the match finder none: the encoder's reset (the decoder has no use for them).
static void ResetLinks(void) {
    for (int i = 0; i < UP_COUNT; i++) T->up[i] = NONE;
    for (int i = 0; i < LINK_COUNT; i++) T->links[i] = NONE;
}

int Type2_Init(void) {
    if (T) { // allocated once; a second call only resets
        Reset(NULL, 0, NULL, 0);
        return 1;
    }
    // The tables are the same for every state: built by the first Init, which a program that
    // codes on several threads makes before it starts them.
    if (Codes.encodeLength[0] == 0) BuildPositionTables();
    T = (Type2State *)TESSEL_ALLOC(sizeof(Type2State));
    T->freq = (uint16_t *)TESSEL_ALLOC(FREQ_COUNT * 2);
    T->window = (uint8_t *)TESSEL_ALLOC(WINDOW_BYTES);
    T->parent = (uint16_t *)TESSEL_ALLOC(PARENT_COUNT * 2);
    T->child = (uint16_t *)TESSEL_ALLOC(TREE_SIZE * 2);
    T->links = (uint16_t *)TESSEL_ALLOC(LINK_COUNT * 2);
    T->up = (uint16_t *)TESSEL_ALLOC(UP_COUNT * 2);
    Reset(NULL, 0, NULL, 0);
    return 1;
}

int Type2_Shutdown(void) {
    if (!T) return 1;
    TESSEL_FREE(T->freq, FREQ_COUNT * 2);
    TESSEL_FREE(T->window, WINDOW_BYTES);
    TESSEL_FREE(T->parent, PARENT_COUNT * 2);
    TESSEL_FREE(T->child, TREE_SIZE * 2);
    TESSEL_FREE(T->links, LINK_COUNT * 2);
    TESSEL_FREE(T->up, UP_COUNT * 2);
    TESSEL_FREE(T, (int32_t)sizeof(Type2State));
    return 1;
}

static void RequireState(void) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(T != NULL, "Type2 used before Type2_Init");
}

// ---- Bits out ----

static int32_t HandOn(Type2State *t, int32_t length);

// A byte of the block: into the whole buffer (dropped beyond its capacity), or into the piece,
// which goes to the sink whenever it is full.
static void OutputByte(Type2State *t, unsigned value) {
    int32_t at = t->outputLength - t->handed;
    if (at < t->outputCapacity) t->output[at] = (uint8_t)value;
    t->outputLength++;
    if (at + 1 == t->outputCapacity) HandOn(t, at + 1);
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

// ---- Bits in ----

// The machine's word: the decoder's bit buffer and the match finder's unit of comparison.
typedef uintptr_t Word;
enum { WORD_BYTES = (int)sizeof(Word), WORD_BITS = 8 * WORD_BYTES };

// Leading zero bits of a word that is not 0.
static int LeadingZeros(Word x) {
    return __builtin_clzll((unsigned long long)x) - (64 - WORD_BITS);
}

// A word of bytes, the first byte highest: words compare as the bytes do.
static Word LoadHigh(const uint8_t *bytes) {
    Word value;
    memcpy(&value, bytes, WORD_BYTES);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    value = WORD_BYTES == 8 ? (Word)__builtin_bswap64(value) : __builtin_bswap32((uint32_t)value);
#endif
    return value;
}

// The decoder's bits: a word of them, the next at the top and count of them valid. The bits
// below those (a byte of the stream not yet counted, from a wide read) are the stream's own next
// bits or zero, so that a later read may OR the same bytes over them.
//
// A block holds every byte that the encoder wrote of its codes; a stream that ends before them
// is damaged, and decoding on from zeros would not end (a size claimed by a changed header is
// decoded from nothing). The encoder keeps unwritten bits in a 16-bit buffer and ends a block
// with the buffer's high byte, so decoding may read past the last byte exactly the bits beyond
// those 8: none, unless the last codes were longer than 16 bits (the tree grows up to 21 deep
// while a code is kept in 16 bits) and left more than 8 in the buffer. held follows the
// encoder's count code by code; past and count say how many bits came from behind the block.
typedef struct Reader {
    Word bits;
    int count;
    const uint8_t *next;
    const uint8_t *end;
    int past; // zero bits put in behind the block's last byte
    int held; // the bits the encoder would still hold unwritten of the codes read so far
} Reader;

// The encoder's count of unwritten bits after a code of n bits (PutCode: one byte out at 8,
// a second at 16; the count is 8 bits wide).
static int Held(int held, int n) {
    int total = (uint8_t)(held + n);
    return total < 8 ? total : total < 16 ? total - 8 : total - 16;
}

// The bits taken from behind the block's last byte (0 or less while none).
static int PastEnd(const Reader *in) { return in->past - in->count; }

// The next piece of a block read in pieces, while the block has unread bytes: 1 with the reader
// on it; 0 at the block's end, for a whole block, and after a failed read.
static int FetchInput(Type2State *t, Reader *in) {
    if (!t->source || t->storedLeft == 0 || t->failed) return 0;
    int32_t n = t->storedLeft < TYPE2_PIECE_SIZE ? t->storedLeft : TYPE2_PIECE_SIZE;
    if (!t->source(t->sourceContext, t->inputPiece, n)) {
        t->failed = 1;
        return 0;
    }
    t->storedLeft -= n;
    in->next = t->inputPiece;
    in->end = t->inputPiece + n;
    return 1;
}

// At least a word less 8 bits held afterwards; bits past the end of the block read as 0.
static void Refill(Type2State *t, Reader *in) {
    if (in->count > WORD_BITS - 8) return;
    if (in->end - in->next >= WORD_BYTES) {
        in->bits |= LoadHigh(in->next) >> in->count;
        in->next += (WORD_BITS - 1 - in->count) >> 3; // the whole bytes that fitted
        in->count |= WORD_BITS - 8;                   // count + 8 times those bytes
        return;
    }
    while (in->count <= WORD_BITS - 8) {
        unsigned byte = 0;
        if (in->next < in->end || FetchInput(t, in))
            byte = *in->next++;
        else
            in->past += 8;
        in->bits |= (Word)byte << (WORD_BITS - 8 - in->count);
        in->count += 8;
    }
}

// ---- Adaptive Huffman tree ----

static void StartTree(Type2State *t) {
    uint16_t *freq = t->freq, *child = t->child, *parent = t->parent;
    for (int s = 0; s < SYMBOLS; s++) {
        freq[s] = 1;
        child[s] = (uint16_t)(TREE_SIZE + s);
        parent[TREE_SIZE + s] = (uint16_t)s;
    }
    for (int i = 0, j = SYMBOLS; j <= ROOT; i += 2, j++) {
        freq[j] = (uint16_t)(freq[i] + freq[i + 1]);
        child[j] = (uint16_t)i;
        parent[i] = parent[i + 1] = (uint16_t)j;
    }
    freq[TREE_SIZE] = 0xFFFF;
    parent[ROOT] = 0;
}

// Halves the frequencies and rebuilds the tree from its leaves.
static void Rebuild(Type2State *t) {
    uint16_t *freq = t->freq, *child = t->child, *parent = t->parent;
    int j = 0;
    for (int i = 0; i < TREE_SIZE; i++) {
        if (child[i] >= TREE_SIZE) {
            freq[j] = (uint16_t)((freq[i] + 1) / 2);
            child[j] = child[i];
            j++;
        }
    }
    for (int i = 0, k, n = SYMBOLS; n < TREE_SIZE; i += 2, n++) {
        uint16_t f = (uint16_t)(freq[i] + freq[i + 1]);
        freq[n] = f;
        for (k = n - 1; f < freq[k]; k--) {
        }
        k++;
        memmove(&freq[k + 1], &freq[k], (size_t)(n - k) * 2);
        freq[k] = f;
        memmove(&child[k + 1], &child[k], (size_t)(n - k) * 2);
        child[k] = (uint16_t)i;
    }
    for (int i = 0; i < TREE_SIZE; i++) {
        int k = child[i];
        if (k >= TREE_SIZE) {
            parent[k] = (uint16_t)i;
        } else {
            parent[k] = parent[k + 1] = (uint16_t)i;
        }
    }
}

// The last node whose frequency is below k, from node l (below k) on: the frequencies do not
// decrease and the sentinel is above any k. Steps of 1, 2, 4, ... then halving, rather than one
// node at a time through a long run of equal frequencies.
static int LastBelow(const uint16_t *freq, int l, unsigned k) {
    int step = 1, high;
    for (;;) {
        high = l + step < TREE_SIZE ? l + step : TREE_SIZE;
        if (freq[high] >= k) break;
        l = high;
        step <<= 1;
    }
    while (high - l > 1) {
        int middle = (l + high) >> 1;
        if (freq[middle] < k)
            l = middle;
        else
            high = middle;
    }
    return l;
}

// Raises the frequencies from the symbol's leaf to the root, keeping the nodes in order. A
// decoder's path (depth > 0: the positions it walked, the root at path[0], the leaf's at
// path[depth]) gives the nodes to raise for as long as none of them moves, without waiting for
// each parent to be read; from the first one that moves, the parents lead.
static void Update(Type2State *t, int symbol, const uint16_t *path, int depth) {
    uint16_t *freq = t->freq, *child = t->child, *parent = t->parent;
    if (freq[ROOT] == REBUILD_LIMIT) {
        Rebuild(t);
        depth = 0; // the walked path is no more
    }
    int n = parent[TREE_SIZE + symbol];
    for (; depth > 0 && freq[n] + 1 <= freq[n + 1]; depth--) {
        freq[n]++;
        n = path[depth - 1];
    }
    do {
        unsigned k = ++freq[n];
        if (k > freq[n + 1]) {
            // n moves behind the last node of its old frequency, which takes its place.
            int l = LastBelow(freq, n + 1, k);
            freq[n] = freq[l];
            freq[l] = (uint16_t)k;
            int i = child[n];
            parent[i] = (uint16_t)l;
            if (i < TREE_SIZE) parent[i + 1] = (uint16_t)l;
            int j = child[l];
            child[l] = (uint16_t)i;
            parent[j] = (uint16_t)n;
            if (j < TREE_SIZE) parent[j + 1] = (uint16_t)n;
            child[n] = (uint16_t)j;
            n = l;
        }
        n = parent[n];
    } while (n != 0);
}

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
    Update(t, symbol, NULL, 0);
}

static int DecodeSymbol(Type2State *t, Reader *in) {
    const uint16_t *child = t->child;
    uint16_t path[PATH_SIZE]; // the positions walked, for Update; unused when deeper
    Word bits = in->bits;
    int count = in->count, depth = 0;
    unsigned node = child[ROOT];
    path[0] = ROOT;
    while (node < TREE_SIZE) {
        if (count == 0) {
            in->bits = bits;
            in->count = 0;
            Refill(t, in);
            bits = in->bits;
            count = in->count;
        }
        unsigned position = node + (unsigned)(bits >> (WORD_BITS - 1));
        if (++depth < PATH_SIZE) path[depth] = (uint16_t)position;
        node = child[position];
        bits <<= 1;
        count--;
    }
    in->bits = bits;
    in->count = count;
    in->held = Held(in->held, depth);
    int symbol = (int)node - TREE_SIZE;
    Update(t, symbol, path, depth < PATH_SIZE ? depth : 0);
    return symbol;
}

static void EncodePosition(Type2State *t, unsigned position) {
    unsigned upper = position >> 6;
    PutCode(t, Codes.encodeLength[upper], (unsigned)Codes.encodeCode[upper] << 8);
    PutCode(t, 6, (position & 0x3F) << 10);
}

// The code of the upper six bits (3 to 8 bits, named by the next 8) and six more bits.
static unsigned DecodePosition(Type2State *t, Reader *in) {
    if (in->count < 14) Refill(t, in);
    unsigned next8 = (unsigned)(in->bits >> (WORD_BITS - 8));
    int length = Codes.decodeLength[next8] + 6;
    unsigned lower = (unsigned)(in->bits >> (WORD_BITS - length)) & 0x3F;
    in->bits <<= length;
    in->count -= length;
    in->held = Held(Held(in->held, length - 6), 6); // written as two codes
    return (unsigned)Codes.decodeUpper[next8] << 6 | lower;
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
static int32_t Encode(int32_t length, int32_t stopAfter) {
    Type2State *t = T;
    memcpy(t->output, TYPE2_TAG, 4);
    Le_Put32(t->output + 4, ~(uint32_t)length);
    ResetLinks();
    t->outputLength = TYPE2_HEADER_SIZE;
    StartTree(t);
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
    HandOn(t, t->outputLength - t->handed);
    return t->outputLength;
}

int Type2_Compress(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength) {
    CORE_GUARD(data);
    CORE_GUARD(block);
    CORE_GUARD(blockLength);
    RequireState();
    if (length <= 10) return 0;
    Reset(data, length, block, *blockLength);
    int32_t encoded = Encode(length, length - 1);
    if (encoded >= length) return 0;
    *blockLength = encoded;
    return 1;
}

int Type2_CompressAlways(const uint8_t *data, int32_t length, uint8_t *block,
                         int32_t *blockLength) {
    CORE_GUARD(data);
    CORE_GUARD(block);
    CORE_GUARD(blockLength);
    RequireState();
    if (length < 1 || *blockLength < TYPE2_HEADER_SIZE) return 0;
    int32_t stopAfter = *blockLength < INT32_MAX - 64 ? *blockLength : INT32_MAX - 64;
    Reset(data, length, block, *blockLength);
    int32_t encoded = Encode(length, stopAfter);
    if (encoded > stopAfter) return 0;
    *blockLength = encoded;
    return 1;
}

int Type2_CompressStream(FfsSource source, void *sourceContext, int32_t length, FfsSink sink,
                         void *sinkContext, int32_t stopAfter, int32_t *blockLength) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(source && sink && blockLength, "Pointer is NULL...\n");
    RequireState();
    if (length < 1 || stopAfter < TYPE2_HEADER_SIZE) return 0;
    if (stopAfter > INT32_MAX - 64) stopAfter = INT32_MAX - 64;
    // One block for both pieces: the data's, then the block's.
    uint8_t *pieces = (uint8_t *)TESSEL_ALLOC(2 * TYPE2_PIECE_SIZE);
    Reset(pieces, 0, pieces + TYPE2_PIECE_SIZE, TYPE2_PIECE_SIZE);
    T->source = source;
    T->sourceContext = sourceContext;
    T->inputPiece = pieces;
    T->storedLeft = length;
    T->sink = sink;
    T->sinkContext = sinkContext;
    int32_t encoded = Encode(length, stopAfter);
    int failed = T->failed;
    TESSEL_FREE(pieces, 2 * TYPE2_PIECE_SIZE);
    Reset(NULL, 0, NULL, 0); // no pointer to the pieces, or to the caller's ends, stays
    if (failed || encoded > stopAfter) return 0;
    *blockLength = encoded;
    return 1;
}

// The output piece, length bytes, to the sink; returns the length the piece keeps (0 after it
// went to the sink). A whole buffer has no sink: it is full only at its end.
static int32_t HandOn(Type2State *t, int32_t length) {
    if (!t->sink || length == 0) return length;
    if (!t->failed && !t->sink(t->sinkContext, t->output, length)) t->failed = 1;
    t->handed += length;
    return 0;
}

// The decoder: size bytes from the code stream into the output, which a whole buffer holds
// exactly. Returns 1, or 0 when a read or the sink failed or the block ran out (decoding stops
// there, and the last piece is not handed on).
static int Decode(Type2State *t, int32_t size) {
    StartTree(t);
    Reader in = {0, 0, t->input, t->input, 0, 0}; // a block in pieces starts with none
    if (t->input) in.end += t->inputLength;
    uint8_t *window = t->window, *output = t->output;
    int32_t written = 0, capacity = t->outputCapacity, left = size;
    int r = START;
    while (left > 0 && !t->failed) {
        // Half a word covers nearly every symbol; a deeper one refills on its way.
        if (in.count < WORD_BITS / 2) Refill(t, &in);
        int c = DecodeSymbol(t, &in);
        int from = c < 256 ? 0 : (r - (int)DecodePosition(t, &in) - 1) & (WINDOW_SIZE - 1);
        // Bits past the end that the encoder would already have written: the block ran out.
        if (PastEnd(&in) > in.held) {
            t->failed = 1;
            break;
        }
        if (c < 256) {
            window[r] = (uint8_t)c;
            r = (r + 1) & (WINDOW_SIZE - 1);
            output[written++] = (uint8_t)c;
            if (written == capacity) written = HandOn(t, written);
            left--;
            continue;
        }
        int32_t count = c - LENGTH_BASE;
        if (count > left) count = left; // a match past the size is cut there
        left -= count;
        if (from + count <= WINDOW_SIZE && r + count <= WINDOW_SIZE && count < capacity - written) {
            // Neither end wraps and the piece is not filled: one plain loop, a byte at a time
            // as the format copies (the two ends may overlap).
            const uint8_t *source = window + from;
            uint8_t *to = window + r, *out = output + written;
            for (int i = 0; i < count; i++) out[i] = to[i] = source[i];
            r = (r + count) & (WINDOW_SIZE - 1);
            written += count;
            continue;
        }
        while (count-- > 0) {
            uint8_t b = window[from];
            from = (from + 1) & (WINDOW_SIZE - 1);
            window[r] = b;
            r = (r + 1) & (WINDOW_SIZE - 1);
            output[written++] = b;
            if (written == capacity) written = HandOn(t, written);
        }
    }
    // The block's last byte carries the high 8 of the bits the encoder held at the end.
    if (PastEnd(&in) > (in.held > 8 ? in.held - 8 : 0)) t->failed = 1;
    HandOn(t, written);
    return !t->failed;
}

// 1 when a block's 8 header bytes are a Type2 header of outputLength (at least 1) bytes. Reads
// the bytes directly, without the asserts' shared record of a location: the decoder apart runs
// on another thread.
static int HeaderFits(const uint8_t *header, int32_t outputLength) {
    return memcmp(header, TYPE2_TAG, 4) == 0 && outputLength > 0 &&
           (int32_t)~Le_Get32(header + 4) == outputLength;
}

int Type2_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                     int32_t outputLength) {
    CORE_GUARD(block);
    CORE_GUARD(output);
    RequireState();
    if (blockLength < TYPE2_HEADER_SIZE || !HeaderFits(block, outputLength)) return 0;
    Reset(block + TYPE2_HEADER_SIZE, blockLength - TYPE2_HEADER_SIZE, output, outputLength);
    return Decode(T, outputLength);
}

int Type2_DecompressStream(FfsSource source, void *sourceContext, int32_t blockLength, FfsSink sink,
                           void *sinkContext, int32_t outputLength) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(source && sink, "Pointer is NULL...\n");
    RequireState();
    uint8_t header[TYPE2_HEADER_SIZE];
    if (blockLength < TYPE2_HEADER_SIZE || !source(sourceContext, header, TYPE2_HEADER_SIZE) ||
        !HeaderFits(header, outputLength))
        return 0;
    // One block for both pieces: the input's, then the output's.
    uint8_t *pieces = (uint8_t *)TESSEL_ALLOC(2 * TYPE2_PIECE_SIZE);
    Reset(NULL, 0, pieces + TYPE2_PIECE_SIZE, TYPE2_PIECE_SIZE);
    T->source = source;
    T->sourceContext = sourceContext;
    T->inputPiece = pieces;
    T->storedLeft = blockLength - TYPE2_HEADER_SIZE;
    T->sink = sink;
    T->sinkContext = sinkContext;
    int result = Decode(T, outputLength);
    TESSEL_FREE(pieces, 2 * TYPE2_PIECE_SIZE);
    Reset(NULL, 0, NULL, 0); // no pointer to the pieces, or to the caller's ends, stays
    return result;
}

int Type2_DecompressApart(const uint8_t *block, int32_t blockLength, uint8_t *output,
                          int32_t outputLength) {
    if (!block || !output || blockLength < TYPE2_HEADER_SIZE || !HeaderFits(block, outputLength) ||
        Codes.decodeLength[0] == 0)
        return 0;
    // The decoder's part of a state, on this thread's stack: the match finder's links stay out.
    uint16_t freq[FREQ_COUNT], parent[PARENT_COUNT], child[TREE_SIZE];
    uint8_t window[WINDOW_BYTES];
    Type2State state;
    memset(&state, 0, sizeof state);
    state.freq = freq;
    state.parent = parent;
    state.child = child;
    state.window = window;
    ResetState(&state, block + TYPE2_HEADER_SIZE, blockLength - TYPE2_HEADER_SIZE, output,
               outputLength);
    return Decode(&state, outputLength);
}

int Type2_GetSize(const uint8_t *block, int32_t *size) {
    if (!block) return 0;
    CORE_GUARD(size);
    *size = (int32_t)~Le_Get32(block + 4);
    return 1;
}

int Type2_Identify(const uint8_t *block) {
    CORE_GUARD(block);
    return memcmp(block, TYPE2_TAG, 4) == 0;
}

// Name, version, Compress, Decompress, GetSize, Identify, Init, Shutdown, Next (set by
// Ffs_AddCodec), DecompressStream, DecompressApart.
FfsCodec Type2_Codec = {"Type2",
                        "1.0",
                        Type2_Compress,
                        Type2_Decompress,
                        Type2_GetSize,
                        Type2_Identify,
                        Type2_Init,
                        Type2_Shutdown,
                        NULL,
                        Type2_DecompressStream,
                        Type2_DecompressApart};
