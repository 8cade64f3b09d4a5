// The builder's script checks: every trap with its exact message (script, line, keyword) and
// kind, in the text form and in a hand-made "install.dat"; the field bounds at their edges;
// the INSTALL SIZE the builder computes; and the setup's own interpreter losing the command
// after a short one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check-test-support.h"
#include "engine-support.h"
#include "script-source.h"

using namespace check_test;

namespace {

// The words of the script: a command the setup does not run, a line without its colon, a
// byte that ends an argument, and arguments too many or too few.
TEST(Check, TextFormSyntaxTrapsNameTheirLineAndKeyword) {
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
        },
        false);
}

// Each field bound at its edge: the longest text or the largest number the setup takes, and
// the first it cuts or refuses.
TEST(Check, TextFormFieldBoundsAtTheirEdges) {
    const std::string s159(159, 's'), s160(160, 's'), f259(259, 'f'), f260(260, 'f');
    RunTraps(
        {
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
        },
        false);
}

// The names the script asks the archive for against the build's entries, and the uninstaller
// the build bundles.
TEST(Check, TextFormNamesMeetTheEntries) {
    const std::string uninstall = "UNINSTALL NAME:$Pu.exe\n";
    RunTraps(
        {
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
        },
        false);
}

// The order the setup relies on: INSTALL SIZE before the uninstaller's share, the uninstall
// key's length at DONE, one BREAK, INSTALL PATH before INSTALL.
TEST(Check, TextFormOrderOfCommands) {
    const std::string company(100, 'c'), product(107, 'p');
    const std::string uninstall = "UNINSTALL NAME:$Pu.exe\n";
    RunTraps(
        {
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
        },
        false);
}

// A STRING's face: one that every Windows has, or one that a FONT of the script adds.
TEST(Check, TextFormFacesOfStrings) {
    const std::string string = "|0.1|0.1|0.5|0.5|0,0,0|BOLD|Hi\n";
    const std::string fancy = "STRING:1|Fancy" + string;
    RunTraps(
        {
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

} // namespace
