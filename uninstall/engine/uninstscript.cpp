// The uninstaller's side of its script: the scrambled copy behind the uninstaller file, the
// walk over its commands, and its settings read by the setup's setters.
#include "uninstscript.h"

#include <string.h>

#include "command.h"
#include "keywords.h"
#include "scan.h"
#include "settings.h"
#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "uninst.h"

int UninstScript_Extract(const uint8_t *file, int32_t size, char **script, int32_t *scriptSize) {
    CORE_GUARD(file);
    CORE_GUARD(script);
    CORE_GUARD(scriptSize);
    *script = NULL;
    *scriptSize = 0;
    if (size < UNINST_EXTRA_SIZE) {
        Log_Print("Uninstaller too short for its script (%d bytes)\n", size);
        return 0;
    }
    uint32_t u = Le_Get32(file + size - UNINST_TRAILER_SIZE);
    // The marker and the trailer must both fit behind U.
    if (u > (uint32_t)(size - UNINST_EXTRA_SIZE)) {
        Log_Print("Uninstaller script offset out of range (%u > %d)\n", (unsigned)u,
                  size - UNINST_EXTRA_SIZE);
        return 0;
    }
    if (memcmp(file + u, UNINST_MARKER, UNINST_MARKER_SIZE) != 0) {
        Log_Print("Uninstaller script marker missing at %u\n", (unsigned)u);
        return 0;
    }
    int32_t length = size - UNINST_EXTRA_SIZE - (int32_t)u;
    char *text = (char *)TESSEL_ALLOC(length + 1); // zero-filled: the last byte ends the text
    memcpy(text, file + u + UNINST_MARKER_SIZE, (size_t)length);
    Uninst_Scramble((uint8_t *)text, length, UNINST_KEY, UNINST_KEY_LENGTH);
    *script = text;
    *scriptSize = length;
    return 1;
}

int UninstScript_Free(char **script, int32_t scriptSize) {
    CORE_GUARD(script);
    if (*script) TESSEL_FREE(*script, scriptSize + 1);
    *script = NULL;
    return 1;
}

// The commands are found as the setup's interpreter finds them: a marker, the keyword up to
// ':' (at most KEYWORD_SIZE - 1 characters), the arguments after it, and the scan goes on
// behind the arguments the keyword takes.
int UninstScript_Walk(const char *script, int32_t size, UninstVisit visit, void *context) {
    CORE_GUARD(script);
    int32_t p = 0;
    ScanCommand command;
    while (Scan_Next(script, size, &p, &command)) {
        if (command.Id < 0) {
            Log_Print("Unknown script command '%s'\n", command.Keyword);
            return 0;
        }
        if (!visit(command.Id, script + command.Arguments, context)) return 0;
        // Past the command's arguments as its handler would read them, then one byte more: the
        // LF after the consumed CR.
        p = Scan_End(script, &command) + 1;
    }
    return 1;
}

static int ApplySetting(int32_t keyword, const char *arguments, void *context) {
    static const int32_t wanted[] = {KW_COMPANY_NAME, KW_PRODUCT_NAME, KW_PRODUCT_VERSION,
                                     KW_REGISTRY_PATH, KW_INSTALL_DIR};
    if (keyword == KW_UNINSTALL_NAME) { // the name alone: the setter's size query is the setup's
        InstallState *state = (InstallState *)context;
        int32_t cursor = 0;
        Cmd_ReadField("UNINSTALL NAME", arguments, state->UninstallName,
                      sizeof state->UninstallName, CMD_REFUSE, &cursor); // a refusal is logged
        return 1;
    }
    int32_t count = 0;
    const CommandBinding *bindings = Settings_Bindings(&count);
    for (int32_t id : wanted) {
        if (id != keyword) continue;
        for (int32_t i = 0; i < count; i++) {
            if (bindings[i].Id != keyword) continue;
            int32_t cursor = 0;
            bindings[i].Handler((InstallState *)context, arguments, &cursor); // refusals logged
        }
    }
    return 1;
}

int UninstScript_Settings(const char *script, int32_t size, InstallState *state) {
    CORE_GUARD(state);
    char *text = state->ScriptText;
    int32_t textSize = state->ScriptSize;
    memset(state, 0, sizeof *state);
    state->ScriptText = text;
    state->ScriptSize = textSize;
    return UninstScript_Walk(script, size, ApplySetting, state);
}

typedef struct FirstProgram {
    char *target;
    int32_t size;
    int32_t iconIndex;
} FirstProgram;

static int FindProgram(int32_t keyword, const char *arguments, void *context) {
    if (keyword != KW_ADD_ITEM) return 1;
    FirstProgram *found = (FirstProgram *)context;
    int32_t cursor = 0, iconIndex = 0;
    if (!Cmd_ReadNumber(arguments, &iconIndex, &cursor)) iconIndex = 0;
    int32_t length = Cmd_ArgLength(arguments, cursor);
    if (length >= found->size || length < 5 ||
        !Str_EqualNoCaseN(arguments + cursor + length - 4, ".exe", 4))
        return 1;
    Cmd_ReadArg(arguments, found->target, found->size, &cursor);
    found->iconIndex = iconIndex < 0 ? 0 : iconIndex;
    return 0; // the first one counts
}

int UninstScript_FirstProgram(const char *script, int32_t size, char *target, int32_t targetSize,
                              int32_t *iconIndex) {
    CORE_GUARD(target);
    CORE_GUARD(iconIndex);
    FirstProgram found = {target, targetSize, 0};
    if (targetSize > 0) target[0] = 0;
    UninstScript_Walk(script, size, FindProgram, &found);
    *iconIndex = found.iconIndex;
    return targetSize > 0 && target[0] != 0;
}

int UninstScript_IsCleanupCopy(const char *path, const char *temp) {
    CORE_GUARD(path);
    CORE_GUARD(temp);
    if (!temp[0] || !Str_StartsWithNoCase(path, temp)) return 0;
    const char *rest = path + Str_Length(temp);
    if (!Str_StartsWith(rest, UNINST_COPY_PREFIX)) return 0;
    rest += sizeof UNINST_COPY_PREFIX - 1;
    for (int i = 0; i < UNINST_COPY_DIGITS; i++, rest++)
        if (!((*rest >= '0' && *rest <= '9') || (*rest >= 'a' && *rest <= 'f'))) return 0;
    return *rest == '\\' && Str_EqualNoCase(rest + 1, UNINST_COPY_NAME);
}

int UninstScript_CleanupArguments(const char *arguments, uint32_t *handle, char *file,
                                  char *installPath, int size) {
    CORE_GUARD(arguments);
    CORE_GUARD(handle);
    CORE_GUARD(file);
    CORE_GUARD(installPath);
    const char *p = arguments;
    while (*p && *p != ' ') p++; // "-Cleanup"
    while (*p == ' ') p++;
    uint32_t number = 0;
    for (; *p >= '0' && *p <= '9'; p++) number = number * 10 + (uint32_t)(*p - '0');
    *handle = number;
    char *fields[2] = {file, installPath};
    for (char *field : fields) {
        while (*p == ' ') p++;
        char end = *p == '"' ? '"' : ' ';
        if (end == '"') p++;
        const char *start = p;
        while (*p && *p != end) p++;
        if (p == start || Str_Format(field, size, "%.*s", (int)(p - start), start) < 0) {
            file[0] = installPath[0] = 0;
            return 0;
        }
        if (*p) p++;
    }
    return 1;
}
