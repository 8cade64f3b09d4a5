// The program group, its shortcuts and the closing command with the real shell and registry
// under Wine: CREATE GROUP and ADD ITEM make folders and .lnk files under the user's Programs
// folder, read back here with the shell-link object; DONE writes the uninstall entry, read back
// with RegQueryValueEx, starts the relaunch program and shows its closing box, which a thread
// of the test answers where there is a display.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "iscript.h"
#include "shortcuts.h"
#include "state.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "test-support.h"

using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ProgramDir;
using testing_support::WriteFile;

namespace {

const char *kLogName =
    getenv("TESSEL_NEED_DISPLAY") ? "shortcuts-display-test.log" : "shortcuts-test.log";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

using testing_support::DisplayAvailable;

std::string ProgramsFolder() {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(NULL, path, CSIDL_PROGRAMS, FALSE);
    return path;
}

bool IsFolder(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string NoTrailingBackslash(std::string path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

std::string Lower(std::string text) {
    for (char &c : text) c = (char)tolower((unsigned char)c);
    return text;
}

// What a saved shortcut holds, read with the shell-link object.
struct Link {
    bool loaded = false;
    std::string path, arguments, directory, description, iconPath;
    int icon = -1;
};

Link ReadLink(const std::string &file) {
    Link link;
    IShellLinkA *shell = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void **)&shell)))
        return link;
    IPersistFile *persist = NULL;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void **)&persist))) {
        if (SUCCEEDED(persist->Load(wide, STGM_READ))) {
            char buffer[MAX_PATH * 2];
            link.loaded = true;
            if (SUCCEEDED(shell->GetPath(buffer, MAX_PATH, NULL, SLGP_RAWPATH))) link.path = buffer;
            if (SUCCEEDED(shell->GetArguments(buffer, sizeof buffer))) link.arguments = buffer;
            if (SUCCEEDED(shell->GetWorkingDirectory(buffer, MAX_PATH))) link.directory = buffer;
            if (SUCCEEDED(shell->GetDescription(buffer, sizeof buffer))) link.description = buffer;
            if (SUCCEEDED(shell->GetIconLocation(buffer, MAX_PATH, &link.icon)))
                link.iconPath = buffer;
        }
        persist->Release();
    }
    shell->Release();
    return link;
}

// One command line's arguments: the texts joined by the marker, then CR LF.
std::string Arguments(const std::vector<std::string> &texts) {
    std::string line;
    for (size_t i = 0; i < texts.size(); i++) line += (i ? "\x16" : "") + texts[i];
    return line + "\r\n";
}

void RemoveTree(const std::string &folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

class Shortcuts : public testing::Test {
  protected:
    std::string folder, programs;
    InstallState state = {};
    testing_support::LogCapture log_{kLogName};

    void SetUp() override {
        CoInitialize(NULL); // balanced at the process's end
        Mem_Init(MEM_NO_LIMIT, 0);
        Cmd_RegisterAll();
        Script_RegisterBreak();
        folder = MakeTempDir("shortcuts");
        programs = ProgramsFolder();
        ASSERT_FALSE(programs.empty());
        log_.Take(); // the set-up's lines are not the test's
        state.Mode = Quiet;
        Str_Copy(state.InstallPath, folder.c_str());
    }
    void TearDown() override {
        TakeLog();
        Cmd_ReleaseAll();
        RemoveTree(programs + "\\TesselTest");
    }
    std::string TakeLog() { return log_.Take(); }
    // Runs the command; *end gets where its cursor stopped, measured from the line's end.
    int Run(const char *keyword, const std::vector<std::string> &texts, int *end = nullptr) {
        std::string line = Arguments(texts);
        int32_t cursor = 0;
        int result = Cmd_Dispatch(keyword, &state, line.c_str(), &cursor);
        if (end) *end = (int)line.size() - cursor;
        return result;
    }
};

// ---- CREATE GROUP and ADD ITEM ----

// First of the file: the current group is the program's own and starts empty only once.
TEST_F(Shortcuts, ItemBeforeAnyGroupGoesIntoTheProgramsFolder) {
    std::string file = programs + "\\TesselTest First.lnk";
    DeleteFileA(file.c_str());
    ASSERT_TRUE(WriteFile(folder + "first.exe", "MZ"));
    EXPECT_EQ(Run("ADD ITEM", {"0", "first.exe", "", "TesselTest First"}), 1);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(TakeLog(), "Create Item = '' : 'TesselTest First' ('first.exe' / '')\n");
    EXPECT_EQ(Lower(ReadLink(file).path), Lower(folder + "first.exe"));
    DeleteFileA(file.c_str());
}

TEST_F(Shortcuts, GroupMakesEveryFolderLevelAndCanBeMadeAgain) {
    std::string group = programs + "\\TesselTest\\Tools\\Viewer";
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(Run("CREATE GROUP", {"TesselTest\\Tools\\Viewer"}), 1);
        EXPECT_TRUE(IsFolder(group)) << round;
        EXPECT_EQ(TakeLog(), "Create Group = '" + group + "'\n");
    }
}

TEST_F(Shortcuts, ItemSetsTargetArgumentsDirectoryDescriptionAndIcon) {
    ASSERT_TRUE(WriteFile(folder + "viewer.exe", "MZ"));
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string windowsDir = NoTrailingBackslash(windows);
    const struct {
        const char *icon, *target, *arguments, *name;
        std::string path, directory;
        int iconIndex;
    } rows[] = {
        {"3", "viewer.exe", "-a \"b c\"", "Viewer", folder + "viewer.exe", folder, 3},
        {"0", "viewer.exe", "", "Plain", folder + "viewer.exe", folder, 0},
        {"-1", "$1notepad.exe", "", "Notepad", windowsDir + "\\notepad.exe", windowsDir, 0},
    };
    ASSERT_EQ(Run("CREATE GROUP", {"TesselTest\\App"}), 1);
    TakeLog();
    for (const auto &row : rows) {
        EXPECT_EQ(Run("ADD ITEM", {row.icon, row.target, row.arguments, row.name}), 1);
        EXPECT_EQ(TakeLog(), std::string("Create Item = 'TesselTest\\App' : '") + row.name +
                                 "' ('" + row.target + "' / '" + row.arguments + "')\n");
        Link link = ReadLink(programs + "\\TesselTest\\App\\" + row.name + ".lnk");
        ASSERT_TRUE(link.loaded) << row.name;
        EXPECT_EQ(Lower(link.path), Lower(row.path)) << row.name;
        EXPECT_EQ(link.arguments, row.arguments) << row.name;
        EXPECT_EQ(Lower(NoTrailingBackslash(link.directory)),
                  Lower(NoTrailingBackslash(row.directory)))
            << row.name;
        EXPECT_EQ(link.description, row.name);
        EXPECT_EQ(Lower(link.iconPath), Lower(row.path)) << row.name;
        EXPECT_EQ(link.icon, row.iconIndex) << row.name;
    }
}

TEST_F(Shortcuts, EmptyGroupMakesTheProgramsFolderTheTarget) {
    ASSERT_TRUE(WriteFile(folder + "viewer.exe", "MZ"));
    EXPECT_EQ(Run("CREATE GROUP", {""}), 1);
    EXPECT_EQ(TakeLog(), "Create Group = '" + programs + "'\n");
    std::string file = programs + "\\TesselTest Top.lnk";
    EXPECT_EQ(Run("ADD ITEM", {"0", "viewer.exe", "", "TesselTest Top"}), 1);
    EXPECT_TRUE(FileExists(file));
    DeleteFileA(file.c_str());
}

TEST_F(Shortcuts, ShortcutThatCannotBeSavedIsOnlyLogged) {
    ASSERT_TRUE(WriteFile(folder + "viewer.exe", "MZ"));
    ASSERT_EQ(Run("CREATE GROUP", {"TesselTest\\Gone"}), 1);
    std::string group = programs + "\\TesselTest\\Gone";
    // A name that no file can have, and a group whose folder has gone: ADD ITEM never makes it.
    const struct {
        const char *name;
        bool removeGroup;
    } rows[] = {{"bad*name?", false}, {"Orphan", true}};
    for (const auto &row : rows) {
        if (row.removeGroup) {
            ASSERT_TRUE(RemoveDirectoryA(group.c_str()));
        }
        TakeLog();
        std::string file = group + "\\" + row.name + ".lnk";
        EXPECT_EQ(Run("ADD ITEM", {"0", "viewer.exe", "", row.name}), 1);
        std::string log = TakeLog();
        EXPECT_NE(log.find("Unable to save '" + file + "'\n"), std::string::npos) << log;
        EXPECT_FALSE(FileExists(file));
    }
}

TEST_F(Shortcuts, TooLongArgumentsAreRefused) {
    ASSERT_TRUE(WriteFile(folder + "viewer.exe", "MZ"));
    ASSERT_EQ(Run("CREATE GROUP", {"TesselTest\\Kept"}), 1);
    TakeLog();
    // A group name that does not fit fails the command and keeps the current group.
    int end = -1;
    EXPECT_EQ(Run("CREATE GROUP", {"TesselTest\\" + std::string(149, 'g')}, &end), 0);
    EXPECT_EQ(TakeLog(), "Argument of 'CREATE GROUP' too long (160 > 159)\n");
    EXPECT_EQ(end, 1) << "the name is stepped over";
    EXPECT_EQ(Run("ADD ITEM", {"0", "viewer.exe", "", "Still"}), 1);
    EXPECT_TRUE(FileExists(programs + "\\TesselTest\\Kept\\Still.lnk"));
    TakeLog();

    // Each of ADD ITEM's texts is refused, the rest still read, and no shortcut made.
    std::string tooLong(160, 'x');
    const struct {
        std::vector<std::string> arguments;
        std::string log;
    } rows[] = {
        {{"0", tooLong, "", "Target"}, "Argument of 'ADD ITEM' too long (160 > 159)\n"},
        {{"0", "viewer.exe", tooLong, "Arguments"},
         "Argument of 'ADD ITEM' too long (160 > 159)\n"},
        {{"0", "viewer.exe", "", tooLong}, "Argument of 'ADD ITEM' too long (160 > 159)\n"},
        {{"99999999999", "viewer.exe", "", "Icon"}, "Number out of range for 'ADD ITEM'\n"},
    };
    for (const auto &row : rows) {
        end = -1;
        EXPECT_EQ(Run("ADD ITEM", row.arguments, &end), 1);
        EXPECT_EQ(TakeLog(), row.log);
        EXPECT_EQ(end, 1);
        EXPECT_FALSE(FileExists(programs + "\\TesselTest\\Kept\\" + row.arguments[3] + ".lnk"));
    }

    // A group of 159 characters fits; a shortcut path beyond 259 characters is refused.
    std::string longGroup = "TesselTest\\" + std::string(148, 'g');
    ASSERT_EQ(Run("CREATE GROUP", {longGroup}), 1);
    EXPECT_TRUE(IsFolder(programs + "\\" + longGroup));
    std::string name(259 - (int)(programs.size() + 1 + longGroup.size() + 1 + 4) + 1, 'n');
    TakeLog();
    EXPECT_EQ(Run("ADD ITEM", {"0", "viewer.exe", "", name}), 1);
    std::string log = TakeLog();
    EXPECT_NE(log.find("Path '" + name + "' too long (260 > 259)\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Unable to save"), std::string::npos) << log;
    name.pop_back(); // exactly 259 characters
    EXPECT_EQ(Run("ADD ITEM", {"0", "viewer.exe", "", name}), 1);
    EXPECT_TRUE(FileExists(programs + "\\" + longGroup + "\\" + name + ".lnk")) << TakeLog();
}

// ---- DONE ----

using testing_support::AnswerBoxes;
using testing_support::SeenBox;

// Answers the next box of this process with OK and records it.
void AnswerBox(SeenBox *seen) {
    std::vector<SeenBox> boxes;
    AnswerBoxes({IDOK}, &boxes);
    if (!boxes.empty()) *seen = boxes[0];
}

// A string value of HKEY_LOCAL_MACHINE\key, or "<missing>".
std::string MachineString(const std::string &key, const char *value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return "<missing>";
    char data[1024] = "";
    DWORD size = sizeof data - 1, type = 0;
    LONG result = RegQueryValueExA(handle, value, NULL, &type, (BYTE *)data, &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
    return std::string(data, size && !data[size - 1] ? size - 1 : size);
}

bool MachineKeyExists(const std::string &key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

class Done : public Shortcuts {
  protected:
    std::vector<std::string> keys;
    void SetUp() override {
        Shortcuts::SetUp();
        Str_Copy(state.CompanyName, "Tessel Test");
        Str_Copy(state.ProductName, "Viewer");
        Str_Copy(state.UninstallName, "uninst.exe");
        keys = {std::string(kUninstallRoot) + "Tessel Test Viewer",
                std::string(kUninstallRoot) + " Viewer"};
        for (const auto &key : keys) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    }
    void TearDown() override {
        for (const auto &key : keys) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        SetEnvironmentVariableA("TESSEL_HELPER_RAN", NULL);
        Shortcuts::TearDown();
    }
};

TEST_F(Done, WritesDisplayNameAndUninstallerAndKeepsOtherValues) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keys[0].c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &handle, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(handle, "DisplayName", 0, REG_SZ, (const BYTE *)"old", 4);
    RegSetValueExA(handle, "Publisher", 0, REG_SZ, (const BYTE *)"old", 4);
    RegSetValueExA(handle, "Comments", 0, REG_SZ, (const BYTE *)"kept", 5);
    RegCloseKey(handle);
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(Run("DONE", {"All done."}), 1);
        EXPECT_EQ(MachineString(keys[0], "DisplayName"), "Tessel Test Viewer");
        EXPECT_EQ(MachineString(keys[0], "UninstallString"), "\"" + folder + "uninst.exe\"");
        EXPECT_EQ(MachineString(keys[0], "QuietUninstallString"),
                  "\"" + folder + "uninst.exe\" -Quiet");
        EXPECT_EQ(MachineString(keys[0], "Publisher"), "Tessel Test"); // COMPANY NAME
        EXPECT_EQ(MachineString(keys[0], "Comments"), "kept");
        // No script text kept: the uninstaller's own icon.
        EXPECT_EQ(MachineString(keys[0], "DisplayIcon"), folder + "uninst.exe");
    }
    // Quiet: nothing shown, and the default title stays for what comes later.
    EXPECT_STREQ(state.Caption, "Installation Complete!");
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Done, EmptyCompanyGivesKeyAndNameWithALeadingBlank) {
    state.CompanyName[0] = 0;
    Str_Copy(state.UninstallName, "$4tool\\remove.exe");
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(Run("DONE", {""}), 1);
    EXPECT_EQ(MachineString(keys[1], "DisplayName"), " Viewer");
    EXPECT_EQ(Lower(MachineString(keys[1], "UninstallString")),
              Lower("\"" + std::string(temp) + "tool\\remove.exe\""));
}

TEST_F(Done, WithoutUninstallerWritesNothingButStartsTheRelaunchProgram) {
    state.UninstallName[0] = 0;
    std::string marker = folder + "relaunched.txt";
    SetEnvironmentVariableA("TESSEL_HELPER_RAN", marker.c_str());
    std::string helper = ProgramDir() + "helpers\\helper.exe";
    Str_Copy(state.RelaunchPath, helper.c_str());
    EXPECT_EQ(Run("DONE", {"Bye"}), 1);
    EXPECT_FALSE(MachineKeyExists(keys[0]));
    for (int i = 0; i < 200 && !FileExists(marker); i++) Sleep(50);
    EXPECT_TRUE(FileExists(marker)) << "the relaunch program did not run";
    EXPECT_STREQ(state.RelaunchPath, helper.c_str());
}

// A key name beyond what the registry's 8-bit functions take (260 characters) is refused and
// logged, never fatal, and DONE fails without announcing a complete installation; one of 260
// characters is written.
TEST_F(Done, KeyThatDoesNotFitIsRefusedAndDoneFails) {
    const struct {
        int company, product;
        bool written;
    } rows[] = {{159, 159, false}, {104, 104, false}, {104, 103, true}};
    for (const auto &row : rows) {
        std::string name = std::string(row.company, 'c') + " " + std::string(row.product, 'p');
        Str_Copy(state.CompanyName, std::string(row.company, 'c').c_str());
        Str_Copy(state.ProductName, std::string(row.product, 'p').c_str());
        keys.push_back(kUninstallRoot + name);
        EXPECT_EQ(Run("DONE", {"Bye"}), row.written ? 1 : 0);
        EXPECT_EQ(MachineString(keys.back(), "DisplayName"), row.written ? name : "<missing>");
        EXPECT_EQ(TakeLog(), row.written ? "" : "Uninstall key too long for '" + name + "'\n");
        EXPECT_STREQ(state.Caption, row.written ? "Installation Complete!" : "");
    }
}

TEST_F(Done, InteractiveRunShowsTheClosingBoxAndEmptiesTheCaption) {
    state.Mode = Interactive;
    const struct {
        const char *caption, *title;
    } rows[] = {{"", "Installation Complete!"}, {"All set", "All set"}};
    for (const auto &row : rows) {
        Str_Copy(state.Caption, row.caption);
        SeenBox seen;
        std::thread answerer;
        bool display = DisplayAvailable();
        if (display) answerer = std::thread(AnswerBox, &seen);
        EXPECT_EQ(Run("DONE", {"Setup has finished."}), 1);
        if (display) {
            answerer.join();
            EXPECT_EQ(seen.title, row.title);
            EXPECT_EQ(seen.text, "Setup has finished.");
        }
        EXPECT_STREQ(state.Caption, "");
        EXPECT_EQ(MachineString(keys[0], "DisplayName"), "Tessel Test Viewer");
    }
}

} // namespace
