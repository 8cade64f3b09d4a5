// The platform seam on Win32: the needs of the log and the fatal path (command line, module
// path, error box, sleep, the library mutex, the console), and below them the thin wrappers of
// the setup program over fonts, registry, COM, directories, dialog items and windows.
#include "tessel-sys.h"

#include <windows.h>

#include "tessel-core.h"
#include "tessel-str.h"

// ---- Needs of the log and the fatal path ----

const char *Sys_CommandLine(void) { return GetCommandLineA(); }

int Sys_ExecutablePath(char *buffer, int size) {
    if (size < 1) return 0;
    DWORD length = GetModuleFileNameA(NULL, buffer, (DWORD)size);
    if (length >= (DWORD)size) length = (DWORD)size - 1; // cut: XP does not terminate
    buffer[length] = 0;
    return (int)length;
}

void Sys_ErrorWrite(const char *text, const char *caption) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE) return;
    DWORD written;
    int length = lstrlenA(text);
    WriteFile(error, "[", 1, &written, NULL);
    WriteFile(error, caption, lstrlenA(caption), &written, NULL);
    WriteFile(error, "]\n", 2, &written, NULL);
    WriteFile(error, text, (DWORD)length, &written, NULL);
    if (length == 0 || text[length - 1] != '\n') WriteFile(error, "\n", 1, &written, NULL);
}

void Sys_ErrorBox(const char *text, const char *caption) {
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONERROR);
}

void Sys_Sleep(int milliseconds) { Sleep((DWORD)milliseconds); }

// A critical section: recursive for its owning thread, and of this process only. Unlike a
// kernel mutex it is taken and released without a call into the system while nobody else holds
// it, which the library lock, taken by every guard and log line, is nearly always (a kernel
// mutex costs a round trip to the server per take and release under Wine).
void *Sys_MutexCreate(void) {
    CRITICAL_SECTION *section =
        (CRITICAL_SECTION *)HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION));
    if (section) InitializeCriticalSection(section);
    return section;
}
int Sys_MutexTake(void *mutex) {
    EnterCriticalSection((CRITICAL_SECTION *)mutex);
    return 1;
}
void Sys_MutexRelease(void *mutex) { LeaveCriticalSection((CRITICAL_SECTION *)mutex); }
void Sys_MutexDestroy(void *mutex) {
    DeleteCriticalSection((CRITICAL_SECTION *)mutex);
    HeapFree(GetProcessHeap(), 0, mutex);
}

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
//
// Paths come back in one canonical form: backslashes only, directories with a trailing
// backslash. Each wrapper answers 1 or 0 and logs where the caller's diagnosis needs it.

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>

enum { BROWSE_PATH_SIZE = 320, BROWSE_NAME_SIZE = 260 };

// ---- Fonts ----

// Font_Add and Font_Remove differ only in the call and the word of their log line.
static int ChangeFont(const char *path, int add) {
    CORE_GUARD(path);
    int changed = add ? AddFontResourceA(path) : RemoveFontResourceA(path);
    if (!changed) {
        DWORD error = GetLastError();
        Log_Print("Unable to %s font resource for '%s' (0x%.8X)\n", add ? "add" : "remove", path,
                  (unsigned)error);
        SetLastError(error); // for the caller's own report; the log's writes may change it
        return 0;
    }
    SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    return 1;
}

int Font_Add(const char *path) { return ChangeFont(path, 1); }
int Font_Remove(const char *path) { return ChangeFont(path, 0); }

// ---- Registry ----

static const struct {
    int code;
    HKEY root;
} RegRoots[] = {
    {REG_ROOT_USER, HKEY_CURRENT_USER},     {REG_ROOT_DYN, HKEY_DYN_DATA},
    {REG_ROOT_PERF, HKEY_PERFORMANCE_DATA}, {REG_ROOT_MACHINE, HKEY_LOCAL_MACHINE},
    {REG_ROOT_CLASSES, HKEY_CLASSES_ROOT},  {REG_ROOT_CONFIG, HKEY_CURRENT_CONFIG},
};

// Unknown codes name the current user's root.
static HKEY RootOf(int rootCode) {
    for (unsigned i = 0; i < sizeof RegRoots / sizeof RegRoots[0]; i++)
        if (RegRoots[i].code == rootCode) return RegRoots[i].root;
    return HKEY_CURRENT_USER;
}

int Reg_CreateKey(SysKey *key, int rootCode, const char *subkey) {
    CORE_GUARD(key);
    CORE_GUARD(subkey);
    *key = NULL;
    HKEY handle;
    DWORD disposition;
    if (RegCreateKeyExA(RootOf(rootCode), subkey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        NULL, &handle, &disposition) != ERROR_SUCCESS)
        return 0;
    *key = handle;
    return 1;
}

int Reg_OpenKey(SysKey *key, int rootCode, const char *subkey) {
    CORE_GUARD(key);
    CORE_GUARD(subkey);
    *key = NULL;
    HKEY handle;
    if (RegOpenKeyExA(RootOf(rootCode), subkey, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        return 0;
    *key = handle;
    return 1;
}

int Reg_CloseKey(SysKey *key) {
    CORE_GUARD(key);
    if (*key) RegCloseKey((HKEY)*key);
    *key = NULL;
    return 1;
}

int Reg_KeyExists(int rootCode, const char *subkey) {
    SysKey key;
    if (!Reg_OpenKey(&key, rootCode, subkey)) return 0;
    return Reg_CloseKey(&key);
}

// Opens subkey of the root when it exists and creates it otherwise; a key that can be neither
// ends the run.
int Reg_OpenOrCreateKey(SysKey *key, int rootCode, const char *subkey) {
    if (Reg_KeyExists(rootCode, subkey)) {
        if (!Reg_OpenKey(key, rootCode, subkey)) {
            Core_Locate(__FILE__, __LINE__);
            Core_Abort("Unable to open key '%s'\n", subkey);
        }
    } else if (!Reg_CreateKey(key, rootCode, subkey)) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("Unable to create key '%s'\n", subkey);
    }
    return 1;
}

int Reg_SetValue(SysKey key, uint32_t type, const char *typeName, const char *valueName,
                 const void *data, int size) {
    CORE_GUARD(typeName);
    CORE_GUARD(valueName);
    CORE_GUARD(data);
    if (size < 0 || RegSetValueExA((HKEY)key, valueName, 0, type, (const BYTE *)data,
                                   (DWORD)size) != ERROR_SUCCESS) {
        Log_Print("Unable to set registry '%s' %s\n", valueName, typeName);
        return 0;
    }
    return 1;
}

// Reads the value; on success *length is the number of bytes stored in buffer.
static int GetValue(SysKey key, uint32_t type, const char *typeName, const char *valueName,
                    void *buffer, int size, DWORD *length) {
    CORE_GUARD(typeName);
    CORE_GUARD(valueName);
    CORE_GUARD(buffer);
    DWORD storedType = 0;
    *length = size > 0 ? (DWORD)size : 0;
    if (size < 0 || RegQueryValueExA((HKEY)key, valueName, NULL, &storedType, (BYTE *)buffer,
                                     length) != ERROR_SUCCESS) {
        Log_Print("Unable to get registry '%s' %s\n", valueName, typeName);
        return 0;
    }
    if (storedType != type) {
        Log_Print("Bad type for '%s' [0x%.8X != 0x%.8X]\n", valueName, (unsigned)storedType,
                  (unsigned)type);
        return 0;
    }
    return 1;
}

int Reg_GetValue(SysKey key, uint32_t type, const char *typeName, const char *valueName,
                 void *buffer, int size) {
    DWORD length;
    return GetValue(key, type, typeName, valueName, buffer, size, &length);
}

// Stored without the terminating zero: the value's size is the text's length.
int Reg_SetString(SysKey key, const char *valueName, const char *text) {
    CORE_GUARD(text);
    return Reg_SetValue(key, REG_SZ, "String", valueName, text, Str_Length(text));
}

// Strings may be stored with or without their zero; the buffer always ends terminated. A text
// that leaves no room for the zero is refused rather than cut, and any failure leaves "".
int Reg_GetString(SysKey key, const char *valueName, char *buffer, int size) {
    CORE_GUARD(buffer);
    if (size < 1) return 0;
    DWORD length;
    if (!GetValue(key, REG_SZ, "String", valueName, buffer, size, &length)) {
        buffer[0] = 0;
        return 0;
    }
    if (length > 0 && buffer[length - 1] == 0) return 1;
    if (length >= (DWORD)size) {
        Log_Print("Unable to get registry '%s' %s\n", valueName, "String");
        buffer[0] = 0;
        return 0;
    }
    buffer[length] = 0;
    return 1;
}

// ---- The DLL search ----

static struct {
    int dllSearchRestricted; // SetDefaultDllDirectories took the system folder only
} S;

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI *SetDllDirectoryFunction)(LPCSTR);

// DLLs that the system's modules load by name, lazily, for the programs' calls. They are
// loaded from the system folder at the start, so that a later load by name finds them loaded,
// whatever search the loader would use for it: a system without SetDefaultDllDirectories
// keeps the program's folder in the search, and delay-loaded imports do not follow the
// restriction everywhere (Wine resolves them with the old search). One missing from the
// system is passed over.
static const char *const PRELOADED[] = {
    "uxtheme.dll",   // the common controls' themes
    "msimg32.dll",   // their gradients and blending, a delay-loaded import of uxtheme
    "dwmapi.dll",    // window frames
    "oleacc.dll",    // the controls' accessibility
    "propsys.dll",   // the shell's properties: links, the folder picker
    "version.dll",   // version resources the shell reads
    "userenv.dll",   // profile folders
    "profapi.dll",   // the same, on newer systems
    "cryptbase.dll", // the random source behind RtlGenRandom
    "ntmarta.dll",   // the security descriptors of new folders
    "clbcatq.dll",   // COM's class catalogue
};

// kernel32 is a known DLL, always loaded from the system folder: asking it by name is safe.
int Sys_RestrictDllSearch(void) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFunction setDefault =
        kernel ? (SetDefaultDllDirectoriesFunction)(void *)GetProcAddress(
                     kernel, "SetDefaultDllDirectories")
               : NULL;
    S.dllSearchRestricted = setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!S.dllSearchRestricted && kernel) {
        SetDllDirectoryFunction setDirectory =
            (SetDllDirectoryFunction)(void *)GetProcAddress(kernel, "SetDllDirectoryA");
        if (setDirectory) setDirectory("");
    }
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        for (const char *name : PRELOADED) {
            Str_Format(path + length, (int)sizeof path - (int)length, "\\%s", name);
            LoadLibraryA(path); // a full path: no search
        }
    }
    return S.dllSearchRestricted;
}

// "C:\..." or "\\server\...": a path that no search completes.
static int IsFullPath(const char *path) {
    char letter = (char)(path[0] | 0x20);
    if (letter >= 'a' && letter <= 'z' && path[1] == ':') return path[2] == '\\' || path[2] == '/';
    return path[0] == '\\' && path[1] == '\\';
}

void *Sys_LoadDll(const char *path) {
    CORE_GUARD(path);
    if (!IsFullPath(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    // With the restricted search the flags name the folders; without it the altered search
    // starts from the DLL's own folder.
    DWORD flags = S.dllSearchRestricted
                      ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                      : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path, NULL, flags);
}

// ---- COM and common controls ----

int Sys_InitControls(void) {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = 0x1FFF; // every class from the list view up to the pager
    InitCommonControlsEx(&controls);
    return 1;
}

// S_FALSE (already initialised) is reported as well: it means a start-up out of order.
int Sys_InitCom(void) {
    if (CoInitialize(NULL) != S_OK) Log_Print("Unable to initialize COM\n");
    if (OleInitialize(NULL) != S_OK) Log_Print("Unable to initialize OLE\n");
    return 1;
}

int Sys_ExitCom(void) {
    OleUninitialize();
    CoUninitialize();
    return 1;
}

// ---- Paths ----

// The caller provides room for one more byte when addTrailing is 1.
int Path_Normalize(char *path, int addTrailing) {
    CORE_GUARD(path);
    int length = 0;
    for (; path[length]; length++)
        if (path[length] == '/') path[length] = '\\';
    if (addTrailing && (length == 0 || path[length - 1] != '\\')) {
        path[length] = '\\';
        path[length + 1] = 0;
    }
    return 1;
}

int Path_ProgramDir(char *buffer, int size) {
    CORE_GUARD(buffer);
    if (size < 1) return 0;
    DWORD length = GetModuleFileNameA(NULL, buffer, (DWORD)size);
    if (length == 0 || length >= (DWORD)size) { // a cut path would name the wrong folder
        buffer[0] = 0;
        return 0;
    }
    Path_Normalize(buffer, 0);
    char *cut = buffer;
    for (char *at = buffer; *at; at++)
        if (*at == '\\') cut = at + 1;
    *cut = 0;
    return 1;
}

// A directory that does not fit with its trailing backslash gives "" and 0, never a cut path.
static int FinishDir(char *buffer, int size, UINT length) {
    if (length == 0 || length + 2 > (UINT)size) {
        buffer[0] = 0;
        return 0;
    }
    buffer[length] = 0;
    return Path_Normalize(buffer, 1);
}

int Path_SystemDir(char *buffer, int size) {
    CORE_GUARD(buffer);
    if (size < 2) return 0;
    return FinishDir(buffer, size, GetSystemDirectoryA(buffer, (UINT)size - 1));
}

int Path_WindowsDir(char *buffer, int size) {
    CORE_GUARD(buffer);
    if (size < 2) return 0;
    return FinishDir(buffer, size, GetWindowsDirectoryA(buffer, (UINT)size - 1));
}

int Path_TempDir(char *buffer, int size) {
    CORE_GUARD(buffer);
    if (size < 2) return 0;
    return FinishDir(buffer, size, GetTempPathA((DWORD)size - 1, buffer));
}

int Path_CurrentDir(char *buffer, int size) {
    CORE_GUARD(buffer);
    if (size < 2) return 0;
    return FinishDir(buffer, size, GetCurrentDirectoryA((DWORD)size - 1, buffer));
}

// ---- Dialog items and progress bars ----

intptr_t Dlg_SendItem(SysWindow dialog, int itemId, unsigned message, uintptr_t wparam,
                      intptr_t lparam) {
    return (intptr_t)SendDlgItemMessageA((HWND)dialog, itemId, message, (WPARAM)wparam,
                                         (LPARAM)lparam);
}

int Dlg_SetEditText(SysWindow dialog, int itemId, const char *text, int limit) {
    CORE_GUARD(text);
    if (!SetDlgItemTextA((HWND)dialog, itemId, text)) return 0;
    Dlg_SendItem(dialog, itemId, EM_LIMITTEXT, (uintptr_t)limit, 0);
    Dlg_SendItem(dialog, itemId, EM_SETSEL, 0, -1);
    return 1;
}

int Dlg_GetText(SysWindow dialog, int itemId, char *buffer, int max) {
    CORE_GUARD(buffer);
    if (max < 1) return 1;
    buffer[0] = 0;
    GetDlgItemTextA((HWND)dialog, itemId, buffer, max);
    buffer[max - 1] = 0;
    return 1;
}

int Dlg_ProgressReset(SysWindow dialog, int itemId) {
    Dlg_SendItem(dialog, itemId, PBM_SETPOS, 0, 0);
    Dlg_SendItem(dialog, itemId, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_RANGE));
    return 1;
}

// Clamped before the conversion, so that huge, negative and not-a-number percentages are safe.
int Dlg_ProgressPosition(double percent) {
    double position = percent * (PROGRESS_RANGE / 100);
    if (!(position > 0)) return 0;
    if (position >= PROGRESS_RANGE) return PROGRESS_RANGE;
    return (int)position;
}

int Dlg_ProgressSet(SysWindow dialog, int itemId, double percent) {
    Dlg_SendItem(dialog, itemId, PBM_SETPOS, (uintptr_t)Dlg_ProgressPosition(percent), 0);
    return 1;
}

// ---- Messages and windows ----

// A close or quit request stays queued for the main loop.
int Sys_PumpMessages(void) {
    MSG message;
    for (;;) {
        if (!PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE)) {
            Sleep(0);
            return 1;
        }
        if (message.message == WM_CLOSE || message.message == WM_QUIT) return 1;
        if (GetMessageA(&message, NULL, 0, 0) != -1) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// Keeps the window's left and top edges on the virtual screen: a window whose left edge lies
// past the right edge (left + width) is pulled back by its width; when only moved, its own.
int Wnd_Place(SysWindow window, int x, int y, int width, int height) {
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    if (screenWidth <= 0) screenWidth = desktop.right - desktop.left;
    if (screenHeight <= 0) screenHeight = desktop.bottom - desktop.top;
    int sized = width > 0 && height > 0;
    int placedWidth = width, placedHeight = height;
    if (!sized) {
        RECT own;
        GetWindowRect((HWND)window, &own);
        placedWidth = own.right - own.left;
        placedHeight = own.bottom - own.top;
    }
    if (x < left) x = left;
    if (x > left + screenWidth) x = left + screenWidth - placedWidth;
    if (y < top) y = top;
    if (y > top + screenHeight) y = top + screenHeight - placedHeight;
    if (sized)
        SetWindowPos((HWND)window, NULL, x, y, width, height, SWP_NOZORDER);
    else
        SetWindowPos((HWND)window, NULL, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    return 1;
}

int Wnd_Center(SysWindow window, SysWindow parent) {
    RECT own, over;
    GetWindowRect((HWND)window, &own);
    GetWindowRect(parent ? (HWND)parent : GetDesktopWindow(), &over);
    int x = over.left + ((over.right - over.left) - (own.right - own.left)) / 2;
    int y = over.top + ((over.bottom - over.top) - (own.bottom - own.top)) / 2;
    return Wnd_Place(window, x, y, 0, 0);
}

int Browse_Callback(SysWindow window, unsigned message, intptr_t lparam, intptr_t data) {
    (void)lparam;
    if (message == BFFM_INITIALIZED) {
        Wnd_Center(window, GetParent((HWND)window));
        SendMessageA((HWND)window, BFFM_SETSELECTIONA, 1, (LPARAM)data);
    }
    return 0;
}

static int CALLBACK BrowseThunk(HWND window, UINT message, LPARAM lparam, LPARAM data) {
    return Browse_Callback(window, message, lparam, data);
}

// The item list of a non-empty root path, or null when the shell cannot parse it.
static LPITEMIDLIST ParseRoot(SysWindow owner, const char *path) {
    WCHAR wide[BROWSE_NAME_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, BROWSE_NAME_SIZE)) return NULL;
    IShellFolder *desktop;
    if (SHGetDesktopFolder(&desktop) != S_OK) return NULL;
    LPITEMIDLIST root = NULL;
    if (desktop->ParseDisplayName((HWND)owner, NULL, wide, NULL, &root, NULL) != S_OK) root = NULL;
    desktop->Release();
    return root;
}

// A chosen folder outside the file system (one without a path) counts as cancelled.
int Sys_BrowseFolder(SysWindow owner, const char *title, char *path, const char *initial) {
    CORE_GUARD(title);
    CORE_GUARD(path);
    CORE_GUARD(initial);
    IMalloc *allocator;
    if (SHGetMalloc(&allocator) != S_OK) return 0;
    char selected[BROWSE_PATH_SIZE];
    Str_Format(selected, sizeof selected, "%s", initial); // a longer one is cut: only a hint
    int length = Str_Length(selected);
    if (length > 0 && selected[length - 1] == '\\') selected[length - 1] = 0;

    LPITEMIDLIST root = path[0] ? ParseRoot(owner, path) : NULL;
    if (!root && SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOP, &root) != S_OK) {
        allocator->Release();
        return 0;
    }
    char displayName[BROWSE_NAME_SIZE];
    BROWSEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.hwndOwner = (HWND)owner;
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseThunk;
    info.lParam = (LPARAM)selected;
    int result = 0;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen) {
        char folder[BROWSE_PATH_SIZE] = "";
        if (SHGetPathFromIDListA(chosen, folder) && folder[0]) {
            Path_Normalize(folder, 1); // MAX_PATH + 1 fits the buffer
            Str_Copy(path, folder);
            result = 1;
        }
        allocator->Free(chosen);
    }
    allocator->Free(root);
    allocator->Release();
    return result;
}

// ---- The process's memory ----

#include <psapi.h>

typedef BOOL(WINAPI *MemoryInfoFunction)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);

// kernel32 has the call from Windows 7 on, and is a known DLL: asking it by name is safe. No
// psapi is loaded for an older system, which gives no figure.
int Sys_PeakMemory(int32_t *workingSetKB, int32_t *privateKB) {
    CORE_GUARD(workingSetKB);
    CORE_GUARD(privateKB);
    *workingSetKB = *privateKB = 0;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    MemoryInfoFunction query =
        kernel ? (MemoryInfoFunction)(void *)GetProcAddress(kernel, "K32GetProcessMemoryInfo")
               : NULL;
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    if (!query || !query(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    *workingSetKB = (int32_t)(counters.PeakWorkingSetSize / 1024);
    *privateKB = (int32_t)(counters.PeakPagefileUsage / 1024);
    return 1;
}
