// The macro walk, the drive test and the folder merge of script paths.
#include "pathtext.h"

#include "tessel-core.h"
#include "tessel-str.h"

// "C:..." names its drive itself; appended to InstallPath it would name no folder at all.
int PathText_StartsWithDrive(const char *path) {
    CORE_GUARD(path);
    char letter = (char)(path[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && path[1] == ':';
}

// Acts on one macro letter; 0 when its directory cannot be had.
static int ExpandMacro(char letter, PathMacroDir dirOf, char *built, int size, uint32_t *flags) {
    int found = dirOf(letter, built, size);
    if (found >= 0) return found;
    if (letter == '?')
        *flags |= PATH_FLAG_CONFIRM;
    else if (letter != '6') // "$6" is accepted and does nothing
        Log_Print("Unknown command '%c'\n", letter);
    return 1;
}

int PathText_Expand(const char *installPath, const char *input, PathMacroDir dirOf, char *output,
                    int size, uint32_t *flags) {
    CORE_GUARD(installPath);
    CORE_GUARD(input);
    CORE_GUARD((const void *)dirOf);
    CORE_GUARD(output);
    CORE_GUARD(flags);
    *flags = 0;
    if (size < 1) return 0;
    output[0] = 0;
    char built[PATH_EXPAND_SIZE];
    Str_Format(built, sizeof built, "%s", PathText_StartsWithDrive(input) ? "" : installPath);
    const char *rest = input;
    // Macros in consecutive pairs at the start; a "$" with nothing after it is plain text.
    while (rest[0] == '$' && rest[1]) {
        if (!ExpandMacro(rest[1], dirOf, built, sizeof built, flags)) {
            Log_Print("Unable to get the directory of '$%c'\n", rest[1]);
            return 0;
        }
        rest += 2;
    }
    if (rest[0] == '\\') rest++;
    // Refused, never cut: a cut path names another file.
    int length = Str_Length(built) + Str_Length(rest);
    if (length >= size) {
        Log_Print("Path '%s' too long (%d > %d)\n", input, length, size - 1);
        return 0;
    }
    Str_Format(output, size, "%s%s", built, rest);
    return 1;
}

int PathText_MergeFolder(char *picked, int size, const char *installDir) {
    CORE_GUARD(picked);
    CORE_GUARD(installDir);
    int pickedLength = Str_Length(picked);
    int dirLength = Str_Length(installDir);
    if (dirLength == 0) return 1;
    if (pickedLength > dirLength &&
        Str_EqualNoCaseN(picked + pickedLength - dirLength, installDir, dirLength))
        return 1; // already names the installation directory
    // The trailing folders of picked that are the start of installDir are dropped.
    int cut = -1;
    for (int i = pickedLength - 2; i >= 0; i--) {
        if (picked[i] != '\\') continue;
        int restLength = pickedLength - (i + 1);
        if (restLength > dirLength || !Str_EqualNoCaseN(picked + i + 1, installDir, restLength))
            break;
        cut = i + 1;
    }
    int keep = cut >= 0 ? cut : pickedLength;
    if (keep + dirLength >= size) return 0; // refused: a cut path names another folder
    picked[keep] = 0;
    Str_Append(picked, installDir);
    return 1;
}
