// The file-system operations that the commands, the install and the upgrade share (win32 tree,
// files.cpp).
#pragma once
#include <stdint.h>

#include "tessel-sys.h"

enum {
    FILE_PATH_SIZE = 260, // the work copy of a path whose folders are made
};

// Writes count bytes of data to the file at path, created or emptied; a missing directory
// along the path is created first. Returns 1, or 0 with one log line when the file cannot be
// created or written completely, a negative count included; a partly written file is removed.
// Directories are made only for a path of at most 259 characters (refused, never cut).
int File_WriteAll(const char *path, const void *data, int32_t count);
// Reads the whole file at path into *data: a block of *size + 1 bytes from the memory manager,
// the last one zero. Returns 1; 0 with *data null when the file does not exist (no log line);
// -1 with *data null and one log line when it cannot be read or holds more than limit bytes.
int File_ReadAll(const char *path, int32_t limit, uint8_t **data, int32_t *size);
// Creates every missing directory along path ("C:\a\b\" or "C:\a\b"). path is changed during
// the call and restored. Returns 1: a directory that cannot be made shows when a file in it is
// opened.
int Dir_CreatePath(char *path);
// The file at path opened for writing, created or emptied; the missing folders along the path
// are made when the first open fails (for a path of at most 259 characters). Null with the log
// line "Unable to create file".
SysFile *File_OpenTarget(const char *path);
// Closes the file, which written says was written completely. Returns 1, or 0 with the log line
// "Unable to write to file" when it was not or the close failed; the file is then removed.
int File_CloseTarget(SysFile *file, const char *path, int written);
