// Writing files and creating directories with the real file system under Wine: nested, blocked
// by a file, in use, too long.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "files.h"
#include "tessel-core.h"
#include "test-support.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

bool IsDirectory(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Files : public testing::Test {
  protected:
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        dir = testing_support::MakeTempDir("files");
    }
    // What was logged since the last call.
    std::string TakeLog() { return log_.Take(); }
    testing_support::LogCapture log_{"files-test.log"};
    std::string dir;
};

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
    EXPECT_EQ(TakeLog().find("Unable"), std::string::npos);
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
    std::string log = TakeLog();
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

} // namespace
