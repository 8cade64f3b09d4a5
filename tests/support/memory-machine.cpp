// The in-memory machine behind the removal's and the uninstaller's records of actions.
#include "memory-machine.h"

#include <string.h>

#include "actions.h"
#include "installrecord.h"
#include "pathguard.h"
#include "pathtext.h"
#include "tessel-core.h"

namespace memory_machine {

namespace {

Machine machine;

std::string Parent(const std::string &folded) {
    size_t cut = folded.rfind('\\');
    return cut == std::string::npos ? std::string() : folded.substr(0, cut);
}

int Copy(const std::string &text, char *out, int size) {
    if ((int)text.size() >= size) return 0;
    memcpy(out, text.c_str(), text.size() + 1);
    return 1;
}

int SystemFolder(int which, char *folder, int size) {
    auto found = machine.systemFolders.find(which);
    return found != machine.systemFolders.end() && Copy(found->second, folder, size);
}

int MacroDir(char letter, char *folder, int size) {
    auto found = machine.macros.find(letter);
    if (found == machine.macros.end()) return letter >= '0' && letter <= '5' ? 0 : -1;
    return Copy(found->second, folder, size);
}

int ExpandPath(const InstallState *state, const char *input, char *output, int size,
               uint32_t *flags) {
    return PathText_Expand(state->InstallPath, input, MacroDir, output, size, flags);
}

int PathKind(const char *path) {
    std::string resolved = machine.Resolve(path);
    return resolved.empty() ? RPATH_MISSING : machine.nodes[Fold(resolved)].kind;
}

int DiskName(const char *path, char *out, int size) {
    std::string resolved = machine.Resolve(path);
    return !resolved.empty() && Copy(resolved, out, size);
}

bool HasChildren(const std::string &folded) {
    for (const auto &node : machine.nodes)
        if (Parent(node.first) == folded) return true;
    return false;
}

int Delete(const char *path, uint32_t *error) {
    auto found = machine.nodes.find(Fold(path));
    if (found == machine.nodes.end()) return RDELETE_MISSING;
    if (found->second.kind == RPATH_FOLDER && found->second.link.empty()) {
        *error = 5; // access denied: a folder is no file
        return RDELETE_FAILED;
    }
    if (found->second.inUse || found->second.stuck) {
        *error = 32; // in use by another process
        return RDELETE_FAILED;
    }
    machine.nodes.erase(found);
    return RDELETE_DONE;
}

int DeleteAtRestart(const char *path, uint32_t *error) {
    auto found = machine.nodes.find(Fold(path));
    if (found != machine.nodes.end() && found->second.stuck) {
        *error = 5;
        return 0;
    }
    machine.restart.push_back(path);
    return 1;
}

int RemoveFolder(const char *path) {
    std::string folded = Fold(path);
    auto found = machine.nodes.find(folded);
    if (found == machine.nodes.end() || found->second.kind != RPATH_FOLDER) return 0;
    if (found->second.link.empty() && HasChildren(folded)) return 0;
    machine.nodes.erase(found); // a link goes, never what it leads to
    return 1;
}

int RememberedPath(const char *registryPath, char *path, int size) {
    auto found = machine.remembered.find(registryPath);
    if (found == machine.remembered.end()) return 0;
    if (!Copy(found->second, path, size)) path[0] = 0; // too long for the buffer: unreadable
    return 1;
}

int IsShared(const char *path) {
    return !machine.windowsFolder.empty() &&
           PathGuard_IsInside(path, machine.windowsFolder.c_str());
}

int32_t SharedCount(const char *path) {
    auto found = machine.counts.find(Fold(path));
    return found == machine.counts.end() ? RECORD_NO_COUNT : found->second;
}

int SetSharedCount(const char *path, int32_t count) {
    if (count == RECORD_DROP_COUNT)
        machine.counts.erase(Fold(path));
    else
        machine.counts[Fold(path)] = count;
    return 1;
}

const RemovalActions REMOVAL = {
    SystemFolder,    MacroDir,     ExpandPath,     PathKind, DiskName,    Delete,
    DeleteAtRestart, RemoveFolder, RememberedPath, IsShared, SharedCount, SetSharedCount,
};

int CloseWindows(InstallState *state, int mode, int32_t budget, const char *title,
                 const char *windowClass, const char *relaunch, const char *prompt) {
    (void)state, (void)budget, (void)relaunch, (void)prompt;
    machine.windowsClosed.push_back(std::string(title) + "|" + windowClass + "|" +
                                    std::to_string(mode));
    return machine.closeWindows;
}

int RegisterServer(const char *path, int reg) {
    machine.unregistered.push_back(std::string(path) + (reg ? " (register)" : ""));
    return 1;
}

int ProgramsPath(const char *text, char *output) {
    std::string path = machine.programs + (text[0] ? "\\" : "") + text;
    if (!Copy(path, output, SHELL_PATH_SIZE)) {
        output[0] = 0;
        Log_Print("The Programs folder's path is too long: '%s'\n", text);
        return 0;
    }
    return 1;
}

bool EraseKey(std::vector<std::string> *keys, const std::string &name) {
    for (auto key = keys->begin(); key != keys->end(); ++key)
        if (Fold(*key) == Fold(name)) {
            keys->erase(key);
            return true;
        }
    return false;
}

int DeleteEntryKey(const char *keyName) { return EraseKey(&machine.entryKeys, keyName); }

int DeletePathValue(const char *registryPath) {
    bool there = false;
    for (const auto &key : machine.registryKeys) there = there || Fold(key) == Fold(registryPath);
    machine.remembered.erase(registryPath);
    return there;
}

// A key holds a value while its "Install Path" is remembered, and its keys below it.
int DeleteEmptyKey(const char *path) {
    std::string folded = Fold(path);
    for (const auto &key : machine.registryKeys)
        if (Fold(key).rfind(folded + "\\", 0) == 0) return 0;
    for (const auto &value : machine.remembered)
        if (Fold(value.first) == folded) return 0;
    return EraseKey(&machine.registryKeys, path);
}

int SetProgress(double percent) {
    machine.progress.push_back(percent);
    return 1;
}

const UninstallActions UNINSTALL = {
    CloseWindows,    RegisterServer, ProgramsPath, DeleteEntryKey,
    DeletePathValue, DeleteEmptyKey, SetProgress,
};

} // namespace

std::string Fold(const std::string &path) {
    std::string folded;
    for (char c : path) folded += c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
    while (!folded.empty() && folded.back() == '\\') folded.pop_back();
    return folded;
}

void Machine::Reset() { *this = Machine(); }

void Machine::AddFolder(const std::string &path) {
    std::string folded = Fold(path);
    if (folded.empty() || nodes.count(folded)) return;
    std::string parent = Parent(folded);
    if (!parent.empty()) AddFolder(path.substr(0, Parent(Fold(path)).size()));
    Node node;
    node.kind = RPATH_FOLDER;
    node.name = path;
    while (node.name.size() > 3 && node.name.back() == '\\') node.name.pop_back();
    nodes[folded] = node;
}

void Machine::AddFile(const std::string &path) {
    std::string folded = Fold(path);
    AddFolder(path.substr(0, Parent(folded).size()));
    Node node;
    node.name = path;
    nodes[folded] = node;
}

void Machine::AddLink(const std::string &path, const std::string &target) {
    if (Resolve(target).empty()) {
        if (target.back() == '\\')
            AddFolder(target);
        else
            AddFile(target);
    }
    std::string folded = Fold(path);
    AddFolder(path.substr(0, Parent(folded).size()));
    Node node;
    node.kind = nodes[Fold(Resolve(target))].kind;
    node.name = path;
    while (node.name.size() > 3 && node.name.back() == '\\') node.name.pop_back();
    node.link = target;
    nodes[folded] = node;
}

bool Machine::Has(const std::string &path) const { return nodes.count(Fold(path)) != 0; }

std::string Machine::Resolve(const std::string &path) const {
    std::string folded = Fold(path), done;
    size_t start = 0;
    for (int hops = 0; hops < 16;) {
        size_t cut = folded.find('\\', start);
        std::string part = folded.substr(0, cut);
        auto found = nodes.find(part);
        if (found == nodes.end()) return "";
        if (!found->second.link.empty()) { // follow it, and walk the rest from there
            std::string rest = cut == std::string::npos ? "" : folded.substr(cut);
            folded = Fold(found->second.link) + rest;
            start = 0;
            hops++;
            continue;
        }
        done = found->second.name;
        if (cut == std::string::npos) return done;
        start = cut + 1;
    }
    return "";
}

Machine &Get() { return machine; }
const RemovalActions *Removal() { return &REMOVAL; }
const UninstallActions *Uninstall() { return &UNINSTALL; }

} // namespace memory_machine
