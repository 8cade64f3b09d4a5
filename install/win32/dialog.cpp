// The text dialogs (welcome message, licence agreement) that show a text of the archive, and
// the small modeless progress window whose bar follows INSTALL (win32 tree).
#include "dialogs.h"

#include <windows.h>

#include "ffs.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "text.h"

enum {
    TEXT_LIMIT_EXTRA = 10,        // the field takes this many characters beyond the file
    TEXT_SIZE_LIMIT = 0x7FFFFFF0, // larger sizes would overflow the buffer and the limit
};

static struct {
    HWND progress; // the progress window, null while there is none
} P;

static INT_PTR CALLBACK TextDlgThunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return TextDlg_Proc(dialog, message, wparam, lparam);
}

intptr_t TextDlg_Proc(SysWindow dialog, unsigned message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        const TextDialogParam *param = (const TextDialogParam *)lparam;
        CORE_GUARD(param);
        SetWindowTextA((HWND)dialog, param->Caption);
        Dlg_SetEditText(dialog, param->Control, param->Text, param->Size + TEXT_LIMIT_EXTRA);
        // The setter leaves the whole text selected, the caret and the view at its end: a text
        // is read from its first line.
        SendDlgItemMessageA((HWND)dialog, param->Control, EM_SETSEL, 0, 0);
        SendDlgItemMessageA((HWND)dialog, param->Control, EM_SCROLLCARET, 0, 0);
        Wnd_Center(dialog, NULL);
        return 0; // the system leaves the keyboard focus alone
    }
    case WM_COMMAND:
        // Escape arrives as the command of button 2 (IDCANCEL).
        if (LOWORD(wparam) == TEXTDLG_BUTTON_GO_ON)
            SendMessageA((HWND)dialog, WM_CLOSE, 1, 1);
        else if (LOWORD(wparam) == TEXTDLG_BUTTON_LEAVE)
            SendMessageA((HWND)dialog, WM_CLOSE, 2, 0);
        else
            return 0;
        return 1;
    case WM_CLOSE: // from the buttons, or the system's close request with result 0
        EndDialog((HWND)dialog, LOWORD(lparam));
        return 1;
    default:
        return 0;
    }
}

// Loads the text, runs the dialog and releases the text; the dialog's 1, or 0.
static int ShowTextDialog(void *owner, const char *caption, const char *name, int templateId,
                          int control) {
    CORE_GUARD(caption);
    CORE_GUARD(name);
    TextDialogParam param;
    ZeroMemory(&param, sizeof param);
    // Two bytes more than the file: its zero, and room for the field's limit.
    FfsBlock file;
    if (Ffs_LoadBlock(name, TEXT_SIZE_LIMIT, 2, 1, &file) != FFS_LOAD_DONE) return 0;
    char *text = (char *)file.Data;
    int32_t size = file.Size;
    text[size] = 0;
    Text_JoinLines(text);
    Str_Format(param.Caption, sizeof param.Caption, "%s", caption); // cut: only a title
    param.Text = text;
    param.Size = size;
    param.Control = control;
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(templateId),
                                     (HWND)owner, TextDlgThunk, (LPARAM)&param);
    Ffs_FreeBlock(&file);
    // A dialog that could not be shown was not answered: it must not count as accepted.
    if (result == -1) Log_Print("Unable to show dialog %d\n", templateId);
    return result == 1;
}

int TextDlg_Message(void *owner, const char *caption, const char *name) {
    return ShowTextDialog(owner, caption, name, TEXTDLG_MESSAGE_ID, TEXTDLG_MESSAGE_TEXT);
}

int TextDlg_Agreement(void *owner, const char *caption, const char *name) {
    return ShowTextDialog(owner, caption, name, TEXTDLG_AGREEMENT_ID, TEXTDLG_AGREEMENT_TEXT);
}

static INT_PTR CALLBACK ProgressThunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return Progress_Proc(dialog, message, wparam, lparam);
}

intptr_t Progress_Proc(SysWindow dialog, unsigned message, uintptr_t wparam, intptr_t lparam) {
    (void)wparam;
    switch (message) {
    case WM_INITDIALOG:
        Dlg_ProgressReset(dialog, PROGRESS_BAR_ID);
        SetForegroundWindow((HWND)dialog);
        return 1;
    case WM_CLOSE:
        EndDialog((HWND)dialog, LOWORD(lparam));
        return 1;
    case WM_NCDESTROY:
        // Destroyed with its owner, too: the handle is forgotten, never reused. Not handled.
        if ((HWND)dialog == P.progress) P.progress = NULL;
        return 0;
    default:
        return 0;
    }
}

int Progress_Create(void *instance, void *parent) {
    Progress_Destroy();
    HINSTANCE module = instance ? (HINSTANCE)instance : GetModuleHandleA(NULL);
    P.progress = CreateDialogParamA(module, MAKEINTRESOURCEA(PROGRESS_DIALOG_ID), (HWND)parent,
                                    ProgressThunk, 0);
    if (!P.progress) {
        Log_Print("Unable to create the progress window\n");
        return 0;
    }
    Progress_Show(0);
    return 1;
}

// ShowWindowAsync hands the request to the window's thread without waiting for it.
int Progress_Show(int show) {
    if (!P.progress) return 1;
    if (show == 1) {
        Wnd_Center(P.progress, GetParent(P.progress)); // a pop-up's parent is its owner
        ShowWindowAsync(P.progress, SW_SHOW);
    } else {
        ShowWindowAsync(P.progress, SW_HIDE);
    }
    return 1;
}

int Progress_Set(double percent) {
    if (!P.progress) return 1;
    Dlg_ProgressSet(P.progress, PROGRESS_BAR_ID, percent);
    Sys_PumpMessages(); // the windows repaint while INSTALL works
    return 1;
}

int Progress_Destroy(void) {
    if (P.progress) DestroyWindow(P.progress);
    P.progress = NULL;
    return 1;
}

void *Progress_Window(void) { return P.progress; }
