// The command line's words: the value switches, the list of switches and the refusal of a word
// that holds no switch.
#include "switches.h"

#include <string.h>

#include "tessel-core.h"
#include "tessel-str.h"

// The switches that count anywhere in a word, as Log_ParseOptions and the mode find them.
static const char *const FOUND_ANYWHERE[] = {"-Quiet",     "-debug",  "-unique", "-window",
                                             "-timestamp", "-append", "-?",      "/?"};

enum { VALUE_FOLDER, VALUE_LOG };

static const struct {
    const char *name; // with its "="
    int value;
} VALUE_SWITCHES[] = {
    {"-Dir=", VALUE_FOLDER},
    {"/D=", VALUE_FOLDER}, // the spelling deployment tools know from other setups
    {"-Log=", VALUE_LOG},
};

static const char HELP[] =
    "Switches:\n"
    "  -Quiet          install without any window, box or question\n"
    "  -Dir=PATH       install into PATH (also /D=PATH); quote a PATH with blanks\n"
    "  -Log=PATH       write the debug log to PATH (switches the log on)\n"
    "  -debug          write the debug log, debug.log beside the setup\n"
    "  -append         add to the log instead of emptying it\n"
    "  -timestamp      begin each log line with the date and time\n"
    "  -window         show the log in a console window\n"
    "  -unique         write the log to a file named after the date\n"
    "  -? or /?        show these switches\n"
    "Exit codes: 1 installed, 2 stopped, 3 could not run or refused (a newer version is there)\n";

static void Refuse(Switches *switches, int refusal, const char *word, int32_t length) {
    if (switches->Refusal != SWITCH_OK) return;
    switches->Refusal = refusal;
    Str_Format(switches->Word, sizeof switches->Word, "%.*s", (int)length, word);
}

static int HoldsSwitch(const char *word) {
    for (const char *name : FOUND_ANYWHERE) {
        const char *found = NULL;
        if (Str_FindNoCase(word, name, &found)) return 1;
    }
    return 0;
}

// The word at text (length bytes, quotes included) without its quotes into out (size bytes).
// Returns 0 when it does not fit.
static int Unquote(const char *text, int32_t length, char *out, int size) {
    int used = 0;
    for (int32_t i = 0; i < length; i++) {
        if (text[i] == '"') continue;
        if (used + 1 >= size) return 0;
        out[used++] = text[i];
    }
    out[used] = 0;
    return 1;
}

// One word (length bytes at word, quotes included).
static void ReadWord(const char *word, int32_t length, Switches *switches) {
    char plain[SWITCH_VALUE_SIZE + 8];
    if (!Unquote(word, length, plain, sizeof plain)) {
        Refuse(switches, SWITCH_TOO_LONG, word, length);
        return;
    }
    for (const auto &row : VALUE_SWITCHES) {
        int nameLength = Str_Length(row.name);
        if (!Str_EqualNoCaseN(plain, row.name, nameLength)) continue;
        const char *value = plain + nameLength;
        char *field = row.value == VALUE_FOLDER ? switches->Folder : switches->LogPath;
        if (!value[0])
            Refuse(switches, SWITCH_EMPTY, word, length);
        else if (Str_Length(value) >= SWITCH_VALUE_SIZE)
            Refuse(switches, SWITCH_TOO_LONG, word, length);
        else
            Str_Format(field, SWITCH_VALUE_SIZE, "%s", value);
        return;
    }
    if (Str_EqualNoCase(plain, "-?") || Str_EqualNoCase(plain, "/?"))
        switches->Help = 1;
    else if (!HoldsSwitch(plain))
        Refuse(switches, SWITCH_UNKNOWN, word, length);
}

int Switch_Parse(const char *arguments, Switches *switches) {
    CORE_GUARD(arguments);
    CORE_GUARD(switches);
    memset(switches, 0, sizeof *switches);
    const char *p = arguments;
    for (;;) {
        while (*p == ' ' || *p == '\t') p++;
        if (!*p) break;
        const char *start = p;
        int quoted = 0;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++)
            if (*p == '"') quoted = !quoted;
        ReadWord(start, (int32_t)(p - start), switches);
    }
    return switches->Refusal == SWITCH_OK;
}

const char *Switch_Reason(int refusal) {
    static const char *const REASONS[] = {
        "",                       // SWITCH_OK
        "unknown switch",         // SWITCH_UNKNOWN
        "value too long",         // SWITCH_TOO_LONG
        "switch without a value", // SWITCH_EMPTY
    };
    if (refusal < 0 || refusal >= (int)(sizeof REASONS / sizeof REASONS[0])) return "";
    return REASONS[refusal];
}

const char *Switch_Help(void) { return HELP; }
