// The readers behind 'ffspack test' (host tree): Wine's registry files and their difference,
// shell links (one that the setup made under Wine, every cut of it, and damaged ones), the rule
// that picks a log's failure lines; and the command's refusals, which come before Wine runs.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "test-support.h"
#include "tryout-log.h"
#include "tryout-registry.h"
#include "tryout-shortcut.h"
#include "tryout.h"

using testing_support::MakeTempDir;
using testing_support::PeHeader;
using testing_support::PeHeaderBytes;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// A registry file as Wine writes it: escaped names and strings, a hex value continued over
// two lines, a key without values, CR LF line ends in one place.
const char kRegistry[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Acme\\\\Rocket] 1796731360\n"
    "#time=1dd870c06122a64\n"
    "\"Install Path\"=\"C:\\\\Program Files\\\\Rocket\\\\\"\n"
    "@=\"say \\\"hi\\\"\"\n"
    "\"Tab\\tName\"=\"one\\ntwo\"\r\n"
    "\"Accent\"=\"caf\\xe9 \\x4e2d1\"\n"
    "\"Octal\"=\"a\\0b\\033c\"\n"
    "\"Count\"=dword:0000001f\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a\n"
    "\"Multi\"=str(7):\"one\\0two\\0\\0\"\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
    "\"Cut\"=\"no end\n"
    "\n"
    "[Software\\\\Odd\\]Key] 1796731360\n"
    "\"x\"=\"y\"\n"
    "\n"
    "[Software\\\\Empty] 1796731360\n"
    "#time=1dd870c06122a64\n";

TEST(TryoutRegistry, ReadsKeysValuesAndEscapesAsWineWritesThem) {
    TryoutRegistry registry;
    ASSERT_TRUE(Tryout_ParseRegistry(kRegistry, "HKLM", &registry));
    const auto &rocket = registry["HKLM\\Software\\Acme\\Rocket"];
    struct {
        const char *name, *data, *shown;
    } rows[] = {
        {"Install Path", "\"C:\\\\Program Files\\\\Rocket\\\\\"", "C:\\Program Files\\Rocket\\"},
        {"", "\"say \\\"hi\\\"\"", "say \"hi\""},
        {"Tab\tName", "\"one\\ntwo\"", "one\ntwo"},
        {"Accent", "\"caf\\xe9 \\x4e2d1\"",
         "caf\xC3\xA9 \xE4\xB8\xAD"
         "1"}, // 4 digits at most
        {"Octal", "\"a\\0b\\033c\"",
         "a | b\x1B"
         "c"},
        {"Count", "dword:0000001f", "dword:0000001f"},
        {"Blob",
         "hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a",
         "hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a"},
        {"Multi", "str(7):\"one\\0two\\0\\0\"", "one | two"},
        {"Expand", "str(2):\"%SystemRoot%\\\\x\"", "%SystemRoot%\\x"},
    };
    for (auto &row : rows) {
        ASSERT_TRUE(rocket.count(row.name)) << row.name;
        EXPECT_EQ(rocket.at(row.name), row.data) << row.name;
        EXPECT_EQ(Tryout_ShowData(rocket.at(row.name)), row.shown) << row.name;
    }
    EXPECT_EQ(rocket.size(), 10u); // the string cut at its line's end counts as written
    EXPECT_EQ(Tryout_ShowData(rocket.at("Cut")), "\"no end");
    EXPECT_EQ(registry["HKLM\\Software\\Odd]Key"].at("x"), "\"y\"");
    EXPECT_TRUE(registry.count("HKLM\\Software\\Empty"));
    EXPECT_TRUE(registry.at("HKLM\\Software\\Empty").empty());
    EXPECT_EQ(registry.size(), 3u);

    TryoutRegistry untouched;
    EXPECT_FALSE(Tryout_ParseRegistry("REGEDIT4\n[HKEY_CURRENT_USER\\x]\n", "HKCU", &untouched));
    EXPECT_TRUE(untouched.empty());
}

TEST(TryoutFiles, WinesDeviceRecordsAreOnlyPnfFilesOfTheInfFolder) {
    EXPECT_TRUE(Tryout_IsWineFile("C:\\windows\\inf\\input.pnf"));
    EXPECT_TRUE(Tryout_IsWineFile("C:\\WINDOWS\\INF\\x.PNF"));
    EXPECT_TRUE(Tryout_IsWineFile("C:\\windows\\inf\\a.pnf")); // the shortest name
    EXPECT_FALSE(Tryout_IsWineFile("C:\\windows\\inf\\.pnf"));
    EXPECT_FALSE(Tryout_IsWineFile("C:\\windows\\inf\\input.inf"));
    EXPECT_FALSE(Tryout_IsWineFile("C:\\windows\\inf\\sub\\input.pnf"));
    EXPECT_FALSE(Tryout_IsWineFile("C:\\windows\\input.pnf"));
    EXPECT_FALSE(Tryout_IsWineFile("C:\\Program Files\\Acme\\input.pnf"));
}

TEST(TryoutRegistry, TheDifferenceNamesValuesAndEmptyKeysButNotWinesChurn) {
    const std::string display =
        "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
    const std::string disks =
        "HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E967-E325-11CE-BFC1-08002BE10318}";
    const std::string cards = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
    const std::string uninstall = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    TryoutRegistry before = {
        {"HKCU\\Software\\Kept", {{"same", "\"1\""}, {"changed", "\"old\""}, {"gone", "\"x\""}}},
        {uninstall, {}},   // an empty key that gains a subkey is still there
        {"HKCU\\Old", {}}, // an empty key removed
        {display, {{"", "\"Display adapters\""}}},
        {display + "\\0000", {{"DriverDateData", "hex:de,b3"}}},
        {disks, {{"", "\"Disk drives\""}}},
        {cards, {}},
        {cards + "Plus", {}},
        {"HKCU\\Control Panel\\Desktop", {{"UserPreferencesMask", "hex:30,00,00,80"}}},
        {"HKCU\\Control Panel\\Desktop\\WindowMetrics", {{"BorderWidth", "\"-15\""}}},
    };
    // A device that Wine's plug and play found during the run: its instance, its interface and
    // the HID class's entry.
    const std::string control = "HKLM\\System\\CurrentControlSet\\Control\\";
    const std::string wow = "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\";
    TryoutRegistry after = {
        {"HKLM\\System\\CurrentControlSet\\Enum\\HID\\VID_845E&PID_0001\\0&0000&0&0",
         {{"DeviceDesc", "\"Wine HID device\""}}},
        {control + "DeviceClasses\\{378DE44C-56EF-11D1-BC8C-00A0C91405DD}\\##?#hid#\\#",
         {{"SymbolicLink", "\"\\\\?\\hid#vid_845e\""}}},
        {control + "Class\\{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\\0003",
         {{"InfPath", "\"input.inf\""}}},
        {"HKLM\\System\\CurrentControlSet\\Enumerated", {{"x", "dword:1"}}},
        // Made empty by Wine's restart; a value in the next one is the product's.
        {wow + "RunServices", {}},
        {wow + "RunServicesOnce", {{"Tool", "\"x.exe\""}}},
        {"HKCU\\Software\\Kept", {{"same", "\"1\""}, {"changed", "\"new\""}, {"added", "dword:1"}}},
        {uninstall + "\\Acme Rocket", {{"DisplayName", "\"Acme Rocket\""}}},
        {"HKCU\\Software\\New\\Empty", {}},
        {display, {}},
        {display + "\\0000", {{"DriverDateData", "hex:5c,f9"}}},
        {disks, {}},
        // The desktop's first start: the theme, and one bit of the preferences beside a value
        // that is still reported.
        {"HKCU\\Control Panel\\Colors", {{"ActiveTitle", "\"50 150 250\""}}},
        {"HKCU\\Control Panel\\Desktop",
         {{"UserPreferencesMask", "hex:30,00,02,80"}, {"Wallpaper", "\"kestrel.bmp\""}}},
        {"HKCU\\Control Panel\\Desktop\\WindowMetrics", {{"BorderWidth", "\"1\""}}},
        {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager\\Control Panel\\Colors",
         {{"Window", "\"255 255 255\""}}},
        {"HKLM\\System\\CurrentControlSet\\Services\\winehid", {{"Start", "dword:00000003"}}},
        {"HKLM\\System\\CurrentControlSet\\Services\\winehidden", {{"Start", "dword:00000003"}}},
    };
    struct Expected {
        char kind;
        std::string key, name;
        bool isKey;
    };
    std::vector<Expected> expected = {
        {'+', "HKCU\\Control Panel\\Desktop", "Wallpaper", false},
        {'-', "HKCU\\Old", "", true},
        {'+', "HKCU\\Software\\Kept", "added", false},
        {'~', "HKCU\\Software\\Kept", "changed", false},
        {'-', "HKCU\\Software\\Kept", "gone", false},
        {'+', "HKCU\\Software\\New\\Empty", "", true},
        {'-', cards + "Plus", "", true},
        {'+', uninstall + "\\Acme Rocket", "DisplayName", false},
        {'+', wow + "RunServicesOnce", "Tool", false},
        {'-', disks, "", false},
        {'+', "HKLM\\System\\CurrentControlSet\\Enumerated", "x", false},
        {'+', "HKLM\\System\\CurrentControlSet\\Services\\winehidden", "Start", false},
    };
    std::vector<TryoutChange> changes = Tryout_DiffRegistry(before, after);
    ASSERT_EQ(changes.size(), expected.size());
    for (size_t i = 0; i < changes.size(); i++) {
        EXPECT_EQ(changes[i].kind, expected[i].kind) << i;
        EXPECT_EQ(changes[i].key, expected[i].key) << i;
        EXPECT_EQ(changes[i].name, expected[i].name) << i;
        EXPECT_EQ(changes[i].isKey, expected[i].isKey) << i;
    }
    EXPECT_EQ(changes[3].before, "\"old\"");
    EXPECT_EQ(changes[3].after, "\"new\"");
    EXPECT_TRUE(Tryout_DiffRegistry(after, after).empty());
}

typedef std::vector<std::string> Texts;

// What a link holds: its target, arguments, working folder and description; {"refused"} when it
// is not read.
Texts TextsOf(const std::string &bytes) {
    TryoutShortcut shortcut;
    if (!Tryout_ReadShortcut(bytes, &shortcut)) return {"refused"};
    return {shortcut.target, shortcut.arguments, shortcut.workingDir, shortcut.description};
}

#if defined(TESSEL_FIXTURES)
TEST(TryoutShortcut, ReadsTheLinkTheSetupMadeUnderWine) {
    // ADD ITEM:0|readme.txt||Read Me, installed into C:\Program Files\Acme\Rocket\.
    std::string link = ReadFile(TESSEL_FIXTURES "/readme.lnk");
    ASSERT_EQ(link.size(), 639u);
    EXPECT_EQ(TextsOf(link), (Texts{"C:\\Program Files\\Acme\\Rocket\\readme.txt", "",
                                    "C:\\Program Files\\Acme\\Rocket\\", "Read Me"}));
}

// The link's strings end 4 bytes before the file (its extra data's closing block): every
// shorter cut is refused and leaves the result untouched, the cut at the strings' end is read.
TEST(TryoutShortcut, EveryCutBeforeTheStringsEndIsRefused) {
    std::string link = ReadFile(TESSEL_FIXTURES "/readme.lnk");
    ASSERT_EQ(link.substr(link.size() - 4), std::string(4, '\0'));
    for (size_t cut = 0; cut <= link.size(); cut++) {
        TryoutShortcut shortcut;
        shortcut.target = "untouched";
        bool read = Tryout_ReadShortcut(link.substr(0, cut), &shortcut);
        EXPECT_EQ(read, cut >= link.size() - 4) << cut;
        EXPECT_EQ(shortcut.target,
                  read ? "C:\\Program Files\\Acme\\Rocket\\readme.txt" : "untouched")
            << cut;
    }
}

TEST(TryoutShortcut, RefusesDamagedParts) {
    const std::string link = ReadFile(TESSEL_FIXTURES "/readme.lnk");
    const size_t info = 0x4C + 2 + 0x0131; // behind the item list (its size is 0x131)
    auto with = [&](size_t at, std::string bytes) {
        std::string changed = link;
        changed.replace(at, bytes.size(), bytes);
        return changed;
    };
    struct {
        const char *label;
        std::string bytes;
        bool read;
    } rows[] = {
        {"as made", link, true},
        {"header size 0x4D", with(0, "\x4D"), false},
        {"another class", with(4, "\x02"), false},
        {"item list longer than the file", with(0x4C, "\xFF\xFF"), false},
        // The path suffix is the info's last byte (0x55), an empty string.
        {"path suffix behind the info", with(info + 24, std::string("\x56\x00", 2)), false},
        {"name longer than the file", with(info + 0x56, "\xFF"), false},
    };
    for (auto &row : rows) {
        TryoutShortcut shortcut;
        EXPECT_EQ(Tryout_ReadShortcut(row.bytes, &shortcut), row.read) << row.label;
    }
}
#endif

// The edges of the item list and the link info, in links written by hand.

// A link's header with the flags given.
std::string LinkHeader(uint8_t flags) {
    std::string link(0x4C, '\0');
    link[0] = 0x4C;
    link.replace(4, 16, std::string("\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16));
    link[0x14] = (char)flags;
    return link;
}

// A link of an item list alone whose size field says listSize, followed by bytes of its items.
std::string ItemListLink(uint16_t listSize, size_t bytes) {
    return LinkHeader(0x01) + std::string(1, (char)listSize) +
           std::string(1, (char)(listSize >> 8)) + std::string(bytes, 'i');
}

// A link of a link info alone: its size field, its header (the local path at baseAt, the suffix
// at suffixAt), "C:\a.txt" and its NUL behind the header (37 bytes in all), then a NUL outside.
std::string InfoLink(uint32_t infoSize, uint32_t baseAt, uint32_t suffixAt) {
    std::string link = LinkHeader(0x02);
    for (uint32_t word : {infoSize, 28u, 1u, 0u, baseAt, 0u, suffixAt})
        testing_support::PutWord(&link, word);
    return link + "C:\\a.txt" + std::string(2, '\0');
}

TEST(TryoutShortcut, ReadsHandMadeLinksToTheirEdges) {
    struct {
        const char *label;
        std::string bytes;
        bool read;
        const char *target;
    } rows[] = {
        {"item list ends at the file's end", ItemListLink(10, 10), true, ""},
        {"item list one byte longer", ItemListLink(11, 10), false, ""},
        {"local path, empty suffix", InfoLink(37, 28, 36), true, "C:\\a.txt"},
        {"local path and suffix", InfoLink(37, 28, 31), true, "C:\\a.txta.txt"},
        {"the path's NUL behind the info", InfoLink(36, 28, 35), false, ""},
        {"the suffix at the info's end", InfoLink(37, 28, 37), false, ""},
        {"the path at the info's end", InfoLink(37, 37, 36), false, ""},
        {"info smaller than its header", InfoLink(27, 28, 36), false, ""},
        {"info larger than the file", InfoLink(39, 28, 36), false, ""},
    };
    for (auto &row : rows) {
        TryoutShortcut shortcut;
        ASSERT_EQ(Tryout_ReadShortcut(row.bytes, &shortcut), row.read) << row.label;
        EXPECT_EQ(shortcut.target, row.target) << row.label; // untouched when refused
    }
}

// ANSI strings, as older writers write them, and no link info: the target is then the link's
// relative path.
TEST(TryoutShortcut, ReadsAnsiStringsAndFallsBackToTheRelativePath) {
    std::string link = LinkHeader(0x04 | 0x08 | 0x10 | 0x20); // name, path, folder, arguments
    for (std::string text : {"Tool", "..\\bin\\tool.exe", "C:\\Work", "-v --all"})
        link += std::string(1, (char)text.size()) + '\0' + text;
    EXPECT_EQ(TextsOf(link), (Texts{"..\\bin\\tool.exe", "-v --all", "C:\\Work", "Tool"}));
}

TEST(TryoutLog, PicksTheLinesThatReportAFailure) {
    struct {
        const char *line;
        bool failure;
    } rows[] = {
        {"Unable to create file 'C:\\Program Files\\Rocket\\readme.txt'", true},
        {"Couldn't open flat file 'C:\\x\\setup.exe'!", true},
        {"Command Failed 'INSTALL'", true},
        {"Script failed somewhere", true},
        {"FFS: Pos Fail 1a != 2b", true},
        {"[Type2] Failed to decompress", true},
        {"Error attempting to load 'x.dll' (0x0000007E)", true},
        {"Unknown script command 'FROB'", true},
        {"ABORT: Couldn't load installation script.", true},
        {"Number out of range for 'WINDOW'", true},
        {"Path 'x' too long (300 > 259)", true},
        {"Not all memory was free'd (2 / 40b)", true},
        {"In use, removed at the next restart: 'C:\\x.dll' (32)", true},
        {"Quiet: [Install problem...] Unable to create file 'C:\\x' -> OK", true},
        {"Quiet: [Install problem...] Installation script corrupted! -> OK", true},
        {"Uninstall stopped: the program is still running", true},
        {"Unable to open 'C:\\x\\notes.txt' (5)", true},
        {"Unable to open 'Software\\Hollybush' and more", true},
        // Not failures, though a name or a caption holds such a word.
        {"Install Version 1.54 (Release)", false},
        {"error.txt to C:\\Program Files\\Rocket\\error.txt [0x00000000]", false},
        {"Removed 'C:\\Program Files\\Failed Things\\unable.txt'", false},
        {"Create Item = 'Errors' : 'Unknown' ('failed.txt' / '-unable')", false},
        {"Window Match 0: [Error Console / ErrorClass]", false},
        {"Quiet: [Unknown Rocket Uninstall] Rocket was removed from your computer. -> OK", false},
        {"Maximum Memory in use (42 / 122k)", false},
        {"Cmdline '\"C:\\ffspack-test\\setup.exe\" -Quiet -debug' '-Quiet -debug'", false},
        {"Matching quick CRC's (FILE) and (FONT)", false},
        // The directory dialog's note on a first installation: no folder is remembered yet.
        {"Unable to open 'Software\\Thornfield Software\\Bramble Notes'", false},
        {"", false},
    };
    for (auto &row : rows) EXPECT_EQ(Tryout_IsFailure(row.line), row.failure) << row.line;
}

#if defined(TESSEL_FFSPACK_PATH)
// The command's exit code, and its output and error output in *output.
int Ffspack(const std::string &arguments, std::string *output) {
    static const std::string dir = MakeTempDir("tryout-command");
    int status = system(
        (TESSEL_FFSPACK_RUN TESSEL_FFSPACK_PATH " " + arguments + " >" + dir + "out 2>&1").c_str());
    *output = ReadFile(dir + "out");
    return WEXITSTATUS(status);
}

TEST(TryoutCommand, RefusesABadCommandLineAndWhatNoWineRuns) {
    std::string dir = MakeTempDir("tryout"), output;
    std::string missing = dir + "missing.exe";
    struct {
        std::string arguments;
        int code;
        const char *says;
    } rows[] = {
        {"", 2, "test needs a SETUP"},
        {"a.exe b.exe", 2, "test takes one SETUP"},
        {"a.exe --frob", 2, "unknown or incomplete option '--frob'"},
        {"a.exe --wine", 2, "unknown or incomplete option '--wine'"},
        {"a.exe --timeout", 2, "unknown or incomplete option '--timeout'"},
        {"a.exe --timeout 0", 2, "--timeout needs a number of seconds from 1 to 86400"},
        {"a.exe --timeout 86401", 2, "--timeout needs a number of seconds from 1 to 86400"},
        {"a.exe --timeout soon", 2, "--timeout needs a number of seconds from 1 to 86400"},
        {"a.exe --arch", 2, "unknown or incomplete option '--arch'"},
        {"a.exe --arch win16", 2, "--arch is win32 or win64"},
        {"a.exe --arch WIN64", 2, "--arch is win32 or win64"},
        {"a.exe --screens", 2, "unknown or incomplete option '--screens'"},
        // Accepted bounds; the setup that is not there ends the run before Wine starts.
        {missing + " --timeout 1", 1, "cannot read"},
        {missing + " --timeout 86400 --keep", 1, "cannot read"},
        {missing + " --arch win32 --vm", 1, "cannot read"},
    };
    for (auto &row : rows) {
        EXPECT_EQ(Ffspack("test " + row.arguments, &output), row.code) << row.arguments;
        EXPECT_NE(output.find(row.says), std::string::npos) << row.arguments << ": " << output;
    }
    WriteFile(dir + "text.exe", "MZ but no image");
    EXPECT_EQ(Ffspack("test " + dir + "text.exe", &output), 1);
    EXPECT_NE(output.find("is not a Windows program"), std::string::npos) << output;
    std::string arm = PeHeaderBytes(PeHeader());
    arm[64 + 4] = (char)0xC4, arm[64 + 5] = 0x01; // machine 0x1C4 (ARM Thumb-2)
    WriteFile(dir + "arm.exe", arm);
    EXPECT_EQ(Ffspack("test " + dir + "arm.exe", &output), 1);
    EXPECT_NE(output.find("made for a machine that Wine does not run here"), std::string::npos);
    std::string amd64 = PeHeaderBytes(PeHeader());
    amd64[64 + 4] = 0x64, amd64[64 + 5] = (char)0x86; // machine 0x8664
    WriteFile(dir + "amd64.exe", amd64);
    EXPECT_EQ(Ffspack("test " + dir + "amd64.exe --arch win32", &output), 1);
    EXPECT_NE(output.find("an x86-64 setup: a 32-bit prefix cannot run it"), std::string::npos)
        << output;
}

// The virtual machine's runner, played by a script that keeps what it was given: the job
// folder's command line and setup, its own arguments, and whether the folder is gone afterwards.
TEST(TryoutCommand, HandsTheSetupAndItsOptionsToTheVirtualMachine) {
    std::string dir = MakeTempDir("tryout-vm"), output;
    std::string setup = PeHeaderBytes(PeHeader()) + "the archive would follow";
    WriteFile(dir + "setup.exe", setup);
    struct {
        const char *options;
        int runnerCode, code;
        const char *jobLine, *bound, *says;
    } rows[] = {
        {"--vm --arch win64 --timeout 7", 1, 1,
         "exec /job/ffspack test /job/setup.exe --arch win64 --timeout 7", "628", ""},
        {"--vm --timeout 86400", 0, 0,
         "exec /job/ffspack test /job/setup.exe --arch win32 --timeout 86400", "346200", ""},
        {"--vm --wine \"/opt/it's/wine\"", 0, 0,
         "exec /job/ffspack test /job/setup.exe --arch win32 --timeout 300 --wine "
         "'/opt/it'\\''s/wine'",
         "1800", ""},
        {"--vm", 124, 1, "", "", "the virtual machine gave no result ("},
        {"--vm --keep", 0, 1, nullptr, "", "--keep cannot keep a prefix made inside the virtual"},
        {"--vm --screens shots", 0, 1, nullptr, "",
         "--screens runs the setup on this machine, not in the virtual machine"},
    };
    WriteFile(dir + "runner.sh", "job=$3\n"
                                 "cp \"$job/job.sh\" \"$job/setup.exe\" " +
                                     dir +
                                     "\n"
                                     "echo \"$1 $2\" >" +
                                     dir +
                                     "args\n"
                                     "cmp -s \"$job/ffspack\" /dev/null || echo copied >" +
                                     dir +
                                     "ffspack\n"
                                     "exit $(cat " +
                                     dir + "code)\n");
    setenv("TESSEL_VM_RUN", (dir + "runner.sh").c_str(), 1);
    // A temporary folder of the test's own: other try-outs on this machine make job folders too.
    const char *outerTemp = getenv("TMPDIR");
    const std::string savedTemp = outerTemp ? outerTemp : "";
    mkdir((dir + "tmp").c_str(), 0755);
    setenv("TMPDIR", (dir + "tmp").c_str(), 1);
    for (auto &row : rows) {
        remove((dir + "job.sh").c_str());
        WriteFile(dir + "code", std::to_string(row.runnerCode));
        EXPECT_EQ(Ffspack("test " + dir + "setup.exe " + row.options, &output), row.code)
            << row.options << ": " << output;
        EXPECT_NE(output.find(row.says), std::string::npos) << row.options << ": " << output;
        if (!row.jobLine) {
            EXPECT_FALSE(std::ifstream(dir + "job.sh").good()) << row.options;
            continue;
        }
        if (!*row.jobLine) continue;
        EXPECT_EQ(ReadFile(dir + "job.sh"), row.jobLine + std::string("\n")) << row.options;
        EXPECT_EQ(ReadFile(dir + "setup.exe"), setup) << row.options;
        EXPECT_EQ(ReadFile(dir + "ffspack"), "copied\n") << row.options;
        EXPECT_EQ(ReadFile(dir + "args"), "--timeout " + std::string(row.bound) + "\n")
            << row.options;
    }
    unsetenv("TESSEL_VM_RUN");
    // Every job folder is gone: none is left under the temporary folder's ffspack-vm-* names.
    EXPECT_NE(system("ls -d \"$TMPDIR\"/ffspack-vm-* >/dev/null 2>&1"), 0);
    if (outerTemp)
        setenv("TMPDIR", savedTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(TryoutCommand, AnI386SetupGoesToTheVirtualMachineOnA64BitOnlyKernel) {
    if (system("/lib/ld-linux.so.2 --help >/dev/null 2>&1") == 0)
        GTEST_SKIP() << "this kernel runs 32-bit programs";
    std::string dir = MakeTempDir("tryout-i386"), output;
    WriteFile(dir + "setup.exe", PeHeaderBytes(PeHeader())); // machine i386
    WriteFile(dir + "runner.sh", "exit 1\n");
    setenv("TESSEL_VM_RUN", (dir + "runner.sh").c_str(), 1);
    EXPECT_EQ(Ffspack("test " + dir + "setup.exe", &output), 1);
    unsetenv("TESSEL_VM_RUN");
    EXPECT_NE(output.find(": in a virtual machine (" + dir + "runner.sh)"), std::string::npos)
        << output;
    EXPECT_NE(output.find("build it again with 'ffspack build --arch x64'"), std::string::npos)
        << output;
}
#endif

} // namespace
