// Removal of the backdrop fonts that FONT added, slot by slot.
#include "fontslots.h"

#include "actions.h"
#include "tessel-core.h"
#include "tessel-sys.h"

int FontSlot_Remove(const FontSlot *fonts, int32_t index) {
    CORE_GUARD(fonts);
    const char *name = fonts[index];
    char path[FONT_PATH_SIZE];
    char folder[FONT_PATH_SIZE];
    // Refused: a path that does not fit is not a font this run added.
    int ok = Path_TempDir(folder, sizeof folder) &&
             Str_Format(path, sizeof path, "%s%s", folder, name) >= 0;
    if (ok && Actions_Get()->RemoveFont(path)) return 1;
    Log_Print("Unable to remove font '%d' '%s'\n", (int)index, name);
    return 0;
}

int FontSlot_RemoveAll(const InstallState *state) {
    CORE_GUARD(state);
    for (int32_t i = 0; i < state->FontCount; i++) FontSlot_Remove(state->Fonts, i);
    return 1;
}
