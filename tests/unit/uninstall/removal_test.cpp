// The removal's decisions on a machine held in memory: the guard rails on the installation
// folder (a guarded folder, a drive's root, one that does not exist or does not hold this
// uninstaller: refused with the reason, nothing removed), the installation folder's proof, the
// FILE LIST items as the install record and the shared counts decide, links that lead
// elsewhere, files in use left for the restart and listed, and the walks over empty folders.
#include <gtest/gtest.h>

#include <string>

#include "installrecord.h"
#include "memory-machine.h"
#include "pathguard.h"
#include "pathtext.h"
#include "removal-actions.h"
#include "removal.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "test-support.h"

using memory_machine::Machine;

namespace {

const char kInstall[] = "C:\\Program Files\\Acme\\Rocket\\";
const char kUninstaller[] = "C:\\Program Files\\Acme\\Rocket\\uninst.exe";

class Removal : public ::testing::Test {
  protected:
    Removal() : log_("removal-test.log") {}
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        log_.Take();
        m_.Reset();
        m_.systemFolders = {
            {RFOLDER_WINDOWS, "C:\\Windows"},
            {RFOLDER_SYSTEM, "C:\\Windows\\system32\\"},
            {RFOLDER_PROGRAM_FILES, "C:\\Program Files\\"},
            {RFOLDER_TEMP, "C:\\Users\\me\\Temp\\"},
            {RFOLDER_PROFILE, "C:\\Users\\me"},
            {RFOLDER_DOCUMENTS, "C:\\Users\\me\\Documents"},
            {RFOLDER_COMMON_DESKTOP, "C:\\Data\\Desktop\\"},
        };
        m_.macros = {{'0', "C:\\Program Files\\"},
                     {'1', "C:\\Windows\\"},
                     {'2', "C:\\Windows\\system32\\"},
                     {'3', "C:\\Program Files\\Acme\\Rocket\\"},
                     {'4', "C:\\Users\\me\\Temp\\"}};
        m_.windowsFolder = "C:\\Windows\\";
        for (const auto &folder : m_.systemFolders) m_.AddFolder(folder.second);
        m_.AddFile(kUninstaller);
        RemovalActions_Set(memory_machine::Removal());
        Removal_Reset();
        Removal_LookUpGuarded();
        state_ = InstallState();
        Str_Copy(state_.ProductName, "Rocket");
        Str_Copy(state_.RegistryPath, "Software\\Acme\\Rocket");
        Str_Copy(state_.UninstallName, "uninst.exe");
    }
    void TearDown() override {
        Record_Free(&record_);
        RemovalActions_Set(nullptr);
    }
    // Removal_FindInstallPath's verdict: the folder, or "refused: REASON".
    std::string Find(const char *own = kUninstaller) {
        char reason[480] = "";
        if (!Removal_FindInstallPath(&state_, own, reason, sizeof reason))
            return std::string("refused: ") + reason;
        return state_.InstallPath;
    }
    // The items of one FILE LIST argument, files then folders, as the uninstaller walks them.
    void RemoveItems(const std::string &items) {
        Removal_Items(&state_, items.c_str(), 0, &record_, nullptr, nullptr);
        Removal_Items(&state_, items.c_str(), 1, &record_, nullptr, nullptr);
    }
    std::string Pending() {
        int32_t count = 0, cut = 0;
        return Removal_Pending(&count, &cut);
    }

    testing_support::LogCapture log_;
    Machine &m_ = memory_machine::Get();
    InstallState state_{};
    InstallRecord record_{};
};

TEST_F(Removal, TheRememberedFolderIsTheInstallationFolder) {
    m_.remembered["Software\\Acme\\Rocket"] = "C:\\Program Files\\Acme\\Rocket";
    EXPECT_EQ(Find(), kInstall); // its backslash added
    EXPECT_TRUE(log_.Has("Install Path   : C:\\Program Files\\Acme\\Rocket\\\n"));
}

TEST_F(Removal, WithoutARememberedFolderTheUninstallersOwnFolderIsTaken) {
    EXPECT_EQ(Find(), kInstall);
    Str_Copy(state_.UninstallName, "bin\\uninst.exe");
    m_.AddFile("C:\\Program Files\\Acme\\Rocket\\bin\\uninst.exe");
    EXPECT_EQ(Find("C:\\Program Files\\Acme\\Rocket\\bin\\uninst.exe"), kInstall);
    // A name that is not relative to the installation folder proves no folder.
    Str_Copy(state_.UninstallName, "$3uninst.exe");
    state_.InstallPath[0] = 0;
    EXPECT_EQ(Find(), "refused: no usable installation folder is known");
}

TEST_F(Removal, EveryDangerousFolderIsRefusedAndNothingIsRemoved) {
    m_.AddFolder("C:\\Games\\Rocket");
    m_.AddFile("C:\\Elsewhere\\uninst.exe");
    const struct {
        const char *remembered, *reason;
    } rows[] = {
        {"C:\\Windows", "its installation folder 'C:\\Windows\\' is the Windows folder"},
        {"c:/windows/system32", "its installation folder 'c:/windows/system32\\' is the system "
                                "folder"},
        {"C:\\Users", "its installation folder 'C:\\Users\\' is the folder of the profiles"},
        {"C:\\Data", "its installation folder 'C:\\Data\\' holds the desktop folder"},
        {"C:\\", "its installation folder 'C:\\' is the root of a drive"},
        {"Rocket", "its installation folder 'Rocket\\' is not a plain full path on a drive"},
        {"", "no usable installation folder is known"},
        {"C:\\Program Files\\Acme\\Gone",
         "its installation folder 'C:\\Program Files\\Acme\\Gone\\' "
         "does not exist"},
        {"C:\\Games\\Rocket", "its installation folder 'C:\\Games\\Rocket\\' does not hold this "
                              "uninstaller"},
    };
    size_t before = m_.nodes.size();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.remembered);
        m_.remembered["Software\\Acme\\Rocket"] = row.remembered;
        Str_Copy(state_.InstallPath, "untouched");
        EXPECT_EQ(Find(), std::string("refused: ") + row.reason);
        EXPECT_STREQ(state_.InstallPath, "untouched");
    }
    EXPECT_EQ(m_.nodes.size(), before);
}

TEST_F(Removal, AFolderThatLeadsIntoAGuardedOneIsRefused) {
    m_.nodes.clear();
    m_.AddFolder("C:\\Windows");
    m_.AddLink("C:\\Program Files\\Acme\\Rocket\\", "C:\\Windows\\");
    m_.AddFile("C:\\Windows\\uninst.exe");
    m_.remembered["Software\\Acme\\Rocket"] = kInstall;
    EXPECT_EQ(Find(), "refused: its installation folder 'C:\\Program Files\\Acme\\Rocket\\' is the "
                      "Windows folder");
}

TEST_F(Removal, AnInstallationFolderIsRefusedAtItsFieldsEdge) {
    // The folder with its backslash fills InstallPath to its last byte: accepted. One more
    // letter: refused, never cut (a cut folder is another folder).
    const int room = (int)sizeof state_.InstallPath - 1;
    std::string base = "C:\\Program Files\\";
    std::string fits = base + std::string(room - base.size() - 1, 'f');
    std::string over = base + std::string(room - base.size(), 'f');
    m_.AddFile(fits + "\\uninst.exe");
    m_.AddFile(over + "\\uninst.exe");
    m_.remembered["Software\\Acme\\Rocket"] = fits;
    EXPECT_EQ(Find((fits + "\\uninst.exe").c_str()), fits + "\\");
    m_.remembered["Software\\Acme\\Rocket"] = over;
    EXPECT_EQ(Find((over + "\\uninst.exe").c_str()),
              "refused: no usable installation folder is known");
}

TEST_F(Removal, TheSetupsFilesGoAndTheFoldersTheyLeaveEmpty) {
    ASSERT_EQ(Find(), kInstall);
    log_.Take();
    m_.AddFile("C:\\Program Files\\Acme\\Rocket\\readme.txt");
    m_.AddFile("C:\\Program Files\\Acme\\Rocket\\data\\deep\\big.dat");
    m_.AddFile("C:\\Program Files\\Acme\\Rocket\\data\\mine.txt"); // the user's
    RemoveItems("readme.txt,data\\deep\\big.dat,missing.txt");
    EXPECT_FALSE(m_.Has("C:\\Program Files\\Acme\\Rocket\\readme.txt"));
    EXPECT_FALSE(m_.Has("C:\\Program Files\\Acme\\Rocket\\data\\deep"));
    EXPECT_TRUE(m_.Has("C:\\Program Files\\Acme\\Rocket\\data\\mine.txt"));
    EXPECT_EQ(log_.Text(), "Removed 'C:\\Program Files\\Acme\\Rocket\\readme.txt'\n"
                           "Removed 'C:\\Program Files\\Acme\\Rocket\\data\\deep\\big.dat'\n"
                           "Removed folder 'C:\\Program Files\\Acme\\Rocket\\data\\deep\\'\n");
}

TEST_F(Removal, AnItemOutsideItsFolderIsLeftAlone) {
    ASSERT_EQ(Find(), kInstall);
    m_.AddFile("C:\\Program Files\\Acme\\other.txt");
    m_.AddFile("D:\\other.txt");
    m_.AddFile("C:\\Users\\me\\Temp\\other.txt");
    log_.Take();
    RemoveItems("..\\other.txt,D:\\other.txt,$4other.txt,$3uninst.exe");
    EXPECT_TRUE(m_.Has("C:\\Program Files\\Acme\\other.txt"));
    EXPECT_TRUE(m_.Has("D:\\other.txt"));
    EXPECT_TRUE(m_.Has(kUninstaller)); // "$3": the uninstaller's own folder is not the setup's
    EXPECT_TRUE(log_.Has("Not removed, outside its folder: "
                         "'C:\\Program Files\\Acme\\Rocket\\..\\other.txt'\n"));
    EXPECT_TRUE(log_.Has("Not removed, outside its folder: 'D:\\other.txt'\n"));
    EXPECT_TRUE(log_.Has("Not removed, outside its folder: "
                         "'C:\\Program Files\\Acme\\Rocket\\uninst.exe'\n"));
    EXPECT_FALSE(m_.Has("C:\\Users\\me\\Temp\\other.txt")); // "$4": below its own folder
}

TEST_F(Removal, ALinkThatLeadsOutsideIsNotRemoved) {
    ASSERT_EQ(Find(), kInstall);
    m_.AddLink("C:\\Program Files\\Acme\\Rocket\\notes.txt", "C:\\Users\\me\\Documents\\notes.txt");
    m_.AddLink("C:\\Program Files\\Acme\\Rocket\\docs\\", "C:\\Users\\me\\Documents\\");
    m_.AddFile("C:\\Users\\me\\Documents\\report.doc");
    log_.Take();
    RemoveItems("notes.txt,docs\\report.doc");
    EXPECT_TRUE(m_.Has("C:\\Users\\me\\Documents\\notes.txt"));
    EXPECT_TRUE(m_.Has("C:\\Program Files\\Acme\\Rocket\\notes.txt"));
    EXPECT_TRUE(m_.Has("C:\\Users\\me\\Documents\\report.doc"));
    EXPECT_TRUE(m_.Has("C:\\Program Files\\Acme\\Rocket\\docs"));
    EXPECT_EQ(
        log_.Text(),
        "Not removed, it leads outside its folder: "
        "'C:\\Program Files\\Acme\\Rocket\\notes.txt'\n"
        "Not removed, it leads outside its folder: "
        "'C:\\Program Files\\Acme\\Rocket\\docs\\report.doc'\n"
        "Not removed, it leads outside its folder: 'C:\\Program Files\\Acme\\Rocket\\docs\\'\n");
}

TEST_F(Removal, TheInstallRecordKeepsWhatWasThereBefore) {
    ASSERT_EQ(Find(), kInstall);
    const std::string kept = "C:\\Program Files\\Acme\\Rocket\\settings.ini";
    const std::string written = "C:\\Program Files\\Acme\\Rocket\\colors.ini";
    const std::string unrecorded = "C:\\Program Files\\Acme\\Rocket\\fonts.ini";
    for (const auto &file : {kept, written, unrecorded}) m_.AddFile(file);
    Record_Set(&record_, kept.c_str(), 0);
    Record_Set(&record_, written.c_str(), RECORD_WRITTEN);
    log_.Take();
    RemoveItems("$?settings.ini,$?colors.ini,$?fonts.ini");
    EXPECT_TRUE(m_.Has(kept));
    EXPECT_FALSE(m_.Has(written));
    EXPECT_TRUE(m_.Has(unrecorded));
    EXPECT_EQ(log_.Text(), "Not removed, the setup kept the file that was there: '" + kept +
                               "'\nRemoved '" + written +
                               "'\nNot removed, no install record says the setup wrote it: '" +
                               unrecorded + "'\n");
}

TEST_F(Removal, ASharedFileGoesWithItsLastCount) {
    ASSERT_EQ(Find(), kInstall);
    const std::string twice = "C:\\Windows\\system32\\twice.dll";
    const std::string once = "C:\\Windows\\system32\\once.dll";
    const std::string others = "C:\\Windows\\system32\\others.dll";
    for (const auto &file : {twice, once, others}) {
        m_.AddFile(file);
        Record_Set(&record_, file.c_str(), RECORD_WRITTEN | RECORD_SHARED);
    }
    Record_Set(&record_, others.c_str(), RECORD_WRITTEN); // this installation raised no count
    m_.counts[memory_machine::Fold(twice)] = 2;
    m_.counts[memory_machine::Fold(once)] = 1;
    m_.counts[memory_machine::Fold(others)] = 1;
    log_.Take();
    RemoveItems("$2twice.dll,$2once.dll,$2others.dll");
    EXPECT_TRUE(m_.Has(twice));
    EXPECT_EQ(m_.counts[memory_machine::Fold(twice)], 1);
    EXPECT_FALSE(m_.Has(once));
    EXPECT_EQ(m_.counts.count(memory_machine::Fold(once)), 0u);
    EXPECT_TRUE(m_.Has(others));
    EXPECT_EQ(m_.counts[memory_machine::Fold(others)], 1);
    EXPECT_EQ(log_.Text(), "Shared file '" + twice +
                               "': count 1\nNot removed, other "
                               "installations still use this shared file: '" +
                               twice + "'\nShared file '" + once + "': no count left\nRemoved '" +
                               once +
                               "'\nNot removed, other installations still use this shared file: '" +
                               others + "'\n");
}

TEST_F(Removal, AFileInUseWaitsForTheRestartAndIsListed) {
    ASSERT_EQ(Find(), kInstall);
    const std::string busy = "C:\\Program Files\\Acme\\Rocket\\rocket.exe";
    const std::string stuck = "C:\\Program Files\\Acme\\Rocket\\stuck.dll";
    m_.AddFile(busy);
    m_.AddFile(stuck);
    m_.nodes[memory_machine::Fold(busy)].inUse = true;
    m_.nodes[memory_machine::Fold(stuck)].stuck = true;
    log_.Take();
    RemoveItems("rocket.exe,stuck.dll");
    EXPECT_EQ(m_.restart, std::vector<std::string>{busy});
    EXPECT_EQ(Pending(), busy + "\n");
    EXPECT_EQ(log_.Text(), "In use, removed at the next restart: '" + busy +
                               "' (32)\nUnable to remove '" + stuck + "' (5)\n");
}

TEST_F(Removal, TheListOfFilesLeftForTheRestartIsCutAtItsEdge) {
    // A line takes the path, its line end and the list's last zero byte: a path that ends the
    // list one byte short of its end is listed, one byte more is only counted.
    const int room = REMOVAL_PENDING_SIZE - 2;
    std::string first(1000, 'a'), fits(room - 1 - 1000 - 1, 'b');
    Removal_NotePending(first.c_str());
    Removal_NotePending(fits.c_str());
    int32_t count = 0, cut = 0;
    EXPECT_EQ(Removal_Pending(&count, &cut), first + "\n" + fits + "\n");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(cut, 0);
    Removal_Reset();
    std::string over(room - 1000 - 1, 'c');
    Removal_NotePending(first.c_str());
    Removal_NotePending(over.c_str());
    EXPECT_EQ(Removal_Pending(&count, &cut), first + "\n");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(cut, 1);
}

TEST_F(Removal, TheWalkOverEmptyFoldersStopsAtItsBase) {
    const std::string base = "C:\\Program Files\\Acme\\Rocket\\";
    m_.AddFolder(base + "a\\b\\c");
    m_.AddFile(base + "keep\\mine.txt");
    Removal_EmptyParents((base + "a\\b\\c\\file.txt").c_str(), base.c_str(), 0);
    EXPECT_FALSE(m_.Has(base + "a"));
    EXPECT_TRUE(m_.Has(base)); // the base stays
    Removal_EmptyParents((base + "keep\\mine.txt").c_str(), base.c_str(), 0);
    EXPECT_TRUE(m_.Has(base + "keep")); // not empty: the user's file
    // With removeBase the base goes too once empty, and never a folder above it (the clean-up
    // copy's walk: "$3" is its own folder then, not the installation folder).
    m_.macros.erase('3');
    m_.nodes.erase(memory_machine::Fold(base + "keep\\mine.txt"));
    m_.nodes.erase(memory_machine::Fold(kUninstaller));
    Removal_EmptyParents((base + "keep\\mine.txt").c_str(), base.c_str(), 1);
    EXPECT_FALSE(m_.Has(base));
    EXPECT_TRUE(m_.Has("C:\\Program Files\\Acme"));
}

TEST_F(Removal, TheWalkOverEmptyFoldersNeverTakesAProtectedOrLinkedFolder) {
    const std::string base = "C:\\Program Files\\Acme\\Rocket\\";
    m_.AddLink(base + "docs\\", "C:\\Users\\me\\Documents\\Rocket\\");
    Removal_EmptyParents((base + "docs\\x\\file.txt").c_str(), base.c_str(), 0);
    EXPECT_TRUE(m_.Has("C:\\Users\\me\\Documents\\Rocket")); // beyond the link
    // A folder of the system below a base is never taken, empty or not.
    m_.AddFolder("C:\\Users\\me\\Temp\\x");
    Removal_EmptyParents("C:\\Users\\me\\Temp\\x\\file.txt", "C:\\Users\\", 0);
    EXPECT_FALSE(m_.Has("C:\\Users\\me\\Temp\\x"));
    EXPECT_TRUE(m_.Has("C:\\Users\\me\\Temp"));
    EXPECT_TRUE(Removal_IsProtected("C:\\"));
    EXPECT_TRUE(Removal_IsProtected("C:\\Program Files\\"));
    EXPECT_FALSE(Removal_IsProtected("C:\\Program Files\\Acme\\"));
    EXPECT_FALSE(Removal_EmptyFolder("C:\\Users\\me\\Temp\\")); // empty, and guarded
    EXPECT_TRUE(m_.Has("C:\\Users\\me\\Temp"));
}

TEST_F(Removal, TheEmptyFoldersAboveAGoneInstallationGoUpToProgramFiles) {
    m_.AddFolder("C:\\Program Files\\Acme\\Rocket");
    Removal_EmptyAbove(kInstall); // still there: nothing above it is touched
    EXPECT_TRUE(m_.Has("C:\\Program Files\\Acme"));
    m_.nodes.erase(memory_machine::Fold(kUninstaller));
    EXPECT_FALSE(Removal_EmptyFolder(kInstall)); // "$3": the uninstaller's own folder stays
    EXPECT_TRUE(m_.Has(kInstall));
    m_.macros.erase('3');
    EXPECT_TRUE(Removal_EmptyFolder(kInstall));
    Removal_EmptyAbove(kInstall);
    EXPECT_FALSE(m_.Has("C:\\Program Files\\Acme"));
    EXPECT_TRUE(m_.Has("C:\\Program Files"));
    // A folder the user picked elsewhere leaves its parents alone.
    m_.AddFolder("C:\\Games\\Acme");
    Removal_EmptyAbove("C:\\Games\\Acme\\Rocket\\");
    EXPECT_TRUE(m_.Has("C:\\Games\\Acme"));
}

} // namespace
