// 'ffspack test' of an i386 setup where this kernel cannot run 32-bit programs: the same
// command run by vm-run.sh inside a virtual machine, the helper programs of an installed or
// built ffspack, and the advice to try the x64 build instead (Linux builder only).
#pragma once
#include <string>

#include "tryout-options.h"

// A helper program of ours: the one that the environment variable variable names, else
// installed (lib/tessel-install/<installed> beside the bin/ of an installed ffspack), else in
// the source tree that a build tree of this ffspack lies in (<inTree> of it). "" when none.
std::string TryoutVm_FindHelper(const char *variable, const char *installed, const char *inTree);
// What to do where an i386 setup cannot run: the same product built with the x64 stub runs
// under 64-bit Wine; the i386 one is still what users get.
std::string TryoutVm_X64Advice(const TryoutOptions &options);
// Tries the setup with this same program inside the virtual machine, whose kernel runs 32-bit
// programs: a job folder with copies of both and the command line, run by vm-run.sh, which
// shows the report as it comes. Returns the run's exit code, or 1 with the reason.
int TryoutVm_Run(const TryoutOptions &options);
