// The throw-away Wine prefix of 'ffspack test' and the programs run in it: the Wine chosen for
// the setup, the prefix made, each program run to its end or its timeout, and the snapshots of
// the prefix's files and registry that the report compares (Linux builder only).
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "tryout-options.h"
#include "tryout-registry.h"

enum { RUN_TIMED_OUT = -2, RUN_NOT_STARTED = -1 };

inline constexpr char kOwnFolder[] = "C:\\ffspack-test"; // the copied setup and its debug.log
// The robot's log of an interactive run: what it met and the screens it saved.
inline constexpr char kRobotLog[] = "C:\\ffspack-test\\robot.log";

// The run's one prefix and how its programs are started.
struct TryoutWine {
    std::string prefix, arch, program, loader, server; // program: the Wine that runs them
    int timeout;
    double seconds;      // the last Windows program's run, with the Wine server's end
    std::string said;    // what Wine wrote on the outputs during that run
    std::string display; // the X display of an interactive run; "": none
    std::string robot;   // the robot of an interactive run, beside each program; "": none
};
extern TryoutWine Wine;

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

// Chooses the prefix's architecture and the Wine that runs it, and whether the run happens in
// the virtual machine (*inVm). Returns false with *error when nothing can run the setup.
bool TryoutWine_Choose(const TryoutOptions &options, std::string *error, bool *inVm);
// Wine's first start in the new prefix; then the user folders that Wine links to the home
// folder (Desktop, Documents...) become plain folders, so that nothing a setup writes lands
// there. Returns "" or what went wrong.
std::string TryoutWine_MakePrefix();
// Runs a Windows program (argv without the Wine in front) in folder, then waits for the Wine
// server to end: for every process it started. In an interactive run the robot runs beside it.
// Returns the exit code, RUN_NOT_STARTED or RUN_TIMED_OUT; Wine.seconds and Wine.said tell of
// the run.
int TryoutWine_RunWindows(std::vector<std::string> argv, const std::string &folder);
// Where a path on drive C: lies in the prefix.
std::string TryoutWine_HostPath(const std::string &windowsPath);
// The whole file at path; "" when it cannot be read.
std::string TryoutWine_ReadAll(const std::string &path);
// The prefix's files on drive C: and its registry now.
Snapshot TryoutWine_Take();
// What changed from before to after, by path, without our own files and Wine's.
std::vector<FileChange> TryoutWine_DiffFiles(const Snapshot &before, const Snapshot &after);
