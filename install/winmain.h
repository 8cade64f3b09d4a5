// The setup program's main sequence, as the entry point runs it, and what the backdrop window
// and the tests share with it: the run-script message and the exit codes.
#pragma once

enum { WM_RUNSCRIPT = 1025 }; // WM_USER + 1: runs the rest of the script inside the window

// Exit codes. Deployment tools can tell a finished installation from one that stopped.
enum {
    INSTALL_EXIT_NO_ARCHIVE = 0, // no archive in the executable, or no window could be made
    INSTALL_EXIT_DONE = 1,       // the script ran to its end (also every fatal error: 1)
    INSTALL_EXIT_FAILED = 2,     // a command failed or was unknown, or the user left
};

// Start-up, the script's runs and shutdown for the argument string (the command line without
// the program's name). Returns the exit code.
int Setup_Main(const char *arguments);
