// Wine's registry files (system.reg, user.reg) read into keys and values, two of them compared
// without what Wine itself rewrites at every start, and a value's data shown as a user reads it.
#include "tryout-registry.h"

#include <string.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "tryout-text.h"

// Reads a name or a string that Wine escaped (\\, \", \n and the other C escapes, octal and
// \x hex units) from text[*at] up to the unescaped character end, and moves *at past it.
// Returns false when it does not end on the line.
static bool Unescape(const std::string &text, size_t *at, char end, std::string *out) {
    static const char kEscapes[] = "a\ab\bt\tn\nv\vf\fr\re\x1b";
    std::vector<uint16_t> units;
    size_t i = *at;
    while (i < text.size() && text[i] != end) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            units.push_back((uint8_t)text[i++]);
            continue;
        }
        char c = text[++i];
        const char *escape = strchr(kEscapes, c);
        uint32_t unit = 0;
        int digits = 0;
        if (c == 'x') {
            for (; digits < 4 && i + 1 < text.size() && isxdigit((uint8_t)text[i + 1]); digits++) {
                char digit = (char)tolower((uint8_t)text[++i]);
                unit = unit * 16 + (uint32_t)(digit <= '9' ? digit - '0' : digit - 'a' + 10);
            }
        } else if (c >= '0' && c <= '7') {
            for (i--; digits < 3 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7';
                 digits++)
                unit = unit * 8 + (uint32_t)(text[++i] - '0');
        } else if (c && escape && (escape - kEscapes) % 2 == 0) {
            unit = (uint8_t)escape[1];
        } else {
            unit = (uint8_t)c;
        }
        units.push_back((uint16_t)unit);
        i++;
    }
    if (i >= text.size()) return false;
    *at = i + 1;
    *out = TryoutText_Utf8Of(units);
    return true;
}

bool Tryout_ParseRegistry(const std::string &text, const std::string &root,
                          TryoutRegistry *registry) {
    if (text.compare(0, 13, "WINE REGISTRY") != 0) return false;
    std::istringstream lines(text);
    std::string part, line, key;
    bool inKey = false;
    while (std::getline(lines, part)) {
        if (!part.empty() && part.back() == '\r') part.pop_back();
        // A line that ends with a backslash goes on in the next (long hex data), whose indent
        // is not part of the data.
        line +=
            line.empty() ? part : part.substr(std::min(part.find_first_not_of(" \t"), part.size()));
        if (!line.empty() && line.back() == '\\' && !lines.eof()) {
            line.pop_back();
            continue;
        }
        size_t at = 1;
        std::string name;
        if (line[0] == '[') {
            inKey = Unescape(line, &at, ']', &name);
            key = root + "\\" + name;
            if (inKey) (*registry)[key];
        } else if (inKey && (line[0] == '"' ? Unescape(line, &at, '"', &name) : line[0] == '@') &&
                   at < line.size() && line[at] == '=') {
            (*registry)[key][name] = line.substr(at + 1);
        }
        line.clear();
    }
    return true;
}

// Keys that Wine rewrites when a program starts, whatever the program does: its display driver
// registers the display adapter and monitor device classes anew, which drops the classes'
// default values and writes the time of day into "DriverDateData" (every start); the network
// cards key, saved empty by the prefix's first start, holds only volatile entries afterwards and
// so leaves the file (the first start after it). Seen with a setup, an uninstaller and Wine's
// own tools alike; nothing of a product lands there. Devices that Wine's plug and play finds
// while a program runs (an input device of a virtual machine, found late on a busy one) are
// installed then: their instances, interfaces and the HID class's entries and the HID
// minidriver's service, with a .pnf file in C:\windows\inf for the .inf file used. The desktop's
// first start in a new prefix (late on a slow machine, so that a setup's run can see it) writes
// the theme: the colours, the window metrics and the theme manager's keys, and one bit of the
// user preferences (kWineChurnValues).
static const char *const kWineChurn[] = {
    "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}",
    "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96E-E325-11CE-BFC1-08002BE10318}",
    "HKLM\\System\\CurrentControlSet\\Control\\Class\\{745a17a0-74d3-11d0-b6fe-00a0c90f57da}",
    "HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses",
    "HKLM\\System\\CurrentControlSet\\Enum",
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    "HKLM\\System\\CurrentControlSet\\Services\\winehid",
    "HKCU\\Control Panel\\Colors",
    "HKCU\\Control Panel\\Desktop\\WindowMetrics",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager",
};

// Single values that Wine writes beside values of a product's (key, value name).
static const char *const kWineChurnValues[][2] = {
    {"HKCU\\Control Panel\\Desktop", "UserPreferencesMask"},
};

static bool IsWineChurnValue(const std::string &key, const std::string &name) {
    for (const auto &churn : kWineChurnValues)
        if (key.size() == strlen(churn[0]) && TryoutText_StartsWithNoCase(key, churn[0]) &&
            name.size() == strlen(churn[1]) && TryoutText_StartsWithNoCase(name, churn[1]))
            return true;
    return false;
}

// Keys that the restart (wineboot -r) makes in a 64-bit prefix's 32-bit view when it first
// looks for what they would hold: churn only while they stay empty.
static const char *const kWineEmptyKeys[] = {
    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
};

static bool IsWineChurn(const std::string &key) {
    for (const char *churn : kWineChurn) {
        size_t length = strlen(churn);
        if (TryoutText_StartsWithNoCase(key, churn) &&
            (key.size() == length || key[length] == '\\'))
            return true;
    }
    return false;
}

static bool IsWineEmptyKey(const std::string &key) {
    for (const char *empty : kWineEmptyKeys)
        if (key.size() == strlen(empty) && TryoutText_StartsWithNoCase(key, empty)) return true;
    return false;
}

bool Tryout_IsWineFile(const std::string &path) {
    static const char kInf[] = "C:\\windows\\inf\\";
    size_t length = sizeof kInf - 1;
    return path.size() > length + 4 && TryoutText_StartsWithNoCase(path, kInf) &&
           path.find('\\', length) == std::string::npos && TryoutText_EndsWithNoCase(path, ".pnf");
}

// Every key of the registry with all its parents (Wine writes no line for a key that has
// subkeys and no values).
static std::set<std::string> KeysOf(const TryoutRegistry &registry) {
    std::set<std::string> keys;
    for (const auto &entry : registry)
        for (size_t cut = entry.first.size(); cut != std::string::npos && cut > 0;
             cut = entry.first.rfind('\\', cut - 1))
            keys.insert(entry.first.substr(0, cut));
    return keys;
}

std::vector<TryoutChange> Tryout_DiffRegistry(const TryoutRegistry &before,
                                              const TryoutRegistry &after) {
    static const std::map<std::string, std::string> kNone;
    std::set<std::string> keys, keysBefore = KeysOf(before), keysAfter = KeysOf(after);
    for (const auto &entry : before) keys.insert(entry.first);
    for (const auto &entry : after) keys.insert(entry.first);
    std::vector<TryoutChange> changes;
    for (const std::string &key : keys) {
        if (IsWineChurn(key)) continue;
        auto was = before.find(key), is = after.find(key);
        const auto &old = was == before.end() ? kNone : was->second;
        const auto &now = is == after.end() ? kNone : is->second;
        if (old.empty() && now.empty() && IsWineEmptyKey(key)) continue;
        if (is != after.end() && now.empty() && !keysBefore.count(key))
            changes.push_back({'+', key, "", "", "", true});
        if (was != before.end() && old.empty() && !keysAfter.count(key))
            changes.push_back({'-', key, "", "", "", true});
        std::set<std::string> names;
        for (const auto &value : old) names.insert(value.first);
        for (const auto &value : now) names.insert(value.first);
        for (const std::string &name : names) {
            if (IsWineChurnValue(key, name)) continue;
            auto o = old.find(name), n = now.find(name);
            if (o == old.end())
                changes.push_back({'+', key, name, "", n->second, false});
            else if (n == now.end())
                changes.push_back({'-', key, name, o->second, "", false});
            else if (o->second != n->second)
                changes.push_back({'~', key, name, o->second, n->second, false});
        }
    }
    return changes;
}

bool Tryout_StringOf(const std::string &data, std::string *text) {
    size_t at = data.compare(0, 4, "str(") == 0 ? data.find(":\"") + 1 : 0;
    if (at >= data.size() || data[at] != '"') return false;
    at++;
    return Unescape(data, &at, '"', text);
}

std::string Tryout_ShowData(const std::string &data) {
    std::string text;
    if (!Tryout_StringOf(data, &text)) return data;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    for (size_t at; (at = text.find('\0')) != std::string::npos;) text.replace(at, 1, " | ");
    return text;
}
