// A small program for the tests of starting programs and closing windows.
//   helper.exe PATH [CODE [DELAY]]   waits DELAY ms, writes its command line into PATH and
//                                    ends with exit code CODE (default 0)
//   helper.exe --window CLASS TITLE [--refuse]
//                                    shows a top-level window of that class and title until it
//                                    is closed; --refuse ignores WM_CLOSE (the test ends it);
//                                    once the window is up, the file named by the environment
//                                    variable TESSEL_HELPER_READY is created, if it is set
//   helper.exe --hold PATH           opens the existing file PATH without sharing it (no other
//                                    program can open it) and keeps it open until it is ended;
//                                    TESSEL_HELPER_READY as for --window
//   helper.exe --load NAME           loads the DLL NAME by its bare name, with the search that a
//                                    program gets by default (its own folder first); exit code
//                                    0 when it loaded, 7 when not
//   helper.exe                       writes its command line into the file named by the
//                                    environment variable TESSEL_HELPER_RAN (a program that
//                                    is started again without parameters)
#include <windows.h>

#include <stdlib.h>
#include <string.h>

static int g_refuse = 0;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE && g_refuse) return 0;
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wparam, lparam);
}

// Creates the file named by TESSEL_HELPER_READY, when that is set: the helper is ready.
static void SignalReady(void) {
    char ready[MAX_PATH] = "";
    if (GetEnvironmentVariableA("TESSEL_HELPER_READY", ready, sizeof ready))
        CloseHandle(CreateFileA(ready, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
}

static int ShowWindowUntilClosed(const char *className, const char *title) {
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass)) return 3;
    HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                  200, 100, NULL, NULL, windowClass.hInstance, NULL);
    if (!window) return 4;
    SignalReady();
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

static int HoldFile(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 6;
    SignalReady();
    Sleep(INFINITE);
    return 0;
}

int main(int argc, char **argv) {
    if (argc >= 3 && !strcmp(argv[1], "--hold")) return HoldFile(argv[2]);
    if (argc >= 3 && !strcmp(argv[1], "--load")) return LoadLibraryA(argv[2]) ? 0 : 7;
    if (argc >= 4 && !strcmp(argv[1], "--window")) {
        g_refuse = argc >= 5 && !strcmp(argv[4], "--refuse");
        return ShowWindowUntilClosed(argv[2], argv[3]);
    }
    char ran[MAX_PATH] = "";
    if (argc < 2 && !GetEnvironmentVariableA("TESSEL_HELPER_RAN", ran, sizeof ran)) return 2;
    if (argc >= 4) Sleep((DWORD)atoi(argv[3]));
    HANDLE file =
        CreateFileA(argc < 2 ? ran : argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 5;
    const char *line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(file);
    return argc >= 3 ? atoi(argv[2]) : 0;
}
