// A COM-server-like DLL for the tests of Ole_Register: its self-registration entry points
// append their name to the file "<the DLL's path>.log", or to the file TESSEL_SERVER_LOG names
// when that is set (a test that must leave the DLL's folder as it was). TESSEL_SERVER_RESULT, when
// set, is the HRESULT they return (default S_OK). Built twice: comserver.dll with both entry
// points, and relayserver.dll (RELAY_ONLY) with only DllRegisterServer, which records
// "RelayRegisterServer" through comserver.dll, so that it loads only where that dependency is
// found.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#if defined(RELAY_ONLY)
extern "C" __declspec(dllimport) HRESULT RecordEntry(const char *entry);

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
    return RecordEntry("RelayRegisterServer");
}
#else
static HMODULE g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT RecordEntry(const char *entry) {
    char path[MAX_PATH + 8];
    if (!GetEnvironmentVariableA("TESSEL_SERVER_LOG", path, MAX_PATH)) {
        DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
        strcpy(path + length, ".log");
    }
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, entry, (DWORD)strlen(entry), &written, NULL);
        WriteFile(file, "\n", 1, &written, NULL);
        CloseHandle(file);
    }
    char result[32];
    if (GetEnvironmentVariableA("TESSEL_SERVER_RESULT", result, sizeof result))
        return (HRESULT)strtoul(result, NULL, 0);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
    return RecordEntry("DllRegisterServer");
}
extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
    return RecordEntry("DllUnregisterServer");
}
#endif
