// The command registry (keyword list ordered by length, matched by quick CRC), the argument
// readers, and the command handlers of the keyword table but the settings' (settings.cpp): the
// directory and the files, the commands that show texts and deal with other programs, and those
// that make the program group and close the installation. Whatever reaches the machine goes
// through the engine's actions.
#include "command.h"

#include <string.h>

#include "actions.h"
#include "settings.h"
#include "tessel-core.h"
#include "tessel-str.h"

static struct {
    CommandEntry *head; // longest keyword first
} S;

// ---- The directory and the files ----

static int ChooseInstallPath(InstallState *state, const char *arguments, int32_t *cursor) {
    // Cut: the dialog's prompt.
    Cmd_ReadField("INSTALL PATH", arguments, state->Caption, sizeof state->Caption, CMD_CUT,
                  cursor);
    if (Str_Length(state->Caption) < 4)
        Str_Copy(state->Caption, "Please select the destination directory...");
    return Actions_Get()->ChooseInstallPath(state);
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
    Cmd_StepPast(arguments, length, cursor);
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

int Cmd_ReadWindow(const char *arguments, WindowArgs *window, int32_t *cursor) {
    CORE_GUARD(window);
    memset(window, 0, sizeof *window);
    char mode[CMD_SWITCH_SIZE];
    // Cut: only the mode's first character counts; the prompt is only shown. The budget is read
    // straight from its argument (no field, so no bound), refused outside 32 signed bits.
    Cmd_ReadField("WINDOW", arguments, mode, sizeof mode, CMD_CUT, cursor);
    window->Mode = mode[0] == '1'   ? WND_CLOSE_TELL
                   : mode[0] == '2' ? WND_CLOSE_ASK
                                    : WND_CLOSE_SILENT;
    int ready = Cmd_ReadNumber(arguments, &window->Milliseconds, cursor);
    if (!ready) {
        Log_Print("Number out of range for '%s'\n", "WINDOW");
        window->Milliseconds = 0;
    }
    ready &= ReadName("WINDOW", arguments, window->Title, sizeof window->Title, cursor);
    ready &= ReadName("WINDOW", arguments, window->Class, sizeof window->Class, cursor);
    ready &= ReadName("WINDOW", arguments, window->Relaunch, sizeof window->Relaunch, cursor);
    Cmd_ReadField("WINDOW", arguments, window->Prompt, sizeof window->Prompt, CMD_CUT, cursor);
    return ready;
}

static int CloseWindows(InstallState *state, const char *arguments, int32_t *cursor) {
    WindowArgs window;
    int ready = Cmd_ReadWindow(arguments, &window, cursor);
    // An empty relaunch program expands to the installation folder itself, which DONE then
    // opens.
    uint32_t flags = 0;
    state->RelaunchPath[0] = 0;
    if (ready)
        ready = Actions_Get()->ExpandPath(state, window.Relaunch, state->RelaunchPath,
                                          sizeof state->RelaunchPath, &flags);
    if (!ready) return 0;
    if (Actions_Get()->CloseWindows(state, window.Mode, window.Milliseconds, window.Title,
                                    window.Class, window.Relaunch, window.Prompt))
        return 1;
    Log_Print("Unable to close Window %d:'%s' '%s'\n", window.Mode, window.Title, window.Class);
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
    Actions_Get()->RegisterServer(
        expanded, Str_EqualNoCase(verb, "REGISTER") ? 1 : 0); // failures: logged only
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
    if (ready)
        Actions_Get()->AddItem(state, target, parameters, iconIndex < 0 ? 0 : iconIndex, itemName);
    return 1;
}

static int Finish(InstallState *state, const char *arguments, int32_t *cursor) {
    char message[INSTALL_PATH_SIZE];
    Cmd_ReadField("DONE", arguments, message, sizeof message, CMD_CUT, cursor);
    // A product that was to be removable and is not: the installation is not complete.
    if (state->UninstallName[0] && !Actions_Get()->RegisterUninstall(state)) return 0; // logged
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
// The settings and the backdrop's commands are bound in settings.cpp; BREAK belongs to the
// interpreter, which registers it itself.
static const CommandBinding HANDLERS[] = {
    {KW_CREATE_GROUP, CreateGroup},
    {KW_ADD_ITEM, AddItem},
    {KW_EXECUTE, Execute},
    {KW_WINDOW, CloseWindows},
    {KW_OLE, RegisterServer},
    {KW_AGREEMENT, ShowAgreement},
    {KW_MESSAGE, ShowMessage},
    {KW_INSTALL, InstallFiles},
    {KW_DONE, Finish},
    {KW_INSTALL_PATH, ChooseInstallPath},
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

static CommandHandler HandlerOf(int32_t id) {
    for (const auto &row : HANDLERS)
        if (row.Id == id) return row.Handler;
    int32_t count = 0;
    const CommandBinding *settings = Settings_Bindings(&count);
    for (int32_t i = 0; i < count; i++)
        if (settings[i].Id == id) return settings[i].Handler;
    return nullptr;
}

int Cmd_RegisterAll(void) {
    for (int32_t id = 0; id < KW_COUNT; id++) {
        CommandHandler handler = HandlerOf(id);
        if (handler) Cmd_Register(Keyword_Info(id)->Keyword, handler);
    }
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
