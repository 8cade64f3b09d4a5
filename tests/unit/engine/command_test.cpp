// The command registry and the argument readers: matching by length and quick CRC in any
// letter case, twins, the fatal registration checks, the keyword table, and the readers'
// terminator rule, cursor steps and bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine-support.h"
#include "filelist.h"
#include "tessel-str.h"

using engine_test::LogCapture;

namespace {

// Handlers that record which keyword ran them.
std::string g_ran;
int RunA(InstallState *, const char *, int32_t *) {
    g_ran += "A";
    return 1;
}
int RunB(InstallState *, const char *, int32_t *) {
    g_ran += "B";
    return 0;
}

uint32_t Crc(const char *text) {
    uint32_t value = 0;
    Str_QuickCrc(text, &value);
    return value;
}

class Registry : public ::testing::Test {
  protected:
    Registry() : log_("command-test.log") {}
    void SetUp() override { g_ran.clear(); }
    void TearDown() override { Cmd_ReleaseAll(); }
    LogCapture log_;
    InstallState state_{};
    int32_t cursor_ = -1;
};

TEST_F(Registry, EveryKeywordFoundAfterAnyOrderOfLengths) {
    // The list stops at the first shorter entry, so a misplaced entry would be missed.
    const char *keywords[] = {"AB", "ABCDE", "A", "ABCD", "XY", "ABCDEFGH", "Q", "ABC"};
    for (const char *keyword : keywords) Cmd_Register(keyword, RunA);
    for (const char *keyword : keywords) EXPECT_EQ(Cmd_Find(keyword), 1) << keyword;
    const char *absent[] = {"", "Z", "ZZ", "ZZZ", "ABCDEF", "ABCDEFGHI", "ABCDEFGHIJKLMNOP"};
    for (const char *word : absent) EXPECT_EQ(Cmd_Find(word), 0) << word;
}

TEST_F(Registry, AnyLetterCaseRunsTheHandler) {
    Cmd_Register("INSTALL PATH", RunA);
    for (const char *word : {"INSTALL PATH", "install path", "Install Path", "iNsTaLl pAtH"}) {
        g_ran.clear();
        EXPECT_EQ(Cmd_Dispatch(word, &state_, "", &cursor_), 1) << word;
        EXPECT_EQ(g_ran, "A") << word;
        EXPECT_EQ(cursor_, 0);
    }
    EXPECT_EQ(Cmd_Find("INSTALL PATH "), 0); // a blank belongs to the word
    EXPECT_EQ(Cmd_Find("INSTALL_PATH"), 0);
}

TEST_F(Registry, DispatchPassesResultAndCallsNothingForUnknownWords) {
    Cmd_Register("FAILS", RunB);
    EXPECT_EQ(Cmd_Dispatch("FAILS", &state_, "", &cursor_), 0);
    EXPECT_EQ(g_ran, "B");
    g_ran.clear();
    EXPECT_EQ(Cmd_Dispatch("NOTHING", &state_, "", &cursor_), 0);
    EXPECT_EQ(g_ran, "");
}

TEST_F(Registry, QuickCrcTwinOfEqualLengthRunsThatKeywordsHandler) {
    struct {
        const char *keyword, *twin;
    } rows[] = {{"BREAK", "BZEAC"}, {"FILE LIST", "NILE DIST"}, {"AAAF", "AAGH"}};
    for (const auto &row : rows) {
        ASSERT_EQ(Crc(row.keyword), Crc(row.twin)) << row.twin;
        Cmd_ReleaseAll();
        g_ran.clear();
        Cmd_Register(row.keyword, RunA);
        EXPECT_EQ(Cmd_Dispatch(row.twin, &state_, "", &cursor_), 1) << row.twin;
        EXPECT_EQ(g_ran, "A") << row.twin;
    }
}

TEST_F(Registry, TwinOfOtherLengthIsLoggedAndBothStayApart) {
    ASSERT_EQ(Crc("AAL"), Crc("AAFF"));
    Cmd_Register("AAL", RunA);
    Cmd_Register("AAFF", RunB);
    EXPECT_TRUE(log_.Has("Matching quick CRC's (AAL) and (AAFF)\n"));
    Cmd_Dispatch("aal", &state_, "", &cursor_);
    Cmd_Dispatch("aaff", &state_, "", &cursor_);
    EXPECT_EQ(g_ran, "AB");
}

TEST_F(Registry, KeywordOf39CharactersRegisters) {
    std::string keyword(39, 'K');
    EXPECT_EQ(Cmd_Register(keyword.c_str(), RunA), 1);
    EXPECT_EQ(Cmd_Find(keyword.c_str()), 1);
}

using RegistryDeath = Registry;

TEST_F(RegistryDeath, KeywordOf40CharactersIsFatal) {
    std::string keyword(40, 'K');
    EXPECT_EXIT(Cmd_Register(keyword.c_str(), RunA), ::testing::ExitedWithCode(3),
                "ABORT: Command keyword too long \\(" + keyword + "\\) \\(40 > 40\\)");
}

TEST_F(RegistryDeath, TwinOfSameLengthIsFatalAfterItsLogLine) {
    ASSERT_EQ(Crc("AAAB"), Crc("AABA"));
    Cmd_Register("AAAB", RunA);
    EXPECT_EXIT({ Cmd_Register("AABA", RunB); }, ::testing::ExitedWithCode(3),
                "ABORT: Matching lengths failure \\(4\\)");
}

TEST_F(Registry, TheKeywordTableHasNoQuickCrcTwins) {
    const char *table[] = {"COMPANY NAME",
                           "PRODUCT NAME",
                           "PRODUCT VERSION",
                           "TEXT",
                           "FILE LIST",
                           "TEMP LIST",
                           "GRADIENT START",
                           "GRADIENT END",
                           "FONT",
                           "STRING",
                           "REFRESH",
                           "CREATE GROUP",
                           "ADD ITEM",
                           "EXECUTE",
                           "WINDOW",
                           "OLE",
                           "AGREEMENT",
                           "MESSAGE",
                           "LISTSERVER",
                           "BREAK",
                           "UPDATE URL",
                           "INSTALL",
                           "DONE",
                           "REGISTRY PATH",
                           "INSTALL SIZE",
                           "INSTALL DIR",
                           "INSTALL PATH",
                           "INSTALL NAME",
                           "UNINSTALL NAME"};
    for (const char *keyword : table) Cmd_Register(keyword, RunA);
    EXPECT_FALSE(log_.Has("Matching quick CRC's"));
}

TEST_F(Registry, RegisterAllTakesEveryBuiltCommandAndReleaseEmptiesIt) {
    Cmd_RegisterAll();
    Script_RegisterBreak();
    const char *built[] = {
        "COMPANY NAME",   "PRODUCT NAME", "PRODUCT VERSION", "TEXT",         "FILE LIST",
        "TEMP LIST",      "LISTSERVER",   "BREAK",           "UPDATE URL",   "INSTALL",
        "REGISTRY PATH",  "INSTALL SIZE", "INSTALL DIR",     "INSTALL PATH", "INSTALL NAME",
        "UNINSTALL NAME", "CREATE GROUP", "ADD ITEM",        "DONE"};
    for (const char *keyword : built) EXPECT_EQ(Cmd_Find(keyword), 1) << keyword;
    EXPECT_FALSE(log_.Has("Matching quick CRC's"));
    Cmd_ReleaseAll();
    for (const char *keyword : built) EXPECT_EQ(Cmd_Find(keyword), 0) << keyword;
}

// ---- Readers ----

TEST(ReadArg, TerminatorsAndCursorSteps) {
    struct {
        std::string text;
        int32_t start;
        const char *argument;
        int32_t cursor;
    } rows[] = {
        {"abc\026def", 0, "abc", 4},
        {"abc\026def", 4, "def", 7}, // a zero byte ends the text and is not stepped over
        {"abc\026def", 7, "", 7},
        {"\026abc", 0, "", 1}, // empty argument, cursor still moves by 1
        {"ab\r\n", 0, "ab", 3},
        {"ab\200cd", 0, "ab", 3}, // 0x80 and above end an argument
        {"ab\377cd", 0, "ab", 3},
        {"ab\177cd", 0, "ab\177cd", 5},
        {"a b,c:\"d\"\r", 0, "a b,c:\"d\"", 10}, // no quoting, blanks kept
        {"x\x1fy", 0, "x", 2},
        {" y\r", 0, " y", 3},
    };
    for (const auto &row : rows) {
        char field[32];
        std::memset(field, '#', sizeof field);
        int32_t cursor = row.start;
        EXPECT_EQ(Cmd_ReadArg(row.text.c_str(), field, sizeof field, &cursor), 1) << row.text;
        EXPECT_STREQ(field, row.argument) << row.text;
        EXPECT_EQ(cursor, row.cursor) << row.text;
    }
}

TEST(ReadArg, LongArgumentIsCutToTheFieldAndSkippedWhole) {
    char field[8];
    std::memset(field, '#', sizeof field);
    char canary[4] = {'C', 'C', 'C', 0};
    int32_t cursor = 0;
    const char *text = "0123456789ABCDEF\x16next\r\n";
    EXPECT_EQ(Cmd_ReadArg(text, field, sizeof field, &cursor), 0);
    EXPECT_STREQ(field, "0123456");
    EXPECT_EQ(cursor, 17);
    EXPECT_STREQ(canary, "CCC");
    EXPECT_EQ(Cmd_ReadArg(text, field, &cursor), 1); // the array's size is the bound
    EXPECT_STREQ(field, "next");
    EXPECT_EQ(Cmd_ReadArg(text, field, &cursor), 1); // at a terminator: empty, one step
    EXPECT_STREQ(field, "");
    EXPECT_EQ(cursor, 23);
    // A field of one byte holds only the terminator.
    cursor = 0;
    EXPECT_EQ(Cmd_ReadArg("abc", field, 1, &cursor), 0);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(cursor, 3);
}

TEST(CountList, CountsSeparatorsAndStopsOnTheTerminator) {
    struct {
        const char *text;
        int32_t count, cursor;
    } rows[] = {
        {"a,b,c\r\n", 3, 5}, {"\r\n", 1, 0},      {"", 1, 0},          {"a\r,b", 1, 1},
        {",,", 3, 2},        {"a,b\x80,c", 2, 3}, {"a,b\x16,c", 2, 3},
    };
    for (const auto &row : rows) {
        int32_t count = 1, cursor = 0;
        EXPECT_EQ(Cmd_CountList(row.text, ',', &count, &cursor), 1);
        EXPECT_EQ(count, row.count) << row.text;
        EXPECT_EQ(cursor, row.cursor) << row.text;
    }
}

// ---- File list items ----

TEST(FileItems, ItemsEndAtACommaOrWhereTheListEnds) {
    // Each row: the list, then the items that as many reads give, then the cursor.
    struct {
        const char *list;
        std::vector<std::string> items;
        int32_t cursor;
    } rows[] = {
        {"a.txt,$1b.dll\r\n", {"a.txt", "$1b.dll"}, 13},
        {"a,,b\r\n", {"a", "", "b"}, 4},
        {"\r\n", {""}, 0},
        {"a\200b,c", {"a", ""}, 1}, // 0x80 ends the list like a control byte
        {"a,b\x16z", {"a", "b", ""}, 3},
        {"only", {"only", "", ""}, 4}, // reading past the end stays there
    };
    for (const auto &row : rows) {
        int32_t cursor = 0;
        for (const auto &expected : row.items) {
            char item[INSTALL_ITEM_SIZE];
            EXPECT_EQ(FileList_NextItem(row.list, &cursor, item, sizeof item), 1) << row.list;
            EXPECT_EQ(std::string(item), expected) << row.list;
        }
        EXPECT_EQ(cursor, row.cursor) << row.list;
    }
}

TEST(FileItems, AnItemLongerThanItsBufferIsRefusedAndSkippedWhole) {
    LogCapture log("command-items-test.log");
    const std::string list = std::string(260, 'x') + "," + std::string(259, 'y') + "\r\n";
    int32_t cursor = 0;
    char item[INSTALL_ITEM_SIZE];
    memset(item, '#', sizeof item);
    EXPECT_EQ(FileList_NextItem(list.c_str(), &cursor, item, sizeof item), 0);
    EXPECT_STREQ(item, "");
    EXPECT_EQ(cursor, 261);
    EXPECT_TRUE(log.Has("File list item too long (260 > 259)\n"));
    EXPECT_EQ(FileList_NextItem(list.c_str(), &cursor, item, sizeof item), 1); // 259 fit
    EXPECT_EQ(std::string(item), std::string(259, 'y'));
}

TEST(FileItems, TheArchiveNameDropsOnlyTheLeadingMacros) {
    const struct {
        const char *item, *name;
    } rows[] = {
        {"a.txt", "a.txt"},
        {"$1b.dll", "b.dll"},
        {"$2\\c.dll", "\\c.dll"}, // the backslash stays part of the name
        {"$?$4x\\y.txt", "x\\y.txt"},
        {"dir\\$1z", "dir\\$1z"}, // macros only at the start
        {"$", "$"},
        {"$1$", "$"},
        {"", ""},
    };
    for (const auto &row : rows) EXPECT_STREQ(FileList_ArchiveName(row.item), row.name) << row.item;
}

TEST(ParseBytes, LowEightBitsOfEachNumberUpToTheTerminator) {
    struct {
        const char *text;
        int result;
        uint8_t bytes[4]; // 0xEE: left as it was
    } rows[] = {
        {"17,21,147", 1, {17, 21, 147, 0xEE}},
        {"300", 1, {44, 0xEE, 0xEE, 0xEE}},
        {"7", 1, {7, 0xEE, 0xEE, 0xEE}},
        {"", 1, {0, 0xEE, 0xEE, 0xEE}},
        {" -1, +2,x3", 1, {255, 2, 0, 0xEE}},
        {"12abc,4", 1, {12, 4, 0xEE, 0xEE}},
        {"99999999999,256", 1, {255, 0, 0xEE, 0xEE}}, // 99999999999 = 0x174876E7FF
        {"1,2\r,3", 1, {1, 2, 0xEE, 0xEE}},
        {"1,2\x80,3", 1, {1, 2, 0xEE, 0xEE}},
        {"1,2,3,4,5,6", 0, {1, 2, 3, 0xEE}}, // more values than the destination's 3 bytes
    };
    for (const auto &row : rows) {
        uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        std::string text = row.text;
        EXPECT_EQ(Cmd_ParseBytes(bytes, 3, &text[0]), row.result) << row.text;
        EXPECT_EQ(std::memcmp(bytes, row.bytes, 4), 0)
            << row.text << ": " << int(bytes[0]) << "," << int(bytes[1]) << "," << int(bytes[2])
            << "," << int(bytes[3]);
    }
}

TEST(ParseBytes, CommasOfTheTextBecomeZeros) {
    char text[] = "1,2,3";
    uint8_t bytes[3];
    EXPECT_EQ(Cmd_ParseBytes(bytes, text), 1);
    EXPECT_EQ(std::memcmp(text,
                          "1\0"
                          "2\0"
                          "3",
                          6),
              0);
}

TEST(ReadNumber, DecimalWithinTheArgumentAndTheSignedRange) {
    struct {
        const char *text;
        int result;
        int32_t value, cursor;
    } rows[] = {
        {"1234\r\n", 1, 1234, 5},
        {"  -45kb\x16", 1, -45, 8},
        {"+7", 1, 7, 2},
        {"\r\n", 1, 0, 1},
        {"abc\r", 1, 0, 4},
        {"2147483647\r", 1, 2147483647, 11},
        {"-2147483648\r", 1, INT32_MIN, 12},
        {"2147483648\r", 0, INT32_MIN, 11},
        {"-2147483649\r", 0, 2147483647, 12},
        {"99999999999999999999\r", 0, 1661992959, 21},
        {"12\r34", 1, 12, 3}, // the digits after the terminator belong to the next argument
    };
    for (const auto &row : rows) {
        int32_t value = -1, cursor = 0;
        EXPECT_EQ(Cmd_ReadNumber(row.text, &value, &cursor), row.result) << row.text;
        EXPECT_EQ(value, row.value) << row.text;
        EXPECT_EQ(cursor, row.cursor) << row.text;
    }
}

TEST(ReadField, CutKeepsWhatFitsAndRefuseLeavesTheFieldAlone) {
    LogCapture log("command-test.log");
    char field[6] = "old";
    int32_t cursor = 0;
    EXPECT_EQ(Cmd_ReadField("KW", "abcdefgh\r\n", field, sizeof field, CMD_REFUSE, &cursor), 0);
    EXPECT_STREQ(field, "old");
    EXPECT_TRUE(log.Has("Argument of 'KW' too long (8 > 5)\n"));
    cursor = 0;
    EXPECT_EQ(Cmd_ReadField("KW", "abcdefgh\r\n", field, sizeof field, CMD_CUT, &cursor), 1);
    EXPECT_STREQ(field, "abcde");
    EXPECT_EQ(cursor, 9);
    EXPECT_TRUE(log.Has("Argument of 'KW' cut to 5 characters\n"));
    cursor = 0;
    EXPECT_EQ(Cmd_ReadField("KW", "abcde\r\n", field, sizeof field, CMD_REFUSE, &cursor), 1);
    EXPECT_STREQ(field, "abcde");
}

} // namespace
