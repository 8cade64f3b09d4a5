// The Type2 codec: the published blocks byte for byte, round trips over many sizes and shapes
// (tree rebuilds, long runs, far matches), the size checks of Decompress, and damaged streams
// that must never write past the output or read past the block.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ffs-cmp2.h"
#include "tessel-core.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class Type2 : public ::testing::Test {
  protected:
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        Type2_Init();
    }
    void TearDown() override { Type2_Shutdown(); }

    // The block, or an empty vector when Compress declines.
    static Bytes Compress(const Bytes &data) {
        Bytes block(data.size() + 16);
        int32_t length = (int32_t)block.size();
        if (!Type2_Compress(data.data(), (int32_t)data.size(), block.data(), &length)) return {};
        block.resize((size_t)length);
        return block;
    }

    static bool RoundTrip(const Bytes &data) {
        Bytes block = Compress(data);
        if (block.empty()) return true; // stored raw by the builder
        Bytes output(data.size());
        if (!Type2_Decompress(block.data(), (int32_t)block.size(), output.data(),
                              (int32_t)output.size()))
            return false;
        return output == data;
    }
};

Bytes FromText(const std::string &text) { return Bytes(text.begin(), text.end()); }

TEST_F(Type2, PublishedBlocks) {
    EXPECT_EQ(Compress(FromText(std::string(40, ' '))),
              (Bytes{0x46, 0x46, 0x43, 0x40, 0xD7, 0xFF, 0xFF, 0xFF, 0xB2, 0x00, 0x00}));
    std::string abc;
    for (int i = 0; i < 8; i++) abc += "abc";
    EXPECT_EQ(Compress(FromText(abc)), (Bytes{0x46, 0x46, 0x43, 0x40, 0xE7, 0xFF, 0xFF, 0xFF, 0xF7,
                                              0xFC, 0x3E, 0x33, 0xE0, 0x20}));
    EXPECT_TRUE(Compress(FromText("abcdefghijk")).empty());
}

TEST_F(Type2, DeclinesShortData) {
    Bytes block(64);
    for (int32_t length : {0, 1, 10}) {
        int32_t capacity = 64;
        EXPECT_EQ(
            Type2_Compress(FromText(std::string(10, ' ')).data(), length, block.data(), &capacity),
            0);
    }
    // Eleven bytes are worked on, but 8 header bytes and 3 code bytes are not shorter.
    EXPECT_TRUE(Compress(FromText(std::string(11, ' '))).empty());
    EXPECT_FALSE(Compress(FromText(std::string(12, ' '))).empty());
}

TEST_F(Type2, RecordOrderAndNames) {
    EXPECT_STREQ(Type2_Codec.Name, "Type2");
    EXPECT_STREQ(Type2_Codec.Version, "1.0");
    EXPECT_EQ(Type2_Codec.Compress, &Type2_Compress);
    EXPECT_EQ(Type2_Codec.Decompress, &Type2_Decompress);
    EXPECT_EQ(Type2_Codec.GetSize, &Type2_GetSize);
    EXPECT_EQ(Type2_Codec.Identify, &Type2_Identify);
    EXPECT_EQ(Type2_Codec.Init, &Type2_Init);
    EXPECT_EQ(Type2_Codec.Shutdown, &Type2_Shutdown);
}

TEST_F(Type2, IdentifyAndGetSize) {
    uint8_t block[16] = {'F', 'F', 'C', '@', 0xD7, 0xFF, 0xFF, 0xFF};
    int32_t size = 0;
    EXPECT_EQ(Type2_Identify(block), 1);
    EXPECT_EQ(Type2_GetSize(block, &size), 1);
    EXPECT_EQ(size, 40);
    block[3] = '!';
    EXPECT_EQ(Type2_Identify(block), 0);
    EXPECT_EQ(Type2_GetSize(block, &size), 1); // the tag is not looked at
    EXPECT_EQ(Type2_GetSize(nullptr, &size), 0);
}

TEST_F(Type2, DecompressRefusesBadSizes) {
    Bytes block = Compress(FromText(std::string(40, ' ')));
    Bytes output(64, 0xAA);
    EXPECT_EQ(Type2_Decompress(block.data(), (int32_t)block.size(), output.data(), 39), 0);
    EXPECT_EQ(Type2_Decompress(block.data(), (int32_t)block.size(), output.data(), 41), 0);
    struct {
        uint32_t complement;
        int32_t request;
    } rows[] = {{0xFFFFFFFF, 0}, {0x7FFFFFFF, -2147483647 - 1}, {0x00000000, -1}};
    for (auto &row : rows) {
        Bytes bad = block;
        for (int i = 0; i < 4; i++) bad[4 + i] = (uint8_t)(row.complement >> (8 * i));
        EXPECT_EQ(Type2_Decompress(bad.data(), (int32_t)bad.size(), output.data(), row.request), 0);
    }
    Bytes untagged = block;
    untagged[0] = 'X';
    EXPECT_EQ(Type2_Decompress(untagged.data(), (int32_t)untagged.size(), output.data(), 40), 0);
    EXPECT_EQ(Type2_Decompress(block.data(), 7, output.data(), 40), 0);
    EXPECT_EQ(output, Bytes(64, 0xAA)); // nothing written by a refusal
}

Bytes Random(std::mt19937 &random, size_t size, int alphabet) {
    Bytes data(size);
    for (auto &b : data) b = (uint8_t)(random() % (unsigned)alphabet);
    return data;
}

TEST_F(Type2, RoundTripsOfManySizesAndShapes) {
    std::mt19937 random(7);
    for (size_t size : {11, 12, 59, 60, 61, 100, 1000, 4095, 4096, 4097, 5000, 70000}) {
        for (int alphabet : {2, 4, 26, 256}) {
            Bytes data = Random(random, size, alphabet);
            EXPECT_TRUE(RoundTrip(data)) << size << " bytes of " << alphabet << " values";
        }
    }
}

TEST_F(Type2, RoundTripsThroughTreeRebuilds) {
    // Literals only (no byte repeats within reach): every byte is one symbol, so 100000 bytes
    // pass the first rebuild at the 32,456th symbol and several more.
    std::mt19937 random(11);
    Bytes data = Random(random, 100000, 256);
    EXPECT_TRUE(RoundTrip(data));
    // Structured text with matches and literals mixed.
    std::string text;
    for (int i = 0; text.size() < 300000; i++)
        text += "line " + std::to_string(i * 7919 % 1000) + ": the quick brown fox\r\n";
    EXPECT_TRUE(RoundTrip(FromText(text)));
}

TEST_F(Type2, LongRunsBecomeSeveralMatches) {
    for (size_t size : {61, 120, 121, 1000, 10000}) {
        Bytes run(size, 'x');
        Bytes block = Compress(run);
        ASSERT_FALSE(block.empty());
        EXPECT_LT(block.size(), 8 + size / 60 * 3 + 8) << size;
        EXPECT_TRUE(RoundTrip(run));
    }
}

TEST_F(Type2, MatchesReachTheFarEndOfTheWindow) {
    // A random 60-byte phrase, 4035 random bytes, the phrase again: the second copy lies 4095
    // bytes back, the farthest position the window holds.
    std::mt19937 random(3);
    for (size_t gap : {4034, 4035, 4036, 4100}) {
        Bytes phrase = Random(random, 60, 256), filler = Random(random, gap, 256);
        Bytes data = phrase;
        data.insert(data.end(), filler.begin(), filler.end());
        data.insert(data.end(), phrase.begin(), phrase.end());
        EXPECT_TRUE(RoundTrip(data)) << gap;
    }
}

TEST_F(Type2, LeadingSpacesMatchTheInitialWindow) {
    Bytes data = FromText(std::string(200, ' ') + "end");
    Bytes block = Compress(data);
    ASSERT_FALSE(block.empty());
    EXPECT_LE(block.size(), 20u);
    EXPECT_TRUE(RoundTrip(data));
}

TEST_F(Type2, DeterministicAndIndependentOfCallOrder) {
    std::mt19937 random(5);
    Bytes a = Random(random, 5000, 8), b = Random(random, 3000, 3);
    Bytes first = Compress(a);
    Compress(b);
    EXPECT_EQ(Compress(a), first);
}

TEST_F(Type2, DamagedStreamsStayInsideTheirBuffers) {
    std::mt19937 random(9);
    for (int round = 0; round < 300; round++) {
        int32_t size = 1 + (int32_t)(random() % 5000);
        Bytes block = Random(random, random() % 64, 256);
        block.insert(block.begin(), {'F', 'F', 'C', '@', 0, 0, 0, 0});
        for (int i = 0; i < 4; i++) block[4 + i] = (uint8_t)(~(uint32_t)size >> (8 * i));
        // The block and the output sit exactly at the ends of their heap areas, so the
        // sanitizer catches a single byte beyond either.
        std::vector<uint8_t> exactBlock(block), output((size_t)size);
        EXPECT_EQ(
            Type2_Decompress(exactBlock.data(), (int32_t)exactBlock.size(), output.data(), size),
            1);
    }
}

} // namespace
