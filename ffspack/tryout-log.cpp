// The failure rule of the setup's and the uninstaller's logs, as 'ffspack test' reports them.
#include "tryout-log.h"

#include <ctype.h>
#include <string.h>

// A log line reports a failure when one of these phrases stands among its words, in any letter
// case. Names the line quotes ('C:\failed\x') and captions and titles it brackets ([...]) are
// no words; punctuation at a word's ends does not count, inside one it does (error.txt).
static const char *const kFailurePhrases[] = {
    "unable",
    "couldn't",
    "fail",
    "failed",
    "error",
    "unknown",
    "abort",
    "assert",
    "missing",
    "incompatible",
    "damaged",
    "corrupted",
    "stopped",
    "declined",
    "canceled",
    "too long",
    "too large",
    "too short",
    "out of range",
    "cut short",
    "not same",
    "bad type",
    "not all memory",
    "doesn't contain",
    "does not contain",
    "are in use",
    "at the next restart",
};

// The directory dialog's note that no earlier installation remembered its folder, as every
// first installation writes it: "Unable to open 'REGISTRY PATH'" and nothing more.
static bool IsFirstInstallNote(const std::string &line) {
    static const std::string opening = "Unable to open '";
    return line.size() > opening.size() && line.compare(0, opening.size(), opening) == 0 &&
           line.find('\'', opening.size()) == line.size() - 1;
}

bool Tryout_IsFailure(const std::string &line) {
    if (IsFirstInstallNote(line)) return false;
    // The words, lower case, each between blanks: " unable to create file ".
    std::string words = " ", word;
    auto isWordChar = [](char c) { return isalnum((uint8_t)c) || (uint8_t)c >= 0x80; };
    auto endWord = [&]() {
        size_t first = word.find_first_not_of("(\"");
        size_t last = word.find_last_not_of(":!,;.?)\"");
        if (first != std::string::npos && last != std::string::npos && first <= last)
            words += word.substr(first, last - first + 1) + " ";
        word.clear();
    };
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        size_t close = std::string::npos;
        if (c == '[') {
            close = line.find(']', i + 1);
        } else if (c == '\'' && (i == 0 || !isWordChar(line[i - 1]))) {
            for (close = line.find('\'', i + 1);
                 close != std::string::npos && close + 1 < line.size() &&
                 isWordChar(line[close + 1]);
                 close = line.find('\'', close + 1)) {
            }
        }
        if (close != std::string::npos) {
            endWord();
            i = close;
        } else if (isspace((uint8_t)c)) {
            endWord();
        } else {
            word += (char)tolower((uint8_t)c);
        }
    }
    endWord();
    for (const char *phrase : kFailurePhrases)
        if (words.find(" " + std::string(phrase) + " ") != std::string::npos) return true;
    return false;
}
