// The installer's two message boxes and the window the script engine knows of. Real versions
// live in winmain.cpp (win32 tree); the host tree links the stand-ins of host-ui.cpp, which
// record what would have been shown, so that the portable engine can be tested on Linux.
#pragma once

// Yes/No question owned by the owner window (a null title means "Install..."). Returns 0 only
// when the answer is No.
int Ui_Confirm(const char *text, const char *title);
// Problem notice with OK (a null title means "Install problem..."). Always returns 1.
int Ui_Problem(const char *text, const char *title);
// The owner of every box: none until the backdrop window exists.
void Ui_SetOwner(void *window);
void *Ui_GetOwner(void);
// Destroys a window of the installer (the script's end closes the backdrop window).
int Ui_DestroyWindow(void *window);
// Has the backdrop window repainted as a whole, background included (REFRESH). Returns 1.
int Backdrop_Refresh(void *window);
