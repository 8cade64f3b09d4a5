// What a publisher writes without meaning it: blanks at the ends of names, an uninstaller that
// no entry points at, files listed but never installed, shortcuts to nothing, numbers and
// colours the setup reads otherwise than they look.
#include "check-habits.h"

#include <set>

#include "filelist.h"
#include "installrecord.h"
#include "keywords.h"

namespace {

// The arguments (from 0) of each command that name a file, a folder, a key or a product, and
// become part of a path; FILE LIST's items are each one. A name that the name rules hold already
// (check.cpp: a component that ends with a blank) is looked at for its first blank only.
const struct {
    int32_t id;
    int arguments[2];
    bool endChecked;
} NAMED[] = {
    {KW_COMPANY_NAME, {0, -1}, false},  {KW_PRODUCT_NAME, {0, -1}, false},
    {KW_REGISTRY_PATH, {0, -1}, false}, {KW_INSTALL_DIR, {0, -1}, false},
    {KW_UNINSTALL_NAME, {0, -1}, true}, {KW_INSTALL_NAME, {0, -1}, false},
    {KW_CREATE_GROUP, {0, -1}, false},  {KW_MESSAGE, {0, -1}, true},
    {KW_AGREEMENT, {0, -1}, true},      {KW_FONT, {1, -1}, true},
    {KW_ADD_ITEM, {1, 3}, false},       {KW_OLE, {1, -1}, false},
    {KW_EXECUTE, {2, -1}, false},
};

std::string Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return text;
}

std::vector<std::string> Items(const std::string &list) {
    std::vector<std::string> items;
    for (size_t start = 0; start <= list.size();) {
        size_t end = std::min(list.find(',', start), list.size());
        items.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

// The item without its "$?" flags: the path INSTALL writes, as the script writes it.
std::string Target(std::string item) {
    while (item.compare(0, 2, "$?") == 0) item.erase(0, 2);
    return item;
}

const std::string &Argument(const HabitCommand &command, size_t index) {
    static const std::string none;
    return index < command.arguments->size() ? (*command.arguments)[index] : none;
}

class Habits {
  public:
    explicit Habits(const std::vector<HabitCommand> &commands) : commands_(commands) {}
    std::vector<HabitFinding> Run();

  private:
    void Say(CheckKind kind, const HabitCommand &command, const std::string &text) {
        findings_.push_back(HabitFinding{kind, command.line, command.id, text});
    }
    const HabitCommand *Last(int32_t id) const {
        const HabitCommand *last = nullptr;
        for (const HabitCommand &command : commands_)
            if (command.id == id) last = &command;
        return last;
    }
    void Blanks(const HabitCommand &command);
    void Numbers(const HabitCommand &command);
    void Colour(const HabitCommand &command);
    void Uninstaller();
    void Shortcut(const HabitCommand &command, const std::set<std::string> &installed);

    const std::vector<HabitCommand> &commands_;
    std::vector<HabitFinding> findings_;
};

void Habits::Blanks(const HabitCommand &command) {
    struct Name {
        std::string what, text;
        bool endChecked;
    };
    std::vector<Name> names;
    if (command.id == KW_FILE_LIST) {
        std::vector<std::string> items = Items(Argument(command, 0));
        for (size_t i = 0; i < items.size(); i++)
            names.push_back({"item " + std::to_string(i + 1) + " ", items[i], true});
    }
    for (const auto &row : NAMED) {
        if (row.id != command.id) continue;
        for (int index : row.arguments)
            if (index >= 0 && (size_t)index < command.arguments->size())
                names.push_back({"argument " + std::to_string(index + 1) + " ",
                                 Argument(command, (size_t)index), row.endChecked});
    }
    for (const Name &name : names) {
        const std::string &text = name.text;
        if (text.empty() || (text.front() != ' ' && (name.endChecked || text.back() != ' ')))
            continue;
        Say(CHECK_ERROR, command,
            name.what + "'" + text + "' " + (text.front() == ' ' ? "begins" : "ends") +
                " with a blank, which the setup keeps: it becomes part of the name on the user's "
                "machine (write '" +
                text.substr(text.find_first_not_of(' '),
                            text.find_last_not_of(' ') - text.find_first_not_of(' ') + 1) +
                "'" + (command.id == KW_FILE_LIST ? "; items are separated by ',' alone" : "") +
                ")");
    }
}

// A number as the setup reads it: blanks, a sign and digits; what follows is ignored.
void Habits::Numbers(const HabitCommand &command) {
    const KeywordInfo *info = Keyword_Info(command.id);
    for (size_t i = 0; i < command.arguments->size() && i < (size_t)info->ArgCount; i++) {
        const std::string &text = (*command.arguments)[i];
        if (info->Args[i].Kind != ARG_NUMBER || text.empty()) continue;
        size_t p = text.find_first_not_of(' ');
        size_t digits = p == std::string::npos ? text.size() : p;
        if (digits < text.size() && (text[digits] == '-' || text[digits] == '+')) digits++;
        size_t end = text.find_first_not_of("0123456789", digits);
        if (end == std::string::npos) continue;
        const std::string read = end == digits ? "0" : text.substr(p, end - p);
        Say(CHECK_WARNING, command,
            "argument " + std::to_string(i + 1) + " '" + text + "' is no plain number: the setup " +
                "reads " + read + " and passes over '" + text.substr(end) + "'");
    }
}

// Three numbers separated by ','; more are cut by the setup, fewer or other separators are not
// what they look like.
void Habits::Colour(const HabitCommand &command) {
    const std::string &text = Argument(command, 0);
    std::vector<std::string> parts = Items(text);
    bool plain = parts.size() >= 3;
    for (size_t i = 0; plain && i < 3; i++) {
        size_t first = parts[i].find_first_not_of(' '), last = parts[i].find_last_not_of(' ');
        plain = first != std::string::npos &&
                parts[i].substr(first, last - first + 1).find_first_not_of("0123456789") ==
                    std::string::npos;
    }
    if (!plain)
        Say(CHECK_WARNING, command,
            "'" + text +
                "' is not three numbers separated by ',' (red,green,blue, 0 to 255 "
                "each): the setup reads another colour");
}

void Habits::Uninstaller() {
    const HabitCommand *uninstall = Last(KW_UNINSTALL_NAME);
    if (!uninstall) return;
    const std::string name = Upper(Argument(*uninstall, 0));
    // INSTALL keeps its install record beside the uninstaller ("uninst.exe" has "uninst.dat"):
    // a file in that place would be overwritten by it, and taken by the uninstaller for it.
    char record[RECORD_PATH_SIZE] = "";
    if (!name.empty()) Record_PathFor(Argument(*uninstall, 0).c_str(), record, sizeof record);
    if (Last(KW_INSTALL) && !Last(KW_DONE)) // without INSTALL no uninstaller is written
        Say(CHECK_WARNING, *uninstall,
            "no DONE in the script: INSTALL writes the uninstaller, but no uninstall entry "
            "points at it and Programs and Features does not list the product (end the script "
            "with DONE)");
    for (const HabitCommand &command : commands_) {
        if (command.id != KW_FILE_LIST) continue;
        std::vector<std::string> items = Items(Argument(command, 0));
        for (size_t i = 0; i < items.size(); i++) {
            const std::string target = Upper(Target(items[i]));
            if (!name.empty() && target == name)
                Say(CHECK_WARNING, command,
                    "item " + std::to_string(i + 1) + " '" + items[i] +
                        "' is the uninstaller, which INSTALL writes with the script behind it: "
                        "leave it out of FILE LIST");
            if (record[0] && target == Upper(record))
                Say(CHECK_ERROR, command,
                    "item " + std::to_string(i + 1) + " '" + Target(items[i]) +
                        "' is where INSTALL keeps its install record beside the uninstaller '" +
                        Argument(*uninstall, 0) + "': give the file another name");
        }
    }
}

// A shortcut's target in the installation folder (no macro, no drive) that nothing installs.
void Habits::Shortcut(const HabitCommand &command, const std::set<std::string> &installed) {
    const std::string &target = Argument(command, 1);
    if (target.empty() || target[0] == '$' || (target.size() >= 2 && target[1] == ':') ||
        installed.count(Upper(target)))
        return;
    Say(CHECK_WARNING, command,
        "the target '" + target +
            "' is no FILE LIST item nor the uninstaller: the shortcut points at a file the "
            "setup does not install");
}

std::vector<HabitFinding> Habits::Run() {
    std::set<std::string> installed; // targets, upper case
    for (const HabitCommand &command : commands_) {
        if (command.id == KW_FILE_LIST)
            for (const std::string &item : Items(Argument(command, 0)))
                installed.insert(Upper(Target(item)));
        if (command.id == KW_UNINSTALL_NAME) installed.insert(Upper(Argument(command, 0)));
    }
    // A script that runs to its end (it chooses the folder, breaks or finishes) but installs
    // nothing; a script of settings alone may be a part the publisher is still writing.
    const HabitCommand *list = Last(KW_FILE_LIST);
    if (list && !Last(KW_INSTALL) && (Last(KW_INSTALL_PATH) || Last(KW_BREAK) || Last(KW_DONE)))
        Say(CHECK_WARNING, *list,
            "no INSTALL in the script: the files of FILE LIST are never installed");
    Uninstaller();
    for (const HabitCommand &command : commands_) {
        if (command.id < 0) continue;
        Blanks(command);
        Numbers(command);
        if (command.id == KW_GRADIENT_START || command.id == KW_GRADIENT_END) Colour(command);
        if (command.id == KW_ADD_ITEM) Shortcut(command, installed);
    }
    return findings_;
}

} // namespace

std::vector<HabitFinding> Check_Habits(const std::vector<HabitCommand> &commands) {
    return Habits(commands).Run();
}
