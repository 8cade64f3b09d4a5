// The text side of the script's paths, free of the system: the walk over the leading path
// macros ("$" and a letter) with the directory of each asked of the caller, the drive test, and
// the merge of a picked folder with the installation directory. Portable; the path macros and
// the directory dialog use it.
#pragma once
#include <stdint.h>

enum {
    PATH_FLAG_CONFIRM = 1,  // "$?": INSTALL asks before overwriting an existing file
    PATH_EXPAND_SIZE = 320, // the output buffers the callers of Path_Expand use (or 260)
};

// The directory of macro letter into buffer (size bytes): 1 when found, 0 when it cannot be
// had, -1 when the letter names no directory.
typedef int (*PathMacroDir)(char letter, char *buffer, int size);

// Expands a script path into output (size bytes): each leading macro pair whose letter names a
// directory replaces what was built so far, "$?" sets PATH_FLAG_CONFIRM in *flags, "$6" does
// nothing and any other letter is logged and passed over; the rest is appended. A path without
// a directory macro starts from installPath, unless it starts with a drive ("C:..."). Returns
// 1. Refused (never cut): an expansion that does not fit size bytes, or a directory that
// cannot be had; output is then empty, the log says why, and 0 is returned.
int PathText_Expand(const char *installPath, const char *input, PathMacroDir dirOf, char *output,
                    int size, uint32_t *flags);
// 1 when path starts with a drive letter and a colon.
int PathText_StartsWithDrive(const char *path);
// Merges the installation directory text installDir into the folder picked in the picker
// (picked, size bytes, ending with '\'): kept when it already ends with installDir, otherwise
// the trailing folders that start installDir are dropped and installDir is appended. Returns
// 1, or 0 with picked untouched when the merged path would not fit size bytes.
int PathText_MergeFolder(char *picked, int size, const char *installDir);
