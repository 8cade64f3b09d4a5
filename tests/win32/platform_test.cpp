// The Win32 wrappers of the setup program under Wine: registry roots, types and sizes, the
// canonical path form, fonts, COM start-up, dialog items and progress bars, the message pump,
// window placement and the folder picker.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <string>
#include <thread>

#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-font.h"
#include "test-support.h"

using testing_support::ProgramDir;
using testing_support::ReadText;
using testing_support::RemoveFile;

namespace {

using testing_support::LogCapture;

const char *kLogName = "platform-test.log";
const char *kTestKey = "Software\\TesselPlatformTest";

class Registry : public testing::Test {
  protected:
    void SetUp() override { RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
    }
};

TEST_F(Registry, RootCodesNameTheirRootsAndUnknownCodesTheCurrentUser) {
    const struct {
        int code;
        HKEY root;
    } rows[] = {{1, HKEY_CURRENT_USER},
                {4, HKEY_LOCAL_MACHINE},
                {0, HKEY_CURRENT_USER},
                {7, HKEY_CURRENT_USER},
                {-1, HKEY_CURRENT_USER}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.code);
        SysKey key = (SysKey)1;
        ASSERT_EQ(Reg_CreateKey(&key, row.code, kTestKey), 1);
        EXPECT_NE(key, nullptr);
        EXPECT_EQ(Reg_CloseKey(&key), 1);
        EXPECT_EQ(key, nullptr);
        HKEY probe;
        EXPECT_EQ(RegOpenKeyExA(row.root, kTestKey, 0, KEY_READ, &probe), ERROR_SUCCESS);
        RegCloseKey(probe);
        EXPECT_EQ(Reg_KeyExists(row.code, kTestKey), 1);
        RegDeleteKeyA(row.root, kTestKey);
        EXPECT_EQ(Reg_KeyExists(row.code, kTestKey), 0);
    }
}

TEST_F(Registry, OpenOfAMissingKeyFailsAndClearsTheHandle) {
    SysKey key = (SysKey)1;
    EXPECT_EQ(Reg_OpenKey(&key, REG_ROOT_USER, kTestKey), 0);
    EXPECT_EQ(key, nullptr);
}

TEST_F(Registry, StringIsStoredWithoutItsZeroAndReadsBackTerminated) {
    SysKey key;
    ASSERT_EQ(Reg_CreateKey(&key, REG_ROOT_USER, kTestKey), 1);
    EXPECT_EQ(Reg_SetString(key, "Install Path", "abc"), 1);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA((HKEY)key, "Install Path", NULL, &type, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    // Windows stores the three bytes as given; Wine adds the terminating zero itself.
    EXPECT_TRUE(size == 3u || size == 4u) << size;
    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Reg_GetString(key, "Install Path", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "abc");
    // Exactly filling the buffer without its zero still reads; one more byte is refused.
    char four[4];
    EXPECT_EQ(Reg_GetString(key, "Install Path", four, sizeof four), 1);
    EXPECT_STREQ(four, "abc");
    char three[3];
    EXPECT_EQ(Reg_GetString(key, "Install Path", three, sizeof three), 0);
    EXPECT_STREQ(three, "");
    Reg_CloseKey(&key);
}

TEST_F(Registry, FailuresAreLoggedWithTheirValueAndType) {
    SysKey key;
    ASSERT_EQ(Reg_CreateKey(&key, REG_ROOT_USER, kTestKey), 1);
    DWORD number = 5;
    ASSERT_EQ(Reg_SetValue(key, REG_DWORD, "Dword", "Install Path", &number, sizeof number), 1);
    LogCapture log(kLogName);
    char buffer[32] = "old";
    EXPECT_EQ(Reg_GetString(key, "Install Path", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(Reg_GetString(key, "Missing", buffer, sizeof buffer), 0);
    char big[8] = "";
    ASSERT_EQ(Reg_SetString(key, "Long", "a text of twenty-six bytes"), 1);
    EXPECT_EQ(Reg_GetValue(key, REG_SZ, "String", "Long", big, sizeof big), 0);
    DWORD read = 0;
    EXPECT_EQ(Reg_GetValue(key, REG_DWORD, "Dword", "Install Path", &read, sizeof read), 1);
    EXPECT_EQ(read, 5u);
    Reg_CloseKey(&key);
    EXPECT_EQ(log.Take(), "Bad type for 'Install Path' [0x00000004 != 0x00000001]\n"
                          "Unable to get registry 'Missing' String\n"
                          "Unable to get registry 'Long' String\n");
}

TEST_F(Registry, WriteThroughAClosedKeyIsRefusedAndLogged) {
    SysKey key;
    ASSERT_EQ(Reg_CreateKey(&key, REG_ROOT_USER, kTestKey), 1);
    HKEY stale = (HKEY)key;
    Reg_CloseKey(&key);
    LogCapture log(kLogName);
    EXPECT_EQ(Reg_SetString((SysKey)stale, "Value", "x"), 0);
    EXPECT_EQ(log.Take(), "Unable to set registry 'Value' String\n");
}

TEST(Paths, NormalizeTurnsSlashesAndAddsOneTrailingBackslash) {
    const struct {
        const char *in;
        int trailing;
        const char *out;
    } rows[] = {
        {"C:/Program Files/App", 1, "C:\\Program Files\\App\\"},
        {"C:\\Program Files\\App\\", 1, "C:\\Program Files\\App\\"},
        {"C:/dir/", 1, "C:\\dir\\"},
        {"", 1, "\\"},
        {"", 0, ""},
        {"C:/a/b", 0, "C:\\a\\b"},
        {"a\\/b", 0, "a\\\\b"},
    };
    for (const auto &row : rows) {
        char buffer[64];
        strcpy(buffer, row.in);
        EXPECT_EQ(Path_Normalize(buffer, row.trailing), 1);
        EXPECT_STREQ(buffer, row.out) << row.in;
    }
}

TEST(Paths, ProgramDirIsTheModuleFolderWithItsBackslash) {
    char module[MAX_PATH];
    GetModuleFileNameA(NULL, module, sizeof module);
    std::string expected = module;
    expected = expected.substr(0, expected.rfind('\\') + 1);
    char buffer[320];
    EXPECT_EQ(Path_ProgramDir(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer, expected);
    // A buffer that cannot hold the whole module path gives nothing rather than a wrong folder.
    char small[8];
    EXPECT_EQ(Path_ProgramDir(small, sizeof small), 0);
    EXPECT_STREQ(small, "");
}

TEST(Paths, StandardDirectoriesEndInOneBackslash) {
    int (*const functions[])(char *, int) = {Path_SystemDir, Path_WindowsDir, Path_TempDir,
                                             Path_CurrentDir};
    char windows[MAX_PATH], system[MAX_PATH], temp[MAX_PATH], current[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    GetSystemDirectoryA(system, sizeof system);
    GetTempPathA(sizeof temp, temp);
    GetCurrentDirectoryA(sizeof current, current);
    const char *platform[] = {system, windows, temp, current};
    for (int i = 0; i < 4; i++) {
        char buffer[320];
        EXPECT_EQ(functions[i](buffer, sizeof buffer), 1);
        std::string expected = platform[i];
        if (expected.back() != '\\') expected += '\\';
        EXPECT_EQ(buffer, expected) << i;
        EXPECT_EQ(std::string(buffer).find('/'), std::string::npos);
        // Too small for the folder and its backslash: nothing, never a cut folder.
        char small[6];
        memset(small, 'x', sizeof small);
        EXPECT_EQ(functions[i](small, sizeof small), 0) << i;
        EXPECT_STREQ(small, "") << i;
    }
}

TEST(Com, InitialisingTwiceIsReportedAndExitBalances) {
    LogCapture log(kLogName);
    EXPECT_EQ(Sys_InitControls(), 1);
    EXPECT_EQ(Sys_InitCom(), 1);
    EXPECT_EQ(Sys_InitCom(), 1);
    EXPECT_EQ(Sys_ExitCom(), 1);
    EXPECT_EQ(Sys_ExitCom(), 1);
    EXPECT_EQ(log.Take(), "Unable to initialize COM\nUnable to initialize OLE\n");
    // Balanced: the apartment is gone, so a fresh start is clean again.
    EXPECT_EQ(CoInitialize(NULL), S_OK);
    CoUninitialize();
}

// The test font written into a folder.
std::string WriteTestFont(const std::string &folder) {
    std::string path = folder + "backdrop.ttf";
    testing_support::WriteFile(path, std::string((const char *)kTestFont, sizeof kTestFont));
    return path;
}

TEST(Fonts, AddedFontIsRemovedAndRefusalsAreLogged) {
    std::string folder = testing_support::MakeTempDir("platform-font");
    std::string font = WriteTestFont(folder);
    EXPECT_EQ(Font_Add(font.c_str()), 1);
    EXPECT_EQ(Font_Remove(font.c_str()), 1);
    EXPECT_EQ(Font_Remove(font.c_str()), 0); // already gone

    std::string junk = folder + "junk.ttf";
    testing_support::WriteFile(junk, "not a font at all");
    LogCapture log(kLogName);
    EXPECT_EQ(Font_Add(junk.c_str()), 0);
    EXPECT_EQ(Font_Remove(junk.c_str()), 0);
    std::string text = log.Take();
    EXPECT_NE(text.find("Unable to add font resource for '" + junk + "' (0x"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Unable to remove font resource for '" + junk + "' (0x"), std::string::npos)
        << text;
    RemoveFile(font);
    RemoveFile(junk);
    RemoveDirectoryA(folder.c_str());
}

TEST(Progress, PercentMapsToTwentyStepsAndIsClamped) {
    const struct {
        double percent;
        int position;
    } rows[] = {{50.04, 1000}, {100, 2000},   {120, 2000},   {-3, 0},     {0.049, 0},
                {0.05, 1},     {99.99, 1999}, {1e300, 2000}, {-1e300, 0}, {__builtin_nan(""), 0}};
    for (const auto &row : rows)
        EXPECT_EQ(Dlg_ProgressPosition(row.percent), row.position) << row.percent;
}

// Without a display Wine creates no windows; the tests that need one then run in the display
// run of this program (TESSEL_NEED_DISPLAY set), where a missing window is a failure.
bool SkipWithoutDisplay(HWND probe) {
    if (probe) return false;
    if (getenv("TESSEL_NEED_DISPLAY")) ADD_FAILURE() << "no window although a display is given";
    return true;
}

bool DisplayAvailable() {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    if (probe) DestroyWindow(probe);
    return !SkipWithoutDisplay(probe);
}

// A plain top-level window with child controls, standing in for a dialog.
class Windows : public testing::Test {
  protected:
    void SetUp() override {
        Sys_InitControls();
        parent = CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 1024, 768, NULL, NULL, NULL,
                                 NULL);
        if (SkipWithoutDisplay(parent)) GTEST_SKIP() << "no display";
    }
    void TearDown() override {
        if (parent) DestroyWindow(parent);
    }
    HWND Child(const char *className, int id, DWORD style = 0) {
        return CreateWindowExA(0, className, "", WS_CHILD | style, 0, 0, 200, 20, parent,
                               (HMENU)(intptr_t)id, NULL, NULL);
    }
    static RECT Rect(HWND window) {
        RECT rect;
        GetWindowRect(window, &rect);
        return rect;
    }
    HWND parent = NULL;
};

TEST_F(Windows, ProgressBarIsResetToTheScaleAndSetInSteps) {
    HWND bar = Child(PROGRESS_CLASSA, 117);
    ASSERT_NE(bar, nullptr);
    SendMessageA(bar, PBM_SETPOS, 50, 0);
    EXPECT_EQ(Dlg_ProgressReset(parent, 117), 1);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 2000);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
    const struct {
        double percent;
        int position;
    } rows[] = {{50.04, 1000}, {100, 2000}, {120, 2000}, {-3, 0}};
    for (const auto &row : rows) {
        EXPECT_EQ(Dlg_ProgressSet(parent, 117, row.percent), 1);
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), row.position) << row.percent;
    }
}

TEST_F(Windows, EditTextIsSetLimitedAndSelected) {
    HWND edit = Child("EDIT", 1002, ES_AUTOHSCROLL);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(Dlg_SetEditText(parent, 1002, "C:\\Program Files\\App\\", 40), 1);
    EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 40);
    DWORD start = 1, end = 1;
    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 21u);
    char buffer[64];
    EXPECT_EQ(Dlg_GetText(parent, 1002, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "C:\\Program Files\\App\\");
    char cut[6];
    EXPECT_EQ(Dlg_GetText(parent, 1002, cut, sizeof cut), 1);
    EXPECT_STREQ(cut, "C:\\Pr");
    EXPECT_EQ(Dlg_SetEditText(parent, 4242, "no such item", 10), 0);
    EXPECT_EQ(Dlg_SendItem(parent, 1002, WM_GETTEXTLENGTH, 0, 0), 21);
}

TEST_F(Windows, CenterOverAParentAndOverTheDesktop) {
    HWND window =
        CreateWindowExA(0, "STATIC", "box", WS_POPUP, 5, 5, 400, 300, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Wnd_Center(window, parent), 1); // 1024 x 768 at (0, 0)
    RECT rect = Rect(window);
    EXPECT_EQ(rect.left, 312);
    EXPECT_EQ(rect.top, 234);
    EXPECT_EQ(rect.right - rect.left, 400);
    EXPECT_EQ(rect.bottom - rect.top, 300);

    SetWindowPos(window, NULL, 0, 0, 401, 301, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(Wnd_Center(window, parent), 1); // odd differences round toward zero
    rect = Rect(window);
    EXPECT_EQ(rect.left, 311);
    EXPECT_EQ(rect.top, 233);

    RECT desktop = Rect(GetDesktopWindow());
    EXPECT_EQ(Wnd_Center(window, NULL), 1);
    rect = Rect(window);
    EXPECT_EQ(rect.left, desktop.left + (desktop.right - desktop.left - 401) / 2);
    EXPECT_EQ(rect.top, desktop.top + (desktop.bottom - desktop.top - 301) / 2);
    DestroyWindow(window);
}

TEST_F(Windows, PlaceKeepsTheWindowOnTheVirtualScreen) {
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ASSERT_GT(width, 0);
    HWND window =
        CreateWindowExA(0, "STATIC", "box", WS_POPUP, 5, 5, 100, 50, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, nullptr);
    const struct {
        int x, y, w, h;
        int left, top, width, height;
    } rows[] = {
        {20, 30, 0, 0, left + 20, top + 30, 100, 50},      // moved only
        {20, 30, 200, 80, left + 20, top + 30, 200, 80},   // moved and sized
        {left - 500, top - 500, 0, 0, left, top, 200, 80}, // pulled onto the screen
        {left + width + 10, top + height + 10, 0, 0, left + width - 200, top + height - 80, 200,
         80},
        {left + width + 10, 40, 300, 90, left + width - 300, 40, 300, 90},
        {50, 60, 300, 0, 50, 60, 300, 90}, // a zero height only moves
    };
    for (const auto &row : rows) {
        EXPECT_EQ(Wnd_Place(window, row.x, row.y, row.w, row.h), 1);
        RECT rect = Rect(window);
        EXPECT_EQ(rect.left, row.left) << row.x;
        EXPECT_EQ(rect.top, row.top) << row.y;
        EXPECT_EQ(rect.right - rect.left, row.width) << row.x;
        EXPECT_EQ(rect.bottom - rect.top, row.height) << row.x;
    }
    DestroyWindow(window);
}

int g_dispatched;
int g_fontChanges;
WPARAM g_selectionFlag;
std::string g_selection;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_USER + 7) {
        g_dispatched++;
        return 0;
    }
    if (message == WM_FONTCHANGE) g_fontChanges++;
    if (message == BFFM_SETSELECTIONA) {
        g_selectionFlag = wparam;
        g_selection = (const char *)lparam;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND CountingWindow(HWND owner, int x, int y, int width, int height) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.lpszClassName = "TesselCounting";
    RegisterClassA(&windowClass); // a second registration fails harmlessly
    return CreateWindowExA(0, "TesselCounting", "", WS_POPUP, x, y, width, height, owner, NULL,
                           NULL, NULL);
}

void DrainQueue() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    }
}

TEST_F(Windows, PumpDispatchesWaitingMessagesAndLeavesQuitAndCloseQueued) {
    HWND window = CountingWindow(NULL, 0, 0, 10, 10);
    ASSERT_NE(window, nullptr);
    DrainQueue();
    g_dispatched = 0;
    EXPECT_EQ(Sys_PumpMessages(), 1); // empty queue: returns after yielding
    PostMessageA(window, WM_USER + 7, 0, 0);
    PostMessageA(window, WM_USER + 7, 0, 0);
    PostQuitMessage(3);
    EXPECT_EQ(Sys_PumpMessages(), 1);
    EXPECT_EQ(g_dispatched, 2);
    for (int again = 0; again < 3; again++) EXPECT_EQ(Sys_PumpMessages(), 1);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, (UINT)WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);

    PostMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_USER + 7, 0, 0);
    EXPECT_EQ(Sys_PumpMessages(), 1);
    EXPECT_EQ(g_dispatched, 2); // the message behind the close waits too
    ASSERT_TRUE(PeekMessageA(&message, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, (UINT)WM_CLOSE);
    DrainQueue();
    DestroyWindow(window);
}

TEST_F(Windows, BrowseCallbackCentresThePickerAndSelectsTheInitialFolder) {
    HWND picker = CountingWindow(parent, 0, 0, 400, 300);
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(GetParent(picker), parent);
    g_selection.clear();
    char initial[] = "C:\\Program Files";
    EXPECT_EQ(Browse_Callback(picker, BFFM_SELCHANGED, 0, (intptr_t)initial), 0);
    EXPECT_EQ(g_selection, "");
    EXPECT_EQ(Browse_Callback(picker, BFFM_INITIALIZED, 0, (intptr_t)initial), 0);
    EXPECT_EQ(g_selectionFlag, 1u);
    EXPECT_EQ(g_selection, "C:\\Program Files");
    RECT rect = Rect(picker);
    EXPECT_EQ(rect.left, 312);
    EXPECT_EQ(rect.top, 234);
    DestroyWindow(picker);
}

TEST_F(Windows, FontChangesAreBroadcastToTopLevelWindows) {
    HWND window = CountingWindow(NULL, 0, 0, 10, 10);
    ASSERT_NE(window, nullptr);
    std::string folder = testing_support::MakeTempDir("platform-broadcast");
    std::string font = WriteTestFont(folder);
    g_fontChanges = 0;
    EXPECT_EQ(Font_Add(font.c_str()), 1);
    EXPECT_EQ(g_fontChanges, 1);
    EXPECT_EQ(Font_Remove(font.c_str()), 1);
    EXPECT_EQ(g_fontChanges, 2);
    EXPECT_EQ(Font_Remove(font.c_str()), 0);
    EXPECT_EQ(g_fontChanges, 2); // a refusal changes nothing
    DestroyWindow(window);
    RemoveFile(font);
    RemoveDirectoryA(folder.c_str());
}

// Cancels the first dialog of this process that appears, as a user would.
void CancelFirstDialog(volatile LONG *cancelled, volatile LONG *pressed) {
    for (int tries = 0; tries < 400 && !*cancelled; tries++) {
        if (HWND dialog = testing_support::FindDialog()) {
            testing_support::PressButton(dialog, IDCANCEL);
            InterlockedExchange((LONG *)pressed, 1);
            return;
        }
        Sleep(50);
    }
}

TEST(Picker, CancelledLeavesThePathAndReturnsZero) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    ASSERT_EQ(OleInitialize(NULL), S_OK);
    volatile LONG cancelled = 0, pressed = 0;
    std::thread user(CancelFirstDialog, &cancelled, &pressed);
    char path[320] = "";
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    EXPECT_EQ(Sys_BrowseFolder(NULL, "Choose a folder", path, windows), 0);
    EXPECT_STREQ(path, "");
    InterlockedExchange((LONG *)&cancelled, 1); // a picker that never showed: stop waiting
    user.join();
    EXPECT_EQ(pressed, 1); // the picker was shown and cancelled, not merely unavailable
    OleUninitialize();
}

} // namespace
