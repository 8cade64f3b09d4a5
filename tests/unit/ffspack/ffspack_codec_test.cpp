// The build command's --codec as a user meets it (host tree): the codecs it names and the
// usage errors, the default that is type2 byte for byte, and what list and verify print of
// each entry's codec and ratio.
#include <gtest/gtest.h>

#include <string>

#include "ffspack-test-support.h"

#if defined(TESSEL_FFSPACK_PATH)

using namespace ffspack_test;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// A product of a text, a program with calls and one byte, and the build command for it with
// the stub, but for -o and --codec.
struct Product {
    std::string dir, build;
};

Product MakeProduct(const std::string &tag) {
    Product product;
    product.dir = MakeTempDir(tag);
    const std::string &dir = product.dir;
    WriteFile(dir + "setup.txt", "PRODUCT NAME:Rocket\nBREAK:\n");
    std::string text;
    for (int i = 0; text.size() < 50000; i++) text += "line " + std::to_string(i) + "\n";
    text.resize(50000);
    WriteFile(dir + "a.txt", text);
    WriteFile(dir + "one.txt", "1");
    product.build = "build --stub " + Stub(dir) + " --script " + dir + "setup.txt " + dir +
                    "a.txt " + dir + "one.txt";
    return product;
}

TEST(FfspackCodec, UnknownOrMissingCodecsAreUsageErrors) {
    Product product = MakeProduct("ffspack-codec-usage");
    const std::string out = product.dir + "setup.exe";
    for (const char *codec : {"zip", "LZMA", "Type2", "''", "lzma2"}) {
        Outcome refused = RunFfspack(product.build + " -o " + out + " --codec " + codec);
        EXPECT_EQ(refused.code, 2) << codec << refused.output;
        EXPECT_NE(refused.output.find("--codec is type2 (the default), lzma or store, not '"),
                  std::string::npos)
            << refused.output;
        EXPECT_FALSE(testing_support::FileExists(out));
    }
    Outcome incomplete = RunFfspack(product.build + " -o " + out + " --codec");
    EXPECT_EQ(incomplete.code, 2);
    EXPECT_NE(incomplete.output.find("unknown or incomplete option '--codec'"), std::string::npos)
        << incomplete.output;
    EXPECT_NE(RunFfspack("--help").output.find("[--codec type2|lzma|store]"), std::string::npos);
}

TEST(FfspackCodec, Type2IsTheDefaultByteForByte) {
    Product product = MakeProduct("ffspack-codec-default");
    // One name in two folders: the name is part of the version information.
    RunCommand("mkdir -p " + product.dir + "plain " + product.dir + "named");
    const std::string plain = product.dir + "plain/setup.exe",
                      named = product.dir + "named/setup.exe";
    ASSERT_EQ(RunFfspack(product.build + " -o " + plain).code, 0);
    ASSERT_EQ(RunFfspack(product.build + " -o " + named + " --codec type2").code, 0);
    EXPECT_TRUE(ReadFile(plain) == ReadFile(named));
}

// list: "hash stored method size ratio name"; verify: a line of each entry, then OK.
TEST(FfspackCodec, ListAndVerifyNameEachEntrysCodecAndRatio) {
    Product product = MakeProduct("ffspack-codec-list");
    const struct {
        const char *codec;
        const char *text; // a.txt's method
    } rows[] = {{"type2", "Type2"}, {"lzma", "LZMA"}, {"store", "raw"}};
    for (const auto &row : rows) {
        const std::string out = product.dir + row.codec + ".exe";
        Outcome built = RunFfspack(product.build + " -o " + out + " --codec " + row.codec);
        ASSERT_EQ(built.code, 0) << built.output;
        Outcome listed = RunFfspack("list " + out + " a.txt one.txt");
        EXPECT_EQ(listed.code, 0);
        EXPECT_NE(listed.output.find("hash           stored method         size  ratio  name"),
                  std::string::npos)
            << listed.output;
        std::string method = row.text;
        method.resize(8, ' ');
        EXPECT_NE(listed.output.find(" " + method + "      50000 "), std::string::npos)
            << row.codec << "\n"
            << listed.output;
        EXPECT_NE(listed.output.find(" raw               1 100.0%  one.txt"), std::string::npos)
            << listed.output;
        Outcome verified = RunFfspack("verify " + out);
        EXPECT_EQ(verified.code, 0) << verified.output;
        EXPECT_NE(verified.output.find(": " + std::string(row.text) + ", "), std::string::npos)
            << verified.output;
        EXPECT_NE(verified.output.find(": raw, 1 of 1 bytes (100.0%)"), std::string::npos)
            << verified.output;
    }
}

// Under lzma the FILE LIST files share a group and a copy is stored once: list names the group,
// its count of files, and where each reference points.
TEST(FfspackCodec, ListShowsGroupsAndCopies) {
    const std::string dir = MakeTempDir("ffspack-codec-group");
    WriteFile(dir + "setup.txt", "PRODUCT NAME:Rocket\nFILE LIST:$Da.txt,$Db.txt\nBREAK:\n");
    std::string a, b;
    for (int i = 0; i < 3000; i++) a += "alpha " + std::to_string(i) + "\n";
    for (int i = 0; i < 2000; i++) b += "alpha " + std::to_string(i + 1000) + "\n";
    WriteFile(dir + "a.txt", a);
    WriteFile(dir + "b.txt", b);
    WriteFile(dir + "c.txt", a);
    const std::string out = dir + "a.ffs";
    Outcome built =
        RunFfspack("build --standalone --no-check -o " + out + " --codec lzma --script " + dir +
                   "setup.txt " + dir + "a.txt " + dir + "b.txt " + dir + "c.txt");
    ASSERT_EQ(built.code, 0) << built.output;
    EXPECT_NE(built.output.find("note: <group 1>: 2 files of the FILE LIST in one LZMA block"),
              std::string::npos)
        << built.output;
    Outcome listed = RunFfspack("list " + out + " a.txt b.txt c.txt");
    EXPECT_EQ(listed.code, 0);
    const std::string size = std::to_string(a.size() + b.size());
    EXPECT_NE(listed.output.find(" LZMA     " + std::string(10 - size.size(), ' ') + size),
              std::string::npos)
        << listed.output;
    EXPECT_NE(listed.output.find("  <group 1> (holds 3 files)\n"), std::string::npos)
        << listed.output;
    // Each file's line: its 16 bytes, in the group (c.txt through a.txt's place).
    for (const char *name : {"a.txt", "b.txt", "c.txt"}) {
        size_t end = listed.output.find("  " + std::string(name) + "\n");
        ASSERT_NE(end, std::string::npos) << name << "\n" << listed.output;
        const std::string line = listed.output.substr(listed.output.rfind('\n', end) + 1);
        EXPECT_EQ(line.substr(10, 24), "         16 in <group 1>") << line;
    }
    Outcome verified = RunFfspack("verify " + out);
    EXPECT_EQ(verified.code, 0) << verified.output;
    EXPECT_NE(verified.output.find(": in <group 1>, 16 of 31890 bytes (0.1%)"), std::string::npos)
        << verified.output;
}

} // namespace

#endif
