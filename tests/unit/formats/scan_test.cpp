// The one scan of a compiled script's commands: markers found, keywords cut at their field, the
// arguments' place at the script's end, and the end of a command as its handler reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keywords.h"
#include "scan.h"

namespace {

// The script as the programs hold it: its bytes and a zero byte, in a block of exactly that
// size, so that a read past the zero byte is caught.
std::vector<char> Held(const std::string &script) {
    std::vector<char> held(script.begin(), script.end());
    held.push_back(0);
    return held;
}

TEST(Scan, FindsEachCommandAndItsArgumentsFromThePositionOn) {
    const std::string script = "junk\x16"
                               "COMPANY NAME:Hollybush\r\n\x16product name:Bramble\r\n";
    std::vector<char> held = Held(script);
    const int32_t size = (int32_t)script.size();
    int32_t position = 0;
    ScanCommand command;
    ASSERT_EQ(Scan_Next(held.data(), size, &position, &command), 1);
    EXPECT_EQ(position, 4);
    EXPECT_STREQ(command.Keyword, "COMPANY NAME");
    EXPECT_EQ(command.Id, KW_COMPANY_NAME);
    EXPECT_EQ(command.Start, 4);
    EXPECT_EQ(command.Arguments, 18);
    // Behind its one argument and the CR that ends it: the LF.
    EXPECT_EQ(Scan_End(held.data(), &command), 28);
    position = Scan_End(held.data(), &command) + 1;
    ASSERT_EQ(Scan_Next(held.data(), size, &position, &command), 1);
    EXPECT_STREQ(command.Keyword, "product name"); // any letter case
    EXPECT_EQ(command.Id, KW_PRODUCT_NAME);
    position = Scan_End(held.data(), &command) + 1;
    EXPECT_EQ(Scan_Next(held.data(), size, &position, &command), 0);
    EXPECT_EQ(position, size);
    // A position past the end counts as the end.
    position = size + 5;
    EXPECT_EQ(Scan_Next(held.data(), size, &position, &command), 0);
    EXPECT_EQ(position, size);
}

TEST(Scan, AKeywordWithoutColonAtTheEndHasTheZeroByteForArguments) {
    const std::string script = "\x16"
                               "COMPANY NAME";
    std::vector<char> held = Held(script);
    int32_t position = 0;
    ScanCommand command;
    ASSERT_EQ(Scan_Next(held.data(), (int32_t)script.size(), &position, &command), 1);
    EXPECT_STREQ(command.Keyword, "COMPANY NAME");
    EXPECT_EQ(command.Arguments, (int32_t)script.size());
    EXPECT_EQ(Scan_End(held.data(), &command), (int32_t)script.size()); // never past the zero
    EXPECT_EQ(Scan_ArgLength(held.data(), command.Arguments), 0);
}

TEST(Scan, AKeywordIsCutAtItsFieldAndAnUnknownOneEndsAtItsArguments) {
    for (int length : {KEYWORD_SIZE - 1, (int)KEYWORD_SIZE}) {
        const std::string word(length, 'K');
        const std::string script = "\x16" + word +
                                   ":a\x16"
                                   "b\r\n";
        std::vector<char> held = Held(script);
        int32_t position = 0;
        ScanCommand command;
        ASSERT_EQ(Scan_Next(held.data(), (int32_t)script.size(), &position, &command), 1);
        EXPECT_EQ(std::string(command.Keyword), word.substr(0, KEYWORD_SIZE - 1)) << length;
        EXPECT_EQ(command.Id, -1);
        // Cut: the scan stops short of the ':' and the arguments start behind the cut.
        EXPECT_EQ(command.Arguments, length == KEYWORD_SIZE - 1 ? length + 2 : KEYWORD_SIZE + 1);
        EXPECT_EQ(Scan_End(held.data(), &command), command.Arguments);
    }
}

TEST(Scan, TheEndOfACommandSkipsEachArgumentItsKeywordTakes) {
    // The first row of the table (one argument) and one of more.
    const std::string company = "\x16"
                                "COMPANY NAME:Holly\x16"
                                "extra\r\n";
    std::vector<char> held = Held(company);
    int32_t position = 0;
    ScanCommand command;
    ASSERT_EQ(Scan_Next(held.data(), (int32_t)company.size(), &position, &command), 1);
    ASSERT_EQ(command.Id, 0);
    EXPECT_EQ(Scan_End(held.data(), &command), 20); // behind "Holly" and its marker
    const KeywordInfo *item = Keyword_Info(KW_ADD_ITEM);
    std::string arguments;
    for (int i = 0; i < item->ArgCount; i++) arguments += (i ? "\x16" : "") + std::string("ab");
    const std::string add = "\x16" + std::string(item->Keyword) + ":" + arguments + "\r\n";
    held = Held(add);
    position = 0;
    ASSERT_EQ(Scan_Next(held.data(), (int32_t)add.size(), &position, &command), 1);
    EXPECT_EQ(Scan_End(held.data(), &command), (int32_t)add.size() - 1); // on the LF
}

} // namespace
