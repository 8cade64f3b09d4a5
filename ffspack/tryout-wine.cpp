// The throw-away Wine prefix of 'ffspack test' and the programs run in it: the Wine chosen for
// the setup's machine type, the prefix made, each program run to its end or its timeout (with
// the robot beside it in an interactive run), and the snapshots of the prefix's files and
// registry (Linux builder only).
#include "tryout-wine.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tessel-pe.h"
#include "tryout-text.h"

namespace fs = std::filesystem;

TryoutWine Wine;

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
        setenv("WINEPREFIX", Wine.prefix.c_str(), 1);
        setenv("WINEARCH", Wine.arch.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // No Mono or Gecko offers, and no menu entries in the user's home for the shortcuts.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        if (!Wine.loader.empty()) setenv("WINELOADER", Wine.loader.c_str(), 1);
        if (Wine.display.empty())
            unsetenv("DISPLAY"); // nothing can appear; a box returns at once
        else
            setenv("DISPLAY", Wine.display.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        FILE *output = fopen((Wine.prefix + "/wine-output.txt").c_str(), "a");
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
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Wine.timeout);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            if (argv[0] != Wine.server) Run({Wine.server, "-k"}, Wine.prefix);
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
static const char kRobotStop[] = "C:\\ffspack-test\\robot.stop";
static const char kRobotShots[] = "C:\\ffspack-test\\screens";

struct RobotRun {
    pid_t process = -1;
};

// Starts the robot and waits until it looks for boxes. false when it does not come up.
static bool StartRobot(RobotRun *run) {
    std::error_code code;
    fs::create_directories(TryoutWine_HostPath(kRobotShots), code);
    fs::remove(TryoutWine_HostPath(kRobotStop), code);
    fs::remove(TryoutWine_HostPath(kRobotLog), code);
    run->process =
        Start({Wine.program, Wine.robot, "--log", kRobotLog, "--stop", kRobotStop, "--default",
               "1,6", "--shots", kRobotShots, "--timeout", std::to_string(Wine.timeout)},
              Wine.prefix);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Wine.timeout);
    while (run->process > 0 && std::chrono::steady_clock::now() < deadline) {
        if (TryoutWine_ReadAll(TryoutWine_HostPath(kRobotLog)).compare(0, 5, "ready") == 0)
            return true;
        if (waitpid(run->process, nullptr, WNOHANG) != 0) break;
        usleep(100 * 1000);
    }
    if (run->process > 0) kill(run->process, SIGKILL), waitpid(run->process, nullptr, 0);
    TryoutText_Line("Robot",
                    "did not come up: " + Wine.robot + " (its output is in wine-output.txt)");
    return false;
}

// Tells the robot to stop and waits for it (ended at once when it does not stop in 30 s).
static void StopRobot(RobotRun *run) {
    std::ofstream(TryoutWine_HostPath(kRobotStop)).put('\n');
    bool ended = false;
    for (int waited = 0; !ended && waited < 300; waited++) {
        ended = waitpid(run->process, nullptr, WNOHANG) != 0;
        if (!ended) usleep(100 * 1000);
    }
    if (!ended) kill(run->process, SIGKILL), waitpid(run->process, nullptr, 0);
}

// Runs a Windows program, then waits for the Wine server to end: for every process it started.
// In an interactive run the robot runs beside it.
int TryoutWine_RunWindows(std::vector<std::string> argv, const std::string &folder) {
    auto start = std::chrono::steady_clock::now();
    std::string output = Wine.prefix + "/wine-output.txt";
    std::error_code code;
    uintmax_t before = fs::exists(output, code) ? fs::file_size(output, code) : 0;
    argv.insert(argv.begin(), Wine.program);
    RobotRun robot;
    bool interactive = !Wine.display.empty();
    if (interactive && !StartRobot(&robot)) return RUN_NOT_STARTED;
    int exitCode = Run(argv, folder);
    if (interactive) StopRobot(&robot);
    if (exitCode != RUN_TIMED_OUT && Run({Wine.server, "-w"}, Wine.prefix) == RUN_TIMED_OUT)
        exitCode = RUN_TIMED_OUT;
    Wine.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream file(output, std::ios::binary);
    file.seekg((std::streamoff)before);
    std::ostringstream said;
    said << file.rdbuf();
    Wine.said = said.str();
    return exitCode;
}
// Our own files, not the product's: the copied setup with its debug.log, and the uninstall.log
// that -debug has the uninstaller write into the temporary folder.
// Wine's own .pnf files are not the product's either.
static bool IsOwn(const std::string &path) {
    return TryoutText_StartsWithNoCase(path, kOwnFolder) ||
           TryoutText_EndsWithNoCase(path, "\\Temp\\uninstall.log") || Tryout_IsWineFile(path);
}

std::string TryoutWine_HostPath(const std::string &windowsPath) {
    std::string path = Wine.prefix + "/drive_c/" + windowsPath.substr(3);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string TryoutWine_ReadAll(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

Snapshot TryoutWine_Take() {
    Snapshot shot;
    std::error_code code, entryCode;
    fs::path drive = Wine.prefix + "/drive_c";
    for (fs::recursive_directory_iterator it(drive, code), end; !code && it != end;
         it.increment(code)) {
        std::string path = "C:\\" + fs::relative(it->path(), drive, entryCode).string();
        std::replace(path.begin(), path.end(), '/', '\\');
        bool folder = it->is_directory(entryCode);
        shot.files[path] = {folder, folder ? 0 : it->file_size(entryCode),
                            (int64_t)it->last_write_time(entryCode).time_since_epoch().count()};
    }
    Tryout_ParseRegistry(TryoutWine_ReadAll(Wine.prefix + "/system.reg"), "HKLM", &shot.registry);
    Tryout_ParseRegistry(TryoutWine_ReadAll(Wine.prefix + "/user.reg"), "HKCU", &shot.registry);
    return shot;
}

std::vector<FileChange> TryoutWine_DiffFiles(const Snapshot &before, const Snapshot &after) {
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
// 1 when this machine's kernel executes 32-bit programs, as 32-bit Wine needs.
static bool KernelRunsI386() { return system("/lib/ld-linux.so.2 --help >/dev/null 2>&1") == 0; }

bool TryoutWine_Choose(const TryoutOptions &options, std::string *error, bool *inVm) {
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
    Wine.arch = !options.arch.empty() ? options.arch : i386 ? "win32" : "win64";
    // A 64-bit prefix is run by the 64-bit loader, which hands a 32-bit program on to the
    // 32-bit one beside it (WINELOADER without its "64").
    bool widePrefix = Wine.arch == "win64";
    Wine.program = !options.wine.empty() ? options.wine
                   : widePrefix          ? "/usr/lib/wine/wine64"
                                         : "wine";
    Wine.loader = widePrefix ? Wine.program : "";
    // The server beside the program (/usr/lib/wine/wineserver), else the one on the path.
    std::error_code code;
    fs::path beside = fs::path(Wine.program).parent_path() / "wineserver";
    Wine.server = Wine.program.find('/') != std::string::npos && fs::exists(beside, code)
                      ? beside.string()
                      : "wineserver";
    return true;
}

std::string TryoutWine_MakePrefix() {
    if (TryoutWine_RunWindows({"wineboot", "-i"}, Wine.prefix) == RUN_TIMED_OUT)
        return "Wine did not make the prefix in " + std::to_string(Wine.timeout) + " s";
    if (!fs::exists(Wine.prefix + "/system.reg"))
        return "Wine could not make the prefix (--keep keeps its wine-output.txt)";
    std::error_code code;
    std::vector<fs::path> links;
    for (fs::recursive_directory_iterator it(Wine.prefix + "/drive_c/users", code), end;
         !code && it != end; it.increment(code))
        if (it->is_symlink(code)) links.push_back(it->path());
    for (const fs::path &link : links) fs::remove(link, code), fs::create_directory(link, code);
    return "";
}
