// The installer's two message boxes and their owner (win32 tree): every box belongs to the
// backdrop window once it exists, or to the dialog that is open. In quiet mode neither is shown:
// the log and the standard error handle get its text and the safe answer taken, No or OK.
#include "ui.h"

#include <windows.h>

#include "actions.h"
#include "tessel-core.h"

static struct {
    HWND owner; // none until the backdrop window exists
} U;

int Ui_Confirm(const char *text, const char *title) {
    CORE_GUARD(text);
    if (!title) title = ACTIONS_CONFIRM_TITLE;
    if (Core_Quiet()) {
        Core_QuietReport(title, text, "No");
        return 0;
    }
    int answer = MessageBoxA(U.owner, text, title, MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL);
    return answer != IDNO;
}

int Ui_Problem(const char *text, const char *title) {
    CORE_GUARD(text);
    if (!title) title = ACTIONS_PROBLEM_TITLE;
    if (Core_Quiet()) return Core_QuietReport(title, text, "OK");
    MessageBoxA(U.owner, text, title, MB_TASKMODAL);
    return 1;
}

void Ui_SetOwner(void *window) { U.owner = (HWND)window; }
void *Ui_GetOwner(void) { return U.owner; }

// The window's WM_DESTROY ends the message loop.
int Ui_DestroyWindow(void *window) { return DestroyWindow((HWND)window) != 0; }
