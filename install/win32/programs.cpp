// Other programs (win32 tree): starting them through the shell, registering COM servers through
// their own entry points, and closing the windows of a running program.
#include "programs.h"

#include <windows.h>

#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "ui.h"

// ---- Other programs: starting them, COM servers, closing windows ----

enum {
    PROC_WAIT_SLICE = 500, // milliseconds of waiting between two message pumps
    WND_CAPTION_SIZE = 32, // "Attempt #10"
};

int Proc_Run(const char *file, const char *parameters, int wait, int32_t *exitCode) {
    CORE_GUARD(file);
    CORE_GUARD(parameters);
    CORE_GUARD(exitCode);
    *exitCode = 0;
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWDEFAULT;
    if (!ShellExecuteExA(&info)) {
        Log_Print("Unable to execute '%s' '%s' 0x%.8X\n", file, parameters,
                  (unsigned)GetLastError());
        return 1;
    }
    // A document opened by a program that was running already comes without a process.
    if (!info.hProcess) return 1;
    if (wait == 1) {
        do {
            Sys_PumpMessages();
        } while (WaitForSingleObject(info.hProcess, PROC_WAIT_SLICE) == WAIT_TIMEOUT);
        DWORD code = 0;
        if (GetExitCodeProcess(info.hProcess, &code)) {
            *exitCode = (int32_t)code;
        } else {
            DWORD error = GetLastError();
            Log_Print("Failed to get exit code (%d) (0x%.8X)\n", (int)error, (unsigned)error);
        }
    }
    CloseHandle(info.hProcess);
    return 1;
}

typedef HRESULT(STDAPICALLTYPE *ServerEntry)(void);

int Ole_Register(const char *path, int reg) {
    CORE_GUARD(path);
    HMODULE server = (HMODULE)Sys_LoadDll(path);
    if (!server) {
        Log_Print("Error attempting to load '%s' (0x%.8X)\n", path, (unsigned)GetLastError());
        return 0;
    }
    int result = 0;
    if ((uintptr_t)server < 32) {
        Log_Print("Failed to load '%s' (0x%.8X)\n", path, (unsigned)GetLastError());
    } else {
        ServerEntry entry = (ServerEntry)(void *)GetProcAddress(
            server, reg == 1 ? "DllRegisterServer" : "DllUnregisterServer");
        if (!entry)
            Log_Print("Couldn't get entry point from '%s'\n", path);
        else if (FAILED(entry()))
            Log_Print("Failed in executing entry point from '%s'\n", path);
        else
            result = 1;
    }
    FreeLibrary(server);
    return result;
}

// Reads a name of the window (GetClassNameA or GetWindowTextA) to WND_NAME_LIMIT - 1
// characters. 0 for a name that cannot be read or is empty, -1 for one that fills the limit
// (it may have been cut, so it equals nothing), else 1.
static int ReadWindowName(HWND window, int title, char *name) {
    int length = title ? GetWindowTextA(window, name, WND_NAME_LIMIT)
                       : GetClassNameA(window, name, WND_NAME_LIMIT);
    if (length <= 0) {
        name[0] = 0;
        return 0;
    }
    return length >= WND_NAME_LIMIT - 1 ? -1 : 1;
}

// One test of a window name against the wanted one: 0 when they differ (the window is no
// match), 1 when they agree, 2 when no test could be made.
static int CompareWindowName(HWND window, int title, const char *wanted, int mode) {
    if (!wanted[0]) return 2;
    char name[WND_NAME_SIZE];
    int read = ReadWindowName(window, title, name);
    if (read == 0) return 2;
    Log_Print(title ? "Window CmpName %d: [%s / %s]\n" : "Window CmpClass %d: [%s / %s]\n",
              (int)mode, name, wanted);
    return read == 1 && Str_EqualNoCase(name, wanted);
}

int Wnd_MatchProc(SysWindow window, WindowSearch *search) {
    CORE_GUARD(search);
    HWND handle = (HWND)window;
    if (!IsWindow(handle)) return 1;
    int classTest = CompareWindowName(handle, 0, search->Class, search->Mode);
    if (classTest == 0) return 1;
    int titleTest = CompareWindowName(handle, 1, search->Title, search->Mode);
    if (titleTest == 0) return 1;
    if (classTest == 2 && titleTest == 2) return 1; // nothing could be tested
    Log_Print("Window Match %d: [%s / %s]\n", (int)search->Mode, search->Title, search->Class);
    search->Matches++;
    switch (search->Mode) {
    case WND_CLOSE_SILENT:
        SendMessageA(handle, WM_CLOSE, 0, 0);
        return 1;
    case WND_CLOSE_TELL:
        Ui_Problem(search->Prompt, NULL);
        return 0;
    case WND_CLOSE_ASK: {
        char caption[WND_CAPTION_SIZE];
        Str_Format(caption, sizeof caption, "Attempt #%d", (int)search->Attempt + 1);
        Log_Print("Prompt [%s] [%s]\n", search->Prompt, caption);
        if (!Ui_Confirm(search->Prompt, caption)) {
            search->Cancelled = 1;
            return 0;
        }
        Log_Print("Prompt True\n");
        SendMessageA(handle, WM_CLOSE, 0, 0);
        return 1;
    }
    default:
        return 1;
    }
}

static BOOL CALLBACK MatchThunk(HWND window, LPARAM search) {
    return Wnd_MatchProc(window, (WindowSearch *)search) ? TRUE : FALSE;
}

int Wnd_CloseMatching(InstallState *state, int mode, int32_t budget, const char *title,
                      const char *windowClass, const char *relaunch, const char *prompt) {
    CORE_GUARD(state);
    CORE_GUARD(title);
    CORE_GUARD(windowClass);
    CORE_GUARD(relaunch);
    CORE_GUARD(prompt);
    if (budget < WND_MIN_BUDGET) budget = WND_MIN_BUDGET;
    Log_Print("Find [%d] Windows = '%s' / '%s' [%s]\n", mode, title, windowClass, relaunch);
    // Refused, never cut: a cut name would match the windows of another program.
    int longest =
        Str_Length(title) > Str_Length(windowClass) ? Str_Length(title) : Str_Length(windowClass);
    if (longest >= WND_NAME_SIZE) {
        Log_Print("Window name too long (%d > %d)\n", longest, WND_NAME_SIZE - 1);
        state->RelaunchPath[0] = 0;
        return 0;
    }
    DWORD pause = (DWORD)(budget / WND_ATTEMPTS);
    if (pause < WND_MIN_PAUSE) pause = WND_MIN_PAUSE;
    WindowSearch search;
    for (int attempt = 0; attempt < WND_ATTEMPTS; attempt++) {
        ZeroMemory(&search, sizeof search);
        Str_Format(search.Prompt, sizeof search.Prompt, "%s", prompt); // cut: only shown
        Str_Copy(search.Class, windowClass);
        Str_Copy(search.Title, title);
        search.Mode = mode;
        search.Attempt = attempt;
        EnumWindows(MatchThunk, (LPARAM)&search);
        if (search.Cancelled) break;
        if (search.Matches == 0) {
            if (attempt == 0) state->RelaunchPath[0] = 0; // it was not running
            return 1;
        }
        if (mode == WND_CLOSE_TELL) break;
        if (attempt + 1 < WND_ATTEMPTS) Sleep(pause);
    }
    state->RelaunchPath[0] = 0;
    return 0;
}
