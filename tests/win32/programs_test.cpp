// Starting programs, registering COM servers and closing windows with the real system under
// Wine, and the EXECUTE, OLE, WINDOW, MESSAGE and AGREEMENT commands that use them. The helper
// program writes a marker file or shows a window (tests/helpers); the test DLLs record their
// entry points in a file beside them. Windows need a display: without one only the cases that
// create no window run, and a thread of the test answers the boxes where there is one.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "iscript.h"
#include "programs.h"
#include "state.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "test-support.h"

using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ProgramDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// The display run goes on beside the plain one: each keeps a log file of its own.
const char *kLogName =
    getenv("TESSEL_NEED_DISPLAY") ? "programs-display-test.log" : "programs-test.log";

using testing_support::DisplayAvailable;

std::string Helpers() { return ProgramDir() + "helpers\\"; }
std::string HelperExe() { return Helpers() + "helper.exe"; }

bool CopyHelper(const std::string &name, const std::string &folder) {
    return CopyFileA((Helpers() + name).c_str(), (folder + name).c_str(), FALSE) != 0;
}

// Waits up to ten seconds for a file that another process writes.
bool AppearsSoon(const std::string &path) {
    for (int i = 0; i < 200 && !FileExists(path); i++) Sleep(50);
    return FileExists(path);
}

int CountOf(const std::string &text, const std::string &part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

// A helper process that shows one window; ended at the latest with the test.
struct HelperWindow {
    PROCESS_INFORMATION process = {};
    bool Start(const std::string &className, const std::string &title, bool refuse = false) {
        std::string line = "\"" + HelperExe() + "\" --window \"" + className + "\" \"" + title +
                           "\"" + (refuse ? " --refuse" : "");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
            return false;
        for (int i = 0; i < 200; i++, Sleep(50))
            if (FindWindowA(className.c_str(), NULL)) return true;
        return false;
    }
    // The process ended, that is its window was closed, within ten seconds.
    bool Ended() { return WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0; }
    ~HelperWindow() {
        if (!process.hProcess) return;
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
};

using testing_support::AnswerBoxes;
using testing_support::SeenBox;

class Programs : public testing::Test {
  protected:
    std::string folder;
    InstallState state = {};
    testing_support::LogCapture log_{kLogName};

    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        folder = MakeTempDir("programs");
        state.Mode = Interactive;
        Str_Copy(state.InstallPath, folder.c_str());
    }
    void TearDown() override {
        TakeLog();
        SetEnvironmentVariableA("TESSEL_SERVER_RESULT", NULL);
    }
    std::string TakeLog() { return log_.Take(); }
    // Runs work while a thread answers the shell's own notice that a program cannot be found,
    // which appears where windows can.
    template <typename Work> void AnsweringShellNotice(Work work) {
        if (!DisplayAvailable()) return work();
        std::vector<SeenBox> seen;
        std::thread answerer(AnswerBoxes, std::vector<int>{IDOK}, &seen);
        work();
        answerer.join();
        EXPECT_EQ(seen.size(), 1u);
    }
    // Runs Wnd_CloseMatching while a thread answers its boxes.
    int CloseWithAnswers(int mode, const char *title, const char *windowClass,
                         std::vector<int> buttons, std::vector<SeenBox> *seen) {
        std::thread answerer(AnswerBoxes, buttons, seen);
        int result =
            Wnd_CloseMatching(&state, mode, 0, title, windowClass, "again.exe", "Close it");
        answerer.join();
        return result;
    }
};

// ---- Proc_Run ----

TEST_F(Programs, WaitedProgramHasEndedAndGivesItsExitCode) {
    std::string marker = folder + "waited.txt";
    int32_t code = -1;
    EXPECT_EQ(Proc_Run(HelperExe().c_str(), ("\"" + marker + "\" 7 300").c_str(), 1, &code), 1);
    EXPECT_TRUE(FileExists(marker)) << "returned before the program ended";
    EXPECT_EQ(code, 7);
    std::string line = ReadFile(marker);
    EXPECT_NE(line.find("waited.txt\" 7 300"), std::string::npos) << line;
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Programs, UnwaitedProgramRunsOnWithExitCodeZero) {
    std::string marker = folder + "unwaited.txt";
    int32_t code = -1;
    EXPECT_EQ(Proc_Run(HelperExe().c_str(), ("\"" + marker + "\" 9").c_str(), 0, &code), 1);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(AppearsSoon(marker));
}

TEST_F(Programs, ProgramThatCannotStartIsOnlyLogged) {
    std::string missing = folder + "missing.exe";
    int32_t code = -1;
    AnsweringShellNotice([&] { EXPECT_EQ(Proc_Run(missing.c_str(), "a b", 1, &code), 1); });
    EXPECT_EQ(code, 0);
    std::string log = TakeLog();
    std::string prefix = "Unable to execute '" + missing + "' 'a b' 0x";
    EXPECT_EQ(log.substr(0, prefix.size()), prefix) << log;
    EXPECT_EQ(log.size(), prefix.size() + 9) << log; // eight hex digits and the line end
}

// ---- Ole_Register ----

TEST_F(Programs, ServerEntryPointsRunAndTheServerIsReleased) {
    ASSERT_TRUE(CopyHelper("comserver.dll", folder));
    ASSERT_TRUE(CopyHelper("relayserver.dll", folder));
    std::string server = folder + "comserver.dll", relay = folder + "relayserver.dll";
    const struct {
        std::string path;
        int reg, result;
        const char *recorded, *log;
    } rows[] = {
        {server, 1, 1, "DllRegisterServer\n", ""},
        {server, 0, 1, "DllUnregisterServer\n", ""},
        {server, 5, 1, "DllUnregisterServer\n", ""}, // anything but 1 unregisters
        // Its dependency is found in its own folder only.
        {relay, 1, 1, "RelayRegisterServer\n", ""},
        {relay, 0, 0, "", "Couldn't get entry point from '%s'\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path + " " + std::to_string(row.reg));
        DeleteFileA((server + ".log").c_str());
        EXPECT_EQ(Ole_Register(row.path.c_str(), row.reg), row.result);
        EXPECT_EQ(ReadFile(server + ".log"), row.recorded);
        char expected[600];
        snprintf(expected, sizeof expected, row.log, row.path.c_str());
        EXPECT_EQ(TakeLog(), expected);
        EXPECT_EQ(GetModuleHandleA(row.path.c_str()), (HMODULE)NULL) << "still loaded";
        EXPECT_EQ(GetModuleHandleA(server.c_str()), (HMODULE)NULL) << "dependency still loaded";
    }
}

TEST_F(Programs, FailingOrMissingServerGivesZero) {
    ASSERT_TRUE(CopyHelper("comserver.dll", folder));
    std::string server = folder + "comserver.dll";
    SetEnvironmentVariableA("TESSEL_SERVER_RESULT", "0x80004005");
    EXPECT_EQ(Ole_Register(server.c_str(), 1), 0);
    EXPECT_EQ(ReadFile(server + ".log"), "DllRegisterServer\n");
    EXPECT_EQ(TakeLog(), "Failed in executing entry point from '" + server + "'\n");
    SetEnvironmentVariableA("TESSEL_SERVER_RESULT", "1"); // S_FALSE is a success
    EXPECT_EQ(Ole_Register(server.c_str(), 0), 1);

    std::string missing = folder + "none.dll";
    TakeLog();
    EXPECT_EQ(Ole_Register(missing.c_str(), 1), 0);
    std::string log = TakeLog(), prefix = "Error attempting to load '" + missing + "' (0x";
    EXPECT_EQ(log.substr(0, prefix.size()), prefix) << log;
}

// ---- Wnd_CloseMatching ----

TEST_F(Programs, NoClassAndNoTitleMatchNothing) {
    Str_Copy(state.RelaunchPath, "C:\\again.exe");
    EXPECT_EQ(Wnd_CloseMatching(&state, 0, 0, "", "", "again.exe", "Close it"), 1);
    EXPECT_STREQ(state.RelaunchPath, "");
    EXPECT_EQ(TakeLog(), "Find [0] Windows = '' / '' [again.exe]\n");
}

TEST_F(Programs, NamesTooLongToCompareAreRefused) {
    Str_Copy(state.RelaunchPath, "C:\\again.exe");
    std::string title(120, 't');
    EXPECT_EQ(Wnd_CloseMatching(&state, 0, 0, title.c_str(), "", "", ""), 0);
    EXPECT_STREQ(state.RelaunchPath, "");
    EXPECT_NE(TakeLog().find("Window name too long (120 > 119)\n"), std::string::npos);
}

TEST_F(Programs, SilentModeClosesByClassTitleOrBoth) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    const struct {
        const char *title, *windowClass;
    } rows[] = {{"", "TesselTarget"},
                {"Target Window", ""},
                {"Target Window", "TesselTarget"},
                {"TARGET window", "tesseltarget"},
                {"", "TesselUntitled"}}; // a window without a title matches on its class
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.title) + "/" + row.windowClass);
        HelperWindow target;
        bool untitled = !strcmp(row.windowClass, "TesselUntitled");
        ASSERT_TRUE(target.Start(untitled ? "TesselUntitled" : "TesselTarget",
                                 untitled ? "" : "Target Window"));
        Str_Copy(state.RelaunchPath, "C:\\again.exe");
        EXPECT_EQ(Wnd_CloseMatching(&state, 0, 0, row.title, row.windowClass, "again.exe", ""), 1);
        EXPECT_TRUE(target.Ended());
        EXPECT_STREQ(state.RelaunchPath, "C:\\again.exe") << "closed windows: start it again";
        std::string log = TakeLog();
        EXPECT_EQ(CountOf(log, std::string("Window Match 0: [") + row.title + " / " +
                                   row.windowClass + "]\n"),
                  1)
            << log;
    }
}

TEST_F(Programs, WindowWithAnotherTitleIsLeftAlone) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    HelperWindow target;
    ASSERT_TRUE(target.Start("TesselTarget", "Target Window"));
    Str_Copy(state.RelaunchPath, "C:\\again.exe");
    EXPECT_EQ(Wnd_CloseMatching(&state, 0, 0, "Target", "TesselTarget", "again.exe", ""), 1);
    EXPECT_STREQ(state.RelaunchPath, "") << "it was not running";
    EXPECT_TRUE(FindWindowA("TesselTarget", NULL));
    std::string log = TakeLog();
    EXPECT_NE(log.find("Window CmpClass 0: [TesselTarget / TesselTarget]\n"), std::string::npos);
    EXPECT_NE(log.find("Window CmpName 0: [Target Window / Target]\n"), std::string::npos);
    EXPECT_EQ(CountOf(log, "Window Match"), 0);
}

TEST_F(Programs, TitleLongerThanItsReadIsNeverTakenForItsStart) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    std::string title(130, 'L');
    HelperWindow target;
    ASSERT_TRUE(target.Start("TesselLong", title));
    std::string start = title.substr(0, 114); // what a read of a window's title gives
    EXPECT_EQ(Wnd_CloseMatching(&state, 0, 0, start.c_str(), "TesselLong", "", ""), 1);
    EXPECT_TRUE(FindWindowA("TesselLong", NULL));
    std::string log = TakeLog();
    EXPECT_NE(log.find("Window CmpName 0: [" + start + " / " + start + "]\n"), std::string::npos)
        << log;
    EXPECT_EQ(CountOf(log, "Window Match"), 0);
}

TEST_F(Programs, WindowThatRefusesToCloseFailsAfterTenAttempts) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    for (int mode : {0, 7}) { // any other mode only counts the windows
        SCOPED_TRACE(mode);
        HelperWindow target;
        ASSERT_TRUE(target.Start("TesselStubborn", "Stubborn", true));
        Str_Copy(state.RelaunchPath, "C:\\again.exe");
        EXPECT_EQ(Wnd_CloseMatching(&state, mode, 0, "", "TesselStubborn", "again.exe", ""), 0);
        EXPECT_STREQ(state.RelaunchPath, "");
        EXPECT_TRUE(FindWindowA("TesselStubborn", NULL));
        EXPECT_EQ(CountOf(TakeLog(), "Window Match " + std::to_string(mode) + ": "), 10);
    }
}

TEST_F(Programs, TellModeShowsThePromptAndStops) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    HelperWindow target;
    ASSERT_TRUE(target.Start("TesselTarget", "Target Window"));
    Str_Copy(state.RelaunchPath, "C:\\again.exe");
    std::vector<SeenBox> seen;
    EXPECT_EQ(CloseWithAnswers(1, "", "TesselTarget", {IDOK}, &seen), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Install problem...");
    EXPECT_EQ(seen[0].text, "Close it");
    EXPECT_STREQ(state.RelaunchPath, "");
    EXPECT_TRUE(FindWindowA("TesselTarget", NULL)) << "tell mode closes nothing";
}

TEST_F(Programs, AskModeClosesOnYesAndStopsOnNo) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    {
        HelperWindow target;
        ASSERT_TRUE(target.Start("TesselTarget", "Target Window"));
        Str_Copy(state.RelaunchPath, "C:\\again.exe");
        std::vector<SeenBox> seen;
        EXPECT_EQ(CloseWithAnswers(2, "Target Window", "", {IDYES}, &seen), 1);
        EXPECT_TRUE(target.Ended());
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].title, "Attempt #1");
        EXPECT_EQ(seen[0].text, "Close it");
        EXPECT_STREQ(state.RelaunchPath, "C:\\again.exe");
        std::string log = TakeLog();
        EXPECT_NE(log.find("Window Match 2: [Target Window / ]\nPrompt [Close it] [Attempt #1]\n"
                           "Prompt True\n"),
                  std::string::npos)
            << log;
    }
    // A window that stays although the user said Yes is asked about again, attempt by attempt.
    HelperWindow target;
    ASSERT_TRUE(target.Start("TesselStubborn", "Stubborn", true));
    std::vector<SeenBox> seen;
    EXPECT_EQ(CloseWithAnswers(2, "", "TesselStubborn", {IDYES, IDNO}, &seen), 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, "Attempt #1");
    EXPECT_EQ(seen[1].title, "Attempt #2");
    EXPECT_STREQ(state.RelaunchPath, "");
    EXPECT_TRUE(FindWindowA("TesselStubborn", NULL));
    EXPECT_EQ(CountOf(TakeLog(), "Prompt True\n"), 1);
}

// ---- The commands ----

// One command line's arguments: the texts joined by the marker, then CR LF.
std::string Arguments(const std::vector<std::string> &texts) {
    std::string line;
    for (size_t i = 0; i < texts.size(); i++) line += (i ? "\x16" : "") + texts[i];
    return line + "\r\n";
}

class Commands : public Programs {
  protected:
    void SetUp() override {
        Programs::SetUp();
        Cmd_RegisterAll();
        Script_RegisterBreak();
        GetCurrentDirectoryA(sizeof previousDirectory, previousDirectory);
        work = MakeTempDir("programs-work");
        SetCurrentDirectoryA(work.c_str()); // where an unexpanded relative path lands
    }
    void TearDown() override {
        SetCurrentDirectoryA(previousDirectory);
        Cmd_ReleaseAll();
        Programs::TearDown();
    }
    // Runs the command; *end gets where its cursor stopped, measured from the line's end.
    int Run(const char *keyword, const std::vector<std::string> &texts, int *end = nullptr) {
        std::string line = Arguments(texts);
        int32_t cursor = 0;
        int result = Cmd_Dispatch(keyword, &state, line.c_str(), &cursor);
        if (end) *end = (int)line.size() - cursor;
        return result;
    }
    char previousDirectory[MAX_PATH] = "";
    std::string work;
};

TEST_F(Commands, ExecuteExpandsProgramAndParametersByItsMode) {
    ASSERT_TRUE(CopyHelper("helper.exe", folder));
    const struct {
        const char *mode, *program;
        std::string marker; // where the started helper writes
    } rows[] = {
        {"0", "helper.exe", folder + "m0.txt"}, // both expanded
        {"1", nullptr, folder + "m1.txt"},      // the parameters only
        {"2", "helper.exe", work + "m2.txt"},   // the program only
        {"9", nullptr, work + "m9.txt"},        // neither
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mode);
        std::string program = row.program ? row.program : HelperExe();
        std::string name = std::string("m") + row.mode + ".txt";
        EXPECT_EQ(Run("EXECUTE", {row.mode, "note", program, name}), 1);
        EXPECT_TRUE(AppearsSoon(row.marker));
        std::string started = row.mode[0] == '0' || row.mode[0] == '2' ? folder + program : program;
        EXPECT_EQ(TakeLog(), "Executed '" + started + "' with a result of '0'\n");
    }
    // A program that does not exist does not stop the script.
    AnsweringShellNotice([&] { EXPECT_EQ(Run("EXECUTE", {"9", "", "nothing-here.exe", ""}), 1); });
    std::string log = TakeLog();
    EXPECT_EQ(log.find("Unable to execute 'nothing-here.exe' '' 0x"), 0u) << log;
    EXPECT_NE(log.find("Executed 'nothing-here.exe' with a result of '0'\n"), std::string::npos);
}

TEST_F(Commands, ExecuteInQuietModeStartsNothing) {
    state.Mode = Quiet;
    std::string marker = folder + "quiet.txt";
    EXPECT_EQ(Run("EXECUTE", {"1", "", HelperExe(), "quiet.txt"}), 1);
    EXPECT_EQ(TakeLog(), "");
    Sleep(1000);
    EXPECT_FALSE(FileExists(marker));
}

TEST_F(Commands, TooLongArgumentsAreRefusedAndSteppedOver) {
    int end = -1;
    std::string program(300, 'p');
    EXPECT_EQ(Run("EXECUTE", {"0", "note", program, "x"}, &end), 1);
    EXPECT_EQ(end, 1) << "the cursor stops at the line's end";
    EXPECT_EQ(TakeLog(), "Argument of 'EXECUTE' too long (300 > 259)\n");
    EXPECT_EQ(Run("OLE", {"REGISTER", std::string(260, 's')}, &end), 1);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(TakeLog(), "Argument of 'OLE' too long (260 > 259)\n");
    EXPECT_EQ(Run("WINDOW", {"0", "1000", std::string(120, 't'), "", "", "Close it"}, &end), 0);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(TakeLog(), "Argument of 'WINDOW' too long (120 > 119)\n");
    EXPECT_EQ(Run("WINDOW", {"0", "99999999999", "", "", "", ""}), 0);
    EXPECT_EQ(TakeLog(), "Number out of range for 'WINDOW'\n");
    EXPECT_EQ(Run("MESSAGE", {std::string(260, 'n')}), 0);
    EXPECT_EQ(TakeLog(), "Argument of 'MESSAGE' too long (260 > 259)\n");
}

TEST_F(Commands, OleRegistersOnlyForTheVerbRegisterInAnyCase) {
    ASSERT_TRUE(CopyHelper("comserver.dll", folder));
    std::string server = folder + "comserver.dll";
    const struct {
        const char *verb, *entry;
    } rows[] = {{"REGISTER", "DllRegisterServer"},
                {"register", "DllRegisterServer"},
                {"UNREGISTER", "DllUnregisterServer"},
                {"install", "DllUnregisterServer"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.verb);
        DeleteFileA((server + ".log").c_str());
        EXPECT_EQ(Run("OLE", {row.verb, "comserver.dll"}), 1); // relative to InstallPath
        EXPECT_EQ(ReadFile(server + ".log"), std::string(row.entry) + "\n");
        EXPECT_EQ(TakeLog(), std::string("OLE: ") + row.verb + " '" + server + "'\n");
    }
    state.Mode = Quiet; // runs in quiet mode as well; its failure is only logged
    EXPECT_EQ(Run("OLE", {"REGISTER", "none.dll"}), 1);
    std::string log = TakeLog();
    EXPECT_EQ(log.find("OLE: REGISTER '" + folder + "none.dll'\nError attempting to load '"), 0u)
        << log;
}

TEST_F(Commands, TextsInQuietModeShowNothingAndEmptyTheCaption) {
    state.Mode = Quiet;
    for (const char *keyword : {"MESSAGE", "AGREEMENT"}) {
        SCOPED_TRACE(keyword);
        Str_Copy(state.Caption, "Read this");
        EXPECT_EQ(Run(keyword, {"missing.txt"}), 1);
        EXPECT_STREQ(state.Caption, "");
    }
    EXPECT_EQ(TakeLog(), "");
    // Interactive, a missing text fails the command and the caption is used up all the same.
    state.Mode = Interactive;
    Str_Copy(state.Caption, "Read this");
    EXPECT_EQ(Run("AGREEMENT", {"missing.txt"}), 0);
    EXPECT_STREQ(state.Caption, "");
    EXPECT_EQ(TakeLog(), "Unable to get size for 'missing.txt'\n");
}

TEST_F(Commands, AgreementTakesTheCaptionOnceThenItsOwnTitle) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    std::string text = folder + "terms.txt";
    ASSERT_TRUE(WriteFile(text, "You may use it."));
    Str_Copy(state.Caption, "Terms of Rocket");
    std::vector<SeenBox> seen;
    std::thread answerer(AnswerBoxes, std::vector<int>{IDOK, IDCANCEL, IDOK}, &seen);
    EXPECT_EQ(Run("AGREEMENT", {text}), 1); // "I Accept"
    EXPECT_EQ(Run("AGREEMENT", {text}), 0); // "I Do Not Accept"
    EXPECT_EQ(Run("MESSAGE", {text}), 1);   // "Continue"
    answerer.join();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].title, "Terms of Rocket");
    EXPECT_EQ(seen[1].title, "End User Agreement...");
    EXPECT_EQ(seen[2].title, "Welcome...");
    EXPECT_STREQ(state.Caption, "");
}

TEST_F(Commands, WindowClosesAndKeepsTheExpandedRelaunchProgram) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    {
        HelperWindow target;
        ASSERT_TRUE(target.Start("TesselTarget", "Target Window"));
        // Mode 7 closes as mode 0 does; a budget that is no number is the least, 1000 ms.
        EXPECT_EQ(Run("WINDOW", {"7", "soon", "", "TesselTarget", "$2again.exe", "Close it"}), 1);
        EXPECT_TRUE(target.Ended());
        char system[MAX_PATH];
        GetSystemDirectoryA(system, sizeof system);
        EXPECT_EQ(std::string(state.RelaunchPath), std::string(system) + "\\again.exe");
        std::string log = TakeLog();
        EXPECT_EQ(log.find("Find [0] Windows = '' / 'TesselTarget' [$2again.exe]\n"), 0u) << log;
    }
    {
        // An empty relaunch program is the installation folder, which DONE opens again.
        HelperWindow target;
        ASSERT_TRUE(target.Start("TesselTarget", "Target Window"));
        EXPECT_EQ(Run("WINDOW", {"0", "0", "", "TesselTarget", "", ""}), 1);
        EXPECT_TRUE(target.Ended());
        ASSERT_NE(state.InstallPath[0], 0);
        EXPECT_STREQ(state.RelaunchPath, state.InstallPath);
    }
    HelperWindow target;
    ASSERT_TRUE(target.Start("TesselStubborn", "Stubborn", true));
    EXPECT_EQ(Run("WINDOW", {"0", "0", "Stubborn", "TesselStubborn", "again.exe", ""}), 0);
    EXPECT_STREQ(state.RelaunchPath, "");
    std::string log = TakeLog();
    EXPECT_NE(log.find("Unable to close Window 0:'Stubborn' 'TesselStubborn'\n"),
              std::string::npos);
}

} // namespace
