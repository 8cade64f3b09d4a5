// The system's count of the installations that use a shared file: a file in the Windows folder
// (the system folder included) has a REG_DWORD under HKEY_LOCAL_MACHINE\SHAREDFILES_KEY named by
// its full path. INSTALL raises it, the uninstaller lowers it and removes the file only with
// the last count. Win32 tree only (sharedfiles.cpp).
#pragma once
#include <stdint.h>

#define SHAREDFILES_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"

// 1 when path lies in the Windows folder or the system folder, or below them.
int SharedFile_IsShared(const char *path);
// The file's count; RECORD_NO_COUNT when it has none (no value, or one that is no number).
int32_t SharedFile_Count(const char *path);
// Sets the file's count to count (at least 1), or deletes it for RECORD_DROP_COUNT. Returns 1,
// or 0 with one log line when the registry refused.
int SharedFile_SetCount(const char *path, int32_t count);
