// The builder's script compiler: command lines byte for byte, remarks, the '|' separator and
// its escape, and the refusals with the line they name.
#include <gtest/gtest.h>

#include <string>

#include "script-source.h"
#include "tessel-core.h"

namespace {

std::string Compile(const std::string &source, std::string *error) {
    Mem_Init(MEM_NO_LIMIT, 0);
    ScriptBytes script;
    if (!Script_Compile(source, "setup.txt", &script, error)) return "<refused>";
    return std::string(script.begin(), script.end());
}

TEST(ScriptSource, CommandLinesByteForByte) {
    struct {
        const char *source;
        const char *script;
    } rows[] = {
        {"PRODUCT NAME:Rocket\n", "\x16PRODUCT NAME:Rocket\r\n"},
        {"# remark\n\n   \r\nBREAK:\r\n", "\026BREAK:\r\n"},
        {"LISTSERVER:3|lists.example.com|news",
         "\x16LISTSERVER:3\x16lists.example.com\x16news\r\n"},
        {"TEXT:a\\|b|c\\d", "\x16TEXT:a|b\026c\\d\r\n"},
        {"  install dir :$P\\Acme\n", "\x16install dir:$P\\Acme\r\n"},
        {"", ""},
    };
    for (auto &row : rows) {
        std::string error;
        EXPECT_EQ(Compile(row.source, &error), row.script) << row.source << error;
    }
}

TEST(ScriptSource, RefusalsNameTheirLine) {
    struct {
        std::string source;
        const char *message;
    } rows[] = {
        {"BREAK:\nno colon here\n", "setup.txt:2: no ':' after the keyword"},
        {"FROBNICATE:x\n", "setup.txt:1: 'FROBNICATE' is not a command this setup runs"},
        {"TEXT:caf\xE9\n", "setup.txt:1: byte 0xE9 in column 9"},
        {"TEXT:tab\there\n", "setup.txt:1: byte 0x09 in column 9"},
        {"BREAK:\n\nTEXT:\x80", "setup.txt:3: byte 0x80"},
        {std::string(40, 'K') + ":x", "is not a command this setup runs"},
    };
    for (auto &row : rows) {
        std::string error;
        EXPECT_EQ(Compile(row.source, &error), "<refused>") << row.source;
        EXPECT_NE(error.find(row.message), std::string::npos) << error;
    }
}

} // namespace
