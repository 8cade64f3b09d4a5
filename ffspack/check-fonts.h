// What the check of STRING's face knows of fonts: the faces that every Windows has since XP,
// and the family names in a font file's name table (TrueType, OpenType, collections).
#pragma once
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

// true when face (in any letter case) is one that every Windows has: a STRING may name it
// without a FONT.
bool CheckFonts_IsSystemFace(const std::string &face);
// Adds the family names (name 1) of the font file data to *names, in upper case. false when no
// family name can be read (not a font, or a font without a readable name table).
bool CheckFonts_AddFamilies(const std::vector<uint8_t> &data, std::set<std::string> *names);
