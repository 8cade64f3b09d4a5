// File installation with the real file system and registry under Wine: the INSTALL command over
// archives made by the builder (and by hand where a block is damaged) opened with Ffs_Open, files
// written in pieces, the uninstaller's copy of the script read back with the test kit's decoder;
// on a display also the overwrite question, the problem box and the progress bar.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "dialogs.h"
#include "ffs-cmp2.h"
#include "ffs.h"
#include "files.h"
#include "iscript.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-support.h"

namespace {

using testing_support::AnswerMatchingBoxes;
using testing_support::Descramble;
using testing_support::IsMessageBox;
using testing_support::LittleEndian;
using testing_support::PutWord;
using testing_support::ReadFile;
using testing_support::SeenBox;
using testing_support::WriteFile;

const char *kLogName = "install-test.log";
const char *kKey = "Software\\TesselInstallTest";

class Files : public testing::Test {
  protected:
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        dir = testing_support::MakeTempDir("install");
    }
    // What was logged since the last call.
    std::string TakeLog() { return log_.Take(); }
    testing_support::LogCapture log_{kLogName};
    std::string dir;
};

// ---- INSTALL ----

class Install : public Files {
  protected:
    void SetUp() override {
        Files::SetUp();
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        memset(&state, 0, sizeof state);
        state.Mode = Quiet;
        strcpy(state.InstallPath, dir.c_str());
        script = "\026PRODUCT NAME:Rocket\r\n\026BREAK:\r\n";
        state.ScriptText = &script[0];
        state.ScriptSize = (int32_t)script.size();
    }
    void TearDown() override {
        Ffs_Close();
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        Files::TearDown();
    }
    typedef std::vector<std::pair<std::string, std::string>> Contents; // names and bytes
    // Opens the builder's archive of files.
    void Open(const Contents &files) { OpenArchive(testing_support::PackArchive(files)); }
    // Opens an archive of blocks stored as given, as the builder never stores them.
    void OpenRaw(const Contents &blocks) {
        std::vector<testing_support::RawEntry> entries;
        for (const auto &block : blocks)
            entries.push_back({testing_support::PlainHash(block.first), block.second});
        OpenArchive(testing_support::RawArchive(testing_support::SortedByHash(entries), 0));
    }
    void OpenArchive(const std::string &archive) {
        const std::string path = dir + "archive.ffs";
        ASSERT_TRUE(WriteFile(path, archive));
        ASSERT_EQ(Ffs_Open(path.c_str(), 0), 1);
        Ffs_AddCodec(&Type2_Codec);
    }
    // INSTALL through the keyword table over list, as the script holds it (ended by CR LF).
    int Run(const std::string &fileList) {
        list = fileList + "\r\n";
        state.FileList = list.c_str();
        state.FileCount = 1;
        for (char c : fileList) state.FileCount += c == ',';
        return RunCommand();
    }
    int RunCommand() {
        MemStats before, after;
        Mem_GetStats(&before);
        Cmd_RegisterAll();
        Script_RegisterBreak();
        int32_t cursor = 0;
        int result = Cmd_Dispatch("INSTALL", &state, "\r\n", &cursor);
        Cmd_ReleaseAll();
        Mem_GetStats(&after);
        EXPECT_EQ(after.blockCount, before.blockCount); // every buffer released, also on failure
        return result;
    }
    // INSTALL of fileList into the new folder "run<nth>" with the nth file call from now on
    // failing: the folder, in *root, and the result.
    int RunFailingAt(int32_t nth, const std::string &fileList, std::string *root) {
        *root = dir + "run" + std::to_string(nth) + "\\";
        strcpy(state.InstallPath, root->c_str());
        Sys_FileFailAt(nth);
        int result = Run(fileList);
        Sys_FileFailAt(0);
        return result;
    }
    std::string Remembered() {
        char value[MAX_PATH] = "";
        DWORD size = sizeof value;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "<no key>";
        LONG read = RegQueryValueExA(key, "Install Path", NULL, NULL, (BYTE *)value, &size);
        RegCloseKey(key);
        return read == ERROR_SUCCESS ? value : "<no value>";
    }
    InstallState state;
    std::string script, list;
};

const std::string kBig(5000, 'q'); // compresses well

TEST_F(Install, EveryItemGoesToItsExpandedPathByteForByte) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string tempFile = std::string(temp) + "tessel-install-c.dll";
    Open({{"a.txt", "alpha"},
          {"sub\\deep\\b.bin", std::string("b\0b\xFF", 4)},
          {"big.dat", kBig},
          {"\\tessel-install-c.dll", "from the backslashed name"},
          {"uninst.exe", "unused"}});
    EXPECT_EQ(Run("a.txt,sub\\deep\\b.bin,$?big.dat,$4\\tessel-install-c.dll"), 1);
    EXPECT_EQ(ReadFile(dir + "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dir + "sub\\deep\\b.bin"), std::string("b\0b\xFF", 4));
    EXPECT_EQ(ReadFile(dir + "big.dat"), kBig);
    EXPECT_EQ(ReadFile(tempFile), "from the backslashed name");
    DeleteFileA(tempFile.c_str());
    EXPECT_FALSE(testing_support::FileExists(dir + "uninst.exe")); // no UninstallName
    std::string log = TakeLog();
    for (std::string line : {"a.txt to " + dir + "a.txt [0x00000000]\n",
                             "big.dat to " + dir + "big.dat [0x00000001]\n",
                             "\\tessel-install-c.dll to " + tempFile + " [0x00000000]\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

TEST_F(Install, TheDirectoryIsRememberedAndTheUninstallerCarriesTheScript) {
    const std::string program = std::string("MZ\x90\0uninstaller", 15);
    Open({{"a.txt", "alpha"}, {"uninst.exe", program}});
    strcpy(state.RegistryPath, kKey);
    strcpy(state.UninstallName, "Uninstall\\uninst.exe");
    EXPECT_EQ(Run("a.txt"), 1);
    EXPECT_EQ(Remembered(), dir);
    std::string file = ReadFile(dir + "Uninstall\\uninst.exe");
    ASSERT_EQ(file.size(), program.size() + script.size() + 8);
    EXPECT_EQ(file.substr(0, program.size()), program);
    EXPECT_EQ(file.substr(program.size(), 4), "FFS?");
    EXPECT_EQ(Descramble(file.substr(program.size() + 4, script.size())), script);
    EXPECT_EQ(LittleEndian(file, file.size() - 4), program.size());

    // An existing key takes the new directory; without a list only the value and the
    // uninstaller are written.
    strcpy(state.InstallPath, (dir + "Other\\").c_str());
    state.FileCount = 0;
    state.FileList = nullptr;
    EXPECT_EQ(RunCommand(), 1);
    EXPECT_EQ(Remembered(), dir + "Other\\");
    EXPECT_EQ(ReadFile(dir + "Other\\Uninstall\\uninst.exe"), file);
    EXPECT_FALSE(testing_support::FileExists(dir + "Other\\a.txt"));
}

TEST_F(Install, MissingEntriesStopTheCommandAndKeepWhatWasWritten) {
    Open({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    EXPECT_EQ(Run("a.txt,nope.txt,b.txt"), 0);
    EXPECT_EQ(ReadFile(dir + "a.txt"), "alpha");
    EXPECT_FALSE(testing_support::FileExists(dir + "b.txt"));
    EXPECT_EQ(Run(""), 0); // an empty FILE LIST is one empty name
    EXPECT_EQ(Run("a.txt,,b.txt"), 0);
    EXPECT_FALSE(testing_support::FileExists(dir + "b.txt"));
    strcpy(state.UninstallName, "uninst.exe");
    EXPECT_EQ(Run("a.txt"), 0);
    std::string log = TakeLog();
    for (const char *line : {"Unable to get size for 'nope.txt'\n", "Unable to get size for ''\n",
                             "Unable to get size for 'uninst.exe'\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

TEST_F(Install, QuietModeSkipsAnExistingConfirmedFileAndCountsIt) {
    Open({{"keep.txt", "new keep"}, {"over.txt", "new over"}});
    WriteFile(dir + "keep.txt", "old keep");
    WriteFile(dir + "over.txt", "old over");
    EXPECT_EQ(Run("$?keep.txt,over.txt"), 1);
    EXPECT_EQ(ReadFile(dir + "keep.txt"), "old keep");
    EXPECT_EQ(ReadFile(dir + "over.txt"), "new over"); // no "$?": overwritten without a word
}

TEST_F(Install, ItemsAndPathsThatDoNotFitAreRefusedNotCut) {
    const std::string longName(300, 'n'), fits(259, 'f');
    Open({{"a.txt", "alpha"},
          {longName.substr(0, 259), "a cut name would find this"},
          {fits, "an item that fits, under a directory it does not fit"}});
    EXPECT_EQ(Run("a.txt," + longName), 0);
    EXPECT_EQ(ReadFile(dir + "a.txt"), "alpha");
    EXPECT_EQ(Run(fits), 0);
    std::string log = TakeLog();
    EXPECT_NE(log.find("File list item too long (300 > 259)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Path '" + fits + "' too long"), std::string::npos) << log;
    for (const char *pattern : {"n*", "f*"}) { // nothing written under a cut name
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir + pattern).c_str(), &found);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
}

TEST_F(Install, AnEmptyFileIsInstalledAsAnEmptyFile) {
    // The builder stores no empty file; a disk file read while no archive is open can be one.
    const std::string source = testing_support::MakeTempDir("install-source");
    WriteFile(source + "empty.txt", "");
    WriteFile(source + "full.txt", "full");
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    SetCurrentDirectoryA(source.c_str());
    int result = Run("empty.txt,full.txt");
    SetCurrentDirectoryA(current);
    EXPECT_EQ(result, 1);
    bool ok = false;
    EXPECT_EQ(ReadFile(dir + "empty.txt", &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadFile(dir + "full.txt"), "full");
}

TEST_F(Install, ABlockThatClaimsNoOrNegativeBytesIsDamaged) {
    // Type2 headers whose size word gives 0 and -5 bytes: no encoder makes them.
    auto block = [](int32_t size) {
        std::string bytes = TYPE2_TAG;
        PutWord(&bytes, ~(uint32_t)size);
        return bytes + std::string(16, '\x55');
    };
    OpenRaw({{"zero.bin", block(0)}, {"negative.bin", block(-5)}, {"uninst.exe", block(-5)}});
    EXPECT_EQ(Run("zero.bin"), 0);
    EXPECT_EQ(Run("negative.bin"), 0);
    strcpy(state.UninstallName, "uninst.exe");
    state.FileCount = 0;
    EXPECT_EQ(RunCommand(), 0);
    EXPECT_FALSE(testing_support::FileExists(dir + "zero.bin"));
    EXPECT_FALSE(testing_support::FileExists(dir + "uninst.exe"));
    std::string log = TakeLog();
    for (const char *line : {"Unable to load 'zero.bin'\n", "Unable to load 'negative.bin'\n",
                             "Unable to load 'uninst.exe'\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

// ---- Files in pieces ----

// Bytes that are not the same in any two pieces: a piece written twice, or lost, shows.
std::string Numbered(size_t size, const char *word) {
    std::string text;
    for (int i = 0; text.size() < size; i++) text += std::string(word) + std::to_string(i) + "\r\n";
    return text.substr(0, size);
}

std::string Noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (auto &b : bytes) b = (char)((seed = seed * 1103515245u + 12345u) >> 24);
    return bytes;
}

// Files of several pieces, compressed and raw, come out whole, while the memory taken from the
// memory manager stays far below their size.
TEST_F(Install, LargeFilesAreWrittenInPiecesWithoutBeingHeldWhole) {
    const std::string text = Numbered(3 * FFS_PIECE_SIZE + 1000, "line "),
                      noise = Noise(2 * FFS_PIECE_SIZE + 7, 1);
    Open({{"text.txt", text}, {"noise.bin", noise}});
    Mem_Init(MEM_NO_LIMIT, 0); // the peak from here on
    EXPECT_EQ(Run("text.txt,noise.bin"), 1);
    EXPECT_EQ(ReadFile(dir + "text.txt"), text);
    EXPECT_EQ(ReadFile(dir + "noise.bin"), noise);
    MemStats stats;
    Mem_GetStats(&stats);
    EXPECT_LT(stats.peakBytes, 3 * FFS_PIECE_SIZE) << "the decoder's two pieces, no file";
}

// The file is opened at the first piece: an entry that cannot be read leaves the place as it
// was; one whose reading fails after pieces were written leaves no file.
TEST_F(Install, AnEntryThatCannotBeReadLeavesThePlaceAsItWas) {
    auto claimsNothing = [] {
        std::string bytes = TYPE2_TAG;
        PutWord(&bytes, 0xFFFFFFFFu);
        return bytes + std::string(16, '\x55');
    };
    OpenRaw({{"zero.bin", claimsNothing()}, {"sub\\new.bin", claimsNothing()}});
    WriteFile(dir + "zero.bin", "the old file");
    EXPECT_EQ(Run("zero.bin"), 0);
    EXPECT_EQ(ReadFile(dir + "zero.bin"), "the old file");
    EXPECT_EQ(Run("sub\\new.bin"), 0);
    EXPECT_EQ(GetFileAttributesA((dir + "sub").c_str()), INVALID_FILE_ATTRIBUTES); // no folder made
    Ffs_Close();
    TakeLog();

    // Cut in the middle of the block, under the reader that has the archive open, once the
    // first pieces are written: raw, and Type2 (16 values: about half the size).
    std::string sixteen = Noise(6 * FFS_PIECE_SIZE, 2);
    for (auto &b : sixteen) b &= 0x0F;
    const Contents cases = {{"raw.bin", Noise(6 * FFS_PIECE_SIZE, 3)}, {"packed.bin", sixteen}};
    for (const auto &entry : cases) {
        Open({entry});
        const std::string archive = dir + "archive.ffs";
        HANDLE file = CreateFileA(archive.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetFilePointer(file, (LONG)(GetFileSize(file, NULL) / 2), NULL, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(file));
        CloseHandle(file);
        WriteFile(dir + entry.first, "the old file");
        EXPECT_EQ(Run(entry.first), 0);
        EXPECT_FALSE(testing_support::FileExists(dir + entry.first)) << entry.first;
        const std::string log = TakeLog();
        EXPECT_NE(log.find("Unable to load '" + entry.first + "'\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("Unable to write"), std::string::npos) << log;
        Ffs_Close();
    }
}

// ---- On a display: the question, the problem box and the progress bar ----

using testing_support::DisplayAvailable;

TEST_F(Install, TheUserDecidesWhetherAnExistingFileIsOverwritten) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    state.Mode = Interactive;
    Open({{"keep.txt", "new keep"}, {"over.txt", "new over"}});
    WriteFile(dir + "keep.txt", "old keep");
    WriteFile(dir + "over.txt", "old over");
    std::vector<SeenBox> boxes;
    std::thread user([&] { AnswerMatchingBoxes({IDNO, IDYES}, &boxes, IsMessageBox); });
    int result = Run("$?keep.txt,$?over.txt");
    user.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadFile(dir + "keep.txt"), "old keep");
    EXPECT_EQ(ReadFile(dir + "over.txt"), "new over");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "Overwrite confirmation...");
    EXPECT_EQ(boxes[0].text, "File 'keep.txt' already exists - overwrite?");
    EXPECT_EQ(boxes[1].text, "File 'over.txt' already exists - overwrite?");
}

TEST_F(Install, AFileThatCannotBeWrittenIsShownAndStopsTheCommand) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    Open({{"a.txt", "alpha"}, {"folder", "a file"}, {"b.txt", "beta"}});
    CreateDirectoryA((dir + "folder").c_str(), NULL);
    ASSERT_EQ(Progress_Create(NULL, NULL), 1);
    std::vector<SeenBox> boxes;
    std::thread user([&] { AnswerMatchingBoxes({IDOK}, &boxes, IsMessageBox); });
    int result = Run("a.txt,folder,b.txt"); // quiet: the box is shown all the same
    user.join();
    bool visible = IsWindowVisible((HWND)Progress_Window());
    Progress_Destroy();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(visible);
    EXPECT_EQ(ReadFile(dir + "a.txt"), "alpha");
    EXPECT_FALSE(testing_support::FileExists(dir + "b.txt"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Install problem...");
    EXPECT_EQ(boxes[0].text, "Unable to create file '" + dir + "folder'");
    EXPECT_NE(TakeLog().find("Unable to create file '" + dir + "folder'\n"), std::string::npos);
}

int BarPosition() {
    return (int)SendDlgItemMessageA((HWND)Progress_Window(), PROGRESS_BAR_ID, PBM_GETPOS, 0, 0);
}

TEST_F(Install, TheBarCountsSkippedFilesEndsHalfwayThroughTheLastAndIsHidden) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    Open({{"four.bin", std::string(4096, 'x')}, {"last.bin", std::string(4096, 'y')}});
    ASSERT_EQ(Progress_Create(NULL, NULL), 1);
    state.InstallSizeKB = 10;
    WriteFile(dir + "four.bin", "kept"); // skipped in quiet mode, counted all the same
    EXPECT_EQ(Run("$?four.bin,last.bin"), 1);
    EXPECT_EQ(ReadFile(dir + "four.bin"), "kept");
    int moved = BarPosition(); // (4 + 4 / 2) of 10 KB: 60 %
    bool visible = IsWindowVisible((HWND)Progress_Window());
    state.InstallSizeKB = 0;
    Progress_Set(25);
    EXPECT_EQ(Run("four.bin,last.bin"), 1);
    int unmoved = BarPosition();
    Progress_Destroy();
    EXPECT_EQ(moved, 1200);
    EXPECT_FALSE(visible);
    EXPECT_EQ(unmoved, 500);
}

// ---- Failing file calls ----

std::string Replaced(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Every file call of a run that writes two files and the uninstaller into a new folder fails in
// turn. A call that the command gets over (an open tried again once the directories are made,
// a log write tried again) leaves every file complete and the log as without the failure; any
// other fails the command at that file, with its one log line (the reader's, for a read of the
// archive), and that file is not left.
TEST_F(Install, AFailedFileCallFailsTheCommandAtItsFileOrIsGotOver) {
    if (DisplayAvailable()) GTEST_SKIP() << "each failure's problem box would wait for a click";
    Open({{"a.txt", kBig},
          {"sub\\b.bin", std::string("b\0b\xFF", 4)},
          {"uninst.exe", std::string("MZ\x90\0uninstaller", 15)}});
    strcpy(state.UninstallName, "uninst.exe");
    const std::vector<std::string> names = {"a.txt", "sub\\b.bin", "uninst.exe"};
    const std::string clean = dir + "clean\\";
    strcpy(state.InstallPath, clean.c_str());
    TakeLog();
    int32_t before = Sys_FileCalls();
    ASSERT_EQ(Run("a.txt,sub\\b.bin"), 1);
    const int32_t calls = Sys_FileCalls() - before;
    RecordProperty("FileCalls", calls);
    const std::string cleanLog = TakeLog();
    std::vector<std::string> complete;
    for (const auto &name : names) complete.push_back(ReadFile(clean + name));
    ASSERT_EQ(complete[0], kBig);

    std::map<std::string, int> failures; // log line with the file's name: runs
    for (int32_t nth = 1; nth <= calls; nth++) {
        std::string root;
        int result = RunFailingAt(nth, "a.txt,sub\\b.bin", &root);
        std::string log = TakeLog();
        size_t written = 0; // files complete, in the order of writing
        while (written < names.size() && ReadFile(root + names[written]) == complete[written])
            written++;
        for (size_t i = written; i < names.size(); i++)
            EXPECT_FALSE(testing_support::FileExists(root + names[i])) << nth << ": " << names[i];
        if (result == 1) {
            EXPECT_EQ(written, names.size()) << "call " << nth;
            EXPECT_EQ(log, Replaced(cleanLog, clean, root)) << "call " << nth;
            continue;
        }
        ASSERT_LT(written, names.size()) << "call " << nth;
        // The last line, and the only one of its kind, names the first file not written.
        const std::string line = log.substr(std::min(log.find("Unable"), log.size()));
        const std::string target = "'" + root + names[written] + "'\n";
        const std::string entry = "'" + names[written] + "'\n";
        EXPECT_TRUE(line == "Unable to create file " + target ||
                    line == "Unable to write to file " + target ||
                    line == "Unable to get size for " + entry ||
                    line == "Unable to load " + entry ||
                    line == "Unable to peek into compressed data\nUnable to get size for " + entry)
            << "call " << nth << ": " << log;
        failures[Replaced(line, root, "")]++;
    }
    // An open fails once for want of the new folders and is tried again: failing that second
    // open is the failure to create. Writes and closes fail the file. Each file's calls on the
    // archive: its size (the move to its block and its two header words; the look at its first
    // bytes, between asking the place and the move back), then its bytes (the place of its block
    // asked twice).
    const std::map<std::string, int> expected = {
        {"Unable to get size for 'a.txt'\n", 3},
        {"Unable to peek into compressed data\nUnable to get size for 'a.txt'\n", 3},
        {"Unable to load 'a.txt'\n", 9},
        {"Unable to create file 'a.txt'\n", 1},
        {"Unable to write to file 'a.txt'\n", 2},
        {"Unable to get size for 'sub\\b.bin'\n", 3},
        {"Unable to peek into compressed data\nUnable to get size for 'sub\\b.bin'\n", 3},
        {"Unable to load 'sub\\b.bin'\n", 8},
        {"Unable to create file 'sub\\b.bin'\n", 1},
        {"Unable to write to file 'sub\\b.bin'\n", 2},
        {"Unable to get size for 'uninst.exe'\n", 3},
        {"Unable to peek into compressed data\nUnable to get size for 'uninst.exe'\n", 3},
        {"Unable to load 'uninst.exe'\n", 8},
        {"Unable to write to file 'uninst.exe'\n", 2},
    };
    EXPECT_EQ(failures, expected) << calls << " calls";
}

// The "$?" check opens the existing file to see it: a failure there must not pass for a
// missing file, or quiet mode would overwrite what it keeps. A failed read of the entry's size
// in the archive, before the check, stops the command there.
TEST_F(Install, AFailedCallNeverOverwritesAFileThatQuietModeKeeps) {
    Open({{"keep.txt", "new keep"}});
    ASSERT_TRUE(WriteFile(dir + "keep.txt", "old keep"));
    int32_t before = Sys_FileCalls();
    EXPECT_EQ(Run("$?keep.txt"), 1);
    const int32_t calls = Sys_FileCalls() - before;
    // The read-ahead's look at the item (a file of a group would go to a thread): a move to its
    // block and two header words; the entry's size: the same, the place asked, a look at its
    // first bytes and the move back; the log line's open, write and close; the check's open and
    // close.
    EXPECT_EQ(calls, 14);
    TakeLog();
    int stopped = 0;
    for (int32_t nth = 1; nth <= calls; nth++) {
        Sys_FileFailAt(nth);
        int result = Run("$?keep.txt");
        Sys_FileFailAt(0);
        if (result != 1) {
            stopped++;
            EXPECT_EQ(result, 0) << "call " << nth;
            EXPECT_NE(TakeLog().find("Unable to get size for 'keep.txt'\n"), std::string::npos)
                << "call " << nth;
        }
        TakeLog();
        EXPECT_EQ(ReadFile(dir + "keep.txt"), "old keep") << "call " << nth;
    }
    EXPECT_EQ(stopped, 6);
}

// Each file call of a file written in three pieces fails in turn: the command fails at that
// file with its one line and leaves none of it, except for the first open, which is tried again
// once the new folder is made.
TEST_F(Install, AFailedCallWhileAFileIsWrittenInPiecesLeavesNoneOfIt) {
    if (DisplayAvailable()) GTEST_SKIP() << "each failure's problem box would wait for a click";
    const std::string text = Numbered(2 * FFS_PIECE_SIZE + 500, "row ");
    Open({{"text.txt", text}});
    const std::string clean = dir + "clean\\";
    strcpy(state.InstallPath, clean.c_str());
    int32_t before = Sys_FileCalls();
    ASSERT_EQ(Run("text.txt"), 1);
    const int32_t calls = Sys_FileCalls() - before;
    ASSERT_EQ(ReadFile(clean + "text.txt"), text);
    TakeLog();
    std::map<std::string, int> lines;
    for (int32_t nth = 1; nth <= calls; nth++) {
        std::string root;
        int result = RunFailingAt(nth, "text.txt", &root);
        const std::string log = TakeLog();
        if (result == 1) {
            EXPECT_EQ(ReadFile(root + "text.txt"), text) << "call " << nth;
            continue;
        }
        EXPECT_FALSE(testing_support::FileExists(root + "text.txt")) << "call " << nth;
        const size_t at = log.find("Unable");
        ASSERT_NE(at, std::string::npos) << "call " << nth << ": " << log;
        lines[Replaced(log.substr(at), root, "")]++;
    }
    // The log's own calls are tried again; of the file's: the second open, three writes, the
    // close; of the archive's: the entry's size (a move, two words, the place asked, a look and
    // the move back), then its block (its place asked twice).
    const std::map<std::string, int> expected = {
        {"Unable to get size for 'text.txt'\n", 3},
        {"Unable to peek into compressed data\nUnable to get size for 'text.txt'\n", 3},
        {"Unable to load 'text.txt'\n", 9},
        {"Unable to create file 'text.txt'\n", 1},
        {"Unable to write to file 'text.txt'\n", 4},
    };
    EXPECT_EQ(lines, expected) << calls << " calls";
}

} // namespace
