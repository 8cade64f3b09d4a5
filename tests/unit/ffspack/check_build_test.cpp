// The builder's checks in its builds and its command: a build that the checks refuse writes
// nothing, one with warnings goes on; the entries' names held to the rules of a file's name;
// the uninstaller the check takes as bundled; 'ffspack check' and its exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check-test-support.h"
#include "engine-support.h"
#include "ffs.h"
#include "tessel-stamp.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

using namespace check_test;
using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::RemoveFile;
using testing_support::WriteFile;

namespace {

std::string Stub(const std::string &dir) {
    WriteFile(dir + "stub.exe", "MZ" + std::string(200, '.') + CORE_STAMP_UNSET +
                                    std::string(1, '\0') + std::string(100, '.'));
    return dir + "stub.exe";
}

TEST(CheckBuild, AnErrorRefusesTheBuildAndWritesNothing) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("check-build"), out = dir + "setup.exe";
    const std::string stub = Stub(dir), bad = dir + "bad.txt", dat = dir + "install.dat";
    WriteFile(bad, "FILE LIST:a.txt,missing.txt\nINSTALL PATH:?\nINSTALL:\n");
    WriteFile(dat, "\x16"
                   "FILE LIST:a.txt\n\x16INSTALL PATH:?\r\n\x16INSTALL:\r\n");
    WriteFile(dir + "a.txt", "some text");
    const std::vector<PackSource> entry = {{"a.txt", dir + "a.txt"}};
    const std::vector<PackSource> handMade = {{"a.txt", dir + "a.txt"}, {"install.dat", dat}};
    const struct {
        std::string script;
        std::vector<PackSource> sources;
        std::string error;
    } rows[] = {
        {bad, entry, bad + ": 1 error in the script"},
        {"", handMade, dat + ": 1 error in the script"},
    };
    for (const auto &row : rows) {
        for (const char *previous : {"", "the previous setup"}) {
            RemoveFile(out);
            if (previous[0]) {
                WriteFile(out, previous);
            }
            std::string error, bundled;
            PackNotes notes;
            CheckReport report;
            EXPECT_FALSE(Pack_BuildFiles(stub, "", row.script, row.sources, 6, out, &bundled,
                                         &error, &notes, &report));
            EXPECT_EQ(error, row.error);
            EXPECT_EQ(Check_Count(report, CHECK_ERROR), 1u) << error;
            bool ok = false;
            EXPECT_EQ(ReadFile(out, &ok), previous);
            EXPECT_EQ(ok, previous[0] != 0);
            EXPECT_FALSE(FileExists(out + ".part"));
            // Unchecked, the same script is built as it is.
            RemoveFile(out);
            EXPECT_TRUE(Pack_BuildFiles(stub, "", row.script, row.sources, 6, out, &bundled, &error,
                                        &notes, nullptr))
                << error;
        }
    }
}

TEST(CheckBuild, WarningsLetTheBuildGoOnWithTheComputedSize) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("check-warn"), out = dir + "setup.exe";
    WriteFile(dir + "setup.txt", "TEXT:" + std::string(160, 't') + "\nFILE LIST:a.txt\n");
    WriteFile(dir + "a.txt", std::string(1025, 'a'));
    WriteFile(dir + "b.txt", "b");
    std::string error, bundled;
    PackNotes notes;
    CheckReport report;
    ASSERT_TRUE(Pack_BuildFiles(Stub(dir), "", dir + "setup.txt",
                                {{"a.txt", dir + "a.txt"}, {"b.txt", dir + "b.txt"}}, 6, out,
                                &bundled, &error, &notes, &report))
        << error;
    EXPECT_EQ(Check_Count(report, CHECK_WARNING), 2u);
    EXPECT_EQ(Check_Count(report, CHECK_NOTE), 1u);
    PackBytes script;
    ASSERT_TRUE(Pack_Extract(out, "install.dat", &script, &error)) << error;
    EXPECT_EQ(std::string(script.begin(), script.begin() + 17), "\x16INSTALL SIZE:2\r\n");
}

// The files of the entries' tests: a stub, a script that passes, one with an error of its own
// (bad), and two files to store.
struct EntryFiles {
    std::string dir, out, stub, script, bad, a, b;
};

EntryFiles MakeEntryFiles() {
    EntryFiles files;
    files.dir = MakeTempDir("check-names");
    files.out = files.dir + "setup.exe";
    files.stub = Stub(files.dir);
    files.script = files.dir + "setup.txt";
    files.bad = files.dir + "bad.txt";
    files.a = files.dir + "a.txt";
    files.b = files.dir + "b.txt";
    WriteFile(files.script, "FILE LIST:$2\\c.dll\n");
    WriteFile(files.bad, "FILE LIST:$2\\c.dll\nFROB:x\n");
    WriteFile(files.a, "a");
    WriteFile(files.b, "b");
    return files;
}

struct EntryRow {
    std::string what, script;
    std::vector<PackSource> sources;
    uint32_t flags;
    std::vector<std::string> found; // the errors the check finds
    std::string error;              // the refusal; "" for none
    bool unchecked;                 // an unchecked build is made
};

// Each row checked, built with the checks, and built unchecked (but for a script that cannot
// run itself).
void RunEntryRows(const EntryFiles &files, const std::vector<EntryRow> &rows) {
    for (const EntryRow &row : rows) {
        CheckReport checked;
        std::string error;
        EXPECT_EQ(Pack_CheckFiles("", "", row.script, row.sources, row.flags, &checked, &error),
                  row.error.empty())
            << row.what;
        EXPECT_EQ(error, row.error) << row.what;
        std::vector<std::string> findings;
        for (const CheckMessage &message : checked)
            if (message.kind == CHECK_ERROR) findings.push_back(message.text);
        EXPECT_EQ(findings, row.found) << row.what;
        RemoveFile(files.out);
        CheckReport report;
        std::string bundled, built;
        PackNotes notes;
        EXPECT_EQ(Pack_BuildFiles(files.stub, "", row.script, row.sources, row.flags, files.out,
                                  &bundled, &built, &notes, &report),
                  row.error.empty())
            << row.what;
        EXPECT_EQ(built, row.error) << row.what;
        EXPECT_EQ(report.size(), checked.size()) << row.what;
        EXPECT_EQ(FileExists(files.out), row.error.empty()) << row.what;
        if (row.script == files.bad) continue; // the script itself cannot run
        RemoveFile(files.out);
        EXPECT_EQ(Pack_BuildFiles(files.stub, "", row.script, row.sources, row.flags, files.out,
                                  &bundled, &built, &notes, nullptr),
                  row.unchecked)
            << row.what << ": " << built;
    }
}

// The entries' names keep to the same rules, each finding named by the file it comes from.
// Unchecked, the setup gets them as they are (the tests of its own guards need that).
TEST(CheckBuild, EntryNamesNoFileCanHaveRefuseCheckAndBuild) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const EntryFiles files = MakeEntryFiles();
    const std::string &script = files.script, &bad = files.bad, &a = files.a, &b = files.b;
    RunEntryRows(
        files,
        {
            {"a name the setup finds", script, {{"\\c.dll", a}}, 6, {}, "", true},
            {"out of the folder",
             script,
             {{"\\c.dll", a}, {"..\\..\\etc\\passwd", b}},
             6,
             {b + ": the entry '..\\..\\etc\\passwd' holds '..', which leads out of its folder"},
             "1 error in the entries",
             true},
            {"a device",
             script,
             {{"\\c.dll", a}, {"docs\\CON.txt", b}},
             6,
             {b +
              ": the entry 'docs\\CON.txt' holds 'CON.txt', which is the device CON to Windows, "
              "not a file"},
             "1 error in the entries",
             true},
            {"and an error in the script",
             bad,
             {{"\\c.dll", a}, {"a.", b}},
             6,
             {b + ": the entry 'a.' ends with a dot: Windows drops it",
              bad + ":2: FROB: not a command this setup runs: it stops there with \"Installation "
                    "script corrupted!\""},
             "1 error in the entries; " + bad + ": 1 error in the script",
             true},
        });
}

// Two entries that are one name to the setup are an error of the check and of the build, checked
// or not, unless letter case counts.
TEST(CheckBuild, EntriesOfOneNameRefuseCheckAndBuild) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const EntryFiles files = MakeEntryFiles();
    const std::string &script = files.script, &a = files.a, &b = files.b;
    char hash[16];
    snprintf(hash, sizeof hash, "%08X", Ffs_HashNameFlags("plumless", 6));
    const std::string kCase = "differ only in letter case: the setup asks for names in any "
                              "letter case, and these are one name to it; keep one of them";
    RunEntryRows(files,
                 {
                     {"one name in two letter cases",
                      script,
                      {{"\\c.dll", a}, {"\\C.DLL", b}},
                      6,
                      {a + ", " + b + ": names '\\c.dll' and '\\C.DLL' " + kCase},
                      "1 error in the entries",
                      false},
                     {"two names when letter case counts",
                      script,
                      {{"\\c.dll", a}, {"\\C.DLL", b}},
                      0,
                      {},
                      "",
                      true},
                     {"one hash",
                      script,
                      {{"\\c.dll", a}, {"plumless", a}, {"buckeroo", b}},
                      6,
                      {a + ", " + b + ": names 'plumless' and 'buckeroo' have the same hash (0x" +
                       hash + "); rename one of them"},
                      "1 error in the entries",
                      false},
                     {"one name twice",
                      script,
                      {{"\\c.dll", a}, {"\\c.dll", b}},
                      6,
                      {a + ", " + b + ": '\\c.dll' is listed twice"},
                      "1 error in the entries",
                      false},
                 });
}

// The uninstaller counts as bundled unless the place the build would take it from is named and
// holds none.
TEST(CheckBuild, CheckFilesFindsTheUninstallerTheBuildWouldBundle) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string with = MakeTempDir("check-with"), bare = MakeTempDir("check-bare");
    WriteFile(with + "uninst.exe", "MZ");
    WriteFile(bare + "setup.txt", "UNINSTALL NAME:$Pu.exe\n");
    const std::string script = bare + "setup.txt";
    const struct {
        std::string stub, uninstaller, script;
        bool passed;
        std::string error;
    } rows[] = {
        {"", "", script, true, ""},
        {with + "stub.exe", "", script, true, ""},
        {bare + "stub.exe", "", script, false, script + ": 1 error in the script"},
        {"", with + "uninst.exe", script, true, ""},
        {"", bare + "uninst.exe", script, false, script + ": 1 error in the script"},
        {"", "", "", false,
         "nothing to check: give the script's text form or an entry install.dat"},
    };
    for (const auto &row : rows) {
        CheckReport report;
        std::string error;
        EXPECT_EQ(Pack_CheckFiles(row.stub, row.uninstaller, row.script, {}, 6, &report, &error),
                  row.passed)
            << row.stub << row.uninstaller;
        EXPECT_EQ(error, row.error);
    }
}

#if defined(TESSEL_FFSPACK_PATH)
// The command's exit code, and what it printed on both outputs.
int Ffspack(const std::string &arguments, const std::string &dir, std::string *printed) {
    std::string capture = dir + "printed.txt";
    int status = std::system((std::string(TESSEL_FFSPACK_RUN TESSEL_FFSPACK_PATH) + " " +
                              arguments + " >" + capture + " 2>&1")
                                 .c_str());
    *printed = ReadFile(capture);
    return WEXITSTATUS(status);
}

TEST(CheckCommand, ExitCodeOneOnlyForErrors) {
    const std::string dir = MakeTempDir("check-command"), out = dir + "setup.exe";
    const std::string stub = Stub(dir);
    WriteFile(dir + "warned.txt", "TEXT:" + std::string(160, 't') + "\n");
    WriteFile(dir + "wrong.txt", "MESSAGE:welcome.txt\n");
    WriteFile(dir + "install.dat", "\x16TEXT:a\n");
    const std::string good = MakeTempDir("check-command-compiled");
    WriteFile(good + "install.dat", "\x16TEXT:a\r\n");
    const struct {
        std::string arguments;
        int code;
        std::string printed;
    } rows[] = {
        {"check " + dir + "warned.txt", 0,
         "warning: " + dir +
             "warned.txt:1: TEXT: argument 1 is 160 characters long: the setup "
             "keeps the first 159\n" +
             dir + "warned.txt: no errors, 1 warning\n"},
        // A compiled script is named as it was given in the summary too.
        {"check " + good + "install.dat", 0, good + "install.dat: no errors, 0 warnings\n"},
        {"check " + dir + "wrong.txt", 1,
         "error: " + dir + "wrong.txt:1: MESSAGE: the text 'welcome.txt'" + kMissing +
             "\nffspack: " + dir + "wrong.txt: 1 error in the script\n"},
        {"check " + dir + "install.dat", 1,
         "error: " + dir +
             "install.dat:1: TEXT: bare LF in column 8: the setup reads CR LF "
             "line ends and steps one byte past a command's last argument, here "
             "over the next command's marker, which then never runs\nffspack: " +
             dir + "install.dat: 1 error in the script\n"},
        {"build --stub " + stub + " -o " + out + " --script " + dir + "wrong.txt", 1,
         "error: " + dir + "wrong.txt:1: MESSAGE: the text 'welcome.txt'" + kMissing +
             "\nffspack: " + dir + "wrong.txt: 1 error in the script\n"},
        {"check", 2, "ffspack: check needs a SCRIPT\nRun 'ffspack --help' for the usage.\n"},
    };
    for (const auto &row : rows) {
        std::string printed;
        EXPECT_EQ(Ffspack(row.arguments, dir, &printed), row.code) << row.arguments;
        EXPECT_EQ(printed, row.printed);
        EXPECT_FALSE(FileExists(out));
    }
}
#endif

} // namespace
