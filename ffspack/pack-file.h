// The builder's whole files: read with a readable error, written through a part file that
// takes the old file's place only when complete; the format's bounds on an entry's size and a
// finished file's length, and names quoted for the messages.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "tessel-sys.h"

enum {
    // The reader takes sizes, offsets and the file's length as signed 32-bit numbers: an
    // entry's bytes and a finished file's length are at most this.
    PACK_MAX_LENGTH = 0x7FFFFFFF,
};

typedef std::vector<uint8_t> PackBytes;

// The format's bounds: true when a file of size bytes can be an entry, when a finished setup
// or archive of length bytes can be read.
bool Pack_EntryFits(uint64_t size);
bool Pack_FileFits(uint64_t length);
// Whole-file helpers with a readable error.
bool Pack_ReadFile(const std::string &path, PackBytes *data, std::string *error);
// Writes path through path + ".part", committed to the disk and renamed into place only when
// complete. False with *error otherwise; the .part file is removed, an old path stays.
bool Pack_WriteFile(const std::string &path, const PackBytes &data, std::string *error);
// The parts of Pack_WriteFile for a file written in pieces: Pack_OpenPart opens path + ".part"
// (null with *error); Pack_WritePart hands it bytes in writes of at most a megabyte (false when
// one fails); Pack_CommitPart closes it and, when written, commits it to the disk and renames it
// into path's place. Pack_CommitPart returns false with *error (kept when set: the writer's own
// reason) otherwise; the part is then removed, an old path stays.
SysFile *Pack_OpenPart(const std::string &path, std::string *error);
bool Pack_WritePart(SysFile *file, const uint8_t *bytes, size_t length);
bool Pack_CommitPart(SysFile *file, bool written, const std::string &path, std::string *error);
