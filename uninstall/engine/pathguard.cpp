// The guard rails' path rules: the plain-path test, the name-by-name comparison, the verdicts on
// an installation folder and their texts.
#include "pathguard.h"

#include "tessel-core.h"
#include "tessel-str.h"

static const char FORBIDDEN[] = ":*?\"<>|"; // never in a name after the drive's colon

// The texts of the refusals; the folder and, for GUARD_IS and GUARD_HOLDS, the guarded folder's
// name complete them.
static const struct {
    int verdict;
    const char *text;
} REASONS[] = {
    {GUARD_EMPTY, "no usable installation folder is known"},
    {GUARD_RELATIVE, "is not a plain full path on a drive"},
    {GUARD_DOTS, "has a name made of dots"},
    {GUARD_ROOT, "is the root of a drive"},
    {GUARD_IS, "is "},
    {GUARD_HOLDS, "holds "},
    {GUARD_MISSING, "does not exist"},
    {GUARD_ELSEWHERE, "does not hold this uninstaller"},
};

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

// The next name from *cursor on: its start and its length without its trailing dots and spaces
// (0 for a name of dots and spaces only, which Windows would drop or climb with). Returns 0 when
// no name is left.
static int NextName(const char **cursor, const char **name, int *length) {
    const char *p = *cursor;
    while (IsSeparator(*p)) p++;
    if (!*p) {
        *cursor = p;
        return 0;
    }
    const char *start = p;
    while (*p && !IsSeparator(*p)) p++;
    int n = (int)(p - start);
    while (n > 0 && (start[n - 1] == '.' || start[n - 1] == ' ')) n--;
    *name = start;
    *length = n;
    *cursor = p;
    return 1;
}

// What a path earns by its text alone: GUARD_EMPTY, GUARD_RELATIVE, GUARD_DOTS, GUARD_ROOT, or
// GUARD_ACCEPTED for a drive and at least one name.
static int CheckText(const char *path) {
    if (!path[0]) return GUARD_EMPTY;
    char letter = (char)(path[0] | 0x20);
    if (letter < 'a' || letter > 'z' || path[1] != ':' || !IsSeparator(path[2]))
        return GUARD_RELATIVE;
    for (const char *p = path + 2; *p; p++) {
        if ((unsigned char)*p < 32) return GUARD_RELATIVE;
        for (const char *f = FORBIDDEN; *f; f++)
            if (*p == *f) return GUARD_RELATIVE;
    }
    const char *cursor = path + 2, *name = NULL;
    int length = 0, names = 0;
    while (NextName(&cursor, &name, &length)) {
        if (length == 0) return GUARD_DOTS;
        names++;
    }
    return names ? GUARD_ACCEPTED : GUARD_ROOT;
}

// A drive and names that name one folder: a root counts.
static int IsPlain(const char *path) {
    int verdict = CheckText(path);
    return verdict == GUARD_ACCEPTED || verdict == GUARD_ROOT;
}

// Walks the names of two plain paths side by side while they agree. Returns -1 when the drives
// or a name differ, else 0 when both end together, 1 when only a goes on, 2 when only b does.
static int WalkNames(const char *a, const char *b) {
    if ((a[0] | 0x20) != (b[0] | 0x20)) return -1;
    const char *cursorA = a + 2, *cursorB = b + 2, *nameA = NULL, *nameB = NULL;
    for (;;) {
        int lengthA = 0, lengthB = 0;
        int moreA = NextName(&cursorA, &nameA, &lengthA);
        int moreB = NextName(&cursorB, &nameB, &lengthB);
        if (!moreA || !moreB) return moreA ? 1 : moreB ? 2 : 0;
        if (lengthA != lengthB || !Str_EqualNoCaseN(nameA, nameB, lengthA)) return -1;
    }
}

int PathGuard_SameFolder(const char *a, const char *b) {
    CORE_GUARD(a);
    CORE_GUARD(b);
    return IsPlain(a) && IsPlain(b) && WalkNames(a, b) == 0;
}

int PathGuard_IsInside(const char *path, const char *base) {
    CORE_GUARD(path);
    CORE_GUARD(base);
    return IsPlain(path) && IsPlain(base) && WalkNames(path, base) == 1;
}

int PathGuard_CheckFolder(const char *folder, const GuardedFolder *guarded, int count, int *which) {
    CORE_GUARD(folder);
    CORE_GUARD(which);
    *which = -1;
    int verdict = CheckText(folder);
    if (verdict != GUARD_ACCEPTED) return verdict;
    if (count > 0) CORE_GUARD(guarded);
    for (int i = 0; i < count; i++) {
        if (guarded[i].Path && PathGuard_SameFolder(folder, guarded[i].Path)) {
            *which = i;
            return GUARD_IS;
        }
    }
    for (int i = 0; i < count; i++) {
        if (guarded[i].Path && PathGuard_IsInside(guarded[i].Path, folder)) {
            *which = i;
            return GUARD_HOLDS;
        }
    }
    return GUARD_ACCEPTED;
}

int PathGuard_Describe(int verdict, const char *folder, const char *guardedName, char *buffer,
                       int size) {
    CORE_GUARD(folder);
    CORE_GUARD(buffer);
    if (size < 1) return 0;
    buffer[0] = 0;
    for (const auto &reason : REASONS) {
        if (reason.verdict != verdict) continue;
        if (verdict == GUARD_EMPTY) {
            Str_Format(buffer, size, "%s", reason.text);
        } else {
            int named = verdict == GUARD_IS || verdict == GUARD_HOLDS;
            Str_Format(buffer, size, "its installation folder '%s' %s%s", folder, reason.text,
                       named && guardedName ? guardedName : "");
        }
        return 1;
    }
    return 0;
}
