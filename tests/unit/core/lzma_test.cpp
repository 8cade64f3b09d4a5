// The LZMA codec without an encoder library (both trees): the header's every bound at its edge,
// the codec record, streams written symbol by symbol with a range encoder of the test's own (a
// match that reaches before the first byte, repeated distances with nothing written yet), and
// the x86 branch converter: a call made relative, the same bytes in any pieces.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "ffs-bcj.h"
#include "ffs-lzma.h"
#include "tessel-core.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Header(int32_t size, int filter, int properties, uint32_t dictSize, int reserved = 0) {
    Bytes header = {'F', 'F', 'L', '@'};
    uint32_t complement = ~(uint32_t)size;
    for (int i = 0; i < 4; i++) header.push_back((uint8_t)(complement >> (8 * i)));
    header.push_back((uint8_t)filter);
    header.push_back((uint8_t)properties);
    for (int i = 0; i < 4; i++) header.push_back((uint8_t)(dictSize >> (8 * i)));
    header.push_back((uint8_t)reserved);
    header.push_back((uint8_t)(reserved >> 8));
    return header;
}

int Properties(int lc, int lp, int pb) { return (pb * 5 + lp) * 9 + lc; }

TEST(LzmaHeader, EveryBoundAtItsEdge) {
    const struct {
        const char *what;
        Bytes header;
        bool accepted;
    } rows[] = {
        {"plain", Header(100, 0, Properties(3, 0, 2), 1 << 16), true},
        {"dictionary 8 MiB", Header(100, 0, 93, LZMA_DICT_MAX), true},
        {"dictionary 8 MiB + 1", Header(100, 0, 93, LZMA_DICT_MAX + 1), false},
        {"dictionary 0", Header(100, 0, 93, 0), true},
        {"lc 4 lp 0", Header(100, 0, Properties(4, 0, 0), 4096), true},
        {"lc 0 lp 4", Header(100, 0, Properties(0, 4, 0), 4096), true},
        {"lc 5 lp 0", Header(100, 0, Properties(5, 0, 0), 4096), false},
        {"lc 1 lp 4", Header(100, 0, Properties(1, 4, 0), 4096), false},
        {"lc 8", Header(100, 0, Properties(8, 0, 0), 4096), false},
        {"pb 4", Header(100, 0, Properties(0, 0, 4), 4096), true},
        {"pb 5", Header(100, 0, Properties(0, 0, 5), 4096), false},
        {"properties 255", Header(100, 0, 255, 4096), false},
        {"filter 1", Header(100, 1, 93, 4096), true},
        {"filter 2", Header(100, 2, 93, 4096), false},
        {"reserved low byte", Header(100, 0, 93, 4096, 0x01), false},
        {"reserved high byte", Header(100, 0, 93, 4096, 0x100), false},
        {"size 1", Header(1, 0, 93, 4096), true},
        {"size INT32_MAX", Header(INT32_MAX, 0, 93, 4096), true},
        {"size 0", Header(0, 0, 93, 4096), false},
        {"size -1", Header(-1, 0, 93, 4096), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        LzmaHeader header = {};
        EXPECT_EQ(Lzma_ReadHeader(row.header.data(), LZMA_HEADER_SIZE, &header), row.accepted);
        EXPECT_EQ(Lzma_ReadHeader(row.header.data(), LZMA_HEADER_SIZE - 1, &header), 0);
    }
    Bytes tagless = Header(100, 0, 93, 4096);
    tagless[3] = 'C';
    LzmaHeader header = {};
    EXPECT_EQ(Lzma_ReadHeader(tagless.data(), LZMA_HEADER_SIZE, &header), 0);
    EXPECT_EQ(Lzma_ReadHeader(nullptr, LZMA_HEADER_SIZE, &header), 0);
}

TEST(LzmaHeader, FieldsRead) {
    Bytes bytes = Header(123456, 1, Properties(1, 3, 4), 3 << 20);
    LzmaHeader header = {};
    ASSERT_EQ(Lzma_ReadHeader(bytes.data(), LZMA_HEADER_SIZE, &header), 1);
    EXPECT_EQ(header.Size, 123456);
    EXPECT_EQ(header.Filter, LZMA_FILTER_BRANCH_X86);
    EXPECT_EQ(header.Lc, 1);
    EXPECT_EQ(header.Lp, 3);
    EXPECT_EQ(header.Pb, 4);
    EXPECT_EQ(header.DictSize, 3u << 20);
    // The smallest window: smaller dictionaries are read as 4 KB.
    for (uint32_t small : {0u, 1u, 4095u}) {
        bytes = Header(10, 0, 93, small);
        ASSERT_EQ(Lzma_ReadHeader(bytes.data(), LZMA_HEADER_SIZE, &header), 1);
        EXPECT_EQ(header.DictSize, (uint32_t)LZMA_DICT_MIN);
    }
    bytes = Header(10, 0, 93, 4097);
    ASSERT_EQ(Lzma_ReadHeader(bytes.data(), LZMA_HEADER_SIZE, &header), 1);
    EXPECT_EQ(header.DictSize, 4097u);
}

TEST(LzmaCodec, RecordSizeAndIdentity) {
    EXPECT_STREQ(Lzma_Codec.Name, "LZMA");
    EXPECT_STREQ(Lzma_Codec.Version, "1.0");
    EXPECT_EQ(Lzma_Codec.Compress, nullptr);
    EXPECT_EQ(Lzma_Codec.Decompress, Lzma_Decompress);
    EXPECT_EQ(Lzma_Codec.DecompressStream, Lzma_DecompressStream);
    EXPECT_EQ(Lzma_Codec.DecompressApart, Lzma_DecompressApart);
    Bytes bytes = Header(77777, 0, 93, 4096);
    int32_t size = 0;
    EXPECT_EQ(Lzma_Codec.Identify(bytes.data()), 1);
    EXPECT_EQ(Lzma_Codec.GetSize(bytes.data(), &size), 1);
    EXPECT_EQ(size, 77777);
    EXPECT_EQ(Lzma_GetSize(nullptr, &size), 0);
    bytes[0] = 'X';
    EXPECT_EQ(Lzma_Codec.Identify(bytes.data()), 0);
    EXPECT_EQ(Lzma_Codec.Init(), 1);
    EXPECT_EQ(Lzma_Codec.Shutdown(), 1);
}

// Symbols written as a range encoder writes them, lc = lp = pb = 0: each context has a
// probability of its own, keyed by the test (the decoder's layout is its own affair).
class Symbols {
  public:
    Bytes Finish() {
        for (int i = 0; i < 5; i++) ShiftLow();
        if (corruptFirst_) out_[0] = 1;
        return out_;
    }
    void Literal(uint8_t byte) {
        Bit("match", state_, 0);
        unsigned m = 1;
        for (int i = 7; i >= 0; i--) {
            unsigned bit = (byte >> i) & 1;
            Bit("literal", m, bit);
            m = m << 1 | bit;
        }
        state_ = state_ < 4 ? 0 : state_ < 10 ? state_ - 3 : state_ - 6;
    }
    // A match of 2 to 9 bytes at a distance of 1 to 4.
    void Match(unsigned length, unsigned distance) {
        Bit("match", state_, 1);
        Bit("rep", state_, 0);
        Length("length", length - 2);
        unsigned lengthState = length - 2 < 3 ? length - 2 : 3;
        Tree("slot", lengthState, 6, distance - 1);
        state_ = state_ < 7 ? 7 : 10;
    }
    // The last distance again, one byte (short) or length bytes.
    void Repeat(bool shortRepeat, unsigned length = 2) {
        Bit("match", state_, 1);
        Bit("rep", state_, 1);
        Bit("rep g0", state_, 0);
        Bit("rep0 long", state_, shortRepeat ? 0 : 1);
        if (!shortRepeat) Length("rep length", length - 2);
        state_ = state_ < 7 ? (shortRepeat ? 9 : 8) : 11;
    }
    void CorruptFirstByte() { corruptFirst_ = true; }

  private:
    void ShiftLow() {
        if ((uint32_t)low_ < 0xFF000000u || (low_ >> 32) != 0) {
            uint8_t carry = (uint8_t)(low_ >> 32), byte = cache_;
            for (; pending_ > 0; pending_--, byte = 0xFF) out_.push_back((uint8_t)(byte + carry));
            cache_ = (uint8_t)(low_ >> 24);
        }
        pending_++;
        low_ = (low_ & 0x00FFFFFF) << 8;
    }
    void Bit(const char *group, unsigned index, unsigned bit) {
        uint16_t &p = probs_.emplace(std::make_pair(std::string(group), index), 1024).first->second;
        uint32_t bound = (range_ >> 11) * p;
        if (bit == 0) {
            range_ = bound;
            p = (uint16_t)(p + ((2048 - p) >> 5));
        } else {
            low_ += bound;
            range_ -= bound;
            p = (uint16_t)(p - (p >> 5));
        }
        for (; range_ < (1u << 24); range_ <<= 8) ShiftLow();
    }
    void Tree(const char *group, unsigned offset, int bits, unsigned value) {
        unsigned m = 1;
        for (int i = bits - 1; i >= 0; i--) {
            unsigned bit = (value >> i) & 1;
            Bit(group, offset * 1024 + m, bit);
            m = m << 1 | bit;
        }
    }
    void Length(const std::string &group, unsigned length) { // below 8
        Bit((group + " choice").c_str(), 0, 0);
        Tree((group + " low").c_str(), 0, 3, length);
    }

    uint64_t low_ = 0;
    uint32_t range_ = 0xFFFFFFFF;
    uint8_t cache_ = 0;
    bool corruptFirst_ = false;
    uint64_t pending_ = 1;
    unsigned state_ = 0;
    std::map<std::pair<std::string, unsigned>, uint16_t> probs_;
    Bytes out_;
};

// The block of a stream of size bytes (lc = lp = pb = 0), decoded whole, apart and in pieces:
// the one verdict of the three, and the whole decoder's output.
int DecodeAll(Symbols &symbols, int32_t size, Bytes *output) {
    Bytes block = Header(size, 0, 0, 4096);
    Bytes stream = symbols.Finish();
    block.insert(block.end(), stream.begin(), stream.end());
    output->assign((size_t)size, 0xCC);
    Mem_Init(MEM_NO_LIMIT, 0);
    int whole = Lzma_Decompress(block.data(), (int32_t)block.size(), output->data(), size);
    Bytes apart((size_t)size);
    EXPECT_EQ(Lzma_DecompressApart(block.data(), (int32_t)block.size(), apart.data(), size), whole);
    struct Reader {
        const Bytes *block;
        size_t at;
        Bytes taken;
    } reader = {&block, 0, {}};
    auto read = [](void *context, uint8_t *buffer, int32_t n) {
        Reader *r = (Reader *)context;
        if (r->at + (size_t)n > r->block->size()) return 0;
        memcpy(buffer, r->block->data() + r->at, (size_t)n);
        r->at += (size_t)n;
        return 1;
    };
    auto take = [](void *context, const uint8_t *data, int32_t n) {
        Reader *r = (Reader *)context;
        r->taken.insert(r->taken.end(), data, data + n);
        return 1;
    };
    EXPECT_EQ(Lzma_DecompressStream(read, &reader, (int32_t)block.size(), take, &reader, size),
              whole);
    if (whole) {
        EXPECT_TRUE(reader.taken == *output);
    }
    return whole;
}

TEST(LzmaStream, LiteralsAndMatchesWritten) {
    Symbols symbols;
    for (uint8_t byte : {'a', 'b', 'c'}) symbols.Literal(byte);
    symbols.Match(6, 3);
    symbols.Repeat(true);
    Bytes output;
    ASSERT_EQ(DecodeAll(symbols, 10, &output), 1);
    EXPECT_EQ(std::string(output.begin(), output.end()), "abcabcabca");
}

// A distance as far back as the bytes written is accepted; one byte further is refused.
TEST(LzmaStream, DistanceBeyondTheWrittenBytesRefused) {
    for (unsigned distance : {2u, 3u}) {
        SCOPED_TRACE(distance);
        Symbols symbols;
        symbols.Literal('x');
        symbols.Literal('y');
        symbols.Match(2, distance);
        Bytes output;
        EXPECT_EQ(DecodeAll(symbols, 4, &output), distance == 2);
        EXPECT_EQ(output[0], 'x');
        EXPECT_EQ(output[1], 'y');
        EXPECT_EQ(output[2], distance == 2 ? 'x' : 0xCC); // nothing of the refused match
    }
    Symbols first;
    first.Match(2, 1); // before any byte
    Bytes output;
    EXPECT_EQ(DecodeAll(first, 4, &output), 0);
}

TEST(LzmaStream, RepeatedDistanceBeforeTheFirstByteRefused) {
    for (bool shortRepeat : {true, false}) {
        Symbols symbols;
        symbols.Repeat(shortRepeat, 3);
        Bytes output;
        EXPECT_EQ(DecodeAll(symbols, 3, &output), 0);
    }
}

TEST(LzmaStream, MatchRunningPastTheSizeRefused) {
    for (int32_t size : {6, 5}) {
        Symbols symbols;
        symbols.Literal('q');
        symbols.Match(5, 1);
        Bytes output;
        EXPECT_EQ(DecodeAll(symbols, size, &output), size == 6);
    }
}

TEST(LzmaStream, FirstByteNotZeroRefused) {
    Symbols symbols;
    symbols.Literal('z');
    symbols.CorruptFirstByte();
    Bytes output;
    EXPECT_EQ(DecodeAll(symbols, 1, &output), 0);
}

// ---- The x86 branch converter ----

// A CALL whose absolute target 0x1000 at position p reads relative 0x1000 - (p + 5).
TEST(Bcj, CallMadeRelativeAndTailKept) {
    Bytes code = {0x90, 0xE8, 0x00, 0x10, 0x00, 0x00, 0x90, 0x90, 0xE9};
    BcjX86 bcj;
    Bcj_Start(&bcj);
    int32_t done = Bcj_X86Decode(&bcj, code.data(), (int32_t)code.size());
    EXPECT_EQ(done, 6); // the bytes from there on wait: the last E9 for its operand
    uint32_t relative = 0x1000 - (1 + 5);
    EXPECT_EQ(code[2], (uint8_t)relative);
    EXPECT_EQ(code[3], (uint8_t)(relative >> 8));
    EXPECT_EQ(code[5], 0x00);
    // A target whose high byte is neither 00 nor FF is no call.
    Bytes data = {0xE8, 0x11, 0x22, 0x33, 0x44, 0x00};
    Bcj_Start(&bcj);
    EXPECT_EQ(Bcj_X86Decode(&bcj, data.data(), (int32_t)data.size()), 2);
    EXPECT_TRUE(data == (Bytes{0xE8, 0x11, 0x22, 0x33, 0x44, 0x00}));
    Bytes four = {0xE8, 0, 0, 0};
    Bcj_Start(&bcj);
    EXPECT_EQ(Bcj_X86Decode(&bcj, four.data(), 4), 0);
}

// Code-like bytes converted whole and in pieces of every size from 1 to 9, each piece given
// behind what the last call left: the same bytes.
TEST(Bcj, PiecesGiveTheWholeResult) {
    Bytes code;
    uint32_t seed = 12345;
    for (int i = 0; i < 4000; i++) {
        seed = seed * 1103515245 + 12345;
        unsigned r = seed >> 16;
        code.push_back(r % 5 == 0 ? 0xE8 : r % 7 == 0 ? 0xE9 : r % 3 == 0 ? 0xFF : (uint8_t)r);
        if (r % 11 == 0) code.push_back(0x00);
    }
    Bytes whole = code;
    BcjX86 bcj;
    Bcj_Start(&bcj);
    Bcj_X86Decode(&bcj, whole.data(), (int32_t)whole.size());
    EXPECT_FALSE(whole == code);
    for (size_t piece = 1; piece <= 9; piece++) {
        SCOPED_TRACE(piece);
        Bytes out, pending;
        Bcj_Start(&bcj);
        for (size_t at = 0; at < code.size(); at += piece) {
            pending.insert(pending.end(), code.begin() + (long)at,
                           code.begin() + (long)std::min(code.size(), at + piece));
            int32_t done = Bcj_X86Decode(&bcj, pending.data(), (int32_t)pending.size());
            EXPECT_LE(pending.size() - (size_t)done, (size_t)BCJ_LOOKAHEAD);
            out.insert(out.end(), pending.begin(), pending.begin() + done);
            pending.erase(pending.begin(), pending.begin() + done);
        }
        out.insert(out.end(), pending.begin(), pending.end());
        EXPECT_TRUE(out == whole);
    }
}

} // namespace
