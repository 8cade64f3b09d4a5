// 'ffspack test': a finished setup tried as a user would meet it, quietly, in a throw-away Wine
// prefix, then its uninstaller; what each wrote and left, read from the prefix's files, its
// registry files and its shortcuts. The readers of those formats (tryout-registry, tryout-shortcut)
// and the log's failure rule (tryout-log) are pure and tested on the host; the runs need Wine
// (Linux builder only).
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

// Tries the setup and prints what it did. Returns 0 when the setup ended with 1 and its
// uninstaller, named by the uninstall entry, with 1 leaving nothing behind; 1 otherwise (the
// output says why): also for a program that wrote no log (Wine never started it), an
// uninstaller written that no entry names, and what stays for want of an uninstaller. The
// prefix is removed unless options.keep. An i386 setup on a kernel that cannot execute 32-bit
// programs (or with options.vm) is tried by this same program inside the virtual machine of
// vm-run.sh (found through TESSEL_VM_RUN, beside an installed ffspack, or in the source tree it
// was built from), which prints the same report.
int Tryout_Run(const TryoutOptions &options);
