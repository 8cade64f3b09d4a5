// 'ffspack test': a finished setup tried as a user would meet it, quietly, in a throw-away Wine
// prefix, then its uninstaller; what each wrote and left, read from the prefix's files, its
// registry files and its shortcuts. The readers of those formats (tryout-registry, tryout-shortcut)
// and the log's failure rule (tryout-log) are pure and tested on the host; the runs need Wine
// (Linux builder only).
#pragma once
#include "tryout-options.h"

// Tries the setup and prints what it did. Returns 0 when the setup ended with 1 and its
// uninstaller, named by the uninstall entry, with 1 leaving nothing behind; 1 otherwise (the
// output says why): also for a program that wrote no log (Wine never started it), an
// uninstaller written that no entry names, and what stays for want of an uninstaller. The
// prefix is removed unless options.keep. An i386 setup on a kernel that cannot execute 32-bit
// programs (or with options.vm) is tried by this same program inside the virtual machine of
// vm-run.sh (found through TESSEL_VM_RUN, beside an installed ffspack, or in the source tree it
// was built from), which prints the same report.
int Tryout_Run(const TryoutOptions &options);
