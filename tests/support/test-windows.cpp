// The window finder of the Win32 tests and the test robot.
#include "test-windows.h"

namespace testing_support {

std::string WindowText(HWND window) {
    char text[4096] = "";
    if (window) GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = "";
    if (window) GetClassNameA(window, name, sizeof name);
    return name;
}

static BOOL CALLBACK CollectStatic(HWND child, LPARAM texts) {
    if (!_stricmp(ClassOf(child).c_str(), "Static")) *(std::string *)texts += WindowText(child);
    return TRUE;
}

std::string StaticTexts(HWND window) {
    std::string texts;
    EnumChildWindows(window, CollectStatic, (LPARAM)&texts);
    return texts;
}

struct DialogSearch {
    DWORD process;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
    DialogSearch *search = (DialogSearch *)data;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if ((search->process == 0 || process == search->process) && IsWindowVisible(window) &&
        ClassOf(window) == "#32770")
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogs(DWORD process) {
    DialogSearch search = {process, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found;
}

HWND FindDialog(const DialogMatch &match) {
    for (HWND window : VisibleDialogs(GetCurrentProcessId()))
        if (IsWindowEnabled(window) && (!match || match(window))) return window;
    return NULL;
}

HWND WaitForDialog(const DialogMatch &match, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (HWND found = FindDialog(match)) {
            Sleep(100);
            return found;
        }
        Sleep(50);
    }
    return NULL;
}

bool IsMessageBox(HWND window) { return FindWindowExA(window, NULL, "Static", NULL) != NULL; }

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

bool WaitUntilGone(HWND window, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs && IsWindow(window); waited += 25) Sleep(25);
    return !IsWindow(window);
}

} // namespace testing_support
