// The keyword table against the registry and the handlers: every keyword registered and found
// in any letter case, the builder's lookup agreeing with the registry's, and every text
// argument's field size and rule in the table checked at its edge by running the handler: the
// size's last fitting length passes silently, one more is cut or refused with its log line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine-support.h"
#include "keywords.h"

namespace {

class Keywords : public engine_test::EngineTest {
  protected:
    Keywords() : EngineTest("keywords-test.log") {}
};

TEST_F(Keywords, TableHoldsEveryCommandOnceAndRegistryFindsEach) {
    for (int32_t id = 0; id < KW_COUNT; id++) {
        const KeywordInfo *row = Keyword_Info(id);
        std::string lower = row->Keyword;
        for (char &c : lower)
            if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
        EXPECT_EQ(Cmd_Find(row->Keyword), 1) << row->Keyword;
        EXPECT_EQ(Cmd_Find(lower.c_str()), 1) << lower;
        EXPECT_EQ(Keyword_Find(lower.c_str()), id) << lower;
        EXPECT_LE(row->ArgCount, KEYWORD_MAX_ARGS) << row->Keyword;
        EXPECT_LT((int)std::string(row->Keyword).size(), KEYWORD_SIZE) << row->Keyword;
    }
    EXPECT_EQ(KW_COUNT, 29);
    EXPECT_EQ(Keyword_Find("INSTALL PATHS"), -1);
    EXPECT_EQ(Keyword_Find(""), -1);
}

TEST_F(Keywords, TerminatorIsEveryByteBelow32AsSigned) {
    EXPECT_EQ(Keyword_IsTerminator((char)SCRIPT_MARKER), 1);
    EXPECT_EQ(Keyword_IsTerminator('\0'), 1);
    EXPECT_EQ(Keyword_IsTerminator((char)31), 1);
    EXPECT_EQ(Keyword_IsTerminator((char)32), 0);
    EXPECT_EQ(Keyword_IsTerminator((char)127), 0);
    EXPECT_EQ(Keyword_IsTerminator((char)128), 1);
    EXPECT_EQ(Keyword_IsTerminator((char)255), 1);
}

// The argument text of a command whose argument `which` has `length` characters and whose other
// arguments are short and valid. Texts end with a backslash so that INSTALL DIR adds none.
std::string Arguments(const KeywordInfo *row, int which, int length) {
    std::string text;
    for (int i = 0; i < row->ArgCount; i++) {
        if (i > 0) text += (char)SCRIPT_MARKER;
        const KeywordArg &arg = row->Args[i];
        if (arg.Kind == ARG_NUMBER)
            text += "1";
        else if (arg.Kind == ARG_LIST)
            text += "a";
        else if (i == which)
            text += std::string((size_t)length - 1, 'A') + "\\";
        else
            text += "x\\";
    }
    return text + "\r\n";
}

TEST_F(Keywords, EveryTextArgumentIsCutOrRefusedAtTheTablesSize) {
    int checked = 0;
    for (int32_t id = 0; id < KW_COUNT; id++) {
        const KeywordInfo *row = Keyword_Info(id);
        for (int i = 0; i < row->ArgCount; i++) {
            const KeywordArg &arg = row->Args[i];
            if (arg.Kind != ARG_CUT && arg.Kind != ARG_REFUSE) continue;
            SCOPED_TRACE(std::string(row->Keyword) + " argument " + std::to_string(i + 1));
            std::string prefix = "Argument of '" + std::string(row->Keyword) + "' ";
            for (int length : {arg.Size - 1, (int)arg.Size}) {
                Load("");
                size_t before = log_.Text().size();
                std::string arguments = Arguments(row, i, length);
                int32_t cursor = 0;
                Cmd_Dispatch(row->Keyword, state_, arguments.c_str(), &cursor);
                std::string logged = log_.Text().substr(before);
                bool cut = logged.find(prefix + "cut to " + std::to_string(arg.Size - 1) +
                                       " characters\n") != std::string::npos;
                bool refused = logged.find(prefix + "too long (" + std::to_string(length)) !=
                               std::string::npos;
                if (length < arg.Size) {
                    EXPECT_FALSE(cut || refused) << length << " characters\n" << logged;
                } else {
                    EXPECT_EQ(cut, arg.Kind == ARG_CUT) << logged;
                    EXPECT_EQ(refused, arg.Kind == ARG_REFUSE) << logged;
                }
                Script_Release(&state_);
            }
            checked++;
        }
    }
    EXPECT_EQ(checked, 41); // every text argument of the table
}

} // namespace
