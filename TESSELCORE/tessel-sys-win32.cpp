// The platform seam on Win32: the needs of the log and the fatal path (command line, module
// path, error box, sleep, the library mutex, the console), and below them the thin wrappers of
// the setup program over fonts, registry, COM, directories, dialog items and windows.
#include "tessel-sys.h"

#include <windows.h>

#include "tessel-core.h"

// ---- Needs of the log and the fatal path ----

const char *Sys_CommandLine(void) { return GetCommandLineA(); }

int Sys_ExecutablePath(char *buffer, int size) {
    if (size < 1) return 0;
    DWORD length = GetModuleFileNameA(NULL, buffer, (DWORD)size);
    if (length >= (DWORD)size) length = (DWORD)size - 1; // cut: XP does not terminate
    buffer[length] = 0;
    return (int)length;
}

// The box, and the same text on the standard error handle when the program has one (started
// from a console or with its output redirected), where a person or a test can read it.
void Sys_ErrorBox(const char *text, const char *caption) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(error, "[", 1, &written, NULL);
        WriteFile(error, caption, lstrlenA(caption), &written, NULL);
        WriteFile(error, "]\n", 2, &written, NULL);
        WriteFile(error, text, lstrlenA(text), &written, NULL);
    }
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONERROR);
}

void Sys_Sleep(int milliseconds) { Sleep((DWORD)milliseconds); }

// A Win32 mutex is recursive for its owning thread.
void *Sys_MutexCreate(void) { return CreateMutexA(NULL, FALSE, NULL); }
int Sys_MutexTake(void *mutex) { return WaitForSingleObject((HANDLE)mutex, INFINITE) != WAIT_FAILED; }
void Sys_MutexRelease(void *mutex) { ReleaseMutex((HANDLE)mutex); }
void Sys_MutexDestroy(void *mutex) { CloseHandle((HANDLE)mutex); }

void *Sys_ConsoleOpen(const char *title) {
    AllocConsole();
    SetConsoleTitleA(title);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    return output == INVALID_HANDLE_VALUE ? NULL : (void *)output;
}

void Sys_ConsoleWrite(void *console, const char *text, int length) {
    if (!console) return;
    DWORD written;
    WriteFile((HANDLE)console, text, (DWORD)length, &written, NULL);
}

// ---- Win32 wrappers of the setup program ----
