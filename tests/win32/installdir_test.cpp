// Where an installation goes, with the real system under Wine: the path macros against the
// real directories, refused long paths, the free-space figures and their arithmetic, the
// INSTALL PATH command in quiet mode with the registry, and (on a display) the directory
// dialog, whose texts a thread of the test reads and whose buttons it presses.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "installdir.h"
#include "iscript.h"
#include "number.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-support.h"
#include "ui.h"

namespace {

const char *kLogName = "installdir-test.log";
const char *kKey = "Software\\TesselInstallDirTest";

std::string WithBackslash(std::string dir) {
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    return dir;
}

std::string ProgramFiles() {
    HKEY key;
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    RegQueryValueExA(key, "ProgramFilesDir", NULL, NULL, (BYTE *)value, &size);
    RegCloseKey(key);
    return WithBackslash(value);
}

std::string WindowsDir() {
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return WithBackslash(dir);
}

std::string SystemDir() {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    return WithBackslash(dir);
}

std::string Expanded(const InstallState &state, const std::string &input, uint32_t *flags,
                     int *result = nullptr) {
    char output[PATH_EXPAND_SIZE];
    memset(output, 'x', sizeof output);
    int got = Path_Expand(&state, input.c_str(), output, flags);
    if (result) *result = got;
    return output;
}

// A state whose InstallPath is C:\Base\ and whose log goes to a file of the test.
class InstallDir : public testing::Test {
  protected:
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0); // the keyword table is allocated
        memset(&state, 0, sizeof state);
        strcpy(state.InstallPath, "C:\\Base\\");
        state.Mode = Quiet;
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
    // What was logged since the last call.
    std::string TakeLog() { return log_.Take(); }
    testing_support::LogCapture log_{kLogName};
    void Remember(const char *value) {
        HKEY key;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
            ERROR_SUCCESS);
        if (value)
            RegSetValueExA(key, "Install Path", 0, REG_SZ, (const BYTE *)value,
                           (DWORD)strlen(value) + 1);
        RegCloseKey(key);
    }
    InstallState state;
};

TEST_F(InstallDir, EveryMacroNamesItsRealDirectory) {
    char current[MAX_PATH], temp[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    GetTempPathA(sizeof temp, temp);
    const std::string base = "C:\\Base\\";
    const struct {
        const char *input;
        std::string expected;
        uint32_t flags;
    } rows[] = {
        {"", base, 0},
        {"readme.txt", base + "readme.txt", 0},
        {"\\readme.txt", base + "readme.txt", 0},     // one leading backslash is dropped
        {"\\\\readme.txt", base + "\\readme.txt", 0}, // ... a second one stays
        {"$0Acme\\", ProgramFiles() + "Acme\\", 0},
        {"$1notepad.exe", WindowsDir() + "notepad.exe", 0},
        {"$1\\notepad.exe", WindowsDir() + "notepad.exe", 0},
        {"$2lib.dll", SystemDir() + "lib.dll", 0},
        {"$3setup.log", testing_support::ProgramDir() + "setup.log", 0},
        {"$4x.tmp", WithBackslash(temp) + "x.tmp", 0},
        {"$5x", WithBackslash(current) + "x", 0},
        {"$6x", base + "x", 0},
        {"$?readme.txt", base + "readme.txt", PATH_FLAG_CONFIRM},
        {"$?$2lib.dll", SystemDir() + "lib.dll", PATH_FLAG_CONFIRM},
        {"$1$2x.dll", SystemDir() + "x.dll", 0}, // the later macro wins
        {"$1x$2", WindowsDir() + "x$2", 0},      // macros only at the start
        {"$9x", base + "x", 0},
        {"$", base + "$", 0}, // a "$" without a letter is text
        {"$1$", WindowsDir() + "$", 0},
        {"D:\\Apps\\x", "D:\\Apps\\x", 0}, // a drive path stands on its own
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input);
        uint32_t flags = 0xFFFF;
        int result = 0;
        EXPECT_EQ(Expanded(state, row.input, &flags, &result), row.expected);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(flags, row.flags);
    }
    std::string log = TakeLog();
    EXPECT_NE(log.find("$0 Translates to '" + ProgramFiles() + "'\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Unknown command '9'\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Unknown command '6'"), std::string::npos) << log;
    EXPECT_EQ(log.find("Unknown command '?'"), std::string::npos) << log;
}

TEST_F(InstallDir, ProgramFilesWithoutItsRegistryValueIsOnTheSystemDrive) {
    const char *keyName = "Software\\Microsoft\\Windows\\CurrentVersion";
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    char saved[MAX_PATH] = "";
    DWORD size = sizeof saved;
    ASSERT_EQ(RegQueryValueExA(key, "ProgramFilesDir", NULL, NULL, (BYTE *)saved, &size),
              ERROR_SUCCESS);
    RegDeleteValueA(key, "ProgramFilesDir");
    uint32_t flags;
    std::string expanded = Expanded(state, "$0", &flags);
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, (const BYTE *)saved, size);
    RegCloseKey(key);
    EXPECT_EQ(expanded, SystemDir().substr(0, 3) + "Program Files\\");
    std::string log = TakeLog();
    EXPECT_NE(log.find("Unable to get registry 'ProgramFilesDir' String\n"), std::string::npos);
    EXPECT_EQ(log.find("Unable to get Program Files path"), std::string::npos); // the key opened
}

TEST_F(InstallDir, ExpansionsThatDoNotFitAreRefusedNotCut) {
    std::string longBase(150, 'b');
    strcpy(state.InstallPath, (longBase + "\\").c_str()); // 151 characters
    char small[260];
    uint32_t flags = 7;
    std::string fits(260 - 1 - 151, 'n'), over = fits + "n";
    EXPECT_EQ(Path_Expand(&state, fits.c_str(), small, &flags), 1);
    EXPECT_EQ(strlen(small), 259u);
    EXPECT_EQ(flags, 0u);
    memset(small, 'x', sizeof small);
    EXPECT_EQ(Path_Expand(&state, over.c_str(), small, &flags), 0);
    EXPECT_STREQ(small, "");
    char large[320];
    EXPECT_EQ(Path_Expand(&state, over.c_str(), large, &flags), 1); // the same fits 320 bytes
    std::string log = TakeLog();
    EXPECT_NE(log.find("Path '" + over + "' too long (260 > 259)\n"), std::string::npos) << log;
}

TEST(Figures, KilobytesDropTheFractionAndStopAtTheLargest32BitFigure) {
    const struct {
        uint64_t bytes;
        int32_t kb;
    } rows[] = {{0, 0},
                {1023, 0},
                {1024, 1},
                {5ull << 30, 5 << 20}, // 5 GB: past what 32 bits of bytes hold
                {(uint64_t)INT32_MAX << 10, INT32_MAX},
                {1ull << 41, INT32_MAX}, // 2 TB
                {~0ull, INT32_MAX}};
    for (const auto &row : rows) EXPECT_EQ(Disk_BytesToKB(row.bytes), row.kb) << row.bytes;
}

TEST_F(InstallDir, FreeSpaceOfADriveAndOfNoDrive) {
    int32_t freeKB = -1;
    EXPECT_EQ(Disk_FreeKB(&freeKB, "C:\\Program Files\\Acme\\"), 1);
    EXPECT_GT(freeKB, 0);
    for (const char *path : {"Q:\\Acme\\", "Acme\\", "", "\\\\server\\share\\", "C:"}) {
        freeKB = -1;
        EXPECT_EQ(Disk_FreeKB(&freeKB, path), 0) << path;
        EXPECT_EQ(freeKB, 0) << path;
    }
    std::string log = TakeLog();
    EXPECT_NE(log.find("Free Space Ex : "), std::string::npos) << log;
}

// ---- INSTALL PATH in quiet mode ----

int RunInstallPath(InstallState *state, const std::string &prompt) {
    Cmd_RegisterAll();
    Script_RegisterBreak();
    std::string arguments = prompt + "\r\n";
    int32_t cursor = 0;
    int result = Cmd_Dispatch("INSTALL PATH", state, arguments.c_str(), &cursor);
    Cmd_ReleaseAll();
    return result;
}

TEST_F(InstallDir, QuietInstallPathIsTheInstallationDirectoryUnderProgramFiles) {
    strcpy(state.InstallDir, "Rocket\\");
    EXPECT_EQ(RunInstallPath(&state, "abc"), 1);
    EXPECT_EQ(state.InstallPath, ProgramFiles() + "Rocket\\");
    EXPECT_STREQ(state.Caption, "Please select the destination directory...");
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 1);
    EXPECT_STREQ(state.Caption, "Where to?"); // quiet mode keeps it

    strcpy(state.InstallDir, "$1Rocket\\");
    EXPECT_EQ(RunInstallPath(&state, ""), 1);
    EXPECT_EQ(state.InstallPath, WindowsDir() + "Rocket\\");
}

TEST_F(InstallDir, QuietInstallPathTakesTheRememberedDirectory) {
    strcpy(state.InstallDir, "Rocket\\");
    strcpy(state.RegistryPath, kKey);
    Remember("E:\\Games\\Rocket\\");
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 1);
    EXPECT_STREQ(state.InstallPath, "E:\\Games\\Rocket\\");
    Remember("E:\\NoBackslash");
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 1);
    EXPECT_STREQ(state.InstallPath, "E:\\NoBackslash\\"); // a directory ends with a backslash
}

TEST_F(InstallDir, QuietInstallPathKeepsTheDefaultWithoutAUsableRememberedValue) {
    strcpy(state.InstallDir, "Rocket\\");
    strcpy(state.RegistryPath, kKey);
    const std::string expected = ProgramFiles() + "Rocket\\";
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 1); // no key
    EXPECT_EQ(state.InstallPath, expected);
    Remember(nullptr); // a key without the value
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 1);
    EXPECT_EQ(state.InstallPath, expected);
    Remember(("E:\\" + std::string(200, 'r') + "\\").c_str()); // longer than InstallPath holds
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 1);
    EXPECT_EQ(state.InstallPath, expected);
    std::string log = TakeLog();
    EXPECT_NE(log.find("Unable to get registry 'Install Path' String\n"), std::string::npos);
}

TEST_F(InstallDir, QuietInstallPathRefusesADirectoryThatDoesNotFit) {
    std::string dir(158 - ProgramFiles().size() + 1, 'd'); // one more than InstallPath holds
    strcpy(state.InstallDir, (dir + "\\").c_str());
    EXPECT_EQ(RunInstallPath(&state, "Where to?"), 0);
    EXPECT_EQ(state.InstallPath, ProgramFiles()); // the last value that fitted
    std::string log = TakeLog();
    EXPECT_NE(log.find("too long (160 > 159)\n"), std::string::npos) << log;
}

// ---- The dialog, on a display ----

using testing_support::DisplayAvailable;
using testing_support::PressButton;
using testing_support::SeenBox;
using testing_support::StaticTexts;
using testing_support::WaitForDialog;
using testing_support::WindowText;

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool IsDirDialog(HWND window) { return GetDlgItem(window, DIRDLG_PATH) != NULL; }

// Waits for a box other than the dialog, records it, presses button and waits until it is gone.
SeenBox AnswerBox(HWND dialog, int button) {
    std::vector<SeenBox> seen;
    testing_support::AnswerMatchingBoxes(
        {button}, &seen, [dialog](HWND w) { return w != dialog && !IsDirDialog(w); });
    return seen.empty() ? SeenBox() : seen[0];
}

class Dialog : public InstallDir {
  protected:
    void SetUp() override {
        InstallDir::SetUp();
        state.Mode = Interactive;
        strcpy(state.ProductName, "Rocket");
        strcpy(state.Caption, "Choose where Rocket goes");
        strcpy(state.InstallPath, "C:\\Base\\");
        strcpy(state.InstallDir, "Rocket\\");
        state.InstallSizeKB = 1234;
    }
    // Runs the dialog while user (on a thread) works it; returns DirDlg_Run's result.
    int Run(std::function<void(HWND)> user) {
        std::thread helper([user] {
            HWND dialog = WaitForDialog(IsDirDialog);
            if (!dialog) return;
            user(dialog);
        });
        int result = DirDlg_Run(&state);
        helper.join();
        return result;
    }
};

TEST_F(Dialog, WithoutADisplayItCannotBeShownAndCountsAsLeaving) {
    if (DisplayAvailable()) GTEST_SKIP() << "dialogs are shown: see the answered cases";
    EXPECT_EQ(DirDlg_Run(&state), 0);
    EXPECT_STREQ(state.InstallPath, "C:\\Base\\");
    EXPECT_NE(TakeLog().find("Unable to show the installation directory dialog"),
              std::string::npos);
}

TEST_F(Dialog, OpensWithTheProposedPathTheFiguresAndNoSystemMenu) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    std::string title, prompt, path, used, before, after, labels;
    LONG style = 0;
    int result = Run([&](HWND dialog) {
        title = WindowText(dialog);
        prompt = ItemText(dialog, DIRDLG_PROMPT);
        path = ItemText(dialog, DIRDLG_PATH);
        used = ItemText(dialog, DIRDLG_USED);
        before = ItemText(dialog, DIRDLG_FREE_BEFORE);
        after = ItemText(dialog, DIRDLG_FREE_AFTER);
        labels = StaticTexts(dialog);
        style = GetWindowLongA(dialog, GWL_STYLE);
        EXPECT_EQ(ItemText(dialog, IDOK), "Continue");
        EXPECT_EQ(ItemText(dialog, IDCANCEL), "Exit Setup");
        EXPECT_EQ(ItemText(dialog, DIRDLG_BROWSE), "Browse");
        PressButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(state.InstallPath, "C:\\Base\\"); // Exit Setup changes nothing
    EXPECT_EQ(title, "Installation Directory...");
    EXPECT_EQ(prompt, "Choose where Rocket goes");
    EXPECT_EQ(path, "C:\\Base\\Rocket\\");
    EXPECT_EQ(used, "1,234k");
    int32_t freeKB = 0;
    ASSERT_EQ(Disk_FreeKB(&freeKB, "C:\\"), 1);
    ASSERT_GT(before.size(), 1u);
    EXPECT_EQ(before.back(), 'k');
    EXPECT_NE(after, "n/a");
    EXPECT_NE(after, "Not enough space");
    for (const char *label : {"Free space before installation", "Space used by application",
                              "Free space after installation"})
        EXPECT_NE(labels.find(label), std::string::npos) << label;
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU);
}

TEST_F(Dialog, ContinueAsksAndStoresTheTypedPathWithItsBackslash) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    SeenBox declined, question;
    HWND shown = NULL;
    int result = Run([&](HWND dialog) {
        shown = dialog;
        SetDlgItemTextA(dialog, DIRDLG_PATH, "C:\\Typed\\Dir");
        PressButton(dialog, IDOK);
        declined = AnswerBox(dialog, IDNO); // No: the dialog stays
        PressButton(dialog, IDOK);
        question = AnswerBox(dialog, IDYES);
    });
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(state.InstallPath, "C:\\Typed\\Dir\\");
    EXPECT_EQ(declined.text, "Install Rocket into C:\\Typed\\Dir\\?");
    EXPECT_EQ(question.title, "Installation Directory...");
    EXPECT_EQ(question.text, "Install Rocket into C:\\Typed\\Dir\\?");
    // The boxes belong to the dialog, which cannot be used while they are open.
    EXPECT_EQ(declined.owner, shown);
    EXPECT_EQ(question.owner, shown);
}

TEST_F(Dialog, ContinueRefusesAMissingDriveAFullDriveAndATooLongPath) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    state.InstallSizeKB = INT32_MAX; // more than any drive here has
    SeenBox missing, full, tooLong;
    std::string after;
    int result = Run([&](HWND dialog) {
        after = ItemText(dialog, DIRDLG_FREE_AFTER);
        SetDlgItemTextA(dialog, DIRDLG_PATH, "Q:\\Rocket\\");
        PressButton(dialog, IDOK);
        missing = AnswerBox(dialog, IDOK);
        SetDlgItemTextA(dialog, DIRDLG_PATH, "C:\\Rocket\\");
        PressButton(dialog, IDOK);
        full = AnswerBox(dialog, IDOK);
        SetDlgItemTextA(dialog, DIRDLG_PATH, ("C:\\" + std::string(160, 'r')).c_str());
        PressButton(dialog, IDOK);
        tooLong = AnswerBox(dialog, IDOK);
        PressButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(after, "Not enough space");
    EXPECT_EQ(missing.title, "Install problem...");
    EXPECT_EQ(missing.text, "The drive you have selected cannot be located.");
    EXPECT_EQ(full.text, "The drive you have selected does not have enough free space.");
    EXPECT_EQ(tooLong.text, "The path you have selected is too long.");
    EXPECT_STREQ(state.InstallPath, "C:\\Base\\");
}

TEST_F(Dialog, ADriveThatCannotBeMeasuredShowsNotAvailable) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    strcpy(state.InstallDir, "Q:\\Rocket\\");
    std::string before, after, used;
    Run([&](HWND dialog) {
        before = ItemText(dialog, DIRDLG_FREE_BEFORE);
        after = ItemText(dialog, DIRDLG_FREE_AFTER);
        used = ItemText(dialog, DIRDLG_USED);
        PressButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(before, "n/a");
    EXPECT_EQ(after, "n/a");
    EXPECT_EQ(used, "1,234k");
}

TEST_F(Dialog, TheRememberedDirectoryReplacesTheDefault) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    strcpy(state.RegistryPath, kKey);
    std::string missingKey, remembered;
    Run([&](HWND dialog) {
        missingKey = ItemText(dialog, DIRDLG_PATH);
        PressButton(dialog, IDCANCEL);
    });
    Remember("C:\\Remembered\\Rocket\\");
    Run([&](HWND dialog) {
        remembered = ItemText(dialog, DIRDLG_PATH);
        PressButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(missingKey, "C:\\Base\\Rocket\\");
    EXPECT_EQ(remembered, "C:\\Remembered\\Rocket\\");
    EXPECT_NE(TakeLog().find(std::string("Unable to open '") + kKey + "'\n"), std::string::npos);
}

void WaitGone(HWND window) {
    for (int tries = 0; tries < 200 && IsWindow(window); tries++) Sleep(50);
    Sleep(100); // the dialog finishes the command that opened the window
}

// The three figures on a window of plain statics, for a size of exactly the free space of C:
// and one KB more; the free space is read around each call, and a call during which it moved
// is made again.
TEST(Figures, ExactlyEnoughRoomLeavesNothingAndOneMoreKilobyteIsTooMuch) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    HWND window =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 100, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, nullptr);
    for (int id : {DIRDLG_FREE_BEFORE, DIRDLG_USED, DIRDLG_FREE_AFTER})
        CreateWindowExA(0, "STATIC", "Static", WS_CHILD, 0, 0, 100, 10, window, (HMENU)(INT_PTR)id,
                        NULL, NULL);
    for (int extra : {0, 1}) {
        std::string after;
        // Other programs change the free space while it is read: a try counts only when the
        // dialog's own figure of the space before is the one read around it.
        for (int tries = 0; tries < 20; tries++) {
            int32_t before = 0, again = 0;
            ASSERT_EQ(Disk_FreeKB(&before, "C:\\"), 1);
            EXPECT_EQ(DirDlg_ShowSpace(window, "C:\\Rocket\\", before + extra), 1);
            Disk_FreeKB(&again, "C:\\");
            after = ItemText(window, DIRDLG_FREE_AFTER);
            char shown[NUM_GROUP_SIZE + 1];
            Num_Group(before, shown);
            if (again == before && ItemText(window, DIRDLG_FREE_BEFORE) == std::string(shown) + "k")
                break;
        }
        EXPECT_EQ(after, extra ? "Not enough space" : "0k");
    }
    DestroyWindow(window);
}

bool IsPicker(HWND window) { return !IsDirDialog(window); }

TEST_F(Dialog, BrowseMergesThePickedFolderOrChangesNothingWhenCancelled) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    ASSERT_EQ(OleInitialize(NULL), S_OK);
    strcpy(state.InstallDir, "Tools\\Viewer\\");
    static char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::string afterCancel, afterPick, pickedBefore;
    bool pickerSeen = false;
    int result = Run([&](HWND dialog) {
        PressButton(dialog, DIRDLG_BROWSE);
        HWND picker = WaitForDialog(IsPicker);
        pickerSeen = picker != NULL;
        if (!picker) return PressButton(dialog, IDCANCEL);
        PressButton(picker, IDCANCEL);
        WaitGone(picker);
        afterCancel = ItemText(dialog, DIRDLG_PATH);
        PressButton(dialog, DIRDLG_BROWSE);
        picker = WaitForDialog(IsPicker);
        if (!picker) return PressButton(dialog, IDCANCEL);
        SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, (LPARAM)windows);
        PressButton(picker, IDOK);
        WaitGone(picker);
        afterPick = ItemText(dialog, DIRDLG_PATH);
        PressButton(dialog, IDCANCEL);
    });
    OleUninitialize();
    EXPECT_TRUE(pickerSeen);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(afterCancel, "C:\\Base\\Tools\\Viewer\\");
    EXPECT_EQ(afterPick, WithBackslash(windows) + "Tools\\Viewer\\");
    // The picked folder is the installation path at once, even after Exit Setup.
    EXPECT_EQ(state.InstallPath, WithBackslash(windows) + "Tools\\Viewer\\");
    EXPECT_NE(TakeLog().find("Canceled Path selection\n"), std::string::npos);
}

TEST_F(Dialog, InteractiveInstallPathEmptiesTheCaptionAndFailsWhenTheUserLeaves) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    std::string prompt, path;
    std::thread helper([&] {
        HWND dialog = WaitForDialog(IsDirDialog);
        if (!dialog) return;
        prompt = ItemText(dialog, DIRDLG_PROMPT);
        path = ItemText(dialog, DIRDLG_PATH);
        PressButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(RunInstallPath(&state, "Pic"), 0); // three characters: the default prompt
    helper.join();
    EXPECT_EQ(prompt, "Please select the destination directory...");
    EXPECT_EQ(path, ProgramFiles() + "Rocket\\"); // the default is under Program Files
    EXPECT_STREQ(state.Caption, "");
    EXPECT_EQ(state.InstallPath, ProgramFiles()); // set before the dialog opened
}

} // namespace
