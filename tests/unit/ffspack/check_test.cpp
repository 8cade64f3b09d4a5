// The builder's script checks: every trap with its exact message (script, line, keyword) and
// kind, in the text form and in a hand-made "install.dat"; the field bounds at their edges;
// the INSTALL SIZE the builder computes; the setup's own interpreter losing the command after a
// short one; and builds and 'ffspack check' runs that find errors and write nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "engine-support.h"
#include "ffs.h"
#include "pack.h"
#include "script-source.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::RemoveFile;
using testing_support::WriteFile;

namespace {

typedef std::vector<std::pair<std::string, std::string>> Files; // archive name, bytes
typedef std::vector<std::pair<CheckKind, std::string>> Said;

const CheckKind E = CHECK_ERROR, W = CHECK_WARNING;
const std::string kEnd =
    ": the setup takes bytes below 32 and from 128 up for the end of an argument";
const std::string kMissing = " is not among the entries: the setup will not find it";
const std::string kExtra = ": the setup passes over the first extra one and takes each further "
                           "one for a command of its own";

// Checks source (the text form when handMade is false) against files; the report, and the
// compiled script in *script.
CheckReport Check(const std::string &source, const Files &files, bool handMade = false,
                  uint32_t flags = PACK_DEFAULT_FLAGS, bool bundled = true,
                  std::string *script = nullptr) {
    std::vector<std::vector<uint8_t>> data;
    data.reserve(files.size());
    CheckBuild build{{}, flags, bundled};
    for (const auto &file : files) {
        data.emplace_back(file.second.begin(), file.second.end());
        build.entries.push_back(CheckEntry{file.first, &data.back(), data.back().size(), ""});
    }
    CheckReport report;
    std::vector<uint8_t> compiled;
    if (handMade)
        Check_Script(std::vector<uint8_t>(source.begin(), source.end()), "product/install.dat",
                     build, &report);
    else
        Check_Source(source, "setup.txt", build, &compiled, &report);
    if (script) script->assign(compiled.begin(), compiled.end());
    return report;
}

// The errors and warnings of a report, in its order.
Said Findings(const CheckReport &report) {
    Said said;
    for (const CheckMessage &message : report)
        if (message.kind != CHECK_NOTE) said.push_back({message.kind, message.text});
    return said;
}

std::string Big16(uint32_t value) { return {(char)(value >> 8), (char)value}; }
std::string Big32(uint32_t value) { return Big16(value >> 16) + Big16(value & 0xFFFF); }

// A TrueType file with one table, "name", that holds the family (name 1) in UTF-16 for Windows.
std::string FontFile(const std::string &family) {
    std::string utf16;
    for (char c : family) utf16 += std::string(1, '\0') + c;
    std::string names = Big16(0) + Big16(1) + Big16(6 + 12) + Big16(3) + Big16(1) + Big16(0x409) +
                        Big16(1) + Big16((uint32_t)utf16.size()) + Big16(0) + utf16;
    return Big32(0x00010000) + Big16(1) + std::string(6, '\0') + "name" + Big32(0) +
           Big32(12 + 16) + Big32((uint32_t)names.size()) + names;
}

struct Trap {
    const char *what;
    std::string source;
    Files files;
    Said said;
    uint32_t flags = PACK_DEFAULT_FLAGS;
    bool bundled = true;
};

void RunTraps(const std::vector<Trap> &traps, bool handMade) {
    for (const Trap &trap : traps)
        EXPECT_EQ(Findings(Check(trap.source, trap.files, handMade, trap.flags, trap.bundled)),
                  trap.said)
            << trap.what;
}

TEST(Check, TextFormTrapsNameTheirLineAndKeyword) {
    const std::string s159(159, 's'), s160(160, 's'), f259(259, 'f'), f260(260, 'f');
    const std::string company(100, 'c'), product(107, 'p');
    const std::string uninstall = "UNINSTALL NAME:$Pu.exe\n";
    const std::string string = "|0.1|0.1|0.5|0.5|0,0,0|BOLD|Hi\n";
    const std::string fancy = "STRING:1|Fancy" + string;
    RunTraps(
        {
            {"unknown keyword",
             "FROB:x\n",
             {},
             {{E, "setup.txt:1: FROB: not a command this "
                  "setup runs: it stops there with "
                  "\"Installation script corrupted!\""}}},
            {"no colon",
             "BREAK:\nno colon here\n",
             {},
             {{E, "setup.txt:2: no colon here: no ':' after the keyword"}}},
            {"a byte that ends an argument",
             "TEXT:caf\xE9\n",
             {},
             {{E, "setup.txt:1: TEXT: byte 0xE9 in column 9" + kEnd}}},
            {"an extra argument",
             "TEXT:a|b\n",
             {},
             {{E, "setup.txt:1: TEXT: 2 arguments where the command takes 1" + kExtra}}},
            {"an argument for none",
             "REFRESH:now\n",
             {},
             {{E, "setup.txt:1: REFRESH: 1 argument where the command takes none" + kExtra}}},
            {"short, a command follows",
             "LISTSERVER:1|a\n# remark\n\nPRODUCT NAME:B\n",
             {},
             {{E, "setup.txt:1: LISTSERVER: 2 of its 3 arguments: the setup reads the missing "
                  "ones from the next line, steps over its marker, and the command on line 4 "
                  "never runs"}}},
            {"short at the end",
             "LISTSERVER:1|a\n",
             {},
             {{W, "setup.txt:1: LISTSERVER: 2 of its 3 arguments: the setup reads the missing "
                  "ones as empty"}}},
            {"FONT short at the end",
             "FONT:1\n",
             {},
             {{E, "setup.txt:1: FONT: 1 of its 2 arguments: the setup reads the missing ones as "
                  "empty and the command fails"}}},
            {"every argument", "LISTSERVER:1|a|b\nPRODUCT NAME:B\n", {}, {}},
            {"refused field, largest", "PRODUCT NAME:" + s159, {}, {}},
            {"refused field, smallest refused",
             "PRODUCT NAME:" + s160,
             {},
             {{E, "setup.txt:1: PRODUCT NAME: argument 1 is 160 characters long: the setup "
                  "takes at most 159 and refuses it"}}},
            {"cut field, largest", "TEXT:" + s159, {}, {}},
            {"cut field, smallest cut",
             "TEXT:" + s160,
             {},
             {{W, "setup.txt:1: TEXT: argument 1 is 160 characters long: the setup keeps the "
                  "first 159"}}},
            {"FONT's name, largest",
             "FONT:1|" + std::string(79, 'n'),
             {{std::string(79, 'n'), "not a font"}},
             {}},
            {"FONT's name, refused",
             "FONT:1|" + std::string(80, 'n'),
             {},
             {{E, "setup.txt:1: FONT: argument 2 is 80 characters long: the setup takes at most "
                  "79 and refuses it"}}},
            {"INSTALL DIR and its backslash, largest", "INSTALL DIR:" + s159.substr(1), {}, {}},
            {"INSTALL DIR and its backslash, refused",
             "INSTALL DIR:" + s159,
             {},
             {{E, "setup.txt:1: INSTALL DIR: argument 1 is 159 characters long and gets a "
                  "backslash: the setup takes at most 159 and refuses it"}}},
            {"INSTALL DIR with a backslash, largest",
             "INSTALL DIR:" + s159.substr(1) + "\\",
             {},
             {}},
            {"INSTALL DIR with a backslash, refused",
             "INSTALL DIR:" + s159 + "\\",
             {},
             {{E, "setup.txt:1: INSTALL DIR: argument 1 is 160 characters long: the setup "
                  "takes at most 159 and refuses it"}}},
            {"number, largest", "INSTALL SIZE:2147483647", {}, {}},
            {"number, smallest refused",
             "INSTALL SIZE:2147483648",
             {},
             {{E, "setup.txt:1: INSTALL SIZE: argument 1 (2147483648) lies outside 32 signed "
                  "bits: the setup refuses it"}}},
            {"negative number, smallest", "INSTALL SIZE: -2147483648", {}, {}},
            {"negative number, refused",
             "INSTALL SIZE:-2147483649",
             {},
             {{E, "setup.txt:1: INSTALL SIZE: argument 1 (-2147483649) lies outside 32 signed "
                  "bits: the setup refuses it"}}},
            {"FILE LIST item, largest", "FILE LIST:" + f259, {{f259, "f"}}, {}},
            {"FILE LIST item, refused",
             "FILE LIST:" + f260,
             {},
             {{E, "setup.txt:1: FILE LIST: item 1 is 260 characters long: INSTALL takes at most "
                  "259 and refuses it"}}},
            {"FILE LIST item missing",
             "FILE LIST:a.txt,$?$2b.dll\n",
             {{"a.txt", "a"}},
             {{E, "setup.txt:1: FILE LIST: item 2 'b.dll'" + kMissing}}},
            {"names in any letter case (flags 6)",
             "FILE LIST:README.TXT",
             {{"readme.txt", "r"}},
             {}},
            {"names as written (flags 0)",
             "FILE LIST:README.TXT",
             {{"readme.txt", "r"}},
             {{E, "setup.txt:1: FILE LIST: item 1 'README.TXT'" + kMissing},
              {W, "setup.txt: the entry 'readme.txt' is named nowhere in the script: the setup "
                  "never uses it"}},
             0},
            {"MESSAGE's text missing",
             "MESSAGE:welcome.txt",
             {},
             {{E, "setup.txt:1: MESSAGE: the text 'welcome.txt'" + kMissing}}},
            {"FONT's file missing",
             "FONT:1|fancy.ttf",
             {},
             {{E, "setup.txt:1: FONT: the font 'fancy.ttf'" + kMissing}}},
            {"no uninstaller to bundle",
             uninstall,
             {},
             {{E, "setup.txt:1: UNINSTALL NAME: 'uninst.exe' is not among the entries and the "
                  "build has none to bundle: INSTALL cannot write the uninstaller"}},
             PACK_DEFAULT_FLAGS,
             false},
            {"the uninstaller bundled", uninstall, {}, {}},
            {"the uninstaller an entry", uninstall, {{"UNINST.EXE", "MZ"}}, {}, 6, false},
            {"an entry named nowhere",
             "PRODUCT NAME:R\n",
             {{"extra.txt", "x"}, {"install.dat", "s"}, {"uninst.exe", "MZ"}},
             {{W, "setup.txt: the entry 'extra.txt' is named nowhere in the script: the setup "
                  "never uses it"}}},
            {"INSTALL SIZE after UNINSTALL NAME",
             uninstall + "INSTALL SIZE:10\n",
             {},
             {{E, "setup.txt:2: INSTALL SIZE: comes after UNINSTALL NAME (line 1), which added "
                  "the uninstaller's share to the size: this value replaces it and the share is "
                  "lost"}}},
            {"INSTALL SIZE before UNINSTALL NAME", "INSTALL SIZE:10\n" + uninstall, {}, {}},
            {"uninstall key, longest",
             "COMPANY NAME:" + company + "\nPRODUCT NAME:" + product + "\n" + uninstall +
                 "DONE:Bye\n",
             {},
             {}},
            {"uninstall key, one too long",
             "COMPANY NAME:" + company + "\nPRODUCT NAME:" + product + "p\n" + uninstall +
                 "DONE:Bye\n",
             {},
             {{E, "setup.txt:4: DONE: company and product make the uninstall key 261 characters "
                  "long, and the registry takes at most 260: DONE fails (company and product at "
                  "most 207 characters together)"}}},
            {"no uninstall key without UNINSTALL NAME",
             "COMPANY NAME:" + company + "\nPRODUCT NAME:" + product + "p\nDONE:Bye\n",
             {},
             {}},
            {"a second BREAK",
             "BREAK:\nTEXT:a\nBREAK:\n",
             {},
             {{E, "setup.txt:3: BREAK: a second BREAK (the first is on line 1): the setup's "
                  "window run stops here and never runs the rest"}}},
            {"INSTALL before INSTALL PATH",
             "INSTALL:\nINSTALL PATH:Where?\n",
             {},
             {{E, "setup.txt:1: INSTALL: no INSTALL PATH before it: the files would be installed "
                  "before an installation folder is chosen"}}},
            {"INSTALL after INSTALL PATH", "INSTALL PATH:Where?\nINSTALL:\n", {}, {}},
            {"a face no FONT adds",
             fancy,
             {},
             {{W, "setup.txt:1: STRING: the face 'Fancy' is not one that every Windows has, and "
                  "no FONT adds it: the text is drawn in a font Windows picks"}}},
            {"a system face in any letter case", "STRING:1|times new roman" + string, {}, {}},
            {"the face of a FONT", "FONT:1|f.ttf\n" + fancy, {{"f.ttf", FontFile("Fancy")}}, {}},
            {"a FONT of another face",
             "FONT:1|f.ttf\n" + fancy,
             {{"f.ttf", FontFile("Plain")}},
             {{W, "setup.txt:2: STRING: the face 'Fancy' is not one that every Windows has, and "
                  "no FONT adds it: the text is drawn in a font Windows picks"}}},
            {"a FONT whose names cannot be read",
             "FONT:1|f.fon\n" + fancy,
             {{"f.fon", "MZ bitmap font"}},
             {}},
        },
        false);
}

TEST(Check, HandMadeScriptTrapsCountLinesByCrLf) {
    RunTraps(
        {
            {"bare LF",
             "\x16TEXT:a\n\x16"
             "BREAK:\r\n",
             {},
             {{E, "product/install.dat:1: TEXT: bare LF in column 8: the setup reads CR LF line "
                  "ends and steps one byte past a command's last argument, here over the next "
                  "command's marker, which then never runs"}}},
            {"no marker at all",
             "TEXT:a\r\n",
             {},
             {{E, "product/install.dat: no command marker (byte 0x16) anywhere: the setup runs "
                  "no command"}}},
            {"a control byte",
             "\x16"
             "BREAK:\r\n\x16TEXT:ab\x01"
             "c\r\n",
             {},
             {{E, "product/install.dat:2: TEXT: byte 0x01 in column 9" + kEnd}}},
            {"a byte of 128",
             "\x16TEXT:\x80\r\n",
             {},
             {{E, "product/install.dat:1: TEXT: byte 0x80 in column 7" + kEnd}}},
            {"a bare CR",
             "\x16TEXT:a\rb\r\n",
             {},
             {{E, "product/install.dat:1: TEXT: byte 0x0D in column 8" + kEnd}}},
            {"unknown keyword, lines by CR LF",
             "\x16"
             "BREAK:\r\n\r\n\x16"
             "FROB:x\r\n",
             {},
             {{E, "product/install.dat:3: FROB: not a command this setup runs: it stops there "
                  "with \"Installation script corrupted!\""}}},
            {"extra arguments",
             "\x16TEXT:a\x16"
             "b\x16"
             "c\r\n",
             {},
             {{E, "product/install.dat:1: TEXT: 3 arguments where the command takes 1" + kExtra}}},
            {"a clean script",
             engine_test::Line("FILE LIST", {"a.txt"}) + engine_test::Line("INSTALL PATH", {"?"}) +
                 engine_test::Line("INSTALL"),
             {{"a.txt", "a"}},
             {}},
        },
        true);
}

// Each rule of a file's name at its edge: the last name it lets through and the first it
// refuses, as the finding words it.
TEST(Check, NameRulesAtTheirEdges) {
    const std::string kOut = "leads out of its folder", kDrive = "names a drive: a name lies "
                                                                 "inside its folder";
    const std::string kRoot = ": a name lies inside its folder, with at most one leading "
                              "backslash (which the setup steps over)";
    const struct {
        std::string name, fault; // "" when the name is accepted
    } rows[] = {
        {"a.txt", ""},
        {"docs\\readme.txt", ""},
        {"", ""}, // an empty name is the entries' business
        {"a\x1F"
         "b",
         "holds the control character 0x1F"},
        {"a b", ""},
        {"a~b", ""},
        {"a\x7F"
         "b",
         "holds the control character 0x7F"},
        {std::string("a\0b", 3), "holds the control character 0x00"},
        {"\\c.dll", ""}, // the backslash the setup steps over
        {"\\\\c.dll", "begins with '\\\\'" + kRoot},
        {"/c.dll", "begins with '/'" + kRoot},
        {"\\/c.dll", "begins with '\\/'" + kRoot},
        {"..", kOut},
        {"..\\..\\etc\\passwd", "holds '..', which " + kOut},
        {"docs\\..\\..\\x", "holds '..', which " + kOut},
        {"docs/../x", "holds '..', which " + kOut},
        {"..a", ""},
        {"a..b", ""},
        {"...", "ends with a dot: Windows drops it"},
        {"C:\\x.exe", "holds 'C:', which " + kDrive},
        {"a:x.exe", kDrive},
        {"Z:x.exe", kDrive},
        {"@:x.exe", ""}, // the bytes on either side of the letters
        {"[:x.exe", ""},
        {"docs\\z:", "holds 'z:', which " + kDrive},
        {"1:x", ""},
        {"CON", "is the device CON to Windows, not a file"},
        {"con", "is the device CON to Windows, not a file"},
        {"CON.txt", "is the device CON to Windows, not a file"},
        {"Con.tar.gz", "is the device CON to Windows, not a file"},
        {"CON .txt", "is the device CON to Windows, not a file"},
        {"CONSOLE", ""},
        {"CONX.txt", ""},
        {"XCON", ""},
        {"docs\\NUL.txt\\a", "holds 'NUL.txt', which is the device NUL to Windows, not a file"},
        {"PRN", "is the device PRN to Windows, not a file"},
        {"aux.h", "is the device AUX to Windows, not a file"},
        {"CONIN$", "is the device CONIN$ to Windows, not a file"},
        {"conout$.log", "is the device CONOUT$ to Windows, not a file"},
        {"COM", ""},
        {"COM0", ""},
        {"COM1", "is the device COM1 to Windows, not a file"},
        {"com9.txt", "is the device COM9 to Windows, not a file"},
        {"COM10", ""},
        {"LPT0", ""},
        {"LPT1", "is the device LPT1 to Windows, not a file"},
        {"LPT9", "is the device LPT9 to Windows, not a file"},
        {"LPT10", ""},
        {"a.", "ends with a dot: Windows drops it"},
        {"a ", "ends with a blank: Windows drops it"},
        {"a .txt", ""},
        {".profile", ""},
        {"docs.\\a.txt", "holds 'docs.', which ends with a dot: Windows drops it"},
        {"docs \\a.txt", "holds 'docs ', which ends with a blank: Windows drops it"},
    };
    for (const auto &row : rows) EXPECT_EQ(Check_NameFault(row.name), row.fault) << row.name;
}

// A path on the target machine: macros first, then a name; a drive only at its very start.
TEST(Check, PathRulesAfterTheMacros) {
    const struct {
        std::string path, fault;
    } rows[] = {
        {"uninst.exe", ""},
        {"$Puninst.exe", ""},
        {"$3\\uninst.exe", ""},
        {"C:\\Tools\\uninst.exe", ""},
        {"C:uninst.exe", ""},
        {"$1C:\\uninst.exe", "holds 'C:', which names a drive: a name lies inside its folder"},
        {"C:\\..\\uninst.exe", "holds '..', which leads out of its folder"},
        {"$3..\\uninst.exe", "holds '..', which leads out of its folder"},
        {"$?$1nul", "is the device NUL to Windows, not a file"},
        {"bin.\\uninst.exe", "holds 'bin.', which ends with a dot: Windows drops it"},
    };
    for (const auto &row : rows) EXPECT_EQ(Check_PathFault(row.path), row.fault) << row.path;
}

TEST(Check, NamesNoFileCanHaveAreErrorsOnTheirLine) {
    const std::string out = " holds '..', which leads out of its folder";
    const std::string drive = " holds 'C:', which names a drive: a name lies inside its folder";
    RunTraps(
        {
            {"a macro, a backslash, a name", "FILE LIST:$?$2\\c.dll", {{"\\c.dll", "c"}}, {}},
            {"a macro, a name", "FILE LIST:$2c.dll", {{"c.dll", "c"}}, {}},
            {"out of the folder",
             "# product\nFILE LIST:a.txt,..\\x.dll\n",
             {{"a.txt", "a"}},
             {{E, "setup.txt:2: FILE LIST: item 2 '..\\x.dll'" + out}}},
            {"out of a macro's folder",
             "FILE LIST:$1..\\win.ini",
             {},
             {{E, "setup.txt:1: FILE LIST: item 1 '..\\win.ini'" + out}}},
            {"a drive",
             "FILE LIST:C:\\Tools\\x.exe",
             {{"C:\\Tools\\x.exe", "x"}},
             {{E, "setup.txt:1: FILE LIST: item 1 'C:\\Tools\\x.exe'" + drive}}},
            {"a drive behind a macro",
             "FILE LIST:$?C:\\x.exe",
             {},
             {{E, "setup.txt:1: FILE LIST: item 1 'C:\\x.exe'" + drive}}},
            {"devices",
             "FILE LIST:COM9,COM10,$1CON.txt",
             {{"COM10", "c"}},
             {{E, "setup.txt:1: FILE LIST: item 1 'COM9' is the device COM9 to Windows, not a "
                  "file"},
              {E, "setup.txt:1: FILE LIST: item 3 'CON.txt' is the device CON to Windows, not a "
                  "file"}}},
            {"a control character",
             "FILE LIST:a\x7F",
             {},
             {{E, "setup.txt:1: FILE LIST: item 1 'a\\x7F' holds the control character 0x7F"}}},
            {"a trailing dot",
             "FILE LIST:a.",
             {},
             {{E, "setup.txt:1: FILE LIST: item 1 'a.' ends with a dot: Windows drops it"}}},
            {"a blank inside", "FILE LIST:a .txt", {{"a .txt", "a"}}, {}},
            {"one file in two letter cases",
             "FILE LIST:a.txt,b.txt,A.TXT",
             {{"a.txt", "a"}, {"b.txt", "b"}},
             {{E, "setup.txt:1: FILE LIST: item 3 'A.TXT' and item 1 'a.txt' differ only in "
                  "letter case: one file to the setup and to Windows, which INSTALL would write "
                  "twice"}}},
            {"one file twice",
             "FILE LIST:a.txt,a.txt",
             {{"a.txt", "a"}},
             {{E, "setup.txt:1: FILE LIST: item 2 'a.txt' is item 1 again, which INSTALL would "
                  "write twice"}}},
            {"one entry into two folders", "FILE LIST:$1a.dll,$2A.DLL", {{"a.dll", "a"}}, {}},
            {"a device for a text",
             "MESSAGE:nul",
             {},
             {{E, "setup.txt:1: MESSAGE: the text 'nul' is the device NUL to Windows, not a "
                  "file"}}},
            {"a trailing dot in a text's folder",
             "AGREEMENT:docs.\\licence.txt",
             {},
             {{E, "setup.txt:1: AGREEMENT: the text 'docs.\\licence.txt' holds 'docs.', which "
                  "ends with a dot: Windows drops it"}}},
            {"a font out of the temporary folder",
             "FONT:1|..\\Fonts\\f.ttf",
             {{"..\\Fonts\\f.ttf", "f"}},
             {{E, "setup.txt:1: FONT: the font '..\\Fonts\\f.ttf'" + out}}},
            {"the uninstaller on a drive", "UNINSTALL NAME:C:\\Tools\\uninst.exe", {}, {}},
            {"the install record's place",
             "UNINSTALL NAME:bin\\remove.exe\nFILE LIST:a.txt,$?BIN\\Remove.dat,bin\\remove.da",
             {{"a.txt", "a"}, {"BIN\\Remove.dat", "r"}, {"bin\\remove.da", "d"}},
             {{E, "setup.txt:2: FILE LIST: item 2 'BIN\\Remove.dat' is where INSTALL keeps its "
                  "install record beside the uninstaller 'bin\\remove.exe': give the file "
                  "another name"}}},
            {"the uninstaller out of a macro's folder",
             "UNINSTALL NAME:$3..\\uninst.exe",
             {},
             {{E, "setup.txt:1: UNINSTALL NAME: the path '$3..\\uninst.exe'" + out}}},
        },
        false);
    RunTraps({{"out of the folder, hand-made",
               "\x16"
               "BREAK:\r\n\x16"
               "FILE LIST:..\\x.dll\r\n",
               {},
               {{E, "product/install.dat:2: FILE LIST: item 1 '..\\x.dll'" + out},
                {W, "product/install.dat:2: FILE LIST: no INSTALL in the script: the files of "
                    "FILE LIST are never installed"}}}},
             true);
}

// What a publisher writes without meaning it: each finding on its line, with the fix.
TEST(Check, HabitsThatTheSetupTakesWithoutAWord) {
    const std::string kept = " with a blank, which the setup keeps: it becomes part of the name on "
                             "the user's machine (write '";
    const std::string whole = "INSTALL PATH:x\nINSTALL:\n";
    RunTraps(
        {
            {"an uninstaller without DONE",
             "UNINSTALL NAME:uninst.exe\n" + whole,
             {},
             {{W, "setup.txt:1: UNINSTALL NAME: no DONE in the script: INSTALL writes the "
                  "uninstaller, but no uninstall entry points at it and Programs and Features "
                  "does not list the product (end the script with DONE)"}}},
            {"an uninstaller with DONE",
             "UNINSTALL NAME:uninst.exe\n" + whole + "DONE:x\n",
             {},
             {}},
            {"a list without INSTALL",
             "FILE LIST:a.txt\nINSTALL PATH:x\nDONE:x\n",
             {{"a.txt", "a"}},
             {{W, "setup.txt:1: FILE LIST: no INSTALL in the script: the files of FILE LIST are "
                  "never installed"}}},
            {"blanks around names",
             "COMPANY NAME: Hollybush Software\nINSTALL DIR:Hollybush\\Bramble Notes \n"
             "PRODUCT NAME:Bramble Notes\nFILE LIST:a.txt, b.txt\n",
             {{"a.txt", "a"}, {" b.txt", "b"}},
             {{E, "setup.txt:1: COMPANY NAME: argument 1 ' Hollybush Software' begins" + kept +
                      "Hollybush Software')"},
              {E, "setup.txt:2: INSTALL DIR: argument 1 'Hollybush\\Bramble Notes ' ends" + kept +
                      "Hollybush\\Bramble Notes')"},
              {E, "setup.txt:4: FILE LIST: item 2 ' b.txt' begins" + kept +
                      "b.txt'; items are separated by ',' alone)"}}},
            {"a blank at a list item's end, said once",
             "FILE LIST:a.txt \n",
             {},
             {{E, "setup.txt:1: FILE LIST: item 1 'a.txt ' ends with a blank: Windows drops it"}}},
            {"the uninstaller listed",
             "UNINSTALL NAME:bin\\uninst.exe\nFILE LIST:a.txt,$?BIN\\UNINST.EXE\n" + whole +
                 "DONE:x\n",
             {{"a.txt", "a"}, {"BIN\\UNINST.EXE", "u"}},
             {{W, "setup.txt:2: FILE LIST: item 2 '$?BIN\\UNINST.EXE' is the uninstaller, which "
                  "INSTALL writes with the script behind it: leave it out of FILE LIST"}}},
            {"a shortcut to nothing",
             "FILE LIST:a.exe\nUNINSTALL NAME:u.exe\n" + whole +
                 "ADD ITEM:0|A.EXE||A\nADD ITEM:0|u.exe||U\nADD ITEM:0|b.exe||B\n"
                 "ADD ITEM:0|$1notepad.exe||N\nADD ITEM:0|C:\\x.exe||X\nDONE:x\n",
             {{"a.exe", "a"}},
             {{W, "setup.txt:7: ADD ITEM: the target 'b.exe' is no FILE LIST item nor the "
                  "uninstaller: the shortcut points at a file the setup does not install"}}},
            {"colours",
             "GRADIENT START:20;80;40\nGRADIENT END:1, 2 ,3\nGRADIENT START:1,2\n"
             "GRADIENT END:1,2,3,4\nGRADIENT START:1,2,x\n",
             {},
             {{W, "setup.txt:1: GRADIENT START: '20;80;40' is not three numbers separated by ',' "
                  "(red,green,blue, 0 to 255 each): the setup reads another colour"},
              {W, "setup.txt:3: GRADIENT START: '1,2' is not three numbers separated by ',' "
                  "(red,green,blue, 0 to 255 each): the setup reads another colour"},
              {W, "setup.txt:5: GRADIENT START: '1,2,x' is not three numbers separated by ',' "
                  "(red,green,blue, 0 to 255 each): the setup reads another colour"}}},
            {"numbers with text behind them",
             "WINDOW:0|5s|T|C||P\nINSTALL SIZE:10KB\nINSTALL SIZE: -7\nINSTALL SIZE:kb\n"
             "INSTALL SIZE:+12\n",
             {},
             {{W, "setup.txt:1: WINDOW: argument 2 '5s' is no plain number: the setup reads 5 "
                  "and passes over 's'"},
              {W, "setup.txt:2: INSTALL SIZE: argument 1 '10KB' is no plain number: the setup "
                  "reads 10 and passes over 'KB'"},
              {W, "setup.txt:4: INSTALL SIZE: argument 1 'kb' is no plain number: the setup "
                  "reads 0 and passes over 'kb'"}}},
            {"a forward slash",
             "MESSAGE:docs/readme.txt\n",
             {{"docs\\readme.txt", "r"}},
             {{E, "setup.txt:1: MESSAGE: the text 'docs/readme.txt' is not among the entries: the "
                  "setup will not find it (did you mean 'docs\\readme.txt'?)"},
              {W, "setup.txt: the entry 'docs\\readme.txt' is named nowhere in the script: the "
                  "setup never uses it"}}},
        },
        false);
}

// A script that a Windows editor saved with its byte-order mark reads as without it.
TEST(Check, AByteOrderMarkIsSkippedWithANote) {
    std::string script;
    CheckReport report = Check("\xEF\xBB\xBF# remark\nPRODUCT NAME:Rocket\n", {}, false,
                               PACK_DEFAULT_FLAGS, true, &script);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].kind, CHECK_NOTE);
    EXPECT_EQ(report[0].text, "setup.txt:1: the UTF-8 byte-order mark at the start is skipped");
    EXPECT_EQ(script, "\x16PRODUCT NAME:Rocket\r\n");
    EXPECT_EQ(Findings(Check("\xEF\xBB\xBFPRODUCT NAME:Rocket\n", {})), Said{});
}

TEST(Check, KiloBytesRoundUp) {
    const struct {
        uint64_t bytes, kb;
    } rows[] = {{0, 0}, {1, 1}, {1023, 1}, {1024, 1}, {1025, 2}, {2048, 2}, {2049, 3}};
    for (const auto &row : rows) EXPECT_EQ(Check_KiloBytes(row.bytes), row.kb) << row.bytes;
}

// The compiled script starts with INSTALL SIZE, ahead of the UNINSTALL NAME that adds the
// uninstaller's share to it and the INSTALL PATH that shows it.
TEST(Check, TheTextFormWithoutInstallSizeGetsTheFileListsSizeFirst) {
    const std::string a(1000, 'a'), b(25, 'b'), k(1024, 'k');
    const std::string tail = "FILE LIST:a.txt,b.txt\nUNINSTALL NAME:$Pu.exe\n";
    const struct {
        std::string source;
        Files files;
        std::string size, note; // "" when the script is compiled as it is
    } rows[] = {
        {tail,
         {{"a.txt", a}, {"b.txt", b}},
         "2",
         "setup.txt:1: INSTALL SIZE: 2 KB computed from the FILE LIST files (1025 bytes, rounded "
         "up): the compiled script starts with INSTALL SIZE:2"},
        {"# remark\nFILE LIST:k.txt\nFILE LIST:K.TXT\n",
         {{"k.txt", k}},
         "1",
         "setup.txt:2: INSTALL SIZE: 1 KB computed from the FILE LIST files (1024 bytes, rounded "
         "up): the compiled script starts with INSTALL SIZE:1"},
        {"INSTALL SIZE:7\n" + tail, {{"a.txt", a}, {"b.txt", b}}, "", ""},
        {"PRODUCT NAME:R\n", {}, "", ""},
    };
    for (const auto &row : rows) {
        std::string script, error;
        CheckReport report = Check(row.source, row.files, false, 6, true, &script);
        ScriptBytes plain;
        ASSERT_TRUE(Script_Compile(row.source, "setup.txt", &plain, &error)) << error;
        std::string expected = std::string(plain.begin(), plain.end());
        if (!row.size.empty()) expected = "\x16INSTALL SIZE:" + row.size + "\r\n" + expected;
        EXPECT_EQ(script, expected) << row.source;
        std::vector<std::string> notes;
        for (const CheckMessage &message : report)
            if (message.kind == CHECK_NOTE) notes.push_back(message.text);
        EXPECT_EQ(notes, row.note.empty() ? std::vector<std::string>() : std::vector{row.note});
    }
    std::string script;
    Check("FILE LIST:a.txt\n", {}, false, 6, true, &script);
    EXPECT_EQ(script, "") << "a script with errors is not compiled";
}

// The reason a short command is an error when another follows: the setup's own interpreter
// reads the missing argument from the next line and steps over its marker.
class ShortCommand : public engine_test::EngineTest {
  protected:
    ShortCommand() : EngineTest("check-test.log") {}
};

TEST_F(ShortCommand, TheSetupLosesTheCommandAfterIt) {
    const struct {
        std::string listServer, product;
    } rows[] = {{"LISTSERVER:1|a|b\n", "B"}, {"LISTSERVER:1|a\n", ""}};
    for (const auto &row : rows) {
        ScriptBytes script;
        std::string error;
        ASSERT_TRUE(Script_Compile(row.listServer + "PRODUCT NAME:B\n", "s", &script, &error));
        Load(std::string(script.begin(), script.end()));
        EXPECT_EQ(Script_Run(state_, nullptr), 1);
        EXPECT_STREQ(state_->ProductName, row.product.c_str()) << row.listServer;
    }
}

// ---- Builds ----

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

// The entries' names keep to the same rules, each finding named by the file it comes from, and
// two entries that are one name to the setup are an error of the check too. Unchecked, the
// setup gets them as they are (the tests of its own guards need that).
TEST(CheckBuild, EntryNamesNoFileCanHaveRefuseCheckAndBuild) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("check-names"), out = dir + "setup.exe";
    const std::string stub = Stub(dir), script = dir + "setup.txt", bad = dir + "bad.txt";
    const std::string a = dir + "a.txt", b = dir + "b.txt";
    WriteFile(script, "FILE LIST:$2\\c.dll\n");
    WriteFile(bad, "FILE LIST:$2\\c.dll\nFROB:x\n");
    WriteFile(a, "a");
    WriteFile(b, "b");
    char hash[16];
    snprintf(hash, sizeof hash, "%08X", Ffs_HashNameFlags("plumless", 6));
    const std::string kCase = "differ only in letter case: the setup asks for names in any "
                              "letter case, and these are one name to it; keep one of them";
    const struct {
        std::string what, script;
        std::vector<PackSource> sources;
        uint32_t flags;
        std::vector<std::string> found; // the errors the check finds
        std::string error;              // the refusal; "" for none
        bool unchecked;                 // an unchecked build is made
    } rows[] = {
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
         {b + ": the entry 'docs\\CON.txt' holds 'CON.txt', which is the device CON to Windows, "
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
         {a + ", " + b + ": names 'plumless' and 'buckeroo' have the same hash (0x" + hash +
          "); rename one of them"},
         "1 error in the entries",
         false},
        {"one name twice",
         script,
         {{"\\c.dll", a}, {"\\c.dll", b}},
         6,
         {a + ", " + b + ": '\\c.dll' is listed twice"},
         "1 error in the entries",
         false},
    };
    for (const auto &row : rows) {
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
        RemoveFile(out);
        CheckReport report;
        std::string bundled, built;
        PackNotes notes;
        EXPECT_EQ(Pack_BuildFiles(stub, "", row.script, row.sources, row.flags, out, &bundled,
                                  &built, &notes, &report),
                  row.error.empty())
            << row.what;
        EXPECT_EQ(built, row.error) << row.what;
        EXPECT_EQ(report.size(), checked.size()) << row.what;
        EXPECT_EQ(FileExists(out), row.error.empty()) << row.what;
        if (row.script == bad) continue; // the script itself cannot run
        RemoveFile(out);
        EXPECT_EQ(Pack_BuildFiles(stub, "", row.script, row.sources, row.flags, out, &bundled,
                                  &built, &notes, nullptr),
                  row.unchecked)
            << row.what << ": " << built;
    }
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
