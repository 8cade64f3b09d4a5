// The backdrop commands as the script engine runs them: the gradient colours, the string slots
// with their numbers, flags and bounds, the font slots, and REFRESH before any window exists.
// What they paint and which fonts they add is tested with the real system (win32/backdrop_test).
#include <gtest/gtest.h>

#include <string>

#include "engine-support.h"

using engine_test::Line;

namespace {

class Backdrop : public engine_test::EngineTest {
  protected:
    Backdrop() : EngineTest("backdrop-commands-test.log") {}
    // Runs the script; its result.
    int Run(const std::string &script) {
        Load(script);
        return Script_Run(state_, nullptr);
    }
    std::string Color(const uint8_t *c) {
        return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
    }
    // A STRING line with the given slot, flags and text, the other arguments fixed.
    static std::string String(const std::string &slot, const std::string &flags,
                              const std::string &text) {
        return Line("STRING",
                    {slot, "Arial", "0.02", "0.05", "0.995", "0.1", "255,128,7", flags, text});
    }
};

TEST_F(Backdrop, GradientColoursAreBytesOfTheirCommaSeparatedValues) {
    struct Row {
        const char *argument;
        const char *expected; // the colour after "GRADIENT ...:1,2,3" and the row's argument
        bool cut;
    } rows[] = {
        {"17,21,147", "17,21,147", false},
        {"300,-1,256", "44,255,0", false}, // the low 8 bits
        {"7", "7,2,3", false},             // later bytes stay
        {" 9x,abc,12.7", "9,0,12", false}, // blanks, trailing bytes, no digits
        {"1,2,3,4", "1,2,3", true},        // the fourth value is cut
    };
    for (const auto &row : rows) {
        for (const char *keyword : {"GRADIENT START", "GRADIENT END"}) {
            ASSERT_EQ(Run(Line(keyword, {"1,2,3"}) + Line(keyword, {row.argument})), 1);
            bool start = std::string(keyword) == "GRADIENT START";
            EXPECT_EQ(Color(start ? state_->GradientStart : state_->GradientEnd), row.expected)
                << keyword << " " << row.argument;
            EXPECT_EQ(Color(start ? state_->GradientEnd : state_->GradientStart), "0,0,0");
            EXPECT_EQ(log_.Has("Colour of '" + std::string(keyword) + "' cut to 3 values\n"),
                      row.cut);
        }
    }
}

TEST_F(Backdrop, StringFillsItsSlotAndCreatesTheEmptyOnesBelow) {
    ASSERT_EQ(Run(String("3", "RIGHT,DOWN", "Rocket 2.0")), 1);
    ASSERT_EQ(state_->StringCount, 3);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(state_->Strings[i].Text[0], 0);
        EXPECT_EQ(state_->Strings[i].Flags, 0u);
        EXPECT_EQ(state_->Strings[i].X, 0.0f);
    }
    const BackdropString &s = state_->Strings[2];
    EXPECT_STREQ(s.FaceName, "Arial");
    EXPECT_EQ(s.FontWidth, 0.02f);
    EXPECT_EQ(s.FontHeight, 0.05f);
    EXPECT_EQ(s.X, 0.995f);
    EXPECT_EQ(s.Y, 0.1f);
    EXPECT_EQ(Color(s.Color), "255,128,7");
    EXPECT_EQ(s.Flags, (uint32_t)BACKDROP_RIGHT);
    EXPECT_STREQ(s.Text, "Rocket 2.0");
}

TEST_F(Backdrop, NumbersAreTheirLeadingNumericRun) {
    ASSERT_EQ(Run(Line("STRING", {"1", "Arial", "+.5px", "-0.25", "1.00", "abc", "0", "", "t"})),
              1);
    const BackdropString &s = state_->Strings[0];
    EXPECT_EQ(s.FontWidth, 0.5f);
    EXPECT_EQ(s.FontHeight, -0.25f);
    EXPECT_EQ(s.X, 1.0f);
    EXPECT_EQ(s.Y, 0.0f);
}

TEST_F(Backdrop, FlagNamesAreFoundAnywhereInTheirArgument) {
    struct Row {
        const char *flags;
        uint32_t expected;
    } rows[] = {
        {"", 0},
        {"LEFT,DOWN", 0},
        {"RIGHT,DOWN", BACKDROP_RIGHT},
        {"LEFT,UP,BOLD", BACKDROP_UP | BACKDROP_BOLD},
        {"centerx centery", BACKDROP_CENTERX | BACKDROP_CENTERY},
        {"ItalicUnderline", BACKDROP_ITALIC | BACKDROP_UNDERLINE},
        {"RIGHT|UP|CENTERX|CENTERY|ITALIC|BOLD|UNDERLINE", 0x7F},
        {"leftdown", 0},
    };
    for (const auto &row : rows) {
        ASSERT_EQ(Run(String("1", row.flags, "x")), 1);
        EXPECT_EQ(state_->Strings[0].Flags, row.expected) << row.flags;
    }
}

TEST_F(Backdrop, LaterStringRedefinesItsSlot) {
    ASSERT_EQ(Run(String("2", "BOLD", "first") + String("1", "", "one") +
                  String("2", "ITALIC", "second")),
              1);
    ASSERT_EQ(state_->StringCount, 2);
    EXPECT_STREQ(state_->Strings[0].Text, "one");
    EXPECT_STREQ(state_->Strings[1].Text, "second");
    EXPECT_EQ(state_->Strings[1].Flags, (uint32_t)BACKDROP_ITALIC);
}

TEST_F(Backdrop, SlotNumbersAboveTheLimitAreRefusedAndLeaveTheTables) {
    for (const char *number : {"1025", "99999999999", "2147483647"}) {
        ASSERT_EQ(Run(String("2", "", "kept") + String(number, "", "x")), 0) << number;
        EXPECT_EQ(state_->StringCount, 2);
        EXPECT_STREQ(state_->Strings[1].Text, "kept");
        EXPECT_TRUE(log_.Has("Slot number of 'STRING' out of range ("));
        ASSERT_EQ(Run(Line("FONT", {number, "a.ttf"})), 0);
        EXPECT_EQ(state_->FontCount, 0);
        EXPECT_TRUE(log_.Has("Slot number of 'FONT' out of range ("));
    }
    EXPECT_TRUE(log_.Has("Slot number of 'STRING' out of range (1025 > 1024)\n"));
    ASSERT_EQ(Run(String("1024", "", "last")), 1);
    EXPECT_EQ(state_->StringCount, 1024);
    EXPECT_STREQ(state_->Strings[1023].Text, "last");
}

TEST_F(Backdrop, TooLongFaceNameIsRefusedAndTooLongTextIsCut) {
    std::string face(80, 'F');
    Load(String("1", "", "kept") + Line("STRING", {"1", face, "1", "1", "1", "1", "1", "", "x"}));
    ASSERT_EQ(Script_Run(state_, nullptr), 0);
    EXPECT_STREQ(state_->Strings[0].Text, "kept");
    EXPECT_STREQ(state_->Strings[0].FaceName, "Arial");
    EXPECT_TRUE(log_.Has("Argument of 'STRING' too long (80 > 79)\n"));

    ASSERT_EQ(Run(Line("STRING", {"1", face.substr(1), "1", "1", "1", "1", "1", "", "x"})), 1);
    EXPECT_EQ(std::string(state_->Strings[0].FaceName), face.substr(1));

    std::string text(200, 't');
    ASSERT_EQ(Run(String("1", "", text)), 1);
    EXPECT_EQ(std::string(state_->Strings[0].Text), text.substr(0, 159));
    EXPECT_TRUE(log_.Has("Argument of 'STRING' cut to 159 characters\n"));
}

TEST_F(Backdrop, FontFillsItsSlotBeforeTheFileIsWritten) {
    // The host writes no font: the command fails after naming its slot.
    ASSERT_EQ(Run(Line("FONT", {"3", "title.ttf"})), 0);
    ASSERT_EQ(state_->FontCount, 3);
    EXPECT_STREQ(state_->Fonts[0], "");
    EXPECT_STREQ(state_->Fonts[2], "title.ttf");
    EXPECT_TRUE(log_.Has("Command Failed 'FONT'\n"));
    ASSERT_EQ(Run(Line("FONT", {"1", std::string(80, 'n')})), 0);
    EXPECT_EQ(state_->FontCount, 1);
    EXPECT_STREQ(state_->Fonts[0], "");
    EXPECT_TRUE(log_.Has("Argument of 'FONT' too long (80 > 79)\n"));
}

TEST_F(Backdrop, FontGivenAgainForItsSlotRemovesTheEarlierFont) {
    Load("");
    std::string first = "\x16"
                        "first.ttf\r\n",
                second = "\x16"
                         "second.ttf\r\n";
    int32_t cursor = 0;
    std::string arguments = "2" + first;
    Cmd_Dispatch("FONT", state_, arguments.c_str(), &cursor);
    EXPECT_EQ(HostUi_FontRemoveCount(), 0);
    arguments = "1" + second; // another slot: nothing removed
    Cmd_Dispatch("FONT", state_, arguments.c_str(), &cursor);
    EXPECT_EQ(HostUi_FontRemoveCount(), 0);
    arguments = "2" + second;
    Cmd_Dispatch("FONT", state_, arguments.c_str(), &cursor);
    ASSERT_EQ(HostUi_FontRemoveCount(), 1);
    std::string removed = HostUi_LastFontRemoved();
    EXPECT_EQ(removed.substr(removed.size() - 9), "first.ttf");
    EXPECT_STREQ(state_->Fonts[1], "second.ttf");
}

TEST_F(Backdrop, RefreshBeforeTheWindowExistsDoesNothing) {
    ASSERT_EQ(Run(Line("REFRESH") + Line("TEXT", {"after"})), 1);
    EXPECT_STREQ(state_->Caption, "after");
    EXPECT_FALSE(log_.Has("No backdrop window"));
}

using BackdropDeath = Backdrop;

TEST_F(BackdropDeath, SlotZeroOrBelowIsFatal) {
    EXPECT_EXIT(Run(String("0", "", "x")), ::testing::ExitedWithCode(3),
                "ABORT: Invalid string ID \\(0 / 0\\)");
    EXPECT_EXIT(Run(String("2", "", "x") + String("-1", "", "x")), ::testing::ExitedWithCode(3),
                "ABORT: Invalid string ID \\(-1 / 2\\)");
    EXPECT_EXIT(Run(Line("FONT", {"0", "a.ttf"})), ::testing::ExitedWithCode(3),
                "ABORT: Invalid string ID \\(0 / 0\\)");
}

} // namespace
