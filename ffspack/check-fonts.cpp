// The faces a script may name without a FONT (those every Windows has) and the family names
// read from a font file's name table, for the check of STRING's face.
#include "check-fonts.h"

#include "check-names.h"

namespace {

// Faces that every Windows has since XP: a STRING may name them without a FONT.
const char *const SYSTEM_FACES[] = {
    "Arial",
    "Arial Black",
    "Comic Sans MS",
    "Courier",
    "Courier New",
    "Georgia",
    "Impact",
    "Lucida Console",
    "MS Sans Serif",
    "MS Serif",
    "Microsoft Sans Serif",
    "Palatino Linotype",
    "Segoe UI",
    "Symbol",
    "System",
    "Tahoma",
    "Times New Roman",
    "Trebuchet MS",
    "Verdana",
    "Webdings",
    "Wingdings",
};

uint32_t Big16(const std::vector<uint8_t> &data, size_t at) {
    return at + 2 <= data.size() ? (uint32_t)data[at] << 8 | data[at + 1] : 0;
}

uint32_t Big32(const std::vector<uint8_t> &data, size_t at) {
    return Big16(data, at) << 16 | Big16(data, at + 2);
}

// The family names (name 1) of the TrueType or OpenType font at offset at of data, added to
// *names in upper case; false when it has no name table that can be read.
bool ReadFamilies(const std::vector<uint8_t> &data, size_t at, std::set<std::string> *names) {
    size_t table = 0;
    for (uint32_t i = 0, tables = Big16(data, at + 4); i < tables && !table; i++) {
        size_t record = at + 12 + 16 * (size_t)i;
        if (Big32(data, record) == 0x6E616D65) table = Big32(data, record + 8); // "name"
    }
    if (!table || table + 6 > data.size()) return false;
    size_t strings = table + Big16(data, table + 4);
    bool found = false;
    for (uint32_t i = 0, count = Big16(data, table + 2); i < count; i++) {
        size_t record = table + 6 + 12 * (size_t)i;
        uint32_t platform = Big16(data, record), length = Big16(data, record + 8);
        size_t text = strings + Big16(data, record + 10);
        if (record + 12 > data.size() || Big16(data, record + 6) != 1 ||
            text + length > data.size())
            continue;
        std::string family;
        if (platform == 1) // Macintosh: one byte a character
            family.assign(data.begin() + (long)text, data.begin() + (long)(text + length));
        else // Unicode and Windows: UTF-16, big-endian
            for (size_t k = 0; k + 1 < length; k += 2)
                family.push_back(data[text + k] ? '?' : (char)data[text + k + 1]);
        names->insert(Check_Upper(family));
        found = true;
    }
    return found;
}

} // namespace

bool CheckFonts_IsSystemFace(const std::string &face) {
    for (const char *system : SYSTEM_FACES)
        if (Check_Upper(face) == Check_Upper(system)) return true;
    return false;
}

bool CheckFonts_AddFamilies(const std::vector<uint8_t> &data, std::set<std::string> *names) {
    bool read = false;
    if (Big32(data, 0) == 0x74746366) // "ttcf": a collection, its fonts' offsets at 12
        for (uint32_t i = 0, fonts = Big32(data, 8); i < fonts && i < 256; i++)
            read = ReadFamilies(data, Big32(data, 12 + 4 * (size_t)i), names) || read;
    else
        read = ReadFamilies(data, 0, names);
    return read;
}
