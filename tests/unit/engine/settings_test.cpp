// The setter commands of the install state: every field set from its argument, each field's
// bound (cut or refused), INSTALL DIR's backslash, the list counts, and UNINSTALL NAME's share
// of the install size with the uninstaller found through the disk-file fallback.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "engine-support.h"
#include "tessel-str.h"

#if defined(_WIN32)
#include <direct.h>
#define chdir _chdir
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

using engine_test::Line;

namespace {

class Settings : public engine_test::EngineTest {
  protected:
    Settings() : EngineTest("settings-test.log") {}
    // Runs a script of settings lines to its end.
    void Run(const std::string &script) {
        Load(script);
        ASSERT_EQ(Script_Run(state_, nullptr), 1) << log_.Text();
    }
    // Runs one command on its own, over the given argument text.
    int Dispatch(const char *keyword, const std::string &arguments, int32_t *cursor) {
        if (!state_) Load("");
        arguments_ = arguments;
        return Cmd_Dispatch(keyword, state_, arguments_.c_str(), cursor);
    }
    std::string arguments_;
};

// The current directory of a test, put back at its end.
class InFolder {
  public:
    explicit InFolder(const std::string &dir) {
        char buffer[1024];
        previous_ = getcwd(buffer, sizeof buffer) ? buffer : ".";
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~InFolder() { EXPECT_EQ(chdir(previous_.c_str()), 0); }

  private:
    std::string previous_;
};

struct TextField {
    const char *keyword;
    size_t offset;
    bool refused; // else cut
};
const TextField kTextFields[] = {
    {"COMPANY NAME", offsetof(InstallState, CompanyName), true},
    {"PRODUCT NAME", offsetof(InstallState, ProductName), true},
    {"PRODUCT VERSION", offsetof(InstallState, ProductVersion), false},
    {"TEXT", offsetof(InstallState, Caption), false},
    {"REGISTRY PATH", offsetof(InstallState, RegistryPath), true},
    {"INSTALL NAME", offsetof(InstallState, InstallName), false},
    {"UPDATE URL", offsetof(InstallState, UpdateUrl), false},
    {"UNINSTALL NAME", offsetof(InstallState, UninstallName), true},
};

const char *Field(const InstallState *state, const TextField &field) {
    return reinterpret_cast<const char *>(state) + field.offset;
}

TEST_F(Settings, TextFieldsTakeTheirArgumentWithBlanksAndPunctuation) {
    for (const auto &field : kTextFields) {
        Run(Line(field.keyword, {" Acme, \"Inc.\": 1"}));
        EXPECT_STREQ(Field(state_, field), " Acme, \"Inc.\": 1") << field.keyword;
        Run(Line(field.keyword, {"first"}) + Line(field.keyword, {"last"}));
        EXPECT_STREQ(Field(state_, field), "last") << field.keyword;
    }
}

TEST_F(Settings, EachTextFieldHolds159CharactersAndCutsOrRefusesMore) {
    const std::string fits(159, 'f'), over(160, 'o');
    for (const auto &field : kTextFields) {
        Run(Line(field.keyword, {fits}));
        EXPECT_EQ(Field(state_, field), fits) << field.keyword;

        Load(Line(field.keyword, {"before"}) + Line(field.keyword, {over}) +
             Line("FILE LIST", {"after,list"}));
        int result = Script_Run(state_, nullptr);
        if (field.refused) {
            EXPECT_EQ(result, 0) << field.keyword;
            EXPECT_STREQ(Field(state_, field), "before") << field.keyword;
            EXPECT_TRUE(log_.Has(std::string("Argument of '") + field.keyword +
                                 "' too long (160 > 159)\n"));
            EXPECT_TRUE(log_.Has(std::string("Command Failed '") + field.keyword + "'\n"));
        } else {
            EXPECT_EQ(result, 1) << field.keyword;
            EXPECT_EQ(Field(state_, field), std::string(159, 'o')) << field.keyword;
            EXPECT_TRUE(log_.Has(std::string("Argument of '") + field.keyword +
                                 "' cut to 159 characters\n"));
            EXPECT_EQ(state_->FileCount, 2); // the script stays in step
        }
    }
}

TEST_F(Settings, CaptionStaysUntilADialogUsesIt) {
    Run(Line("TEXT", {"Choose a folder"}) + Line("COMPANY NAME", {"Acme"}) +
        Line("INSTALL DIR", {"C:\\Acme"}) + Line("FILE LIST", {"a,b"}));
    EXPECT_STREQ(state_->Caption, "Choose a folder");
}

// DONE's box takes the caption once, under the default title without one; quiet mode shows
// nothing and keeps the title. The message is cut to 319 characters; the entry is registered
// only for a script with an uninstaller.
TEST_F(Settings, DoneShowsItsCutMessageUnderTheCaptionOnce) {
    const struct {
        int32_t mode;
        const char *caption, *uninstallName;
        int boxes;
        const char *title, *captionAfter;
        bool registered;
    } rows[] = {
        {Interactive, "", "", 1, "Installation Complete!", "", false},
        {Interactive, "All set", "uninst.exe", 1, "All set", "", true},
        {Quiet, "", "uninst.exe", 0, "", "Installation Complete!", true},
        {Quiet, "All set", "", 0, "", "All set", false},
    };
    for (const auto &row : rows) {
        HostUi_Reset();
        HostUi_SetEcho(0);
        Load("", row.mode);
        Str_Copy(state_->Caption, row.caption);
        Str_Copy(state_->UninstallName, row.uninstallName);
        size_t logStart = log_.Text().size();
        int32_t cursor = 0;
        EXPECT_EQ(Dispatch("DONE", std::string(400, 'm') + "\r\n", &cursor), 1);
        EXPECT_EQ(cursor, 401);
        EXPECT_EQ(HostUi_BoxCount(), row.boxes) << row.caption;
        EXPECT_STREQ(HostUi_LastTitle(), row.title);
        EXPECT_EQ(HostUi_LastText(), std::string(row.boxes ? 319 : 0, 'm'));
        EXPECT_STREQ(state_->Caption, row.captionAfter);
        std::string log = log_.Text().substr(logStart);
        EXPECT_NE(log.find("Argument of 'DONE' cut to 319 characters\n"), std::string::npos);
        EXPECT_EQ(HostUi_UninstallCount(), row.registered ? 1 : 0) << log;
    }
    HostUi_SetEcho(1);
}

// An uninstall entry that cannot be written fails DONE: no closing box, no complete
// installation announced, the caption left for the question that follows the failure.
TEST_F(Settings, DoneFailsWhenItsUninstallEntryCannotBeWritten) {
    for (int32_t mode : {Interactive, Quiet}) {
        HostUi_Reset();
        HostUi_SetEcho(0);
        HostUi_SetUninstallResult(0);
        Load(Line("DONE", {"All set"}), mode);
        Str_Copy(state_->Caption, "Done title");
        Str_Copy(state_->UninstallName, "uninst.exe");
        EXPECT_EQ(Script_Run(state_, nullptr), 0);
        EXPECT_EQ(HostUi_UninstallCount(), 1);
        EXPECT_EQ(HostUi_BoxCount(), 0);
        EXPECT_STREQ(state_->Caption, "Done title");
        EXPECT_TRUE(log_.Has("Command Failed 'DONE'\n"));
    }
    HostUi_SetEcho(1);
}

TEST_F(Settings, InstallDirEndsWithOneBackslash) {
    struct {
        std::string argument;
        int result;
        std::string stored;
    } rows[] = {
        {"C:\\Acme", 1, "C:\\Acme\\"},
        {"C:\\Acme\\", 1, "C:\\Acme\\"},
        {"", 1, ""},
        {"$P/Acme", 1, "$P/Acme\\"},
        {std::string(158, 'd'), 1, std::string(158, 'd') + "\\"},
        {std::string(158, 'd') + "\\", 1, std::string(158, 'd') + "\\"},
        {std::string(159, 'd'), 0, "old\\"}, // no room for the backslash: refused
        {std::string(159, 'd') + "\\", 0, "old\\"},
    };
    for (const auto &row : rows) {
        Load(Line("INSTALL DIR", {"old"}) + Line("INSTALL DIR", {row.argument}));
        EXPECT_EQ(Script_Run(state_, nullptr), row.result) << row.argument;
        EXPECT_EQ(state_->InstallDir, row.stored) << row.argument;
    }
}

TEST_F(Settings, ListsPointIntoTheScriptAndCountTheirItems) {
    struct {
        const char *keyword;
        std::string list;
        int32_t count;
    } rows[] = {
        {"FILE LIST", "a.exe,b.dll", 2},
        {"FILE LIST", "", 1},
        {"FILE LIST", "$W\\one,two,three,four", 4},
        {"TEMP LIST", "x,y,z", 3},
        {"TEMP LIST", "", 1},
    };
    for (const auto &row : rows) {
        int32_t cursor = -1;
        EXPECT_EQ(Dispatch(row.keyword, row.list + "\r\n", &cursor), 1);
        bool files = std::string(row.keyword) == "FILE LIST";
        const char *list = files ? state_->FileList : state_->TempList;
        int32_t count = files ? state_->FileCount : state_->TempCount;
        EXPECT_EQ(count, row.count) << row.list;
        EXPECT_EQ(list, arguments_.c_str()) << row.list;         // no copy
        EXPECT_EQ(cursor, (int32_t)row.list.size()) << row.list; // on the CR
    }
}

TEST_F(Settings, InstallSizeIsADecimalNumberInTheSignedRange) {
    struct {
        const char *argument;
        int result;
        int32_t size;
    } rows[] = {
        {"1234", 1, 1234},    {" 77 KB", 1, 77},      {"-5", 1, -5},
        {"", 1, 0},           {"abc", 1, 0},          {"2147483647", 1, 2147483647},
        {"2147483648", 0, 9}, {"-99999999999", 0, 9},
    };
    for (const auto &row : rows) {
        Load(Line("INSTALL SIZE", {"9"}) + Line("INSTALL SIZE", {row.argument}));
        EXPECT_EQ(Script_Run(state_, nullptr), row.result) << row.argument;
        EXPECT_EQ(state_->InstallSizeKB, row.size) << row.argument;
    }
    EXPECT_TRUE(log_.Has("Number out of range for 'INSTALL SIZE'\n"));
}

// A script of exactly 2000 bytes whose INSTALL SIZE and UNINSTALL NAME lines come in the
// given order, padded with remarks.
std::string SizedScript(const std::string &lines) {
    std::string script = lines;
    script += std::string(2000 - script.size(), '#');
    return script;
}

TEST_F(Settings, UninstallNameAddsTheUninstallersShareInWholeKB) {
    InFolder folder(dir_);
    Write("uninst.exe", std::string(100000, 'U'));
    Run(SizedScript(Line("INSTALL SIZE", {"10"}) + Line("UNINSTALL NAME", {"$Puninst.exe"})));
    EXPECT_STREQ(state_->UninstallName, "$Puninst.exe");
    EXPECT_EQ(state_->InstallSizeKB, 10 + 99); // (2000 + 100000) >> 10
    EXPECT_FALSE(log_.Has("Unable to get size for uninstaller"));
}

TEST_F(Settings, InstallSizeAfterUninstallNameReplacesTheSum) {
    InFolder folder(dir_);
    Write("uninst.exe", std::string(100000, 'U'));
    Run(SizedScript(Line("UNINSTALL NAME", {"$Puninst.exe"}) + Line("INSTALL SIZE", {"10"})));
    EXPECT_EQ(state_->InstallSizeKB, 10);
}

TEST_F(Settings, MissingUninstallerCostsOnlyTheLogLine) {
    InFolder folder(dir_);
    Run(SizedScript(Line("INSTALL SIZE", {"10"}) + Line("UNINSTALL NAME", {"$Puninst.exe"})));
    EXPECT_STREQ(state_->UninstallName, "$Puninst.exe");
    EXPECT_EQ(state_->InstallSizeKB, 10);
    EXPECT_TRUE(log_.Has("Unable to get size for uninstaller\n"));
}

TEST_F(Settings, UninstallersShareBeyondTheSignedRangeIsRefused) {
    InFolder folder(dir_);
    Write("uninst.exe", std::string(100000, 'U'));
    Load(SizedScript(Line("INSTALL SIZE", {"2147483600"}) + Line("UNINSTALL NAME", {"u.exe"})));
    EXPECT_EQ(Script_Run(state_, nullptr), 0);
    EXPECT_EQ(state_->InstallSizeKB, 2147483600);
    EXPECT_TRUE(log_.Has("Number out of range for 'UNINSTALL NAME'\n"));
}

TEST_F(Settings, ListServerTakesNumberAddressAndList) {
    Run(Line("LISTSERVER", {"42", "lists.example.com", "news,updates"}));
    EXPECT_EQ(state_->ListServerNumber, 42);
    EXPECT_STREQ(state_->ListServerAddress, "lists.example.com");
    EXPECT_STREQ(state_->ListServerList, "news,updates");

    Load(Line("LISTSERVER", {"99999999999", "a", "b"}));
    EXPECT_EQ(Script_Run(state_, nullptr), 0);
    EXPECT_TRUE(log_.Has("Number out of range for 'LISTSERVER'\n"));

    Run(Line("LISTSERVER", {"7", std::string(300, 'a'), std::string(170, 'l')}));
    EXPECT_EQ(state_->ListServerAddress, std::string(159, 'a'));
    EXPECT_EQ(state_->ListServerList, std::string(159, 'l'));
}

TEST_F(Settings, CommandsAtTheVeryEndReadNothingBeyondTheScript) {
    // The last argument ends at the script's zero byte; the further arguments are empty.
    Run("\x16LISTSERVER:5");
    EXPECT_EQ(state_->ListServerNumber, 5);
    EXPECT_STREQ(state_->ListServerAddress, "");
    EXPECT_STREQ(state_->ListServerList, "");
    Run("\026FILE LIST:a,b");
    EXPECT_EQ(state_->FileCount, 2);
    EXPECT_STREQ(state_->FileList, "a,b");
}

} // namespace
