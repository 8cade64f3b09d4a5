// The setup program's main sequence, as the entry point runs it, and what the backdrop window
// and the tests share with it: the exit codes.
#pragma once

// Exit codes. Deployment tools can tell a finished installation from one that stopped and from
// a setup that could not run; only INSTALL_EXIT_DONE means installed. The list of switches
// (-?) ends with INSTALL_EXIT_FAILED: nothing was installed.
enum {
    INSTALL_EXIT_NO_ARCHIVE = 0, // the stub with nothing appended, or no window could be made
    INSTALL_EXIT_DONE = 1,       // the script ran to its end
    INSTALL_EXIT_FAILED = 2,     // a command failed or was unknown, or the user left
    INSTALL_EXIT_BROKEN = 3,     // damaged (no archive found, or the integrity check failed), no
                                 // script, an internal error, a command line it refuses, or
                                 // (quiet) an older version over a newer one, refused
};

// Start-up, the script's runs and shutdown for the argument string (the command line without
// the program's name). Returns the exit code.
int Setup_Main(const char *arguments);
