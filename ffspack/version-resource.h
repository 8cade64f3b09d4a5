// The version information of a setup (the VS_VERSIONINFO resource that Windows shows on the
// file's Properties page): made from the script's product name, company and version, written
// into the stub's resource tree before the archive is appended, read back for 'ffspack verify'.
// Used by the build (pack-setup.cpp), the command and the tests.
#pragma once
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pack-archive.h"

enum {
    VERSION_PARTS = 4,          // a Windows version: four numbers
    VERSION_MAX_PART = 65535,   // each in 16 bits
    VERSION_MAX_BLOCK = 0xFFFF, // a block's length is 16 bits, in bytes
    VERSION_LANGUAGE = 0x0409,  // U.S. English, the table's and the resource's language
    VERSION_CODE_PAGE = 1200,   // the table's texts are UTF-16
};

typedef struct VersionInfo {
    uint16_t fileVersion[VERSION_PARTS]; // the fixed part's numbers: 1.3 is 1, 3, 0, 0
    uint16_t productVersion[VERSION_PARTS];
    // The string table in its order: name and value, both UTF-8.
    std::vector<std::pair<std::string, std::string>> strings;
} VersionInfo;

// The numbers at the start of a version text, at most four separated by dots ("1.3 beta" is
// 1.3.0.0): *numbers set and *found true; *found false and the numbers 0 when the text begins
// with no digit. False with *error when a number exceeds VERSION_MAX_PART or a fifth follows.
bool VersionRes_ParseNumbers(const std::string &text, uint16_t numbers[VERSION_PARTS], bool *found,
                             std::string *error);
// The version information of a setup whose compiled script is script: CompanyName,
// FileDescription ("Bramble Notes 1.3 Setup"), FileVersion, ProductName and ProductVersion,
// each from the script's last COMPANY NAME, PRODUCT NAME and PRODUCT VERSION as the setup
// keeps them (a refused argument leaves the name unset, a cut one is cut). What the script does
// not give is left out (FileDescription keeps the rest, at least "Setup"); a version that
// begins with no number gives 0.0.0.0 and a note. False with *error as VersionRes_ParseNumbers.
bool VersionRes_FromScript(const PackBytes &script, VersionInfo *info, PackNotes *notes,
                           std::string *error);
// The VS_VERSIONINFO block of info (U.S. English, UTF-16 texts). False with *error when a text
// is no UTF-8 or a block would exceed VERSION_MAX_BLOCK bytes.
bool VersionRes_Encode(const VersionInfo &info, PackBytes *block, std::string *error);
// Reads a VS_VERSIONINFO block: the fixed part's versions and the first string table. False
// with *error when it is damaged.
bool VersionRes_Decode(const PackBytes &block, VersionInfo *info, std::string *error);
// Puts block into the image's resource tree as its only version resource (any other is
// removed from the tree). False with *error and image untouched as PeRes_Read and PeRes_Write.
bool VersionRes_Put(PackBytes *image, const PackBytes &block, std::string *error);
// The version information of the image in file: 1 with *info, 0 when it has none (or is no PE
// image), -1 with *error when its tree or its block is damaged or it has more than one.
int VersionRes_Read(const PackBytes &file, VersionInfo *info, std::string *error);
// Lines for a person: the versions, then "Name: value" for each text.
std::vector<std::string> VersionRes_Describe(const VersionInfo &info);
// The build's step: the version information of inputs' script ("install.dat" under flags)
// written into stub, a PE image (a stub that is none, as PeRes_IsImage tells, gets nothing). False
// with *error as VersionRes_FromScript, VersionRes_Encode and VersionRes_Put; the stub is then
// unchanged.
bool VersionRes_AddToStub(PackBytes *stub, const std::vector<PackInput> &inputs, uint32_t flags,
                          std::string *error, PackNotes *notes);
