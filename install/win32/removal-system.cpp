// The removal's operations on the machine: the guarded folders asked of the system, the names
// the disk gives paths, deletions, folders, the remembered "Install Path" and the shared counts
// of sharedfiles.cpp, bound into the removal's record of actions.
#include "removal-system.h"

#include <windows.h>

#include <shlobj.h>

#include "installdir.h"
#include "pathtext.h"
#include "sharedfiles.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "uninst.h"

enum { DISK_NAME_SIZE = 320 + 8 };

// The CSIDL of each RemovalFolder the shell names, in the enumeration's order; 0 for those
// asked otherwise.
static const uint8_t SHELL_FOLDERS[] = {
    0,                             // RFOLDER_TEMP: GetTempPath
    0,                             // RFOLDER_WINDOWS: GetWindowsDirectory
    CSIDL_WINDOWS,                 // RFOLDER_WINDOWS_SHELL
    0,                             // RFOLDER_SYSTEM: GetSystemDirectory
    CSIDL_SYSTEMX86,               // RFOLDER_SYSTEM_X86
    0,                             // RFOLDER_PROGRAM_FILES: "$0" as the setup found it
    CSIDL_PROGRAM_FILES,           // RFOLDER_PROGRAM_FILES_SHELL
    CSIDL_PROGRAM_FILESX86,        // RFOLDER_PROGRAM_FILES_X86
    0,                             // RFOLDER_PROGRAM_FILES_NATIVE: %ProgramW6432%
    CSIDL_PROGRAM_FILES_COMMON,    // RFOLDER_COMMON_FILES
    CSIDL_PROGRAM_FILES_COMMONX86, // RFOLDER_COMMON_FILES_X86
    CSIDL_PROFILE,                 // RFOLDER_PROFILE
    CSIDL_COMMON_DOCUMENTS,        // RFOLDER_SHARED_DOCUMENTS
    CSIDL_APPDATA,                 // RFOLDER_APPDATA
    CSIDL_LOCAL_APPDATA,           // RFOLDER_LOCAL_APPDATA
    CSIDL_COMMON_APPDATA,          // RFOLDER_COMMON_APPDATA
    CSIDL_PERSONAL,                // RFOLDER_DOCUMENTS
    CSIDL_DESKTOPDIRECTORY,        // RFOLDER_DESKTOP
    CSIDL_COMMON_DESKTOPDIRECTORY, // RFOLDER_COMMON_DESKTOP
    CSIDL_STARTMENU,               // RFOLDER_START_MENU
    CSIDL_COMMON_STARTMENU,        // RFOLDER_COMMON_START_MENU
    CSIDL_FONTS,                   // RFOLDER_FONTS
};
static_assert(sizeof SHELL_FOLDERS / sizeof SHELL_FOLDERS[0] == RFOLDER_FONTS + 1,
              "one row for each folder");

static int SystemFolder(int which, char *folder, int size) {
    switch (which) {
    case RFOLDER_TEMP:
        return Path_TempDir(folder, size);
    case RFOLDER_WINDOWS:
        return Path_WindowsDir(folder, size);
    case RFOLDER_SYSTEM:
        return Path_SystemDir(folder, size);
    case RFOLDER_PROGRAM_FILES:
        return Path_MacroDir('0', folder, size) == 1;
    case RFOLDER_PROGRAM_FILES_NATIVE: {
        DWORD length = GetEnvironmentVariableA("ProgramW6432", folder, (DWORD)size);
        return length > 0 && length < (DWORD)size;
    }
    default:
        return which >= 0 && which <= RFOLDER_FONTS && SHELL_FOLDERS[which] && size >= MAX_PATH &&
               SHGetFolderPathA(NULL, SHELL_FOLDERS[which], NULL, 0, folder) == S_OK;
    }
}

typedef DWORD(WINAPI *FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);

// The "\\?\" of a drive path dropped from the name GetFinalPathNameByHandle gives (looked up at
// run time; GetLongPathName where it is missing).
static int DiskName(const char *path, char *out, int size) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    FinalPathFunction finalPath = (FinalPathFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    char name[DISK_NAME_SIZE];
    DWORD length = finalPath ? finalPath(handle, name, sizeof name, 0)
                             : GetLongPathNameA(path, name, sizeof name);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof name) return 0;
    const char *drivePath = name;
    if (Str_StartsWith(name, "\\\\?\\") && PathText_StartsWithDrive(name + 4)) drivePath += 4;
    return Str_Format(out, size, "%s", drivePath) >= 0;
}

static int PathKind(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return RPATH_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RPATH_FOLDER : RPATH_FILE;
}

static int DeleteOne(const char *path, uint32_t *error) {
    if (DeleteFileA(path)) return RDELETE_DONE;
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? RDELETE_MISSING
                                                                            : RDELETE_FAILED;
}

static int DeleteAtRestart(const char *path, uint32_t *error) {
    if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) return 1;
    *error = GetLastError();
    return 0;
}

static int RemoveFolder(const char *path) { return RemoveDirectoryA(path) != 0; }

static int RememberedPath(const char *registryPath, char *path, int size) {
    SysKey key;
    if (!Reg_OpenKey(&key, REG_ROOT_USER, registryPath)) return 0;
    int remembered =
        RegQueryValueExA((HKEY)key, INSTALL_PATH_VALUE, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    if (remembered && !Reg_GetString(key, INSTALL_PATH_VALUE, path, size)) path[0] = 0;
    Reg_CloseKey(&key);
    return remembered;
}

static const RemovalActions SYSTEM_REMOVAL = {
    SystemFolder,        // SystemFolder
    Path_MacroDir,       // MacroDir
    Path_Expand,         // ExpandPath
    PathKind,            // PathKind
    DiskName,            // DiskName
    DeleteOne,           // Delete
    DeleteAtRestart,     // DeleteAtRestart
    RemoveFolder,        // RemoveFolder
    RememberedPath,      // RememberedPath
    SharedFile_IsShared, // IsShared
    SharedFile_Count,    // SharedCount
    SharedFile_SetCount, // SetSharedCount
};

const RemovalActions *RemovalSystem_Get(void) { return &SYSTEM_REMOVAL; }
