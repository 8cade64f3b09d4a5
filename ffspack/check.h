// The builder's checks of an installation script, so that the publisher meets its mistakes
// before a user does: every command against the keyword table, the names it asks the archive
// for against the build's entries, the order of commands the setup relies on, and the bytes of
// a hand-made "install.dat". The build (pack-sources.cpp) runs them before it writes anything, and
// 'ffspack check' runs them alone.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "check-report.h"

// An entry of the archive being built, under the name the setup asks for.
typedef struct CheckEntry {
    std::string name;
    const std::vector<uint8_t> *data; // its bytes; null: they are in the file at path, where
                                      // the few checks that look into an entry read them
    uint64_t size;
    std::string path;
} CheckEntry;

// What a script is checked against.
typedef struct CheckBuild {
    std::vector<CheckEntry> entries; // every entry but the script compiled from the text form
    uint32_t flags;                  // the archive's flags: names compare by their hash
    // The build stores "uninst.exe" itself when the script names an uninstaller and no entry is
    // one (a setup's build, which refuses when it has none); false: only an entry counts.
    bool uninstallerBundled;
} CheckBuild;

// Checks the text form source (named sourceName in the messages) and appends the findings to
// *report in script order. When it finds no error, *script gets the compiled script; when the
// script has a FILE LIST and no INSTALL SIZE, the computed size goes first (with a note).
// Returns true when there is no error; *script is then filled, otherwise left empty.
bool Check_Source(const std::string &source, const std::string &sourceName, const CheckBuild &build,
                  std::vector<uint8_t> *script, CheckReport *report);
// Checks a compiled script (a hand-made "install.dat", named scriptName in the messages; lines
// are counted by CR LF) and appends the findings to *report. True when there is no error.
bool Check_Script(const std::vector<uint8_t> &script, const std::string &scriptName,
                  const CheckBuild &build, CheckReport *report);
// bytes in whole KB of 1024, rounded up: the unit of INSTALL SIZE.
uint64_t Check_KiloBytes(uint64_t bytes);
