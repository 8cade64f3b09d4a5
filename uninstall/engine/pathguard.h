// The uninstaller's guard rails on paths, free of the system: which installation folders it
// refuses to remove anything from, and whether a path stays inside its base folder. Paths are
// compared the way Windows names them: letters folded, "/" the same as "\", repeated and
// trailing separators ignored, the trailing dots and spaces of a name dropped. Portable; the
// uninstaller gives the folders it looked up, the unit tests their own.
#pragma once

// The verdicts on an installation folder.
enum {
    GUARD_ACCEPTED = 0,
    GUARD_EMPTY = 1,    // no folder at all
    GUARD_RELATIVE = 2, // not a full path on a drive ("C:\..."), or a name with : * ? " < > |
    GUARD_DOTS = 3,     // a name of dots and spaces only: ".", "..", "..."
    GUARD_ROOT = 4,     // a drive's root
    GUARD_IS = 5,       // one of the guarded folders
    GUARD_HOLDS = 6,    // a folder that holds one of the guarded folders
    // Verdicts of the uninstaller on the disk (the texts are here):
    GUARD_MISSING = 7,   // the folder does not exist
    GUARD_ELSEWHERE = 8, // the folder does not hold the uninstaller that runs
};

// A folder that no installation folder may be nor hold.
typedef struct {
    const char *Name; // what a refusal calls it: "the Windows folder"
    const char *Path; // its full path; one that is empty or not plain is passed over
} GuardedFolder;

// The verdict on folder as an installation folder: GUARD_ACCEPTED, or the first reason in the
// order of the verdicts above. *which is the index of the guarded folder for GUARD_IS and
// GUARD_HOLDS (an exact match wins over one that lies below), -1 otherwise.
int PathGuard_CheckFolder(const char *folder, const GuardedFolder *guarded, int count, int *which);
// 1 when a and b are plain paths (a drive, names without dots-only names or forbidden
// characters) that name the same folder, else 0.
int PathGuard_SameFolder(const char *a, const char *b);
// 1 when path and base are plain paths and path lies below base (base itself is not below it),
// else 0: a path that climbs out through ".." never lies below anything.
int PathGuard_IsInside(const char *path, const char *base);
// Why folder was refused, for the log and the box: "its installation folder 'C:\Windows\' is
// the Windows folder" (guardedName is used by GUARD_IS and GUARD_HOLDS). Written into buffer
// (size bytes), cut to fit. Returns 1, or 0 with "" for GUARD_ACCEPTED or an unknown verdict.
int PathGuard_Describe(int verdict, const char *folder, const char *guardedName, char *buffer,
                       int size);
