// The decisions of an upgrade: versions compared as dotted numbers at every edge (a number one
// more or one less, missing numbers, leading zeros, numbers longer than any integer), and the
// files of an earlier installation that this one writes again.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "engine-support.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "upgrade.h"

namespace {

class UpgradeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Log_Init("upgrade-test.log", 0);
        Mem_Init(MEM_NO_LIMIT, 0);
    }
};

TEST_F(UpgradeTest, VersionsCompareNumberByNumber) {
    const struct {
        const char *a, *b;
        int order;
    } rows[] = {
        {"1.3", "1.4", VERSION_OLDER},
        {"1.4", "1.3", VERSION_NEWER},
        {"1.4", "1.4", VERSION_SAME},
        {"1.9", "1.10", VERSION_OLDER}, // numbers, not text
        {"1.10", "1.9", VERSION_NEWER},
        {"1.4", "1.4.0", VERSION_SAME}, // a missing number is 0
        {"1.4.0.0", "1.4", VERSION_SAME},
        {"1.4", "1.4.1", VERSION_OLDER},
        {"1.4.1", "1.4", VERSION_NEWER},
        {"01.004", "1.4", VERSION_SAME}, // leading zeros
        {"0", "0.0", VERSION_SAME},
        {"2", "10", VERSION_OLDER},
        {"99999999999999999999.1", "99999999999999999998.9", VERSION_NEWER}, // beyond 64 bits
        {"99999999999999999999", "100000000000000000000", VERSION_OLDER},
        {"1.4-beta", "1.4", VERSION_SAME}, // what follows a number's digits is not compared
        {"1.4 build 7", "1.4", VERSION_SAME},
        {"1.4.beta.2", "1.4", VERSION_SAME}, // a part without digits ends the version
        {"1..5", "1", VERSION_SAME},
        {"1.4.", "1.4", VERSION_SAME},
        {"", "1.4", VERSION_UNKNOWN},
        {"1.4", "", VERSION_UNKNOWN},
        {"v1.4", "1.3", VERSION_UNKNOWN},
        {"1.3", "beta", VERSION_UNKNOWN},
        {" 1.4", "1.3", VERSION_UNKNOWN},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Upgrade_CompareVersions(row.a, row.b), row.order) << row.a << " / " << row.b;
}

// The folders of the test's machine.
int TestDir(char letter, char *buffer, int size) {
    const char *dir = letter == '0'   ? "C:\\Program Files\\"
                      : letter == '1' ? "C:\\windows\\"
                      : letter == '2' ? "C:\\windows\\system32\\"
                                      : nullptr;
    if (letter == '5') return 0; // a folder that cannot be had
    if (!dir) return -1;
    return Str_Format(buffer, size, "%s", dir) >= 0;
}

InstallState StateFor(const std::string &list, const char *uninstaller) {
    InstallState state;
    memset(&state, 0, sizeof state);
    Str_Copy(state.InstallPath, "C:\\Program Files\\Bramble\\");
    Str_Copy(state.UninstallName, uninstaller);
    state.FileList = list.c_str();
    state.FileCount = 1;
    for (char c : list) state.FileCount += c == ',';
    return state;
}

TEST_F(UpgradeTest, TheFilesWrittenAgainAreKeptAndTheRestIsTheEarlierVersionsAlone) {
    const std::string list = "notes.exe,docs\\changes.txt,$?config.ini,$1bramble.ini,$2x.dll";
    InstallState state = StateFor(list, "uninst.exe");
    InstallRecord targets;
    memset(&targets, 0, sizeof targets);
    ASSERT_EQ(Upgrade_CollectTargets(&state, TestDir, &targets), 1);
    EXPECT_EQ(targets.Count, 7); // five items, the uninstaller and its record
    const struct {
        const char *target;
        int kept;
    } rows[] = {
        {"C:\\Program Files\\Bramble\\notes.exe", 1},
        {"c:\\program files\\BRAMBLE\\NOTES.EXE", 1}, // as Windows names files
        {"C:\\Program Files\\Bramble\\docs\\changes.txt", 1},
        {"C:\\Program Files\\Bramble\\config.ini", 1},
        {"C:\\windows\\bramble.ini", 1},
        {"C:\\windows\\system32\\x.dll", 1},
        {"C:\\Program Files\\Bramble\\uninst.exe", 1},
        {"C:\\Program Files\\Bramble\\uninst.dat", 1},
        {"C:\\Program Files\\Bramble\\tools\\export.exe", 0}, // 1.3's alone
        {"C:\\Program Files\\Bramble\\docs", 0},
        {"C:\\Program Files\\Bramble\\notes.ex", 0},
        {"C:\\Program Files\\Other\\notes.exe", 0}, // an earlier folder elsewhere
    };
    for (const auto &row : rows)
        EXPECT_EQ(Upgrade_Keeps(&targets, row.target), row.kept) << row.target;
    Record_Free(&targets);
}

TEST_F(UpgradeTest, AListThatCannotBeWholeIsNoList) {
    InstallRecord targets;
    memset(&targets, 0, sizeof targets);
    // An item whose folder cannot be had ("$5" has none here): its file would look obsolete.
    const std::string list = "a.txt,$5b.txt";
    InstallState state = StateFor(list, "");
    EXPECT_EQ(Upgrade_CollectTargets(&state, TestDir, &targets), 0);
    // The longest expansion: 319 characters (a folder of 100 and an item of 219); one more is
    // refused.
    const std::string folder = "C:\\" + std::string(96, 'p') + "\\";
    const std::string longest = "a.txt," + std::string(219, 'y'), over = longest + "z";
    state = StateFor(longest, "");
    Str_Copy(state.InstallPath, folder.c_str());
    EXPECT_EQ(Upgrade_CollectTargets(&state, TestDir, &targets), 1);
    EXPECT_EQ(targets.Count, 2);
    state = StateFor(over, "");
    Str_Copy(state.InstallPath, folder.c_str());
    EXPECT_EQ(Upgrade_CollectTargets(&state, TestDir, &targets), 0);
    // Without an uninstaller the list is the items alone; an empty item is passed over.
    const std::string empty = "a.txt,,b.txt";
    state = StateFor(empty, "");
    EXPECT_EQ(Upgrade_CollectTargets(&state, TestDir, &targets), 1);
    EXPECT_EQ(targets.Count, 2);
    Record_Free(&targets);
}

} // namespace
