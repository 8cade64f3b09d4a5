// The texts of 'ffspack test': UTF-16 units as UTF-8 (registry files, shell links), names
// compared with letter case aside, and the report's labelled line.
#include "tryout-text.h"

#include <ctype.h>
#include <stdio.h>

static void PutUtf8(uint32_t code, std::string *out) {
    int tail = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static const uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    *out += (char)(kLead[tail] | code >> (6 * tail));
    for (int i = tail - 1; i >= 0; i--) *out += (char)(0x80 | (code >> (6 * i) & 0x3F));
}

std::string TryoutText_Utf8Of(const std::vector<uint16_t> &units) {
    std::string out;
    for (size_t i = 0; i < units.size(); i++) {
        uint32_t code = units[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        PutUtf8(code, &out);
    }
    return out;
}

bool TryoutText_StartsWithNoCase(const std::string &text, const std::string &start) {
    if (text.size() < start.size()) return false;
    for (size_t i = 0; i < start.size(); i++)
        if (tolower((uint8_t)text[i]) != tolower((uint8_t)start[i])) return false;
    return true;
}

bool TryoutText_EndsWithNoCase(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           TryoutText_StartsWithNoCase(text.substr(text.size() - end.size()), end);
}

void TryoutText_Line(const char *label, const std::string &text) {
    printf("%-15s %s\n", label, text.c_str());
}
