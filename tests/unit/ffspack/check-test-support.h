// What the tests of the builder's script checks share: a script checked against entries, its
// findings in order, a font file that names a family, and the table of traps with the one loop
// that runs them.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "pack.h"

namespace check_test {

typedef std::vector<std::pair<std::string, std::string>> Files; // archive name, bytes
typedef std::vector<std::pair<CheckKind, std::string>> Said;

inline const CheckKind E = CHECK_ERROR, W = CHECK_WARNING;
inline const std::string kEnd =
    ": the setup takes bytes below 32 and from 128 up for the end of an argument";
inline const std::string kMissing = " is not among the entries: the setup will not find it";
inline const std::string kExtra =
    ": the setup passes over the first extra one and takes each further "
    "one for a command of its own";

// Checks source (the text form when handMade is false) against files; the report, and the
// compiled script in *script.
inline CheckReport Check(const std::string &source, const Files &files, bool handMade = false,
                         uint32_t flags = PACK_DEFAULT_FLAGS, bool bundled = true,
                         std::string *script = nullptr) {
    std::vector<std::vector<uint8_t>> data;
    data.reserve(files.size());
    CheckBuild build{{}, flags, bundled};
    for (const auto &file : files) {
        data.emplace_back(file.second.begin(), file.second.end());
        build.entries.push_back(CheckEntry{file.first, &data.back(), data.back().size(), ""});
    }
    CheckReport report;
    std::vector<uint8_t> compiled;
    if (handMade)
        Check_Script(std::vector<uint8_t>(source.begin(), source.end()), "product/install.dat",
                     build, &report);
    else
        Check_Source(source, "setup.txt", build, &compiled, &report);
    if (script) script->assign(compiled.begin(), compiled.end());
    return report;
}

// The errors and warnings of a report, in its order.
inline Said Findings(const CheckReport &report) {
    Said said;
    for (const CheckMessage &message : report)
        if (message.kind != CHECK_NOTE) said.push_back({message.kind, message.text});
    return said;
}

inline std::string Big16(uint32_t value) { return {(char)(value >> 8), (char)value}; }
inline std::string Big32(uint32_t value) { return Big16(value >> 16) + Big16(value & 0xFFFF); }

// A TrueType file with one table, "name", that holds the family (name 1) in UTF-16 for Windows.
inline std::string FontFile(const std::string &family) {
    std::string utf16;
    for (char c : family) utf16 += std::string(1, '\0') + c;
    std::string names = Big16(0) + Big16(1) + Big16(6 + 12) + Big16(3) + Big16(1) + Big16(0x409) +
                        Big16(1) + Big16((uint32_t)utf16.size()) + Big16(0) + utf16;
    return Big32(0x00010000) + Big16(1) + std::string(6, '\0') + "name" + Big32(0) +
           Big32(12 + 16) + Big32((uint32_t)names.size()) + names;
}

struct Trap {
    const char *what;
    std::string source;
    Files files;
    Said said;
    uint32_t flags = PACK_DEFAULT_FLAGS;
    bool bundled = true;
};

inline void RunTraps(const std::vector<Trap> &traps, bool handMade) {
    for (const Trap &trap : traps)
        EXPECT_EQ(Findings(Check(trap.source, trap.files, handMade, trap.flags, trap.bundled)),
                  trap.said)
            << trap.what;
}

} // namespace check_test
