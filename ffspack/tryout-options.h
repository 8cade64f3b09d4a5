// The options of 'ffspack test' as the command reads them, for the run and its parts.
#pragma once
#include <string>

enum {
    TRYOUT_TIMEOUT_DEFAULT = 300, // seconds for each Wine run
    TRYOUT_TIMEOUT_MAX = 86400,
};

struct TryoutOptions {
    std::string setup;
    std::string wine; // the Wine program; empty: chosen by the prefix's architecture
    std::string arch; // "win32" or "win64" (the prefix); empty: the setup's own
    bool vm = false;  // in the virtual machine of vm-run.sh even where this kernel runs i386
    bool keep = false;
    std::string screens; // the folder for the pictures of an interactive run; "": a quiet run
    std::string x64Stub; // the x64 stub installed with ffspack ("" when none), for the advice
    int timeout = TRYOUT_TIMEOUT_DEFAULT; // 1 to TRYOUT_TIMEOUT_MAX
};
