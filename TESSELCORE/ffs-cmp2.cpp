// The Type2 codec: the working state and its reset, bit output and input over 16-bit buffers,
// the adaptive Huffman tree of literals and match lengths with its rebuild, the fixed position
// code, the binary-tree match finder of the encoder, the block encoder, and the one decoder,
// over whole buffers or over pieces read from a source and handed to a sink.
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
};

enum {
    FREQ_COUNT = TREE_SIZE + 1,                 // a 0xFFFF sentinel behind the last node
    WINDOW_BYTES = WINDOW_SIZE + LOOKAHEAD - 1, // positions 0..58 copied behind the window
    PARENT_COUNT = TREE_SIZE + SYMBOLS,         // nodes, then each symbol's leaf
    UP_COUNT = WINDOW_SIZE + 1,
    LEFT_COUNT = WINDOW_SIZE + 1,
    RIGHT_COUNT = WINDOW_SIZE + 257, // right[4097 + b]: root of the strings beginning with b
};

typedef struct Type2State {
    const uint8_t *input;
    int32_t inputLength;
    int32_t inputPosition;
    uint16_t readBuffer;
    uint8_t readCount;
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
    uint16_t *left;
    uint16_t *right;
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
    int failed; // a read or the sink failed: decoding stops
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

static void Reset(const uint8_t *input, int32_t inputLength, uint8_t *output, int32_t capacity) {
    T->input = input;
    T->inputLength = inputLength;
    T->inputPosition = 0;
    T->readBuffer = 0;
    T->readCount = 0;
    T->output = output;
    T->outputCapacity = capacity;
    T->outputLength = 0;
    T->writeBuffer = 0;
    T->writeCount = 0;
    T->matchPosition = 0;
    T->matchLength = 0;
    T->source = NULL;
    T->sourceContext = NULL;
    T->inputPiece = NULL;
    T->storedLeft = 0;
    T->sink = NULL;
    T->sinkContext = NULL;
    T->handed = 0;
    T->failed = 0;
    memset(T->window, 0, WINDOW_BYTES);
    memset(T->window, ' ', START);
    for (int i = 0; i < UP_COUNT; i++) T->up[i] = NONE;
    for (int i = 0; i < LEFT_COUNT; i++) T->left[i] = NONE;
    for (int i = 0; i < RIGHT_COUNT; i++) T->right[i] = NONE;
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
    T->left = (uint16_t *)TESSEL_ALLOC(LEFT_COUNT * 2);
    T->right = (uint16_t *)TESSEL_ALLOC(RIGHT_COUNT * 2);
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
    TESSEL_FREE(T->left, LEFT_COUNT * 2);
    TESSEL_FREE(T->right, RIGHT_COUNT * 2);
    TESSEL_FREE(T->up, UP_COUNT * 2);
    TESSEL_FREE(T, (int32_t)sizeof(Type2State));
    return 1;
}

static void RequireState(void) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(T != NULL, "Type2 used before Type2_Init");
}

// ---- Bits ----

static void OutputByte(unsigned value) {
    if (T->outputLength < T->outputCapacity) T->output[T->outputLength] = (uint8_t)value;
    T->outputLength++;
}

// n bits of code, left-aligned in 16 bits.
static void PutCode(int n, unsigned code) {
    T->writeBuffer = (uint16_t)(T->writeBuffer | (code >> T->writeCount));
    T->writeCount = (uint8_t)(T->writeCount + n);
    if (T->writeCount < 8) return;
    OutputByte(T->writeBuffer >> 8);
    T->writeCount = (uint8_t)(T->writeCount - 8);
    if (T->writeCount >= 8) {
        OutputByte(T->writeBuffer & 0xFF);
        T->writeCount = (uint8_t)(T->writeCount - 8);
        T->writeBuffer = (uint16_t)(code << (n - T->writeCount));
    } else {
        T->writeBuffer = (uint16_t)(T->writeBuffer << 8);
    }
}

static void FlushBits(void) {
    if (T->writeCount != 0) OutputByte(T->writeBuffer >> 8);
}

// The next piece of a block read in pieces, while the block has unread bytes: 1 with the input
// refilled; 0 at the block's end, for a whole block, and after a failed read.
static int FetchInput(void) {
    if (!T->source || T->storedLeft == 0 || T->failed) return 0;
    int32_t n = T->storedLeft < TYPE2_PIECE_SIZE ? T->storedLeft : TYPE2_PIECE_SIZE;
    if (!T->source(T->sourceContext, T->inputPiece, n)) {
        T->failed = 1;
        return 0;
    }
    T->storedLeft -= n;
    T->input = T->inputPiece;
    T->inputLength = n;
    T->inputPosition = 0;
    return 1;
}

// Bits past the end of the block read as 0.
static void Refill(void) {
    while (T->readCount <= 8) {
        unsigned next = 0;
        if (T->inputPosition < T->inputLength || FetchInput()) next = T->input[T->inputPosition++];
        T->readBuffer = (uint16_t)(T->readBuffer | (next << (8 - T->readCount)));
        T->readCount = (uint8_t)(T->readCount + 8);
    }
}

static unsigned GetBit(void) {
    Refill();
    unsigned bit = T->readBuffer >> 15;
    T->readBuffer = (uint16_t)(T->readBuffer << 1);
    T->readCount--;
    return bit;
}

static unsigned GetByte(void) {
    Refill();
    unsigned byte = T->readBuffer >> 8;
    T->readBuffer = (uint16_t)(T->readBuffer << 8);
    T->readCount = (uint8_t)(T->readCount - 8);
    return byte;
}

// ---- Adaptive Huffman tree ----

static void StartTree(void) {
    uint16_t *freq = T->freq, *child = T->child, *parent = T->parent;
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
static void Rebuild(void) {
    uint16_t *freq = T->freq, *child = T->child, *parent = T->parent;
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

static void Update(int symbol) {
    uint16_t *freq = T->freq, *child = T->child, *parent = T->parent;
    if (freq[ROOT] == REBUILD_LIMIT) Rebuild();
    int n = parent[TREE_SIZE + symbol];
    do {
        uint16_t k = ++freq[n];
        if (k > freq[n + 1]) {
            int l = n + 1;
            while (k > freq[l + 1]) l++;
            freq[n] = freq[l];
            freq[l] = k;
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

static void EncodeSymbol(int symbol) {
    unsigned code = 0;
    int count = 0;
    int node = T->parent[TREE_SIZE + symbol];
    do {
        code >>= 1;
        if (node & 1) code += 0x8000;
        count++;
        node = T->parent[node];
    } while (node != ROOT);
    PutCode(count, code);
    Update(symbol);
}

static int DecodeSymbol(void) {
    unsigned node = T->child[ROOT];
    while (node < TREE_SIZE) node = T->child[node + GetBit()];
    int symbol = (int)node - TREE_SIZE;
    Update(symbol);
    return symbol;
}

static void EncodePosition(unsigned position) {
    unsigned upper = position >> 6;
    PutCode(Codes.encodeLength[upper], (unsigned)Codes.encodeCode[upper] << 8);
    PutCode(6, (position & 0x3F) << 10);
}

static unsigned DecodePosition(void) {
    unsigned i = GetByte();
    unsigned upper = Codes.decodeUpper[i];
    int more = Codes.decodeLength[i] - 2;
    while (more-- > 0) i = (i << 1) + GetBit();
    return (upper << 6) | (i & 0x3F);
}

// ---- Match finder ----

static void InsertNode(int r) {
    uint16_t *left = T->left, *right = T->right, *up = T->up;
    const uint8_t *key = &T->window[r];
    int p = WINDOW_SIZE + 1 + key[0];
    int compare = 1;
    left[r] = right[r] = NONE;
    T->matchLength = 0;
    for (;;) {
        if (compare >= 0) {
            if (right[p] == NONE) {
                right[p] = (uint16_t)r;
                up[r] = (uint16_t)p;
                return;
            }
            p = right[p];
        } else {
            if (left[p] == NONE) {
                left[p] = (uint16_t)r;
                up[r] = (uint16_t)p;
                return;
            }
            p = left[p];
        }
        int i = 1;
        for (; i < LOOKAHEAD; i++)
            if ((compare = key[i] - T->window[p + i]) != 0) break;
        if (i > THRESHOLD) {
            int distance = ((r - p) & (WINDOW_SIZE - 1)) - 1;
            if (i > T->matchLength) {
                T->matchPosition = distance;
                T->matchLength = i;
                if (i >= LOOKAHEAD) break;
            }
            if (i == T->matchLength && distance < T->matchPosition) T->matchPosition = distance;
        }
    }
    // r replaces p, which holds the same 60 bytes and is older.
    up[r] = up[p];
    left[r] = left[p];
    right[r] = right[p];
    up[left[p]] = (uint16_t)r;
    up[right[p]] = (uint16_t)r;
    if (right[up[p]] == p)
        right[up[p]] = (uint16_t)r;
    else
        left[up[p]] = (uint16_t)r;
    up[p] = NONE;
}

static void DeleteNode(int p) {
    uint16_t *left = T->left, *right = T->right, *up = T->up;
    if (up[p] == NONE) return;
    int q;
    if (right[p] == NONE) {
        q = left[p];
    } else if (left[p] == NONE) {
        q = right[p];
    } else {
        q = left[p];
        if (right[q] != NONE) {
            while (right[q] != NONE) q = right[q];
            right[up[q]] = left[q];
            up[left[q]] = up[q];
            left[q] = left[p];
            up[left[p]] = (uint16_t)q;
        }
        right[q] = right[p];
        up[right[p]] = (uint16_t)q;
    }
    up[q] = up[p];
    if (right[up[p]] == p)
        right[up[p]] = (uint16_t)q;
    else
        left[up[p]] = (uint16_t)q;
    up[p] = NONE;
}

// ---- Blocks ----

// Writes the whole block for length >= 1 bytes (bytes beyond capacity are dropped) and returns
// the block's full length; or stops once more than stopAfter bytes are out, a block the caller
// refuses (which also keeps the count of a 2 GB block inside 31 bits).
static int32_t Encode(const uint8_t *data, int32_t length, uint8_t *block, int32_t capacity,
                      int32_t stopAfter) {
    memcpy(block, TYPE2_TAG, 4);
    Le_Put32(block + 4, ~(uint32_t)length);
    Reset(data, length, block, capacity);
    T->outputLength = TYPE2_HEADER_SIZE;
    StartTree();
    uint8_t *window = T->window;
    int s = 0, r = START, len = 0;
    while (len < LOOKAHEAD && T->inputPosition < length)
        window[r + len++] = data[T->inputPosition++];
    for (int i = 1; i <= LOOKAHEAD; i++) InsertNode(r - i);
    InsertNode(r);
    do {
        if (T->matchLength > len) T->matchLength = len;
        if (T->matchLength <= THRESHOLD) {
            T->matchLength = 1;
            EncodeSymbol(window[r]);
        } else {
            EncodeSymbol(LENGTH_BASE + T->matchLength);
            EncodePosition((unsigned)T->matchPosition);
        }
        int last = T->matchLength, i = 0;
        for (; i < last && T->inputPosition < length; i++) {
            uint8_t c = data[T->inputPosition++];
            DeleteNode(s);
            window[s] = c;
            if (s < LOOKAHEAD - 1) window[s + WINDOW_SIZE] = c;
            s = (s + 1) & (WINDOW_SIZE - 1);
            r = (r + 1) & (WINDOW_SIZE - 1);
            InsertNode(r);
        }
        for (; i < last; i++) {
            DeleteNode(s);
            s = (s + 1) & (WINDOW_SIZE - 1);
            r = (r + 1) & (WINDOW_SIZE - 1);
            if (--len) InsertNode(r);
        }
    } while (len > 0 && T->outputLength <= stopAfter);
    FlushBits();
    return T->outputLength;
}

int Type2_Compress(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength) {
    CORE_GUARD(data);
    CORE_GUARD(block);
    CORE_GUARD(blockLength);
    RequireState();
    if (length <= 10) return 0;
    int32_t encoded = Encode(data, length, block, *blockLength, length - 1);
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
    int32_t encoded = Encode(data, length, block, *blockLength, stopAfter);
    if (encoded > stopAfter) return 0;
    *blockLength = encoded;
    return 1;
}

// The output piece to the sink, which starts the next one. A whole buffer has no sink: it is
// full only at its end.
static void HandOn(void) {
    if (!T->sink || T->outputLength == 0) return;
    if (!T->failed && !T->sink(T->sinkContext, T->output, T->outputLength)) T->failed = 1;
    T->handed += T->outputLength;
    T->outputLength = 0;
}

static void PutByte(unsigned value) {
    T->output[T->outputLength++] = (uint8_t)value;
    if (T->outputLength == T->outputCapacity) HandOn();
}

// The decoder: size bytes from the code stream into the output, which a whole buffer holds
// exactly. Returns 1, or 0 when a read or the sink failed (decoding stops there).
static int Decode(int32_t size) {
    StartTree();
    uint8_t *window = T->window;
    int r = START;
    int32_t left = size;
    while (left > 0 && !T->failed) {
        int c = DecodeSymbol();
        if (c < 256) {
            PutByte((unsigned)c);
            window[r] = (uint8_t)c;
            r = (r + 1) & (WINDOW_SIZE - 1);
            left--;
            continue;
        }
        int from = (r - (int)DecodePosition() - 1) & (WINDOW_SIZE - 1);
        int32_t count = c - LENGTH_BASE;
        if (count > left) count = left; // a match past the size is cut there
        left -= count;
        for (int32_t k = 0; k < count; k++) {
            uint8_t b = window[(from + k) & (WINDOW_SIZE - 1)];
            PutByte(b);
            window[r] = b;
            r = (r + 1) & (WINDOW_SIZE - 1);
        }
    }
    HandOn();
    return !T->failed;
}

// 1 when a block's 8 header bytes are a Type2 header of outputLength (at least 1) bytes.
static int HeaderFits(const uint8_t *header, int32_t outputLength) {
    int32_t size = 0;
    if (!Type2_Identify(header)) return 0;
    Type2_GetSize(header, &size);
    return size > 0 && size == outputLength;
}

int Type2_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                     int32_t outputLength) {
    CORE_GUARD(block);
    CORE_GUARD(output);
    RequireState();
    if (blockLength < TYPE2_HEADER_SIZE || !HeaderFits(block, outputLength)) return 0;
    Reset(block + TYPE2_HEADER_SIZE, blockLength - TYPE2_HEADER_SIZE, output, outputLength);
    return Decode(outputLength);
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
    int result = Decode(outputLength);
    TESSEL_FREE(pieces, 2 * TYPE2_PIECE_SIZE);
    Reset(NULL, 0, NULL, 0); // no pointer to the pieces, or to the caller's ends, stays
    return result;
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
// Ffs_AddCodec), DecompressStream.
FfsCodec Type2_Codec = {"Type2",        "1.0",
                        Type2_Compress, Type2_Decompress,
                        Type2_GetSize,  Type2_Identify,
                        Type2_Init,     Type2_Shutdown,
                        NULL,           Type2_DecompressStream};
