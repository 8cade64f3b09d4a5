// The text dialogs and the progress window of the installer (dialog.cpp, win32 tree): the
// welcome-message and licence-agreement dialogs that show a text file of the archive, and the
// small modeless window whose bar follows INSTALL. The backdrop window creates and destroys
// the progress window; MESSAGE, AGREEMENT and INSTALL use the rest.
#pragma once
#include <stdint.h>

enum {
    TEXTDLG_CAPTION_SIZE = 80,     // a dialog title holds at most 79 characters
    TEXTDLG_MESSAGE_ID = 1003,     // template of the message dialog ...
    TEXTDLG_MESSAGE_TEXT = 1013,   // ... and its read-only text field
    TEXTDLG_AGREEMENT_ID = 1006,   // template of the licence-agreement dialog ...
    TEXTDLG_AGREEMENT_TEXT = 1026, // ... and its text field
    TEXTDLG_BUTTON_GO_ON = 1,      // "Continue" / "I Accept": the dialog's result 1
    TEXTDLG_BUTTON_LEAVE = 2,      // "Exit Setup" / "I Do Not Accept", also Escape: result 0
    PROGRESS_DIALOG_ID = 117,      // template of the progress window ...
    PROGRESS_BAR_ID = 1012,        // ... and its bar
};

// What one text dialog shows; cleared, filled by the caller and handed over as the dialog's
// creation parameter. The text belongs to the caller for the length of the dialog.
typedef struct TextDialogParam {
    char Caption[TEXTDLG_CAPTION_SIZE]; // the dialog's title, cut to 79 characters
    char *Text;                         // zero-terminated, lines joined
    int32_t Size;                       // the text file's size in bytes
    int32_t Control;                    // id of the text field in the template
} TextDialogParam;

// Load the archive's text file name (through Ffs_GetSize and Ffs_Load), join its lines and
// show it in the message or agreement dialog owned by owner (the backdrop window or null).
// Return 1 when the user goes on ("Continue", "I Accept"), 0 when the user leaves (the other
// button, Escape, closing the dialog), and 0 with one log line when the text cannot be loaded
// or the dialog cannot be shown. A longer caption is cut to 79 characters.
int TextDlg_Message(void *owner, const char *caption, const char *name);
int TextDlg_Agreement(void *owner, const char *caption, const char *name);

// Creates the hidden progress window over parent (the backdrop window) from the template of
// instance (null: the running program). Returns 1; 0 with one log line when the window cannot
// be created (Progress_Show and Progress_Set then change nothing). A window made before is
// destroyed first.
int Progress_Create(void *instance, void *parent);
// 1: centre the window over its parent (the desktop when it has none) and show it; any other
// value hides it. Returns 1, also while there is no progress window.
int Progress_Show(int show);
// Moves the bar to percent (20 steps a percent, clamped to 0..100 %) and dispatches the
// waiting window messages. Returns 1; without a progress window it does nothing.
int Progress_Set(double percent);
// Destroys the progress window and forgets it. Returns 1, also when there is none.
int Progress_Destroy(void);
// The progress window; null before Progress_Create, after Progress_Destroy and once it was
// destroyed with its parent.
void *Progress_Window(void);

#if defined(_WIN32)
#include "tessel-sys.h"
// The dialog procedures (window, message, wparam, lparam), in portable types: the dialogs run
// them through thunks of the platform's calling convention.
intptr_t TextDlg_Proc(SysWindow dialog, unsigned message, uintptr_t wparam, intptr_t lparam);
intptr_t Progress_Proc(SysWindow dialog, unsigned message, uintptr_t wparam, intptr_t lparam);
#endif
