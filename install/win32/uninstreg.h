// The product's entry in the system's list of installed programs, which DONE writes so that
// the control panel can start the uninstaller. Win32 tree only
// (uninstreg.cpp).
#pragma once

#include "state.h"
#include "uninst.h"

// Writes "DisplayName" ("CompanyName ProductName"), "UninstallString" (the expansion of
// UninstallName in quotation marks), "QuietUninstallString" (the same with -Quiet),
// "DisplayVersion" (ProductVersion) and "Publisher" (CompanyName), each removed instead when
// empty, "DisplayIcon" (the program of the first shortcut to a program when it exists, else the
// uninstaller), "InstallLocation" (InstallPath), "EstimatedSize" (InstallSizeKB as a DWORD,
// removed instead when negative), "NoModify" and "NoRepair" (1) into the key "CompanyName
// ProductName" under HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion\Uninstall",
// opened when it exists and created otherwise; its other values stay. Returns 1 when the key was
// written (a refused value costs only its log line). Refused (0, logged, nothing written): a key
// name of more than UNINSTREG_KEY_LIMIT characters, or an uninstaller path that does not expand.
// Fatal: a key that can be neither opened nor created.
int UninstReg_Write(const InstallState *state);
