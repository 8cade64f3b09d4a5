// The script interpreter: loading "install.dat", the runs over its commands with the BREAK
// pause and the resume position, the run summary, and the release of the state and its
// backdrop fonts.
#include "iscript.h"

#include "actions.h"
#include "command.h"
#include "ffs.h"
#include "fontslots.h"
#include "scan.h"
#include "tessel-core.h"
#include "tessel-str.h"

enum {
    SCRIPT_SIZE_LIMIT = 0x7FFFFF00, // the script, its zero byte and the block guards fit 31 bits
};

int Script_Load(InstallState **slot, const char *name, int32_t mode) {
    CORE_GUARD(slot);
    CORE_GUARD(name);
    // The script and the zero byte that ends its text.
    FfsBlock script;
    int loaded = Ffs_LoadBlock(name, SCRIPT_SIZE_LIMIT, 1, 0, &script);
    if (loaded == FFS_LOAD_TOO_LARGE)
        Log_Print("Script '%s' too large (%d bytes)\n", name, script.Size);
    if (loaded != FFS_LOAD_DONE) return 0;
    InstallState *state = (InstallState *)TESSEL_ALLOC(sizeof(InstallState));
    state->ScriptText = (char *)script.Data;
    state->ScriptSize = script.Size;
    state->ScriptPosition = state->ScriptText;
    state->Mode = mode;
    *slot = state;
    return 1;
}

int Script_RegisterBreak(void) {
    return Cmd_Register(Keyword_Info(KW_BREAK)->Keyword, Script_Break);
}

int Script_Break(InstallState *state, const char *arguments, int32_t *cursor) {
    CORE_GUARD(state);
    (void)arguments;
    (void)cursor;
    return state->Mode == Quiet;
}

static void WriteSummary(const InstallState *state) {
    Log_Print("Company Name   : %s\n", state->CompanyName);
    Log_Print("Product Name   : %s\n", state->ProductName);
    Log_Print("File Count     : %d\n", state->FileCount);
    Log_Print("Install Path   : %s [%s]\n", state->InstallPath, state->InstallDir);
}

int Script_Run(InstallState *state, void *window) {
    CORE_GUARD(state);
    state->Window = window;
    const char *start = state->ScriptText;
    // Offsets, not pointers: a handler's cursor never takes the scan past the zero byte.
    int32_t size = state->ScriptSize;
    int32_t p = (int32_t)(state->ScriptPosition - start);
    ScanCommand command;
    while (Scan_Next(start, size, &p, &command)) {
        state->ScriptPosition = start + p;
        const char *keyword = command.Keyword;
        if (!Cmd_Find(keyword)) {
            Log_Print("Unknown script command '%s'\n", keyword);
            Actions_Get()->Problem("Installation script corrupted!", nullptr);
            return 0;
        }
        // At the end of the script the arguments are the empty text of its zero byte.
        const char *arguments = start + command.Arguments;
        int32_t cursor = 0;
        if (!Cmd_Dispatch(keyword, state, arguments, &cursor)) {
            if (Str_EqualNoCase(keyword, "BREAK")) {
                state->ScriptPosition = arguments;
                Log_Print("Break Encountered\n");
                return 1;
            }
            Log_Print("Command Failed '%s'\n", keyword);
            return 0;
        }
        // One byte beyond the cursor: the LF after a consumed CR, or the CR a reader stopped on.
        p = (int32_t)(arguments - start) + cursor + 1;
    }
    state->ScriptPosition = start + size;
    WriteSummary(state);
    if (state->Window) Actions_Get()->DestroyWindow(state->Window);
    return 1;
}

int Script_Release(InstallState **slot) {
    CORE_GUARD(slot);
    InstallState *state = *slot;
    if (!state) return 1;
    if (state->Strings)
        TESSEL_FREE(state->Strings, state->StringCount * (int32_t)sizeof(BackdropString));
    if (state->Fonts) {
        FontSlot_RemoveAll(state);
        TESSEL_FREE(state->Fonts, state->FontCount * (int32_t)sizeof(FontSlot));
    }
    TESSEL_FREE(state->ScriptText, state->ScriptSize + 1);
    TESSEL_FREE(*slot, sizeof(InstallState));
    return 1;
}
