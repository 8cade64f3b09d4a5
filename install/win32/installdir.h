// Where an installation goes: the path macros of the script ($0 to $6, $?), the free space of
// a drive, and the installation-directory dialog that the INSTALL PATH command opens. Win32
// tree only (installdir.cpp); the text side of paths is pathtext.h.
#pragma once
#include <stdint.h>

#include "pathtext.h"
#include "state.h"

enum {
    DIRDLG_TEMPLATE = 1001, // resource ids of the directory dialog (resources/setup.rc)
    DIRDLG_PATH = 1009,
    DIRDLG_BROWSE = 1010,
    DIRDLG_FREE_BEFORE = 1011,
    DIRDLG_USED = 1012,
    DIRDLG_FREE_AFTER = 1013,
    DIRDLG_PROMPT = 1015,
};

// The directory of a path macro's letter ('0' Program Files ... '5' the current directory) into
// buffer, with its trailing backslash: 1 when found, 0 when it cannot be had, -1 when the
// letter names no directory.
int Path_MacroDir(char letter, char *buffer, int size);
// Expands a script path into output (size bytes): the leading macros pick the directory, the
// rest is appended; a path without a directory macro is relative to InstallPath, unless it
// starts with a drive ("C:..."), which is taken as it is. *flags gets PATH_FLAG_CONFIRM for
// "$?". Returns 1. Refused (never cut): an expansion that does not fit size bytes, or a
// directory the system will not give; output is then empty, the log says why, and 0 is
// returned.
int Path_Expand(const InstallState *state, const char *input, char *output, int size,
                uint32_t *flags);
template <int N>
inline int Path_Expand(const InstallState *state, const char *input, char (&output)[N],
                       uint32_t *flags) {
    return Path_Expand(state, input, output, N, flags);
}

// KB (1024 bytes, fraction dropped) of a byte count; 2^31 KB (2 TB) and more are reported as
// the largest 32-bit figure, 2,147,483,647 KB, which is at least what the drive has.
int32_t Disk_BytesToKB(uint64_t bytes);
// Free space in KB, available to this user, of the drive whose root is the first three
// characters of path ("C:\"); path is only read. Returns 1, or 0 with *freeKB 0 when the space
// cannot be read.
int Disk_FreeKB(int32_t *freeKB, const char *path);

// Fills the dialog's three space figures for path and sizeKB ("n/a" for a drive whose space
// cannot be read, "Not enough space" after installation when it lacks room). Returns 1, or 0
// when the free space cannot be read.
int DirDlg_ShowSpace(void *dialog, const char *path, int32_t sizeKB);
// Runs the modal directory dialog, owned by state->Window; its message boxes belong to the
// dialog while it is open. Returns 1 when the user accepted a path with "Continue"
// (InstallPath holds it) and 0 after "Exit Setup" or when the dialog cannot be shown (logged).
int DirDlg_Run(InstallState *state);
// The work of INSTALL PATH after its prompt is in Caption: InstallPath becomes the Program
// Files directory, then in quiet mode the expansion of InstallDir or the "Install Path"
// remembered under RegistryPath, and in interactive mode what the user picks in DirDlg_Run
// (Caption is emptied afterwards). Returns 1, or 0 when the user left the setup or the path
// does not fit InstallPath (refused, logged; InstallPath then keeps its last good value).
int DirDlg_Choose(InstallState *state);
// The installation folder the command line chose: it wins over the remembered "Install Path" in
// quiet runs, and the directory dialog proposes it. Stored with a trailing backslash. Returns 1,
// or 0 with nothing stored when it does not fit InstallPath (refused, never cut). The caller
// checks it against the guard rails first.
int DirDlg_SetFolder(const char *folder);
