// The SharedDLLs counts of the files in the Windows folder.
#include "sharedfiles.h"

#include <windows.h>

#include "installrecord.h"
#include "pathguard.h"
#include "tessel-core.h"
#include "tessel-sys.h"

enum { SHARED_DIR_SIZE = 320 };

int SharedFile_IsShared(const char *path) {
    CORE_GUARD(path);
    char windows[SHARED_DIR_SIZE], system[SHARED_DIR_SIZE];
    if (Path_WindowsDir(windows, sizeof windows) && PathGuard_IsInside(path, windows)) return 1;
    return Path_SystemDir(system, sizeof system) && PathGuard_IsInside(path, system);
}

int32_t SharedFile_Count(const char *path) {
    CORE_GUARD(path);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHAREDFILES_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return RECORD_NO_COUNT;
    DWORD type = 0, count = 0, size = sizeof count;
    LONG read = RegQueryValueExA(key, path, NULL, &type, (BYTE *)&count, &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof count || count > INT32_MAX)
        return RECORD_NO_COUNT;
    return (int32_t)count;
}

int SharedFile_SetCount(const char *path, int32_t count) {
    CORE_GUARD(path);
    HKEY key;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SHAREDFILES_KEY, 0, NULL, 0,
                                  KEY_SET_VALUE | KEY_QUERY_VALUE, NULL, &key, NULL);
    if (result == ERROR_SUCCESS) {
        DWORD value = (DWORD)count, values = 1, subkeys = 1;
        result = count == RECORD_DROP_COUNT
                     ? RegDeleteValueA(key, path)
                     : RegSetValueExA(key, path, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
        if (result == ERROR_SUCCESS && count == RECORD_DROP_COUNT)
            RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL,
                             NULL);
        RegCloseKey(key);
        // The last count gone from a key that only counts ever held: the key goes too, as it
        // came (a fresh 32-bit Wine prefix, or the 32-bit view of a 64-bit one, has none).
        if (values == 0 && subkeys == 0) RegDeleteKeyA(HKEY_LOCAL_MACHINE, SHAREDFILES_KEY);
    }
    if (result == ERROR_SUCCESS) return 1;
    Log_Print("Unable to set the shared count of '%s' (%ld)\n", path, (long)result);
    return 0;
}
