// The program group and its shortcuts (win32 tree): the folder under the user's Start-menu
// Programs folder that CREATE GROUP makes current, and the shell links ADD ITEM saves there.
#include "shortcuts.h"

#include <shlobj.h>
#include <windows.h>

#include "files.h"
#include "installdir.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"

// ---- Program group and shortcuts ----

static struct {
    char group[SHELL_GROUP_SIZE]; // the current group as CREATE GROUP gave it; empty at first
} G;

// folder, a backslash, name and suffix into output (SHELL_PATH_SIZE bytes); no backslash when
// nothing follows the folder or it ends with one. Refused, never cut: a cut path names another
// folder or file.
static int JoinPath(char *output, const char *folder, const char *name, const char *suffix) {
    int folderLength = Str_Length(folder);
    int bare = (!name[0] && !suffix[0]) || (folderLength > 0 && folder[folderLength - 1] == '\\');
    const char *separator = bare ? "" : "\\";
    int length = folderLength + Str_Length(separator) + Str_Length(name) + Str_Length(suffix);
    if (length >= SHELL_PATH_SIZE) {
        Log_Print("Path '%s' too long (%d > %d)\n", name, length, SHELL_PATH_SIZE - 1);
        output[0] = 0;
        return 0;
    }
    Str_Format(output, SHELL_PATH_SIZE, "%s%s%s%s", folder, separator, name, suffix);
    return 1;
}

int Shell_ProgramsPath(const char *text, char *output) {
    CORE_GUARD(text);
    CORE_GUARD(output);
    output[0] = 0;
    char folder[MAX_PATH] = "";
    LPITEMIDLIST items = NULL;
    BOOL found = FALSE;
    if (SUCCEEDED(SHGetSpecialFolderLocation(NULL, CSIDL_PROGRAMS, &items)) && items) {
        found = SHGetPathFromIDListA(items, folder);
        CoTaskMemFree(items);
    }
    if (!found) {
        Log_Print("Unable to get the Programs folder\n");
        return 0;
    }
    return JoinPath(output, folder, text, "");
}

int Shell_LinkPath(char *output, const char *itemName) {
    CORE_GUARD(output);
    CORE_GUARD(itemName);
    char folder[SHELL_PATH_SIZE];
    if (!Shell_ProgramsPath(G.group, folder)) {
        output[0] = 0;
        return 0;
    }
    return JoinPath(output, folder, itemName, ".lnk");
}

int Shell_CreateGroup(const char *name) {
    CORE_GUARD(name);
    // Refused, never cut: the items that follow would go into another folder.
    int length = Str_Length(name);
    if (length >= SHELL_GROUP_SIZE) {
        Log_Print("Group name too long (%d > %d)\n", length, SHELL_GROUP_SIZE - 1);
        return 0;
    }
    char folder[SHELL_PATH_SIZE];
    if (!Shell_ProgramsPath(name, folder)) return 0;
    Log_Print("Create Group = '%s'\n", folder);
    Str_Copy(G.group, name);
    Dir_CreatePath(folder); // a folder that cannot be made shows when an item is saved
    return 1;
}

// Sets the shortcut's properties on link and saves it as linkPath.
static void SaveLink(const InstallState *state, IShellLinkA *link, const char *target,
                     const char *arguments, int32_t iconIndex, const char *itemName,
                     const char *linkPath) {
    // The macro alone gives the working directory ("" gives InstallPath); the whole target is
    // expanded as INSTALL expands the paths it writes to, so the shortcut finds the same file.
    char macro[3] = "";
    if (target[0] == '$' && target[1]) {
        macro[0] = target[0];
        macro[1] = target[1];
    }
    char directory[SHELL_PATH_SIZE], path[SHELL_PATH_SIZE];
    uint32_t flags = 0;
    if (!Path_Expand(state, macro, directory, &flags) || !Path_Expand(state, target, path, &flags))
        return; // refused and logged: a cut path would be another program
    link->SetPath(path);
    link->SetArguments(arguments);
    link->SetDescription(itemName);
    link->SetIconLocation(path, (int)iconIndex);
    link->SetWorkingDirectory(directory);
    IPersistFile *file = NULL;
    HRESULT result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (FAILED(result) || !file) {
        Log_Print("Couldn't query ShellLink 0x%.8X\n", (unsigned)result);
        return;
    }
    WCHAR wideName[SHELL_PATH_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideName, SHELL_PATH_SIZE) ||
        FAILED(file->Save(wideName, TRUE)))
        Log_Print("Unable to save '%s'\n", linkPath);
    file->Release();
}

int Shell_AddItem(const InstallState *state, const char *target, const char *arguments,
                  int32_t iconIndex, const char *itemName) {
    CORE_GUARD(state);
    CORE_GUARD(target);
    CORE_GUARD(arguments);
    CORE_GUARD(itemName);
    Log_Print("Create Item = '%s' : '%s' ('%s' / '%s')\n", G.group, itemName, target, arguments);
    char linkPath[SHELL_PATH_SIZE];
    if (!Shell_LinkPath(linkPath, itemName)) return 1;
    IShellLinkA *link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      (void **)&link);
    if (FAILED(result) || !link) {
        Log_Print("Couldn't attach ShellLink 0x%.8X\n", (unsigned)result);
        return 1;
    }
    SaveLink(state, link, target, arguments, iconIndex, itemName, linkPath);
    link->Release();
    return 1;
}
