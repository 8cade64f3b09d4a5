// The builder's rules for names: a file's name and a path on the target machine at each edge,
// the names in a script's commands that no file can have, and the habits that the setup takes
// without a word.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check-names.h"
#include "check-test-support.h"

using namespace check_test;

namespace {

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

// A FILE LIST item that no file can have is an error on its line; a macro and the one leading
// backslash stay allowed, and an item given twice (in one letter case or two) is an error too.
TEST(Check, FileListNamesNoFileCanHaveAreErrorsOnTheirLine) {
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
        },
        false);
}

// The texts, fonts and the uninstaller that commands name keep to the same rules, in the text
// form and in a hand-made script.
TEST(Check, OtherCommandsNamesNoFileCanHaveAreErrorsOnTheirLine) {
    const std::string out = " holds '..', which leads out of its folder";
    RunTraps(
        {
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

} // namespace
