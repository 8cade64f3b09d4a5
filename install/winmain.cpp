// The setup program's entry point and main sequence: start-up of the support library, the
// archive of its own executable and its integrity check, the script's quiet run or its two
// interactive runs around the backdrop window, the shutdown in its fixed order and the exit
// code; also the backdrop window's procedure and the two message boxes every Part uses.
#include <windows.h>

#include <math.h>

#include "backdrop.h"
#include "command.h"
#include "dialogs.h"
#include "ffs-cmp2.h"
#include "ffs.h"
#include "iscript.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "ui.h"
#include "winmain.h"

#define INSTALL_NAME "Install"
#define INSTALL_VERSION "1.54"
#define INSTALL_BUILD "Release"
#define INSTALL_CLASS "InstallGotClass"

enum { ICON_ID = 104, OWN_PATH_SIZE = 320, LOG_ARGUMENT_LIMIT = 1900 };

static struct {
    InstallState *state;
    HWND window;
    HWND owner;
    HINSTANCE instance;
    int32_t mode;
    char ownPath[OWN_PATH_SIZE];
    HICON icon;
    int aborted; // the user chose to end the installation after a failed command
} W;

// ---- Message boxes ----

int Ui_Confirm(const char *text, const char *title) {
    CORE_GUARD(text);
    int answer = MessageBoxA(W.owner, text, title ? title : "Install...",
                             MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL);
    return answer != IDNO;
}

int Ui_Problem(const char *text, const char *title) {
    CORE_GUARD(text);
    MessageBoxA(W.owner, text, title ? title : "Install problem...", MB_TASKMODAL);
    return 1;
}

void Ui_SetOwner(void *window) { W.owner = (HWND)window; }
void *Ui_GetOwner(void) { return W.owner; }

// The window's WM_DESTROY ends the message loop.
int Ui_DestroyWindow(void *window) { return DestroyWindow((HWND)window) != 0; }

// ---- Backdrop window ----

int Backdrop_Refresh(void *window) {
    InvalidateRect((HWND)window, NULL, TRUE);
    return 1;
}

// The gradient at band or palette entry i of 256, t = i / 256: the entry is
// (int)(S * (1 - t) + E * t) and the band (int)((int)(S * (1 - t)) + E * t), whose start share
// is truncated on its own. Every division is by 256, so the real numbers are exact and these
// integer forms give the same values.
static int PaletteChannel(int start, int end, int i) { return (start * (256 - i) + end * i) >> 8; }
static int BandChannel(int start, int end, int i) {
    return (((start * (256 - i)) >> 8) + ((end * i) >> 8)) & 0xFF;
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
    for (int i = 0; i < 256; i++) {
        ramp.entries[i].peRed = (BYTE)PaletteChannel(startRed, endRed, i);
        ramp.entries[i].peGreen = (BYTE)PaletteChannel(startGreen, endGreen, i);
        ramp.entries[i].peBlue = (BYTE)PaletteChannel(startBlue, endBlue, i);
        ramp.entries[i].peFlags = 0;
    }
    SelectPalette(dc, CreatePalette((LOGPALETTE *)&ramp), FALSE);
    RealizePalette(dc);
    // Band i runs from (int)(i * u) to (int)((i + 1) * u), u = height / 256: exact as well.
    int height = rect->bottom - rect->top;
    for (int i = 0; i < 256; i++) {
        COLORREF colour = 0x02000000 | BandChannel(startBlue, endBlue, i) << 16 |
                          BandChannel(startGreen, endGreen, i) << 8 |
                          BandChannel(startRed, endRed, i);
        RECT band = {rect->left, rect->top + (i * height >> 8), rect->right,
                     rect->top + ((i + 1) * height >> 8)};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    return 0;
}

// Cut to what GDI draws: a script's fraction may be as large as a float holds, or infinite.
static int ToPixels(double value) {
    if (value != value) return 0;
    return value < -32768.0 ? -32768 : value > 32767.0 ? 32767 : (int)value;
}

int Backdrop_DrawText(HDC dc, const char *face, double width, double height, double x, double y,
                      const char *text, uint32_t colour, uint32_t flags) {
    CORE_GUARD(face);
    CORE_GUARD(text);
    HFONT font = CreateFontA(ToPixels(height), ToPixels(width), 0, 0, flags & BACKDROP_BOLD ? 700 : 400,
                             (flags & BACKDROP_ITALIC) != 0, (flags & BACKDROP_UNDERLINE) != 0, 0,
                             ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_ROMAN, face);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    int length = Str_Length(text);
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, text, length, &extent);
    if (flags & BACKDROP_RIGHT) x -= extent.cx;
    if (flags & BACKDROP_UP) y -= extent.cy;
    if (flags & BACKDROP_CENTERX) x -= extent.cx / 2;
    if (flags & BACKDROP_CENTERY) y -= extent.cy / 2;
    TextOutA(dc, ToPixels(x), ToPixels(y), text, length);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    return 1;
}

// A fraction of a client-area size in whole pixels, rounded down.
static double Scale(int size, float fraction) { return floor(size * (double)fraction); }

static void DrawStrings(HDC dc, const InstallState *state, int width, int height) {
    for (int32_t i = 0; i < state->StringCount; i++) {
        const BackdropString *string = &state->Strings[i];
        if (!string->Text[0]) continue; // a slot no STRING filled
        const uint8_t *c = string->Color;
        Backdrop_DrawText(dc, string->FaceName, Scale(width, string->FontWidth),
                          Scale(height, string->FontHeight), Scale(width, string->X),
                          Scale(height, string->Y), string->Text,
                          (uint32_t)(c[0] | c[1] << 8 | c[2] << 16), string->Flags);
    }
}

int Backdrop_Paint(HWND window) {
    if (!GetUpdateRect(window, NULL, FALSE)) return 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!W.state) {
        EndPaint(window, &paint);
        return 0;
    }
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    const uint8_t *s = W.state->GradientStart, *e = W.state->GradientEnd;
    Backdrop_PaintGradient(memory, &client, s[0], s[1], s[2], e[0], e[1], e[2]);
    DrawStrings(memory, W.state, client.right, client.bottom);
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
        if (Script_Run(W.state, window)) return;
        char title[INSTALL_TEXT_SIZE];
        // Cut to the field: a title, never stored.
        Str_Format(title, sizeof title, "%s Installation...", W.state->ProductName);
        if (Ui_Confirm("Do you want to abort the installation?", title)) {
            W.aborted = 1;
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
        Str_Format(title, sizeof title, "%s Installation", W.state ? W.state->ProductName : "");
        SetWindowTextA(window, title);
        W.icon = LoadIconA(W.instance, MAKEINTRESOURCEA(ICON_ID));
        SendMessageA(window, WM_SETICON, ICON_BIG, (LPARAM)W.icon);
        SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)W.icon);
        Progress_Create(W.instance, window); // hidden until INSTALL shows it
        return 1;
    }
    case WM_ERASEBKGND:
        return 1; // the paint covers the whole client area
    case WM_PAINT:
        return Backdrop_Paint(window);
    case WM_QUERYDRAGICON:
        return (LRESULT)W.icon;
    case WM_CLOSE:
        // Destroyed rather than sent WM_DESTROY: a window only told of its end would stay.
        DestroyWindow(window);
        return 1;
    case WM_DESTROY:
        Progress_Destroy();
        if (W.icon) DestroyIcon(W.icon);
        W.icon = NULL;
        PostQuitMessage(0);
        return 0;
    case WM_RUNSCRIPT:
        RunRestOfScript(window);
        return 1;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// ---- Main sequence ----

static int ScriptEnded(void) {
    return W.state && W.state->ScriptPosition == W.state->ScriptText + W.state->ScriptSize;
}

// Shutdown steps 1 to 5 (from the archive on when there is no script), then the class and the
// closing line. Exit code 1 when the script ran to its end, 2 when it stopped on a failed or
// unknown command or the user left the installation.
static int Shutdown(int releaseScript, int classRegistered, int exitCode) {
    if (releaseScript) Script_Release(&W.state);
    Ffs_Close();
    Cmd_ReleaseAll();
    Sys_ExitCom();
    Mem_Shutdown();
    Log_Shutdown();
    if (classRegistered) Backdrop_Close();
    Log_Print("Successful Exit...\n");
    return exitCode;
}

int Backdrop_Close(void) { return UnregisterClassA(INSTALL_CLASS, W.instance) != 0; }

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
    W.state = state;
    if (!RegisterWindowClass()) return NULL;
    W.instance = GetModuleHandleA(NULL);
    // Made as large as the screen before it is maximised: a popup's default size is empty, and
    // a display without a window manager can leave an empty window at that size when it is
    // maximised on its first showing.
    W.window = CreateWindowExA(0, INSTALL_CLASS, "Install", WS_POPUP, 0, 0,
                               GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL,
                               NULL, W.instance, NULL);
    if (!W.window) return NULL;
    Ui_SetOwner(W.window);
    ShowWindow(W.window, SW_SHOWMAXIMIZED);
    UpdateWindow(W.window);
    return W.window;
}

static int RunInteractive(void) {
    if (!Script_Run(W.state, NULL)) {
        Log_Print("Script failed somewhere\n");
        return Shutdown(1, 0, INSTALL_EXIT_FAILED);
    }
    if (!Backdrop_Open(W.state)) return INSTALL_EXIT_NO_ARCHIVE;
    SendMessageA(W.window, WM_RUNSCRIPT, 0, 0);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        Mem_EndFrame();
    }
    Ui_SetOwner(NULL);
    int exitCode = ScriptEnded() && !W.aborted ? INSTALL_EXIT_DONE : INSTALL_EXIT_FAILED;
    return Shutdown(1, 1, exitCode);
}

int Install_Main(const char *arguments) {
    uint32_t flags = 0;
    Log_ParseOptions(&flags, arguments);
    Log_Init("debug.log", flags);
    Mem_Init(MEM_NO_LIMIT, 0);
    Sys_InitControls();
    Sys_InitCom();
    Cmd_RegisterAll();
    const char *commandLine = Sys_CommandLine();
    Log_Print("%s Version %s (%s)\n", INSTALL_NAME, INSTALL_VERSION, INSTALL_BUILD);
    // Cut for the log's line: a command line may be far longer than a log line can hold.
    Log_Print("Cmdline '%.*s' '%.*s'\n", LOG_ARGUMENT_LIMIT, commandLine, LOG_ARGUMENT_LIMIT,
              arguments);
    const char *found = NULL;
    W.mode = Str_FindNoCase(commandLine, "-Quiet", &found) ? Quiet : Interactive;
    Sys_ExecutablePath(W.ownPath, sizeof W.ownPath);
    if (!Ffs_Open(W.ownPath, 0)) {
        Ui_Problem("The installation file has been damaged, please download a new copy.", NULL);
        return Shutdown(0, 0, INSTALL_EXIT_NO_ARCHIVE);
    }
    Ffs_AddCodec(&Type2_Codec);
    if (!Core_VerifyStamp(CORE_STAMP_KEY, W.ownPath, 1, 1)) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("%s has been corrupted, please download a new copy.\n", INSTALL_NAME);
    }
    if (!Script_Load(&W.state, "install.dat", W.mode)) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("Couldn't load installation script.\n");
    }
    if (W.mode == Interactive) return RunInteractive();
    int exitCode = INSTALL_EXIT_DONE;
    if (!Script_Run(W.state, NULL)) {
        Log_Print("Script failed somewhere\n");
        exitCode = INSTALL_EXIT_FAILED;
    }
    return Shutdown(1, 0, exitCode);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
    (void)instance;
    (void)previous;
    (void)show;
    return Install_Main(arguments ? arguments : "");
}
