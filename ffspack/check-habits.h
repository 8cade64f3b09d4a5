// The checks of what a publisher writes without meaning it: the setup takes these scripts
// without a word, and the product is then not what was meant (a name with a blank at its end
// becomes a folder with one, a shortcut points at nothing, an uninstaller has no entry). Called
// by the script checks (check.cpp) with the commands as the setup reads them.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "check-report.h"

// One command: its line, its KeywordId and its arguments.
typedef struct HabitCommand {
    int line;
    int32_t id;
    const std::vector<std::string> *arguments;
} HabitCommand;

// A finding on a command's line; the text follows "script:line: KEYWORD: ".
typedef struct HabitFinding {
    CheckKind kind;
    int line;
    int32_t id;
    std::string text;
} HabitFinding;

// The findings on commands, in script order of the checks:
// errors: a name or path argument (COMPANY NAME, PRODUCT NAME, REGISTRY PATH, INSTALL DIR,
//   UNINSTALL NAME, INSTALL NAME, CREATE GROUP, a FILE LIST item, the archive names, ADD ITEM's
//   target and item name, OLE's server, EXECUTE's program) that begins or ends with a blank; a
//   FILE LIST item in the install record's place beside the uninstaller;
// warnings: UNINSTALL NAME and INSTALL without DONE (an uninstaller with no entry that points
//   at it); a FILE LIST without INSTALL in a script that chooses the folder, breaks or ends
//   with DONE; the uninstaller in FILE LIST; an ADD ITEM target in the
//   installation folder that is no FILE LIST item nor the uninstaller; a colour that is not
//   three numbers separated by ','; a number with text behind it ("5s": the setup reads 5).
std::vector<HabitFinding> Check_Habits(const std::vector<HabitCommand> &commands);
