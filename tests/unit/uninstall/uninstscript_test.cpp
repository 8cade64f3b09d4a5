// The uninstaller's reading of its own file: the script behind the marker found through the
// trailer (and every way a damaged file is refused, U at its bounds), the walk over the commands
// as the setup's interpreter finds them, and the settings read by the setup's setters.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine-support.h"
#include "keywords.h"
#include "tessel-core.h"
#include "uninst.h"
#include "uninstscript.h"

using engine_test::Line;

namespace {

std::string Build(const std::string &program, const std::string &script) {
    std::string file = program + std::string(script.size() + UNINST_EXTRA_SIZE, '\0');
    Uninst_AppendScript((uint8_t *)&file[0], (int32_t)program.size(), script.c_str(),
                        (int32_t)script.size());
    return file;
}

// The script found in file, or "<damaged>".
std::string Extract(const std::string &file) {
    char *script = nullptr;
    int32_t size = -1;
    if (!UninstScript_Extract((const uint8_t *)file.data(), (int32_t)file.size(), &script, &size)) {
        EXPECT_EQ(script, nullptr);
        EXPECT_EQ(size, 0);
        return "<damaged>";
    }
    EXPECT_EQ(script[size], 0);
    std::string text(script, (size_t)size);
    UninstScript_Free(&script, size);
    EXPECT_EQ(script, nullptr);
    return text;
}

class UninstScript : public ::testing::Test {
  protected:
    void SetUp() override {
        Log_Init("uninstscript-test.log", 0);
        Mem_Init(MEM_NO_LIMIT, 0);
    }
};

TEST_F(UninstScript, TheScriptComesBackFromBehindTheProgram) {
    const std::string script = Line("COMPANY NAME", {"Acme"}) + Line("BREAK");
    EXPECT_EQ(Extract(Build("MZ-program", script)), script);
    EXPECT_EQ(Extract(Build("", script)), script);   // U = 0
    EXPECT_EQ(Extract(Build("MZ-program", "")), ""); // an empty script is still a script
}

TEST_F(UninstScript, ADamagedFileIsRefused) {
    const std::string good = Build("MZ-program", Line("BREAK"));
    std::string marker = good;
    marker[10] = 'X'; // "FFS?" changed
    EXPECT_EQ(Extract(marker), "<damaged>");
    EXPECT_EQ(Extract(good.substr(0, good.size() - 1)), "<damaged>"); // cut
    EXPECT_EQ(Extract(std::string("FFS?\0\0\0", 7)), "<damaged>");    // shorter than 8 bytes
    // U at its largest: the marker right before the trailer (an empty script); one more is out
    // of range.
    std::string empty = Build("MZ", "");
    ASSERT_EQ(empty.size(), 10u);
    EXPECT_EQ(Extract(empty), "");
    std::string beyond = "MZFFS?" + std::string("\x03\0\0\0", 4);
    EXPECT_EQ(Extract(beyond), "<damaged>");
    EXPECT_EQ(Extract(std::string("MZ", 2) + std::string("\xff\xff\xff\xff", 4) +
                      std::string("\xff\xff\xff\xff", 4)),
              "<damaged>");
}

std::vector<std::pair<int32_t, std::string>> Walk(const std::string &script, int *result) {
    std::vector<std::pair<int32_t, std::string>> seen;
    *result = UninstScript_Walk(
        script.c_str(), (int32_t)script.size(),
        [](int32_t keyword, const char *arguments, void *context) {
            std::string first;
            for (const char *p = arguments; !Keyword_IsTerminator(*p); p++) first += *p;
            ((std::vector<std::pair<int32_t, std::string>> *)context)->push_back({keyword, first});
            return 1;
        },
        &seen);
    return seen;
}

TEST_F(UninstScript, TheWalkSeesEachCommandOnceAndStepsOverItsArguments) {
    int result = 0;
    auto seen = Walk(Line("FILE LIST", {"a.txt,$3b.dll"}) +
                         Line("WINDOW", {"2", "1000", "Rocket", "RocketMain", "", "Close it"}) +
                         Line("add item", {"0", "a.txt", "", "Read Me"}) + Line("DONE", {"Bye"}),
                     &result);
    EXPECT_EQ(result, 1);
    std::vector<std::pair<int32_t, std::string>> expected = {
        {KW_FILE_LIST, "a.txt,$3b.dll"}, {KW_WINDOW, "2"}, {KW_ADD_ITEM, "0"}, {KW_DONE, "Bye"}};
    EXPECT_EQ(seen, expected);
}

TEST_F(UninstScript, AnUnknownCommandMeansTheScriptDoesNotParse) {
    int result = 1;
    auto seen =
        Walk(Line("PRODUCT NAME", {"Rocket"}) + Line("FROBNICATE", {"x"}) + Line("DONE"), &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(UninstScript, SettingsAreReadByTheSetupsSettersAndTheLastCounts) {
    const std::string script =
        Line("COMPANY NAME", {"Old"}) + Line("COMPANY NAME", {"Acme"}) +
        Line("PRODUCT NAME", {"Rocket"}) + Line("PRODUCT VERSION", {"1.4.2"}) +
        Line("INSTALL DIR", {"Acme\\Rocket"}) + Line("REGISTRY PATH", {"Software\\Acme\\Rocket"}) +
        Line("UNINSTALL NAME", {"bin\\uninst.exe"}) + Line("FILE LIST", {"a.txt"}) +
        Line("INSTALL") + Line("DONE", {"Bye"});
    InstallState state;
    memset(&state, 0x55, sizeof state);
    state.ScriptText = nullptr;
    state.ScriptSize = 0;
    testing_support::LogCapture log("uninstscript-settings-test.log");
    ASSERT_EQ(UninstScript_Settings(script.c_str(), (int32_t)script.size(), &state), 1);
    // The uninstaller carries no archive: the setup's size query for itself is not made.
    EXPECT_EQ(log.Take(), "");
    EXPECT_STREQ(state.CompanyName, "Acme");
    EXPECT_STREQ(state.ProductName, "Rocket");
    EXPECT_STREQ(state.ProductVersion, "1.4.2");      // what an upgrade compares with
    EXPECT_STREQ(state.InstallDir, "Acme\\Rocket\\"); // the setter's backslash
    EXPECT_STREQ(state.RegistryPath, "Software\\Acme\\Rocket");
    EXPECT_STREQ(state.UninstallName, "bin\\uninst.exe");
    EXPECT_STREQ(state.InstallPath, ""); // cleared: the uninstaller finds it itself
    EXPECT_EQ(state.FileCount, 0);       // only the six settings are read
    EXPECT_EQ(state.Window, nullptr);
    const std::string broken = script + Line("FROBNICATE");
    EXPECT_EQ(UninstScript_Settings(broken.c_str(), (int32_t)broken.size(), &state), 0);
}

// The program of the first shortcut that starts one: the uninstall entry's icon.
TEST_F(UninstScript, TheFirstShortcutToAProgramGivesTheIcon) {
    const std::string readme = Line("ADD ITEM", {"3", "readme.txt", "", "Read Me"});
    const struct {
        std::string script;
        int found;
        const char *target;
        int32_t iconIndex;
    } rows[] = {
        {readme + Line("ADD ITEM", {"2", "bin\\Tool.EXE", "-go", "Tool"}) +
             Line("ADD ITEM", {"0", "other.exe", "", "Other"}),
         1, "bin\\Tool.EXE", 2},
        {Line("ADD ITEM", {"-4", "a.exe", "", "A"}), 1, "a.exe", 0}, // negative: 0
        {Line("ADD ITEM", {"0", ".exe", "", "A"}), 0, "", 0},        // no name before it
        {readme + Line("ADD ITEM", {"1", "tool.exe.txt", "", "T"}), 0, "", 0},
        {Line("PRODUCT NAME", {"Rocket"}), 0, "", 0},
    };
    for (const auto &row : rows) {
        char target[32] = "unchanged";
        int32_t iconIndex = 99;
        EXPECT_EQ(UninstScript_FirstProgram(row.script.c_str(), (int32_t)row.script.size(), target,
                                            sizeof target, &iconIndex),
                  row.found)
            << row.script;
        EXPECT_STREQ(target, row.target) << row.script;
        EXPECT_EQ(iconIndex, row.iconIndex) << row.script;
    }
    // A target of 31 characters fits 32 bytes; one of 32 is passed over for the next.
    const std::string fits = std::string(27, 'a') + ".exe", over = "b" + fits;
    const std::string script =
        Line("ADD ITEM", {"0", over, "", "Over"}) + Line("ADD ITEM", {"0", fits, "", "Fits"});
    char target[32];
    int32_t iconIndex = 0;
    EXPECT_EQ(UninstScript_FirstProgram(script.c_str(), (int32_t)script.size(), target,
                                        sizeof target, &iconIndex),
              1);
    EXPECT_EQ(std::string(target), fits);
    const std::string alone = Line("ADD ITEM", {"0", over, "", "Over"});
    EXPECT_EQ(UninstScript_FirstProgram(alone.c_str(), (int32_t)alone.size(), target, sizeof target,
                                        &iconIndex),
              0);
}

} // namespace

// ---- The clean-up copy ----

TEST(UninstCleanup, OnlyTheCopysOwnPlaceCounts) {
    const char *temp = "C:\\users\\me\\Temp\\";
    const std::string digits = "0123456789abcdef0123456789abcdef";
    const struct {
        std::string path;
        int copy;
    } rows[] = {
        {"C:\\users\\me\\Temp\\tsu-" + digits + "\\uninst.exe", 1},
        {"c:\\USERS\\me\\temp\\tsu-" + digits + "\\UNINST.EXE", 1},
        {"C:\\users\\me\\Temp\\tsu-" + digits.substr(1) + "\\uninst.exe", 0},  // 31 digits
        {"C:\\users\\me\\Temp\\tsu-" + digits + "0\\uninst.exe", 0},           // 33
        {"C:\\users\\me\\Temp\\tsu-" + digits.substr(1) + "A\\uninst.exe", 0}, // upper case
        {"C:\\users\\me\\Temp\\tsu-" + digits.substr(1) + "g\\uninst.exe", 0}, // no hex digit
        {"C:\\users\\me\\Temp\\TSU-" + digits + "\\uninst.exe", 0},
        {"C:\\users\\me\\Temp\\tsu-" + digits + "\\uninst.exe.exe", 0},
        {"C:\\users\\me\\Temp\\tsu-" + digits + "\\sub\\uninst.exe", 0},
        {"C:\\users\\me\\Temp\\x\\tsu-" + digits + "\\uninst.exe", 0},
        {"C:\\Program Files\\Rocket\\uninst.exe", 0},
        {"C:\\users\\me\\tsu-" + digits + "\\uninst.exe", 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(UninstScript_IsCleanupCopy(row.path.c_str(), temp), row.copy) << row.path;
    EXPECT_EQ(UninstScript_IsCleanupCopy(rows[0].path.c_str(), ""), 0);
}

TEST(UninstCleanup, ArgumentsQuotedOrBareAndNeverCut) {
    const struct {
        const char *arguments;
        int read;
        uint32_t handle;
        const char *file, *folder;
    } rows[] = {
        {"-Cleanup 123 \"C:\\P F\\uninst.exe\" \"C:\\P F\\\"", 1, 123, "C:\\P F\\uninst.exe",
         "C:\\P F\\"},
        {"-Cleanup 0 C:\\victim2.txt C:\\x\\ -debug", 1, 0, "C:\\victim2.txt", "C:\\x\\"},
        {"-Cleanup 4294967295 \"a\" b", 1, 4294967295u, "a", "b"},
        {"-Cleanup 7 \"a\"", 0, 7, "", ""},
        {"-Cleanup 7 \"\" \"b\"", 0, 7, "", ""},
        {"-Cleanup", 0, 0, "", ""},
    };
    for (const auto &row : rows) {
        uint32_t handle = 99;
        char file[64] = "unchanged", folder[64] = "unchanged";
        EXPECT_EQ(UninstScript_CleanupArguments(row.arguments, &handle, file, folder, sizeof file),
                  row.read)
            << row.arguments;
        EXPECT_EQ(handle, row.handle) << row.arguments;
        EXPECT_STREQ(file, row.file) << row.arguments;
        EXPECT_STREQ(folder, row.folder) << row.arguments;
    }
    // 15 characters fit a field of 16 bytes; 16 are refused.
    uint32_t handle = 0;
    char file[16], folder[16];
    EXPECT_TRUE(UninstScript_CleanupArguments("-Cleanup 1 \"C:\\abcdefghijkl\" b", &handle, file,
                                              folder, sizeof file));
    EXPECT_FALSE(UninstScript_CleanupArguments("-Cleanup 1 \"C:\\abcdefghijklm\" b", &handle, file,
                                               folder, sizeof file));
    EXPECT_STREQ(file, "");
}
