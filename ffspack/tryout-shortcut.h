// The shell link (.lnk) reader of 'ffspack test': what a shortcut that a setup made points at.
// Pure and tested on the host.
#pragma once
#include <string>

struct TryoutShortcut {
    std::string target; // the local path of the link's target, else its relative path
    std::string arguments, workingDir, description;
};

// Reads a shell link (.lnk). Returns false, *shortcut untouched, when the bytes are no shell
// link or end before its strings do.
bool Tryout_ReadShortcut(const std::string &bytes, TryoutShortcut *shortcut);
