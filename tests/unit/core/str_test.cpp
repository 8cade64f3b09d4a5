// String utilities: folding, searches, formatting cuts, the lenient number parser, the keyword
// quick CRC and CRC-32 against an independent table-driven implementation, and the sliced CRC-32
// against the bitwise one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tessel-core.h"
#include "tessel-str.h"

namespace {

// The textbook table-driven CRC-32, independent of the library's table-free one.
uint32_t ReferenceCrc32(const unsigned char *data, size_t length) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; i++) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

TEST(Crc32, KnownVectors) {
    EXPECT_EQ(Core_Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Core_Crc32("", 0), 0u);
    EXPECT_EQ(Core_Crc32("abc", -1), 0u);
    EXPECT_EQ(Core_Crc32("INSTALL.DAT", 11), 0x69BD3630u);
}

TEST(Crc32, MatchesTableDrivenCrcOnRandomBuffers) {
    std::mt19937 random(1234);
    for (int round = 0; round < 300; round++) {
        std::vector<unsigned char> data(random() % 3000 + 1);
        for (auto &byte : data) byte = (unsigned char)random();
        ASSERT_EQ(Core_Crc32(data.data(), (int)data.size()),
                  ReferenceCrc32(data.data(), data.size()))
            << "length " << data.size();
    }
}

TEST(Crc32, PiecewiseUpdateEqualsWholeBuffer) {
    const char *text = "The quick brown fox jumps over the lazy dog";
    int length = (int)strlen(text);
    for (int cut = 0; cut <= length; cut++) {
        uint32_t running = Core_Crc32Update(0xFFFFFFFFu, text, cut);
        running = Core_Crc32Update(running, text + cut, length - cut);
        EXPECT_EQ(~running, 0x414FA339u) << "cut at " << cut;
    }
}

// Bit by bit, as the polynomial defines the CRC: the reference of the sliced one.
uint32_t BitwiseCrc32(uint32_t running, const unsigned char *data, size_t length) {
    for (size_t i = 0; i < length; i++) {
        running ^= data[i];
        for (int k = 0; k < 8; k++) running = (running >> 1) ^ (0xEDB88320u & (0u - (running & 1)));
    }
    return running;
}

std::vector<uint32_t> SliceTable() {
    std::vector<uint32_t> table(CORE_CRC32_TABLE_WORDS, 0);
    EXPECT_EQ(Core_Crc32MakeTable(table.data()), 1);
    return table;
}

TEST(Crc32Sliced, KnownVectors) {
    std::vector<uint32_t> table = SliceTable();
    struct {
        const char *text;
        uint32_t crc;
    } rows[] = {
        {"123456789", 0xCBF43926u},
        {"INSTALL.DAT", 0x69BD3630u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {"", 0u},
    };
    for (auto &row : rows)
        EXPECT_EQ(~Core_Crc32Sliced(table.data(), 0xFFFFFFFFu, row.text, (int)strlen(row.text)),
                  row.crc)
            << row.text;
}

// Every length from 0 to 80 and random odd ones, from every alignment, continuing any running
// value: the sliced CRC is the bitwise one, and the library's table-free one.
TEST(Crc32Sliced, MatchesTheBitwiseCrcOnRandomData) {
    std::vector<uint32_t> table = SliceTable();
    std::mt19937 random(99);
    std::vector<unsigned char> data(200008);
    for (auto &byte : data) byte = (unsigned char)random();
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 80; length++) lengths.push_back(length);
    for (int i = 0; i < 40; i++) lengths.push_back((random() % 100000) | 1);
    lengths.push_back(200001);
    for (size_t length : lengths) {
        for (size_t offset = 0; offset < 8; offset++) {
            uint32_t start = offset == 0 ? 0xFFFFFFFFu : (uint32_t)random();
            const unsigned char *bytes = data.data() + offset;
            uint32_t sliced = Core_Crc32Sliced(table.data(), start, bytes, (int)length);
            ASSERT_EQ(sliced, BitwiseCrc32(start, bytes, length)) << length << " at " << offset;
            if (length < 5000) {
                ASSERT_EQ(sliced, Core_Crc32Update(start, bytes, (int)length)) << length;
            }
        }
    }
}

TEST(Crc32Sliced, PiecewiseEqualsWholeBuffer) {
    std::vector<uint32_t> table = SliceTable();
    const char *text = "The quick brown fox jumps over the lazy dog";
    int length = (int)strlen(text);
    for (int cut = 0; cut <= length; cut++) {
        uint32_t running = Core_Crc32Sliced(table.data(), 0xFFFFFFFFu, text, cut);
        running = Core_Crc32Sliced(table.data(), running, text + cut, length - cut);
        EXPECT_EQ(~running, 0x414FA339u) << "cut at " << cut;
    }
}

TEST(QuickCrc, Vectors) {
    struct {
        const char *text;
        uint32_t value;
    } rows[] = {
        {"", 0x00000000u},    {"a", 0x41400410u},   {"A", 0x41400410u},
        {"abc", 0x46277610u}, {"ABC", 0x46277610u}, {"aBc", 0x46277610u},
    };
    for (const auto &row : rows) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(Str_QuickCrc(row.text, &value), 1);
        EXPECT_EQ(value, row.value) << row.text;
    }
}

TEST(QuickCrc, LengthInTopBitsAndHighBytesSigned) {
    uint32_t a, b;
    Str_QuickCrc("abcdef", &a); // the shift pairs wrap after five letters
    Str_QuickCrc("ABCDEF", &b);
    EXPECT_EQ(a, b);
    // A byte of 128 and above counts as negative: 0xE9 is -23, not a folded letter.
    uint32_t high;
    Str_QuickCrc("\xE9", &high);
    uint32_t v = (uint32_t)(int32_t)-23;
    EXPECT_EQ(high, (1u << 22) + ((v << 4) + (v << 24)));
}

TEST(Folding, OnlyAsciiLettersFold) {
    struct {
        const char *a, *b;
        int equal;
    } rows[] = {
        {"Install", "INSTALL", 1},
        {"Install", "Installer", 0},
        {"Installer", "Install", 0},
        {"[", "{", 0},
        {"@", "`", 0},
        {"\xE9", "\xC9", 0},
        {"", "", 1},
        {"a1-Z", "A1-z", 1},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Str_EqualNoCase(row.a, row.b), row.equal) << row.a << "|" << row.b;
    EXPECT_EQ(Str_EqualNoCaseN("INSTALL.DAT", "install.exe", 8), 1);
    EXPECT_EQ(Str_EqualNoCaseN("INSTALL.DAT", "install.exe", 9), 0);
    char text[] = "abc-xyz[{\xE9";
    Str_Upper(text);
    EXPECT_STREQ(text, "ABC-XYZ[{\xE9");
}

TEST(Prefixes, StartsWithAndItsNoCaseForm) {
    EXPECT_EQ(Str_StartsWith("setup.exe", ""), 1);
    EXPECT_EQ(Str_StartsWith("setup.exe", "setup"), 1);
    EXPECT_EQ(Str_StartsWith("setup.exe", "Setup"), 0);
    EXPECT_EQ(Str_StartsWith("set", "setup"), 0);
    EXPECT_EQ(Str_StartsWithNoCase("SETUP.exe", "setup."), 1);
    EXPECT_EQ(Str_StartsWithNoCase("SET", "setup"), 0);
}

TEST(Find, PositionsAndMisses) {
    const char *position = "x";
    const char *text = "setup.exe -quiet";
    EXPECT_EQ(Str_FindNoCase(text, "-Quiet", &position), 1);
    EXPECT_EQ(position, text + 10);
    const char *bold = "BOLD ITALIC";
    EXPECT_EQ(Str_Find(bold, "italic", &position), 0);
    EXPECT_EQ(position, nullptr);
    EXPECT_EQ(Str_FindNoCase(bold, "italic", &position), 1);
    EXPECT_EQ(position, bold + 5);
    // An empty text never matches, not even the empty pattern; an empty pattern matches at 0.
    EXPECT_EQ(Str_Find("", "", &position), 0);
    EXPECT_EQ(Str_Find("ab", "", &position), 1);
    EXPECT_EQ(Str_FindNoCase("-Debugger", "-debug", &position), 1);
}

TEST(CopyAppendReverse, Basics) {
    char buffer[32];
    Str_Copy(buffer, "Tessel");
    Str_Append(buffer, "Core");
    EXPECT_STREQ(buffer, "TesselCore");
    EXPECT_EQ(Str_Length(buffer), 10);
    char abc[] = "abc";
    Str_Reverse(abc);
    EXPECT_STREQ(abc, "cba");
    char empty[] = "";
    Str_Reverse(empty);
    EXPECT_STREQ(empty, "");
    char even[] = "1234";
    Str_Reverse(even);
    EXPECT_STREQ(even, "4321");
}

TEST(Format, CutsAndTerminates) {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    int result = Str_Format(buffer, sizeof buffer, "%s", "123456789");
    EXPECT_LT(result, 0);
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_EQ(Str_Format(buffer, sizeof buffer, "%d", 1234567), 7);
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_LT(Str_Format(buffer, sizeof buffer, "%d", 12345678), 0);
    EXPECT_STREQ(buffer, "1234567");
    buffer[0] = 'q';
    EXPECT_LT(Str_Format(buffer, 0, "%s", "a"), 0);
    EXPECT_EQ(buffer[0], 'q');
    // A buffer of one byte holds the empty text: nothing cut.
    EXPECT_EQ(Str_Format(buffer, 1, "%s", ""), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(Str_Format(buffer, 1, "%s", "a"), -1);
}

TEST(ToFloat, LenientRuns) {
    struct {
        const char *text;
        double value;
    } rows[] = {
        {"-12.50px", -12.5}, {" 5", 0.0}, {"12.5", 12.5}, {"1+2", 1.0},  {"..5", 0.0},
        {"1e5", 1.0},        {"", 0.0},   {"x1", 0.0},    {".25", 0.25}, {"+3", 3.0},
    };
    for (const auto &row : rows) EXPECT_DOUBLE_EQ(Str_ToFloat(row.text), row.value) << row.text;
    EXPECT_DOUBLE_EQ(Str_ToFloat(nullptr), 0.0);
}

TEST(ToFloat, SixtyNineDigitsPassSeventyStop) {
    std::string digits69(69, '1');
    EXPECT_GT(Str_ToFloat((digits69 + "px").c_str()), 1e67);
    std::string digits70(70, '2');
    EXPECT_EXIT(Str_ToFloat(digits70.c_str()), ::testing::ExitedWithCode(3),
                "ABORT: Input AtoF string too large \\(2222");
}

TEST(Guards, NullPointersAreFatalWithTheRoutinesLocation) {
    EXPECT_EXIT(Str_Length(nullptr), ::testing::ExitedWithCode(3),
                "ASSERT:Pointer is NULL...\n       \\(TESSELCORE/tessel-str.cpp/");
    char buffer[4] = "";
    const char *position;
    uint32_t value;
    EXPECT_EXIT(Str_Copy(buffer, nullptr), ::testing::ExitedWithCode(3), "Pointer is NULL");
    EXPECT_EXIT(Str_Find("a", "a", nullptr), ::testing::ExitedWithCode(3), "Pointer is NULL");
    EXPECT_EXIT(Str_FindNoCase(nullptr, "a", &position), ::testing::ExitedWithCode(3),
                "Pointer is NULL");
    EXPECT_EXIT(Str_QuickCrc("a", nullptr), ::testing::ExitedWithCode(3), "Pointer is NULL");
    EXPECT_EXIT(Str_QuickCrc(nullptr, &value), ::testing::ExitedWithCode(3), "Pointer is NULL");
    EXPECT_EXIT(Core_Crc32(nullptr, 4), ::testing::ExitedWithCode(3), "Pointer is NULL");
    EXPECT_EXIT(Str_Upper(nullptr), ::testing::ExitedWithCode(3), "Pointer is NULL");
    EXPECT_EXIT(Str_EqualNoCase("a", nullptr), ::testing::ExitedWithCode(3), "Pointer is NULL");
}

} // namespace
