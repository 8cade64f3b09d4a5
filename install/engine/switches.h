// The words of the command line beyond the mode and the log switches, which are found anywhere
// in it (Log_ParseOptions, "-Quiet"): the installation folder of a deployment ("-Dir=PATH",
// or "/D=PATH" as other setups spell it), the log file's path ("-Log=PATH"), the list of
// switches ("-?" or "/?"), and the first word that no switch explains. Portable; the setup and
// the uninstaller read their argument strings with it.
#pragma once
#include <stdint.h>

enum {
    SWITCH_VALUE_SIZE = 320, // a switch's value: at most 319 characters
    SWITCH_WORD_SIZE = 80,   // a refused word as the log line shows it (cut: only shown)
};

// What a refused word was.
enum {
    SWITCH_OK = 0,
    SWITCH_UNKNOWN = 1,  // a word that holds no switch
    SWITCH_TOO_LONG = 2, // a value longer than SWITCH_VALUE_SIZE - 1 (refused, never cut)
    SWITCH_EMPTY = 3,    // "-Dir=" or "-Log=" without a value
};

typedef struct Switches {
    int Help;                        // "-?" or "/?" was given
    char Folder[SWITCH_VALUE_SIZE];  // the installation folder; empty: none
    char LogPath[SWITCH_VALUE_SIZE]; // the log file; empty: none
    int Refusal;                     // SWITCH_OK, or why Word was refused
    char Word[SWITCH_WORD_SIZE];     // the first refused word
} Switches;

// Reads the argument string (without the program's name) into switches, cleared first. Words are
// separated by blanks outside double quotes; a quoted stretch belongs to its word and loses its
// quotes ("-Dir=\"C:\Program Files\Bramble\""). A word is known when it is a value switch
// (its name in any letter case, "=", a value), "-?" or "/?", or holds one of the mode and log
// switches anywhere, in any letter case (so "-Debugger" counts as "-debug", as the log sees it).
// The last value of a switch counts. Returns 1, or 0 with Refusal and Word set for the first word
// that is refused (the rest is still read).
int Switch_Parse(const char *arguments, Switches *switches);
// The log line's words for a refusal: "unknown switch". "" for SWITCH_OK.
const char *Switch_Reason(int refusal);
// The list of switches that "-?" shows, one a line.
const char *Switch_Help(void);
