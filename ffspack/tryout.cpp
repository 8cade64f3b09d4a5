// 'ffspack test': a setup and its uninstaller run quietly in a throw-away Wine prefix, compared
// with snapshots of the prefix's files and registry; what each wrote and left is shown, and
// any problem fails the run.
#include "tryout.h"

#include <stdio.h>

#if defined(_WIN32)
int Tryout_Run(const TryoutOptions &options) {
    (void)options;
    fprintf(stderr, "ffspack: 'test' runs setups under Wine: that is the Linux builder's\n");
    return 1;
}
#else
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pack-file.h"
#include "pack-read.h"
#include "screens.h"
#include "tryout-registry.h"
#include "tryout-report.h"
#include "tryout-text.h"
#include "tryout-vm.h"
#include "tryout-wine.h"
#include "uninst.h"

namespace fs = std::filesystem;

// The keys of uninstall entries; a 32-bit setup in a 64-bit prefix writes into the second.
static const char *const kUninstallKeys[] = {
    "HKLM\\" UNINSTREG_KEY_PREFIX,
    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
};
static const char kPendingKey[] = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager";

static const TryoutMeanings kSetupExits = {
    {0, "no archive in the setup, or no window could be made"},
    {1, "done: the script ran to its end"},
    {2, "stopped: a command failed, or the script was left"},
    {3, "could not run: damaged, no script, or an internal error"},
};
static const TryoutMeanings kUninstallExits = {
    {1, "removed"}, {2, "stopped"}, {3, "damaged, or an internal error"}};

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
        std::ifstream file(TryoutWine_HostPath(change.path), std::ios::binary);
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

// Runs the setup and shows what it did. Returns the uninstaller's command line from the entry
// it wrote ("" when it wrote none), with -Quiet.
static std::string TrySetup(const TryoutOptions &options, const Snapshot &before,
                            std::vector<std::string> *problems) {
    std::string own = Wine.prefix + "/drive_c/ffspack-test",
                setup = std::string(kOwnFolder) + "\\setup.exe";
    std::error_code code;
    if (!fs::create_directory(own, code) ||
        !fs::copy_file(options.setup, own + "/setup.exe", code)) {
        problems->push_back("cannot copy the setup into the prefix: " + code.message());
        return "";
    }
    bool interactive = !Wine.display.empty();
    TryoutText_Line("Setup",
                    setup + (interactive ? " -debug (interactive: the robot goes on at each step)"
                                         : " -Quiet -debug"));
    int exitCode =
        TryoutWine_RunWindows(interactive ? std::vector<std::string>{setup, "-debug"}
                                          : std::vector<std::string>{setup, "-Quiet", "-debug"},
                              own);
    Wine.display.clear(); // the uninstaller runs quietly
    TryoutReport_ShowExit("the setup", exitCode, fs::exists(own + "/debug.log", code), "debug.log",
                          kSetupExits, problems);
    TryoutReport_ShowLogFailures("debug.log", own + "/debug.log");
    if (interactive) TryoutReport_ShowScreens(options.screens, problems);
    Snapshot installed = TryoutWine_Take();
    std::vector<FileChange> files, links;
    for (const FileChange &change : TryoutWine_DiffFiles(before, installed))
        if (!change.state.folder)
            (TryoutText_EndsWithNoCase(change.path, ".lnk") ? links : files).push_back(change);
    TryoutReport_ShowFiles("Files written", files);
    TryoutReport_ShowShortcuts(links);
    std::vector<TryoutChange> values, entry;
    for (const TryoutChange &change : Tryout_DiffRegistry(before.registry, installed.registry)) {
        bool inEntry = TryoutText_StartsWithNoCase(change.key, kUninstallKeys[0]) ||
                       TryoutText_StartsWithNoCase(change.key, kUninstallKeys[1]);
        (inEntry ? entry : values).push_back(change);
    }
    TryoutReport_ShowValues("Registry values written", values);
    std::string quiet, plain;
    if (TryoutReport_Title("Uninstall entry", entry.size())) printf("  %s\n", entry[0].key.c_str());
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
    Snapshot now = TryoutWine_Take();
    std::string text;
    if (!Tryout_StringOf(now.registry[kPendingKey]["PendingFileRenameOperations"], &text)) return;
    const char *label = "At the restart";
    for (size_t at = 0, end, next;
         (end = text.find('\0', at)) != std::string::npos &&
         (next = text.find('\0', end + 1)) != std::string::npos && end > at;
         at = next + 1, label = "") {
        std::string path = text.substr(at, end - at);
        if (path.compare(0, 4, "\\??\\") == 0) path.erase(0, 4);
        TryoutText_Line(label, (next == end + 1 ? "delete " : "move ") + path);
    }
    TryoutWine_RunWindows({"wineboot", "-r"}, Wine.prefix);
    TryoutText_Line("", "(carried out: wineboot -r)");
}

// Shows what the prefix holds now of what was not there before; a problem when anything.
static void ShowLeftBehind(const Snapshot &before, const std::string &who,
                           std::vector<std::string> *problems) {
    Snapshot after = TryoutWine_Take();
    std::vector<FileChange> files = TryoutWine_DiffFiles(before, after);
    std::vector<TryoutChange> values = Tryout_DiffRegistry(before.registry, after.registry);
    if (files.empty() && values.empty()) {
        printf("\nLeft behind: nothing\n");
        return;
    }
    TryoutReport_ShowFiles("Files and folders left behind", files);
    TryoutReport_ShowValues("Registry values left behind", values);
    size_t folders = std::count_if(files.begin(), files.end(),
                                   [](const FileChange &change) { return change.state.folder; });
    problems->push_back(who + TryoutReport_Count(files.size() - folders, "file") + ", " +
                        TryoutReport_Count(folders, "folder") + " and " +
                        TryoutReport_Count(values.size(), "registry change") + " behind");
}

// Runs the uninstaller and shows what it left of what the setup did.
static void TryUninstall(const std::string &command, const Snapshot &before,
                         std::vector<std::string> *problems) {
    printf("\n");
    TryoutText_Line("Uninstaller", command + " -debug");
    int exitCode =
        TryoutWine_RunWindows(SplitCommand(command + " -debug"), Wine.prefix + "/drive_c");
    std::string log;
    for (const auto &file : TryoutWine_Take().files)
        if (TryoutText_EndsWithNoCase(file.first, "\\Temp\\uninstall.log"))
            log = TryoutWine_HostPath(file.first);
    TryoutReport_ShowExit("the uninstaller", exitCode, !log.empty(), "uninstall.log",
                          kUninstallExits, problems);
    TryoutReport_ShowLogFailures("uninstall.log", log);
    Restart();
    ShowLeftBehind(before, "the uninstaller left ", problems);
}

// The robot for the prefix's machine type (TESSEL_ROBOT names another); "" when none.
static std::string FindRobot() {
    bool wide = Wine.arch == "win64";
    return TryoutVm_FindHelper("TESSEL_ROBOT", wide ? "x64/robot.exe" : "robot.exe",
                               wide ? "build/win64/tests/robot/robot.exe"
                                    : "build/win32/tests/robot/robot.exe");
}

// Readies an interactive run: the robot, the pictures' folder. "" or what is missing.
static std::string ReadyScreens(const TryoutOptions &options, bool inVm) {
    if (inVm)
        return "--screens runs the setup on this machine, not in the virtual machine: " +
               TryoutVm_X64Advice(options);
    Wine.robot = FindRobot();
    if (Wine.robot.empty())
        return std::string("--screens needs the robot of the ") +
               (Wine.arch == "win64" ? "x64" : "x86") +
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
    TryoutWine_RunWindows(
        {"reg", "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f"},
        Wine.prefix);
    TryoutWine_RunWindows({"reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v",
                           "Default", "/d", size, "/f"},
                          Wine.prefix);
    int display = Screens_StartDisplay(WIDTH, HEIGHT, DISPLAY_SECONDS, &Wine.display, &error);
    if (!display) problems->push_back(error);
    return display;
}

int Tryout_Run(const TryoutOptions &options) {
    std::string error;
    bool inVm = false;
    if (!TryoutWine_Choose(options, &error, &inVm) ||
        (!options.screens.empty() && !(error = ReadyScreens(options, inVm)).empty())) {
        fprintf(stderr, "ffspack: %s\n", error.c_str());
        return 1;
    }
    if (inVm) return TryoutVm_Run(options);
    const char *temp = getenv("TMPDIR");
    Wine.prefix = std::string(temp && *temp ? temp : "/tmp") + "/ffspack-test-XXXXXX";
    Wine.timeout = options.timeout;
    if (!mkdtemp(&Wine.prefix[0])) {
        fprintf(stderr, "ffspack: cannot make '%s': %s\n", Wine.prefix.c_str(), strerror(errno));
        return 1;
    }
    printf("ffspack test %s\n\n", options.setup.c_str());
    std::vector<std::string> problems;
    std::string failed = TryoutWine_MakePrefix();
    if (!failed.empty()) {
        problems.push_back(failed);
    } else {
        char made[64];
        snprintf(made, sizeof made, "%s, made in %.1f s", Wine.arch.c_str(), Wine.seconds);
        TryoutText_Line("Wine prefix", made);
        int display = options.screens.empty() ? 0 : StartScreens(&problems);
        if (problems.empty()) {
            Snapshot before = TryoutWine_Take();
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
    TryoutText_Line("Result", problems.empty() ? "PASSED" : "FAILED: " + problems[0]);
    for (size_t i = 1; i < problems.size(); i++) TryoutText_Line("", "and " + problems[i]);
    std::error_code code;
    if (options.keep)
        TryoutText_Line("Prefix kept", Wine.prefix + " (WINEARCH=" + Wine.arch + ")");
    else
        fs::remove_all(Wine.prefix, code);
    return problems.empty() ? 0 : 1;
}
#endif
