// Dialogs and actions of the setup program that reach the system: so far the temporary fonts
// of the backdrop, added for the length of the run and removed with their files at its end.
#include <windows.h>

#include "fonts.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "ui.h"

static struct {
    int fontsUnavailable; // the system refused a font: nothing is removed from then on
} D;

int Font_AddTemporary(const char *path) {
    CORE_GUARD(path);
    if (Font_Add(path)) return 1;
    DWORD error = GetLastError();
    Ui_Problem("The Windows font folder appears to be corrupt, install will continue with "
               "limited graphics...",
               NULL);
    Log_Print("Unable to add font resource for '%s' (0x%.8X)\n", path, (unsigned)error);
    D.fontsUnavailable = 1;
    return 1;
}

int Font_RemoveTemporary(const char *path) {
    CORE_GUARD(path);
    if (D.fontsUnavailable) return 1;
    if (!Font_Remove(path)) return 0;
    if (!DeleteFileA(path)) Log_Print("Non-fatal unable to delete file '%s'\n", path);
    return 1;
}

int Font_Unavailable(void) { return D.fontsUnavailable; }
