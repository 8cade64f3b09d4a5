// The script engine's actions as the setup program performs them on Windows: the message
// boxes, dialogs, backdrop, fonts, files, programs, shortcuts and registry of the Win32
// modules (win32 tree). The setup program and the Win32 tests install this record.
#pragma once

#include "actions.h"

// The record of the Win32 modules' operations; never null.
const InstallActions *SystemActions_Get(void);
