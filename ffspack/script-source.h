// The text form of the installation script for publishers, and its compiler into the bytes of
// "install.dat". One command a line: KEYWORD:argument|argument. Lines that are empty or begin
// with '#' are remarks. "\|" is a '|' inside an argument; every other backslash is itself.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

typedef std::vector<unsigned char> ScriptBytes;

// Compiles source (named sourceName in messages) into marker, keyword, ':', arguments
// separated by the marker, CR LF for each command. Refuses, with *error naming the line: a
// line without ':', a keyword the setup does not run, a byte that the setup would take for the
// end of an argument (below 32, or 128 and above). Returns false then and leaves *script empty.
bool Script_Compile(const std::string &source, const std::string &sourceName, ScriptBytes *script,
                    std::string *error);

// ---- The pieces of the compiler, shared with the builder's checks (check.h) ----

// A line of the text form that holds a command: its number (the first line is 1) and its text
// without the line end.
typedef struct ScriptLine {
    int number;
    std::string text;
} ScriptLine;

// The lines of source that hold commands: neither empty, blanks only, nor remarks ('#').
std::vector<ScriptLine> Script_Lines(const std::string &source);
// The keyword of line, the blanks around it trimmed, and *found 1; without a ':' in the line,
// the whole line trimmed and *found 0.
std::string Script_Keyword(const ScriptLine &line, int *found);
// The arguments after the line's first ':', split at '|' ("\|" is a '|'); none when nothing
// follows the ':' or the line has none.
std::vector<std::string> Script_Arguments(const ScriptLine &line);
// The column (from 1) of the first byte after the line's ':' that the setup would take for the
// end of an argument, with the byte in *byte; 0 when there is none.
size_t Script_BadByte(const ScriptLine &line, unsigned char *byte);
// What is wrong with such a byte, for a message: "byte 0xE9 in column 9: ...".
std::string Script_BadByteText(unsigned char byte, size_t column);
// Appends one command as the setup reads it: marker, keyword, ':', the arguments separated by
// the marker, CR LF.
void Script_Emit(const std::string &keyword, const std::vector<std::string> &arguments,
                 ScriptBytes *script);

// ---- The compiled script as the setup scans it ----

// One command that the setup reaches: its keyword's id (keywords.h) and the texts of the
// arguments the keyword takes, each up to the byte that ends it.
typedef struct ScriptCommand {
    int32_t id;
    std::vector<std::string> arguments;
} ScriptCommand;

// Scans script as the setup runs it: each marker starts a command whose keyword runs to ':' (in
// any letter case), and the scan goes on behind the arguments the keyword takes, so an argument
// is never read as a command. Calls visit for every command in turn; stops when visit returns
// false, and at a keyword the setup does not know, where the setup stops too.
void Script_Walk(const ScriptBytes &script,
                 const std::function<bool(const ScriptCommand &)> &visit);
