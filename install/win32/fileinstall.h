// File installation (win32 tree): the INSTALL command's work of copying every listed archive
// entry to its place and writing the uninstaller; the file operations it shares with the other
// commands are files.h's. The list's items are read with filelist.h.
#pragma once
#include <stdint.h>

#include "state.h"

#include "files.h"

enum {
    INSTALL_TARGET_SIZE = FILE_PATH_SIZE, // a target path
};

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
