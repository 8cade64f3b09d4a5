// The script compiler of the builder: text lines to the setup's command lines, with the
// keyword checked against the setup's own keyword table, matched as the setup matches it, so
// that a script never reaches a user with a command that the setup would call corrupted.
#include "script-source.h"

#include "keywords.h"
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

bool Script_Compile(const std::string &source, const std::string &sourceName, ScriptBytes *script,
                    std::string *error) {
    script->clear();
    ScriptBytes out;
    size_t start = 0;
    for (int lineNumber = 1; start < source.size(); lineNumber++) {
        size_t end = source.find('\n', start);
        if (end == std::string::npos) end = source.size();
        std::string line = source.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string where = sourceName + ":" + std::to_string(lineNumber) + ": ";
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            *error = where + "no ':' after the keyword";
            return false;
        }
        std::string keyword = Trim(line.substr(0, colon));
        if (!KnownKeyword(keyword)) {
            *error = where + "'" + keyword + "' is not a command this setup runs";
            return false;
        }
        out.push_back(SCRIPT_MARKER);
        out.insert(out.end(), keyword.begin(), keyword.end());
        out.push_back(':');
        std::string arguments = line.substr(colon + 1);
        for (size_t i = 0; i < arguments.size(); i++) {
            unsigned char c = (unsigned char)arguments[i];
            if (c == '\\' && i + 1 < arguments.size() && arguments[i + 1] == '|') {
                out.push_back('|');
                i++;
            } else if (c == '|') {
                out.push_back(SCRIPT_MARKER);
            } else if (Keyword_IsTerminator((char)c)) {
                char text[8];
                Str_Format(text, sizeof text, "0x%02X", c);
                *error = where + "byte " + text + " in column " + std::to_string(colon + 2 + i) +
                         ": the setup takes bytes below 32 and from 128 up for the end of an "
                         "argument";
                return false;
            } else {
                out.push_back(c);
            }
        }
        out.push_back('\r');
        out.push_back('\n');
    }
    *script = std::move(out);
    return true;
}
