// The reader of shell links (.lnk) behind 'ffspack test': the target, arguments, working folder
// and description of a shortcut that a setup made.
#include "tryout-shortcut.h"

#include <stdint.h>
#include <string.h>

#include "tryout-text.h"

enum {
    LNK_HEADER_SIZE = 0x4C,
    LNK_HAS_ID_LIST = 0x01,
    LNK_HAS_LINK_INFO = 0x02,
    LNK_IS_UNICODE = 0x80,
    LNK_INFO_HEADER_SIZE = 28,
    LNK_INFO_LOCAL_PATH = 0x01, // the link info holds the volume and the local base path
};

static uint32_t Le(const std::string &bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; i--) value = value << 8 | (uint8_t)bytes[at + i];
    return value;
}

// The zero-ended ANSI string at offset within the link info [start, end); false when it runs
// past the end.
static bool InfoString(const std::string &bytes, size_t start, size_t end, uint32_t offset,
                       std::string *text) {
    if (offset >= end - start) return false; // and start + offset cannot wrap
    size_t stop = bytes.find('\0', start + offset);
    if (stop >= end) return false; // none at all too
    *text = bytes.substr(start + offset, stop - start - offset);
    return true;
}

bool Tryout_ReadShortcut(const std::string &bytes, TryoutShortcut *shortcut) {
    static const char kLinkClass[16] = {1,          0x14, 2, 0, 0, 0, 0, 0,
                                        (char)0xC0, 0,    0, 0, 0, 0, 0, 0x46};
    size_t size = bytes.size();
    if (size < LNK_HEADER_SIZE || Le(bytes, 0, 4) != LNK_HEADER_SIZE ||
        memcmp(bytes.data() + 4, kLinkClass, sizeof kLinkClass) != 0)
        return false;
    uint32_t flags = Le(bytes, 0x14, 4);
    size_t at = LNK_HEADER_SIZE;
    if (flags & LNK_HAS_ID_LIST) {
        if (at + 2 > size) return false;
        at += 2 + Le(bytes, at, 2);
        if (at > size) return false;
    }
    TryoutShortcut read;
    if (flags & LNK_HAS_LINK_INFO) {
        if (at + LNK_INFO_HEADER_SIZE > size) return false;
        uint32_t infoSize = Le(bytes, at, 4);
        if (infoSize < LNK_INFO_HEADER_SIZE || infoSize > size - at) return false;
        std::string base, suffix;
        if ((Le(bytes, at + 8, 4) & LNK_INFO_LOCAL_PATH) &&
            (!InfoString(bytes, at, at + infoSize, Le(bytes, at + 16, 4), &base) ||
             !InfoString(bytes, at, at + infoSize, Le(bytes, at + 24, 4), &suffix)))
            return false;
        read.target = base + suffix;
        at += infoSize;
    }
    // The strings that follow, each when its flag is set: a count of characters, then UTF-16
    // or ANSI characters.
    std::string relative, icon;
    std::string *strings[] = {&read.description, &relative, &read.workingDir, &read.arguments,
                              &icon};
    for (int i = 0; i < 5; i++) {
        if (!(flags & (0x04u << i))) continue;
        if (at + 2 > size) return false;
        size_t count = Le(bytes, at, 2), width = flags & LNK_IS_UNICODE ? 2 : 1;
        at += 2;
        if (count * width > size - at) return false;
        std::vector<uint16_t> units;
        for (size_t c = 0; c < count; c++)
            units.push_back((uint16_t)Le(bytes, at + c * width, (int)width));
        while (!units.empty() && units.back() == 0) units.pop_back(); // Wine counts the closing NUL
        *strings[i] = TryoutText_Utf8Of(units);
        at += count * width;
    }
    if (read.target.empty()) read.target = relative;
    *shortcut = read;
    return true;
}
