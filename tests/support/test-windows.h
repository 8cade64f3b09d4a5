// Finding and answering dialogs and message boxes (win32 tree): the one window finder of the
// Win32 tests and of the test robot. Free of the test framework, so that the robot links it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// The window's text (a dialog's title, a control's caption); "" for a null window.
std::string WindowText(HWND window);
// The window's class name; "" for a null window.
std::string ClassOf(HWND window);
// The texts of the window's "Static" children in window order, run together.
std::string StaticTexts(HWND window);
// The visible top-level dialogs (class "#32770") of process, or of every process when process
// is 0, in the order EnumWindows gives them (topmost first).
std::vector<HWND> VisibleDialogs(DWORD process);

// Which of this process's dialogs a test waits for; an empty match takes any.
typedef std::function<bool(HWND)> DialogMatch;
// The first visible and enabled dialog of this process that match takes, or NULL. A dialog
// that shows a box of its own is disabled meanwhile, and so not taken again until it is gone.
HWND FindDialog(const DialogMatch &match = nullptr);
// FindDialog asked every 50 ms for up to timeoutMs; the dialog found is given 100 ms to finish
// its own start before it is returned. NULL when none came.
HWND WaitForDialog(const DialogMatch &match = nullptr, int timeoutMs = 10000);
// A message box: a dialog with a "Static" child (its text or icon). The progress window has
// none.
bool IsMessageBox(HWND window);
// Presses button id of dialog as a click does: WM_COMMAND with BN_CLICKED, posted.
void PressButton(HWND dialog, int id);
// Waits up to timeoutMs for window to be destroyed; false when it is still there.
bool WaitUntilGone(HWND window, int timeoutMs = 10000);

} // namespace testing_support
