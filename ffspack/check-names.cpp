// The rules for names: a file's name inside a folder and a path on the target machine as
// Windows takes them (no control character, no root, no "..", drive or device, no trailing
// dot or blank), and names written printable and quoted for the findings.
#include "check-names.h"

#include <stdio.h>

#include <algorithm>

#include "filelist.h"

namespace {

// Names that Windows opens as a device in every folder, whatever their extension.
const char *const DEVICE_NAMES[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1", "COM2",
    "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",    "COM9", "LPT1",
    "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",   "LPT7",    "LPT8", "LPT9",
};

bool IsDrive(const std::string &text) {
    char letter = text.empty() ? 0 : (char)(text[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && text.size() >= 2 && text[1] == ':';
}

// The device that Windows opens for component: what comes before its first '.' or ':', blanks
// at its end dropped, when that is a device's name; "" otherwise.
std::string DeviceOf(const std::string &component) {
    std::string base = Check_Upper(component.substr(0, component.find_first_of(".:")));
    base.erase(base.find_last_not_of(' ') + 1);
    for (const char *device : DEVICE_NAMES)
        if (base == device) return base;
    return "";
}

// The fault of one component of name, or "". The words start by naming the component unless it
// is the whole name.
std::string ComponentFault(const std::string &component, const std::string &name) {
    if (component.empty()) return "";
    const std::string which =
        component == name ? "" : "holds " + Check_Quoted(component) + ", which ";
    if (component == "..") return which + "leads out of its folder";
    if (IsDrive(component)) return which + "names a drive: a name lies inside its folder";
    const std::string device = DeviceOf(component);
    if (!device.empty()) return which + "is the device " + device + " to Windows, not a file";
    if (component.back() == '.') return which + "ends with a dot: Windows drops it";
    if (component.back() == ' ') return which + "ends with a blank: Windows drops it";
    return "";
}

} // namespace

std::string Check_Quoted(const std::string &text) { return "'" + Check_Printable(text) + "'"; }

std::string Check_Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return text;
}

std::string Check_NameFault(const std::string &name) {
    for (unsigned char byte : name) {
        if (byte >= 32 && byte != 127) continue;
        char text[48];
        snprintf(text, sizeof text, "holds the control character 0x%02X", byte);
        return text;
    }
    size_t leading = std::min(name.find_first_not_of("\\/"), name.size());
    if (leading > 1 || (leading == 1 && name[0] == '/'))
        return "begins with " + Check_Quoted(name.substr(0, leading)) +
               ": a name lies inside its folder, with at most one leading backslash (which "
               "the setup steps over)";
    for (size_t start = leading; start <= name.size();) {
        size_t end = std::min(name.find_first_of("\\/", start), name.size());
        const std::string fault = ComponentFault(name.substr(start, end - start), name);
        if (!fault.empty()) return fault;
        start = end + 1;
    }
    return "";
}

std::string Check_PathFault(const std::string &path) {
    // The macro pairs are those of a FILE LIST item, and every path's.
    std::string rest = FileList_ArchiveName(path.c_str());
    if (rest.size() == path.size() && IsDrive(rest)) rest.erase(0, 2);
    return Check_NameFault(rest);
}

std::string Check_Printable(const std::string &text) {
    std::string printable;
    for (unsigned char byte : text) {
        char escape[8];
        snprintf(escape, sizeof escape, byte < 32 || byte == 127 ? "\\x%02X" : "%c", byte);
        printable += escape;
    }
    return printable;
}
