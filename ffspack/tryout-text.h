// The texts of 'ffspack test': UTF-16 units as UTF-8 (registry files, shell links), names
// compared with letter case aside, and the report's labelled line.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// UTF-16 units as UTF-8; a unit of a broken surrogate pair stands as it is.
std::string TryoutText_Utf8Of(const std::vector<uint16_t> &units);
// Registry and file names compare with letter case aside: whether text starts (ends) with
// start (end).
bool TryoutText_StartsWithNoCase(const std::string &text, const std::string &start);
bool TryoutText_EndsWithNoCase(const std::string &text, const std::string &end);
// Prints one line of the report: the label in a column of its own, then the text.
void TryoutText_Line(const char *label, const std::string &text);
