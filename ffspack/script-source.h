// The text form of the installation script for publishers, and its compiler into the bytes of
// "install.dat". One command a line: KEYWORD:argument|argument. Lines that are empty or begin
// with '#' are remarks. "\|" is a '|' inside an argument; every other backslash is itself.
#pragma once
#include <string>
#include <vector>

typedef std::vector<unsigned char> ScriptBytes;

// Compiles source (named sourceName in messages) into marker, keyword, ':', arguments
// separated by the marker, CR LF for each command. Refuses, with *error naming the line: a
// line without ':', a keyword the setup does not run, a byte that the setup would take for the
// end of an argument (below 32, or 128 and above). Returns false then and leaves *script empty.
bool Script_Compile(const std::string &source, const std::string &sourceName, ScriptBytes *script,
                    std::string *error);
