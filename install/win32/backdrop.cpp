// The backdrop window (win32 tree): its class and creation, its window procedure, which runs
// the rest of the script on WM_RUNSCRIPT and asks whether to abort after a failed command, and
// the painting of the gradient and the strings that GRADIENT, FONT and STRING describe.
#include "backdrop.h"

#include "dialogs.h"
#include "geometry.h"
#include "iscript.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "ui.h"

#define INSTALL_CLASS "InstallGotClass"

enum { ICON_ID = 104 };

static struct {
    InstallState *state;
    HWND window;
    HINSTANCE instance;
    HICON icon;
    int aborted; // the user chose to end the installation after a failed command
} B;

int Backdrop_Refresh(void *window) {
    InvalidateRect((HWND)window, NULL, TRUE);
    return 1;
}

int Backdrop_PaintGradient(HDC dc, const RECT *rect, int startRed, int startGreen, int startBlue,
                           int endRed, int endGreen, int endBlue) {
    CORE_GUARD(rect);
    struct {
        WORD version, count;
        PALETTEENTRY entries[256];
    } ramp;
    ramp.version = 0x300;
    ramp.count = 256;
    for (int i = 0; i < GRADIENT_BANDS; i++) {
        ramp.entries[i].peRed = (BYTE)Geometry_PaletteChannel(startRed, endRed, i);
        ramp.entries[i].peGreen = (BYTE)Geometry_PaletteChannel(startGreen, endGreen, i);
        ramp.entries[i].peBlue = (BYTE)Geometry_PaletteChannel(startBlue, endBlue, i);
        ramp.entries[i].peFlags = 0;
    }
    SelectPalette(dc, CreatePalette((LOGPALETTE *)&ramp), FALSE);
    RealizePalette(dc);
    int height = rect->bottom - rect->top;
    for (int i = 0; i < GRADIENT_BANDS; i++) {
        COLORREF colour = 0x02000000 | Geometry_BandChannel(startBlue, endBlue, i) << 16 |
                          Geometry_BandChannel(startGreen, endGreen, i) << 8 |
                          Geometry_BandChannel(startRed, endRed, i);
        RECT band = {rect->left, Geometry_BandEdge(rect->top, height, i), rect->right,
                     Geometry_BandEdge(rect->top, height, i + 1)};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    return 0;
}

int Backdrop_DrawText(HDC dc, const char *face, double width, double height, double x, double y,
                      const char *text, uint32_t colour, uint32_t flags) {
    CORE_GUARD(face);
    CORE_GUARD(text);
    HFONT font =
        CreateFontA(Geometry_ToPixels(height), Geometry_ToPixels(width), 0, 0,
                    flags & BACKDROP_BOLD ? 700 : 400, (flags & BACKDROP_ITALIC) != 0,
                    (flags & BACKDROP_UNDERLINE) != 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_ROMAN, face);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    int length = Str_Length(text);
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, text, length, &extent);
    Geometry_Anchor(&x, &y, extent.cx, extent.cy, flags);
    TextOutA(dc, Geometry_ToPixels(x), Geometry_ToPixels(y), text, length);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    return 1;
}

static void DrawStrings(HDC dc, const InstallState *state, int width, int height) {
    for (int32_t i = 0; i < state->StringCount; i++) {
        const BackdropString *string = &state->Strings[i];
        if (!string->Text[0]) continue; // a slot no STRING filled
        const uint8_t *c = string->Color;
        Backdrop_DrawText(dc, string->FaceName, Geometry_Scale(width, string->FontWidth),
                          Geometry_Scale(height, string->FontHeight),
                          Geometry_Scale(width, string->X), Geometry_Scale(height, string->Y),
                          string->Text, (uint32_t)(c[0] | c[1] << 8 | c[2] << 16), string->Flags);
    }
}

int Backdrop_Paint(HWND window) {
    if (!GetUpdateRect(window, NULL, FALSE)) return 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!B.state) {
        EndPaint(window, &paint);
        return 0;
    }
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    const uint8_t *s = B.state->GradientStart, *e = B.state->GradientEnd;
    Backdrop_PaintGradient(memory, &client, s[0], s[1], s[2], e[0], e[1], e[2]);
    DrawStrings(memory, B.state, client.right, client.bottom);
    const RECT *update = &paint.rcPaint;
    BitBlt(dc, update->left, update->top, update->right - update->left,
           update->bottom - update->top, memory, update->left, update->top, SRCCOPY);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    // The gradient's palette comes out when the stock one goes back in.
    DeleteObject(SelectPalette(memory, (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE));
    DeleteDC(memory);
    EndPaint(window, &paint);
    return 0;
}

static void RunRestOfScript(HWND window) {
    for (;;) {
        if (Script_Run(B.state, window)) return;
        char title[INSTALL_TEXT_SIZE];
        // Cut to the field: a title, never stored.
        Str_Format(title, sizeof title, "%s Installation...", B.state->ProductName);
        if (Ui_Confirm("Do you want to abort the installation?", title)) {
            B.aborted = 1;
            DestroyWindow(window);
            return;
        }
        // No: the failed command runs again from its marker (each further failure asks again).
    }
}

LRESULT CALLBACK Backdrop_WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE: {
        Ui_SetOwner(window); // boxes shown from here on, creation included, belong to it
        char title[INSTALL_TEXT_SIZE];
        Str_Format(title, sizeof title, "%s Installation", B.state ? B.state->ProductName : "");
        SetWindowTextA(window, title);
        B.icon = LoadIconA(B.instance, MAKEINTRESOURCEA(ICON_ID));
        SendMessageA(window, WM_SETICON, ICON_BIG, (LPARAM)B.icon);
        SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)B.icon);
        Progress_Create(B.instance, window); // hidden until INSTALL shows it
        return 1;
    }
    case WM_ERASEBKGND:
        return 1; // the paint covers the whole client area
    case WM_PAINT:
        return Backdrop_Paint(window);
    case WM_QUERYDRAGICON:
        return (LRESULT)B.icon;
    case WM_CLOSE:
        // Destroyed rather than sent WM_DESTROY: a window only told of its end would stay.
        DestroyWindow(window);
        return 1;
    case WM_DESTROY:
        Progress_Destroy();
        if (B.icon) DestroyIcon(B.icon);
        B.icon = NULL;
        PostQuitMessage(0);
        return 0;
    case WM_RUNSCRIPT:
        RunRestOfScript(window);
        return 1;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

int Backdrop_Close(void) { return UnregisterClassA(INSTALL_CLASS, B.instance) != 0; }

static int RegisterWindowClass(void) {
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Backdrop_WndProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOWFRAME);
    windowClass.lpszClassName = INSTALL_CLASS;
    return RegisterClassExA(&windowClass) != 0;
}

HWND Backdrop_Open(InstallState *state) {
    B.state = state;
    if (!RegisterWindowClass()) return NULL;
    B.instance = GetModuleHandleA(NULL);
    // Made as large as the screen before it is maximised: a popup's default size is empty, and
    // a display without a window manager can leave an empty window at that size when it is
    // maximised on its first showing.
    B.window =
        CreateWindowExA(0, INSTALL_CLASS, "Install", WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                        GetSystemMetrics(SM_CYSCREEN), NULL, NULL, B.instance, NULL);
    if (!B.window) return NULL;
    Ui_SetOwner(B.window);
    ShowWindow(B.window, SW_SHOWMAXIMIZED);
    UpdateWindow(B.window);
    return B.window;
}

int Backdrop_Aborted(void) { return B.aborted; }
