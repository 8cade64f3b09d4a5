// The script checks: the script is read into its commands (the text form by its lines, a
// compiled one by its markers and CR LF line ends), then one walk in script order holds each
// command against the keyword table, the build's entries and what came before it, as the
// setup's readers (command.cpp, settings.cpp) and its interpreter (iscript.cpp) take them.
#include "check.h"

#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "check-fonts.h"
#include "check-habits.h"
#include "check-names.h"
#include "ffs.h"
#include "filelist.h"
#include "keywords.h"
#include "script-source.h"
#include "uninst.h"

namespace {

// One command as the setup reads it.
typedef struct Command {
    int line;                           // the line its marker is on
    std::string keyword;                // as written
    int32_t id;                         // a KeywordId, -1 for a command the setup does not run
    std::vector<std::string> arguments; // none when nothing follows the ':'
} Command;

// The faces the script's FONT commands add, read from their files' name tables.
typedef struct Faces {
    std::set<std::string> names; // upper case: Windows matches faces in any letter case
    bool any;                    // a font file whose names cannot be read: any face may be it
} Faces;

// What the walk has seen so far, as the setup's state would hold it.
typedef struct Walk {
    int uninstallLine, installPathLine, breakLine;
    bool sizeGiven;
    std::string company, product;
    std::map<uint32_t, uint64_t> installed; // FILE LIST entries: hash, size
} Walk;

typedef struct Checker {
    std::string name; // the script, as the messages name it
    const CheckBuild *build;
    CheckReport *report;
    std::map<uint32_t, const CheckEntry *> entries; // by the hash the archive stores
    std::set<uint32_t> named;                       // hashes the script asks for
    size_t errors;
} Checker;

void Say(Checker *c, CheckKind kind, const std::string &where, const std::string &text) {
    c->report->push_back(CheckMessage{kind, where + text});
    if (kind == CHECK_ERROR) c->errors++;
}

void SayAt(Checker *c, CheckKind kind, int line, const std::string &keyword,
           const std::string &text) {
    Say(c, kind, c->name + ":" + std::to_string(line) + ": " + keyword + ": ", text);
}

void SayOn(Checker *c, CheckKind kind, const Command &command, const std::string &text) {
    const std::string keyword =
        command.id >= 0 ? Keyword_Info(command.id)->Keyword : command.keyword;
    SayAt(c, kind, command.line, keyword, text);
}

uint32_t Hash(const Checker *c, const std::string &name) {
    return Ffs_HashNameFlags(name.c_str(), c->build->flags);
}

int32_t FindKeyword(const std::string &keyword) {
    return keyword.size() < KEYWORD_SIZE ? Keyword_Find(keyword.c_str()) : -1;
}

// ---- Reading the script ----

std::vector<Command> ReadSource(Checker *c, const std::string &source) {
    std::vector<Command> commands;
    for (const ScriptLine &line : Script_Lines(source)) {
        int found = 0;
        std::string keyword = Script_Keyword(line, &found);
        if (!found) {
            SayAt(c, CHECK_ERROR, line.number, keyword, "no ':' after the keyword");
            continue;
        }
        unsigned char byte = 0;
        size_t column = Script_BadByte(line, &byte);
        if (column) SayAt(c, CHECK_ERROR, line.number, keyword, Script_BadByteText(byte, column));
        commands.push_back(
            Command{line.number, keyword, FindKeyword(keyword), Script_Arguments(line)});
    }
    return commands;
}

// The command that starts at the marker at line[marker] and runs to end (a bare LF or the
// line's end). Its keyword runs to the ':', as the setup reads it; the first byte in its
// arguments that the setup ends an argument at is an error.
Command ReadCompiledCommand(Checker *c, const std::string &line, int number, size_t marker,
                            size_t end) {
    const std::string text = line.substr(marker + 1, end - marker - 1);
    size_t colon = text.find(':');
    std::string keyword = text.substr(0, colon);
    Command command{number, keyword, FindKeyword(keyword), {}};
    if (colon == std::string::npos || colon + 1 == text.size()) return command;
    command.arguments.emplace_back();
    size_t badColumn = 0;
    for (size_t i = colon + 1; i < text.size(); i++) {
        if (text[i] == SCRIPT_MARKER) {
            command.arguments.emplace_back();
            continue;
        }
        if (Keyword_IsTerminator(text[i]) && !badColumn) {
            badColumn = marker + 1 + i + 1;
            SayOn(c, CHECK_ERROR, command, Script_BadByteText((unsigned char)text[i], badColumn));
        }
        command.arguments.back().push_back(text[i]);
    }
    return command;
}

// The commands of a compiled script. Lines end with CR LF; a bare LF ends a command too (the
// setup reads it as the end of an argument), and is an error of its own.
std::vector<Command> ReadCompiled(Checker *c, const std::string &script) {
    std::vector<Command> commands;
    if (script.find((char)SCRIPT_MARKER) == std::string::npos) {
        Say(c, CHECK_ERROR, c->name + ": ",
            "no command marker (byte 0x16) anywhere: the setup runs no command");
        return commands;
    }
    size_t start = 0;
    for (int number = 1; start < script.size(); number++) {
        size_t lineEnd = script.find("\r\n", start);
        if (lineEnd == std::string::npos) lineEnd = script.size();
        const std::string line = script.substr(start, lineEnd - start);
        start = lineEnd + 2;
        for (size_t at = 0; at <= line.size();) {
            size_t bareLf = line.find('\n', at);
            size_t end = bareLf == std::string::npos ? line.size() : bareLf;
            size_t marker = line.find((char)SCRIPT_MARKER, at);
            if (marker < end) {
                commands.push_back(ReadCompiledCommand(c, line, number, marker, end));
                if (bareLf != std::string::npos)
                    SayOn(c, CHECK_ERROR, commands.back(),
                          "bare LF in column " + std::to_string(bareLf + 1) +
                              ": the setup reads CR LF line ends and steps one byte past a "
                              "command's last argument, here over the next command's marker, "
                              "which then never runs");
            }
            if (bareLf == std::string::npos) break;
            at = bareLf + 1;
        }
    }
    return commands;
}

// ---- Each command ----

std::string Amount(size_t count) { return count == 0 ? "none" : std::to_string(count); }

std::string Arguments(size_t count) {
    return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

// More arguments than the keyword takes, or fewer. A short command reads the missing ones
// beyond its line: over the CR LF and the next command's marker, so that command never runs.
// The last command reads them as empty, which fails only FONT (a font without a name).
void CheckCount(Checker *c, const Command &command, const Command *next) {
    const KeywordInfo *info = Keyword_Info(command.id);
    size_t takes = (size_t)info->ArgCount, given = command.arguments.size();
    if (takes > 0 && given == 0) given = 1; // nothing after the ':' is one empty argument
    if (given > takes) {
        SayOn(c, CHECK_ERROR, command,
              Arguments(given) + " where the command takes " + Amount(takes) +
                  ": the setup passes over the first extra one and takes each further one for "
                  "a command of its own");
    } else if (given < takes && next) {
        SayOn(c, CHECK_ERROR, command,
              std::to_string(given) + " of its " + std::to_string(takes) +
                  " arguments: the setup reads the missing ones from the next line, steps over "
                  "its marker, and the command on line " +
                  std::to_string(next->line) + " never runs");
    } else if (given < takes) {
        bool fails = command.id == KW_FONT;
        SayOn(c, fails ? CHECK_ERROR : CHECK_WARNING, command,
              std::to_string(given) + " of its " + std::to_string(takes) +
                  " arguments: the setup reads the missing ones as empty" +
                  (fails ? " and the command fails" : ""));
    }
}

// A decimal number as the setup reads it (blanks, a sign, digits, anything after them
// ignored) that fits 32 signed bits.
bool FitsInt32(const std::string &text) {
    size_t p = text.find_first_not_of(' ');
    if (p == std::string::npos) return true;
    bool negative = text[p] == '-';
    if (text[p] == '-' || text[p] == '+') p++;
    uint64_t magnitude = 0;
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; p++) {
        magnitude = magnitude * 10 + (uint64_t)(text[p] - '0');
        if (magnitude > 0x80000000u) return false;
    }
    return magnitude <= (negative ? 0x80000000u : 0x7FFFFFFFu);
}

// Each argument against its field: a refused one is an error, a cut one a warning.
void CheckFields(Checker *c, const Command &command) {
    const KeywordInfo *info = Keyword_Info(command.id);
    size_t count = std::min(command.arguments.size(), (size_t)info->ArgCount);
    for (size_t i = 0; i < count; i++) {
        const std::string &argument = command.arguments[i];
        const KeywordArg &field = info->Args[i];
        std::string which = "argument " + std::to_string(i + 1);
        size_t length = argument.size(), room = field.Size > 0 ? (size_t)field.Size - 1 : 0;
        if (field.Kind == ARG_NUMBER && !FitsInt32(argument)) {
            SayOn(c, CHECK_ERROR, command,
                  which + " (" + argument + ") lies outside 32 signed bits: the setup refuses it");
        } else if (field.Kind == ARG_CUT && length > room) {
            SayOn(c, CHECK_WARNING, command,
                  which + " is " + std::to_string(length) + " characters long: the setup keeps " +
                      "the first " + std::to_string(room));
        } else if (field.Kind == ARG_REFUSE) {
            // INSTALL DIR adds a backslash when it does not end in one, and it must fit too.
            bool backslash = command.id == KW_INSTALL_DIR && length > 0 && argument.back() != '\\';
            if (length + backslash <= room) continue;
            SayOn(c, CHECK_ERROR, command,
                  which + " is " + std::to_string(length) + " characters long" +
                      (backslash ? " and gets a backslash" : "") + ": the setup takes at most " +
                      std::to_string(room) + " and refuses it");
        }
    }
}

// A name the script asks the archive for; true when it can name an entry and one answers to it.
bool Ask(Checker *c, const Command &command, const std::string &what, const std::string &name) {
    uint32_t hash = Hash(c, name);
    c->named.insert(hash);
    const std::string fault = Check_NameFault(name);
    if (!fault.empty()) {
        SayOn(c, CHECK_ERROR, command, what + Check_Quoted(name) + " " + fault);
        return false;
    }
    if (c->entries.count(hash)) return true;
    // Names from a Unix folder have '/'; the archive's have '\'.
    std::string windows = name;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    const std::string hint = windows != name && c->entries.count(Hash(c, windows))
                                 ? " (did you mean " + Check_Quoted(windows) + "?)"
                                 : "";
    SayOn(c, CHECK_ERROR, command,
          what + Check_Quoted(name) + " is not among the entries: the setup will not find it" +
              hint);
    return false;
}

// Each item is an archive name behind its macros, and the path of the file INSTALL writes. The
// archive name keeps to the rules of every entry's name, a drive included: without macros such
// an item would install to a fixed place outside the folders that the user and the macros give
// (the Windows and system folders are $1 and $2), and behind macros a drive makes no path at
// all. Two items of one text in any letter case are one file, which INSTALL would write twice.
void CheckFileList(Checker *c, const Command &command, Walk *walk) {
    const std::string &list = command.arguments.empty() ? std::string() : command.arguments[0];
    std::map<std::string, std::pair<int, std::string>> items; // by the upper-case text
    size_t start = 0;
    for (int item = 1; start <= list.size(); item++) {
        size_t end = std::min(list.find(',', start), list.size());
        const std::string text = list.substr(start, end - start);
        start = end + 1;
        std::string which = "item " + std::to_string(item) + " ";
        if (text.size() >= INSTALL_ITEM_SIZE) {
            SayOn(c, CHECK_ERROR, command,
                  which + "is " + std::to_string(text.size()) +
                      " characters long: INSTALL takes at most " +
                      std::to_string(INSTALL_ITEM_SIZE - 1) + " and refuses it");
            continue;
        }
        auto first = items.emplace(Check_Upper(text), std::make_pair(item, text));
        if (!first.second) {
            const std::string earlier = "item " + std::to_string(first.first->second.first);
            const std::string &written = first.first->second.second;
            SayOn(c, CHECK_ERROR, command,
                  which + Check_Quoted(text) +
                      (written == text ? " is " + earlier + " again"
                                       : " and " + earlier + " " + Check_Quoted(written) +
                                             " differ only in letter case: one file to the "
                                             "setup and to Windows") +
                      ", which INSTALL would write twice");
            continue;
        }
        const std::string name = FileList_ArchiveName(text.c_str());
        if (Ask(c, command, which, name))
            walk->installed[Hash(c, name)] = c->entries[Hash(c, name)]->size;
    }
}

// True when the command has argument index (from 0) and it fits its field: a name the setup
// asks the archive for. A refused name was reported above; a missing one by the count.
bool HasName(const Command &command, size_t index) {
    return index < command.arguments.size() &&
           command.arguments[index].size() < (size_t)Keyword_Info(command.id)->Args[index].Size;
}

// The names the command asks the archive for.
void CheckNames(Checker *c, const Command &command, Walk *walk) {
    switch (command.id) {
    case KW_FILE_LIST:
        CheckFileList(c, command, walk);
        break;
    case KW_MESSAGE:
    case KW_AGREEMENT:
        // Nothing after the ':' is an empty name, which no entry has.
        if (command.arguments.empty() || HasName(command, 0))
            Ask(c, command, "the text ", command.arguments.empty() ? "" : command.arguments[0]);
        break;
    case KW_FONT:
        if (HasName(command, 1)) Ask(c, command, "the font ", command.arguments[1]);
        break;
    case KW_UNINSTALL_NAME: {
        const std::string fault = HasName(command, 0) ? Check_PathFault(command.arguments[0]) : "";
        if (!fault.empty())
            SayOn(c, CHECK_ERROR, command,
                  "the path " + Check_Quoted(command.arguments[0]) + " " + fault);
        c->named.insert(Hash(c, UNINST_ENTRY));
        if (!c->build->uninstallerBundled && !c->entries.count(Hash(c, UNINST_ENTRY)))
            SayOn(c, CHECK_ERROR, command,
                  "'" UNINST_ENTRY "' is not among the entries and the build has none to "
                  "bundle: INSTALL cannot write the uninstaller");
        break;
    }
    }
}

// What the setup relies on from the commands before this one.
void CheckOrder(Checker *c, const Command &command, Walk *walk) {
    const std::string first = command.arguments.empty() ? std::string() : command.arguments[0];
    const size_t textRoom = (size_t)Keyword_Info(KW_COMPANY_NAME)->Args[0].Size - 1;
    switch (command.id) {
    case KW_COMPANY_NAME:
        if (first.size() <= textRoom) walk->company = first;
        break;
    case KW_PRODUCT_NAME:
        if (first.size() <= textRoom) walk->product = first;
        break;
    case KW_UNINSTALL_NAME:
        walk->uninstallLine = command.line;
        break;
    case KW_INSTALL_PATH:
        walk->installPathLine = command.line;
        break;
    case KW_INSTALL_SIZE:
        walk->sizeGiven = true;
        if (walk->uninstallLine)
            SayOn(c, CHECK_ERROR, command,
                  "comes after UNINSTALL NAME (line " + std::to_string(walk->uninstallLine) +
                      "), which added the uninstaller's share to the size: this value "
                      "replaces it and the share is lost");
        break;
    case KW_BREAK:
        if (walk->breakLine)
            SayOn(c, CHECK_ERROR, command,
                  "a second BREAK (the first is on line " + std::to_string(walk->breakLine) +
                      "): the setup's window run stops here and never runs the rest");
        else
            walk->breakLine = command.line;
        break;
    case KW_INSTALL:
        if (!walk->installPathLine)
            SayOn(c, CHECK_ERROR, command,
                  "no INSTALL PATH before it: the files would be installed before an "
                  "installation folder is chosen");
        break;
    case KW_DONE: {
        const size_t prefix = sizeof UNINSTREG_KEY_PREFIX - 1;
        size_t length = prefix + walk->company.size() + 1 + walk->product.size();
        if (walk->uninstallLine && length > UNINSTREG_KEY_LIMIT)
            SayOn(c, CHECK_ERROR, command,
                  "company and product make the uninstall key " + std::to_string(length) +
                      " characters long, and the registry takes at most " +
                      std::to_string(UNINSTREG_KEY_LIMIT) + ": DONE fails (company and " +
                      "product at most " + std::to_string(UNINSTREG_KEY_LIMIT - prefix - 1) +
                      " characters together)");
        break;
    }
    }
}

// ---- Fonts ----

// An entry's bytes: those in memory, or else its file's (empty when it cannot be read).
std::vector<uint8_t> EntryBytes(const CheckEntry &entry) {
    if (entry.data) return *entry.data;
    std::ifstream file(entry.path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The faces of the script's FONT files that are among the entries.
Faces FontFaces(Checker *c, const std::vector<Command> &commands) {
    Faces faces{{}, false};
    for (const Command &command : commands) {
        if (command.id != KW_FONT || command.arguments.size() < 2) continue;
        auto entry = c->entries.find(Hash(c, command.arguments[1]));
        if (entry == c->entries.end()) continue;
        faces.any = !CheckFonts_AddFamilies(EntryBytes(*entry->second), &faces.names) || faces.any;
    }
    return faces;
}

void CheckFace(Checker *c, const Command &command, const Faces &faces) {
    if (!HasName(command, 1) || command.arguments[1].empty() || faces.any) return;
    if (CheckFonts_IsSystemFace(command.arguments[1])) return;
    if (faces.names.count(Check_Upper(command.arguments[1]))) return;
    SayOn(c, CHECK_WARNING, command,
          "the face " + Check_Quoted(command.arguments[1]) +
              " is not one that every Windows has, and no FONT adds it: the text is drawn in "
              "a font Windows picks");
}

// ---- The whole script ----

void CheckUnnamed(Checker *c) {
    for (const CheckEntry &entry : c->build->entries) {
        uint32_t hash = Hash(c, entry.name);
        if (c->named.count(hash) || hash == Hash(c, "install.dat") || hash == Hash(c, UNINST_ENTRY))
            continue;
        Say(c, CHECK_WARNING, c->name + ": ",
            "the entry " + Check_Quoted(entry.name) +
                " is named nowhere in the script: the setup never uses it");
        c->named.insert(hash); // an entry given twice is the build's error
    }
}

Walk CheckCommands(Checker *c, const std::vector<Command> &commands) {
    Walk walk{0, 0, 0, false, "", "", {}};
    const Faces faces = FontFaces(c, commands);
    for (size_t i = 0; i < commands.size(); i++) {
        const Command &command = commands[i];
        if (command.id < 0) {
            SayOn(c, CHECK_ERROR, command,
                  "not a command this setup runs: it stops there with \"Installation script "
                  "corrupted!\"");
            continue;
        }
        CheckCount(c, command, i + 1 < commands.size() ? &commands[i + 1] : nullptr);
        CheckFields(c, command);
        CheckNames(c, command, &walk);
        CheckOrder(c, command, &walk);
        if (command.id == KW_STRING) CheckFace(c, command, faces);
    }
    std::vector<HabitCommand> habits;
    for (const Command &command : commands)
        habits.push_back(HabitCommand{command.line, command.id, &command.arguments});
    for (const HabitFinding &finding : Check_Habits(habits))
        SayAt(c, finding.kind, finding.line, Keyword_Info(finding.id)->Keyword, finding.text);
    CheckUnnamed(c);
    return walk;
}

Checker Start(const std::string &name, const CheckBuild &build, CheckReport *report) {
    Checker c{name, &build, report, {}, {}, 0};
    for (const CheckEntry &entry : build.entries) c.entries[Hash(&c, entry.name)] = &entry;
    return c;
}

} // namespace

bool Check_Source(const std::string &source, const std::string &sourceName, const CheckBuild &build,
                  std::vector<uint8_t> *script, CheckReport *report) {
    script->clear();
    Checker c = Start(sourceName, build, report);
    // What Windows editors write at the start of a UTF-8 file: no part of the first line.
    static const std::string BYTE_ORDER_MARK = "\xEF\xBB\xBF";
    const bool marked = source.compare(0, BYTE_ORDER_MARK.size(), BYTE_ORDER_MARK) == 0;
    if (marked)
        Say(&c, CHECK_NOTE,
            sourceName + ":1: ", "the UTF-8 byte-order mark at the start is skipped");
    std::vector<Command> commands =
        ReadSource(&c, marked ? source.substr(BYTE_ORDER_MARK.size()) : source);
    Walk walk = CheckCommands(&c, commands);
    if (c.errors) return false;
    if (!walk.sizeGiven && !walk.installed.empty()) {
        // First: UNINSTALL NAME adds the uninstaller's share to it, and the directory dialog
        // of INSTALL PATH shows it, in whichever run they come.
        uint64_t bytes = 0;
        for (const auto &file : walk.installed) bytes += file.second;
        const std::string kb = std::to_string(Check_KiloBytes(bytes));
        SayAt(&c, CHECK_NOTE, commands.front().line, "INSTALL SIZE",
              kb + " KB computed from the FILE LIST files (" + std::to_string(bytes) +
                  " bytes, rounded up): the compiled script starts with INSTALL SIZE:" + kb);
        commands.insert(commands.begin(),
                        Command{commands.front().line, "INSTALL SIZE", KW_INSTALL_SIZE, {kb}});
    }
    for (const Command &command : commands) Script_Emit(command.keyword, command.arguments, script);
    return true;
}

bool Check_Script(const std::vector<uint8_t> &script, const std::string &scriptName,
                  const CheckBuild &build, CheckReport *report) {
    Checker c = Start(scriptName, build, report);
    CheckCommands(&c, ReadCompiled(&c, std::string(script.begin(), script.end())));
    return c.errors == 0;
}

uint64_t Check_KiloBytes(uint64_t bytes) { return bytes / 1024 + (bytes % 1024 != 0); }
