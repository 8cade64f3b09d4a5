// The removal's and the uninstaller's records of actions on a machine held in memory, for the
// unit tests of their decisions: files and folders (some in use, some refusing to go), links
// that lead elsewhere, the system's folders and path macros, the remembered installation
// folder, shared counts and registry keys, and every operation asked of them.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "removal-actions.h"
#include "uninstrun.h"

namespace memory_machine {

struct Node {
    int kind = RPATH_FILE; // RPATH_FILE or RPATH_FOLDER (a link: what it leads to)
    std::string name;      // the path as it was made, its spelling kept
    std::string link;      // where a link leads, "" for none
    bool inUse = false;    // a file that cannot be deleted now
    bool stuck = false;    // a file that cannot be deleted at all, not even at the restart
};

// The machine; Reset empties it. Paths are compared as Windows does, letters folded, "/" as
// "\", trailing separators ignored.
struct Machine {
    std::map<std::string, Node> nodes;             // by folded path
    std::map<int, std::string> systemFolders;      // RemovalFolder → path
    std::map<char, std::string> macros;            // '0' ... '5' → folder with its backslash
    std::map<std::string, std::string> remembered; // registry path → "Install Path"
    std::map<std::string, int32_t> counts;         // shared counts, by folded path
    std::string windowsFolder;                     // files below it are shared
    std::vector<std::string> restart;              // what waits for the next restart
    std::vector<std::string> registryKeys;         // the user's keys ("Software\Acme\Rocket")
    std::vector<std::string> entryKeys;            // HKLM keys (the uninstall entries)
    std::vector<std::string> unregistered;         // the servers unregistered
    std::vector<double> progress;
    std::string programs = "C:\\Users\\me\\Start Menu\\Programs"; // the Programs folder
    int closeWindows = 1;                                         // what CloseWindows answers
    std::vector<std::string> windowsClosed; // "title|class|mode" of each CloseWindows

    void Reset();
    // A folder with every missing parent; a file (its folders made); a link at path that leads
    // to target (made as a folder or a file when it does not exist).
    void AddFolder(const std::string &path);
    void AddFile(const std::string &path);
    void AddLink(const std::string &path, const std::string &target);
    // 1 when path names a node (links not followed).
    bool Has(const std::string &path) const;
    // The node's path that the links lead to, "" when a part is missing.
    std::string Resolve(const std::string &path) const;
};

Machine &Get();
// The records of actions on Get(); RemovalActions_Set(Removal()) installs the first.
const RemovalActions *Removal();
const UninstallActions *Uninstall();
// A path folded for comparison.
std::string Fold(const std::string &path);

} // namespace memory_machine
