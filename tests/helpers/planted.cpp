// A DLL for the tests of the restricted DLL search: a test plants it beside a program under the
// name of a DLL that the program loads while it runs. When it is loaded it appends one line,
// its own path and the program that loaded it, to the file named by the environment variable
// TESSEL_PLANTED_MARKER, and refuses to stay loaded (DllMain returns FALSE).
#include <windows.h>

#include <string.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char marker[MAX_PATH], self[MAX_PATH] = "", program[MAX_PATH] = "";
    if (!GetEnvironmentVariableA("TESSEL_PLANTED_MARKER", marker, sizeof marker)) return FALSE;
    GetModuleFileNameA(instance, self, sizeof self);
    GetModuleFileNameA(NULL, program, sizeof program);
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    DWORD written = 0;
    WriteFile(file, self, (DWORD)strlen(self), &written, NULL);
    WriteFile(file, " loaded by ", 11, &written, NULL);
    WriteFile(file, program, (DWORD)strlen(program), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
    return FALSE;
}
