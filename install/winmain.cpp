// The setup program's entry point and main sequence: start-up of the support library, the
// archive of its own executable and its integrity check, the script's quiet run or its two
// interactive runs around the backdrop window, the shutdown in its fixed order and the exit
// code; also the backdrop window's procedure and the two message boxes every Part uses.
#include <windows.h>

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
    case WM_QUERYDRAGICON:
        return (LRESULT)W.icon;
    case WM_CLOSE:
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
    if (classRegistered) UnregisterClassA(INSTALL_CLASS, W.instance);
    Log_Print("Successful Exit...\n");
    return exitCode;
}

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

static int RunInteractive(void) {
    if (!Script_Run(W.state, NULL)) {
        Log_Print("Script failed somewhere\n");
        return Shutdown(1, 0, INSTALL_EXIT_FAILED);
    }
    if (!RegisterWindowClass()) return INSTALL_EXIT_NO_ARCHIVE;
    W.instance = GetModuleHandleA(NULL);
    W.window = CreateWindowExA(0, INSTALL_CLASS, "Install", WS_POPUP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL,
                               W.instance, NULL);
    if (!W.window) return INSTALL_EXIT_NO_ARCHIVE;
    Ui_SetOwner(W.window);
    ShowWindow(W.window, SW_SHOWMAXIMIZED);
    UpdateWindow(W.window);
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
