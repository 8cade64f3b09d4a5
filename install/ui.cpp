// The installer's two message boxes and their owner (win32 tree): every box belongs to the
// backdrop window once it exists, or to the dialog that is open.
#include "ui.h"

#include <windows.h>

#include "tessel-core.h"

static struct {
    HWND owner; // none until the backdrop window exists
} U;

int Ui_Confirm(const char *text, const char *title) {
    CORE_GUARD(text);
    int answer = MessageBoxA(U.owner, text, title ? title : "Install...",
                             MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL);
    return answer != IDNO;
}

int Ui_Problem(const char *text, const char *title) {
    CORE_GUARD(text);
    MessageBoxA(U.owner, text, title ? title : "Install problem...", MB_TASKMODAL);
    return 1;
}

void Ui_SetOwner(void *window) { U.owner = (HWND)window; }
void *Ui_GetOwner(void) { return U.owner; }

// The window's WM_DESTROY ends the message loop.
int Ui_DestroyWindow(void *window) { return DestroyWindow((HWND)window) != 0; }
