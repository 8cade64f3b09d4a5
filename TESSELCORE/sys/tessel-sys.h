// The platform seam of the support library. The first group is what the log and the fatal path
// need, built in both trees (Win32 calls in tessel-sys-win32.cpp, a small stand-in for Linux in
// tessel-sys-host.cpp); the file calls beside them are one stdio wrapper for both trees. The
// last group wraps the Win32 services of the setup program and exists only in the win32 tree.
// Portable code includes this header, never <windows.h>.
#pragma once
#include <stdint.h>

// ---- Needs of the log and the fatal path (both trees) ----

// The process's full command line, program name included; null when the platform has none.
const char *Sys_CommandLine(void);
// Full path of the running executable, cut to size - 1 bytes and terminated. Returns its length.
int Sys_ExecutablePath(char *buffer, int size);
// The caption in brackets on a line of its own, then the text (and a line end when it has none)
// on the standard error handle, when the program has one (started from a console or with its
// output redirected), where a person or a deployment tool can read it.
void Sys_ErrorWrite(const char *text, const char *caption);
// A modal error box without owner; waits for OK. The host has no boxes: it does nothing there.
void Sys_ErrorBox(const char *text, const char *caption);
void Sys_Sleep(int milliseconds);
// The unnamed recursive mutex of the library lock. Take returns 0 when the wait failed.
void *Sys_MutexCreate(void);
int Sys_MutexTake(void *mutex);
void Sys_MutexRelease(void *mutex);
void Sys_MutexDestroy(void *mutex);
// A console window for the process with the given title; returns its output handle or null.
void *Sys_ConsoleOpen(const char *title);
void Sys_ConsoleWrite(void *console, const char *text, int length);
// The temporary directory with its trailing separator into buffer (size bytes). Returns 1, or
// 0 when it cannot be had or does not fit.
int Path_TempDir(char *buffer, int size);

// ---- Files (both trees, tessel-sys-file.cpp) ----
//
// The files that the log and the installer write, that the archive reader, the stamp check and
// the PE reader read, and that the builder reads and writes, are opened, read, written, moved
// in, measured, committed and closed here, over the C runtime's stdio, so
// that a test can make any one of these calls fail. The streams are unbuffered: a write's answer
// tells what became of its bytes, and a close has nothing left to lose. A failed call leaves errno
// set.

typedef struct SysFile SysFile;

// Opens path in an fopen mode ("rb", "wb", "a+"). Returns the file, or null.
SysFile *Sys_FileOpen(const char *path, const char *mode);
// Reads up to count bytes into buffer, *got of them (fewer than count only at the end of the
// file). Returns 1, or 0 when the read failed.
int Sys_FileRead(SysFile *file, void *buffer, int32_t count, int32_t *got);
// Writes count bytes of data. Returns 1 when the system took them all; 0 when it did not, or
// for a negative count, and then how many went through is unknown.
int Sys_FileWrite(SysFile *file, const void *data, int32_t count);
// Moves to offset bytes from the file's start, where the next read or write begins. Returns 1,
// or 0 when the system refused (offset negative, or the file not one that can be moved in).
int Sys_FileSeek(SysFile *file, int64_t offset);
// The file's length in bytes, told without moving in it; -1 when the system cannot tell.
int64_t Sys_FileLength(SysFile *file);
// Where the next read or write begins, in bytes from the file's start; -1 when the system
// cannot tell.
int64_t Sys_FileTell(SysFile *file);
// Commits what was written to the disk (a power cut after it loses nothing). Returns 1, or 0.
int Sys_FileFlush(SysFile *file);
// Releases the file, in every case. Returns 1, or 0 when the system reported a failure.
int Sys_FileClose(SysFile *file);

// Test hook: the nth of the calls above from now on fails (1: the next one), 0 = none. The
// failing call does nothing and sets errno to EIO, except that a close still releases the file.
void Sys_FileFailAt(int32_t nth);
// The number of calls above made so far, failed ones included.
int32_t Sys_FileCalls(void);

// ---- Win32 wrappers of the setup program (win32 tree only) ----
#if defined(_WIN32)

typedef void *SysWindow; // HWND
typedef void *SysKey;    // HKEY

// Registry root codes.
enum {
    REG_ROOT_USER = 1,
    REG_ROOT_DYN = 2,
    REG_ROOT_PERF = 3,
    REG_ROOT_MACHINE = 4,
    REG_ROOT_CLASSES = 5,
    REG_ROOT_CONFIG = 6
};

enum { PROGRESS_RANGE = 2000 }; // progress bars run 0..2000: 20 steps a percent

int Font_Add(const char *path);
int Font_Remove(const char *path);

int Reg_CreateKey(SysKey *key, int rootCode, const char *subkey);
int Reg_OpenKey(SysKey *key, int rootCode, const char *subkey);
int Reg_CloseKey(SysKey *key);
int Reg_KeyExists(int rootCode, const char *subkey);
// Opens subkey of the root when it exists and creates it otherwise. Returns 1; fatal for a key
// that can be neither opened nor created.
int Reg_OpenOrCreateKey(SysKey *key, int rootCode, const char *subkey);
int Reg_SetValue(SysKey key, uint32_t type, const char *typeName, const char *valueName,
                 const void *data, int size);
int Reg_GetValue(SysKey key, uint32_t type, const char *typeName, const char *valueName,
                 void *buffer, int size);
int Reg_SetString(SysKey key, const char *valueName, const char *text);
int Reg_GetString(SysKey key, const char *valueName, char *buffer, int size);

// Restricts the DLL search of this process to the system folder, so that no DLL lying beside
// the program (a download folder, a temporary folder) is loaded under a system DLL's name: the
// system's SetDefaultDllDirectories, looked up at run time, with the system folder only; where
// the system lacks it, SetDllDirectory("") (the current folder leaves the search, the program's
// folder stays in it). Then the DLLs that the system loads lazily for the programs are loaded
// from the system folder by their full paths (the list in tessel-sys-win32.cpp). Called first
// by the programs, before the common controls, COM or the shell start. Returns 1 when the
// search is the system folder only, 0 for the fallback.
int Sys_RestrictDllSearch(void);
// Loads the DLL at path, which must be a full path ("C:\..." or "\\server\..."), its own
// dependencies from its folder and the system folder. Returns the module, or null when the
// path is not a full one (GetLastError then says ERROR_INVALID_PARAMETER) or the system refused
// it (GetLastError says why).
void *Sys_LoadDll(const char *path);

int Sys_InitControls(void);
int Sys_InitCom(void);
int Sys_ExitCom(void);

int Path_Normalize(char *path, int addTrailing);
int Path_ProgramDir(char *buffer, int size);
int Path_SystemDir(char *buffer, int size);
int Path_WindowsDir(char *buffer, int size);
int Path_CurrentDir(char *buffer, int size);

intptr_t Dlg_SendItem(SysWindow dialog, int itemId, unsigned message, uintptr_t wparam,
                      intptr_t lparam);
int Dlg_SetEditText(SysWindow dialog, int itemId, const char *text, int limit);
int Dlg_GetText(SysWindow dialog, int itemId, char *buffer, int max);
int Dlg_ProgressReset(SysWindow dialog, int itemId);
int Dlg_ProgressSet(SysWindow dialog, int itemId, double percent);
int Dlg_ProgressPosition(double percent); // the position Dlg_ProgressSet sets for percent

int Sys_PumpMessages(void);
int Wnd_Place(SysWindow window, int x, int y, int width, int height);
int Wnd_Center(SysWindow window, SysWindow parent);
// The folder picker: 1 with the chosen folder (trailing '\\') in path (at least 320 bytes), 0
// when cancelled or unavailable, path then untouched. A non-empty path on entry is the root.
int Sys_BrowseFolder(SysWindow owner, const char *title, char *path, const char *initial);
// The picker's callback: on its start centres it over its parent and selects the folder named
// by data (a path). Returns 0.
int Browse_Callback(SysWindow window, unsigned message, intptr_t lparam, intptr_t data);

// The process's peak memory so far, in KB: its peak working set and its peak private
// (committed) bytes. Returns 1, or 0 with both 0 where the system cannot tell (before
// Windows 7).
int Sys_PeakMemory(int32_t *workingSetKB, int32_t *privateKB);

#endif
