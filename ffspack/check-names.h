// The rules for names that the checks and the build hold every name to: a file's name inside
// a folder and a path on the target machine as Windows takes them, and a name written
// printable and quoted for a finding.
#pragma once
#include <string>

// Why name cannot be the name of a file inside a folder on Windows, as the words that follow the
// quoted name in a finding ("holds '..', which leads out of its folder"); "" when it can be one,
// and for an empty name. Refused: a control character (bytes below 32, and 127); a start at a
// root ('/', or more than the one leading backslash that the setup steps over); and as any
// component between '\' and '/': "..", a drive ("C:"), a name that Windows opens as a device
// (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$, in any letter case, with or
// without an extension), and a trailing dot or blank, which Windows drops.
std::string Check_NameFault(const std::string &name);
// The same for a path on the target machine that the script names: its leading macro pairs are
// passed over, and a drive at its very start is allowed (the setup takes "C:..." as it is).
std::string Check_PathFault(const std::string &path);
// text with each control character written as \xNN, so that a finding stays one line of text.
std::string Check_Printable(const std::string &text);
// text in single quotes, written printable (Check_Printable): a name as a finding quotes it.
std::string Check_Quoted(const std::string &text);
// text with its ASCII letters in upper case: names and faces compare in any letter case.
std::string Check_Upper(std::string text);
