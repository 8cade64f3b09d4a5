// File installation (win32 tree): the INSTALL command's work of copying every listed archive
// entry to its place and writing the uninstaller, and the two file-system operations that
// other commands share. The list's items are read with filelist.h.
#pragma once
#include <stdint.h>

#include "state.h"

enum {
    INSTALL_TARGET_SIZE = 260, // a target path, and the work copy of File_WriteAll
};

// Writes count bytes of data to the file at path, created or emptied; a missing directory
// along the path is created first. Returns 1, or 0 with one log line when the file cannot be
// created or written completely, a negative count included; a partly written file is removed.
// Directories are made only for a path of at most 259 characters (refused, never cut).
int File_WriteAll(const char *path, const void *data, int32_t count);
// Reads the whole file at path into *data: a block of *size + 1 bytes from the memory manager,
// the last one zero. Returns 1; 0 with *data null when the file does not exist (no log line);
// -1 with *data null and one log line when it cannot be read or holds more than limit bytes.
int File_ReadAll(const char *path, int32_t limit, uint8_t **data, int32_t *size);
// Creates every missing directory along path ("C:\a\b\" or "C:\a\b"). path is changed during
// the call and restored. Returns 1: a directory that cannot be made shows when a file in it is
// opened.
int Dir_CreatePath(char *path);

// The INSTALL command: finds an earlier installation of the product first and stops (0) when
// it is a newer version that is not to be replaced (earlier.h); remembers InstallPath under
// HKEY_CURRENT_USER\RegistryPath, writes every item of FileList to its expanded path (asking
// before an existing "$?" file is overwritten, skipping it in quiet mode; a target that cannot be
// opened, but is not known to be missing, counts as existing), moves the progress window, and
// writes the uninstaller to UninstallName when that is set, with the install record beside it
// (installrecord.h) when a "$?" file or a file in the Windows folder was met (the SharedDLLs
// count of the latter raised once for the installation). Each item is written in pieces as its
// entry is decoded, so that memory does not grow with a file's size. Returns 1 when everything
// was written or skipped, 0 at the first failure (logged; a file that cannot be written is also
// shown in a problem box; the file that failed, written or read, is not left). Files written
// before a failure stay. After a whole installation, what only the earlier version installed is
// removed (Earlier_Finish).
int Install_Files(InstallState *state);
