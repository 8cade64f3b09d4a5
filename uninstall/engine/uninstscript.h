// The uninstaller's side of its script (portable): finding the scrambled copy that INSTALL
// appended to the uninstaller file, and reading the script's commands without running them.
// The settings the removal needs are read by the setup's own setters, so that both programs
// see the same company, product, registry path and directories.
#pragma once
#include <stdint.h>

#include "state.h"

// The script behind an uninstaller file of size bytes (layout in uninst.h): U from the last four
// bytes, the marker at U, the script between them, unscrambled into *script (a block of
// *scriptSize + 1 bytes from the memory manager, the last one zero). Returns 1, or 0 with one
// log line and *script null when the file is too short, U lies outside it or the marker is not
// at U.
int UninstScript_Extract(const uint8_t *file, int32_t size, char **script, int32_t *scriptSize);
// Releases what UninstScript_Extract gave; *script becomes null.
int UninstScript_Free(char **script, int32_t scriptSize);

// One command of the script: its keyword (a KeywordId) and its arguments as they stand in the
// script. Returning 0 ends the walk.
typedef int (*UninstVisit)(int32_t keyword, const char *arguments, void *context);
// Calls visit for every command of the script (size bytes and a zero byte), in order. Returns 1,
// or 0 with one log line at a command the keyword table does not know, or when visit returned 0.
int UninstScript_Walk(const char *script, int32_t size, UninstVisit visit, void *context);
// Reads COMPANY NAME, PRODUCT NAME, PRODUCT VERSION, REGISTRY PATH, INSTALL DIR and UNINSTALL
// NAME into state (cleared first; the script's text is left in it) with the setup's setters, the
// last of each counting. Returns 1, or 0 when the script does not parse.
int UninstScript_Settings(const char *script, int32_t size, InstallState *state);
// The target of the script's first ADD ITEM that starts a program (a target ending in ".exe",
// letters folded) into target (size bytes), and its icon index (a negative one counts as 0).
// Returns 1, or 0 with target empty when there is none; a target that does not fit is passed
// over (never cut: a cut name is another file).
int UninstScript_FirstProgram(const char *script, int32_t size, char *target, int32_t targetSize,
                              int32_t *iconIndex);

// The clean-up copy: the uninstaller copies itself into a new folder UNINST_COPY_PREFIX and
// UNINST_COPY_DIGITS lower-case hex digits of the temporary folder, as UNINST_COPY_NAME, and
// starts it with "-Cleanup HANDLE "FILE" "INSTALLPATH"" to delete its own file once it ended.
#define UNINST_COPY_PREFIX "tsu-"
#define UNINST_COPY_NAME "uninst.exe"
enum { UNINST_COPY_DIGITS = 32 };

// 1 when path is such a copy's in the temporary folder temp (with its trailing backslash;
// letters folded in the folders, the digits lower-case as they are made), else 0.
int UninstScript_IsCleanupCopy(const char *path, const char *temp);
// Reads the clean-up mode's arguments ("-Cleanup" first): the handle's number, then FILE and
// INSTALLPATH, each in quotation marks or up to the next blank, into file and installPath (size
// bytes each). Returns 1, or 0 when one is missing or empty or does not fit (refused, never
// cut: a cut name is another file).
int UninstScript_CleanupArguments(const char *arguments, uint32_t *handle, char *file,
                                  char *installPath, int size);
