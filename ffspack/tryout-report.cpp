// What 'ffspack test' prints: how each program ended, its log's failures, the files,
// shortcuts and registry values written or left, and the pictures of an interactive run
// (Linux builder only).
#include "tryout-report.h"

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pack-file.h"
#include "screens.h"
#include "tryout-log.h"
#include "tryout-registry.h"
#include "tryout-shortcut.h"
#include "tryout-text.h"

namespace fs = std::filesystem;

std::string TryoutReport_Count(size_t count, const char *thing) {
    return (count ? std::to_string(count) : "no") + " " + thing + (count == 1 ? "" : "s");
}

// A section's title; false when it has nothing to show.
bool TryoutReport_Title(const char *title, size_t count) {
    printf("\n%s:%s\n", title, count ? "" : " none");
    return count > 0;
}

// Shows how a program ended: a problem unless with 1. Wine's launcher ends with 1 as well when
// it cannot start the program at all (a damaged image, one of another machine type, a missing
// file), and our programs write their log (-debug) before anything else: without a log
// (!started) the program never ran, whatever the code.
void TryoutReport_ShowExit(const char *program, int code, bool started, const std::string &logName,
                           const TryoutMeanings &meanings, std::vector<std::string> *problems) {
    if (code >= 0 && !started) {
        std::string text = std::string(program) + " never started: Wine ended with " +
                           std::to_string(code) + " and no " + logName + " was written";
        TryoutText_Line("Exit code", "none: " + text);
        const char *label = "Wine said";
        std::istringstream lines(Wine.said);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            TryoutText_Line(label, line);
            label = "";
        }
        problems->push_back(text);
        return;
    }
    auto meaning = meanings.find(code);
    std::string text = std::to_string(code) + " (" +
                       (meaning == meanings.end() ? "no code of ours" : meaning->second) + ")";
    char took[32];
    snprintf(took, sizeof took, ", %.1f s", Wine.seconds);
    if (code == RUN_TIMED_OUT)
        text = std::string(program) + " was still running after " + std::to_string(Wine.timeout) +
               " s: the Wine server was killed";
    else if (code == RUN_NOT_STARTED)
        text = "Wine could not start " + std::string(program);
    TryoutText_Line("Exit code", code >= 0 ? text + took : "none: " + text);
    if (code != 1) problems->push_back(code >= 0 ? program + (" ended with " + text) : text);
}

void TryoutReport_ShowLogFailures(const std::string &name, const std::string &path) {
    std::ifstream log(path, std::ios::binary);
    std::vector<std::string> failures;
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Tryout_IsFailure(line)) failures.push_back(line);
    }
    TryoutText_Line("Log", !log.is_open() ? "no " + name + " was written"
                                          : name + " reports " +
                                                TryoutReport_Count(failures.size(), "failure") +
                                                (failures.empty() ? "" : ":"));
    for (const std::string &line : failures) printf("                  %s\n", line.c_str());
}

void TryoutReport_ShowFiles(const char *title, const std::vector<FileChange> &changes) {
    if (!TryoutReport_Title(title, changes.size())) return;
    size_t width = 0;
    for (const FileChange &change : changes) width = std::max(width, change.path.size());
    for (const FileChange &change : changes) {
        std::string what =
            change.state.folder ? "folder" : std::to_string(change.state.size) + " bytes";
        printf("  %-*s  %12s%s\n", (int)width, change.path.c_str(), what.c_str(),
               change.kind == '-' ? " (removed)" : "");
    }
}

void TryoutReport_ShowShortcuts(const std::vector<FileChange> &links) {
    if (!TryoutReport_Title("Shortcuts", links.size())) return;
    for (const FileChange &link : links) {
        TryoutShortcut shortcut;
        printf("  %s\n", link.path.c_str());
        if (!Tryout_ReadShortcut(TryoutWine_ReadAll(TryoutWine_HostPath(link.path)), &shortcut))
            printf("    (not a readable shell link)\n");
        else
            printf("    target     %s\n    arguments  %s\n    folder     %s\n",
                   shortcut.target.c_str(),
                   shortcut.arguments.empty() ? "(none)" : shortcut.arguments.c_str(),
                   shortcut.workingDir.c_str());
    }
}

void TryoutReport_ShowValues(const char *title, const std::vector<TryoutChange> &changes) {
    if (!TryoutReport_Title(title, changes.size())) return;
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

void TryoutReport_ShowScreens(const std::string &folder, std::vector<std::string> *problems) {
    std::istringstream log(TryoutWine_ReadAll(TryoutWine_HostPath(kRobotLog)));
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
        std::string bmp = TryoutWine_ReadAll(TryoutWine_HostPath(fields[1]));
        std::vector<uint8_t> png;
        if (!Screens_BmpToPng(std::vector<uint8_t>(bmp.begin(), bmp.end()), &png, &error) ||
            !Pack_WriteFile((fs::path(folder) / name).string(), png, &error)) {
            problems->push_back("the screen at '" + fields[2] + "': " + error);
            continue;
        }
        made.push_back(name + "  " + fields[2]);
    }
    if (!TryoutReport_Title(("Screens in " + folder).c_str(), made.size()))
        problems->push_back("the robot met no window of the setup to picture");
    for (const std::string &line : made) printf("  %s\n", line.c_str());
}
