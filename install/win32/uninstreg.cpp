// The product's entry in the system's list of installed programs (win32 tree), which DONE
// writes so that the control panel can start the uninstaller.
#include "uninstreg.h"

#include <windows.h>

#include "installdir.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "uninstscript.h"

// ---- Uninstall entry ----

static const char UNINSTALL_KEY[] = UNINSTREG_KEY_PREFIX;

enum { ICON_SIZE = PATH_EXPAND_SIZE + 16 }; // a path, a comma and an icon index

// A text value, or none when text is empty: an earlier version's value does not stay behind.
static int SetOrDropString(SysKey key, const char *name, const char *text) {
    if (text[0]) return Reg_SetString(key, name, text);
    RegDeleteValueA((HKEY)key, name);
    return 1;
}

static int SetNumber(SysKey key, const char *name, uint32_t value) {
    return Reg_SetValue(key, REG_DWORD, "REG_DWORD", name, &value, sizeof value);
}

// The icon Programs and Features shows: the program the first shortcut to a program starts,
// when it is there, else the uninstaller (also when no script text is kept, as for DONE run
// on its own). "path" or "path,index".
static void ChooseIcon(const InstallState *state, const char *uninstaller, char *icon, int size) {
    char target[INSTALL_TEXT_SIZE], program[PATH_EXPAND_SIZE];
    int32_t iconIndex = 0;
    uint32_t flags = 0;
    if (state->ScriptText &&
        UninstScript_FirstProgram(state->ScriptText, state->ScriptSize, target, sizeof target,
                                  &iconIndex) &&
        Path_Expand(state, target, program, &flags) &&
        GetFileAttributesA(program) != INVALID_FILE_ATTRIBUTES) {
        if (iconIndex > 0)
            Str_Format(icon, size, "%s,%d", program, (int)iconIndex);
        else
            Str_Format(icon, size, "%s", program);
        return;
    }
    Str_Format(icon, size, "%s", uninstaller);
}

int UninstReg_Write(const InstallState *state) {
    CORE_GUARD(state);
    // The display name is the key's last part: company and product joined by one blank.
    char keyName[UNINSTREG_KEY_SIZE];
    int length = Uninst_KeyName(state->CompanyName, state->ProductName, keyName, sizeof keyName);
    // Refused, never cut: a cut key would be another product's entry. The registry's 8-bit
    // functions take no longer key name, and a key that cannot be made ends the run after
    // everything else was installed.
    if (length < 0) {
        Log_Print("Uninstall key too long for '%s %s'\n", state->CompanyName, state->ProductName);
        return 0;
    }
    char uninstaller[PATH_EXPAND_SIZE];
    uint32_t flags = 0;
    if (!Path_Expand(state, state->UninstallName, uninstaller, &flags)) return 0; // logged
    // In quotation marks: a path with blanks unquoted ("C:\Program Files\...") may start
    // "C:\Program.exe" instead. The quiet command is the same with "-Quiet", for deployment
    // tools that remove products unattended.
    char command[PATH_EXPAND_SIZE + 2], quiet[PATH_EXPAND_SIZE + 9];
    Str_Format(command, sizeof command, "\"%s\"", uninstaller);
    Str_Format(quiet, sizeof quiet, "%s -Quiet", command);
    SysKey key;
    Reg_OpenOrCreateKey(&key, REG_ROOT_MACHINE, keyName);
    // A value refused is logged, and leaves an entry that cannot remove the product.
    int written = Reg_SetString(key, "DisplayName", keyName + sizeof UNINSTALL_KEY - 1);
    written &= Reg_SetString(key, "UninstallString", command);
    written &= Reg_SetString(key, "QuietUninstallString", quiet);
    // What Programs and Features and inventories show; a value refused costs only its line.
    char icon[ICON_SIZE];
    ChooseIcon(state, uninstaller, icon, sizeof icon);
    SetOrDropString(key, "DisplayVersion", state->ProductVersion);
    SetOrDropString(key, "Publisher", state->CompanyName);
    Reg_SetString(key, "DisplayIcon", icon);
    Reg_SetString(key, "InstallLocation", state->InstallPath);
    // KB, as INSTALL SIZE gives it (with the uninstaller's share); a negative size is none.
    if (state->InstallSizeKB >= 0)
        SetNumber(key, "EstimatedSize", (uint32_t)state->InstallSizeKB);
    else
        RegDeleteValueA((HKEY)key, "EstimatedSize");
    // The setup has no maintenance mode: Programs and Features offers removal only.
    SetNumber(key, "NoModify", 1);
    SetNumber(key, "NoRepair", 1);
    Reg_CloseKey(&key);
    return written;
}
