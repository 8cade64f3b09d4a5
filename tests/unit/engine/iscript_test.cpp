// The script interpreter: loading through the disk-file fallback, the scan for markers, the
// 39-byte keyword, BREAK in both modes and the resume position, failed and unknown commands,
// the odd line ends and surplus arguments, the run summary byte for byte, and the release.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine-support.h"

using engine_test::Line;

namespace {

// A command whose handler fails on its first call and succeeds afterwards, and one that
// counts its runs: they show which commands a later run starts with.
int g_flakyCalls = 0, g_countCalls = 0;
int Flaky(InstallState *, const char *, int32_t *) { return ++g_flakyCalls > 1; }
int Count(InstallState *, const char *, int32_t *) { return ++g_countCalls, 1; }

class Interpreter : public engine_test::EngineTest {
  protected:
    Interpreter() : EngineTest("iscript-test.log") {}
    void SetUp() override {
        EngineTest::SetUp();
        g_flakyCalls = g_countCalls = 0;
        Cmd_Register("FLAKY", Flaky);
        Cmd_Register("COUNT", Count);
    }
    // Offset of ScriptPosition in the script.
    long Position() const { return state_->ScriptPosition - state_->ScriptText; }
    void *window_ = reinterpret_cast<void *>(0x1234);
};

std::string Summary(const std::string &company, const std::string &product, int files,
                    const std::string &path, const std::string &dir) {
    return "Company Name   : " + company + "\nProduct Name   : " + product +
           "\nFile Count     : " + std::to_string(files) + "\nInstall Path   : " + path + " [" +
           dir + "]\n";
}

TEST_F(Interpreter, LoadKeepsTheScriptWithAZeroByteAndStartsAtItsBeginning) {
    std::string script = Line("COMPANY NAME", {"Acme"}) + "remark";
    Load(script, Interactive);
    EXPECT_EQ(state_->ScriptSize, (int32_t)script.size());
    EXPECT_EQ(std::memcmp(state_->ScriptText, script.data(), script.size()), 0);
    EXPECT_EQ(state_->ScriptText[script.size()], 0);
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(state_->Mode, Interactive);
}

TEST_F(Interpreter, LoadOfAMissingFileFailsAndLeavesTheSlot) {
    InstallState *slot = reinterpret_cast<InstallState *>(0x5678);
    EXPECT_EQ(Script_Load(&slot, (dir_ + "absent.dat").c_str(), Quiet), 0);
    EXPECT_EQ(slot, reinterpret_cast<InstallState *>(0x5678));
}

TEST_F(Interpreter, SummaryLinesByteForByteAndTheWindowDestroyed) {
    Load(Line("COMPANY NAME", {"Acme Corp"}) + Line("PRODUCT NAME", {"Rocket 2"}) +
             Line("FILE LIST", {"a.exe,b.dll,c.txt"}) + Line("INSTALL DIR", {"$PAcme"}),
         Interactive);
    EXPECT_EQ(Script_Run(state_, window_), 1);
    std::string expected = Summary("Acme Corp", "Rocket 2", 3, "", "$PAcme\\");
    std::string text = log_.Text();
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
    EXPECT_EQ(Position(), state_->ScriptSize);
    EXPECT_EQ(state_->Window, window_);
    EXPECT_EQ(HostUi_DestroyCount(), 1);
    EXPECT_EQ(HostUi_LastDestroyed(), window_);
}

TEST_F(Interpreter, BreakIsPassedOverInQuietMode) {
    Load(Line("COUNT") + Line("BREAK") + Line("COUNT"), Quiet);
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_EQ(g_countCalls, 2);
    EXPECT_FALSE(log_.Has("Break Encountered"));
    EXPECT_EQ(Position(), state_->ScriptSize);
}

TEST_F(Interpreter, BreakPausesTheInteractiveRunAndTheNextRunResumesAfterItsColon) {
    // The rest of BREAK's line holds no marker and is passed over by the resumed run.
    std::string first = Line("COUNT") + "\026BREAK:";
    Load(first + "COMPANY NAME:Lost\r\n" + Line("PRODUCT NAME", {"Kept"}) + Line("COUNT"),
         Interactive);
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_EQ(g_countCalls, 1);
    EXPECT_EQ(Position(), (long)first.size());
    EXPECT_TRUE(log_.Has("Break Encountered\n"));
    EXPECT_FALSE(log_.Has("Company Name"));

    EXPECT_EQ(Script_Run(state_, window_), 1);
    EXPECT_EQ(g_countCalls, 2);
    EXPECT_STREQ(state_->CompanyName, "");
    EXPECT_STREQ(state_->ProductName, "Kept");
    EXPECT_TRUE(log_.Has(Summary("", "Kept", 0, "", "")));
}

TEST_F(Interpreter, ScriptWithoutBreakEndsInTheFirstRunAndTheWindowRunOnlySummarises) {
    Load(Line("COUNT") + Line("COMPANY NAME", {"Acme"}), Interactive);
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_EQ(HostUi_DestroyCount(), 0);
    EXPECT_EQ(Script_Run(state_, window_), 1);
    EXPECT_EQ(g_countCalls, 1);
    std::string summary = Summary("Acme", "", 0, "", "");
    std::string text = log_.Text();
    EXPECT_EQ(text, summary + summary);
    EXPECT_EQ(HostUi_DestroyCount(), 1);
}

TEST_F(Interpreter, FailedCommandIsRunAgainFromItsMarker) {
    std::string before = Line("COUNT") + "remark\r\n";
    Load(before + Line("FLAKY") + Line("COUNT"), Interactive);
    EXPECT_EQ(Script_Run(state_, nullptr), 0);
    EXPECT_TRUE(log_.Has("Command Failed 'FLAKY'\n"));
    EXPECT_EQ(Position(), (long)before.size());
    EXPECT_EQ(g_countCalls, 1);
    EXPECT_EQ(Script_Run(state_, window_), 1);
    EXPECT_EQ(g_flakyCalls, 2);
    EXPECT_EQ(g_countCalls, 2); // the command before the failed one did not run again
}

TEST_F(Interpreter, UnknownKeywordsAreReportedAndStopTheRun) {
    struct {
        std::string script;
        std::string keyword; // as the log line shows it
    } rows[] = {
        {"\x16" + std::string(50, 'K') + "\r\n" + Line("COUNT"), std::string(39, 'K')}, // cut
        {"\x16:abc\r\n" + Line("COUNT"), ""},                            // empty keyword
        {"\026COMPANY NAME :Acme\r\n" + Line("COUNT"), "COMPANY NAME "}, // blank is kept
        {"\026COMPANY\x16NAME:x\r\n" + Line("COUNT"), "COMPANY\x16NAME"},
        {"\026NOPE", "NOPE"}, // the script ends before ":"
    };
    for (const auto &row : rows) {
        Load(row.script, Interactive);
        EXPECT_EQ(Script_Run(state_, nullptr), 0) << row.keyword;
        EXPECT_TRUE(log_.Has("Unknown script command '" + row.keyword + "'\n")) << row.keyword;
        EXPECT_EQ(Position(), 0);
        EXPECT_EQ(g_countCalls, 0);
        EXPECT_STREQ(HostUi_LastText(), "Installation script corrupted!");
        EXPECT_STREQ(HostUi_LastTitle(), "Install problem...");
    }
}

TEST_F(Interpreter, ScriptEndingBeforeTheColonGivesAnEmptyArgument) {
    Load(Line("PRODUCT NAME", {"P"}) + "\026COMPANY NAME");
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_STREQ(state_->CompanyName, "");
    EXPECT_STREQ(state_->ProductName, "P");
    EXPECT_EQ(Position(), state_->ScriptSize);
}

TEST_F(Interpreter, LineEndsAndSurplusArgumentsShiftTheScan) {
    struct {
        const char *what;
        std::string script;
        int result;
        const char *company, *product, *dir;
    } rows[] = {
        {"CR LF", "\026COMPANY NAME:A\r\n\x16PRODUCT NAME:B\r\n\x16INSTALL DIR:C\r\n", 1, "A", "B",
         "C\\"},
        {"LF only: the next command is lost",
         "\026COMPANY NAME:A\n\x16PRODUCT NAME:B\n\x16INSTALL DIR:C\n", 1, "A", "", "C\\"},
        {"the next marker right after the last argument: that command is lost",
         "\026COMPANY NAME:A\x16PRODUCT NAME:B\r\n\x16INSTALL DIR:C\r\n", 1, "A", "", "C\\"},
        {"one surplus argument is plain text",
         "\026COMPANY NAME:A\x16surplus\r\n\x16PRODUCT NAME:B\r\n", 1, "A", "B", ""},
        {"a second surplus argument is taken for a command",
         "\026COMPANY NAME:A\x16one\x16two\r\n\x16PRODUCT NAME:B\r\n", 0, "A", "", ""},
        {"a command without arguments skips its CR", "\026BREAK:\r\n\x16PRODUCT NAME:B\r\n", 1, "",
         "B", ""},
        {"a zero byte ends the argument and is not stepped over",
         "\026COMPANY NAME:A" + std::string(1, '\0') + "\x16PRODUCT NAME:B\r\n", 1, "A", "B", ""},
    };
    for (const auto &row : rows) {
        Load(row.script, Quiet);
        EXPECT_EQ(Script_Run(state_, nullptr), row.result) << row.what;
        EXPECT_STREQ(state_->CompanyName, row.company) << row.what;
        EXPECT_STREQ(state_->ProductName, row.product) << row.what;
        EXPECT_STREQ(state_->InstallDir, row.dir) << row.what;
    }
    EXPECT_TRUE(log_.Has("Unknown script command 'two\r\n\x16PRODUCT NAME'\n"));
}

TEST_F(Interpreter, QuickCrcTwinOfBreakIsAFailedCommandNotAPause) {
    Load("\026BZEAC:\r\n", Interactive);
    EXPECT_EQ(Script_Run(state_, nullptr), 0);
    EXPECT_TRUE(log_.Has("Command Failed 'BZEAC'\n"));
    Load("\026break:\r\n", Interactive);
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_TRUE(log_.Has("Break Encountered\n"));
}

TEST_F(Interpreter, RunAtTheEndOnlyWritesTheSummaryAgain) {
    Load(Line("COUNT"));
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_EQ(g_countCalls, 1);
    std::string summary = Summary("", "", 0, "", "");
    EXPECT_EQ(log_.Text(), summary + summary);
}

TEST_F(Interpreter, EmptyScriptRunsToItsEnd) {
    Load("");
    EXPECT_EQ(Script_Run(state_, nullptr), 1);
    EXPECT_EQ(log_.Text(), Summary("", "", 0, "", ""));
}

TEST_F(Interpreter, ReleaseRemovesEveryFontSlotAndFreesEverything) {
    Load(Line("COUNT"));
    state_->FontCount = 3;
    state_->Fonts = (FontSlot *)TESSEL_ALLOC(3 * (int32_t)sizeof(FontSlot));
    std::strcpy(state_->Fonts[0], "title.ttf");
    std::strcpy(state_->Fonts[2], "body.ttf"); // slot 1 was never filled
    state_->StringCount = 2;
    state_->Strings = (BackdropString *)TESSEL_ALLOC(2 * (int32_t)sizeof(BackdropString));
    HostUi_SetFontRemoveResult(0);
    EXPECT_EQ(Script_Release(&state_), 1);
    EXPECT_EQ(state_, nullptr);
    EXPECT_EQ(HostUi_FontRemoveCount(), 3);      // the empty slot too: it names no font
    std::string last = HostUi_LastFontRemoved(); // in the temporary directory
    ASSERT_GT(last.size(), 9u);
    EXPECT_EQ(last.substr(last.size() - 8), "body.ttf");
    EXPECT_TRUE(log_.Has("Unable to remove font '0' 'title.ttf'\n"));
    EXPECT_TRUE(log_.Has("Unable to remove font '1' ''\n"));
    EXPECT_TRUE(log_.Has("Unable to remove font '2' 'body.ttf'\n"));
    // The fixture checks that no block is left.
}

} // namespace
