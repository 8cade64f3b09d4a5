// Finished setups and archives read back through the program's own reader: listed, an entry
// extracted, verified (signature, stamp, every entry decoded).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "pack-file.h"

typedef struct PackEntryInfo {
    uint32_t hash;
    uint32_t blockOffset;
    int32_t storedLength;
    int32_t size; // uncompressed
    bool compressed;
    std::string method; // "raw", "Type2", "LZMA", "LZMA+x86"; "LZMA?" for a header refused; for
                        // a reference "in <group N>", "copy of NAME" or "in XXXXXXXX" (its
                        // source's hash)
    std::string name;   // when one of the candidate names, or a group's name, hashes to it
    bool reference;     // a reference record: the file lies inside the entry source
    uint32_t source;
    int32_t offset;     // where it begins in the source's bytes
    int32_t referenced; // how many references lie inside this entry
} PackEntryInfo;

// The stored length as a share of the size, "37.5%" (one decimal); "?" without a size.
std::string Pack_Ratio(const PackEntryInfo &entry);
// What an entry that references lie inside holds, for its name: " (holds 3 files)"; "" for
// any other.
std::string Pack_Holds(const PackEntryInfo &entry);
// Opens the archive of path (through its trailer, or at offset 0) with the codecs and
// describes every entry, naming those that a candidate name or a group's name hashes to. False with
// *error when it cannot be opened. The archive is closed again.
bool Pack_List(const std::string &path, const std::vector<std::string> &candidates,
               std::vector<PackEntryInfo> *entries, uint32_t *flags, std::string *error);
// Loads the named entry through the reader. False with *error when it is missing or unreadable.
bool Pack_Extract(const std::string &path, const std::string &name, PackBytes *data,
                  std::string *error);
// Stamp check and a decode of every entry; *report gets one line per finding. True when all
// passed.
bool Pack_Verify(const std::string &path, std::vector<std::string> *report);
