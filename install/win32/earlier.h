// An earlier installation of the product, as INSTALL meets it (win32 tree, earlier.cpp): found
// through the product's uninstall entry, read from its uninstaller's script and install record
// before anything is written; a newer one is not replaced unasked; and after INSTALL, what only
// the earlier version installed is removed as its uninstaller would remove it.
#pragma once

#include "state.h"

// Looks for the earlier installation of state's product (its uninstall entry "CompanyName
// ProductName", the uninstaller that names, the folder it remembered) and keeps what it
// installed. Returns 1 to go on: nothing found, or an earlier version that is older, the same,
// or without a version to compare, or a newer one the user chose to replace. Returns 0 (logged)
// for a newer one in a quiet run (Earlier_RefusedNewer then says so) or one the user kept.
int Earlier_Prepare(const InstallState *state);
// After INSTALL wrote every file and the uninstaller: removes each file of the earlier
// installation that state's does not write (one log line each; "$?" and shared files as the
// earlier install record decides, nothing outside the earlier folders, nothing when that folder
// fails the guard rails), the folders that leaves empty, and the earlier uninstaller with its
// record when they are not this installation's. Then releases what Earlier_Prepare kept.
void Earlier_Finish(const InstallState *state);
// Releases what Earlier_Prepare kept, removing nothing (INSTALL failed).
void Earlier_Release(void);
// 1 when this run refused to put an older version over a newer one in quiet mode.
int Earlier_RefusedNewer(void);
