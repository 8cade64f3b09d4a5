// The uninstaller's Win32 operations bound into its record of actions: the Win32 modules'
// windows, servers, Programs folder and progress bar, and the removal of its registry keys.
#include "uninstall-system.h"

#include <windows.h>

#include "dialogs.h"
#include "programs.h"
#include "shortcuts.h"
#include "uninst.h"

static int DeleteEntryKey(const char *keyName) {
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName) == ERROR_SUCCESS;
}

static int DeletePathValue(const char *registryPath) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, registryPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    RegDeleteValueA(key, INSTALL_PATH_VALUE);
    RegCloseKey(key);
    return 1;
}

static int DeleteEmptyKey(const char *path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD subkeys = 1, values = 1;
    LONG queried = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL,
                                    NULL, NULL, NULL);
    RegCloseKey(key);
    return queried == ERROR_SUCCESS && subkeys == 0 && values == 0 &&
           RegDeleteKeyA(HKEY_CURRENT_USER, path) == ERROR_SUCCESS;
}

static const UninstallActions SYSTEM_UNINSTALL = {
    Wnd_CloseMatching,  // CloseWindows
    Ole_Register,       // RegisterServer
    Shell_ProgramsPath, // ProgramsPath
    DeleteEntryKey,     // DeleteEntryKey
    DeletePathValue,    // DeletePathValue
    DeleteEmptyKey,     // DeleteEmptyKey
    Progress_Set,       // SetProgress
};

const UninstallActions *UninstallSystem_Get(void) { return &SYSTEM_UNINSTALL; }
