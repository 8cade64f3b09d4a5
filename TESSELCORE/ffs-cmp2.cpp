// The Type2 decoder and the codec's life: the working state with its allocation and reset, the
// position code's tables, bit input over a machine word, the adaptive Huffman tree with its
// rebuild (the encoder's too), and the one decoder, over whole buffers or over pieces read from a
// source and handed to a sink. The codec record is the reader's: see Type2_Codec.
#include "ffs-cmp2.h"

#include <string.h>

#include "ffs-cmp2-state.h"
#include "tessel-bytes.h"
#include "tessel-core.h"

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

Type2Codes Type2_Codes;

static void BuildPositionTables(void) {
    unsigned code = 0; // left-aligned in a byte
    for (const auto &group : PositionCodeGroups) {
        unsigned step = 1u << (8 - group.length);
        for (unsigned k = 0; k < group.count; k++, code += step) {
            unsigned upper = group.firstUpper + k;
            Type2_Codes.encodeCode[upper] = (uint8_t)code;
            Type2_Codes.encodeLength[upper] = group.length;
            for (unsigned b = 0; b < step; b++) {
                Type2_Codes.decodeUpper[code + b] = (uint8_t)upper;
                Type2_Codes.decodeLength[code + b] = group.length;
            }
        }
    }
}

// ---- State ----

void Type2_ResetState(Type2State *t, const uint8_t *input, int32_t inputLength, uint8_t *output,
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
    Type2_ResetState(T, input, inputLength, output, capacity);
}

int Type2_Init(void) {
    if (T) { // allocated once; a second call only resets
        Reset(NULL, 0, NULL, 0);
        return 1;
    }
    // The tables are the same for every state: built by the first Init, which a program that
    // codes on several threads makes before it starts them.
    if (Type2_Codes.encodeLength[0] == 0) BuildPositionTables();
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

Type2State *Type2_RequireState(void) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(T != NULL, "Type2 used before Type2_Init");
    return T;
}

// ---- Bits in ----

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

void Type2_StartTree(Type2State *t) {
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
void Type2_UpdateTree(Type2State *t, int symbol, const uint16_t *path, int depth) {
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
    Type2_UpdateTree(t, symbol, path, depth < PATH_SIZE ? depth : 0);
    return symbol;
}

// The code of the upper six bits (3 to 8 bits, named by the next 8) and six more bits.
static unsigned DecodePosition(Type2State *t, Reader *in) {
    if (in->count < 14) Refill(t, in);
    unsigned next8 = (unsigned)(in->bits >> (WORD_BITS - 8));
    int length = Type2_Codes.decodeLength[next8] + 6;
    unsigned lower = (unsigned)(in->bits >> (WORD_BITS - length)) & 0x3F;
    in->bits <<= length;
    in->count -= length;
    in->held = Held(Held(in->held, length - 6), 6); // written as two codes
    return (unsigned)Type2_Codes.decodeUpper[next8] << 6 | lower;
}

// The output piece, length bytes, to the sink; returns the length the piece keeps (0 after it
// went to the sink). A whole buffer has no sink: it is full only at its end.
int32_t Type2_HandOn(Type2State *t, int32_t length) {
    if (!t->sink || length == 0) return length;
    if (!t->failed && !t->sink(t->sinkContext, t->output, length)) t->failed = 1;
    t->handed += length;
    return 0;
}

// The decoder: size bytes from the code stream into the output, which a whole buffer holds
// exactly. Returns 1, or 0 when a read or the sink failed or the block ran out (decoding stops
// there, and the last piece is not handed on).
static int Decode(Type2State *t, int32_t size) {
    Type2_StartTree(t);
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
            if (written == capacity) written = Type2_HandOn(t, written);
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
            if (written == capacity) written = Type2_HandOn(t, written);
        }
    }
    // The block's last byte carries the high 8 of the bits the encoder held at the end.
    if (PastEnd(&in) > (in.held > 8 ? in.held - 8 : 0)) t->failed = 1;
    Type2_HandOn(t, written);
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
    Type2_RequireState();
    if (blockLength < TYPE2_HEADER_SIZE || !HeaderFits(block, outputLength)) return 0;
    Reset(block + TYPE2_HEADER_SIZE, blockLength - TYPE2_HEADER_SIZE, output, outputLength);
    return Decode(T, outputLength);
}

int Type2_DecompressStream(FfsSource source, void *sourceContext, int32_t blockLength, FfsSink sink,
                           void *sinkContext, int32_t outputLength) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(source && sink, "Pointer is NULL...\n");
    Type2_RequireState();
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
        Type2_Codes.decodeLength[0] == 0)
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
    Type2_ResetState(&state, block + TYPE2_HEADER_SIZE, blockLength - TYPE2_HEADER_SIZE, output,
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
// Ffs_AddCodec), DecompressStream, DecompressApart. The reader's record: it identifies, sizes and
// decodes in pieces or apart, so neither the encoder (the builder calls Type2_Compress itself)
// nor the whole-block decoder is linked by a program that registers it.
FfsCodec Type2_Codec = {"Type2",
                        "1.0",
                        NULL,
                        NULL,
                        Type2_GetSize,
                        Type2_Identify,
                        Type2_Init,
                        Type2_Shutdown,
                        NULL,
                        Type2_DecompressStream,
                        Type2_DecompressApart,
                        NULL,
                        NULL,
                        NULL};
