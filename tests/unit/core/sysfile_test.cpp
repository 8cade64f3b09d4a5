// The file calls of the platform seam over real files (under Wine: msvcrt's stdio), and the
// test hook that fails the nth of them: the call it names fails and does nothing, every other
// call works, and the count goes on.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tessel-sys.h"
#include "test-support.h"

using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// One pass over a file: the old content read, "new" written, committed, closed. Returns which
// of the five calls failed (1..5, in that order), 0 for none.
int RoundTrip(const std::string &path, std::string *read) {
    SysFile *file = Sys_FileOpen(path.c_str(), "r+b");
    if (!file) return 1;
    char buffer[64];
    int32_t got = -1;
    int failed = 0;
    if (!Sys_FileRead(file, buffer, sizeof buffer, &got)) failed = 2;
    read->assign(buffer, (size_t)got);
    if (!failed && !Sys_FileWrite(file, "new", 3)) failed = 3;
    if (!failed && !Sys_FileFlush(file)) failed = 4;
    if (!Sys_FileClose(file) && !failed) failed = 5;
    return failed;
}

TEST(SysFile, TheNthCallFailsAloneAndDoesNothing) {
    const std::string dir = MakeTempDir("sysfile"), path = dir + "file.bin";
    struct {
        int nth;
        std::string read, after; // what the read got, the file afterwards
        int calls;               // counted, the failed one included
    } rows[] = {
        {0, "old", "oldnew", 5}, // no failure
        {1, "", "old", 1},       // open
        {2, "", "old", 3},       // read: nothing read; the pass closes without writing
        {3, "old", "old", 4},    // write: nothing written
        {4, "old", "oldnew", 5}, // commit: the write had reached the file already
        {5, "old", "oldnew", 5}, // close: the file is released all the same
        {6, "old", "oldnew", 5}, // past the pass: no failure in it
    };
    for (const auto &row : rows) {
        ASSERT_TRUE(WriteFile(path, "old"));
        int32_t before = Sys_FileCalls();
        Sys_FileFailAt(row.nth);
        errno = 0;
        std::string read;
        int failed = RoundTrip(path, &read);
        EXPECT_EQ(failed, row.nth <= 5 ? row.nth : 0) << row.nth;
        if (failed) {
            EXPECT_EQ(errno, EIO) << row.nth;
        }
        EXPECT_EQ(read, row.read) << row.nth;
        EXPECT_EQ(ReadFile(path), row.after) << row.nth;
        EXPECT_EQ(Sys_FileCalls() - before, row.calls) << row.nth;
        Sys_FileFailAt(0);
    }
}

TEST(SysFile, TheCountStartsAtTheHookAndZeroCancelsIt) {
    const std::string dir = MakeTempDir("sysfile"), path = dir + "file.bin";
    ASSERT_TRUE(WriteFile(path, "old"));
    std::string read;
    Sys_FileFailAt(7);
    EXPECT_EQ(RoundTrip(path, &read), 0); // calls 1..5
    EXPECT_EQ(RoundTrip(path, &read), 2); // call 7 is this pass's read
    EXPECT_EQ(RoundTrip(path, &read), 0); // it fails once only
    Sys_FileFailAt(1);
    Sys_FileFailAt(0);
    EXPECT_EQ(RoundTrip(path, &read), 0);
    Sys_FileFailAt(-3); // no call from now, as 0
    EXPECT_EQ(RoundTrip(path, &read), 0);
}

TEST(SysFile, ReadStopsShortAtTheEndAndWriteRefusesANegativeCount) {
    const std::string dir = MakeTempDir("sysfile"), path = dir + "file.bin";
    SysFile *file = Sys_FileOpen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Sys_FileWrite(file, "abc", 0), 1);
    EXPECT_EQ(Sys_FileWrite(file, "abc", -1), 0);
    EXPECT_EQ(Sys_FileWrite(file, "abc", 3), 1);
    EXPECT_EQ(Sys_FileClose(file), 1);
    file = Sys_FileOpen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char buffer[8];
    int32_t got = -1;
    EXPECT_EQ(Sys_FileRead(file, buffer, 2, &got), 1);
    EXPECT_EQ(got, 2);
    EXPECT_EQ(Sys_FileRead(file, buffer, 8, &got), 1);
    EXPECT_EQ(got, 1);
    EXPECT_EQ(buffer[0], 'c');
    EXPECT_EQ(Sys_FileRead(file, buffer, 8, &got), 1);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(Sys_FileClose(file), 1);
    errno = 0;
    EXPECT_EQ(Sys_FileOpen((dir + "missing.bin").c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT); // what the installer's "$?" check tells a missing file by
}

// A seek moves both reads and writes, to the end and beyond it too (a write there fills the gap
// with zeros); a negative offset is refused, and a failed seek leaves the place as it was.
TEST(SysFile, SeekMovesTheNextReadAndWrite) {
    const std::string dir = MakeTempDir("sysfile"), path = dir + "file.bin";
    ASSERT_TRUE(WriteFile(path, "abcdef"));
    SysFile *file = Sys_FileOpen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    char buffer[8];
    int32_t got = -1;
    EXPECT_EQ(Sys_FileSeek(file, 4), 1);
    EXPECT_EQ(Sys_FileRead(file, buffer, 8, &got), 1);
    EXPECT_EQ(std::string(buffer, (size_t)got), "ef");
    EXPECT_EQ(Sys_FileSeek(file, 1), 1);
    EXPECT_EQ(Sys_FileWrite(file, "XY", 2), 1);
    EXPECT_EQ(Sys_FileSeek(file, -1), 0);
    Sys_FileFailAt(1);
    EXPECT_EQ(Sys_FileSeek(file, 0), 0);
    Sys_FileFailAt(0);
    EXPECT_EQ(Sys_FileRead(file, buffer, 1, &got), 1); // still behind "XY"
    EXPECT_EQ(std::string(buffer, (size_t)got), "d");
    EXPECT_EQ(Sys_FileSeek(file, 8), 1);
    EXPECT_EQ(Sys_FileWrite(file, "Z", 1), 1);
    EXPECT_EQ(Sys_FileClose(file), 1);
    EXPECT_EQ(ReadFile(path), std::string("aXYdef\0\0Z", 9));
}

// The length and the place are told without moving the next read, a written file's too; a failed
// call (counted as every other) tells -1.
TEST(SysFile, LengthAndPlaceAreToldWithoutMoving) {
    const std::string dir = MakeTempDir("sysfile"), path = dir + "file.bin";
    ASSERT_TRUE(WriteFile(path, "abcdef"));
    SysFile *file = Sys_FileOpen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    char buffer[8];
    int32_t got = -1;
    EXPECT_EQ(Sys_FileTell(file), 0);
    EXPECT_EQ(Sys_FileRead(file, buffer, 2, &got), 1);
    EXPECT_EQ(Sys_FileLength(file), 6);
    EXPECT_EQ(Sys_FileTell(file), 2);
    EXPECT_EQ(Sys_FileRead(file, buffer, 1, &got), 1);
    EXPECT_EQ(buffer[0], 'c'); // the read goes on where it was
    EXPECT_EQ(Sys_FileRead(file, buffer, 8, &got), 1);
    EXPECT_EQ(Sys_FileTell(file), 6); // a short read at the end
    EXPECT_EQ(Sys_FileSeek(file, 8), 1);
    EXPECT_EQ(Sys_FileTell(file), 8); // past the end, before anything is written there
    EXPECT_EQ(Sys_FileWrite(file, "Z", 1), 1);
    EXPECT_EQ(Sys_FileLength(file), 9);
    EXPECT_EQ(Sys_FileTell(file), 9);
    for (int tell = 0; tell < 2; tell++) {
        int32_t before = Sys_FileCalls();
        Sys_FileFailAt(1);
        errno = 0;
        EXPECT_EQ(tell ? Sys_FileTell(file) : Sys_FileLength(file), -1);
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(Sys_FileCalls() - before, 1);
    }
    EXPECT_EQ(Sys_FileLength(file), 9);
    EXPECT_EQ(Sys_FileTell(file), 9);
    EXPECT_EQ(Sys_FileClose(file), 1);
    file = Sys_FileOpen((dir + "empty.bin").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Sys_FileLength(file), 0);
    EXPECT_EQ(Sys_FileClose(file), 1);
}

} // namespace
