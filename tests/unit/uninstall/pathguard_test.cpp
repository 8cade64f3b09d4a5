// The uninstaller's guard rails on paths: each installation folder that must stop it (empty,
// relative, dots, a drive's root, a guarded folder in any spelling Windows accepts, one that
// holds a guarded folder), the folders beside and below them that stay accepted, the test that
// a path stays inside its base folder, and the texts of the refusals.
#include <gtest/gtest.h>

#include <string>

#include "pathguard.h"

namespace {

const GuardedFolder kGuarded[] = {
    {"the Windows folder", "C:\\Windows\\"},
    {"the system folder", "C:\\Windows\\System32"},
    {"the Program Files folder", "C:\\Program Files\\"},
    {"the temporary folder", "C:\\Users\\me\\AppData\\Local\\Temp\\"},
    {"your profile folder", "C:\\Users\\me\\"},
    {"the folder of the profiles", "C:\\Users"},
    {"a folder this system lacks", ""},
    {"a folder given badly", "Windows"},
};
const int kCount = (int)(sizeof kGuarded / sizeof kGuarded[0]);

struct Verdict {
    int verdict;
    int which;
};

Verdict Check(const char *folder) {
    Verdict result{};
    result.verdict = PathGuard_CheckFolder(folder, kGuarded, kCount, &result.which);
    return result;
}

TEST(PathGuardFolder, EveryDangerousFolderIsRefusedForItsReason) {
    const struct {
        const char *folder;
        int verdict, which;
    } rows[] = {
        {"", GUARD_EMPTY, -1},
        {"Rocket\\", GUARD_RELATIVE, -1},
        {"\\Program Files\\Rocket\\", GUARD_RELATIVE, -1},        // no drive
        {"C:Rocket\\", GUARD_RELATIVE, -1},                       // relative to the drive's folder
        {"\\\\server\\share\\Rocket\\", GUARD_RELATIVE, -1},      // not on a drive
        {"\\\\?\\C:\\Windows\\", GUARD_RELATIVE, -1},             // the raw form is no plain path
        {"C:\\Windows::$INDEX_ALLOCATION\\", GUARD_RELATIVE, -1}, // a stream of the folder
        {"C:\\Rocket\\*\\", GUARD_RELATIVE, -1},
        {"C:\\Rocket\x01\\", GUARD_RELATIVE, -1},
        {"1:\\Rocket\\", GUARD_RELATIVE, -1},
        {"C:\\Program Files\\..\\Windows\\", GUARD_DOTS, -1},
        {"C:\\Program Files\\Rocket\\..", GUARD_DOTS, -1}, // ".." last, without a backslash
        {"C:\\Program Files\\.\\Rocket\\", GUARD_DOTS, -1},
        {"C:\\Program Files\\...\\", GUARD_DOTS, -1},
        {"C:\\Program Files\\. .\\", GUARD_DOTS, -1},
        {"C:\\", GUARD_ROOT, -1},
        {"C:", GUARD_RELATIVE, -1},
        {"D:/", GUARD_ROOT, -1},
        {"c:\\\\\\", GUARD_ROOT, -1},
        {"C:\\Windows\\", GUARD_IS, 0},
        {"C:\\Windows", GUARD_IS, 0},       // without the trailing backslash
        {"c:/WINDOWS/", GUARD_IS, 0},       // slashes and letters folded
        {"C:\\\\Windows\\\\", GUARD_IS, 0}, // doubled separators
        {"C:\\Windows.\\", GUARD_IS, 0},    // Windows drops a name's trailing dots
        {"C:\\Windows \\", GUARD_IS, 0},    // and spaces
        {"C:\\windows\\system32\\", GUARD_IS, 1},
        {"C:\\Program Files", GUARD_IS, 2},
        {"C:\\Users\\me\\AppData\\Local\\Temp", GUARD_IS, 3},
        {"C:\\Users\\ME\\", GUARD_IS, 4},
        {"C:\\Users\\", GUARD_IS, 5},
        {"C:\\Users\\me\\AppData\\", GUARD_HOLDS, 3}, // holds the temporary folder
        {"C:\\Documents\\..\\Users\\", GUARD_DOTS, -1},
    };
    for (const auto &row : rows) {
        Verdict result = Check(row.folder);
        EXPECT_EQ(result.verdict, row.verdict) << row.folder;
        EXPECT_EQ(result.which, row.which) << row.folder;
    }
}

TEST(PathGuardFolder, FoldersBesideAndBelowTheGuardedOnesAreAccepted) {
    const char *accepted[] = {
        "C:\\Program Files\\Rocket\\",
        "C:\\Program Files\\Rocket", // the trailing backslash is not needed
        "C:\\Program Files\\Acme\\Rocket\\",
        "C:\\Program Files (x86)\\", // only a name like a guarded one
        "C:\\Program\\",             // a part of a guarded name
        "C:\\Windows2\\",
        "C:\\Windows\\Rocket\\", // below a guarded folder is no danger
        "D:\\Windows\\",         // another drive
        "C:\\Rocket.app\\",      // dots inside a name
        "C:\\.Rocket\\",         // and in front of one
        "C:\\Users\\me2\\",
        "C:\\Users\\me\\Rocket\\",
    };
    for (const char *folder : accepted) {
        Verdict result = Check(folder);
        EXPECT_EQ(result.verdict, GUARD_ACCEPTED) << folder;
        EXPECT_EQ(result.which, -1) << folder;
    }
}

TEST(PathGuardFolder, WithoutGuardedFoldersOnlyTheTextDecides) {
    int which = 7;
    EXPECT_EQ(PathGuard_CheckFolder("C:\\Windows\\", nullptr, 0, &which), GUARD_ACCEPTED);
    EXPECT_EQ(which, -1);
    EXPECT_EQ(PathGuard_CheckFolder("C:\\", nullptr, 0, &which), GUARD_ROOT);
}

TEST(PathGuardInside, APathLiesInsideItsBaseOnlyBelowIt) {
    const char *base = "C:\\Program Files\\Rocket\\";
    const struct {
        const char *path;
        int inside;
    } rows[] = {
        {"C:\\Program Files\\Rocket\\readme.txt", 1},
        {"C:\\Program Files\\Rocket\\data\\deep\\big.dat", 1},
        {"c:/program files/rocket/readme.txt", 1},
        {"C:\\Program Files\\Rocket\\", 0}, // the base itself
        {"C:\\Program Files\\Rocket", 0},
        {"C:\\Program Files\\Rocket2\\readme.txt", 0}, // a longer name beside it
        {"C:\\Program Files\\readme.txt", 0},
        {"D:\\Program Files\\Rocket\\readme.txt", 0},
        {"C:\\Program Files\\Rocket\\..\\..\\Windows\\win.ini", 0},
        {"C:\\Program Files\\Rocket\\bin\\..\\readme.txt", 0}, // stays inside, still refused
        {"C:\\Program Files\\Rocket\\.\\readme.txt", 0},
        {"C:\\Program Files\\Rocket\\readme.txt:stream", 0},
        {"Rocket\\readme.txt", 0},
        {"", 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(PathGuard_IsInside(row.path, base), row.inside) << row.path;
    EXPECT_EQ(PathGuard_IsInside("C:\\readme.txt", "C:\\"), 1); // a root is a plain base
    EXPECT_EQ(PathGuard_IsInside("C:\\Rocket\\readme.txt", "C:\\Rocket\\..\\"), 0);
}

TEST(PathGuardInside, SameFolderFollowsTheSpellingsWindowsAccepts) {
    EXPECT_EQ(PathGuard_SameFolder("C:\\Windows\\", "c:/windows"), 1);
    EXPECT_EQ(PathGuard_SameFolder("C:\\", "c:/"), 1);
    EXPECT_EQ(PathGuard_SameFolder("C:\\Windows\\", "C:\\Windows\\System32\\"), 0);
    EXPECT_EQ(PathGuard_SameFolder("C:\\Windows\\..\\Windows\\", "C:\\Windows\\"), 0);
    EXPECT_EQ(PathGuard_SameFolder("Windows", "Windows"), 0);
}

TEST(PathGuardDescribe, EachRefusalSaysWhy) {
    const struct {
        int verdict;
        const char *name, *text;
    } rows[] = {
        {GUARD_EMPTY, nullptr, "no usable installation folder is known"},
        {GUARD_RELATIVE, nullptr,
         "its installation folder 'X' is not a plain full path on a drive"},
        {GUARD_DOTS, nullptr, "its installation folder 'X' has a name made of dots"},
        {GUARD_ROOT, nullptr, "its installation folder 'X' is the root of a drive"},
        {GUARD_IS, "the Windows folder", "its installation folder 'X' is the Windows folder"},
        {GUARD_HOLDS, "your profile folder",
         "its installation folder 'X' holds your profile folder"},
        {GUARD_MISSING, nullptr, "its installation folder 'X' does not exist"},
        {GUARD_ELSEWHERE, "ignored", "its installation folder 'X' does not hold this uninstaller"},
    };
    for (const auto &row : rows) {
        char text[200] = "unchanged";
        EXPECT_EQ(PathGuard_Describe(row.verdict, "X", row.name, text, sizeof text), 1);
        EXPECT_STREQ(text, row.text);
    }
    char text[16] = "unchanged";
    EXPECT_EQ(PathGuard_Describe(GUARD_ACCEPTED, "X", nullptr, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(PathGuard_Describe(99, "X", nullptr, text, sizeof text), 0);
    // Cut to the buffer, still terminated.
    EXPECT_EQ(PathGuard_Describe(GUARD_ROOT, "C:\\", nullptr, text, sizeof text), 1);
    EXPECT_EQ(std::string(text), std::string("its installation folder").substr(0, 15));
}

} // namespace
