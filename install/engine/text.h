// Text of the welcome and licence dialogs made ready for a multi-line field: its lines joined
// the way the dialogs show them. Portable; the text dialogs use it.
#pragma once

// Joins the lines of a zero-terminated text in place: a break of exactly two control
// characters (CR LF) between two printable characters becomes one blank; empty lines,
// one-character breaks (bare LF) and bytes of 0x80 and above stay as they are. Never reads
// past the terminating zero. Returns 1.
int Text_JoinLines(char *text);
