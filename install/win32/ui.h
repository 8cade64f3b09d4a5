// The installer's two message boxes and their owner (ui.cpp, win32 tree). The script engine
// reaches them through its actions (actions.h); the Win32 modules call them directly.
#pragma once

// Yes/No question owned by the owner window (a null title means "Install..."). Returns 0 only
// when the answer is No; in quiet mode it is not shown and the answer is No.
int Ui_Confirm(const char *text, const char *title);
// Problem notice with OK (a null title means "Install problem..."); in quiet mode it is not
// shown and counts as acknowledged. Always returns 1.
int Ui_Problem(const char *text, const char *title);
// The owner of every box: none until the backdrop window exists.
void Ui_SetOwner(void *window);
void *Ui_GetOwner(void);
// Destroys a window of the installer (the script's end closes the backdrop window).
int Ui_DestroyWindow(void *window);
