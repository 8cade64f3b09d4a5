// The uninstaller's run over its script on a machine held in memory: the order of its walks
// (servers, files, shortcuts, groups, folders, the installation folder, the registry), the
// WINDOW commands that stop it, the shortcuts kept inside the Programs folder, the registry
// keys each taken only when empty, and the texts of its refusal and its closing box.
#include <gtest/gtest.h>

#include <string>

#include "engine-support.h"
#include "installrecord.h"
#include "memory-machine.h"
#include "removal-actions.h"
#include "removal.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "uninst.h"
#include "uninstrun.h"

using engine_test::Line;
using memory_machine::Machine;

namespace {

const char kInstall[] = "C:\\Program Files\\Acme\\Rocket\\";
const char kPrograms[] = "C:\\Users\\me\\Start Menu\\Programs";

class UninstRun : public ::testing::Test {
  protected:
    UninstRun() : log_("uninstrun-test.log") {}
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        m_.Reset();
        m_.systemFolders = {{RFOLDER_WINDOWS, "C:\\Windows"},
                            {RFOLDER_PROGRAM_FILES, "C:\\Program Files"},
                            {RFOLDER_START_MENU, "C:\\Users\\me\\Start Menu"}};
        m_.macros = {{'0', "C:\\Program Files\\"}, {'1', "C:\\Windows\\"}};
        for (const auto &folder : m_.systemFolders) m_.AddFolder(folder.second);
        m_.AddFolder(kPrograms);
        m_.AddFile(std::string(kInstall) + "uninst.exe");
        RemovalActions_Set(memory_machine::Removal());
        Removal_Reset();
        Removal_LookUpGuarded();
        state_ = InstallState();
        Str_Copy(state_.CompanyName, "Acme");
        Str_Copy(state_.ProductName, "Rocket");
        Str_Copy(state_.RegistryPath, "Software\\Acme\\Rocket");
        Str_Copy(state_.InstallPath, kInstall);
        log_.Take();
    }
    void TearDown() override {
        Record_Free(&record_);
        RemovalActions_Set(nullptr);
    }
    void Remove(const std::string &script, const char *recordPath = "") {
        UninstRun_Remove(script.c_str(), (int32_t)script.size(), &state_, &record_, recordPath,
                         memory_machine::Uninstall());
    }
    int Close(const std::string &script) {
        return UninstRun_CloseWindows(script.c_str(), (int32_t)script.size(), &state_,
                                      memory_machine::Uninstall());
    }

    engine_test::LogCapture log_;
    Machine &m_ = memory_machine::Get();
    InstallState state_{};
    InstallRecord record_{};
};

TEST_F(UninstRun, AWholeRunTakesWhatTheScriptInstalledInOrder) {
    const std::string install = kInstall;
    for (const char *file : {"readme.txt", "bin\\server.dll", "data\\deep\\big.dat", "uninst.dat"})
        m_.AddFile(install + file);
    m_.AddFile(std::string(kPrograms) + "\\Acme\\Rocket\\Read Me.lnk");
    m_.remembered["Software\\Acme\\Rocket"] = kInstall;
    m_.registryKeys = {"Software", "Software\\Acme", "Software\\Acme\\Rocket"};
    m_.entryKeys = {UNINSTREG_KEY_PREFIX "Acme Rocket"};
    const std::string script =
        Line("FILE LIST", {"readme.txt,bin\\server.dll,data\\deep\\big.dat"}) + Line("BREAK") +
        Line("OLE", {"REGISTER", "bin\\server.dll"}) + Line("OLE", {"REGISTER", "bin\\gone.dll"}) +
        Line("CREATE GROUP", {"Acme\\Rocket"}) +
        Line("ADD ITEM", {"0", "readme.txt", "", "Read Me"});
    Remove(script, (install + "uninst.dat").c_str());
    EXPECT_EQ(m_.unregistered, std::vector<std::string>{install + "bin\\server.dll"});
    EXPECT_EQ(m_.progress,
              (std::vector<double>{100.0 / 6, 200.0 / 6, 300.0 / 6, 400.0 / 6, 500.0 / 6, 100.0}));
    EXPECT_TRUE(m_.Has(install + "uninst.exe")); // the clean-up copy's work
    EXPECT_FALSE(m_.Has(install + "bin"));
    EXPECT_FALSE(m_.Has(std::string(kPrograms) + "\\Acme"));
    EXPECT_TRUE(m_.Has(kPrograms));
    EXPECT_EQ(m_.registryKeys, std::vector<std::string>{"Software"});
    EXPECT_TRUE(m_.entryKeys.empty());
    EXPECT_TRUE(m_.remembered.empty());
    const std::string lnk = std::string(kPrograms) + "\\Acme\\Rocket\\Read Me.lnk";
    EXPECT_EQ(log_.Text(), "OLE: unregister '" + install + "bin\\server.dll'\n" + "Removed '" +
                               install + "readme.txt'\nRemoved '" + install +
                               "bin\\server.dll'\nRemoved '" + install +
                               "data\\deep\\big.dat'\nRemoved '" + lnk + "'\nRemoved folder '" +
                               kPrograms + "\\Acme\\Rocket'\nRemoved folder '" + kPrograms +
                               "\\Acme'\nRemoved folder '" + install + "bin\\'\nRemoved folder '" +
                               install + "data\\deep\\'\nRemoved folder '" + install +
                               "data\\'\nRemoved '" + install + "uninst.dat'\n" +
                               "Removed key 'HKLM\\" UNINSTREG_KEY_PREFIX "Acme Rocket'\n"
                               "Removed key 'HKCU\\Software\\Acme\\Rocket'\n"
                               "Removed key 'HKCU\\Software\\Acme'\n");
}

TEST_F(UninstRun, TheInstallationFolderAndItsEmptyParentsGoWhenNothingHoldsThem) {
    m_.nodes.erase(memory_machine::Fold(std::string(kInstall) + "uninst.exe"));
    Remove(Line("FILE LIST", {"readme.txt"}));
    EXPECT_FALSE(m_.Has("C:\\Program Files\\Acme"));
    EXPECT_TRUE(m_.Has("C:\\Program Files"));
    EXPECT_EQ(log_.Text(), "Removed folder 'C:\\Program Files\\Acme\\Rocket\\'\n"
                           "Removed folder 'C:\\Program Files\\Acme\\'\n");
}

TEST_F(UninstRun, AKeyThatHoldsMoreStaysWithItsParents) {
    m_.registryKeys = {"Software", "Software\\Acme", "Software\\Acme\\Rocket",
                       "Software\\Acme\\Rocket\\Settings"};
    m_.remembered["Software\\Acme\\Rocket"] = kInstall;
    Remove("");
    EXPECT_TRUE(m_.remembered.empty()); // the value goes in any case
    EXPECT_EQ(m_.registryKeys.size(), 4u);
    EXPECT_EQ(log_.Text(), "");
}

TEST_F(UninstRun, TheUninstallEntrysKeyIsNamedAtItsLimit) {
    // The key's name as long as the registry takes: deleted. One more letter: never asked for
    // (the setup made no such entry, and a cut name is another product's).
    const int prefix = (int)sizeof UNINSTREG_KEY_PREFIX - 1;
    const std::string company(120, 'c');
    const int room = UNINSTREG_KEY_LIMIT - prefix - (int)company.size() - 1;
    ASSERT_LT(room, INSTALL_TEXT_SIZE);
    std::string product(room, 'p');
    Str_Copy(state_.CompanyName, company.c_str());
    Str_Copy(state_.ProductName, product.c_str());
    const std::string key = UNINSTREG_KEY_PREFIX + company + " " + product;
    m_.entryKeys = {key, key + "q"};
    Remove("");
    EXPECT_EQ(m_.entryKeys, std::vector<std::string>{key + "q"});
    Str_Copy(state_.ProductName, (product + "q").c_str());
    m_.entryKeys = {key, key + "q"};
    Remove("");
    EXPECT_EQ(m_.entryKeys, (std::vector<std::string>{key, key + "q"}));
}

TEST_F(UninstRun, AShortcutOutsideTheProgramsFolderStays) {
    m_.AddFile("C:\\Users\\me\\Desktop\\Rocket.lnk");
    Remove(Line("CREATE GROUP", {"..\\..\\Desktop"}) +
           Line("ADD ITEM", {"0", "r.exe", "", "Rocket"}));
    EXPECT_TRUE(m_.Has("C:\\Users\\me\\Desktop\\Rocket.lnk"));
    EXPECT_TRUE(log_.Has("Not removed, outside the Programs folder: '" + std::string(kPrograms) +
                         "\\..\\..\\Desktop\\Rocket.lnk'\n"));
}

TEST_F(UninstRun, AProgramThatKeepsRunningStopsTheRunBeforeAnythingGoes) {
    const std::string script = Line("WINDOW", {"0", "2000", "Rocket", "RocketMain", "", ""}) +
                               Line("WINDOW", {"2", "2000", "Viewer", "", "", "Close it"}) +
                               Line("WINDOW", {"1", "2000", "Other", "", "", ""});
    EXPECT_EQ(Close(script), 1); // every window closed
    m_.closeWindows = 0;         // a program that does not close
    m_.windowsClosed.clear();
    EXPECT_EQ(Close(script), 0);
    // One that is sent WM_CLOSE leaves its files to the restart; the one asked about ends the
    // walk.
    EXPECT_EQ(m_.windowsClosed, (std::vector<std::string>{"Rocket|RocketMain|0", "Viewer||2"}));
    EXPECT_TRUE(log_.Has("Uninstall stopped: the program is still running\n"));
    EXPECT_EQ(Close(Line("WINDOW", {"0", "2000", "Rocket", "RocketMain", "", ""})), 1);
}

TEST_F(UninstRun, TheBoxesSayWhatWasDoneAndWhatWaits) {
    char message[REMOVAL_PENDING_SIZE + 256];
    UninstRun_RefusalText("Rocket", "its installation folder 'C:\\' is the root of a drive",
                          message, sizeof message);
    EXPECT_STREQ(message, "Rocket was not removed: its installation folder 'C:\\' is the root of "
                          "a drive. Nothing was removed.");
    UninstRun_ClosingText("Rocket", message, sizeof message);
    EXPECT_STREQ(message, "Rocket was removed from your computer.");
    Removal_NotePending("C:\\Program Files\\Acme\\Rocket\\rocket.exe");
    UninstRun_ClosingText("Rocket", message, sizeof message);
    EXPECT_STREQ(message, "Rocket was removed from your computer, except for these files, which "
                          "are in use and will be removed when Windows restarts:\n\n"
                          "C:\\Program Files\\Acme\\Rocket\\rocket.exe\n");
    Removal_NotePending(std::string(REMOVAL_PENDING_SIZE, 'x').c_str()); // only counted
    UninstRun_ClosingText("Rocket", message, sizeof message);
    EXPECT_TRUE(std::string(message).find("rocket.exe\n...\n") != std::string::npos);
}

} // namespace
