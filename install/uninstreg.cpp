// The product's entry in the system's list of installed programs (win32 tree), which DONE
// writes so that the control panel can start the uninstaller.
#include "uninstreg.h"

#include "installdir.h"
#include "tessel-core.h"
#include "tessel-sys.h"

// ---- Uninstall entry ----

static const char UNINSTALL_KEY[] = UNINSTREG_KEY_PREFIX;

int UninstReg_Write(const InstallState *state) {
    CORE_GUARD(state);
    // The display name is the key's last part: company and product joined by one blank.
    char keyName[UNINSTREG_KEY_SIZE];
    int length = Str_Format(keyName, sizeof keyName, "%s%s %s", UNINSTALL_KEY, state->CompanyName,
                            state->ProductName);
    // Refused, never cut: a cut key would be another product's entry. The registry's 8-bit
    // functions take no longer key name, and a key that cannot be made ends the run after
    // everything else was installed.
    if (length < 0 || length > UNINSTREG_KEY_LIMIT) {
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
    Reg_CloseKey(&key);
    return written;
}
