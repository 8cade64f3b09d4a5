// The decisions of an upgrade, free of the system: how two product versions compare, and which
// of the earlier installation's files this installation writes again (the rest is the earlier
// version's alone, and goes). Portable; the setup's upgrade (earlier.h) takes them.
#pragma once
#include <stdint.h>

#include "installrecord.h"
#include "pathtext.h"
#include "state.h"

enum {
    VERSION_OLDER = -1,
    VERSION_SAME = 0,
    VERSION_NEWER = 1,
    VERSION_UNKNOWN = 2, // one of the texts is no version
};

// Compares the version texts a and b as dotted decimal numbers ("1.4.10"), number by number
// from the left, however many digits each has: VERSION_OLDER when a is older than b,
// VERSION_SAME, VERSION_NEWER, or VERSION_UNKNOWN when a text does not begin with a digit (an
// empty one included). A number's first non-digit ends it ("4-beta" is 4), a part that does not
// begin with a digit ends the version, and a missing number counts as 0 ("1.4" is "1.4.0").
int Upgrade_CompareVersions(const char *a, const char *b);

// Fills targets (cleared first) with the path of every item of state's FILE LIST, expanded from
// state->InstallPath with dirOf, and of the uninstaller and its install record. Returns 1, or 0
// when an item, the uninstaller or a record path could not be expanded (logged): a list that
// misses one would make its file look like the earlier version's alone.
int Upgrade_CollectTargets(const InstallState *state, PathMacroDir dirOf, InstallRecord *targets);
// 1 when target is among targets (letters folded, as Windows names files), else 0.
int Upgrade_Keeps(const InstallRecord *targets, const char *target);
