// The findings of the builder's checks: their kinds (error, warning, note), the report that
// collects them in script order, and a finding as the user reads it.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

enum CheckKind {
    CHECK_ERROR,   // the setup would fail, lose a command or miss a file: nothing is built
    CHECK_WARNING, // the setup runs, but not quite as written; the build goes on
    CHECK_NOTE,    // what the builder did to the script
};

typedef struct CheckMessage {
    CheckKind kind;
    // "setup.txt:12: FILE LIST: ..." (script name, line, keyword); a finding about the whole
    // script or an entry has no line: "setup.txt: ...".
    std::string text;
} CheckMessage;

typedef std::vector<CheckMessage> CheckReport;

// The number of messages of kind in report.
size_t Check_Count(const CheckReport &report, CheckKind kind);
// A message as the user reads it: "error: ", "warning: " or "note: " and its text.
std::string Check_Format(const CheckMessage &message);
