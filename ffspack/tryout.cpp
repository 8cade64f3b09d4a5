// 'ffspack test': a setup and its uninstaller run quietly in a throw-away Wine prefix, compared
// with snapshots of the prefix's files and registry; the readers of Wine's registry files, of
// shell links and of the setup's log lines.
#include "tryout.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "pack.h"
#include "screens.h"
#include "tessel-pe.h"
#include "uninst.h"

namespace fs = std::filesystem;

// ---- Text ----

static void PutUtf8(uint32_t code, std::string *out) {
    int tail = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static const uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    *out += (char)(kLead[tail] | code >> (6 * tail));
    for (int i = tail - 1; i >= 0; i--) *out += (char)(0x80 | (code >> (6 * i) & 0x3F));
}

// UTF-16 units as UTF-8; a unit of a broken surrogate pair stands as it is.
static std::string Utf8Of(const std::vector<uint16_t> &units) {
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

// ---- Wine's registry files ----

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
    *out = Utf8Of(units);
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
// installed then: their instances, interfaces and the HID class's entries, with a .pnf file
// in C:\windows\inf for the .inf file used.
static const char *const kWineChurn[] = {
    "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}",
    "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96E-E325-11CE-BFC1-08002BE10318}",
    "HKLM\\System\\CurrentControlSet\\Control\\Class\\{745a17a0-74d3-11d0-b6fe-00a0c90f57da}",
    "HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses",
    "HKLM\\System\\CurrentControlSet\\Enum",
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
};

// Keys that the restart (wineboot -r) makes in a 64-bit prefix's 32-bit view when it first
// looks for what they would hold: churn only while they stay empty.
static const char *const kWineEmptyKeys[] = {
    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
};

// Registry and file names compare with letter case aside.
static bool StartsWithNoCase(const std::string &text, const std::string &start) {
    if (text.size() < start.size()) return false;
    for (size_t i = 0; i < start.size(); i++)
        if (tolower((uint8_t)text[i]) != tolower((uint8_t)start[i])) return false;
    return true;
}

static bool EndsWithNoCase(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           StartsWithNoCase(text.substr(text.size() - end.size()), end);
}

static bool IsWineChurn(const std::string &key) {
    for (const char *churn : kWineChurn) {
        size_t length = strlen(churn);
        if (StartsWithNoCase(key, churn) && (key.size() == length || key[length] == '\\'))
            return true;
    }
    return false;
}

static bool IsWineEmptyKey(const std::string &key) {
    for (const char *empty : kWineEmptyKeys)
        if (key.size() == strlen(empty) && StartsWithNoCase(key, empty)) return true;
    return false;
}

bool Tryout_IsWineFile(const std::string &path) {
    static const char kInf[] = "C:\\windows\\inf\\";
    size_t length = sizeof kInf - 1;
    return path.size() > length + 4 && StartsWithNoCase(path, kInf) &&
           path.find('\\', length) == std::string::npos && EndsWithNoCase(path, ".pnf");
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

// The text of a string value ("..." or str(N):"..."), its NULs kept; false for other data.
static bool StringOf(const std::string &data, std::string *text) {
    size_t at = data.compare(0, 4, "str(") == 0 ? data.find(":\"") + 1 : 0;
    if (at >= data.size() || data[at] != '"') return false;
    at++;
    return Unescape(data, &at, '"', text);
}

std::string Tryout_ShowData(const std::string &data) {
    std::string text;
    if (!StringOf(data, &text)) return data;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    for (size_t at; (at = text.find('\0')) != std::string::npos;) text.replace(at, 1, " | ");
    return text;
}

// ---- Shell links ----

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
        *strings[i] = Utf8Of(units);
        at += count * width;
    }
    if (read.target.empty()) read.target = relative;
    *shortcut = read;
    return true;
}

// ---- The log's failures ----

// A log line reports a failure when one of these phrases stands among its words, in any letter
// case. Names the line quotes ('C:\failed\x') and captions and titles it brackets ([...]) are
// no words; punctuation at a word's ends does not count, inside one it does (error.txt).
static const char *const kFailurePhrases[] = {
    "unable",
    "couldn't",
    "fail",
    "failed",
    "error",
    "unknown",
    "abort",
    "assert",
    "missing",
    "incompatible",
    "damaged",
    "corrupted",
    "stopped",
    "declined",
    "canceled",
    "too long",
    "too large",
    "too short",
    "out of range",
    "cut short",
    "not same",
    "bad type",
    "not all memory",
    "doesn't contain",
    "does not contain",
    "are in use",
    "at the next restart",
};

bool Tryout_IsFailure(const std::string &line) {
    // The words, lower case, each between blanks: " unable to create file ".
    std::string words = " ", word;
    auto isWordChar = [](char c) { return isalnum((uint8_t)c) || (uint8_t)c >= 0x80; };
    auto endWord = [&]() {
        size_t first = word.find_first_not_of("(\"");
        size_t last = word.find_last_not_of(":!,;.?)\"");
        if (first != std::string::npos && last != std::string::npos && first <= last)
            words += word.substr(first, last - first + 1) + " ";
        word.clear();
    };
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        size_t close = std::string::npos;
        if (c == '[') {
            close = line.find(']', i + 1);
        } else if (c == '\'' && (i == 0 || !isWordChar(line[i - 1]))) {
            for (close = line.find('\'', i + 1);
                 close != std::string::npos && close + 1 < line.size() &&
                 isWordChar(line[close + 1]);
                 close = line.find('\'', close + 1)) {
            }
        }
        if (close != std::string::npos) {
            endWord();
            i = close;
        } else if (isspace((uint8_t)c)) {
            endWord();
        } else {
            word += (char)tolower((uint8_t)c);
        }
    }
    endWord();
    for (const char *phrase : kFailurePhrases)
        if (words.find(" " + std::string(phrase) + " ") != std::string::npos) return true;
    return false;
}

// ---- Running under Wine ----

#if defined(_WIN32)
int Tryout_Run(const TryoutOptions &options) {
    (void)options;
    fprintf(stderr, "ffspack: 'test' runs setups under Wine: that is the Linux builder's\n");
    return 1;
}
#else
#include <signal.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

enum { RUN_TIMED_OUT = -2, RUN_NOT_STARTED = -1 };

static const char kOwnFolder[] = "C:\\ffspack-test"; // the copied setup and its debug.log
// The keys of uninstall entries; a 32-bit setup in a 64-bit prefix writes into the second.
static const char *const kUninstallKeys[] = {
    "HKLM\\" UNINSTREG_KEY_PREFIX,
    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
};
static const char kPendingKey[] = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";

static struct {
    std::string prefix, arch, wine, loader, server;
    int timeout;
    double seconds;      // the last Windows program's run, with the Wine server's end
    std::string said;    // what Wine wrote on the outputs during that run
    std::string display; // the X display of an interactive run; "": none
    std::string robot;   // the robot of an interactive run, beside each program; "": none
} T;

// Runs argv in folder with the prefix's environment, its output added to the prefix's
// wine-output.txt, for at most the timeout; then ends it and the Wine server with every Windows
// process. It stays in our process group, so that Ctrl-C ends it with us. Returns the exit code,
// RUN_NOT_STARTED or RUN_TIMED_OUT.
static int Run(const std::vector<std::string> &argv, const std::string &folder);

// Starts argv in folder as Run does, without waiting. Returns the process, or -1.
static pid_t Start(const std::vector<std::string> &argv, const std::string &folder) {
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        setenv("WINEPREFIX", T.prefix.c_str(), 1);
        setenv("WINEARCH", T.arch.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // No Mono or Gecko offers, and no menu entries in the user's home for the shortcuts.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        if (!T.loader.empty()) setenv("WINELOADER", T.loader.c_str(), 1);
        if (T.display.empty())
            unsetenv("DISPLAY"); // nothing can appear; a box returns at once
        else
            setenv("DISPLAY", T.display.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        FILE *output = fopen((T.prefix + "/wine-output.txt").c_str(), "a");
        if (output) dup2(fileno(output), 1), dup2(fileno(output), 2);
        std::vector<char *> args;
        for (const std::string &arg : argv) args.push_back((char *)arg.c_str());
        args.push_back(nullptr);
        if (chdir(folder.c_str()) == 0) execvp(args[0], args.data());
        _exit(127);
    }
    return child;
}

static int Run(const std::vector<std::string> &argv, const std::string &folder) {
    pid_t child = Start(argv, folder);
    if (child < 0) return RUN_NOT_STARTED;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(T.timeout);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            if (argv[0] != T.server) Run({T.server, "-k"}, T.prefix);
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return RUN_TIMED_OUT;
        }
        usleep(50 * 1000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : RUN_NOT_STARTED;
}

// ---- The robot of an interactive run ----

// The test robot (tests/robot) beside the setup in its prefix and display: it answers each box
// and dialog with the button that goes on (id 1: OK, Continue, I Accept; else 6: Yes) and saves
// the screen before, numbered in the shots folder. Its files lie in our own folder.
static const char kRobotLog[] = "C:\\ffspack-test\\robot.log";
static const char kRobotStop[] = "C:\\ffspack-test\\robot.stop";
static const char kRobotShots[] = "C:\\ffspack-test\\screens";

struct RobotRun {
    pid_t process = -1;
};

static std::string HostPath(const std::string &windowsPath);
static std::string ReadAll(const std::string &path);
static void Line(const char *label, const std::string &text);

// Starts the robot and waits until it looks for boxes. false when it does not come up.
static bool StartRobot(RobotRun *run) {
    std::error_code code;
    fs::create_directories(HostPath(kRobotShots), code);
    fs::remove(HostPath(kRobotStop), code);
    fs::remove(HostPath(kRobotLog), code);
    run->process = Start({T.wine, T.robot, "--log", kRobotLog, "--stop", kRobotStop, "--default",
                          "1,6", "--shots", kRobotShots, "--timeout", std::to_string(T.timeout)},
                         T.prefix);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(T.timeout);
    while (run->process > 0 && std::chrono::steady_clock::now() < deadline) {
        if (ReadAll(HostPath(kRobotLog)).compare(0, 5, "ready") == 0) return true;
        if (waitpid(run->process, nullptr, WNOHANG) != 0) break;
        usleep(100 * 1000);
    }
    if (run->process > 0) kill(run->process, SIGKILL), waitpid(run->process, nullptr, 0);
    Line("Robot", "did not come up: " + T.robot + " (its output is in wine-output.txt)");
    return false;
}

// Tells the robot to stop and waits for it (ended at once when it does not stop in 30 s).
static void StopRobot(RobotRun *run) {
    std::ofstream(HostPath(kRobotStop)).put('\n');
    bool ended = false;
    for (int waited = 0; !ended && waited < 300; waited++) {
        ended = waitpid(run->process, nullptr, WNOHANG) != 0;
        if (!ended) usleep(100 * 1000);
    }
    if (!ended) kill(run->process, SIGKILL), waitpid(run->process, nullptr, 0);
}

// Runs a Windows program, then waits for the Wine server to end: for every process it started.
// In an interactive run the robot runs beside it.
static int RunWindows(std::vector<std::string> argv, const std::string &folder) {
    auto start = std::chrono::steady_clock::now();
    std::string output = T.prefix + "/wine-output.txt";
    std::error_code code;
    uintmax_t before = fs::exists(output, code) ? fs::file_size(output, code) : 0;
    argv.insert(argv.begin(), T.wine);
    RobotRun robot;
    bool interactive = !T.display.empty();
    if (interactive && !StartRobot(&robot)) return RUN_NOT_STARTED;
    int exitCode = Run(argv, folder);
    if (interactive) StopRobot(&robot);
    if (exitCode != RUN_TIMED_OUT && Run({T.server, "-w"}, T.prefix) == RUN_TIMED_OUT)
        exitCode = RUN_TIMED_OUT;
    T.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream file(output, std::ios::binary);
    file.seekg((std::streamoff)before);
    std::ostringstream said;
    said << file.rdbuf();
    T.said = said.str();
    return exitCode;
}

// ---- Snapshots of the prefix ----

struct FileState {
    bool folder;
    uintmax_t size;
    int64_t modified;
};

struct Snapshot {
    std::map<std::string, FileState> files; // by Windows path
    TryoutRegistry registry;
};

struct FileChange {
    char kind; // '+' new, '~' written again, '-' gone
    std::string path;
    FileState state;
};

// Our own files, not the product's: the copied setup with its debug.log, and the uninstall.log
// that -debug has the uninstaller write into the temporary folder.
// Wine's own .pnf files are not the product's either.
static bool IsOwn(const std::string &path) {
    return StartsWithNoCase(path, kOwnFolder) || EndsWithNoCase(path, "\\Temp\\uninstall.log") ||
           Tryout_IsWineFile(path);
}

// Where a path on drive C: lies in the prefix.
static std::string HostPath(const std::string &windowsPath) {
    std::string path = T.prefix + "/drive_c/" + windowsPath.substr(3);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

static std::string ReadAll(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

static Snapshot Take() {
    Snapshot shot;
    std::error_code code, entryCode;
    fs::path drive = T.prefix + "/drive_c";
    for (fs::recursive_directory_iterator it(drive, code), end; !code && it != end;
         it.increment(code)) {
        std::string path = "C:\\" + fs::relative(it->path(), drive, entryCode).string();
        std::replace(path.begin(), path.end(), '/', '\\');
        bool folder = it->is_directory(entryCode);
        shot.files[path] = {folder, folder ? 0 : it->file_size(entryCode),
                            (int64_t)it->last_write_time(entryCode).time_since_epoch().count()};
    }
    Tryout_ParseRegistry(ReadAll(T.prefix + "/system.reg"), "HKLM", &shot.registry);
    Tryout_ParseRegistry(ReadAll(T.prefix + "/user.reg"), "HKCU", &shot.registry);
    return shot;
}

static std::vector<FileChange> DiffFiles(const Snapshot &before, const Snapshot &after) {
    std::vector<FileChange> changes;
    for (const auto &[path, state] : after.files) {
        auto was = before.files.find(path);
        if (IsOwn(path)) continue;
        if (was == before.files.end())
            changes.push_back({'+', path, state});
        else if (!state.folder &&
                 (was->second.size != state.size || was->second.modified != state.modified))
            changes.push_back({'~', path, state});
    }
    for (const auto &[path, state] : before.files)
        if (!after.files.count(path) && !IsOwn(path)) changes.push_back({'-', path, state});
    return changes;
}

// ---- What it shows ----

typedef std::map<int, const char *> Meanings;
static const Meanings kSetupExits = {
    {0, "no archive in the setup, or no window could be made"},
    {1, "done: the script ran to its end"},
    {2, "stopped: a command failed, or the script was left"},
    {3, "could not run: damaged, no script, or an internal error"},
};
static const Meanings kUninstallExits = {
    {1, "removed"}, {2, "stopped"}, {3, "damaged, or an internal error"}};

static std::string Count(size_t count, const char *thing) {
    return (count ? std::to_string(count) : "no") + " " + thing + (count == 1 ? "" : "s");
}

static void Line(const char *label, const std::string &text) {
    printf("%-15s %s\n", label, text.c_str());
}

// A section's title; false when it has nothing to show.
static bool Title(const char *title, size_t count) {
    printf("\n%s:%s\n", title, count ? "" : " none");
    return count > 0;
}

// Shows how a program ended: a problem unless with 1. Wine's launcher ends with 1 as well when
// it cannot start the program at all (a damaged image, one of another machine type, a missing
// file), and our programs write their log (-debug) before anything else: without a log
// (!started) the program never ran, whatever the code.
static void ShowExit(const char *program, int code, bool started, const std::string &logName,
                     const Meanings &meanings, std::vector<std::string> *problems) {
    if (code >= 0 && !started) {
        std::string text = std::string(program) + " never started: Wine ended with " +
                           std::to_string(code) + " and no " + logName + " was written";
        Line("Exit code", "none: " + text);
        const char *label = "Wine said";
        std::istringstream lines(T.said);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            Line(label, line);
            label = "";
        }
        problems->push_back(text);
        return;
    }
    auto meaning = meanings.find(code);
    std::string text = std::to_string(code) + " (" +
                       (meaning == meanings.end() ? "no code of ours" : meaning->second) + ")";
    char took[32];
    snprintf(took, sizeof took, ", %.1f s", T.seconds);
    if (code == RUN_TIMED_OUT)
        text = std::string(program) + " was still running after " + std::to_string(T.timeout) +
               " s: the Wine server was killed";
    else if (code == RUN_NOT_STARTED)
        text = "Wine could not start " + std::string(program);
    Line("Exit code", code >= 0 ? text + took : "none: " + text);
    if (code != 1) problems->push_back(code >= 0 ? program + (" ended with " + text) : text);
}

static void ShowLogFailures(const std::string &name, const std::string &path) {
    std::ifstream log(path, std::ios::binary);
    std::vector<std::string> failures;
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Tryout_IsFailure(line)) failures.push_back(line);
    }
    Line("Log", !log.is_open() ? "no " + name + " was written"
                               : name + " reports " + Count(failures.size(), "failure") +
                                     (failures.empty() ? "" : ":"));
    for (const std::string &line : failures) printf("                  %s\n", line.c_str());
}

static void ShowFiles(const char *title, const std::vector<FileChange> &changes) {
    if (!Title(title, changes.size())) return;
    size_t width = 0;
    for (const FileChange &change : changes) width = std::max(width, change.path.size());
    for (const FileChange &change : changes) {
        std::string what =
            change.state.folder ? "folder" : std::to_string(change.state.size) + " bytes";
        printf("  %-*s  %12s%s\n", (int)width, change.path.c_str(), what.c_str(),
               change.kind == '-' ? " (removed)" : "");
    }
}

static void ShowShortcuts(const std::vector<FileChange> &links) {
    if (!Title("Shortcuts", links.size())) return;
    for (const FileChange &link : links) {
        TryoutShortcut shortcut;
        printf("  %s\n", link.path.c_str());
        if (!Tryout_ReadShortcut(ReadAll(HostPath(link.path)), &shortcut))
            printf("    (not a readable shell link)\n");
        else
            printf("    target     %s\n    arguments  %s\n    folder     %s\n",
                   shortcut.target.c_str(),
                   shortcut.arguments.empty() ? "(none)" : shortcut.arguments.c_str(),
                   shortcut.workingDir.c_str());
    }
}

static void ShowValues(const char *title, const std::vector<TryoutChange> &changes) {
    if (!Title(title, changes.size())) return;
    std::string key;
    for (const TryoutChange &change : changes) {
        if (change.key != key || change.isKey)
            printf("  %s%s\n", (key = change.key).c_str(),
                   !change.isKey        ? ""
                   : change.kind == '+' ? "  (new key, no values)"
                                        : "  (key removed)");
        std::string name = change.name.empty() ? "(default)" : change.name;
        if (change.isKey) continue;
        if (change.kind == '-')
            printf("    %s removed, was %s\n", name.c_str(),
                   Tryout_ShowData(change.before).c_str());
        else
            printf("    %s = %s%s\n", name.c_str(), Tryout_ShowData(change.after).c_str(),
                   change.kind == '~' ? (", was " + Tryout_ShowData(change.before)).c_str() : "");
    }
}

// ---- The run ----

// 1 when this machine's kernel executes 32-bit programs, as 32-bit Wine needs.
static bool KernelRunsI386() { return system("/lib/ld-linux.so.2 --help >/dev/null 2>&1") == 0; }

// Chooses the prefix's architecture and the Wine that runs it, and whether the run happens in
// the virtual machine (*inVm). Returns false with *error when nothing can run the setup.
static bool ChooseWine(const TryoutOptions &options, std::string *error, bool *inVm) {
    std::ifstream file(options.setup, std::ios::binary);
    uint8_t head[PE_HEAD_SIZE];
    file.read((char *)head, sizeof head);
    uint16_t machine = 0;
    if (!file.is_open())
        *error = "cannot read '" + options.setup + "'";
    else if (!Pe_ReadMachine(head, (int32_t)file.gcount(), &machine))
        *error = "'" + options.setup + "' is not a Windows program";
    else if (machine != PE_MACHINE_I386 && machine != PE_MACHINE_AMD64)
        *error = "'" + options.setup + "' is made for a machine that Wine does not run here";
    else if (machine == PE_MACHINE_AMD64 && options.arch == "win32")
        *error = "'" + options.setup + "' is an x86-64 setup: a 32-bit prefix cannot run it";
    if (!error->empty()) return false;
    bool i386 = machine == PE_MACHINE_I386;
    *inVm = options.vm || (i386 && options.wine.empty() && !KernelRunsI386());
    T.arch = !options.arch.empty() ? options.arch : i386 ? "win32" : "win64";
    // A 64-bit prefix is run by the 64-bit loader, which hands a 32-bit program on to the
    // 32-bit one beside it (WINELOADER without its "64").
    bool widePrefix = T.arch == "win64";
    T.wine = !options.wine.empty() ? options.wine : widePrefix ? "/usr/lib/wine/wine64" : "wine";
    T.loader = widePrefix ? T.wine : "";
    // The server beside the program (/usr/lib/wine/wineserver), else the one on the path.
    std::error_code code;
    fs::path beside = fs::path(T.wine).parent_path() / "wineserver";
    T.server = T.wine.find('/') != std::string::npos && fs::exists(beside, code) ? beside.string()
                                                                                 : "wineserver";
    return true;
}

// ---- In the virtual machine ----

// A helper program of ours: the one that the environment variable variable names, else
// installed (lib/tessel-install/<installed> beside the bin/ of an installed ffspack), else in
// the source tree that a build tree of this ffspack lies in (<inTree> of it). "" when none.
static std::string FindHelper(const char *variable, const char *installed, const char *inTree) {
    const char *named = getenv(variable);
    if (named && *named) return named;
    std::error_code code;
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    if (code) return "";
    fs::path beside = self.parent_path().parent_path() / "lib/tessel-install" / installed;
    if (fs::exists(beside, code)) return beside.string();
    for (fs::path folder = self.parent_path(); folder != folder.parent_path();
         folder = folder.parent_path())
        if (fs::exists(folder / "scripts/vm-run.sh", code) &&
            fs::exists(folder / "CMakeLists.txt", code))
            return fs::exists(folder / inTree, code) ? (folder / inTree).string() : "";
    return "";
}

// vm-run.sh: TESSEL_VM_RUN, installed, or scripts/vm-run.sh of the source tree.
static std::string FindVmRunner() {
    return FindHelper("TESSEL_VM_RUN", "vm-run.sh", "scripts/vm-run.sh");
}

// Text as one word of a shell command line.
static std::string ShellWord(const std::string &text) {
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// What to do where an i386 setup cannot run: the same product built with the x64 stub runs
// under 64-bit Wine; the i386 one is still what users get.
static std::string X64Advice(const TryoutOptions &options) {
    std::string stub = options.x64Stub.empty()
                           ? "the x64 stub: build/win64/install/setup.exe of a source tree"
                           : "the x64 stub installed with ffspack: " + options.x64Stub;
    return "to try the product here under 64-bit Wine, build it again with 'ffspack build "
           "--arch x64' (" +
           stub +
           ") and try that setup; ship the x86 one, which runs on every Windows (the guide, "
           "docs/publishing.md, says more)";
}

// Tries the setup with this same program inside the virtual machine, whose kernel runs 32-bit
// programs: a job folder with copies of both and the command line, run by vm-run.sh, which
// shows the report as it comes. Returns the run's exit code, or 1 with the reason.
static int RunInVm(const TryoutOptions &options) {
    std::string runner = FindVmRunner();
    if (runner.empty()) {
        fprintf(stderr,
                "ffspack: '%s' is a 32-bit (i386) setup, and this machine's kernel cannot execute "
                "32-bit programs, so 32-bit Wine cannot run here; no vm-run.sh was found to try "
                "it in a virtual machine (TESSEL_VM_RUN names one); %s, or name a Wine with "
                "--wine\n",
                options.setup.c_str(), X64Advice(options).c_str());
        return 1;
    }
    if (options.keep) {
        fprintf(stderr, "ffspack: --keep cannot keep a prefix made inside the virtual machine\n");
        return 1;
    }
    const char *temp = getenv("TMPDIR");
    std::string job = std::string(temp && *temp ? temp : "/tmp") + "/ffspack-vm-XXXXXX";
    std::error_code code;
    // This program's own file by the name the system gives it: an emulator answers the name of
    // its guest program there, while a read of /proc/self/exe itself fails under one.
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    if (code || !fs::is_regular_file(self, code)) self = "/proc/self/exe";
    code.clear();
    if (!mkdtemp(&job[0]) || !fs::copy_file(options.setup, job + "/setup.exe", code) ||
        !fs::copy_file(self, job + "/ffspack", code)) {
        fprintf(stderr, "ffspack: cannot make the virtual machine's job in '%s': %s\n", job.c_str(),
                code ? code.message().c_str() : strerror(errno));
        fs::remove_all(job, code);
        return 1;
    }
    std::ofstream script(job + "/job.sh");
    script << "exec /job/ffspack test /job/setup.exe --arch " << T.arch << " --timeout "
           << options.timeout << (options.wine.empty() ? "" : " --wine " + ShellWord(options.wine))
           << "\n";
    script.close();
    // Each of the four Wine runs may take its timeout; the machine's start comes on top.
    std::string bound = std::to_string(4 * options.timeout + 600);
    printf("ffspack test %s: in a virtual machine (%s)\n", options.setup.c_str(), runner.c_str());
    if (!options.vm)
        printf("It is a 32-bit (i386) setup, and this machine's kernel cannot execute 32-bit "
               "programs: it is tried in a virtual machine whose processors are emulated, which "
               "takes minutes. Or, %s.\n",
               X64Advice(options).c_str());
    fflush(stdout);
    int status = -1;
    pid_t child = fork();
    if (child == 0) {
        execlp("bash", "bash", runner.c_str(), "--timeout", bound.c_str(), job.c_str(),
               (char *)nullptr);
        _exit(127);
    }
    if (child > 0) waitpid(child, &status, 0);
    fs::remove_all(job, code);
    int result = child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result == 0 || result == 1) return result;
    fprintf(stderr, "ffspack: the virtual machine gave no result (%s ended with %d)%s%s\n",
            runner.c_str(), result, options.vm ? "" : "; ",
            options.vm ? "" : X64Advice(options).c_str());
    return 1;
}

// Wine's first start in the new prefix; then the user folders that Wine links to the home
// folder (Desktop, Documents...) become plain folders, so that nothing a setup writes lands
// there. Returns "" or what went wrong.
static std::string MakePrefix() {
    if (RunWindows({"wineboot", "-i"}, T.prefix) == RUN_TIMED_OUT)
        return "Wine did not make the prefix in " + std::to_string(T.timeout) + " s";
    if (!fs::exists(T.prefix + "/system.reg"))
        return "Wine could not make the prefix (--keep keeps its wine-output.txt)";
    std::error_code code;
    std::vector<fs::path> links;
    for (fs::recursive_directory_iterator it(T.prefix + "/drive_c/users", code), end;
         !code && it != end; it.increment(code))
        if (it->is_symlink(code)) links.push_back(it->path());
    for (const fs::path &link : links) fs::remove(link, code), fs::create_directory(link, code);
    return "";
}

// The program and the arguments of a command line: "C:\Program Files\x.exe" -Quiet.
static std::vector<std::string> SplitCommand(const std::string &command) {
    std::vector<std::string> argv;
    size_t at = 0;
    if (command[0] == '"') {
        at = std::min(command.find('"', 1), command.size());
        argv.push_back(command.substr(1, at - 1));
        at++;
    }
    std::istringstream rest(command.substr(std::min(at, command.size())));
    for (std::string word; rest >> word;) argv.push_back(word);
    return argv;
}

// The file among those the setup wrote that is its uninstaller: the archive's "uninst.exe"
// with the script behind it. "" when it wrote none (or the setup carries none).
static std::string FindUninstaller(const std::string &setup,
                                   const std::vector<FileChange> &written) {
    PackBytes image;
    std::string error;
    if (!Pack_Extract(setup, "uninst.exe", &image, &error) || image.empty()) return "";
    for (const FileChange &change : written) {
        if (change.kind != '+' || change.state.size < image.size()) continue;
        std::ifstream file(HostPath(change.path), std::ios::binary);
        std::string head(image.size(), '\0');
        if (file.read(&head[0], (std::streamsize)head.size()) &&
            memcmp(head.data(), image.data(), image.size()) == 0)
            return change.path;
    }
    return "";
}

// true when the command line starts the program at path.
static bool NamesProgram(const std::string &command, const std::string &path) {
    if (command.empty()) return false;
    std::vector<std::string> argv = SplitCommand(command);
    return !argv.empty() && strcasecmp(argv[0].c_str(), path.c_str()) == 0;
}

// A field of the robot's log as it was: "\\p" is '|', "\\s" ';', "\\n" a line end.
static std::string RobotField(const std::string &field) {
    std::string text;
    for (size_t i = 0; i < field.size(); i++) {
        char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
            c = field[++i];
            c = c == 'p' ? '|' : c == 's' ? ';' : c == 'n' ? '\n' : c;
        }
        text += c;
    }
    return text;
}

// The robot's shots as PNG files in folder, named by their place and the box's title
// ("01-welcome-to-rocket.png"), and listed; a problem for a box the robot could not go on
// from or a shot it could not save or convert.
static void ShowScreens(const std::string &folder, std::vector<std::string> *problems) {
    std::istringstream log(ReadAll(HostPath(kRobotLog)));
    std::vector<std::string> made;
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back(); // written in text mode
        std::vector<std::string> fields;
        for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
            end = line.find('|', start);
            fields.push_back(RobotField(line.substr(start, end - start)));
        }
        // A window without buttons (the progress window) waits for nobody.
        if (fields[0] == "box" && fields.size() > 5 && fields[5] == "-1" && !fields[4].empty())
            problems->push_back("the robot found no button to go on from '" + fields[1] + "'");
        if (fields[0] == "shot failed")
            problems->push_back("the robot could not save the screen as " + fields[1]);
        if (fields[0] != "shot" || fields.size() < 3) continue;
        char number[8];
        snprintf(number, sizeof number, "%02u", (unsigned)made.size() + 1);
        std::string name = number + ("-" + Screens_Slug(fields[2])) + ".png", error;
        std::string bmp = ReadAll(HostPath(fields[1]));
        std::vector<uint8_t> png;
        if (!Screens_BmpToPng(std::vector<uint8_t>(bmp.begin(), bmp.end()), &png, &error) ||
            !Pack_WriteFile((fs::path(folder) / name).string(), png, &error)) {
            problems->push_back("the screen at '" + fields[2] + "': " + error);
            continue;
        }
        made.push_back(name + "  " + fields[2]);
    }
    if (!Title(("Screens in " + folder).c_str(), made.size()))
        problems->push_back("the robot met no window of the setup to picture");
    for (const std::string &line : made) printf("  %s\n", line.c_str());
}

// Runs the setup and shows what it did. Returns the uninstaller's command line from the entry
// it wrote ("" when it wrote none), with -Quiet.
static std::string TrySetup(const TryoutOptions &options, const Snapshot &before,
                            std::vector<std::string> *problems) {
    std::string own = T.prefix + "/drive_c/ffspack-test",
                setup = std::string(kOwnFolder) + "\\setup.exe";
    std::error_code code;
    if (!fs::create_directory(own, code) ||
        !fs::copy_file(options.setup, own + "/setup.exe", code)) {
        problems->push_back("cannot copy the setup into the prefix: " + code.message());
        return "";
    }
    bool interactive = !T.display.empty();
    Line("Setup", setup + (interactive ? " -debug (interactive: the robot goes on at each step)"
                                       : " -Quiet -debug"));
    int exitCode = RunWindows(interactive ? std::vector<std::string>{setup, "-debug"}
                                          : std::vector<std::string>{setup, "-Quiet", "-debug"},
                              own);
    T.display.clear(); // the uninstaller runs quietly
    ShowExit("the setup", exitCode, fs::exists(own + "/debug.log", code), "debug.log", kSetupExits,
             problems);
    ShowLogFailures("debug.log", own + "/debug.log");
    if (interactive) ShowScreens(options.screens, problems);
    Snapshot installed = Take();
    std::vector<FileChange> files, links;
    for (const FileChange &change : DiffFiles(before, installed))
        if (!change.state.folder)
            (EndsWithNoCase(change.path, ".lnk") ? links : files).push_back(change);
    ShowFiles("Files written", files);
    ShowShortcuts(links);
    std::vector<TryoutChange> values, entry;
    for (const TryoutChange &change : Tryout_DiffRegistry(before.registry, installed.registry)) {
        bool inEntry = StartsWithNoCase(change.key, kUninstallKeys[0]) ||
                       StartsWithNoCase(change.key, kUninstallKeys[1]);
        (inEntry ? entry : values).push_back(change);
    }
    ShowValues("Registry values written", values);
    std::string quiet, plain;
    if (Title("Uninstall entry", entry.size())) printf("  %s\n", entry[0].key.c_str());
    for (const TryoutChange &change : entry) {
        printf("    %-22s %s\n", change.name.c_str(), Tryout_ShowData(change.after).c_str());
        if (change.name == "QuietUninstallString") quiet = Tryout_ShowData(change.after);
        if (change.name == "UninstallString") plain = Tryout_ShowData(change.after) + " -Quiet";
    }
    if (!entry.empty() && quiet.empty() && plain.empty())
        problems->push_back("the uninstall entry names no uninstaller");
    std::string command = quiet.empty() ? plain : quiet;
    std::string uninstaller = FindUninstaller(options.setup, files);
    if (!uninstaller.empty() && !NamesProgram(command, uninstaller))
        problems->push_back("the setup wrote the uninstaller " + uninstaller +
                            " and no uninstall entry names it: nothing offers to remove the "
                            "product (the script's DONE line writes the entry)");
    return command;
}

// Shows what the uninstaller left for the next restart (its clean-up copy) and carries it out,
// as Windows would at the restart.
static void Restart() {
    Snapshot now = Take();
    std::string text;
    if (!StringOf(now.registry[kPendingKey]["PendingFileRenameOperations"], &text)) return;
    const char *label = "At the restart";
    for (size_t at = 0, end, next;
         (end = text.find('\0', at)) != std::string::npos &&
         (next = text.find('\0', end + 1)) != std::string::npos && end > at;
         at = next + 1, label = "") {
        std::string path = text.substr(at, end - at);
        if (path.compare(0, 4, "\\??\\") == 0) path.erase(0, 4);
        Line(label, (next == end + 1 ? "delete " : "move ") + path);
    }
    RunWindows({"wineboot", "-r"}, T.prefix);
    Line("", "(carried out: wineboot -r)");
}

// Shows what the prefix holds now of what was not there before; a problem when anything.
static void ShowLeftBehind(const Snapshot &before, const std::string &who,
                           std::vector<std::string> *problems) {
    Snapshot after = Take();
    std::vector<FileChange> files = DiffFiles(before, after);
    std::vector<TryoutChange> values = Tryout_DiffRegistry(before.registry, after.registry);
    if (files.empty() && values.empty()) {
        printf("\nLeft behind: nothing\n");
        return;
    }
    ShowFiles("Files and folders left behind", files);
    ShowValues("Registry values left behind", values);
    size_t folders = std::count_if(files.begin(), files.end(),
                                   [](const FileChange &change) { return change.state.folder; });
    problems->push_back(who + Count(files.size() - folders, "file") + ", " +
                        Count(folders, "folder") + " and " +
                        Count(values.size(), "registry change") + " behind");
}

// Runs the uninstaller and shows what it left of what the setup did.
static void TryUninstall(const std::string &command, const Snapshot &before,
                         std::vector<std::string> *problems) {
    printf("\n");
    Line("Uninstaller", command + " -debug");
    int exitCode = RunWindows(SplitCommand(command + " -debug"), T.prefix + "/drive_c");
    std::string log;
    for (const auto &file : Take().files)
        if (EndsWithNoCase(file.first, "\\Temp\\uninstall.log")) log = HostPath(file.first);
    ShowExit("the uninstaller", exitCode, !log.empty(), "uninstall.log", kUninstallExits, problems);
    ShowLogFailures("uninstall.log", log);
    Restart();
    ShowLeftBehind(before, "the uninstaller left ", problems);
}

// The robot for the prefix's machine type (TESSEL_ROBOT names another); "" when none.
static std::string FindRobot() {
    bool wide = T.arch == "win64";
    return FindHelper("TESSEL_ROBOT", wide ? "x64/robot.exe" : "robot.exe",
                      wide ? "build/win64/tests/robot/robot.exe"
                           : "build/win32/tests/robot/robot.exe");
}

// Readies an interactive run: the robot, the pictures' folder. "" or what is missing.
static std::string ReadyScreens(const TryoutOptions &options, bool inVm) {
    if (inVm)
        return "--screens runs the setup on this machine, not in the virtual machine: " +
               X64Advice(options);
    T.robot = FindRobot();
    if (T.robot.empty())
        return std::string("--screens needs the robot of the ") +
               (T.arch == "win64" ? "x64" : "x86") +
               " Windows build (tests/robot; installed in lib/tessel-install, or TESSEL_ROBOT "
               "names one)";
    std::error_code code;
    fs::create_directories(options.screens, code);
    if (!fs::is_directory(options.screens, code))
        return "cannot make the folder '" + options.screens + "' for the screens";
    return "";
}

// The prefix's programs in a virtual desktop of Wine's own (frames and titles drawn without a
// window manager) on a new X display. Returns the display's process, or 0 with a problem.
static int StartScreens(std::vector<std::string> *problems) {
    enum { WIDTH = 800, HEIGHT = 600, DISPLAY_SECONDS = 30 };
    std::string size = std::to_string(WIDTH) + "x" + std::to_string(HEIGHT), error;
    RunWindows(
        {"reg", "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f"},
        T.prefix);
    RunWindows({"reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d",
                size, "/f"},
               T.prefix);
    int display = Screens_StartDisplay(WIDTH, HEIGHT, DISPLAY_SECONDS, &T.display, &error);
    if (!display) problems->push_back(error);
    return display;
}

int Tryout_Run(const TryoutOptions &options) {
    std::string error;
    bool inVm = false;
    if (!ChooseWine(options, &error, &inVm) ||
        (!options.screens.empty() && !(error = ReadyScreens(options, inVm)).empty())) {
        fprintf(stderr, "ffspack: %s\n", error.c_str());
        return 1;
    }
    if (inVm) return RunInVm(options);
    const char *temp = getenv("TMPDIR");
    T.prefix = std::string(temp && *temp ? temp : "/tmp") + "/ffspack-test-XXXXXX";
    T.timeout = options.timeout;
    if (!mkdtemp(&T.prefix[0])) {
        fprintf(stderr, "ffspack: cannot make '%s': %s\n", T.prefix.c_str(), strerror(errno));
        return 1;
    }
    printf("ffspack test %s\n\n", options.setup.c_str());
    std::vector<std::string> problems;
    std::string failed = MakePrefix();
    if (!failed.empty()) {
        problems.push_back(failed);
    } else {
        char made[64];
        snprintf(made, sizeof made, "%s, made in %.1f s", T.arch.c_str(), T.seconds);
        Line("Wine prefix", made);
        int display = options.screens.empty() ? 0 : StartScreens(&problems);
        if (problems.empty()) {
            Snapshot before = Take();
            std::string command = TrySetup(options, before, &problems);
            if (display) Screens_StopDisplay(display);
            display = 0;
            if (!command.empty()) {
                TryUninstall(command, before, &problems);
            } else {
                printf("\nNo uninstaller to try.\n");
                ShowLeftBehind(before, "no uninstaller: the setup leaves ", &problems);
            }
        }
        if (display) Screens_StopDisplay(display);
    }
    printf("\n");
    Line("Result", problems.empty() ? "PASSED" : "FAILED: " + problems[0]);
    for (size_t i = 1; i < problems.size(); i++) Line("", "and " + problems[i]);
    std::error_code code;
    if (options.keep)
        Line("Prefix kept", T.prefix + " (WINEARCH=" + T.arch + ")");
    else
        fs::remove_all(T.prefix, code);
    return problems.empty() ? 0 : 1;
}
#endif
