// What 'ffspack test' prints: how each program ended, its log's failures, the files, shortcuts
// and registry values written or left, and the pictures of an interactive run. Each finding
// that fails the run is appended to *problems (Linux builder only).
#pragma once
#include <map>
#include <string>
#include <vector>

#include "tryout-registry.h"
#include "tryout-wine.h"

// A program's exit codes and what each means.
typedef std::map<int, const char *> TryoutMeanings;

// "3 files", "1 file", "no files".
std::string TryoutReport_Count(size_t count, const char *thing);
// Prints a section's title; false when it has nothing to show.
bool TryoutReport_Title(const char *title, size_t count);
// Shows how a program ended: a problem unless with 1. Without a log (!started) the program
// never ran, whatever the code: what Wine said is shown.
void TryoutReport_ShowExit(const char *program, int code, bool started, const std::string &logName,
                           const TryoutMeanings &meanings, std::vector<std::string> *problems);
// The failures that the log at path (called name) reports, or that there is no log.
void TryoutReport_ShowLogFailures(const std::string &name, const std::string &path);
void TryoutReport_ShowFiles(const char *title, const std::vector<FileChange> &changes);
// Each shortcut with its target, arguments and folder, read from the prefix.
void TryoutReport_ShowShortcuts(const std::vector<FileChange> &links);
void TryoutReport_ShowValues(const char *title, const std::vector<TryoutChange> &changes);
// The robot's shots as PNG files in folder, named by their place and the box's title
// ("01-welcome-to-rocket.png"), and listed; a problem for a box the robot could not go on
// from or a shot it could not save or convert.
void TryoutReport_ShowScreens(const std::string &folder, std::vector<std::string> *problems);
