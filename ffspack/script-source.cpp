// The script compiler of the builder: text lines to the setup's command lines, with the
// keyword checked against the setup's own keyword table, matched as the setup matches it, so
// that a script never reaches a user with a command that the setup would call corrupted.
#include "script-source.h"

#include "keywords.h"
#include "scan.h"
#include "tessel-core.h"

namespace {

std::string Trim(const std::string &text) {
    size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool KnownKeyword(const std::string &keyword) {
    return keyword.size() < KEYWORD_SIZE && Keyword_Find(keyword.c_str()) >= 0;
}

} // namespace

std::vector<ScriptLine> Script_Lines(const std::string &source) {
    std::vector<ScriptLine> lines;
    size_t start = 0;
    for (int number = 1; start < source.size(); number++) {
        size_t end = source.find('\n', start);
        if (end == std::string::npos) end = source.size();
        std::string text = source.substr(start, end - start);
        start = end + 1;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        std::string trimmed = Trim(text);
        if (!trimmed.empty() && trimmed[0] != '#') lines.push_back(ScriptLine{number, text});
    }
    return lines;
}

std::string Script_Keyword(const ScriptLine &line, int *found) {
    size_t colon = line.text.find(':');
    *found = colon != std::string::npos;
    return Trim(line.text.substr(0, colon));
}

std::vector<std::string> Script_Arguments(const ScriptLine &line) {
    std::vector<std::string> arguments;
    size_t colon = line.text.find(':');
    if (colon == std::string::npos || colon + 1 == line.text.size()) return arguments;
    const std::string text = line.text.substr(colon + 1);
    arguments.emplace_back();
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '|') {
            arguments.back().push_back('|');
            i++;
        } else if (text[i] == '|') {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(text[i]);
        }
    }
    return arguments;
}

size_t Script_BadByte(const ScriptLine &line, unsigned char *byte) {
    size_t colon = line.text.find(':');
    if (colon == std::string::npos) return 0;
    for (size_t i = colon + 1; i < line.text.size(); i++) {
        if (!Keyword_IsTerminator(line.text[i])) continue;
        *byte = (unsigned char)line.text[i];
        return i + 1;
    }
    return 0;
}

std::string Script_BadByteText(unsigned char byte, size_t column) {
    char text[8];
    Str_Format(text, sizeof text, "0x%02X", byte);
    return std::string("byte ") + text + " in column " + std::to_string(column) +
           ": the setup takes bytes below 32 and from 128 up for the end of an argument";
}

void Script_Emit(const std::string &keyword, const std::vector<std::string> &arguments,
                 ScriptBytes *script) {
    script->push_back(SCRIPT_MARKER);
    script->insert(script->end(), keyword.begin(), keyword.end());
    script->push_back(':');
    for (size_t i = 0; i < arguments.size(); i++) {
        if (i > 0) script->push_back(SCRIPT_MARKER);
        script->insert(script->end(), arguments[i].begin(), arguments[i].end());
    }
    script->push_back('\r');
    script->push_back('\n');
}

bool Script_Compile(const std::string &source, const std::string &sourceName, ScriptBytes *script,
                    std::string *error) {
    script->clear();
    ScriptBytes out;
    for (const ScriptLine &line : Script_Lines(source)) {
        std::string where = sourceName + ":" + std::to_string(line.number) + ": ";
        int found = 0;
        std::string keyword = Script_Keyword(line, &found);
        if (!found) {
            *error = where + "no ':' after the keyword";
            return false;
        }
        if (!KnownKeyword(keyword)) {
            *error = where + "'" + keyword + "' is not a command this setup runs";
            return false;
        }
        unsigned char byte = 0;
        size_t column = Script_BadByte(line, &byte);
        if (column) {
            *error = where + Script_BadByteText(byte, column);
            return false;
        }
        Script_Emit(keyword, Script_Arguments(line), &out);
    }
    *script = std::move(out);
    return true;
}

void Script_Walk(const ScriptBytes &script,
                 const std::function<bool(const ScriptCommand &)> &visit) {
    // As the setup holds it: the bytes, then the zero that ends the text.
    const std::string text(script.begin(), script.end());
    const char *start = text.c_str();
    int32_t p = 0;
    ScanCommand found;
    while (Scan_Next(start, (int32_t)text.size(), &p, &found)) {
        ScriptCommand command{found.Id, {}};
        if (command.id < 0) return;
        // Each argument up to the byte that ends it; the final zero is never stepped over.
        int32_t cursor = found.Arguments;
        for (int32_t i = 0; i < Keyword_Info(command.id)->ArgCount; i++) {
            int32_t length = Scan_ArgLength(start, cursor);
            command.arguments.push_back(text.substr(cursor, length));
            cursor += length;
            if (start[cursor] != 0) cursor++;
        }
        if (!visit(command)) return;
        p = cursor + 1;
    }
}
