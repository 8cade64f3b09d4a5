// The command registry: script keywords mapped to their handlers by quick CRC, and the handlers
// of the keyword table (keywords.h) that start-up registers; the setters' are settings.h's, the
// argument readers args.h's.
#pragma once
#include <stdint.h>

#include "actions.h"
#include "args.h"
#include "keywords.h"
#include "state.h"

// One registered keyword. The list runs longest keyword first; among equal lengths the one
// registered last stands first; no two entries share both length and quick CRC.
typedef struct CommandEntry {
    char Keyword[KEYWORD_SIZE];
    int32_t Length;
    uint32_t QuickCrc;
    CommandHandler Handler;
    struct CommandEntry *Next;
} CommandEntry;

// Adds a keyword; returns 1. Fatal for a keyword of 40 characters or more and for a second
// keyword with both the length and the quick CRC of one registered before; a quick-CRC twin of
// another length is only logged.
int Cmd_Register(const char *keyword, CommandHandler handler);
// Registers the keyword table in its order, every keyword but BREAK, which the interpreter
// registers (Script_RegisterBreak). Returns 1.
int Cmd_RegisterAll(void);
// 1 when word has the length and the quick CRC of a registered keyword (letters are not
// compared), else 0.
int Cmd_Find(const char *word);
// Sets *cursor to 0 and returns the result of the matching keyword's handler; 0 without
// calling anything when nothing matches.
int Cmd_Dispatch(const char *word, InstallState *state, const char *arguments, int32_t *cursor);
// Frees every entry and empties the registry. Returns 1.
int Cmd_ReleaseAll(void);

// WINDOW's arguments, as the setup and the uninstaller read them.
typedef struct WindowArgs {
    int32_t Mode;         // a WndCloseMode, from the mode's first character: '1', '2', else silent
    int32_t Milliseconds; // the time budget; 0 when out of range
    char Title[WND_NAME_SIZE];
    char Class[WND_NAME_SIZE];
    char Relaunch[INSTALL_PATH_SIZE]; // the program to start again, unexpanded
    char Prompt[WND_NAME_SIZE];
} WindowArgs;
// Reads WINDOW's arguments at the cursor into *window (cleared first): the mode and the prompt
// cut to their fields; a budget outside 32 signed bits, and a title, class or relaunch program
// that does not fit its field, refused (the name emptied and stepped over), each with its log
// line. Returns 1 when nothing was refused.
int Cmd_ReadWindow(const char *arguments, WindowArgs *window, int32_t *cursor);
