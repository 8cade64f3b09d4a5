// The uninstaller's copy of the script: the key, the scrambling checked against a decoder of
// the test kit's own, the shortest key, and the layout behind the uninstaller: marker, script,
// and the marker's offset as a 32-bit little-endian trailer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tessel-core.h"
#include "test-support.h"
#include "uninst.h"

using testing_support::Descramble;
using testing_support::LittleEndian;

namespace {

// The entry's key name is refused, never cut, beyond the registry's 260 characters and beyond
// its buffer: a cut name would be another product's entry, which the uninstaller would delete.
TEST(Uninstaller, TheEntrysKeyNameIsRefusedBeyondItsLimitNeverCut) {
    const std::string prefix = UNINSTREG_KEY_PREFIX;
    char key[UNINSTREG_KEY_SIZE];
    const int room = UNINSTREG_KEY_LIMIT - (int)prefix.size() - 1; // company, blank, product
    const std::string company = "Hollybush";
    std::string product(room - company.size(), 'p');
    EXPECT_EQ(Uninst_KeyName(company.c_str(), product.c_str(), key, sizeof key),
              UNINSTREG_KEY_LIMIT);
    EXPECT_EQ(std::string(key), prefix + company + " " + product);
    product += "q";
    EXPECT_EQ(Uninst_KeyName(company.c_str(), product.c_str(), key, sizeof key), -1);
    EXPECT_STREQ(key, "");
    // A name the buffer cannot hold: refused, where a cut one would name a shorter product.
    const std::string long159(159, 'c');
    EXPECT_EQ(Uninst_KeyName(long159.c_str(), long159.c_str(), key, sizeof key), -1);
    EXPECT_STREQ(key, "");
    EXPECT_EQ(Uninst_KeyName("A", "B", key, (int)prefix.size() + 3), -1);
    key[0] = 'x'; // a buffer of no bytes is not written
    EXPECT_EQ(Uninst_KeyName("A", "B", key, 0), -1);
    EXPECT_EQ(key[0], 'x');
    EXPECT_EQ(Uninst_KeyName("A", "B", key, (int)prefix.size() + 4), (int)prefix.size() + 3);
}

TEST(Uninstaller, TheKeyIsFourteenPrintableCharacters) {
    ASSERT_EQ(strlen(UNINST_KEY), 14u);
    for (const char *c = UNINST_KEY; *c; c++) EXPECT_TRUE(*c >= 0x20 && *c < 0x7F) << *c;
}

TEST(Uninstaller, ScramblingMatchesTheDecoderAndUndoesItself) {
    std::string plain;
    for (int i = 0; i < 700; i++) plain += (char)(i * 7 + 3); // past 256 bytes and many keys
    std::string scrambled = plain;
    EXPECT_EQ(Uninst_Scramble((uint8_t *)&scrambled[0], (int32_t)scrambled.size(), UNINST_KEY,
                              UNINST_KEY_LENGTH),
              1);
    EXPECT_NE(scrambled, plain);
    EXPECT_EQ(Descramble(scrambled), plain);
    Uninst_Scramble((uint8_t *)&scrambled[0], (int32_t)scrambled.size(), UNINST_KEY,
                    UNINST_KEY_LENGTH);
    EXPECT_EQ(scrambled, plain);
    // Byte 0 of zeros is the key's first byte; byte 15 is key[1] ^ 1 ^ 15.
    uint8_t zeros[16] = {0};
    Uninst_Scramble(zeros, 16, "AB", 2);
    EXPECT_EQ(zeros[0], 'A');
    EXPECT_EQ(zeros[15], 'B' ^ 1 ^ 15);
}

TEST(Uninstaller, TheScriptFollowsTheMarkerAndTheOffsetEndsTheFile) {
    const std::string program = "MZ-uninstaller", script = "\x16"
                                                           "COMPANY NAME:Acme\r\n";
    std::string file = program + std::string(script.size() + UNINST_EXTRA_SIZE, '\0');
    Uninst_AppendScript((uint8_t *)&file[0], (int32_t)program.size(), script.c_str(),
                        (int32_t)script.size());
    ASSERT_EQ(file.size(), program.size() + 4 + script.size() + 4);
    EXPECT_EQ(file.substr(0, program.size()), program);
    EXPECT_EQ(file.substr(program.size(), 4), "FFS?");
    EXPECT_EQ(Descramble(file.substr(program.size() + 4, script.size())), script);
    EXPECT_EQ(LittleEndian(file, file.size() - 4), program.size());
}

TEST(Uninstaller, AKeyOfOneCharacterIsTheShortestTaken) {
    // With one character k is always 0: byte i of zeros becomes key[0] ^ i.
    uint8_t zeros[300] = {0};
    EXPECT_EQ(Uninst_Scramble(zeros, (int32_t)sizeof zeros, "K", 1), 1);
    for (int i = 0; i < (int)sizeof zeros; i++) ASSERT_EQ(zeros[i], (uint8_t)('K' ^ i)) << i;
    Uninst_Scramble(zeros, (int32_t)sizeof zeros, "K", 1);
    for (int i = 0; i < (int)sizeof zeros; i++) ASSERT_EQ(zeros[i], 0) << i;

    Log_Init("uninst-test.log", 0);
    uint8_t byte = 0;
    EXPECT_EXIT((Core_Locate("x.cpp", 1), Uninst_Scramble(&byte, 1, "K", 0)),
                testing::ExitedWithCode(3), "Scrambling key of 0 characters");
}

TEST(Uninstaller, NothingToScrambleLeavesTheBufferAlone) {
    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(Uninst_Scramble(bytes, 0, UNINST_KEY, UNINST_KEY_LENGTH), 1);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[3], 4);
}

TEST(Uninstaller, TheTrailerIsTheEntrySizeInFourBytesLowFirst) {
    const std::string script = "\x16"
                               "BREAK:\r\n";
    for (size_t size : {(size_t)0, (size_t)1, (size_t)0x1234, (size_t)0x012345}) {
        SCOPED_TRACE(size);
        std::string file(size + script.size() + UNINST_EXTRA_SIZE, '\x5A');
        EXPECT_EQ(Uninst_AppendScript((uint8_t *)&file[0], (int32_t)size, script.c_str(),
                                      (int32_t)script.size()),
                  1);
        std::string trailer = file.substr(file.size() - 4);
        const char expected[4] = {(char)(size & 0xFF), (char)(size >> 8 & 0xFF),
                                  (char)(size >> 16 & 0xFF), 0};
        EXPECT_EQ(trailer, std::string(expected, 4));
        EXPECT_EQ(file.substr(size, 4), UNINST_MARKER);
        EXPECT_EQ(file.substr(0, size), std::string(size, '\x5A')); // the entry untouched
        EXPECT_EQ(Descramble(file.substr(size + 4, script.size())), script);
    }
}

} // namespace
