// The script's vocabulary as data: the keyword table in registration order with each
// command's arguments (field size, cut or refused, number, list), the command marker and the
// rule that ends an argument. The setup's registry, the builder's script compiler and its
// checks read it; it depends on nothing but the string utilities.
#pragma once
#include <stdint.h>

enum {
    SCRIPT_MARKER = 0x16, // starts a command and separates its arguments
    KEYWORD_SIZE = 40,    // a keyword holds at most 39 characters
    KEYWORD_MAX_ARGS = 9, // STRING's nine
};

// The commands, in the order the registry registers them.
enum KeywordId {
    KW_COMPANY_NAME,
    KW_PRODUCT_NAME,
    KW_PRODUCT_VERSION,
    KW_TEXT,
    KW_FILE_LIST,
    KW_TEMP_LIST,
    KW_GRADIENT_START,
    KW_GRADIENT_END,
    KW_FONT,
    KW_STRING,
    KW_REFRESH,
    KW_CREATE_GROUP,
    KW_ADD_ITEM,
    KW_EXECUTE,
    KW_WINDOW,
    KW_OLE,
    KW_AGREEMENT,
    KW_MESSAGE,
    KW_LISTSERVER,
    KW_BREAK,
    KW_UPDATE_URL,
    KW_INSTALL,
    KW_DONE,
    KW_REGISTRY_PATH,
    KW_INSTALL_SIZE,
    KW_INSTALL_DIR,
    KW_INSTALL_PATH,
    KW_INSTALL_NAME,
    KW_UNINSTALL_NAME,
    KW_COUNT
};

// How a command takes one argument.
enum KeywordArgKind {
    ARG_CUT,    // a text field of Size bytes: a longer argument keeps its first Size - 1 bytes
    ARG_REFUSE, // a text field of Size bytes: a longer argument fails the command (or is skipped)
    ARG_NUMBER, // a decimal number in 32 signed bits, read without a field
    ARG_LIST,   // comma-separated items, left in place in the script
};

typedef struct KeywordArg {
    int16_t Kind; // a KeywordArgKind
    int16_t Size; // field size in bytes (text kinds); 0 for numbers and lists
} KeywordArg;

typedef struct KeywordInfo {
    const char *Keyword;
    int32_t ArgCount;
    KeywordArg Args[KEYWORD_MAX_ARGS];
} KeywordInfo;

// The row of id; fatal for an id outside the table.
const KeywordInfo *Keyword_Info(int32_t id);
// The id of the command word matches as the registry matches it (length and quick CRC, so
// any letter case), or -1 when none does.
int32_t Keyword_Find(const char *word);
// 1 when the byte ends an argument: it is below 32 as a signed 8-bit number (control
// characters, the marker, and every byte of 0x80 and above).
int Keyword_IsTerminator(char byte);
