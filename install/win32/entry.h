// The process entry point of the setup program and of the uninstaller (entry.cpp), in place of
// the C runtime's start-up code, which neither program needs; each program defines Entry_Main.
#pragma once

// The program's main sequence for the argument string (the command line without the program's
// name and the blanks after it). Its result is the process's exit code.
int Entry_Main(const char *arguments);
