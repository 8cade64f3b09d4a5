// The backdrop window (backdrop.cpp, win32 tree): its class and creation as start-up makes them,
// its window procedure, and the painting of the gradient and the strings that the script's
// GRADIENT, FONT and STRING commands describe (backdrop.cpp); its arithmetic is geometry.h.
#pragma once
#include <stdint.h>
#include <windows.h>

#include "state.h"

enum { WM_RUNSCRIPT = 1025 }; // WM_USER + 1: runs the rest of the script inside the window

// Registers the class "InstallGotClass", creates the backdrop window for state, shows it
// maximised and paints it. Returns the window, or null when the class or the window cannot be
// made (the class then stays registered if it was).
HWND Backdrop_Open(InstallState *state);
// Unregisters the window class (after the window is gone). Returns 1 when it was registered.
int Backdrop_Close(void);
// 1 once the user chose to abort the installation after a failed command.
int Backdrop_Aborted(void);
// Has the backdrop window repainted as a whole, background included (REFRESH). Returns 1.
int Backdrop_Refresh(void *window);
LRESULT CALLBACK Backdrop_WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Fills rect with 256 horizontal bands from the start colour towards the end colour, and leaves
// a 256-entry palette of the same ramp selected into dc (the caller deletes it). Returns 0.
int Backdrop_PaintGradient(HDC dc, const RECT *rect, int startRed, int startGreen, int startBlue,
                           int endRed, int endGreen, int endBlue);
// Draws text in the font face (cell height and character width in pixels) at x, y in colour
// (a COLORREF), moved by the anchor flags (BACKDROP_RIGHT ...). Returns 1.
int Backdrop_DrawText(HDC dc, const char *face, double width, double height, double x, double y,
                      const char *text, uint32_t colour, uint32_t flags);
// WM_PAINT: composes gradient and strings off-screen and copies the update rectangle. Returns 0;
// paints nothing without an update region or an install state.
int Backdrop_Paint(HWND window);
