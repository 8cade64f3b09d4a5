// The upgrade's decisions: version texts compared as dotted numbers, and the set of the paths
// an installation writes, kept in an install record's entries.
#include "upgrade.h"

#include "filelist.h"
#include "tessel-core.h"
#include "tessel-str.h"

static int IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number at *text: its digits without leading zeros in *start and *length; *text moves past
// the part (up to and past its '.'), or stays at the end.
static void NextNumber(const char **text, const char **start, int *length) {
    const char *p = *text;
    while (*p == '0' && IsDigit(p[1])) p++;
    *start = p;
    while (IsDigit(*p)) p++;
    *length = (int)(p - *start);
    while (*p && *p != '.') p++; // the rest of the part
    if (*p == '.') p++;
    *text = IsDigit(*p) ? p : p + Str_Length(p); // a part without a digit ends the version
}

int Upgrade_CompareVersions(const char *a, const char *b) {
    CORE_GUARD(a);
    CORE_GUARD(b);
    if (!IsDigit(a[0]) || !IsDigit(b[0])) return VERSION_UNKNOWN;
    static const char ZERO[] = "0";
    while (*a || *b) {
        const char *numberA = ZERO, *numberB = ZERO;
        int lengthA = 1, lengthB = 1;
        if (*a) NextNumber(&a, &numberA, &lengthA);
        if (*b) NextNumber(&b, &numberB, &lengthB);
        if (lengthA != lengthB) return lengthA < lengthB ? VERSION_OLDER : VERSION_NEWER;
        for (int i = 0; i < lengthA; i++)
            if (numberA[i] != numberB[i])
                return numberA[i] < numberB[i] ? VERSION_OLDER : VERSION_NEWER;
    }
    return VERSION_SAME;
}

// Adds the expansion of path from the installation folder.
static int AddTarget(const InstallState *state, const char *path, PathMacroDir dirOf,
                     InstallRecord *targets) {
    char target[PATH_EXPAND_SIZE];
    uint32_t flags = 0;
    return PathText_Expand(state->InstallPath, path, dirOf, target, sizeof target, &flags) &&
           Record_Set(targets, target, 0);
}

int Upgrade_CollectTargets(const InstallState *state, PathMacroDir dirOf, InstallRecord *targets) {
    CORE_GUARD(state);
    CORE_GUARD(targets);
    Record_Free(targets);
    int collected = 1;
    int32_t cursor = 0;
    for (int32_t i = 0; state->FileList && i < state->FileCount; i++) {
        char item[INSTALL_ITEM_SIZE];
        int32_t before = cursor;
        int read = FileList_NextItem(state->FileList, &cursor, item, sizeof item);
        if (cursor == before && !read) break;
        if (!read || !item[0]) continue; // INSTALL fails on such an item before it writes it
        collected &= AddTarget(state, item, dirOf, targets);
    }
    if (state->UninstallName[0]) {
        char uninstaller[PATH_EXPAND_SIZE], record[PATH_EXPAND_SIZE + 4];
        uint32_t flags = 0;
        collected &= PathText_Expand(state->InstallPath, state->UninstallName, dirOf, uninstaller,
                                     sizeof uninstaller, &flags) &&
                     Record_Set(targets, uninstaller, 0) &&
                     Record_PathFor(uninstaller, record, sizeof record) &&
                     Record_Set(targets, record, 0);
    }
    return collected;
}

int Upgrade_Keeps(const InstallRecord *targets, const char *target) {
    CORE_GUARD(targets);
    CORE_GUARD(target);
    return Record_Find(targets, target) != RECORD_UNKNOWN;
}
