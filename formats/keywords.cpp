// The keyword table and the argument rule shared by the setup, its builder and the uninstaller.
#include "keywords.h"

#include "tessel-core.h"
#include "tessel-str.h"

#define TEXT_CUT(size)                                                                             \
    { ARG_CUT, size }
#define TEXT_REFUSE(size)                                                                          \
    { ARG_REFUSE, size }
#define NUMBER                                                                                     \
    { ARG_NUMBER, 0 }
#define LIST                                                                                       \
    { ARG_LIST, 0 }

// Field sizes are the commands' own fields; keywords_test runs every handler at each edge.
static const KeywordInfo KEYWORDS[KW_COUNT] = {
    {"COMPANY NAME", 1, {TEXT_REFUSE(160)}},
    {"PRODUCT NAME", 1, {TEXT_REFUSE(160)}},
    {"PRODUCT VERSION", 1, {TEXT_CUT(160)}},
    {"TEXT", 1, {TEXT_CUT(160)}},
    {"FILE LIST", 1, {LIST}},
    {"TEMP LIST", 1, {LIST}},
    {"GRADIENT START", 1, {TEXT_CUT(80)}},
    {"GRADIENT END", 1, {TEXT_CUT(80)}},
    {"FONT", 2, {NUMBER, TEXT_REFUSE(80)}},
    {"STRING",
     9,
     {NUMBER, TEXT_REFUSE(80), TEXT_CUT(80), TEXT_CUT(80), TEXT_CUT(80), TEXT_CUT(80), TEXT_CUT(80),
      TEXT_CUT(80), TEXT_CUT(160)}},
    {"REFRESH", 0, {}},
    {"CREATE GROUP", 1, {TEXT_REFUSE(160)}},
    {"ADD ITEM", 4, {NUMBER, TEXT_REFUSE(160), TEXT_REFUSE(160), TEXT_REFUSE(160)}},
    {"EXECUTE", 4, {TEXT_CUT(20), TEXT_CUT(20), TEXT_REFUSE(260), TEXT_REFUSE(320)}},
    {"WINDOW",
     6,
     {TEXT_CUT(20), NUMBER, TEXT_REFUSE(120), TEXT_REFUSE(120), TEXT_REFUSE(320), TEXT_CUT(120)}},
    {"OLE", 2, {TEXT_CUT(40), TEXT_REFUSE(260)}},
    {"AGREEMENT", 1, {TEXT_REFUSE(260)}},
    {"MESSAGE", 1, {TEXT_REFUSE(260)}},
    {"LISTSERVER", 3, {NUMBER, TEXT_CUT(160), TEXT_CUT(160)}},
    {"BREAK", 0, {}},
    {"UPDATE URL", 1, {TEXT_CUT(160)}},
    {"INSTALL", 0, {}},
    {"DONE", 1, {TEXT_CUT(320)}},
    {"REGISTRY PATH", 1, {TEXT_REFUSE(160)}},
    {"INSTALL SIZE", 1, {NUMBER}},
    {"INSTALL DIR", 1, {TEXT_REFUSE(160)}}, // the backslash that is added must fit as well
    {"INSTALL PATH", 1, {TEXT_CUT(160)}},
    {"INSTALL NAME", 1, {TEXT_CUT(160)}},
    {"UNINSTALL NAME", 1, {TEXT_REFUSE(160)}},
};

const KeywordInfo *Keyword_Info(int32_t id) {
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(id >= 0 && id < KW_COUNT, "Keyword id %d outside the table\n", (int)id);
    return &KEYWORDS[id];
}

int32_t Keyword_Find(const char *word) {
    CORE_GUARD(word);
    uint32_t crc = 0, keywordCrc = 0;
    Str_QuickCrc(word, &crc);
    int32_t length = Str_Length(word);
    for (int32_t id = 0; id < KW_COUNT; id++) {
        Str_QuickCrc(KEYWORDS[id].Keyword, &keywordCrc);
        if (Str_Length(KEYWORDS[id].Keyword) == length && keywordCrc == crc) return id;
    }
    return -1;
}

int Keyword_IsTerminator(char byte) { return (signed char)byte < 32; }
