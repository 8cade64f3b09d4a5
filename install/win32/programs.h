// How the installer deals with other programs (programs.cpp, win32 tree): starting a program or
// document through the shell, registering a COM server through its own entry point, and
// closing the windows of a running program. EXECUTE, OLE and WINDOW reach them through the
// engine's actions, DONE starts the relaunch program; the close modes and the name size are the
// actions' (actions.h).
#pragma once
#include <stdint.h>

#include "actions.h"
#include "state.h"

enum {
    WND_NAME_LIMIT = 115,  // a window's own class and title are read to 114 characters
    WND_ATTEMPTS = 10,     // searches before the windows count as not closing
    WND_MIN_BUDGET = 1000, // milliseconds: a smaller time budget is raised to this
    WND_MIN_PAUSE = 100,   // milliseconds between two searches at least
};

// One search over the top-level windows, cleared before every attempt.
typedef struct WindowSearch {
    int32_t Mode;      // a WndCloseMode; any other value only counts the matches
    int32_t Attempt;   // from 0
    int32_t Cancelled; // 1 when the user answered No in WND_CLOSE_ASK
    int32_t Matches;   // windows that matched in this attempt
    char Prompt[WND_NAME_SIZE];
    char Class[WND_NAME_SIZE]; // empty: the class is not tested
    char Title[WND_NAME_SIZE]; // empty: the title is not tested
} WindowSearch;

// Starts file (a program or a document) with the shell's "open" verb and parameters (may be
// empty), as a double click would. With wait 1 it waits for the process to end, dispatching
// the thread's messages every 500 ms, and puts its exit code into *exitCode; otherwise, and
// whenever the code cannot be had, *exitCode is 0. Always returns 1: a program that cannot be
// started, or whose exit code cannot be read, is only logged.
int Proc_Run(const char *file, const char *parameters, int wait, int32_t *exitCode);

// Loads the DLL at path (its own folder searched for its dependencies) and calls its
// "DllRegisterServer" (reg 1) or "DllUnregisterServer" (any other value). Returns 1 when the
// entry point ran and reported success; 0 with one log line when the DLL does not load, lacks
// the entry point or reports a failure. The DLL is released again in every case.
int Ole_Register(const char *path, int reg);

// Closes the top-level windows whose class and title equal class and title (ignoring ASCII
// case; an empty one is not tested, both empty match nothing) according to mode, searching up
// to WND_ATTEMPTS times, budget / 10 ms apart (the budget raised to WND_MIN_BUDGET). relaunch
// is only written to the log. Returns 1 when no matching window is left; 0 when the user
// answered No, when WND_CLOSE_TELL met a window, or when windows remain after the last search.
// state->RelaunchPath is emptied unless windows matched in the first search and were gone in a
// later one. Refused (0, RelaunchPath emptied, logged): a title or class of WND_NAME_SIZE
// characters or more; a longer prompt is cut to fit. Names of WND_NAME_LIMIT - 1 characters or
// more match no window, as a window's own names are read only that far.
int Wnd_CloseMatching(InstallState *state, int mode, int32_t budget, const char *title,
                      const char *windowClass, const char *relaunch, const char *prompt);

#if defined(_WIN32)
#include "tessel-sys.h"
// The test and the treatment of one window in one search (the EnumWindows callback, in
// portable types): returns 1 to go on with the next window, 0 to end the search.
int Wnd_MatchProc(SysWindow window, WindowSearch *search);
#endif
