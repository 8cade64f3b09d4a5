// The Type2 yardstick: bit output and input over 16-bit buffers, the adaptive Huffman tree, the
// position code, the binary-tree match finder, the encoder and the decoder, each written the way
// the format states it (positions taken modulo the window, frequencies searched one by one).
#include "type2-reference.h"

#include <string.h>

namespace {

enum {
    WINDOW = 4096,
    LOOKAHEAD = 60,
    THRESHOLD = 3,
    SYMBOLS = 313,
    TREE = 625,
    ROOT = 624,
    REBUILD_LIMIT = 0x8000,
    NONE = 4096,
    START = WINDOW - LOOKAHEAD,
};

struct State {
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
    uint16_t freq[TREE + 1];
    uint8_t window[WINDOW + LOOKAHEAD - 1];
    uint16_t parent[TREE + SYMBOLS];
    uint16_t up[WINDOW + 1];
    uint16_t child[TREE];
    uint16_t left[WINDOW + 1];
    uint16_t right[WINDOW + 257];
    int32_t matchPosition;
    int32_t matchLength;
    // The decoder's codes counted again: bits read, and the writer's count and bytes for them.
    int64_t codeBits;
    uint8_t rewriteCount;
    int32_t rewriteLength;
} S;

// The position code's rows: code lengths by upper value, codes left-aligned in a byte.
const struct {
    int firstUpper, lastUpper, length, firstCode, step;
} PositionRows[] = {
    {0, 0, 3, 0x00, 0x20},   {1, 3, 4, 0x20, 0x10},   {4, 11, 5, 0x50, 0x08},
    {12, 23, 6, 0x90, 0x04}, {24, 47, 7, 0xC0, 0x02}, {48, 63, 8, 0xF0, 0x01},
};

uint8_t EncodeCode[64], EncodeLength[64], DecodeUpper[256], DecodeLength[256];

void MakeTables(void) {
    for (const auto &row : PositionRows) {
        for (int u = row.firstUpper; u <= row.lastUpper; u++) {
            int code = row.firstCode + (u - row.firstUpper) * row.step;
            EncodeCode[u] = (uint8_t)code;
            EncodeLength[u] = (uint8_t)row.length;
            for (int b = 0; b < row.step; b++) {
                DecodeUpper[code + b] = (uint8_t)u;
                DecodeLength[code + b] = (uint8_t)row.length;
            }
        }
    }
}

void Reset(const uint8_t *input, int32_t inputLength, uint8_t *output, int32_t capacity) {
    MakeTables();
    S.input = input;
    S.inputLength = inputLength;
    S.inputPosition = 0;
    S.readBuffer = 0;
    S.readCount = 0;
    S.output = output;
    S.outputCapacity = capacity;
    S.outputLength = 0;
    S.writeBuffer = 0;
    S.writeCount = 0;
    S.matchPosition = 0;
    S.matchLength = 0;
    S.codeBits = 0;
    S.rewriteCount = 0;
    S.rewriteLength = 0;
    memset(S.window, 0, sizeof S.window);
    for (int i = 0; i < START; i++) S.window[i] = ' ';
    for (int i = 0; i <= WINDOW; i++) S.up[i] = S.left[i] = NONE;
    for (int i = 0; i < WINDOW + 257; i++) S.right[i] = NONE;
}

// ---- Bits ----

void OutputByte(unsigned value) {
    if (S.outputLength < S.outputCapacity) S.output[S.outputLength] = (uint8_t)value;
    S.outputLength++;
}

void PutCode(int n, unsigned code) {
    S.writeBuffer = (uint16_t)(S.writeBuffer | (code >> S.writeCount));
    S.writeCount = (uint8_t)(S.writeCount + n);
    if (S.writeCount >= 8) {
        OutputByte(S.writeBuffer >> 8);
        S.writeCount = (uint8_t)(S.writeCount - 8);
        if (S.writeCount >= 8) {
            OutputByte(S.writeBuffer & 0xFF);
            S.writeCount = (uint8_t)(S.writeCount - 8);
            S.writeBuffer = (uint16_t)(code << (n - S.writeCount));
        } else {
            S.writeBuffer = (uint16_t)(S.writeBuffer << 8);
        }
    }
}

// A code of n bits that the decoder read, counted as PutCode counts it: the bytes it would
// output and the bits it would hold.
void Rewrite(int n) {
    S.codeBits += n;
    S.rewriteCount = (uint8_t)(S.rewriteCount + n);
    if (S.rewriteCount >= 8) {
        S.rewriteLength++;
        S.rewriteCount = (uint8_t)(S.rewriteCount - 8);
        if (S.rewriteCount >= 8) {
            S.rewriteLength++;
            S.rewriteCount = (uint8_t)(S.rewriteCount - 8);
        }
    }
}

void Refill(void) {
    while (S.readCount <= 8) {
        unsigned next = 0;
        if (S.inputPosition < S.inputLength) next = S.input[S.inputPosition++];
        S.readBuffer = (uint16_t)(S.readBuffer | (next << (8 - S.readCount)));
        S.readCount = (uint8_t)(S.readCount + 8);
    }
}

unsigned GetBit(void) {
    Refill();
    unsigned bit = (S.readBuffer >> 15) & 1;
    S.readBuffer = (uint16_t)(S.readBuffer << 1);
    S.readCount--;
    return bit;
}

unsigned GetByte(void) {
    Refill();
    unsigned byte = S.readBuffer >> 8;
    S.readBuffer = (uint16_t)(S.readBuffer << 8);
    S.readCount = (uint8_t)(S.readCount - 8);
    return byte;
}

// ---- Adaptive Huffman tree ----

void StartTree(void) {
    for (int s = 0; s < SYMBOLS; s++) {
        S.freq[s] = 1;
        S.child[s] = (uint16_t)(TREE + s);
        S.parent[TREE + s] = (uint16_t)s;
    }
    for (int i = 0, j = SYMBOLS; j <= ROOT; i += 2, j++) {
        S.freq[j] = (uint16_t)(S.freq[i] + S.freq[i + 1]);
        S.child[j] = (uint16_t)i;
        S.parent[i] = S.parent[i + 1] = (uint16_t)j;
    }
    S.freq[TREE] = 0xFFFF;
    S.parent[ROOT] = 0;
}

void Rebuild(void) {
    int j = 0;
    for (int i = 0; i < TREE; i++) {
        if (S.child[i] >= TREE) {
            S.freq[j] = (uint16_t)((S.freq[i] + 1) / 2);
            S.child[j] = S.child[i];
            j++;
        }
    }
    for (int i = 0, n = SYMBOLS; n < TREE; i += 2, n++) {
        uint16_t f = (uint16_t)(S.freq[i] + S.freq[i + 1]);
        S.freq[n] = f;
        int k = n - 1;
        while (f < S.freq[k]) k--;
        k++;
        for (int m = n; m > k; m--) {
            S.freq[m] = S.freq[m - 1];
            S.child[m] = S.child[m - 1];
        }
        S.freq[k] = f;
        S.child[k] = (uint16_t)i;
    }
    for (int i = 0; i < TREE; i++) {
        int k = S.child[i];
        S.parent[k] = (uint16_t)i;
        if (k < TREE) S.parent[k + 1] = (uint16_t)i;
    }
}

void Update(int c) {
    if (S.freq[ROOT] == REBUILD_LIMIT) Rebuild();
    int n = S.parent[TREE + c];
    do {
        uint16_t k = ++S.freq[n];
        if (k > S.freq[n + 1]) {
            int l = n + 1;
            while (k > S.freq[l + 1]) l++;
            S.freq[n] = S.freq[l];
            S.freq[l] = k;
            int i = S.child[n];
            S.parent[i] = (uint16_t)l;
            if (i < TREE) S.parent[i + 1] = (uint16_t)l;
            int j = S.child[l];
            S.child[l] = (uint16_t)i;
            S.parent[j] = (uint16_t)n;
            if (j < TREE) S.parent[j + 1] = (uint16_t)n;
            S.child[n] = (uint16_t)j;
            n = l;
        }
        n = S.parent[n];
    } while (n != 0);
}

void EncodeSymbol(int c) {
    unsigned code = 0;
    int count = 0;
    int n = S.parent[TREE + c];
    for (;;) {
        code = (code >> 1) + ((n % 2 == 1) ? 0x8000 : 0);
        count++;
        if (S.parent[n] == ROOT) break;
        n = S.parent[n];
    }
    PutCode(count, code);
    Update(c);
}

int DecodeSymbol(void) {
    int n = S.child[ROOT], bits = 0;
    for (; n < TREE; bits++) n = S.child[n + (int)GetBit()];
    Rewrite(bits);
    int c = n - TREE;
    Update(c);
    return c;
}

void EncodePosition(int p) {
    int upper = p >> 6;
    PutCode(EncodeLength[upper], (unsigned)EncodeCode[upper] << 8);
    PutCode(6, (unsigned)(p & 0x3F) << 10);
}

int DecodePosition(void) {
    unsigned i = GetByte();
    int upper = DecodeUpper[i], length = DecodeLength[i];
    for (int k = 0; k < length - 2; k++) i = (i << 1) + GetBit();
    Rewrite(length); // the encoder's two codes: the upper bits' and the lower six
    Rewrite(6);
    return (upper << 6) | (int)(i & 0x3F);
}

// ---- Match finder ----

int Distance(int r, int p) { return ((r - p + WINDOW) % WINDOW) - 1; }

void Insert(int r) {
    const uint8_t *key = &S.window[r];
    S.left[r] = S.right[r] = NONE;
    S.matchLength = 0;
    int p = WINDOW + 1 + key[0];
    int compare = 1;
    for (;;) {
        uint16_t *link = compare >= 0 ? &S.right[p] : &S.left[p];
        if (*link == NONE) {
            *link = (uint16_t)r;
            S.up[r] = (uint16_t)p;
            return;
        }
        p = *link;
        int i = 1;
        for (; i < LOOKAHEAD; i++) {
            compare = key[i] - S.window[p + i];
            if (compare != 0) break;
        }
        if (i > THRESHOLD) {
            if (i > S.matchLength) {
                S.matchPosition = Distance(r, p);
                S.matchLength = i;
                if (i >= LOOKAHEAD) break;
            }
            if (i == S.matchLength && Distance(r, p) < S.matchPosition)
                S.matchPosition = Distance(r, p);
        }
    }
    // r takes the place of p, which holds the same 60 bytes.
    S.up[r] = S.up[p];
    S.left[r] = S.left[p];
    S.right[r] = S.right[p];
    S.up[S.left[p]] = (uint16_t)r;
    S.up[S.right[p]] = (uint16_t)r;
    if (S.right[S.up[p]] == p)
        S.right[S.up[p]] = (uint16_t)r;
    else
        S.left[S.up[p]] = (uint16_t)r;
    S.up[p] = NONE;
}

void Delete(int p) {
    if (S.up[p] == NONE) return;
    int q;
    if (S.right[p] == NONE) {
        q = S.left[p];
    } else if (S.left[p] == NONE) {
        q = S.right[p];
    } else {
        q = S.left[p];
        if (S.right[q] != NONE) {
            while (S.right[q] != NONE) q = S.right[q];
            S.right[S.up[q]] = S.left[q];
            S.up[S.left[q]] = S.up[q];
            S.left[q] = S.left[p];
            S.up[S.left[p]] = (uint16_t)q;
        }
        S.right[q] = S.right[p];
        S.up[S.right[p]] = (uint16_t)q;
    }
    S.up[q] = S.up[p];
    if (S.right[S.up[p]] == p)
        S.right[S.up[p]] = (uint16_t)q;
    else
        S.left[S.up[p]] = (uint16_t)q;
    S.up[p] = NONE;
}

} // namespace

// ---- Blocks ----

int32_t Type2Ref_Encode(const uint8_t *data, int32_t length, uint8_t *block, int32_t capacity) {
    Reset(data, length, block, capacity);
    const uint8_t header[8] = {'F',
                               'F',
                               'C',
                               '@',
                               (uint8_t)~length,
                               (uint8_t)(~length >> 8),
                               (uint8_t)(~length >> 16),
                               (uint8_t)(~length >> 24)};
    for (int i = 0; i < 8; i++) OutputByte(header[i]);
    StartTree();
    int s = 0, r = START, len = 0;
    while (len < LOOKAHEAD && S.inputPosition < length)
        S.window[r + len++] = data[S.inputPosition++];
    for (int i = 1; i <= LOOKAHEAD; i++) Insert(r - i);
    Insert(r);
    do {
        if (S.matchLength > len) S.matchLength = len;
        if (S.matchLength <= THRESHOLD) {
            S.matchLength = 1;
            EncodeSymbol(S.window[r]);
        } else {
            EncodeSymbol(252 + S.matchLength);
            EncodePosition(S.matchPosition);
        }
        int last = S.matchLength, i = 0;
        for (; i < last && S.inputPosition < length; i++) {
            uint8_t c = data[S.inputPosition++];
            Delete(s);
            S.window[s] = c;
            if (s < LOOKAHEAD - 1) S.window[WINDOW + s] = c;
            s = (s + 1) % WINDOW;
            r = (r + 1) % WINDOW;
            Insert(r);
        }
        for (; i < last; i++) {
            Delete(s);
            s = (s + 1) % WINDOW;
            r = (r + 1) % WINDOW;
            len--;
            if (len != 0) Insert(r);
        }
    } while (len > 0);
    if (S.writeCount != 0) OutputByte(S.writeBuffer >> 8);
    return S.outputLength;
}

int Type2Ref_Compress(const uint8_t *data, int32_t length, uint8_t *block, int32_t *blockLength) {
    if (length <= 10) return 0;
    int32_t encoded = Type2Ref_Encode(data, length, block, *blockLength);
    if (encoded >= length) return 0;
    *blockLength = encoded;
    return 1;
}

int Type2Ref_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                        int32_t outputLength) {
    if (blockLength < 8 || memcmp(block, "FFC@", 4) != 0) return 0;
    uint32_t complement = (uint32_t)block[4] | (uint32_t)block[5] << 8 | (uint32_t)block[6] << 16 |
                          (uint32_t)block[7] << 24;
    int32_t size = (int32_t)~complement;
    if (size <= 0 || size != outputLength) return 0;
    Reset(block + 8, blockLength - 8, output, size);
    StartTree();
    int r = START;
    while (S.outputLength < size) {
        int c = DecodeSymbol();
        if (c < 256) {
            OutputByte((unsigned)c);
            S.window[r] = (uint8_t)c;
            r = (r + 1) % WINDOW;
        } else {
            int i = (r - DecodePosition() - 1 + WINDOW) % WINDOW;
            int length = c - 252;
            for (int k = 0; k < length; k++) {
                uint8_t b = S.window[(i + k) % WINDOW];
                OutputByte(b);
                S.window[r] = b;
                r = (r + 1) % WINDOW;
            }
        }
    }
    return 1;
}

int64_t Type2Ref_CodeBits(void) { return S.codeBits; }

int32_t Type2Ref_WrittenLength(void) { return S.rewriteLength + (S.rewriteCount != 0 ? 1 : 0); }
