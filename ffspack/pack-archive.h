// Archive writing: named inputs turned into an FFS archive (sorted unique hashes, Type2 or LZMA
// where it shrinks), each input read in pieces as it is stored, never held whole; its blocks wait
// in spools in memory or in files. Used by the setup image (pack-setup) and the tests.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "pack-file.h"
#include "pack-input.h"

enum {
    PACK_DEFAULT_FLAGS = 6,
    PACK_MAX_NAME = 319,
    PACK_MAX_JOBS = 256,
};

// What a build did beyond the plain case (one line each), for the user.
typedef std::vector<std::string> PackNotes;

// The number of threads that encode entries at once (at most PACK_MAX_JOBS, the command's
// bound); 0 (the default) or less: one a core. The Windows build encodes on one thread: its
// codec state is a single global.
void Pack_SetJobs(int jobs);
// The codec of the entries: Type2 (the default), LZMA (pack-lzma.h: each entry one block), or
// none ("store"). An entry is stored raw where its block would not be shorter, except data that
// begins with a block's or a reference's tag ("FFC@", "FFL@", "FFG@"), which raw would be taken
// for one: that is encoded whatever its size, with LZMA under that codec, else with Type2.
// Under LZMA the FILE LIST items also share solid groups and equal files are stored once
// (pack-group.h): each such file becomes a reference into the entry that holds its bytes.
typedef enum PackCodec { PACK_CODEC_TYPE2, PACK_CODEC_LZMA, PACK_CODEC_STORE } PackCodec;
void Pack_SetCodec(PackCodec codec);
// The codec of a name of the command line ("type2", "lzma", "store"): false for any other,
// *codec then untouched.
bool Pack_CodecNamed(const std::string &name, PackCodec *codec);
// The archive for inputs, placed at archiveOffset of its file (absolute block offsets), with
// its trailer when withTrailer, in memory. Returns false with *error naming the problem: an
// empty or over-long name, an empty file, two names of one hash, a file or a finished file
// beyond the format's bounds (Pack_EntryFits, Pack_FileFits), an input file that cannot be read
// or that no longer has its size.
bool Pack_BuildArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                       bool withTrailer, PackBytes *archive, std::string *error, PackNotes *notes);
// Where an archive's bytes go as they are made; false when they cannot be taken.
typedef std::function<bool(const uint8_t *bytes, size_t length)> PackArchiveSink;
// The archive of inputs as Pack_BuildArchive makes it, handed to sink as it is made; the blocks
// wait in spools in memory (spoolPath empty) or in files named spoolPath and a number. False
// with *error as Pack_BuildArchive; a sink's refusal leaves *error to its owner.
bool Pack_MakeArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                      bool withTrailer, const std::string &spoolPath, const PackArchiveSink &sink,
                      std::string *error, PackNotes *notes);
// The name's hash as the archive stores it under flags.
uint32_t Pack_HashName(const std::string &name, uint32_t flags);
// Why the names a and b, of one hash, cannot both be entries. With the upper-case flag the
// setup asks for a name in any letter case: names that differ only there are one name to it.
std::string Pack_Clash(const std::string &a, const std::string &b, uint32_t flags);
