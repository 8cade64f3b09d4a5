// The removal's actions as the programs perform them on Windows: the system's folders, the
// disk's names of paths, files deleted now or at the next restart, folders, the remembered
// installation folder and the shared counts (win32 tree). The setup program, the uninstaller
// and the Win32 tests install this record.
#pragma once

#include "removal-actions.h"

// The record of the system's operations; never null.
const RemovalActions *RemovalSystem_Get(void);
