// File installation with the real file system and registry under Wine: writing files and
// creating directories (nested, blocked by a file, read-only), the uninstaller's scrambling
// checked against a decoder of its own, and the INSTALL command over hand-made archives opened
// with Ffs_Open; on a display also the overwrite question, the problem box and the progress bar.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "iscript.h"
#include "dialogs.h"
#include "ffs-cmp2.h"
#include "ffs.h"
#include "fileinstall.h"
#include "tessel-core.h"
#include "test-support.h"
#include "uninst.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

const char *kLogName = "install-test.log";
const char *kKey = "Software\\TesselInstallTest";

bool IsDirectory(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every byte of text, scrambled as the uninstaller file's description says: byte i with the
// key's byte k = i mod n, with k and with i, all in 8 bits.
std::string Descramble(std::string text) {
    const std::string key = UNINST_KEY;
    for (size_t i = 0; i < text.size(); i++) {
        size_t k = i % key.size();
        text[i] = (char)(text[i] ^ key[k] ^ (char)(k & 0xFF) ^ (char)(i & 0xFF));
    }
    return text;
}

uint32_t LittleEndian(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--) value = value << 8 | (uint8_t)bytes[at + i];
    return value;
}

void PutWord(std::string *out, uint32_t word) {
    for (int i = 0; i < 4; i++) *out += (char)(word >> (8 * i));
}

// A stand-alone archive (flags 0: names hashed as they are) of (name, data) entries; those
// marked are stored as Type2 blocks.
struct Entry {
    std::string name, data;
    bool compress = false;
};

std::string HandArchive(std::vector<Entry> entries) {
    struct Block {
        uint32_t hash;
        std::string bytes;
    };
    std::vector<Block> blocks;
    Type2_Init();
    for (const auto &entry : entries) {
        std::string bytes = entry.data;
        if (entry.compress) {
            std::vector<uint8_t> block(entry.data.size() * 3 + 64);
            int32_t length = (int32_t)block.size();
            EXPECT_EQ(Type2_CompressAlways((const uint8_t *)entry.data.data(),
                                           (int32_t)entry.data.size(), block.data(), &length),
                      1);
            bytes.assign((const char *)block.data(), (size_t)length);
        }
        blocks.push_back({Core_Crc32(entry.name.data(), (int)entry.name.size()), bytes});
    }
    Type2_Shutdown();
    std::sort(blocks.begin(), blocks.end(),
              [](const Block &a, const Block &b) { return a.hash < b.hash; });
    uint32_t count = (uint32_t)blocks.size(), total = 24 + 8 * count;
    for (const auto &block : blocks) total += 8 + (uint32_t)block.bytes.size();
    std::string out = FFS_TAG;
    for (uint32_t word : {count, ~count, total, ~total, 0u}) PutWord(&out, word);
    uint32_t offset = 24 + 8 * count;
    for (const auto &block : blocks) {
        PutWord(&out, block.hash);
        PutWord(&out, offset);
        offset += 8 + (uint32_t)block.bytes.size();
    }
    for (const auto &block : blocks) {
        PutWord(&out, block.hash);
        PutWord(&out, (uint32_t)block.bytes.size());
        out += block.bytes;
    }
    return out + std::string(FFS_PEEK_SIZE, '\0'); // the reader peeks 16 bytes of each entry
}

class Files : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::StartFileLog(kLogName);
        Mem_Init(MEM_NO_LIMIT, 0);
        dir = testing_support::MakeTempDir("install");
    }
    void TearDown() override { StopLog(); }
    std::string StopLog() { return testing_support::StopFileLog(kLogName); }
    std::string dir;
};

// ---- Files and directories ----

TEST_F(Files, WriteAllCreatesOrEmptiesTheFileAndWritesEveryByte) {
    const std::string path = dir + "data.bin", data("a\0b\r\n\x80\xFF", 7);
    EXPECT_EQ(File_WriteAll(path.c_str(), data.data(), (int32_t)data.size()), 1);
    EXPECT_EQ(ReadFile(path), data);
    EXPECT_EQ(File_WriteAll(path.c_str(), "xy", 2), 1);
    EXPECT_EQ(ReadFile(path), "xy"); // truncated, not overwritten in place
    EXPECT_EQ(File_WriteAll(path.c_str(), "", 0), 1);
    bool ok = false;
    EXPECT_EQ(ReadFile(path, &ok), "");
    EXPECT_TRUE(ok);
}

TEST_F(Files, WriteAllCreatesEveryMissingDirectoryFromTheOutermostOne) {
    const std::string path = dir + "one\\two\\three\\file.txt";
    EXPECT_EQ(File_WriteAll(path.c_str(), "deep", 4), 1);
    EXPECT_EQ(ReadFile(path), "deep");
    EXPECT_TRUE(IsDirectory(dir + "one\\two\\three"));
    EXPECT_EQ(StopLog().find("Unable"), std::string::npos);
}

TEST_F(Files, WriteAllFailsWhereNoFileCanBeMade) {
    WriteFile(dir + "blocker", "a file where a directory should be");
    CreateDirectoryA((dir + "folder").c_str(), NULL);
    WriteFile(dir + "locked.txt", "old");
    // In use by a program that lets nobody else write (a read-only attribute does not hold
    // here: Wine runs as root).
    HANDLE inUse = CreateFileA((dir + "locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                               OPEN_EXISTING, 0, NULL);
    ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
    const std::string tooLong = dir + std::string(260, 'd') + "\\x.txt";
    const std::string rows[] = {dir + "blocker\\inside.txt", dir + "folder", dir + "locked.txt",
                                tooLong};
    for (const auto &path : rows) EXPECT_EQ(File_WriteAll(path.c_str(), "new", 3), 0) << path;
    CloseHandle(inUse);
    EXPECT_EQ(ReadFile(dir + "blocker"), "a file where a directory should be");
    EXPECT_TRUE(IsDirectory(dir + "folder"));
    EXPECT_EQ(ReadFile(dir + "locked.txt"), "old");
    std::string log = StopLog();
    for (const auto &path : rows)
        EXPECT_NE(log.find("Unable to create file '" + path + "'\n"), std::string::npos) << path;
}

TEST_F(Files, CreatePathMakesEveryLevelAndGivesThePathBack) {
    for (std::string path : {dir + "a\\b\\c\\", dir + "x\\y\\z", dir + "a\\b\\c\\"}) {
        std::vector<char> text(path.begin(), path.end());
        text.push_back(0);
        EXPECT_EQ(Dir_CreatePath(text.data()), 1);
        EXPECT_EQ(std::string(text.data()), path); // restored
        EXPECT_TRUE(IsDirectory(path)) << path;
    }
}

// ---- The uninstaller's copy of the script ----

TEST(Uninstaller, TheKeyIsFourteenPrintableCharacters) {
    ASSERT_EQ(strlen(UNINST_KEY), 14u);
    for (const char *c = UNINST_KEY; *c; c++) EXPECT_TRUE(*c >= 0x20 && *c < 0x7F) << *c;
}

TEST(Uninstaller, ScramblingMatchesTheDecoderAndUndoesItself) {
    std::string plain;
    for (int i = 0; i < 700; i++) plain += (char)(i * 7 + 3); // past 256 bytes and many keys
    std::string scrambled = plain;
    EXPECT_EQ(Uninst_Scramble((uint8_t *)&scrambled[0], (int32_t)scrambled.size(), UNINST_KEY,
                              UNINST_KEY_LENGTH),
              1);
    EXPECT_NE(scrambled, plain);
    EXPECT_EQ(Descramble(scrambled), plain);
    Uninst_Scramble((uint8_t *)&scrambled[0], (int32_t)scrambled.size(), UNINST_KEY,
                    UNINST_KEY_LENGTH);
    EXPECT_EQ(scrambled, plain);
    // Byte 0 of zeros is the key's first byte; byte 15 is key[1] ^ 1 ^ 15.
    uint8_t zeros[16] = {0};
    Uninst_Scramble(zeros, 16, "AB", 2);
    EXPECT_EQ(zeros[0], 'A');
    EXPECT_EQ(zeros[15], 'B' ^ 1 ^ 15);
}

TEST(Uninstaller, TheScriptFollowsTheMarkerAndTheOffsetEndsTheFile) {
    const std::string program = "MZ-uninstaller", script = "\x16" "COMPANY NAME:Acme\r\n";
    std::string file = program + std::string(script.size() + UNINST_EXTRA_SIZE, '\0');
    Uninst_AppendScript((uint8_t *)&file[0], (int32_t)program.size(), script.c_str(),
                        (int32_t)script.size());
    ASSERT_EQ(file.size(), program.size() + 4 + script.size() + 4);
    EXPECT_EQ(file.substr(0, program.size()), program);
    EXPECT_EQ(file.substr(program.size(), 4), "FFS?");
    EXPECT_EQ(Descramble(file.substr(program.size() + 4, script.size())), script);
    EXPECT_EQ(LittleEndian(file, file.size() - 4), program.size());
}

// ---- INSTALL ----

class Install : public Files {
  protected:
    void SetUp() override {
        Files::SetUp();
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        memset(&state, 0, sizeof state);
        state.Mode = Quiet;
        strcpy(state.InstallPath, dir.c_str());
        script = "\x16" "PRODUCT NAME:Rocket\r\n\x16" "BREAK:\r\n";
        state.ScriptText = &script[0];
        state.ScriptSize = (int32_t)script.size();
    }
    void TearDown() override {
        Ffs_Close();
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        Files::TearDown();
    }
    void Open(const std::vector<Entry> &entries) {
        const std::string path = dir + "archive.ffs";
        ASSERT_TRUE(WriteFile(path, HandArchive(entries)));
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
          {"big.dat", kBig, true},
          {"\\tessel-install-c.dll", "from the backslashed name"},
          {"uninst.exe", "unused"}});
    EXPECT_EQ(Run("a.txt,sub\\deep\\b.bin,$?big.dat,$4\\tessel-install-c.dll"), 1);
    EXPECT_EQ(ReadFile(dir + "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dir + "sub\\deep\\b.bin"), std::string("b\0b\xFF", 4));
    EXPECT_EQ(ReadFile(dir + "big.dat"), kBig);
    EXPECT_EQ(ReadFile(tempFile), "from the backslashed name");
    DeleteFileA(tempFile.c_str());
    EXPECT_FALSE(testing_support::FileExists(dir + "uninst.exe")); // no UninstallName
    std::string log = StopLog();
    for (std::string line : {"a.txt to " + dir + "a.txt [0x00000000]\n",
                             "big.dat to " + dir + "big.dat [0x00000001]\n",
                             "\\tessel-install-c.dll to " + tempFile + " [0x00000000]\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

TEST_F(Install, TheDirectoryIsRememberedAndTheUninstallerCarriesTheScript) {
    const std::string program = std::string("MZ\x90\0uninstaller", 15);
    Open({{"a.txt", "alpha"}, {"uninst.exe", program, true}});
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
    std::string log = StopLog();
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
    Open({{"a.txt", "alpha"}, {longName.substr(0, 259), "a cut name would find this"},
          {fits, "an item that fits, under a directory it does not fit"}});
    EXPECT_EQ(Run("a.txt," + longName), 0);
    EXPECT_EQ(ReadFile(dir + "a.txt"), "alpha");
    EXPECT_EQ(Run(fits), 0);
    std::string log = StopLog();
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
    Open({{"zero.bin", block(0)}, {"negative.bin", block(-5)}, {"uninst.exe", block(-5)}});
    EXPECT_EQ(Run("zero.bin"), 0);
    EXPECT_EQ(Run("negative.bin"), 0);
    strcpy(state.UninstallName, "uninst.exe");
    state.FileCount = 0;
    EXPECT_EQ(RunCommand(), 0);
    EXPECT_FALSE(testing_support::FileExists(dir + "zero.bin"));
    EXPECT_FALSE(testing_support::FileExists(dir + "uninst.exe"));
    std::string log = StopLog();
    for (const char *line :
         {"Unable to load 'zero.bin'\n", "Unable to load 'negative.bin'\n",
          "Unable to load 'uninst.exe'\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

// ---- On a display: the question, the problem box and the progress bar ----

using testing_support::DisplayAvailable;

std::string Text(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct Box {
    std::string title, text;
};

struct Search {
    HWND found = NULL;
};

BOOL CALLBACK VisitBox(HWND window, LPARAM data) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    // A message box: a visible dialog with a static text (the progress window has none).
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && !strcmp(name, "#32770") &&
        FindWindowExA(window, NULL, "Static", NULL)) {
        ((Search *)data)->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM data) {
    char name[32] = "";
    GetClassNameA(child, name, sizeof name);
    if (!strcmp(name, "Static")) *(std::string *)data += Text(child);
    return TRUE;
}

// Answers each of the boxes that come, in turn, with its button; records what they showed.
std::vector<Box> Answer(const std::vector<int> &buttons) {
    std::vector<Box> boxes;
    for (int button : buttons) {
        Search search;
        for (int tries = 0; tries < 200 && !search.found; tries++) {
            Sleep(50);
            EnumWindows(VisitBox, (LPARAM)&search);
        }
        if (!search.found) break;
        Box box{Text(search.found), ""};
        EnumChildWindows(search.found, CollectStatic, (LPARAM)&box.text);
        boxes.push_back(box);
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        for (int tries = 0; tries < 200 && IsWindow(search.found); tries++) Sleep(50);
    }
    return boxes;
}

TEST_F(Install, TheUserDecidesWhetherAnExistingFileIsOverwritten) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    state.Mode = Interactive;
    Open({{"keep.txt", "new keep"}, {"over.txt", "new over"}});
    WriteFile(dir + "keep.txt", "old keep");
    WriteFile(dir + "over.txt", "old over");
    std::vector<Box> boxes;
    std::thread user([&] { boxes = Answer({IDNO, IDYES}); });
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
    std::vector<Box> boxes;
    std::thread user([&] { boxes = Answer({IDOK}); });
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
    EXPECT_NE(StopLog().find("Unable to create file '" + dir + "folder'\n"), std::string::npos);
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

} // namespace
