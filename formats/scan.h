// The one scan of a compiled script's commands, as the setup runs them: each marker starts a
// command whose keyword runs to ':' (in any letter case), and an argument runs to the byte that
// ends it (Keyword_IsTerminator). The setup's interpreter, the uninstaller's reading of its
// script and the builder's checks walk a script with it.
#pragma once
#include <stdint.h>

#include "keywords.h"

// One command found by the scan.
typedef struct ScanCommand {
    char Keyword[KEYWORD_SIZE]; // as written, cut to KEYWORD_SIZE - 1 characters
    int32_t Id;                 // its row of the keyword table (Keyword_Find), -1 when none
    int32_t Start;              // the offset of its marker
    int32_t Arguments;          // the offset after its ':'; the script's size when there is none
} ScanCommand;

// Finds the first command of script (size bytes, then a zero byte) at or after *position.
// Returns 1 with *command filled and *position at its marker; 0 with *position at size when no
// marker is left (a position past size counts as size).
int Scan_Next(const char *script, int32_t size, int32_t *position, ScanCommand *command);
// Number of bytes of the argument at text + cursor, up to the byte that ends it.
int32_t Scan_ArgLength(const char *text, int32_t cursor);
// The offset behind the command's arguments as its handler reads them: each of the keyword's
// arguments with the byte that ends it, never past the zero byte at size. For a command the
// table does not know, its Arguments offset.
int32_t Scan_End(const char *script, const ScanCommand *command);
