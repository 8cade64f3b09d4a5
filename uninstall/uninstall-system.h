// The uninstaller's actions on Windows beyond the removal's: the product's windows, its COM
// servers, the Start menu's Programs folder, its registry keys and the progress bar (win32
// tree, the uninstaller program only).
#pragma once

#include "uninstrun.h"

// The record of the system's operations; never null.
const UninstallActions *UninstallSystem_Get(void);
