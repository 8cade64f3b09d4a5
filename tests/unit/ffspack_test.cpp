// The ffspack command as a user meets it (host tree): its help, exit codes, and messages for bad
// input, and that a failed build leaves no output file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test-support.h"

#if defined(TESSEL_FFSPACK_PATH)

using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

struct Outcome {
    int code;
    std::string output;
};

Outcome RunFfspack(const std::string &arguments) {
    std::string command = std::string(TESSEL_FFSPACK_PATH) + " " + arguments + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    int status = pclose(pipe);
    return {WEXITSTATUS(status), output};
}

std::string Stub(const std::string &dir) {
    std::string path = dir + "stub.exe";
    WriteFile(path, std::string("MZ") + std::string(200, '.') + "|TesselStampUnwritten|" +
                        std::string(1, '\0') + std::string(100, '.'));
    return path;
}

TEST(Ffspack, HelpAndUsage) {
    Outcome help = RunFfspack("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.output.find("ffspack build --stub STUB -o SETUP"), std::string::npos);
    EXPECT_NE(help.output.find("--uninstaller FILE"), std::string::npos);
    EXPECT_EQ(RunFfspack("").code, 2);
    EXPECT_EQ(RunFfspack("frobnicate").code, 2);
    EXPECT_EQ(RunFfspack("build -o x").code, 2);
    EXPECT_EQ(RunFfspack("build --standalone -o x --uninstaller u.exe a.txt").code, 2);
}

// A script with UNINSTALL NAME: the build names the uninstaller it stored, beside the stub or
// the one --uninstaller names; with neither, or two, nothing is written.
TEST(Ffspack, BundlesTheUninstallerTheScriptNames) {
    std::string with = MakeTempDir("ffspack-with"), bare = MakeTempDir("ffspack-bare");
    std::string out = bare + "setup.exe", script = bare + "setup.txt", mine = bare + "mine.exe";
    Stub(with);
    Stub(bare);
    WriteFile(with + "uninst.exe", "MZ beside the stub");
    WriteFile(mine, "MZ named");
    WriteFile(script, "PRODUCT NAME:Rocket\nUNINSTALL NAME:$Puninst.exe\n");
    std::string build = "build -o " + out + " --script " + script + " --stub ";
    struct {
        std::string arguments;
        int code;
        std::string message;
    } rows[] = {
        {with + "stub.exe", 0,
         "bundled uninstaller: " + with + "uninst.exe\n" + out + ": 2 entries"},
        {with + "stub.exe --uninstaller " + mine, 0, "bundled uninstaller: " + mine + "\n"},
        {bare + "stub.exe", 1, "pass --uninstaller FILE or an entry uninst.exe=FILE"},
        {with + "stub.exe --uninstaller " + mine + " uninst.exe=" + mine, 1, "two uninstallers"},
    };
    for (auto &row : rows) {
        std::remove(out.c_str());
        Outcome outcome = RunFfspack(build + row.arguments);
        EXPECT_EQ(outcome.code, row.code) << row.arguments;
        EXPECT_NE(outcome.output.find(row.message), std::string::npos) << outcome.output;
        EXPECT_EQ(FileExists(out), row.code == 0) << row.arguments;
    }
}

TEST(Ffspack, BadInputFailsClearlyAndWritesNothing) {
    std::string dir = MakeTempDir("ffspack");
    std::string stub = Stub(dir), out = dir + "setup.exe";
    WriteFile(dir + "a.txt", "some text");
    WriteFile(dir + "empty.txt", "");
    WriteFile(dir + "plain.exe", std::string(300, 'M'));
    struct {
        std::string arguments;
        const char *message;
    } rows[] = {
        {"--stub " + stub + " -o " + out + " " + dir + "missing.txt", "cannot open"},
        {"--stub " + dir + "nostub.exe -o " + out + " " + dir + "a.txt", "cannot open"},
        {"--stub " + dir + "plain.exe -o " + out + " " + dir + "a.txt", "no unstamped record"},
        {"--stub " + stub + " -o " + out + " " + dir + "empty.txt", "is empty"},
        {"--stub " + stub + " -o " + out + " plumless=" + dir + "a.txt buckeroo=" + dir + "a.txt",
         "have the same hash"},
        {"--stub " + stub + " -o " + out + " " + std::string(320, 'n') + "=" + dir + "a.txt",
         "is 320 characters long"},
        {"--stub " + stub + " -o " + dir + "no/such/folder/setup.exe " + dir + "a.txt",
         "cannot write"},
    };
    for (auto &row : rows) {
        Outcome outcome = RunFfspack("build " + row.arguments);
        EXPECT_EQ(outcome.code, 1) << row.arguments;
        EXPECT_NE(outcome.output.find(row.message), std::string::npos) << outcome.output;
        EXPECT_FALSE(FileExists(out)) << row.arguments;
        EXPECT_FALSE(FileExists(out + ".part")) << row.arguments;
    }
}

TEST(Ffspack, BuildVerifyListExtract) {
    std::string dir = MakeTempDir("ffspack");
    std::string stub = Stub(dir), out = dir + "setup.exe";
    WriteFile(dir + "setup.txt", "PRODUCT NAME:Rocket\nBREAK:\n");
    WriteFile(dir + "a.txt", std::string(1000, 'a'));
    Outcome built = RunFfspack("build --stub " + stub + " -o " + out + " --script " + dir +
                               "setup.txt docs\\\\a.txt=" + dir + "a.txt");
    ASSERT_EQ(built.code, 0) << built.output;
    Outcome verified = RunFfspack("verify " + out);
    EXPECT_EQ(verified.code, 0) << verified.output;
    EXPECT_NE(verified.output.find(": OK"), std::string::npos);
    Outcome listed = RunFfspack("list " + out + " install.dat");
    EXPECT_NE(listed.output.find("install.dat"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("Type2"), std::string::npos) << listed.output;
    Outcome extracted = RunFfspack("extract " + out + " -o " + dir + "x docs\\\\a.txt");
    EXPECT_EQ(extracted.code, 0) << extracted.output;
    EXPECT_EQ(ReadFile(dir + "x/docs/a.txt"), std::string(1000, 'a'));
    std::string file = ReadFile(out);
    file[file.size() / 2] ^= 4;
    WriteFile(out, file);
    verified = RunFfspack("verify " + out);
    EXPECT_EQ(verified.code, 1);
    EXPECT_NE(verified.output.find("FILE DAMAGED"), std::string::npos) << verified.output;
}

} // namespace

#endif
