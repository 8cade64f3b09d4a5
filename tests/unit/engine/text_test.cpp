// Line joining of the dialogs' texts: which breaks become blanks, which stay, and that the
// look ahead never passes the terminating zero.
#include <gtest/gtest.h>

#include <string>

#include "text.h"

namespace {

std::string Join(std::string text) {
    Text_JoinLines(&text[0]);
    return std::string(text.c_str());
}

TEST(TextJoin, SingleBreaksBetweenPrintablesBecomeBlanks) {
    const struct {
        const char *text, *joined;
    } rows[] = {
        {"Line one\r\nline two\r\n\r\nPara two\r\nends.\r\n",
         "Line one line two\r\n\r\nPara two ends.\r\n"},
        {"a\nb\nc", "a\nb\nc"},               // bare LF: not joined
        {"a\r\n\r\n\r\nb", "a\r\n\r\n\r\nb"}, // empty lines stay
        {"a\r\r\nb", "a\r\r\nb"},             // three low characters
        {"a\t\tb", "a b"},                    // any two low characters
        {"\r\nstart", "\r\nstart"},           // nothing printable before the break
        {"end\r\n", "end\r\n"},
        {"x\r\ny\r\nz", "x y z"},
        {"", ""},
        // Letters of the system code page above 0x7F are printable: none is dropped.
        {"Gr\366\337e", "Gr\366\337e"},
        {"caf\xE9\r\n\xE0 la carte", "caf\xE9 \xE0 la carte"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Join(row.text), row.joined);
    }
}

TEST(TextJoin, NeverLooksPastTheTerminatingZero) {
    // "a", CR, the end of the text, then a byte that is not part of it.
    char text[] = {'a', '\r', 0, 'x', 0};
    EXPECT_EQ(Text_JoinLines(text), 1);
    EXPECT_STREQ(text, "a\r");
    EXPECT_EQ(text[3], 'x');
}

TEST(TextJoin, BytesAtTheEdgesOfPrintableAndBreak) {
    // 037 (0x1F) is the last line-break byte and the blank the first printable one; 0177 (0x7F)
    // and 0xFF print.
    const struct {
        const char *text, *joined;
    } rows[] = {
        {"a\037\037b", "a b"},           // the last break byte, twice
        {"a \037b", "a \037b"},          // a blank is no break
        {"a\037\037 ", "a  "},           // a blank after the break is printable
        {"\037a\r\n\177", "\037a \177"}, // DEL prints
        {"\xFF\r\n\xFF", "\xFF \xFF"},   // so does the last byte
        {"\037\r\nb", "\037\r\nb"},      // a break byte before the break
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Join(row.text), row.joined);
    }
}

} // namespace
