// Temporary fonts of the backdrop (win32 tree): taken from the archive into the temporary
// folder, added to the system for the length of the run and removed with their files at its
// end. A system that refuses a font is told once per font; from then on nothing is removed.
#include "fonts.h"

#include <windows.h>

#include "ffs.h"
#include "files.h"
#include "fontslots.h"
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

// ---- Backdrop fonts from the archive ----

// Saves the buffer under the temporary directory and adds it as a font. 0 when it cannot be
// saved (logged).
static int SaveFont(const char *name, const void *data, int32_t size) {
    char folder[FONT_PATH_SIZE], path[FONT_PATH_SIZE] = "";
    // Refused: a cut path is another file, and the one Script_Release would remove.
    if (!Path_TempDir(folder, sizeof folder) ||
        Str_Format(path, sizeof path, "%s%s", folder, name) < 0 ||
        !File_WriteAll(path, data, size)) {
        Log_Print("Unable to save '%s'\n", path);
        return 0;
    }
    return Font_AddTemporary(path);
}

int Font_Extract(const char *name) {
    CORE_GUARD(name);
    FfsBlock font;
    int loaded = Ffs_LoadBlock(name, INT32_MAX, 0, 0, &font);
    // A font without bytes has no size to speak of.
    if (loaded == FFS_LOAD_NO_SIZE || font.Size <= 0) {
        Log_Print("Unable to get size for '%s'\n", name);
        Ffs_FreeBlock(&font);
        return 0;
    }
    if (loaded != FFS_LOAD_DONE) {
        Log_Print("Unable to load '%s'\n", name);
        return 0;
    }
    int saved = SaveFont(name, font.Data, font.Size);
    Ffs_FreeBlock(&font);
    return saved;
}
