// The removal's window on the machine: the record of operations through which the guard rails,
// the installation folder's proof and the removal of files, folders and shared counts
// (removal.h) reach the disk and the registry. The programs install the system's record
// (removal-system.cpp, win32 tree); the unit tests an in-memory machine of their own.
#pragma once
#include <stdint.h>

#include "state.h"

// The folders of the system that the guard rails ask for (SystemFolder).
enum RemovalFolder {
    RFOLDER_TEMP,                 // the temporary folder the system gives a program
    RFOLDER_WINDOWS,              // the Windows folder the system gives a program
    RFOLDER_WINDOWS_SHELL,        // the Windows folder as the shell names it
    RFOLDER_SYSTEM,               // the system folder the system gives a program
    RFOLDER_SYSTEM_X86,           // the 32-bit system folder as the shell names it
    RFOLDER_PROGRAM_FILES,        // the Program Files folder of "$0"
    RFOLDER_PROGRAM_FILES_SHELL,  // the Program Files folder as the shell names it
    RFOLDER_PROGRAM_FILES_X86,    // the 32-bit Program Files folder
    RFOLDER_PROGRAM_FILES_NATIVE, // the 64-bit Program Files folder, seen from a 32-bit program
    RFOLDER_COMMON_FILES,
    RFOLDER_COMMON_FILES_X86,
    RFOLDER_PROFILE,          // the user's profile folder
    RFOLDER_SHARED_DOCUMENTS, // the shared profile's documents
    RFOLDER_APPDATA,
    RFOLDER_LOCAL_APPDATA,
    RFOLDER_COMMON_APPDATA,
    RFOLDER_DOCUMENTS,
    RFOLDER_DESKTOP,
    RFOLDER_COMMON_DESKTOP,
    RFOLDER_START_MENU,
    RFOLDER_COMMON_START_MENU,
    RFOLDER_FONTS,
};

// What a path is on the disk (PathKind).
enum { RPATH_MISSING = 0, RPATH_FILE = 1, RPATH_FOLDER = 2 };
// What Delete did.
enum { RDELETE_FAILED = 0, RDELETE_DONE = 1, RDELETE_MISSING = 2 };

typedef struct RemovalActions {
    // The folder of the system that which (a RemovalFolder) names into folder (size bytes).
    // Returns 1, or 0 when this system has none or it does not fit.
    int (*SystemFolder)(int which, char *folder, int size);
    // A path macro's folder ('0' ... '5') with its trailing backslash into folder (size bytes):
    // 1 when found, 0 when it cannot be had, -1 when the letter names no folder.
    int (*MacroDir)(char letter, char *folder, int size);
    // A script path with its macros expanded into output (size bytes), PATH_FLAG_CONFIRM in
    // *flags for "$?"; 0 (output empty, logged) when refused.
    int (*ExpandPath)(const InstallState *state, const char *input, char *output, int size,
                      uint32_t *flags);
    // RPATH_MISSING, RPATH_FILE or RPATH_FOLDER.
    int (*PathKind)(const char *path);
    // The name the disk gives an existing file or folder, through junctions, links and short
    // names, into out (size bytes). Returns 1, or 0 when it cannot be opened or named.
    int (*DiskName)(const char *path, char *out, int size);
    // Deletes a file: RDELETE_DONE, RDELETE_MISSING (no such file or folder), or
    // RDELETE_FAILED with the system's error number in *error.
    int (*Delete)(const char *path, uint32_t *error);
    // Has a file deleted at the next restart. Returns 1, or 0 with the error number in *error.
    int (*DeleteAtRestart)(const char *path, uint32_t *error);
    // Removes an empty folder. Returns 1, or 0 when it is not empty or cannot be removed.
    int (*RemoveFolder)(const char *path);
    // The "Install Path" remembered under the user's registryPath into path (size bytes).
    // Returns 1 when the value is there (path "" when it cannot be read as a string), 0 when
    // the key or the value is missing.
    int (*RememberedPath)(const char *registryPath, char *path, int size);
    // 1 when path lies in the Windows folder or the system folder (a shared file).
    int (*IsShared)(const char *path);
    // A shared file's count; RECORD_NO_COUNT when it has none.
    int32_t (*SharedCount)(const char *path);
    // Sets a shared file's count, or deletes it for RECORD_DROP_COUNT. Returns 1, or 0 with one
    // log line.
    int (*SetSharedCount)(const char *path, int32_t count);
} RemovalActions;

// Installs actions for every later removal (the record must outlive its use); null removes
// them. Returns 1.
int RemovalActions_Set(const RemovalActions *actions);
// The record in force; fatal when none is installed.
const RemovalActions *RemovalActions_Get(void);
