// The bodies of the fuzz targets: one input through the archive reader, the script engine, the
// Type2 or the LZMA codec, with the invariants checked. A broken invariant traps, so that the
// fuzzer keeps the input as a crash. Called by the libFuzzer targets in this folder and, without
// libFuzzer, by the host tree's replay of the corpus (tests/unit/fuzz_replay_test.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

// Each prepares the process once for what it needs: the memory manager without a limit (all);
// a fresh working folder under /tmp made the current one, with an "uninst.exe" for UNINSTALL
// NAME to find (the archive and the script, so a fuzzer's folders must be given as absolute
// paths); the keyword table and BREAK registered, released at exit, and the boxes kept silent
// (the script).

// The input as a whole file "setup.exe", opened as the setup opens its own executable (offset
// 0, else through the trailer) with the Type2 codec: every directory entry (up to 64) sized and
// loaded, with the right and with a wrong size, a few names asked for, the stamp check run over
// both ends of the file, and every block given back.
void Fuzz_Archive(const uint8_t *data, size_t size);

// The input as "install.dat" (loaded through the disk-file fallback, no archive open), run once
// quietly and once interactively with a few retries inside the window: every text field stays
// terminated inside its field, the lists lie inside the script, and every block is given back.
void Fuzz_Script(const uint8_t *data, size_t size);

// The input as the end of an uninstaller's file, behind a small program image: the script is
// looked for as the uninstaller looks for it (U in the last four bytes, the marker at U, the
// scrambled script between them). Found, its settings are read with the setup's setters and
// every command is walked with its arguments read as the uninstaller reads them, the FILE LIST
// items through the guard rails' path tests: the script lies terminated in its own block,
// every field stays terminated inside its buffer, and every block is given back. The same bytes
// are read as an install record (one that reads writes back byte for byte) and as the clean-up
// mode's arguments.
void Fuzz_Uninst(const uint8_t *data, size_t size);

// The first two bytes choose a size of 1 to 65536 bytes; the rest is the code stream of a block
// of that size, which the three decoders (whole, in pieces, apart) decode alike or refuse alike
// where it runs out, into exact heap areas from exact heap copies of the block. The same bytes
// are then compressed and, when they shrink, must decompress to themselves, and be refused
// without their block's last byte. The codec's working state lives for the one input only.
void Fuzz_Type2(const uint8_t *data, size_t size);

// The first byte chooses the filter (bit 0), the properties (bits 1 to 3, among eight that reach
// the bounds) and the dictionary (4 KB to 8 MiB); the next two a size of 1 to 65536 bytes; the
// rest is the LZMA stream of a block of that size, which the three decoders (whole, in pieces,
// apart) decode alike or refuse alike, into exact heap areas from exact heap copies of the block.
void Fuzz_Lzma(const uint8_t *data, size_t size);
