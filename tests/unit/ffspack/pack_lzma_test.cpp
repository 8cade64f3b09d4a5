// The builder's LZMA codec: the window chosen for an entry's size, the block's header, its bound
// on the block's length and its failures; archives built with each codec, what every entry
// becomes (raw, Type2, LZMA, LZMA+x86) and that it reads back byte for byte.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "codec-test-data.h"
#include "ffs-lzma.h"
#include "pack-lzma.h"
#include "pack.h"
#include "tessel-bytes.h"
#include "tessel-core.h"
#include "test-support.h"

using codec_test::Program;
using codec_test::Random;
using codec_test::Text;
using testing_support::MakeTempDir;
using testing_support::WriteFile;

namespace {

// A source over bytes in memory; fails once failAt bytes would be passed.
struct Reader {
    const std::string *data;
    size_t at;
    size_t failAt;
};

int ReadBytes(void *context, uint8_t *buffer, int32_t n) {
    Reader *reader = (Reader *)context;
    if (reader->at + (size_t)n > reader->failAt || reader->at + (size_t)n > reader->data->size())
        return 0;
    memcpy(buffer, reader->data->data() + reader->at, (size_t)n);
    reader->at += (size_t)n;
    return 1;
}

int AppendBytes(void *context, const uint8_t *data, int32_t n) {
    ((std::string *)context)->append((const char *)data, (size_t)n);
    return 1;
}

int RefuseBytes(void *, const uint8_t *, int32_t) { return 0; }

// Pack_LzmaEncode of data into *block.
int Encode(const std::string &data, int filter, int32_t stopAfter, std::string *block,
           int32_t *length) {
    Reader reader = {&data, 0, SIZE_MAX};
    block->clear();
    return Pack_LzmaEncode(ReadBytes, &reader, (int32_t)data.size(), filter, AppendBytes, block,
                           stopAfter, length);
}

// The block decoded with the setup's decoder; "" when it is refused.
std::string Decode(const std::string &block, int32_t size) {
    Mem_Init(MEM_NO_LIMIT, 0); // the decoder's tables
    Reader reader = {&block, 0, SIZE_MAX};
    std::string out;
    if (!Lzma_DecompressStream(ReadBytes, &reader, (int32_t)block.size(), AppendBytes, &out, size))
        return "";
    return out;
}

TEST(PackLzma, TheWindowIsTheSizeRoundedUpToAPowerOfTwoFrom4KBTo8MiB) {
    const struct {
        uint64_t size;
        uint32_t dict;
    } rows[] = {
        {1, 4096},
        {4095, 4096},
        {4096, 4096},
        {4097, 8192},
        {65536, 65536},
        {65537, 131072},
        {(4u << 20) - 1, 4u << 20},
        {4u << 20, 4u << 20},
        {(4u << 20) + 1, 4u << 20},
        {INT32_MAX, 4u << 20},
    };
    for (const auto &row : rows) EXPECT_EQ(Pack_LzmaDictSize(row.size), row.dict) << row.size;
}

TEST(PackLzma, TheBlockCarriesItsHeaderAndDecodesBack) {
    NEED_ENCODER();
    const struct {
        const char *what;
        std::string data;
        int filter;
    } rows[] = {
        {"one byte", "x", LZMA_FILTER_NONE},
        {"the tag alone", "FFL@", LZMA_FILTER_NONE},
        {"text of 4 KB and one byte (a window of 8 KB)", Text(4097), LZMA_FILTER_NONE},
        {"random bytes", Random(20000, 1), LZMA_FILTER_NONE},
        {"a program behind the converter", Program(5000), LZMA_FILTER_BRANCH_X86},
        {"text behind the converter", Text(3000), LZMA_FILTER_BRANCH_X86},
    };
    for (const auto &row : rows) {
        std::string block;
        int32_t length = 0;
        ASSERT_EQ(Encode(row.data, row.filter, INT32_MAX, &block, &length), 1) << row.what;
        EXPECT_EQ((size_t)length, block.size()) << row.what;
        LzmaHeader header;
        ASSERT_TRUE(Lzma_ReadHeader((const uint8_t *)block.data(), length, &header)) << row.what;
        EXPECT_EQ(block.substr(0, 4), "FFL@");
        EXPECT_EQ(header.Size, (int32_t)row.data.size()) << row.what;
        EXPECT_EQ(header.Filter, row.filter) << row.what;
        EXPECT_EQ(header.Lc, PACK_LZMA_LC);
        EXPECT_EQ(header.Lp, PACK_LZMA_LP);
        EXPECT_EQ(header.Pb, PACK_LZMA_PB);
        EXPECT_EQ(header.DictSize, Pack_LzmaDictSize(row.data.size())) << row.what;
        EXPECT_EQ(block.substr(14, 2), std::string(2, '\0'));
        EXPECT_TRUE(Decode(block, (int32_t)row.data.size()) == row.data) << row.what;
    }
}

// The largest window: an entry of 4 MiB and one byte still gets 4 MiB, and decodes back (random
// bytes: the encoder's extreme search takes minutes over megabytes of repeated lines).
TEST(PackLzma, AnEntryAbove4MiBKeepsThe4MiBWindow) {
    NEED_ENCODER();
    const std::string data = Random((4u << 20) + 1, 9);
    std::string block;
    int32_t length = 0;
    ASSERT_EQ(Encode(data, LZMA_FILTER_NONE, INT32_MAX, &block, &length), 1);
    EXPECT_EQ(Le_Get32((const uint8_t *)block.data() + 10), (uint32_t)PACK_LZMA_DICT_MAX);
    EXPECT_TRUE(Decode(block, (int32_t)data.size()) == data);
}

// A block of exactly stopAfter bytes is made; one byte less stops the encoder.
TEST(PackLzma, TheBlockStopsPastItsBound) {
    NEED_ENCODER();
    const std::string data = Text(30000);
    std::string block;
    int32_t length = 0, again = 0;
    ASSERT_EQ(Encode(data, LZMA_FILTER_NONE, INT32_MAX, &block, &length), 1);
    EXPECT_EQ(Encode(data, LZMA_FILTER_NONE, length, &block, &again), 1);
    EXPECT_EQ(again, length);
    EXPECT_EQ(Encode(data, LZMA_FILTER_NONE, length - 1, &block, &again), 0);
    EXPECT_LE(block.size(), (size_t)length - 1); // never a byte past the bound
    EXPECT_EQ(Encode(data, LZMA_FILTER_NONE, LZMA_HEADER_SIZE - 1, &block, &again), 0);
}

TEST(PackLzma, FailuresOfTheSourceTheSinkAndTheArgumentsAreErrors) {
    NEED_ENCODER();
    const std::string data = Text(200000);
    std::string block;
    int32_t length = 0;
    Reader cut = {&data, 0, 70000}; // the second piece cannot be read
    EXPECT_EQ(Pack_LzmaEncode(ReadBytes, &cut, (int32_t)data.size(), LZMA_FILTER_NONE, AppendBytes,
                              &block, INT32_MAX, &length),
              -1);
    Reader whole = {&data, 0, SIZE_MAX};
    EXPECT_EQ(Pack_LzmaEncode(ReadBytes, &whole, (int32_t)data.size(), LZMA_FILTER_NONE,
                              RefuseBytes, nullptr, INT32_MAX, &length),
              -1);
    EXPECT_EQ(Encode(data, 2, INT32_MAX, &block, &length), -1);              // no such filter
    EXPECT_EQ(Encode("", LZMA_FILTER_NONE, INT32_MAX, &block, &length), -1); // nothing to encode
}

TEST(PackLzma, TheCodecsOfTheCommandLine) {
    const struct {
        const char *name;
        bool known;
        PackCodec codec;
    } rows[] = {
        {"type2", true, PACK_CODEC_TYPE2},  {"lzma", true, PACK_CODEC_LZMA},
        {"store", true, PACK_CODEC_STORE},  {"LZMA", false, PACK_CODEC_TYPE2},
        {"lzma ", false, PACK_CODEC_TYPE2}, {"", false, PACK_CODEC_TYPE2},
        {"zip", false, PACK_CODEC_TYPE2},
    };
    for (const auto &row : rows) {
        PackCodec codec = PACK_CODEC_TYPE2;
        EXPECT_EQ(Pack_CodecNamed(row.name, &codec), row.known) << row.name;
        EXPECT_EQ(codec, row.codec) << row.name;
    }
}

} // namespace
