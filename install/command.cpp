// The command registry (keyword list ordered by length, matched by quick CRC), the argument
// readers, and the command handlers bound to the keyword table: the setter commands that fill
// the install state from the script, the backdrop commands, the commands that show texts and
// deal with other programs, and those that make the program group and close the installation.
// Whatever reaches the machine goes through the engine's actions.
#include "command.h"

#include <string.h>

#include "actions.h"
#include "ffs.h"
#include "fontslots.h"
#include "programs.h"
#include "shortcuts.h"
#include "tessel-core.h"

static struct {
    CommandEntry *head; // longest keyword first
} S;

// ---- Setter commands ----
// Text fields that name something on the machine (a registry key, a directory, a file) refuse
// an argument that does not fit, so that nothing is installed under a cut name; fields that
// are only shown or carried along keep the part that fits. Both leave a line in the log.

static int SetCompanyName(InstallState *state, const char *arguments, int32_t *cursor) {
    // Refused: the company name is part of the uninstall key.
    return Cmd_ReadField("COMPANY NAME", arguments, state->CompanyName, sizeof state->CompanyName,
                         CMD_REFUSE, cursor);
}

static int SetProductName(InstallState *state, const char *arguments, int32_t *cursor) {
    // Refused: the product name is part of the uninstall key.
    return Cmd_ReadField("PRODUCT NAME", arguments, state->ProductName, sizeof state->ProductName,
                         CMD_REFUSE, cursor);
}

static int SetProductVersion(InstallState *state, const char *arguments, int32_t *cursor) {
    // Cut: carried along, read by nothing.
    return Cmd_ReadField("PRODUCT VERSION", arguments, state->ProductVersion,
                         sizeof state->ProductVersion, CMD_CUT, cursor);
}

static int SetCaption(InstallState *state, const char *arguments, int32_t *cursor) {
    // Cut: a dialog's title or prompt.
    return Cmd_ReadField("TEXT", arguments, state->Caption, sizeof state->Caption, CMD_CUT, cursor);
}

static int SetRegistryPath(InstallState *state, const char *arguments, int32_t *cursor) {
    // Refused: a registry subkey.
    return Cmd_ReadField("REGISTRY PATH", arguments, state->RegistryPath,
                         sizeof state->RegistryPath, CMD_REFUSE, cursor);
}

static int SetInstallName(InstallState *state, const char *arguments, int32_t *cursor) {
    // Cut: carried along, read by nothing.
    return Cmd_ReadField("INSTALL NAME", arguments, state->InstallName, sizeof state->InstallName,
                         CMD_CUT, cursor);
}

static int SetUpdateUrl(InstallState *state, const char *arguments, int32_t *cursor) {
    // Cut: carried along, read by nothing.
    return Cmd_ReadField("UPDATE URL", arguments, state->UpdateUrl, sizeof state->UpdateUrl,
                         CMD_CUT, cursor);
}

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

static int ChooseInstallPath(InstallState *state, const char *arguments, int32_t *cursor) {
    // Cut: the dialog's prompt.
    Cmd_ReadField("INSTALL PATH", arguments, state->Caption, sizeof state->Caption, CMD_CUT,
                  cursor);
    if (Str_Length(state->Caption) < 4)
        Str_Copy(state->Caption, "Please select the destination directory...");
    return Actions_Get()->ChooseInstallPath(state);
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
static void *SelectSlot(const char *keyword, const char *arguments, void **table,
                        int32_t *count, int32_t slotSize, int32_t *cursor) {
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
    BackdropString *slot = (BackdropString *)SelectSlot(
        "STRING", arguments, (void **)&state->Strings, &state->StringCount,
        (int32_t)sizeof(BackdropString), cursor);
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

// No argument: the work reaches the system.
static int InstallFiles(InstallState *state, const char *arguments, int32_t *cursor) {
    (void)arguments;
    (void)cursor;
    return Actions_Get()->InstallFiles(state);
}

// ---- Prompt and program commands ----
// Names of files and programs (archive names, programs, parameters, servers, the relaunch
// program) and the window names WINDOW looks for are refused when they do not fit their
// field: a cut name starts, registers or closes something else. Texts that are only shown or
// only looked at in their first character are cut. EXECUTE and OLE never fail the command:
// what they refuse is only logged and nothing is started or registered.

static void StepPast(const char *arguments, int32_t length, int32_t *cursor);

enum {
    CMD_TEXT_NAME_SIZE = 260, // archive name of a MESSAGE or AGREEMENT text
    CMD_SWITCH_SIZE = 20,     // EXECUTE's expansion mode and note, WINDOW's mode
    CMD_PROGRAM_SIZE = 260,   // EXECUTE's program, OLE's server
    CMD_PARAMETERS_SIZE = 320,
    CMD_VERB_SIZE = 40,
};

// Reads a name that is refused when too long; a refused one leaves field empty, is logged and
// is stepped over, so that the arguments after it are read as they stand. 1 when it fitted.
static int ReadName(const char *keyword, const char *arguments, char *field, int32_t size,
                    int32_t *cursor) {
    int32_t length = Cmd_ArgLength(arguments, *cursor);
    if (Cmd_ReadField(keyword, arguments, field, size, CMD_REFUSE, cursor)) return 1;
    field[0] = 0;
    StepPast(arguments, length, cursor);
    return 0;
}

typedef int (*TextDialog)(void *owner, const char *caption, const char *name);

// MESSAGE and AGREEMENT: the text's dialog under Caption or the default title; Caption is
// emptied in every case, quiet mode included. 0 when the user leaves the setup.
static int ShowText(InstallState *state, const char *keyword, const char *arguments,
                    int32_t *cursor, const char *defaultTitle, TextDialog dialog) {
    char name[CMD_TEXT_NAME_SIZE];
    int result = ReadName(keyword, arguments, name, sizeof name, cursor);
    if (result) {
        if (!state->Caption[0]) Str_Copy(state->Caption, defaultTitle);
        if (state->Mode != Quiet) result = dialog(state->Window, state->Caption, name);
    }
    state->Caption[0] = 0;
    return result;
}

static int ShowAgreement(InstallState *state, const char *arguments, int32_t *cursor) {
    return ShowText(state, "AGREEMENT", arguments, cursor, "End User Agreement...",
                    Actions_Get()->ShowAgreement);
}

static int ShowMessage(InstallState *state, const char *arguments, int32_t *cursor) {
    return ShowText(state, "MESSAGE", arguments, cursor, "Welcome...", Actions_Get()->ShowMessage);
}

// Replaces text (size bytes) by its expansion; 0 when the expansion is refused (logged).
static int ExpandInPlace(const InstallState *state, char *text, int size) {
    char expanded[CMD_PARAMETERS_SIZE];
    uint32_t flags = 0;
    if (!Actions_Get()->ExpandPath(state, text, expanded, size, &flags)) return 0;
    Str_Copy(text, expanded);
    return 1;
}

static int Execute(InstallState *state, const char *arguments, int32_t *cursor) {
    char expansion[CMD_SWITCH_SIZE], note[CMD_SWITCH_SIZE];
    char program[CMD_PROGRAM_SIZE], parameters[CMD_PARAMETERS_SIZE];
    // Cut: only the first character of the mode counts, the note is not used.
    Cmd_ReadField("EXECUTE", arguments, expansion, sizeof expansion, CMD_CUT, cursor);
    Cmd_ReadField("EXECUTE", arguments, note, sizeof note, CMD_CUT, cursor);
    int ready = ReadName("EXECUTE", arguments, program, sizeof program, cursor);
    ready &= ReadName("EXECUTE", arguments, parameters, sizeof parameters, cursor);
    // "0" expands both, "1" only the parameters, "2" only the program.
    if (ready && (expansion[0] == '0' || expansion[0] == '2'))
        ready = ExpandInPlace(state, program, sizeof program);
    if (ready && (expansion[0] == '0' || expansion[0] == '1'))
        ready = ExpandInPlace(state, parameters, sizeof parameters);
    if (!ready || state->Mode == Quiet) return 1;
    int32_t exitCode = 0;
    Actions_Get()->RunProgram(program, parameters, 0, &exitCode);
    Log_Print("Executed '%s' with a result of '%d'\n", program, (int)exitCode);
    return 1;
}

static int CloseWindows(InstallState *state, const char *arguments, int32_t *cursor) {
    char mode[CMD_SWITCH_SIZE];
    char title[WND_NAME_SIZE], windowClass[WND_NAME_SIZE], prompt[WND_NAME_SIZE];
    char relaunch[INSTALL_PATH_SIZE];
    int32_t milliseconds = 0;
    // Cut: only the mode's first character counts; the prompt is only shown. The budget is read
    // straight from its argument (no field, so no bound), refused outside 32 signed bits.
    Cmd_ReadField("WINDOW", arguments, mode, sizeof mode, CMD_CUT, cursor);
    int ready = Cmd_ReadNumber(arguments, &milliseconds, cursor);
    if (!ready) Log_Print("Number out of range for '%s'\n", "WINDOW");
    ready &= ReadName("WINDOW", arguments, title, sizeof title, cursor);
    ready &= ReadName("WINDOW", arguments, windowClass, sizeof windowClass, cursor);
    ready &= ReadName("WINDOW", arguments, relaunch, sizeof relaunch, cursor);
    Cmd_ReadField("WINDOW", arguments, prompt, sizeof prompt, CMD_CUT, cursor);
    // Without a relaunch program there is nothing to start again: the empty text would expand
    // to the installation folder itself.
    uint32_t flags = 0;
    state->RelaunchPath[0] = 0;
    if (ready && relaunch[0])
        ready = Actions_Get()->ExpandPath(state, relaunch, state->RelaunchPath,
                                          sizeof state->RelaunchPath, &flags);
    if (!ready) return 0;
    int closeMode = mode[0] == '1'   ? WND_CLOSE_TELL
                    : mode[0] == '2' ? WND_CLOSE_ASK
                                     : WND_CLOSE_SILENT;
    if (Actions_Get()->CloseWindows(state, closeMode, milliseconds, title, windowClass, relaunch, prompt))
        return 1;
    Log_Print("Unable to close Window %d:'%s' '%s'\n", closeMode, title, windowClass);
    return 0;
}

static int RegisterServer(InstallState *state, const char *arguments, int32_t *cursor) {
    char verb[CMD_VERB_SIZE], server[CMD_PROGRAM_SIZE], expanded[CMD_PROGRAM_SIZE];
    // Cut: a verb too long for its field is not "REGISTER" either way.
    Cmd_ReadField("OLE", arguments, verb, sizeof verb, CMD_CUT, cursor);
    uint32_t flags = 0;
    if (!ReadName("OLE", arguments, server, sizeof server, cursor) ||
        !Actions_Get()->ExpandPath(state, server, expanded, sizeof expanded, &flags))
        return 1;
    Log_Print("OLE: %s '%s'\n", verb, expanded);
    Actions_Get()->RegisterServer(expanded, Str_EqualNoCase(verb, "REGISTER") ? 1 : 0); // failures: logged only
    return 1;
}

// ---- Program group, shortcuts and the end of the installation ----
// The group names a folder and is refused when too long, which fails the command: the items
// that follow would otherwise land in the group before. ADD ITEM refuses its target, arguments
// and item name (a cut one names or starts something else) and only logs that: nothing is
// made, the script goes on. DONE's closing message is cut: it is only shown.

static int CreateGroup(InstallState *state, const char *arguments, int32_t *cursor) {
    (void)state;
    char name[SHELL_GROUP_SIZE];
    if (!ReadName("CREATE GROUP", arguments, name, sizeof name, cursor)) return 0;
    return Actions_Get()->CreateGroup(name);
}

static int AddItem(InstallState *state, const char *arguments, int32_t *cursor) {
    char target[INSTALL_TEXT_SIZE], parameters[INSTALL_TEXT_SIZE], itemName[INSTALL_TEXT_SIZE];
    // The icon index is read straight from its argument (no field, so no bound); refused
    // outside 32 signed bits, and a negative one counts as 0.
    int32_t iconIndex = 0;
    int ready = Cmd_ReadNumber(arguments, &iconIndex, cursor);
    if (!ready) Log_Print("Number out of range for '%s'\n", "ADD ITEM");
    ready &= ReadName("ADD ITEM", arguments, target, sizeof target, cursor);
    ready &= ReadName("ADD ITEM", arguments, parameters, sizeof parameters, cursor);
    ready &= ReadName("ADD ITEM", arguments, itemName, sizeof itemName, cursor);
    if (ready) Actions_Get()->AddItem(state, target, parameters, iconIndex < 0 ? 0 : iconIndex, itemName);
    return 1;
}

static int Finish(InstallState *state, const char *arguments, int32_t *cursor) {
    char message[INSTALL_PATH_SIZE];
    Cmd_ReadField("DONE", arguments, message, sizeof message, CMD_CUT, cursor);
    if (state->UninstallName[0]) Actions_Get()->RegisterUninstall(state); // a refused entry is logged
    if (state->RelaunchPath[0]) {
        int32_t exitCode = 0;
        Actions_Get()->RunProgram(state->RelaunchPath, "", 0, &exitCode); // a failure is logged
    }
    if (!state->Caption[0]) Str_Copy(state->Caption, "Installation Complete!");
    if (state->Mode != Quiet) {
        Actions_Get()->Problem(message, state->Caption);
        state->Caption[0] = 0;
    }
    return 1;
}

// ---- Handlers of the keyword table ----
// BREAK belongs to the interpreter, which registers it itself.
static const struct {
    int32_t id;
    CommandHandler handler;
} HANDLERS[] = {
    {KW_COMPANY_NAME, SetCompanyName},
    {KW_PRODUCT_NAME, SetProductName},
    {KW_PRODUCT_VERSION, SetProductVersion},
    {KW_TEXT, SetCaption},
    {KW_FILE_LIST, SetFileList},
    {KW_TEMP_LIST, SetTempList},
    {KW_GRADIENT_START, SetGradientStart},
    {KW_GRADIENT_END, SetGradientEnd},
    {KW_FONT, AddFont},
    {KW_STRING, SetString},
    {KW_REFRESH, Refresh},
    {KW_CREATE_GROUP, CreateGroup},
    {KW_ADD_ITEM, AddItem},
    {KW_EXECUTE, Execute},
    {KW_WINDOW, CloseWindows},
    {KW_OLE, RegisterServer},
    {KW_AGREEMENT, ShowAgreement},
    {KW_MESSAGE, ShowMessage},
    {KW_LISTSERVER, SetListServer},
    {KW_UPDATE_URL, SetUpdateUrl},
    {KW_INSTALL, InstallFiles},
    {KW_DONE, Finish},
    {KW_REGISTRY_PATH, SetRegistryPath},
    {KW_INSTALL_SIZE, SetInstallSize},
    {KW_INSTALL_DIR, SetInstallDir},
    {KW_INSTALL_PATH, ChooseInstallPath},
    {KW_INSTALL_NAME, SetInstallName},
    {KW_UNINSTALL_NAME, SetUninstallName},
};

// ---- Registry ----

int Cmd_Register(const char *keyword, CommandHandler handler) {
    CORE_GUARD(keyword);
    CORE_GUARD((const void *)handler);
    int32_t length = Str_Length(keyword);
    if (length >= KEYWORD_SIZE)
        Core_Abort("Command keyword too long (%s) (%d > %d)\n", keyword, length, KEYWORD_SIZE);
    CommandEntry *entry = (CommandEntry *)TESSEL_ALLOC(sizeof(CommandEntry));
    entry->Length = length;
    entry->Handler = handler;
    Str_Copy(entry->Keyword, keyword);
    Str_QuickCrc(entry->Keyword, &entry->QuickCrc);

    for (CommandEntry *other = S.head; other; other = other->Next) {
        if (other->QuickCrc != entry->QuickCrc) continue;
        Log_Print("Matching quick CRC's (%s) and (%s)\n", other->Keyword, entry->Keyword);
        if (other->Length == entry->Length) Core_Abort("Matching lengths failure (%d)\n", length);
    }

    CommandEntry **link = &S.head;
    while (*link && (*link)->Length > length) link = &(*link)->Next;
    entry->Next = *link;
    *link = entry;
    return 1;
}

int Cmd_RegisterAll(void) {
    for (int32_t id = 0; id < KW_COUNT; id++)
        for (const auto &row : HANDLERS)
            if (row.id == id) Cmd_Register(Keyword_Info(id)->Keyword, row.handler);
    return 1;
}

static const CommandEntry *FindEntry(const char *word) {
    uint32_t crc = 0;
    Str_QuickCrc(word, &crc);
    int32_t length = Str_Length(word);
    for (const CommandEntry *entry = S.head; entry; entry = entry->Next) {
        if (entry->Length < length) break;
        if (entry->Length == length && entry->QuickCrc == crc) return entry;
    }
    return nullptr;
}

int Cmd_Find(const char *word) {
    CORE_GUARD(word);
    return FindEntry(word) != nullptr;
}

int Cmd_Dispatch(const char *word, InstallState *state, const char *arguments, int32_t *cursor) {
    CORE_GUARD(word);
    CORE_GUARD(state);
    CORE_GUARD(arguments);
    CORE_GUARD(cursor);
    *cursor = 0;
    const CommandEntry *entry = FindEntry(word);
    if (!entry) return 0;
    return entry->Handler(state, arguments, cursor);
}

int Cmd_ReleaseAll(void) {
    while (S.head) {
        CommandEntry *entry = S.head;
        S.head = entry->Next;
        TESSEL_FREE(entry, sizeof(CommandEntry));
    }
    return 1;
}

// ---- Argument readers ----

int32_t Cmd_ArgLength(const char *arguments, int32_t cursor) {
    CORE_GUARD(arguments);
    int32_t length = 0;
    while (!Keyword_IsTerminator(arguments[cursor + length])) length++;
    return length;
}

// Moves the cursor past an argument of length bytes and its terminator; a zero byte is the
// end of the text and is never stepped over.
static void StepPast(const char *arguments, int32_t length, int32_t *cursor) {
    *cursor += length;
    if (arguments[*cursor] != 0) *cursor += 1;
}

int Cmd_ReadArg(const char *arguments, char *destination, int32_t size, int32_t *cursor) {
    CORE_GUARD(arguments);
    CORE_GUARD(destination);
    CORE_GUARD(cursor);
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(size >= 1, "Argument field of %d bytes\n", size);
    int32_t length = Cmd_ArgLength(arguments, *cursor);
    int32_t kept = length < size ? length : size - 1;
    memcpy(destination, arguments + *cursor, (size_t)kept);
    destination[kept] = 0;
    StepPast(arguments, length, cursor);
    return kept == length;
}

int Cmd_CountList(const char *arguments, char separator, int32_t *count, int32_t *cursor) {
    CORE_GUARD(arguments);
    CORE_GUARD(count);
    CORE_GUARD(cursor);
    for (; !Keyword_IsTerminator(arguments[*cursor]); (*cursor)++)
        if (arguments[*cursor] == separator) (*count)++;
    return 1;
}

// Decimal number at text: blanks, sign, digits; stops at the first other byte. *value gets the
// low 32 bits of the number; returns 0 when the number does not fit 32 signed bits.
static int ParseDecimal(const char *text, int32_t *value) {
    const char *p = text;
    while (*p == ' ') p++;
    int negative = 0;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    uint32_t low = 0;
    uint64_t magnitude = 0; // saturates once out of range
    for (; *p >= '0' && *p <= '9'; p++) {
        low = low * 10u + (uint32_t)(*p - '0');
        if (magnitude <= 0x80000000u) magnitude = magnitude * 10u + (uint64_t)(*p - '0');
    }
    *value = (int32_t)(negative ? 0u - low : low);
    return magnitude <= (negative ? 0x80000000u : 0x7FFFFFFFu);
}

int Cmd_ReadNumber(const char *arguments, int32_t *value, int32_t *cursor) {
    CORE_GUARD(arguments);
    CORE_GUARD(value);
    CORE_GUARD(cursor);
    // Blanks, signs and digits are never terminators, so the number lies inside the argument.
    int inRange = ParseDecimal(arguments + *cursor, value);
    StepPast(arguments, Cmd_ArgLength(arguments, *cursor), cursor);
    return inRange;
}

int Cmd_ParseBytes(uint8_t *destination, int32_t size, char *text) {
    CORE_GUARD(destination);
    CORE_GUARD(text);
    int32_t stored = 0, pieces = 0;
    char *piece = text;
    for (char *p = text;; p++) {
        int last = Keyword_IsTerminator(*p);
        if (!last && *p != ',') continue;
        if (!last) *p = 0;
        int32_t value = 0;
        ParseDecimal(piece, &value); // only the low 8 bits are kept
        if (stored < size) destination[stored++] = (uint8_t)value;
        pieces++;
        if (last) break;
        piece = p + 1;
    }
    return pieces <= size;
}

int Cmd_ReadField(const char *keyword, const char *arguments, char *field, int32_t size,
                  CmdFieldRule rule, int32_t *cursor) {
    CORE_GUARD(keyword);
    CORE_GUARD(arguments);
    CORE_GUARD(cursor);
    int32_t length = Cmd_ArgLength(arguments, *cursor);
    if (length >= size) {
        if (rule == CMD_REFUSE) {
            Log_Print("Argument of '%s' too long (%d > %d)\n", keyword, length, size - 1);
            return 0;
        }
        Log_Print("Argument of '%s' cut to %d characters\n", keyword, size - 1);
    }
    Cmd_ReadArg(arguments, field, size, cursor);
    return 1;
}
