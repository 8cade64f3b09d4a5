// The setter commands that fill the install state from the script, and the backdrop's
// commands (gradient, fonts, strings, refresh), with their bindings to the keyword table.
#include "settings.h"

#include <stddef.h>
#include <string.h>

#include "actions.h"
#include "ffs.h"
#include "fontslots.h"
#include "keywords.h"
#include "tessel-core.h"
#include "tessel-str.h"

// ---- Setter commands ----
// Text fields that name something on the machine (a registry key, a directory, a file) refuse
// an argument that does not fit, so that nothing is installed under a cut name; fields that
// are only shown or carried along keep the part that fits. Both leave a line in the log.

// The text setters, one row each in BINDINGS: the argument into the state's field, cut or
// refused as the keyword table says. Refused: the company and the product name (parts of the
// uninstall key), the registry path (a subkey). Cut: the caption (a dialog's title or prompt)
// and what is only carried along (the product version, the install name, the update URL).
static int SetTextField(int32_t id, char *field, int32_t size, const char *arguments,
                        int32_t *cursor) {
    const KeywordInfo *info = Keyword_Info(id);
    CmdFieldRule rule = info->Args[0].Kind == ARG_REFUSE ? CMD_REFUSE : CMD_CUT;
    return Cmd_ReadField(info->Keyword, arguments, field, size, rule, cursor);
}

template <int32_t Id, size_t Offset, int32_t Size>
static int SetText(InstallState *state, const char *arguments, int32_t *cursor) {
    return SetTextField(Id, (char *)state + Offset, Size, arguments, cursor);
}

#define TEXT_SETTER(id, field)                                                                     \
    { id, SetText<id, offsetof(InstallState, field), (int32_t)sizeof(InstallState::field)> }

static int SetInstallSize(InstallState *state, const char *arguments, int32_t *cursor) {
    // Refused: a number outside the 32-bit signed range.
    int32_t value = 0;
    if (!Cmd_ReadNumber(arguments, &value, cursor)) {
        Log_Print("Number out of range for '%s'\n", "INSTALL SIZE");
        return 0;
    }
    state->InstallSizeKB = value;
    return 1;
}

static int SetInstallDir(InstallState *state, const char *arguments, int32_t *cursor) {
    // Refused: a directory, and the backslash that is appended must fit as well.
    int32_t length = Cmd_ArgLength(arguments, *cursor);
    int needsBackslash = length > 0 && arguments[*cursor + length - 1] != '\\';
    int32_t room = (int32_t)sizeof state->InstallDir - 1 - needsBackslash;
    if (length > room) {
        Log_Print("Argument of '%s' too long (%d > %d)\n", "INSTALL DIR", length, room);
        return 0;
    }
    Cmd_ReadArg(arguments, state->InstallDir, sizeof state->InstallDir, cursor);
    if (needsBackslash) Str_Append(state->InstallDir, "\\");
    return 1;
}

static int SetUninstallName(InstallState *state, const char *arguments, int32_t *cursor) {
    // Refused: the path the uninstaller is written to.
    if (!Cmd_ReadField("UNINSTALL NAME", arguments, state->UninstallName,
                       sizeof state->UninstallName, CMD_REFUSE, cursor))
        return 0;
    int32_t uninstallerSize = 0;
    if (!Ffs_GetSize("uninst.exe", &uninstallerSize)) {
        Log_Print("Unable to get size for uninstaller\n");
        return 1;
    }
    // The uninstaller is written with the script appended; its share is added in whole KB.
    // Refused: a total outside the 32-bit signed range.
    int64_t total = (int64_t)state->InstallSizeKB +
                    (((int64_t)state->ScriptSize + (int64_t)uninstallerSize) >> 10);
    if (total > INT32_MAX || total < INT32_MIN) {
        Log_Print("Number out of range for '%s'\n", "UNINSTALL NAME");
        return 0;
    }
    state->InstallSizeKB = (int32_t)total;
    return 1;
}

// The list stays where it is, inside the script; only its items are counted.
static int SetList(const char *arguments, const char **list, int32_t *count, int32_t *cursor) {
    *list = arguments + *cursor;
    *count = 1;
    return Cmd_CountList(arguments, ',', count, cursor);
}

static int SetFileList(InstallState *state, const char *arguments, int32_t *cursor) {
    // No copy, no bound: the count cannot exceed the script's size.
    return SetList(arguments, &state->FileList, &state->FileCount, cursor);
}

static int SetTempList(InstallState *state, const char *arguments, int32_t *cursor) {
    return SetList(arguments, &state->TempList, &state->TempCount, cursor);
}

static int SetListServer(InstallState *state, const char *arguments, int32_t *cursor) {
    // The number is read straight from its argument (no field, so no bound); refused when
    // outside the 32-bit signed range. The second argument replaces the first in
    // ListServerAddress. ListServerAddress and ListServerList are cut: carried along, read by
    // nothing.
    if (!Cmd_ReadNumber(arguments, &state->ListServerNumber, cursor)) {
        Log_Print("Number out of range for '%s'\n", "LISTSERVER");
        return 0;
    }
    Cmd_ReadField("LISTSERVER", arguments, state->ListServerAddress,
                  sizeof state->ListServerAddress, CMD_CUT, cursor);
    Cmd_ReadField("LISTSERVER", arguments, state->ListServerList, sizeof state->ListServerList,
                  CMD_CUT, cursor);
    return 1;
}

// ---- Backdrop commands ----
// Every argument of these commands is read into a field of CMD_BACKDROP_ARG_SIZE bytes. Colours,
// numbers and flags are cut when longer (only their leading part is read anyway); face names
// and font archive names are refused (a cut name is another font); a string's text is read
// into the slot's own field and cut there. Slot numbers start at 1, and the tables grow to the
// highest number used, up to BACKDROP_SLOT_LIMIT: a larger number is refused, so that a typing
// error cannot ask for gigabytes or overflow the table's size.

enum { CMD_BACKDROP_ARG_SIZE = 80, BACKDROP_SLOT_LIMIT = 1024 };

static const struct {
    const char *name;
    uint32_t bit;
} STRING_FLAGS[] = {
    {"ITALIC", BACKDROP_ITALIC},
    {"BOLD", BACKDROP_BOLD},
    {"UNDERLINE", BACKDROP_UNDERLINE},
    {"LEFT", 0}, // the default anchor
    {"DOWN", 0}, // the default anchor
    {"RIGHT", BACKDROP_RIGHT},
    {"UP", BACKDROP_UP},
    {"CENTERX", BACKDROP_CENTERX},
    {"CENTERY", BACKDROP_CENTERY},
};

static int ReadColor(const char *keyword, const char *arguments, uint8_t (&color)[3],
                     int32_t *cursor) {
    char text[CMD_BACKDROP_ARG_SIZE];
    Cmd_ReadField(keyword, arguments, text, sizeof text, CMD_CUT, cursor);
    // Cut: values beyond the third are not stored.
    if (!Cmd_ParseBytes(color, text)) Log_Print("Colour of '%s' cut to 3 values\n", keyword);
    return 1;
}

static int SetGradientStart(InstallState *state, const char *arguments, int32_t *cursor) {
    return ReadColor("GRADIENT START", arguments, state->GradientStart, cursor);
}

static int SetGradientEnd(InstallState *state, const char *arguments, int32_t *cursor) {
    return ReadColor("GRADIENT END", arguments, state->GradientEnd, cursor);
}

// Reads the slot number and makes the slot exist in *table (*count slots of slotSize bytes),
// growing the table to that number when it is larger. Returns the slot, or null with one log
// line for a number that is refused. Fatal for a number of 0 or below.
static void *SelectSlot(const char *keyword, const char *arguments, void **table, int32_t *count,
                        int32_t slotSize, int32_t *cursor) {
    int32_t number = 0;
    if (!Cmd_ReadNumber(arguments, &number, cursor) || number > BACKDROP_SLOT_LIMIT) {
        Log_Print("Slot number of '%s' out of range (%d > %d)\n", keyword, (int)number,
                  BACKDROP_SLOT_LIMIT);
        return nullptr;
    }
    if (number <= 0) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("Invalid string ID (%d / %d)\n", (int)number, (int)*count);
    }
    if (number > *count) {
        char *grown = (char *)TESSEL_ALLOC(number * slotSize); // zero-filled
        if (*table) {
            memcpy(grown, *table, (size_t)(*count * slotSize));
            TESSEL_FREE(*table, *count * slotSize);
        }
        *table = grown;
        *count = number;
    }
    return (char *)*table + (number - 1) * slotSize;
}

static int SetString(InstallState *state, const char *arguments, int32_t *cursor) {
    BackdropString *slot =
        (BackdropString *)SelectSlot("STRING", arguments, (void **)&state->Strings,
                                     &state->StringCount, (int32_t)sizeof(BackdropString), cursor);
    if (!slot) return 0;
    // Read into a copy first: a refused face name leaves the slot as it was.
    BackdropString string;
    memset(&string, 0, sizeof string);
    char field[CMD_BACKDROP_ARG_SIZE];
    if (!Cmd_ReadField("STRING", arguments, string.FaceName, sizeof string.FaceName, CMD_REFUSE,
                       cursor))
        return 0;
    float *numbers[] = {&string.FontWidth, &string.FontHeight, &string.X, &string.Y};
    for (float *number : numbers) {
        Cmd_ReadField("STRING", arguments, field, sizeof field, CMD_CUT, cursor);
        *number = (float)Str_ToFloat(field);
    }
    ReadColor("STRING", arguments, string.Color, cursor);
    Cmd_ReadField("STRING", arguments, field, sizeof field, CMD_CUT, cursor);
    Str_Upper(field);
    const char *found = nullptr;
    for (const auto &flag : STRING_FLAGS)
        if (Str_Find(field, flag.name, &found)) string.Flags |= flag.bit;
    Cmd_ReadField("STRING", arguments, string.Text, sizeof string.Text, CMD_CUT, cursor);
    *slot = string;
    return 1;
}

static int AddFont(InstallState *state, const char *arguments, int32_t *cursor) {
    FontSlot *slot = (FontSlot *)SelectSlot("FONT", arguments, (void **)&state->Fonts,
                                            &state->FontCount, (int32_t)sizeof(FontSlot), cursor);
    if (!slot) return 0;
    char name[CMD_BACKDROP_ARG_SIZE];
    if (!Cmd_ReadField("FONT", arguments, name, sizeof name, CMD_REFUSE, cursor)) return 0;
    // A slot given again lets go of its earlier font first: only the slot's last name is
    // removed at the end of the run.
    if ((*slot)[0]) FontSlot_Remove(state->Fonts, (int32_t)(slot - state->Fonts));
    Str_Copy(*slot, name);
    return Actions_Get()->ExtractFont(name);
}

static int Refresh(InstallState *state, const char *arguments, int32_t *cursor) {
    (void)arguments;
    (void)cursor;
    if (state->Window) Actions_Get()->RefreshBackdrop(state->Window);
    return 1;
}

static const CommandBinding BINDINGS[] = {
    TEXT_SETTER(KW_COMPANY_NAME, CompanyName),
    TEXT_SETTER(KW_PRODUCT_NAME, ProductName),
    TEXT_SETTER(KW_PRODUCT_VERSION, ProductVersion),
    TEXT_SETTER(KW_TEXT, Caption),
    {KW_FILE_LIST, SetFileList},
    {KW_TEMP_LIST, SetTempList},
    {KW_GRADIENT_START, SetGradientStart},
    {KW_GRADIENT_END, SetGradientEnd},
    {KW_FONT, AddFont},
    {KW_STRING, SetString},
    {KW_REFRESH, Refresh},
    {KW_LISTSERVER, SetListServer},
    TEXT_SETTER(KW_UPDATE_URL, UpdateUrl),
    TEXT_SETTER(KW_REGISTRY_PATH, RegistryPath),
    {KW_INSTALL_SIZE, SetInstallSize},
    {KW_INSTALL_DIR, SetInstallDir},
    TEXT_SETTER(KW_INSTALL_NAME, InstallName),
    {KW_UNINSTALL_NAME, SetUninstallName},
};

const CommandBinding *Settings_Bindings(int32_t *count) {
    CORE_GUARD(count);
    *count = (int32_t)(sizeof BINDINGS / sizeof BINDINGS[0]);
    return BINDINGS;
}
