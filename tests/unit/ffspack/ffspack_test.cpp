// The ffspack command as a user meets it (host tree): its help, exit codes, and messages for bad
// input, the installed stubs and uninstallers it finds, and that a failed build leaves no
// output file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "ffspack-test-support.h"

#if defined(TESSEL_FFSPACK_PATH)

using namespace ffspack_test;
using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

TEST(Ffspack, HelpAndUsage) {
    Outcome help = RunFfspack("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.output.find("ffspack build [--arch x86|x64 | --stub STUB] -o SETUP"),
              std::string::npos);
    EXPECT_NE(help.output.find("--uninstaller FILE"), std::string::npos);
    EXPECT_EQ(RunFfspack("").code, 2);
    EXPECT_EQ(RunFfspack("frobnicate").code, 2);
    // The version, one line, by the option and by the command alike.
    Outcome version = RunFfspack("--version");
    EXPECT_EQ(version.code, 0);
    std::string number = version.output.substr(0, version.output.size() - 1).substr(8);
    EXPECT_EQ(version.output.substr(0, 8), "ffspack ");
    EXPECT_EQ(version.output.back(), '\n');
    EXPECT_EQ(std::count(number.begin(), number.end(), '.'), 2) << version.output;
    EXPECT_EQ(number.find_first_not_of("0123456789."), std::string::npos) << version.output;
    EXPECT_EQ(RunFfspack("version").output, version.output);
    Outcome extra = RunFfspack("--version now");
    EXPECT_EQ(extra.code, 2);
    EXPECT_NE(extra.output.find("--version takes no arguments"), std::string::npos);
    EXPECT_EQ(RunFfspack("build -o x").code, 2);
    EXPECT_EQ(RunFfspack("build --standalone -o x --uninstaller u.exe a.txt").code, 2);
    // --jobs takes 1 to 256.
    std::string dir = MakeTempDir("ffspack-jobs");
    WriteFile(dir + "a.txt", std::string(3000, 'a'));
    for (const char *jobs : {"0", "257", "-1", "two"}) {
        Outcome refused = RunFfspack("build --standalone --jobs " + std::string(jobs) + " -o " +
                                     dir + "a.ffs " + dir + "a.txt");
        EXPECT_EQ(refused.code, 2) << jobs;
        EXPECT_NE(refused.output.find("--jobs needs a number from 1 to 256"), std::string::npos);
    }
    for (const char *jobs : {"1", "256"})
        EXPECT_EQ(RunFfspack("build --standalone --jobs " + std::string(jobs) + " -o " + dir +
                             "a.ffs " + dir + "a.txt")
                      .code,
                  0)
            << jobs;
}

// Installed (bin/ffspack beside share/tessel/), the builder takes the stub and the uninstaller
// from there without --stub; without them it asks for --stub.
TEST(Ffspack, AnInstalledBuilderFindsItsStubAndUninstaller) {
    std::string prefix = MakeTempDir("ffspack-prefix");
    RunCommand("mkdir -p " + prefix + "bin " + prefix + "share/tessel && cp " +
               TESSEL_FFSPACK_PATH + " " + prefix + "bin/ffspack");
    std::string script = prefix + "setup.txt", out = prefix + "setup.exe";
    WriteFile(script, "PRODUCT NAME:Rocket\nUNINSTALL NAME:uninst.exe\n");
    std::string build = TESSEL_FFSPACK_RUN + prefix + "bin/ffspack build --no-check -o " + out +
                        " --script " + script;
    Outcome missing = RunCommand(build);
    EXPECT_EQ(missing.code, 2) << missing.output;
    EXPECT_NE(missing.output.find("../share/tessel/setup.exe"), std::string::npos);
    RunCommand("mv " + Stub(prefix) + " " + prefix + "share/tessel/setup.exe");
    WriteFile(prefix + "share/tessel/uninst.exe", "MZ installed uninstaller");
    Outcome built = RunCommand(build);
    EXPECT_EQ(built.code, 0) << built.output;
    EXPECT_NE(
        built.output.find("bundled uninstaller: " + prefix + "bin/../share/tessel/uninst.exe"),
        std::string::npos)
        << built.output;
    EXPECT_EQ(RunFfspack("verify " + out).code, 0);
}

// An installed builder carries a stub and an uninstaller of each machine type: --arch x86 (the
// default) takes share/tessel/, --arch x64 share/tessel/x64/. A --stub of the other type than
// --arch asks for, an unknown --arch, --arch for an archive and a type that is not installed
// are refused, and nothing is written.
TEST(Ffspack, ArchPicksTheInstalledStubAndUninstallerOfItsMachineType) {
    std::string prefix = MakeTempDir("ffspack-arch");
    RunCommand("mkdir -p " + prefix + "bin " + prefix + "share/tessel/x64 && cp " +
               TESSEL_FFSPACK_PATH + " " + prefix + "bin/ffspack");
    auto image = [&](const std::string &path, uint16_t machine) {
        testing_support::PeHeader header;
        std::string bytes = testing_support::PeHeaderBytes(header);
        bytes[header.newHeaderAt + 4] = (char)(machine & 0xFF);
        bytes[header.newHeaderAt + 5] = (char)(machine >> 8);
        WriteFile(prefix + path,
                  bytes + "|TesselStampUnwritten|" + std::string(1, '\0') + std::string(100, '.'));
        return prefix + path;
    };
    const std::string x86 = image("share/tessel/setup.exe", 0x14C);
    image("share/tessel/uninst.exe", 0x14C);
    std::string script = prefix + "setup.txt", out = prefix + "setup.exe";
    WriteFile(script, "PRODUCT NAME:Rocket\nUNINSTALL NAME:uninst.exe\n");
    const std::string build = TESSEL_FFSPACK_RUN + prefix + "bin/ffspack build --no-check -o " +
                              out + " --script " + script;
    const std::string installed = prefix + "bin/../share/tessel/";
    struct {
        std::string arguments;
        int code;
        std::string message;
    } before[] = {
        {"", 0, "bundled uninstaller: " + installed + "uninst.exe\n"},
        {" --arch x86", 0, "bundled uninstaller: " + installed + "uninst.exe\n"},
        {" --arch x64", 2,
         "no x64 stub is installed beside ffspack (../share/tessel/x64/setup.exe)"},
    };
    for (auto &row : before) {
        std::remove(out.c_str());
        Outcome outcome = RunCommand(build + row.arguments);
        EXPECT_EQ(outcome.code, row.code) << row.arguments << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find(row.message), std::string::npos) << outcome.output;
        EXPECT_EQ(FileExists(out), row.code == 0) << row.arguments;
    }
    const std::string x64 = image("share/tessel/x64/setup.exe", 0x8664);
    image("share/tessel/x64/uninst.exe", 0x8664);
    struct {
        std::string arguments;
        int code;
        std::string message;
    } rows[] = {
        {" --arch x64", 0, "bundled uninstaller: " + installed + "x64/uninst.exe\n"},
        {" --arch x86", 0, "bundled uninstaller: " + installed + "uninst.exe\n"},
        {" --arch x64 --stub " + x64, 0,
         "bundled uninstaller: " + prefix + "share/tessel/x64/uninst.exe\n"},
        // The x64 uninstaller beside the x64 stub, with the x86 one given: refused as today.
        {" --stub " + x64 + " --uninstaller " + installed + "uninst.exe", 1,
         "a setup carries programs of one machine type"},
        {" --arch x64 --stub " + x86, 2,
         "--stub '" + x86 + "' is not an x64 program, as --arch x64 asks: give one of the two"},
        {" --arch x86 --stub " + x64, 2,
         "--stub '" + x64 + "' is not a 32-bit x86 program, as --arch x86 asks"},
        {" --arch X64", 2, "--arch is x86 (the stub for every Windows) or x64, not 'X64'"},
        {" --arch amd64", 2, "--arch is x86 (the stub for every Windows) or x64, not 'amd64'"},
        {" --arch", 2, "unknown or incomplete option '--arch'"},
        {" --standalone --arch x64", 2, "--arch is for a setup; an archive has no stub"},
    };
    for (auto &row : rows) {
        std::remove(out.c_str());
        Outcome outcome = RunCommand(build + row.arguments);
        EXPECT_EQ(outcome.code, row.code) << row.arguments << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find(row.message), std::string::npos) << outcome.output;
        EXPECT_EQ(FileExists(out), row.code == 0) << row.arguments;
    }
    // What --arch x64 built is an x64 setup: its stub's machine type, kept through the build.
    std::remove(out.c_str());
    ASSERT_EQ(RunCommand(build + " --arch x64").code, 0);
    std::string setup = ReadFile(out);
    testing_support::PeHeader header;
    EXPECT_EQ((uint8_t)setup[header.newHeaderAt + 4] | (uint8_t)setup[header.newHeaderAt + 5] << 8,
              0x8664);
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

// A setup carries programs of one machine type: an x64 stub with a 32-bit uninstaller is
// refused, whether the uninstaller is bundled, given or an entry; programs of one type build.
TEST(Ffspack, TheStubAndTheUninstallerAreOfOneMachineType) {
    std::string dir = MakeTempDir("ffspack-machines");
    std::string out = dir + "setup.exe", script = dir + "setup.txt";
    auto image = [&](const std::string &name, uint16_t machine) {
        testing_support::PeHeader header;
        std::string bytes = testing_support::PeHeaderBytes(header);
        bytes[header.newHeaderAt + 4] = (char)(machine & 0xFF);
        bytes[header.newHeaderAt + 5] = (char)(machine >> 8);
        WriteFile(dir + name,
                  bytes + "|TesselStampUnwritten|" + std::string(1, '\0') + std::string(100, '.'));
        return dir + name;
    };
    const std::string x64 = image("x64.exe", 0x8664), x86 = image("x86.exe", 0x14C);
    WriteFile(script, "PRODUCT NAME:Rocket\nUNINSTALL NAME:uninst.exe\n");
    const std::string build = "build --no-check -o " + out + " --script " + script + " --stub ";
    const std::string refused = " is a 32-bit x86 program and the stub '" + x64 +
                                "' an x64 one: a setup carries programs of one machine type";
    struct {
        std::string arguments;
        int code;
        std::string message;
    } rows[] = {
        {x64 + " --uninstaller " + x86, 1, "the uninstaller '" + x86 + "'" + refused},
        {x64 + " uninst.exe=" + x86, 1, "the uninstaller 'uninst.exe'" + refused},
        {x64 + " --uninstaller " + x64, 0, "bundled uninstaller: " + x64},
        {x86 + " --uninstaller " + x86, 0, "bundled uninstaller: " + x86},
    };
    for (auto &row : rows) {
        std::remove(out.c_str());
        Outcome outcome = RunFfspack(build + row.arguments);
        EXPECT_EQ(outcome.code, row.code) << row.arguments << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find(row.message), std::string::npos) << outcome.output;
        EXPECT_EQ(FileExists(out), row.code == 0) << row.arguments;
    }
}

// A file too large for any setup is refused from its size, before it is read (a sparse file of
// 2 GB: reading it took minutes and gigabytes), by check and build alike.
TEST(Ffspack, AFileTooLargeIsRefusedBeforeItIsRead) {
    std::string dir = MakeTempDir("ffspack-huge"), product = dir + "product/";
    RunCommand("mkdir -p " + product + " && truncate -s 2147483648 " + product + "huge.bin");
    WriteFile(dir + "setup.txt", "PRODUCT NAME:Rocket\nFILE LIST:huge.bin\n");
    const std::string refused = "'" + product +
                                "huge.bin' is 2 GB or larger (2147483648 bytes); "
                                "an entry holds at most 2147483647 bytes";
    for (const std::string &command :
         {"check " + dir + "setup.txt --dir " + product, "build --stub " + Stub(dir) + " -o " +
                                                             dir + "setup.exe --script " + dir +
                                                             "setup.txt --dir " + product}) {
        Outcome outcome = RunFfspack(command);
        EXPECT_NE(outcome.code, 0) << command;
        EXPECT_NE(outcome.output.find(refused), std::string::npos) << outcome.output;
    }
    EXPECT_FALSE(FileExists(dir + "setup.exe"));
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

// What the folder holds is the product: a link to a file of the system refuses every command
// that reads the folder, unchecked builds too, and nothing is written.
TEST(Ffspack, ALinkOutOfTheFolderIsRefused) {
    std::string dir = MakeTempDir("ffspack-link");
    std::string stub = Stub(dir), out = dir + "setup.exe", product = dir + "product";
    RunCommand("mkdir " + product + " && ln -s /etc/passwd " + product + "/passwd");
    WriteFile(product + "/readme.txt", "read me");
    WriteFile(dir + "setup.txt", "FILE LIST:readme.txt\n");
    const std::string said = "ffspack: '" + product + "/passwd' is a link to '/etc/passwd', " +
                             "outside the folder '" + product +
                             "': not stored (copy the file into the folder)\n";
    for (const std::string &command :
         {"build --stub " + stub + " -o " + out + " --script " + dir + "setup.txt --dir " + product,
          "build --no-check --stub " + stub + " -o " + out + " --script " + dir +
              "setup.txt --dir " + product,
          "build --standalone -o " + out + " --dir " + product,
          "check " + dir + "setup.txt --dir " + product}) {
        Outcome outcome = RunFfspack(command);
        EXPECT_EQ(outcome.code, 1) << command;
        EXPECT_EQ(outcome.output, said) << command;
        EXPECT_FALSE(FileExists(out)) << command;
    }
}

// Names from the folder that no file on Windows can have, and two that differ only in letter
// case: 'check' and a checked build say so with each file's path and write nothing.
TEST(Ffspack, NamesNoFileCanHaveAreRefusedWithTheirFiles) {
    std::string dir = MakeTempDir("ffspack-names");
    std::string stub = Stub(dir), out = dir + "setup.exe", product = dir + "product/";
    RunCommand("mkdir " + product);
    for (const char *name : {"a.txt", "A.TXT", "CON.txt", "COM10", "notes."})
        WriteFile(product + name, name);
    WriteFile(dir + "setup.txt", "FILE LIST:a.txt,COM10\n");
    const std::string said =
        "error: " + product + "CON.txt: the entry 'CON.txt' is the device CON to Windows, not a " +
        "file\nerror: " + product + "A.TXT, " + product +
        "a.txt: names 'A.TXT' and 'a.txt' differ only in letter case: the setup asks for names " +
        "in any letter case, and these are one name to it; keep one of them\nerror: " + product +
        "notes.: the entry 'notes.' ends with a dot: Windows drops it\n";
    const std::string refused = "ffspack: 3 errors in the entries\n";
    const std::string build =
        "build --stub " + stub + " -o " + out + " --script " + dir + "setup.txt --dir " + product;
    for (const std::string &command : {build, "check " + dir + "setup.txt --dir " + product}) {
        Outcome outcome = RunFfspack(command);
        EXPECT_EQ(outcome.code, 1) << command;
        EXPECT_EQ(outcome.output.substr(0, said.size()), said) << command;
        EXPECT_EQ(outcome.output.rfind(refused), outcome.output.size() - refused.size());
        EXPECT_FALSE(FileExists(out)) << command;
    }
    // Unchecked, the names go to the setup as they are (two of one hash excepted).
    RunCommand("rm " + product + "A.TXT");
    Outcome unchecked = RunFfspack(build + " --no-check");
    EXPECT_EQ(unchecked.code, 0) << unchecked.output;
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
