// The command line's words beyond the mode and the log switches: the folder and log switches
// with their values (quoted or bare, at their size limit), the list of switches, and the refusal
// of a word that holds no switch.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "switches.h"
#include "tessel-core.h"
#include "tessel-str.h"

namespace {

class SwitchesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Log_Init("switches-test.log", 0);
        Mem_Init(MEM_NO_LIMIT, 0);
    }
};

TEST_F(SwitchesTest, CommandLinesAreReadWordByWord) {
    const struct {
        std::string arguments;
        int read, refusal, help;
        const char *folder, *log, *word;
    } rows[] = {
        {"", 1, SWITCH_OK, 0, "", "", ""},
        {"-Quiet -debug", 1, SWITCH_OK, 0, "", "", ""},
        {"-QUIET -Debugger -append -timestamp -window -unique", 1, SWITCH_OK, 0, "", "", ""},
        {"-Quiet -Dir=C:\\Apps\\Bramble", 1, SWITCH_OK, 0, "C:\\Apps\\Bramble", "", ""},
        {"-Quiet /D=C:\\Apps\\Bramble", 1, SWITCH_OK, 0, "C:\\Apps\\Bramble", "", ""},
        {"-dir=\"C:\\Program Files\\Bramble\" -Quiet", 1, SWITCH_OK, 0,
         "C:\\Program Files\\Bramble", "", ""},
        {"\"-Dir=C:\\P F\\B\"", 1, SWITCH_OK, 0, "C:\\P F\\B", "", ""},
        {"-Dir=C:\\a -Dir=D:\\b", 1, SWITCH_OK, 0, "D:\\b", "", ""}, // the last counts
        {"-Log=\"C:\\Logs\\my setup.log\" -Quiet", 1, SWITCH_OK, 0, "", "C:\\Logs\\my setup.log",
         ""},
        {"-LOG=\\\\server\\logs\\a.log", 1, SWITCH_OK, 0, "", "\\\\server\\logs\\a.log", ""},
        {"-?", 1, SWITCH_OK, 1, "", "", ""},
        {"-Quiet /?", 1, SWITCH_OK, 1, "", "", ""},
        {"-Quiet -Force", 0, SWITCH_UNKNOWN, 0, "", "", "-Force"},
        {"/S -Quiet", 0, SWITCH_UNKNOWN, 0, "", "", "/S"},
        {"-Quiet stray -Dir=C:\\x", 0, SWITCH_UNKNOWN, 0, "C:\\x", "", "stray"}, // read on
        {"-Directory=C:\\x", 0, SWITCH_UNKNOWN, 0, "", "", "-Directory=C:\\x"},
        {"-Dir", 0, SWITCH_UNKNOWN, 0, "", "", "-Dir"},
        {"-Dir= -Quiet", 0, SWITCH_EMPTY, 0, "", "", "-Dir="},
        {"-Log=\"\"", 0, SWITCH_EMPTY, 0, "", "", "-Log=\"\""},
        {"-? -x -y", 0, SWITCH_UNKNOWN, 1, "", "", "-x"}, // the first refused word
    };
    for (const auto &row : rows) {
        Switches switches;
        memset(&switches, 0x55, sizeof switches);
        EXPECT_EQ(Switch_Parse(row.arguments.c_str(), &switches), row.read) << row.arguments;
        EXPECT_EQ(switches.Refusal, row.refusal) << row.arguments;
        EXPECT_EQ(switches.Help, row.help) << row.arguments;
        EXPECT_STREQ(switches.Folder, row.folder) << row.arguments;
        EXPECT_STREQ(switches.LogPath, row.log) << row.arguments;
        EXPECT_STREQ(switches.Word, row.word) << row.arguments;
    }
}

TEST_F(SwitchesTest, AValueOfThreeHundredNineteenCharactersFitsAndOneMoreIsRefused) {
    const std::string longest = "C:\\" + std::string(316, 'a'); // 319 characters
    Switches switches;
    EXPECT_EQ(Switch_Parse(("-Dir=" + longest).c_str(), &switches), 1);
    EXPECT_EQ(std::string(switches.Folder), longest);
    EXPECT_EQ(Switch_Parse(("-Log=\"" + longest + "\"").c_str(), &switches), 1); // quotes free
    EXPECT_EQ(std::string(switches.LogPath), longest);
    EXPECT_EQ(Switch_Parse(("-Dir=" + longest + "b").c_str(), &switches), 0);
    EXPECT_EQ(switches.Refusal, SWITCH_TOO_LONG);
    EXPECT_STREQ(switches.Folder, ""); // never cut
    // The refused word is shown cut to its field.
    EXPECT_EQ(Str_Length(switches.Word), SWITCH_WORD_SIZE - 1);
    // A word far longer than any value: refused as well, without overrunning anything.
    const std::string huge = "-Log=" + std::string(5000, 'x');
    EXPECT_EQ(Switch_Parse(huge.c_str(), &switches), 0);
    EXPECT_EQ(switches.Refusal, SWITCH_TOO_LONG);
    EXPECT_STREQ(switches.LogPath, "");
}

TEST_F(SwitchesTest, TheListNamesEverySwitchAndEachRefusalHasItsWords) {
    const std::string help = Switch_Help();
    for (const char *name : {"-Quiet", "-Dir=PATH", "/D=PATH", "-Log=PATH", "-debug", "-append",
                             "-timestamp", "-window", "-unique", "/?"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
    EXPECT_STREQ(Switch_Reason(SWITCH_OK), "");
    EXPECT_STREQ(Switch_Reason(SWITCH_UNKNOWN), "unknown switch");
    EXPECT_STREQ(Switch_Reason(SWITCH_TOO_LONG), "value too long");
    EXPECT_STREQ(Switch_Reason(SWITCH_EMPTY), "switch without a value");
    EXPECT_STREQ(Switch_Reason(4), "");
    EXPECT_STREQ(Switch_Reason(-1), "");
}

} // namespace
