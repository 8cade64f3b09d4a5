// The LZMA decoder against liblzma's encoder: real files, random, zero and one-byte data, the
// properties and dictionary sizes a block may name, with and without the x86 branch converter
// and an end marker, decoded whole, apart and in pieces alike; every truncation of a block
// refused; the header's bounds on real streams; matches beyond the dictionary or past the size.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ffs-lzma.h"
#include "lzma-encode.h"
#include "tessel-core.h"
#include "test-support.h"

#if !defined(TESSEL_SOURCE_DIR)
#error "TESSEL_SOURCE_DIR names the source tree (tests/CMakeLists.txt)"
#endif

namespace {

typedef std::vector<uint8_t> Bytes;

// A block decoded in pieces: what the source was asked and what the sink was handed.
struct Streamed {
    const Bytes *block = nullptr;
    size_t read = 0;
    int32_t largestRead = 0, largestPiece = 0;
    Bytes output;
    int result = 0;
};

int ReadBlock(void *context, uint8_t *buffer, int32_t n) {
    Streamed *s = (Streamed *)context;
    if (n <= 0 || s->read + (size_t)n > s->block->size()) return 0; // never past the block
    memcpy(buffer, s->block->data() + s->read, (size_t)n);
    s->read += (size_t)n;
    s->largestRead = std::max(s->largestRead, n);
    return 1;
}

int TakePiece(void *context, const uint8_t *data, int32_t n) {
    Streamed *s = (Streamed *)context;
    EXPECT_GT(n, 0);
    s->output.insert(s->output.end(), data, data + n);
    s->largestPiece = std::max(s->largestPiece, n);
    return 1;
}

Streamed Stream(const Bytes &block, int32_t size, int32_t blockLength = -1) {
    Streamed s;
    s.block = &block;
    s.result = Lzma_DecompressStream(
        ReadBlock, &s, blockLength < 0 ? (int32_t)block.size() : blockLength, TakePiece, &s, size);
    return s;
}

Bytes ReadBytes(const std::string &path, size_t limit) {
    bool ok = false;
    std::string text = testing_support::ReadFile(path, &ok);
    EXPECT_TRUE(ok) << path;
    if (text.size() > limit) text.resize(limit);
    return Bytes(text.begin(), text.end());
}

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes data(n);
    for (auto &b : data) b = (uint8_t)random();
    return data;
}

const uint8_t kUntouched = 0x01; // the output's bytes before decoding

// A refused whole decoding wrote a correct start of data and nothing behind it (converted
// blocks: the converter has not run over the start, so only the untouched end is checked).
void ExpectStartThenUntouched(const Bytes &output, const Bytes &data, bool converted) {
    size_t at = 0;
    if (!converted) {
        while (at < output.size() && at < data.size() && output[at] == data[at]) at++;
    } else {
        while (at < output.size() && output[at] != kUntouched) at++;
    }
    for (size_t i = at; i < output.size(); i++) ASSERT_EQ(output[i], kUntouched) << i;
}

class Lzma : public ::testing::Test {
  protected:
    void SetUp() override { Mem_Init(MEM_NO_LIMIT, 0); }

    // The three decoders give data back from its block, in pieces of at most 64 KB, the block
    // read no further than its end.
    static void ExpectDecodes(const Bytes &data, const LzmaEncoding &options, const char *what) {
        SCOPED_TRACE(what);
        Bytes block = LzmaEncode(data, options);
        ASSERT_FALSE(block.empty());
        ExpectBlockDecodes(block, data);
    }

    static void ExpectBlockDecodes(const Bytes &block, const Bytes &data) {
        int32_t size = (int32_t)data.size();
        Bytes whole(data.size()), apart(data.size());
        EXPECT_EQ(Lzma_Decompress(block.data(), (int32_t)block.size(), whole.data(), size), 1);
        EXPECT_TRUE(whole == data);
        EXPECT_EQ(Lzma_DecompressApart(block.data(), (int32_t)block.size(), apart.data(), size), 1);
        EXPECT_TRUE(apart == data);
        Streamed s = Stream(block, size);
        EXPECT_EQ(s.result, 1);
        EXPECT_TRUE(s.output == data);
        EXPECT_LE(s.largestRead, LZMA_PIECE_SIZE);
        EXPECT_LE(s.largestPiece, LZMA_PIECE_SIZE);
    }

    // All three refuse; the pieces handed on are a correct start of data.
    static void ExpectRefused(const Bytes &block, const Bytes &data, int32_t blockLength = -1,
                              int32_t size = -1) {
        if (blockLength < 0) blockLength = (int32_t)block.size();
        if (size < 0) size = (int32_t)data.size();
        Bytes output((size_t)size, kUntouched);
        EXPECT_EQ(Lzma_Decompress(block.data(), blockLength, output.data(), size), 0);
        ExpectStartThenUntouched(output, data, block.size() > 8 && block[8] != 0);
        EXPECT_EQ(Lzma_DecompressApart(block.data(), blockLength, output.data(), size), 0);
        Streamed s = Stream(block, size, blockLength);
        EXPECT_EQ(s.result, 0);
        EXPECT_LE(s.output.size(), (size_t)size);
        EXPECT_TRUE(std::equal(s.output.begin(), s.output.end(), data.begin()));
    }
};

TEST_F(Lzma, RealFilesWithAndWithoutConverterAndEndMarker) {
    const std::string source = TESSEL_SOURCE_DIR;
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"this test program", ReadBytes("/proc/self/exe", 1 << 20)},
        {"README.md", ReadBytes(source + "/README.md", 1 << 20)},
        {"ffs.cpp", ReadBytes(source + "/TESSELCORE/ffs.cpp", 1 << 20)},
    };
    for (const auto &file : files)
        for (bool x86 : {false, true})
            for (bool endMarker : {false, true}) {
                LzmaEncoding options;
                options.x86 = x86;
                options.endMarker = endMarker;
                std::string what = file.first + (x86 ? " x86" : "") + (endMarker ? " marker" : "");
                ExpectDecodes(file.second, options, what.c_str());
            }
}

TEST_F(Lzma, ShapesOfData) {
    Bytes text = ReadBytes(std::string(TESSEL_SOURCE_DIR) + "/README.md", 200000);
    Bytes repeated = Random(70001, 7);
    repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 70001);
    const std::vector<std::pair<const char *, Bytes>> shapes = {
        {"one byte", Bytes{0x42}},
        {"one E8 byte", Bytes{0xE8}},
        {"zeros", Bytes(300000, 0)},
        {"random", Random(200003, 1)},
        {"random twice, far apart", repeated},
        {"piece less one", Bytes(text.begin(), text.begin() + LZMA_PIECE_SIZE - 1)},
        {"one piece", Bytes(text.begin(), text.begin() + LZMA_PIECE_SIZE)},
        {"piece and one", Bytes(text.begin(), text.begin() + LZMA_PIECE_SIZE + 1)},
    };
    for (const auto &shape : shapes)
        for (bool x86 : {false, true}) {
            LzmaEncoding options;
            options.x86 = x86;
            options.dictSize = 4096; // the smallest window: it wraps again and again
            ExpectDecodes(shape.second, options, shape.first);
            options.dictSize = 1 << 20;
            ExpectDecodes(shape.second, options, shape.first);
        }
}

// Branch opcodes, near high bytes and others at random, densely: every state of the converter's
// mask met, in pieces across the 64 KB boundaries.
TEST_F(Lzma, ConverterOnDenseBranches) {
    std::mt19937 random(99);
    const uint8_t kinds[] = {0xE8, 0xE9, 0x00, 0xFF, 0x0F, 0x90};
    for (size_t length : {100u, 4099u, 200001u}) {
        Bytes data(length);
        for (auto &b : data) b = random() % 3 ? kinds[random() % 6] : (uint8_t)random();
        LzmaEncoding options;
        options.x86 = true;
        ExpectDecodes(data, options, "dense branches");
    }
}

TEST_F(Lzma, PropertiesAndDictionarySizes) {
    Bytes data = ReadBytes("/proc/self/exe", 300000);
    const struct {
        int lc, lp, pb;
    } properties[] = {{0, 0, 0}, {3, 0, 2}, {4, 0, 4}, {0, 4, 4}, {2, 2, 1}, {1, 3, 3}, {3, 1, 0}};
    for (const auto &p : properties) {
        LzmaEncoding options;
        options.lc = p.lc;
        options.lp = p.lp;
        options.pb = p.pb;
        std::string what = "lc " + std::to_string(p.lc) + " lp " + std::to_string(p.lp) + " pb " +
                           std::to_string(p.pb);
        ExpectDecodes(data, options, what.c_str());
    }
    for (uint32_t dictSize : {4096u, 65536u, 1u << 20, (uint32_t)LZMA_DICT_MAX}) {
        LzmaEncoding options;
        options.dictSize = dictSize;
        options.x86 = true;
        std::string what = "dictionary " + std::to_string(dictSize);
        ExpectDecodes(data, options, what.c_str());
    }
}

TEST_F(Lzma, EveryTruncationRefused) {
    Bytes text = ReadBytes(std::string(TESSEL_SOURCE_DIR) + "/README.md", 3000);
    for (bool x86 : {false, true}) {
        LzmaEncoding options;
        options.x86 = x86;
        Bytes block = LzmaEncode(text, options);
        ASSERT_FALSE(block.empty());
        for (int32_t length = 0; length < (int32_t)block.size(); length++) {
            SCOPED_TRACE(length);
            ExpectRefused(block, text, length);
        }
        ExpectBlockDecodes(block, text);
        // Bytes after the stream are allowed and unused.
        block.insert(block.end(), 100, 0x5A);
        ExpectBlockDecodes(block, text);
    }
}

TEST_F(Lzma, HeaderBoundsOnARealStream) {
    Bytes data = ReadBytes(std::string(TESSEL_SOURCE_DIR) + "/TESSELCORE/ffs.cpp", 20000);
    LzmaEncoding options;
    options.lc = 4;
    options.pb = 4;
    options.x86 = true;
    Bytes block = LzmaEncode(data, options);
    ASSERT_FALSE(block.empty());
    ExpectBlockDecodes(block, data); // lc + lp 4, pb 4, filter 1
    const struct {
        int at;
        uint8_t value;
        bool accepted;
    } rows[] = {
        {10, 0x00, true},
        {11, 0x00, true},
        {12, 0x80, true},
        {13, 0x00, true},                // 8 MiB
        {10, 0x01, false},               // 8 MiB + 1
        {9, (4 * 5 + 0) * 9 + 5, false}, // lc 5
        {9, (4 * 5 + 1) * 9 + 4, false}, // lc 4, lp 1
        {9, (5 * 5 + 0) * 9 + 4, false}, // pb 5
        {8, 2, false},                   // filter 2
        {14, 1, false},
        {15, 1, false},
        {0, 'f', false},
    };
    Bytes changed = block;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.at);
        changed[(size_t)row.at] = row.value;
        if (row.accepted) {
            ExpectBlockDecodes(changed, data);
        } else {
            ExpectRefused(changed, data);
            changed[(size_t)row.at] = block[(size_t)row.at];
        }
    }
    // The size asked for is the header's.
    ExpectRefused(block, data, -1, (int32_t)data.size() - 1);
    Bytes longer(data.size() + 1);
    EXPECT_EQ(Lzma_DecompressApart(block.data(), (int32_t)block.size(), longer.data(),
                                   (int32_t)longer.size()),
              0);
}

TEST_F(Lzma, FirstStreamByteMustBeZero) {
    Bytes data = Random(5000, 3);
    Bytes block = LzmaEncode(data);
    ASSERT_EQ(block[LZMA_HEADER_SIZE], 0);
    block[LZMA_HEADER_SIZE] = 1;
    ExpectRefused(block, data);
}

// Random bytes twice over at a distance of 6000: a dictionary of 6000 reaches them, one of 5999
// does not.
TEST_F(Lzma, MatchBeyondTheDictionaryRefused) {
    Bytes data = Random(6000, 11);
    data.insert(data.end(), data.begin(), data.end());
    LzmaEncoding options;
    options.dictSize = 8192;
    Bytes block = LzmaEncode(data, options);
    ASSERT_FALSE(block.empty());
    ASSERT_LT(block.size(), 7000u); // the second half is a match
    Bytes changed = block;
    changed[10] = 6000 & 0xFF;
    changed[11] = 6000 >> 8;
    ExpectBlockDecodes(changed, data);
    changed[10] = 5999 & 0xFF;
    ExpectRefused(changed, data);
}

// A block whose last symbol is a long match: given a size one byte short, the match runs past it
// and the block is refused, nothing written past the size (the output areas are exact).
TEST_F(Lzma, MatchPastTheSizeRefused) {
    Bytes data;
    for (int i = 0; i < 1000; i++) data.insert(data.end(), {'a', 'b', 'c'});
    Bytes block = LzmaEncode(data);
    ASSERT_FALSE(block.empty());
    ExpectBlockDecodes(block, data);
    Bytes shorter = block;
    uint32_t complement = ~(uint32_t)(data.size() - 1);
    for (int i = 0; i < 4; i++) shorter[4 + (size_t)i] = (uint8_t)(complement >> (8 * i));
    ExpectRefused(shorter, data, -1, (int32_t)data.size() - 1);
}

// The sink's 0 and a failed read stop the decoder at once.
TEST_F(Lzma, SinkAndSourceFailuresStop) {
    Bytes data = Random(200000, 5);
    Bytes block = LzmaEncode(data);
    struct Counting {
        const Bytes *block;
        size_t read;
        int pieces;
        int failReadAt;
    } counting = {&block, 0, 0, -1};
    auto read = [](void *context, uint8_t *buffer, int32_t n) {
        Counting *c = (Counting *)context;
        if (c->failReadAt == 0) return 0;
        c->failReadAt--;
        memcpy(buffer, c->block->data() + c->read, (size_t)n);
        c->read += (size_t)n;
        return 1;
    };
    auto refuse = [](void *context, const uint8_t *, int32_t) {
        ((Counting *)context)->pieces++;
        return 0;
    };
    EXPECT_EQ(Lzma_DecompressStream(read, &counting, (int32_t)block.size(), refuse, &counting,
                                    (int32_t)data.size()),
              0);
    EXPECT_EQ(counting.pieces, 1);
    for (int failAt : {0, 1, 2}) {
        counting = {&block, 0, 0, failAt}; // the header, the first piece, the second
        auto take = [](void *, const uint8_t *, int32_t) { return 1; };
        EXPECT_EQ(Lzma_DecompressStream(read, &counting, (int32_t)block.size(), take, nullptr,
                                        (int32_t)data.size()),
                  0);
    }
}

} // namespace
