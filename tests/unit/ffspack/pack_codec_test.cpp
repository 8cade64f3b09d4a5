// Archives built with each codec (type2, lzma, store): what every entry becomes (raw, Type2,
// LZMA, LZMA+x86), that tagged data is never raw, that it reads back byte for byte through the
// program's reader, and that the threads and the spool files do not change a byte.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "codec-test-data.h"
#include "pack-lzma.h"
#include "pack.h"
#include "tessel-bytes.h"
#include "tessel-core.h"
#include "test-support.h"

using codec_test::Program;
using codec_test::Random;
using codec_test::Text;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

struct Row {
    const char *name;
    std::string data;
    const char *type2, *lzma, *store; // the method under each codec
};

std::vector<Row> Rows() {
    return {
        {"one.txt", "x", "raw", "raw", "raw"},
        {"tag.bin", "FFL@", "Type2", "LZMA", "Type2"},
        {"lzmatag.bin", "FFL@" + Random(3000, 2), "Type2", "LZMA", "Type2"},
        {"type2tag.bin", "FFC@" + Random(3000, 3), "Type2", "LZMA", "Type2"},
        {"random.bin", Random(50000, 4), "raw", "raw", "raw"},
        {"text.txt", Text(100000), "Type2", "LZMA", "raw"},
        {"short.txt", std::string(40, 'a'), "Type2", "LZMA", "raw"},
        {"calls.exe", Program(20000), "Type2", "LZMA+x86", "raw"},
        // No call or jump for the converter: its block is no shorter, the plain one is kept.
        {"plain.exe", "MZ" + Text(20000), "Type2", "LZMA", "raw"},
    };
}

// The archive of the rows built with codec into path; false with the error.
bool Build(PackCodec codec, const std::string &path, std::string *error, PackNotes *notes) {
    std::vector<PackInput> inputs;
    for (const Row &row : Rows())
        inputs.push_back({row.name, PackBytes(row.data.begin(), row.data.end())});
    PackBytes archive;
    Pack_SetCodec(codec);
    bool built = Pack_BuildArchive(inputs, PACK_DEFAULT_FLAGS, 0, false, &archive, error, notes);
    Pack_SetCodec(PACK_CODEC_TYPE2);
    return built && WriteFile(path, std::string(archive.begin(), archive.end()));
}

TEST(PackCodec, EachEntryIsStoredAsItsCodecAsksAndReadsBack) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-codec");
    const struct {
        PackCodec codec;
        const char *Row::*method;
    } codecs[] = {
        {PACK_CODEC_TYPE2, &Row::type2},
        {PACK_CODEC_LZMA, &Row::lzma},
        {PACK_CODEC_STORE, &Row::store},
    };
    for (const auto &codec : codecs) {
        if (codec.codec == PACK_CODEC_LZMA && !Pack_LzmaAvailable()) continue;
        SCOPED_TRACE("codec " + std::to_string(codec.codec));
        const std::string path = dir + "a" + std::to_string(codec.codec) + ".ffs";
        std::string error;
        PackNotes notes;
        ASSERT_TRUE(Build(codec.codec, path, &error, &notes)) << error;
        std::vector<std::string> names;
        for (const Row &row : Rows()) names.push_back(row.name);
        std::vector<PackEntryInfo> entries;
        uint32_t flags = 0;
        ASSERT_TRUE(Pack_List(path, names, &entries, &flags, &error)) << error;
        ASSERT_EQ(entries.size(), Rows().size());
        for (const Row &row : Rows()) {
            for (const PackEntryInfo &entry : entries) {
                if (entry.name != row.name) continue;
                EXPECT_EQ(entry.method, row.*codec.method) << row.name;
                EXPECT_EQ(entry.size, (int32_t)row.data.size()) << row.name;
                EXPECT_EQ(entry.compressed, entry.method != "raw") << row.name;
            }
            PackBytes data;
            ASSERT_TRUE(Pack_Extract(path, row.name, &data, &error)) << row.name << ": " << error;
            EXPECT_TRUE(std::string(data.begin(), data.end()) == row.data) << row.name;
        }
        std::vector<std::string> report;
        EXPECT_TRUE(Pack_Verify(path, &report));
    }
}

// Tagged data that no block shortens is encoded anyway, and the note says with which codec.
TEST(PackCodec, TaggedDataIsEncodedWithANote) {
    const std::string dir = MakeTempDir("pack-codec-notes");
    for (PackCodec codec : {PACK_CODEC_TYPE2, PACK_CODEC_LZMA, PACK_CODEC_STORE}) {
        if (codec == PACK_CODEC_LZMA && !Pack_LzmaAvailable()) continue;
        std::string error, all;
        PackNotes notes;
        ASSERT_TRUE(Build(codec, dir + "a.ffs", &error, &notes)) << error;
        for (const std::string &note : notes) all += note + "\n";
        const std::string how = codec == PACK_CODEC_LZMA ? "LZMA" : "Type2";
        EXPECT_NE(all.find("'tag.bin' begins with \"FFL@\": stored " + how + "-encoded ("),
                  std::string::npos)
            << all;
        EXPECT_NE(all.find("'lzmatag.bin' begins with \"FFL@\": stored " + how + "-encoded"),
                  std::string::npos)
            << all;
    }
}

TEST(PackCodec, ThreadsAndSpoolFilesGiveTheSameArchive) {
    NEED_ENCODER();
    const std::string dir = MakeTempDir("pack-codec-threads");
    std::vector<PackInput> inputs;
    for (const Row &row : Rows())
        inputs.push_back({row.name, PackBytes(row.data.begin(), row.data.end())});
    std::vector<PackBytes> made = codec_test::ArchivesOverThreads(inputs, dir + "spool");
    ASSERT_FALSE(made[0].empty());
    for (const PackBytes &archive : made) EXPECT_TRUE(archive == made[0]);
}

} // namespace
