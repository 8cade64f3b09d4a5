// The LZMA decoder: the block's header, the range decoder over a whole block or its pieces, the
// probability model (literals, matches, the four repeated distances, lengths), the window with
// its hand-over to a sink through the x86 branch converter, and the codec record. Written from
// the format's public description.
#include "ffs-lzma.h"

#include <string.h>

#include "ffs-bcj.h"
#include "tessel-bytes.h"
#include "tessel-core.h"

enum {
    PROB_BITS = 11,
    PROB_START = 1 << (PROB_BITS - 1), // every probability starts at one half
    MOVE_BITS = 5,                     // how fast a probability adapts
    RANGE_TOP = 1 << 24,               // below it the range takes in another byte
    STATES = 12,
    LITERAL_STATES = 7, // the states below follow a literal
    POS_STATES_MAX = 16,
    LITERAL_CODER = 0x300, // probabilities of one literal coder
    LENGTH_STATES = 4,     // distance slots are chosen by the length, up to this
    SLOT_BITS = 6,
    END_SLOT = 14,        // slots from here on code their middle bits directly
    FULL_DISTANCES = 128, // distances below this are coded by slot and reverse tree
    ALIGN_BITS = 4,
    MATCH_MIN = 2,
    // A length coder: two choices, a low and a middle tree of 3 bits per position state, and a
    // high tree of 8 bits.
    LEN_CHOICE2 = 1,
    LEN_LOW = 2,
    LEN_MID = LEN_LOW + POS_STATES_MAX * 8,
    LEN_HIGH = LEN_MID + POS_STATES_MAX * 8,
    LEN_PROBS = LEN_HIGH + 256,
};

// Where each group of probabilities lies in the one table; the literal coders come last, as
// many as lc + lp asks (0x300 << (lc + lp)).
enum {
    IS_MATCH = 0,
    IS_REP = IS_MATCH + STATES * POS_STATES_MAX,
    IS_REP_G0 = IS_REP + STATES,
    IS_REP_G1 = IS_REP_G0 + STATES,
    IS_REP_G2 = IS_REP_G1 + STATES,
    IS_REP0_LONG = IS_REP_G2 + STATES,
    SLOTS = IS_REP0_LONG + STATES * POS_STATES_MAX,
    SPECIAL = SLOTS + (LENGTH_STATES << SLOT_BITS),
    ALIGN = SPECIAL + 1 + FULL_DISTANCES - END_SLOT,
    LENGTHS = ALIGN + (1 << ALIGN_BITS),
    REP_LENGTHS = LENGTHS + LEN_PROBS,
    LITERALS = REP_LENGTHS + LEN_PROBS,
    PROBS_MAX = LITERALS + (LITERAL_CODER << 4), // lc + lp at most 4
};

typedef struct Decoder {
    uint32_t range, code;
    const uint8_t *next, *end; // the stream's bytes at hand
    // A block in pieces: the source, the input piece and the stored bytes not yet read.
    FfsSource source;
    void *sourceContext;
    uint8_t *inputPiece;
    int32_t storedLeft;
    int failed; // the stream ran out or is damaged, a read failed or the sink stopped
    uint16_t *probs;
    int32_t probsCount;
    unsigned lc, lpMask, pbMask;
    uint32_t dictSize;
    // The window: pos its next byte, flushed the first not yet handed on; written counts the
    // entry's bytes so far, of size.
    uint8_t *window;
    uint32_t windowSize, pos, flushed, written, size;
    // The output piece (null for a whole buffer, which is the window itself): carried bytes at
    // its front wait for the converter's look-ahead.
    FfsSink sink;
    void *sinkContext;
    uint8_t *piece;
    int32_t carried;
    int filter;
    BcjX86 bcj;
    // The model between symbols: the state, the four last distances (less one) and what is left
    // of a match that reached past the bytes asked for.
    unsigned state;
    uint32_t rep0, rep1, rep2, rep3;
    uint32_t pending;
} Decoder;

// ---- Header ----

int Lzma_ReadHeader(const uint8_t *block, int32_t blockLength, LzmaHeader *header) {
    if (!block || !header || blockLength < LZMA_HEADER_SIZE || memcmp(block, LZMA_TAG, 4) != 0)
        return 0;
    int32_t size = (int32_t)~Le_Get32(block + 4);
    unsigned properties = block[9];
    uint32_t dictSize = Le_Get32(block + 10);
    int lc = (int)(properties % 9), lp = (int)(properties / 9 % 5), pb = (int)(properties / 45);
    if (size <= 0 || block[8] > LZMA_FILTER_BRANCH_X86 || pb > 4 || lc + lp > 4 ||
        dictSize > LZMA_DICT_MAX || Le_Get16(block + 14) != 0)
        return 0;
    header->Size = size;
    header->Filter = block[8];
    header->Lc = lc;
    header->Lp = lp;
    header->Pb = pb;
    header->DictSize = dictSize < LZMA_DICT_MIN ? (uint32_t)LZMA_DICT_MIN : dictSize;
    return 1;
}

// ---- Range decoder ----

// The next piece of a block read in pieces: 1 with the stream on it; 0 at the block's end, for
// a whole block, and after a failed read.
static int FetchInput(Decoder *d) {
    if (!d->source || d->storedLeft == 0) return 0;
    int32_t n = d->storedLeft < LZMA_PIECE_SIZE ? d->storedLeft : LZMA_PIECE_SIZE;
    if (!d->source(d->sourceContext, d->inputPiece, n)) return 0;
    d->storedLeft -= n;
    d->next = d->inputPiece;
    d->end = d->inputPiece + n;
    return 1;
}

// The stream's next byte; past its end the decoder fails (and reads zeros until it stops).
static uint32_t NextByte(Decoder *d) {
    if (d->next == d->end && !FetchInput(d)) {
        d->failed = 1;
        return 0;
    }
    return *d->next++;
}

// The range takes in a byte after each bit, as the encoder gives one out: the stream's last
// byte is read with its last bit, so that a stream cut short is always seen.
static inline void Normalize(Decoder *d) {
    if (d->range >= RANGE_TOP) return;
    d->range <<= 8;
    d->code = d->code << 8 | NextByte(d);
}

static inline unsigned Bit(Decoder *d, uint16_t *probability) {
    uint32_t bound = (d->range >> PROB_BITS) * *probability;
    unsigned bit;
    if (d->code < bound) {
        d->range = bound;
        *probability += ((1 << PROB_BITS) - *probability) >> MOVE_BITS;
        bit = 0;
    } else {
        d->range -= bound;
        d->code -= bound;
        *probability -= *probability >> MOVE_BITS;
        bit = 1;
    }
    Normalize(d);
    return bit;
}

// A symbol of bits bits, high bit first, from a tree of probabilities (1-based).
static unsigned Tree(Decoder *d, uint16_t *probs, int bits) {
    unsigned m = 1;
    for (int i = 0; i < bits; i++) m = m << 1 | Bit(d, probs + m);
    return m - (1u << bits);
}

// The same with the low bit first.
static unsigned ReverseTree(Decoder *d, uint16_t *probs, int bits) {
    unsigned m = 1, symbol = 0;
    for (int i = 0; i < bits; i++) {
        unsigned bit = Bit(d, probs + m);
        m = m << 1 | bit;
        symbol |= bit << i;
    }
    return symbol;
}

// bits bits at a fixed probability of one half.
static uint32_t DirectBits(Decoder *d, int bits) {
    uint32_t value = 0;
    for (int i = 0; i < bits; i++) {
        d->range >>= 1;
        unsigned bit = d->code >= d->range;
        if (bit) d->code -= d->range;
        Normalize(d);
        value = value << 1 | bit;
    }
    return value;
}

// ---- Window and output ----

// The byte distance bytes back (1 to written, within the window).
static inline uint8_t ByteBack(const Decoder *d, uint32_t distance) {
    uint32_t at = d->pos >= distance ? d->pos - distance : d->pos + d->windowSize - distance;
    return d->window[at];
}

// Hands the piece's first n bytes to the sink; the rest move to its front.
static void HandPiece(Decoder *d, int32_t n, int32_t total) {
    if (n > 0 && !d->sink(d->sinkContext, d->piece, n)) d->failed = 1;
    memmove(d->piece, d->piece + n, (size_t)(total - n));
    d->carried = total - n;
}

// The window's bytes not yet handed on go to the sink through the output piece and the
// converter, which keeps the last few until the bytes behind them are known.
static void Flush(Decoder *d) {
    if (!d->sink) {
        d->flushed = d->pos;
        return;
    }
    while (d->flushed < d->pos && !d->failed) {
        uint32_t room = (uint32_t)(LZMA_PIECE_SIZE - d->carried), n = d->pos - d->flushed;
        if (n > room) n = room;
        memcpy(d->piece + d->carried, d->window + d->flushed, n);
        d->flushed += n;
        int32_t total = d->carried + (int32_t)n;
        HandPiece(d, d->filter ? Bcj_X86Decode(&d->bcj, d->piece, total) : total, total);
    }
}

static inline void PutByte(Decoder *d, uint8_t byte) {
    d->window[d->pos++] = byte;
    d->written++;
    if (d->pos == d->windowSize) {
        Flush(d);
        d->pos = d->flushed = 0;
    }
}

// Takes a match of length bytes from distance rep0 + 1 back, copied as the bytes are asked for
// (CopyMatch): 0 (failed) when that lies before the first byte or beyond the dictionary, or the
// match runs past the size.
static int StartMatch(Decoder *d, uint32_t rep0, uint32_t length) {
    if (rep0 >= d->written || rep0 >= d->dictSize || length > d->size - d->written) {
        d->failed = 1;
        return 0;
    }
    d->pending = length;
    return 1;
}

// length bytes of the match that StartMatch took (at most what is pending).
static void CopyMatch(Decoder *d, uint32_t rep0, uint32_t length) {
    d->pending -= length;
    uint32_t distance = rep0 + 1;
    while (length > 0) {
        uint32_t from = d->pos >= distance ? d->pos - distance : d->pos + d->windowSize - distance;
        uint32_t n = length, toEnd = d->windowSize - d->pos, fromEnd = d->windowSize - from;
        if (n > toEnd) n = toEnd;
        if (n > fromEnd) n = fromEnd;
        if (n > 1) {
            // A byte at a time: the two ends may overlap, and the match then repeats itself.
            uint8_t *to = d->window + d->pos;
            const uint8_t *source = d->window + from;
            for (uint32_t i = 0; i < n - 1; i++) to[i] = source[i];
            d->pos += n - 1;
            d->written += n - 1;
        }
        PutByte(d, d->window[from + n - 1]);
        length -= n;
    }
}

// ---- Model ----

static unsigned Length(Decoder *d, uint16_t *coder, unsigned posState) {
    if (!Bit(d, coder)) return Tree(d, coder + LEN_LOW + posState * 8, 3);
    if (!Bit(d, coder + LEN_CHOICE2)) return 8 + Tree(d, coder + LEN_MID + posState * 8, 3);
    return 16 + Tree(d, coder + LEN_HIGH, 8);
}

// A match's distance less one, by the length's slot.
static uint32_t Distance(Decoder *d, unsigned length) {
    unsigned lengthState = length < LENGTH_STATES - 1 ? length : LENGTH_STATES - 1;
    unsigned slot = Tree(d, d->probs + SLOTS + (lengthState << SLOT_BITS), SLOT_BITS);
    if (slot < 4) return slot;
    int directBits = (int)(slot >> 1) - 1;
    uint32_t distance = (2 | (slot & 1)) << directBits;
    if (slot < END_SLOT)
        return distance + ReverseTree(d, d->probs + SPECIAL + distance - slot, directBits);
    distance += DirectBits(d, directBits - ALIGN_BITS) << ALIGN_BITS;
    return distance + ReverseTree(d, d->probs + ALIGN, ALIGN_BITS);
}

// A literal, coded after a match against the byte at the match's distance.
static void Literal(Decoder *d, unsigned state, uint32_t rep0) {
    unsigned previous = d->written ? ByteBack(d, 1) : 0;
    unsigned coder = ((d->written & d->lpMask) << d->lc) + (previous >> (8 - d->lc));
    uint16_t *probs = d->probs + LITERALS + LITERAL_CODER * coder;
    unsigned symbol = 1;
    if (state >= LITERAL_STATES) {
        unsigned matchByte = ByteBack(d, rep0 + 1);
        while (symbol < 0x100) {
            unsigned matchBit = (matchByte >> 7) & 1;
            matchByte <<= 1;
            unsigned bit = Bit(d, probs + ((1 + matchBit) << 8) + symbol);
            symbol = symbol << 1 | bit;
            if (bit != matchBit) break;
        }
    }
    while (symbol < 0x100) symbol = symbol << 1 | Bit(d, probs + symbol);
    if (!d->failed) PutByte(d, (uint8_t)symbol);
}

static unsigned AfterLiteral(unsigned state) {
    return state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
}

// The range decoder's start: the stream's first five bytes, the first of them 0.
static void Begin(Decoder *d) {
    for (int32_t i = 0; i < d->probsCount; i++) d->probs[i] = PROB_START;
    d->range = 0xFFFFFFFF;
    d->code = 0;
    if (NextByte(d) != 0) d->failed = 1;
    for (int i = 0; i < 4; i++) d->code = d->code << 8 | NextByte(d);
}

// One symbol: a literal, or a match taken for copying (StartMatch).
static void Symbol(Decoder *d) {
    unsigned state = d->state, posState = d->written & d->pbMask, length;
    if (!Bit(d, d->probs + IS_MATCH + state * POS_STATES_MAX + posState)) {
        Literal(d, state, d->rep0);
        d->state = AfterLiteral(state);
        return;
    }
    if (!Bit(d, d->probs + IS_REP + state)) {
        length = Length(d, d->probs + LENGTHS, posState);
        d->state = state < LITERAL_STATES ? 7 : 10;
        d->rep3 = d->rep2;
        d->rep2 = d->rep1;
        d->rep1 = d->rep0;
        d->rep0 = Distance(d, length);
    } else if (!Bit(d, d->probs + IS_REP_G0 + state)) {
        if (!Bit(d, d->probs + IS_REP0_LONG + state * POS_STATES_MAX + posState)) {
            d->state = state < LITERAL_STATES ? 9 : 11;
            if (!d->failed) StartMatch(d, d->rep0, 1);
            return;
        }
        length = Length(d, d->probs + REP_LENGTHS, posState);
        d->state = state < LITERAL_STATES ? 8 : 11;
    } else {
        uint32_t distance;
        if (!Bit(d, d->probs + IS_REP_G1 + state)) {
            distance = d->rep1;
        } else {
            if (!Bit(d, d->probs + IS_REP_G2 + state)) {
                distance = d->rep2;
            } else {
                distance = d->rep3;
                d->rep3 = d->rep2;
            }
            d->rep2 = d->rep1;
        }
        d->rep1 = d->rep0;
        d->rep0 = distance;
        length = Length(d, d->probs + REP_LENGTHS, posState);
        d->state = state < LITERAL_STATES ? 8 : 11;
    }
    if (!d->failed) StartMatch(d, d->rep0, length + MATCH_MIN);
}

// The stream on to its target-th byte (at most the size), a match that reaches past it kept
// for the next call; the window's bytes up to the target handed to the sink. Returns 1, or 0
// where it fails (nothing of the failing symbol is written).
static int Run(Decoder *d, uint32_t target) {
    while (d->written < target && !d->failed) {
        if (d->sink && d->pos - d->flushed >= LZMA_PIECE_SIZE) Flush(d);
        if (d->pending) {
            uint32_t n = target - d->written;
            CopyMatch(d, d->rep0, d->pending < n ? d->pending : n);
        } else {
            Symbol(d);
        }
    }
    if (d->failed) return 0;
    Flush(d);
    return !d->failed;
}

// The stream from its first byte to the size's last byte.
static int Decode(Decoder *d) {
    Begin(d);
    if (!Run(d, d->size)) return 0;
    if (d->sink && d->carried > 0) HandPiece(d, d->carried, d->carried); // the last few as they are
    return !d->failed;
}

// ---- Entry points ----

static int32_t ProbsCount(const LzmaHeader *header) {
    return LITERALS + (LITERAL_CODER << (header->Lc + header->Lp));
}

// The decoder set for the header's stream over a whole block (input non-null) or pieces.
static void Start(Decoder *d, const LzmaHeader *header, const uint8_t *input, int32_t inputLength,
                  uint16_t *probs, uint8_t *window, uint32_t windowSize) {
    memset(d, 0, sizeof *d);
    d->next = d->end = input;
    if (input) d->end += inputLength;
    d->probs = probs;
    d->probsCount = ProbsCount(header);
    d->lc = (unsigned)header->Lc;
    d->lpMask = (1u << header->Lp) - 1;
    d->pbMask = (1u << header->Pb) - 1;
    d->dictSize = header->DictSize;
    d->window = window;
    d->windowSize = windowSize;
    d->size = (uint32_t)header->Size;
    d->filter = header->Filter;
    Bcj_Start(&d->bcj);
}

// A whole block into the output, which is the window; the converter runs over it at the end.
static int DecodeWhole(Decoder *d, const LzmaHeader *header, const uint8_t *block,
                       int32_t blockLength, uint8_t *output, uint16_t *probs) {
    Start(d, header, block + LZMA_HEADER_SIZE, blockLength - LZMA_HEADER_SIZE, probs, output,
          (uint32_t)header->Size);
    if (!Decode(d)) return 0;
    if (d->filter) Bcj_X86Decode(&d->bcj, output, header->Size);
    return 1;
}

int Lzma_Decompress(const uint8_t *block, int32_t blockLength, uint8_t *output,
                    int32_t outputLength) {
    CORE_GUARD(block);
    CORE_GUARD(output);
    LzmaHeader header;
    if (!Lzma_ReadHeader(block, blockLength, &header) || header.Size != outputLength) return 0;
    int32_t probsBytes = ProbsCount(&header) * 2;
    uint16_t *probs = (uint16_t *)TESSEL_ALLOC(probsBytes);
    Decoder d;
    int result = DecodeWhole(&d, &header, block, blockLength, output, probs);
    TESSEL_FREE(probs, probsBytes);
    return result;
}

int Lzma_DecompressApart(const uint8_t *block, int32_t blockLength, uint8_t *output,
                         int32_t outputLength) {
    LzmaHeader header;
    if (!output || !Lzma_ReadHeader(block, blockLength, &header) || header.Size != outputLength)
        return 0;
    uint16_t probs[PROBS_MAX];
    Decoder d;
    return DecodeWhole(&d, &header, block, blockLength, output, probs);
}

// A decoder over pieces with its memory in one block: the probabilities, the two pieces and the
// window, which holds the smaller of the dictionary and the size (no match reaches further back
// than the dictionary or the entry's start).
typedef struct Stream {
    Decoder d;
    uint8_t *memory;
    int32_t total;
} Stream;

// The block's header read through source and checked, the decoder set up and started: null
// when the header is refused or its size is not outputLength.
static Stream *OpenStream(FfsSource source, void *sourceContext, int32_t blockLength,
                          int32_t outputLength) {
    uint8_t bytes[LZMA_HEADER_SIZE];
    LzmaHeader header;
    if (blockLength < LZMA_HEADER_SIZE || !source(sourceContext, bytes, LZMA_HEADER_SIZE) ||
        !Lzma_ReadHeader(bytes, blockLength, &header) || header.Size != outputLength)
        return NULL;
    uint32_t windowSize =
        header.DictSize < (uint32_t)header.Size ? header.DictSize : (uint32_t)header.Size;
    int32_t probsBytes = ProbsCount(&header) * 2;
    Stream *stream = (Stream *)TESSEL_ALLOC((int32_t)sizeof(Stream));
    stream->total = probsBytes + 2 * LZMA_PIECE_SIZE + (int32_t)windowSize;
    stream->memory = (uint8_t *)TESSEL_ALLOC(stream->total);
    uint8_t *pieces = stream->memory + probsBytes;
    Decoder *d = &stream->d;
    Start(d, &header, NULL, 0, (uint16_t *)stream->memory, pieces + 2 * LZMA_PIECE_SIZE,
          windowSize);
    d->source = source;
    d->sourceContext = sourceContext;
    d->inputPiece = pieces;
    d->storedLeft = blockLength - LZMA_HEADER_SIZE;
    d->piece = pieces + LZMA_PIECE_SIZE;
    Begin(d);
    return stream;
}

static void CloseStream(Stream *stream) {
    TESSEL_FREE(stream->memory, stream->total);
    TESSEL_FREE(stream, (int32_t)sizeof(Stream));
}

int Lzma_DecompressStream(FfsSource source, void *sourceContext, int32_t blockLength, FfsSink sink,
                          void *sinkContext, int32_t outputLength) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(source && sink, "Pointer is NULL...\n");
    Stream *stream = OpenStream(source, sourceContext, blockLength, outputLength);
    if (!stream) return 0;
    Decoder *d = &stream->d;
    d->sink = sink;
    d->sinkContext = sinkContext;
    int result = Run(d, d->size);
    if (result && d->carried > 0) HandPiece(d, d->carried, d->carried); // the last few as they are
    result = result && !d->failed;
    CloseStream(stream);
    return result;
}

void *Lzma_StreamOpen(FfsSource source, void *sourceContext, int32_t blockLength,
                      int32_t outputLength) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(source != NULL, "Pointer is NULL...\n");
    Stream *stream = OpenStream(source, sourceContext, blockLength, outputLength);
    // The converter holds back the last bytes of what it was given: a filtered stream cannot
    // stop at any byte.
    if (stream && stream->d.filter) {
        CloseStream(stream);
        return NULL;
    }
    return stream;
}

int Lzma_StreamNext(void *handle, int32_t n, FfsSink sink, void *sinkContext) {
    Stream *stream = (Stream *)handle;
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(stream && sink, "Pointer is NULL...\n");
    Decoder *d = &stream->d;
    if (d->failed || n < 0 || (uint32_t)n > d->size - d->written) return 0;
    d->sink = sink;
    d->sinkContext = sinkContext;
    int result = Run(d, d->written + (uint32_t)n);
    d->sink = NULL; // no sink between calls
    return result;
}

void Lzma_StreamClose(void *handle) {
    if (handle) CloseStream((Stream *)handle);
}

int Lzma_GetSize(const uint8_t *block, int32_t *size) {
    if (!block) return 0;
    CORE_GUARD(size);
    *size = (int32_t)~Le_Get32(block + 4);
    return 1;
}

int Lzma_Identify(const uint8_t *block) {
    CORE_GUARD(block);
    return memcmp(block, LZMA_TAG, 4) == 0;
}

int Lzma_Init(void) { return 1; }

int Lzma_Shutdown(void) { return 1; }

// Name, version, Compress, Decompress, GetSize, Identify, Init, Shutdown, Next (set by
// Ffs_AddCodec), DecompressStream, DecompressApart, StreamOpen, StreamNext, StreamClose.
FfsCodec Lzma_Codec = {"LZMA",
                       "1.0",
                       NULL,
                       Lzma_Decompress,
                       Lzma_GetSize,
                       Lzma_Identify,
                       Lzma_Init,
                       Lzma_Shutdown,
                       NULL,
                       Lzma_DecompressStream,
                       Lzma_DecompressApart,
                       Lzma_StreamOpen,
                       Lzma_StreamNext,
                       Lzma_StreamClose};
