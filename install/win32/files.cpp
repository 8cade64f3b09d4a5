// The file-system operations that the commands, the install and the upgrade share: a file
// written whole or opened for writing with its folders made, a file read whole, a folder path
// made.
#include "files.h"

#include <windows.h>

#include <string.h>

#include "tessel-core.h"
#include "tessel-str.h"

int Dir_CreatePath(char *path) {
    CORE_GUARD(path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return 1;
    }
    // The parent first, so that the levels are made from the outermost missing one inwards; a
    // trailing backslash makes the path itself the first "parent".
    char *last = strrchr(path, '\\');
    if (last && last > path) {
        *last = 0;
        Dir_CreatePath(path);
        *last = '\\';
    }
    CreateDirectoryA(path, NULL); // an existing or impossible directory shows at the open
    return 1;
}

// Creates every missing level of the directory part of path: up to and with its last separator
// ("" without one). 0 when path does not fit the work copy.
static int CreateParents(const char *path) {
    char directory[FILE_PATH_SIZE];
    // Refused, never cut: a cut path would create other directories.
    if (Str_Length(path) >= (int)sizeof directory) return 0;
    Str_Copy(directory, path);
    int cut = 0;
    for (int i = Str_Length(directory) - 1; i > 0; i--) {
        if (directory[i] == '\\' || directory[i] == '/') {
            cut = i + 1;
            break;
        }
    }
    directory[cut] = 0;
    return Dir_CreatePath(directory);
}

SysFile *File_OpenTarget(const char *path) {
    SysFile *file = Sys_FileOpen(path, "wb");
    if (!file && CreateParents(path)) file = Sys_FileOpen(path, "wb");
    if (!file) Log_Print("Unable to create file '%s'\n", path);
    return file;
}

int File_CloseTarget(SysFile *file, const char *path, int written) {
    // A failed close is a failed write: the system may tell of a write's trouble only then.
    int closed = Sys_FileClose(file);
    if (written && closed) return 1;
    Log_Print("Unable to write to file '%s'\n", path);
    DeleteFileA(path); // a cut file must not pass for an installed one
    return 0;
}

int File_WriteAll(const char *path, const void *data, int32_t count) {
    CORE_GUARD(path);
    CORE_GUARD(data);
    SysFile *file = File_OpenTarget(path);
    if (!file) return 0;
    return File_CloseTarget(file, path, Sys_FileWrite(file, data, count)); // 0 for a negative count
}

int File_ReadAll(const char *path, int32_t limit, uint8_t **data, int32_t *size) {
    CORE_GUARD(path);
    CORE_GUARD(data);
    CORE_GUARD(size);
    *data = NULL;
    *size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
        Log_Print("Unable to open '%s' (%lu)\n", path, error);
        return -1;
    }
    DWORD high = 0, length = GetFileSize(file, &high);
    int ok = high == 0 && length != INVALID_FILE_SIZE && length <= (DWORD)limit;
    if (ok) {
        *data = (uint8_t *)TESSEL_ALLOC((int32_t)length + 1);
        DWORD got = 0;
        ok = ReadFile(file, *data, length, &got, NULL) && got == length;
        if (!ok) TESSEL_FREE(*data, (int32_t)length + 1);
    }
    CloseHandle(file);
    if (!ok) {
        *data = NULL;
        Log_Print("Unable to read '%s'\n", path);
        return -1;
    }
    *size = (int32_t)length;
    return 1;
}
