// The install record: its text written and read back, every damaged record counting as none
// (cut anywhere, a changed byte, a wrong count, bytes behind it), the path's bounds, and the
// uninstaller's decision on a file from the record and the shared count.
#include <gtest/gtest.h>

#include <string>

#include "installrecord.h"
#include "tessel-core.h"
#include "tessel-str.h"

namespace {

class InstallRecordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Log_Init("installrecord-test.log", 0);
        Mem_Init(MEM_NO_LIMIT, 0);
    }
    void TearDown() override {
        Record_Free(&record_);
        MemStats stats{};
        Mem_GetStats(&stats);
        EXPECT_EQ(stats.blockCount, 0);
    }
    std::string Format() {
        int32_t size = 0;
        char *text = Record_Format(&record_, &size);
        std::string result(text, (size_t)size);
        TESSEL_FREE(text, size);
        return result;
    }
    InstallRecord record_{};
};

TEST_F(InstallRecordTest, WrittenTextReadsBackWithEveryFlag) {
    ASSERT_TRUE(Record_Set(&record_, "C:\\Program Files\\Rocket\\a.dll", RECORD_WRITTEN));
    ASSERT_TRUE(Record_Set(&record_, "C:\\windows\\system32\\shared.dll", RECORD_SHARED));
    ASSERT_TRUE(Record_Set(&record_, "C:\\windows\\b.ini", RECORD_WRITTEN | RECORD_SHARED));
    ASSERT_TRUE(Record_Set(&record_, "C:\\Program Files\\Rocket\\c.txt", 0));
    std::string text = Format();
    EXPECT_EQ(text.substr(0, 25), "Tessel install record 1\r\n");
    EXPECT_NE(text.find("KS C:\\windows\\system32\\shared.dll\r\n"), std::string::npos);
    InstallRecord read{};
    ASSERT_TRUE(Record_Parse(text.data(), (int32_t)text.size(), &read));
    EXPECT_EQ(read.Count, 4);
    EXPECT_EQ(Record_Find(&read, "c:\\PROGRAM FILES\\rocket\\A.DLL"), RECORD_WRITTEN);
    EXPECT_EQ(Record_Find(&read, "C:\\windows\\system32\\shared.dll"), RECORD_SHARED);
    EXPECT_EQ(Record_Find(&read, "C:\\windows\\b.ini"), RECORD_WRITTEN | RECORD_SHARED);
    EXPECT_EQ(Record_Find(&read, "C:\\Program Files\\Rocket\\c.txt"), 0);
    EXPECT_EQ(Record_Find(&read, "C:\\Program Files\\Rocket\\c.tx"), RECORD_UNKNOWN);
    EXPECT_EQ(Record_Find(&read, "C:\\windows\\b.ini2"), RECORD_UNKNOWN);
    Record_Free(&read);
}

TEST_F(InstallRecordTest, SettingAPathAgainReplacesItsFlags) {
    Record_Set(&record_, "C:\\x\\a.dll", 0);
    Record_Set(&record_, "C:\\X\\A.DLL", RECORD_WRITTEN | RECORD_SHARED);
    EXPECT_EQ(record_.Count, 1);
    EXPECT_EQ(Record_Find(&record_, "c:\\x\\a.dll"), RECORD_WRITTEN | RECORD_SHARED);
}

TEST_F(InstallRecordTest, AnEmptyRecordIsValid) {
    std::string text = Format();
    EXPECT_EQ(
        text, "Tessel install record 1\r\nEnd 0 " + [&] {
            char crc[16];
            snprintf(crc, sizeof crc, "%.8X", Core_Crc32("Tessel install record 1\r\n", 25));
            return std::string(crc);
        }() + "\r\n");
    InstallRecord read{};
    EXPECT_TRUE(Record_Parse(text.data(), (int32_t)text.size(), &read));
    EXPECT_EQ(read.Count, 0);
}

TEST_F(InstallRecordTest, PathBoundsAtTheirEdges) {
    std::string longest = "C:\\" + std::string(RECORD_PATH_SIZE - 1 - 3, 'a');
    ASSERT_EQ(longest.size(), 319u);
    EXPECT_TRUE(Record_Set(&record_, longest.c_str(), RECORD_WRITTEN));
    EXPECT_FALSE(Record_Set(&record_, (longest + "b").c_str(), RECORD_WRITTEN));
    EXPECT_FALSE(Record_Set(&record_, "", RECORD_WRITTEN));
    EXPECT_TRUE(Record_Set(&record_, "a", RECORD_WRITTEN)); // the shortest path
    EXPECT_EQ(Record_Find(&record_, "a"), RECORD_WRITTEN);

    EXPECT_FALSE(Record_Set(&record_, "C:\\a\r\nKS C:\\b", RECORD_WRITTEN));
    EXPECT_FALSE(Record_Set(&record_, "C:\\a\x1f", RECORD_WRITTEN));
    EXPECT_EQ(record_.Count, 2);
    std::string text = Format();
    InstallRecord read{};
    EXPECT_TRUE(Record_Parse(text.data(), (int32_t)text.size(), &read));
    EXPECT_EQ(Record_Find(&read, longest.c_str()), RECORD_WRITTEN);
    Record_Free(&read);
}

// A record with a 320-character path, its CRC right: still refused.
TEST_F(InstallRecordTest, ALineWithATooLongPathIsDamaged) {
    std::string head = "Tessel install record 1\r\nW- C:\\" + std::string(316, 'a'); // 319
    for (int extra = 0; extra < 2; extra++) {
        std::string body = head + std::string((size_t)extra, 'b') + "\r\n";
        char end[40];
        snprintf(end, sizeof end, "End 1 %.8X\r\n", Core_Crc32(body.data(), (int)body.size()));
        std::string text = body + end;
        InstallRecord read{};
        EXPECT_EQ(Record_Parse(text.data(), (int32_t)text.size(), &read), extra == 0) << extra;
        Record_Free(&read);
    }
}

TEST_F(InstallRecordTest, EveryCutAndEveryChangedByteIsDamaged) {
    Record_Set(&record_, "C:\\windows\\system32\\shared.dll", RECORD_WRITTEN | RECORD_SHARED);
    Record_Set(&record_, "C:\\Rocket\\kept.dll", 0);
    std::string text = Format();
    for (size_t cut = 0; cut < text.size(); cut++) {
        InstallRecord read{};
        EXPECT_FALSE(Record_Parse(text.data(), (int32_t)cut, &read)) << cut;
        EXPECT_EQ(read.Count, 0);
        EXPECT_EQ(read.Lines, nullptr);
    }
    for (size_t at = 0; at < text.size(); at++) {
        std::string changed = text;
        changed[at] ^= 0x01;
        InstallRecord read{};
        EXPECT_FALSE(Record_Parse(changed.data(), (int32_t)changed.size(), &read)) << at;
        EXPECT_EQ(read.Count, 0);
    }
    const std::string appended[] = {"\r\n", "x", "End 2 00000000\r\n"};
    for (const std::string &more : appended) {
        std::string longer = text + more;
        InstallRecord read{};
        EXPECT_FALSE(Record_Parse(longer.data(), (int32_t)longer.size(), &read)) << more;
    }
}

TEST_F(InstallRecordTest, AWrongCountIsDamagedEvenWithItsCrc) {
    std::string body = "Tessel install record 1\r\nW- C:\\a\r\n";
    for (int count = 0; count < 3; count++) {
        char end[40];
        snprintf(end, sizeof end, "End %d %.8X\r\n", count,
                 Core_Crc32(body.data(), (int)body.size()));
        std::string text = body + end;
        InstallRecord read{};
        EXPECT_EQ(Record_Parse(text.data(), (int32_t)text.size(), &read), count == 1) << count;
        Record_Free(&read);
    }
}

// A record file of RECORD_LIMIT bytes reads; one byte more is refused, whatever it holds.
TEST_F(InstallRecordTest, TheRecordsSizeAtItsLimit) {
    for (int32_t wanted : {(int32_t)RECORD_LIMIT, (int32_t)RECORD_LIMIT + 1}) {
        std::string body = "Tessel install record 1\r\n";
        int count = 0;
        const std::string line = "W- C:\\" + std::string(300, 'p') + "\r\n";
        auto endLength = [&](int entries) {
            return std::string("End ") + std::to_string(entries) + " 00000000\r\n";
        };
        while (body.size() + line.size() + 64 < (size_t)wanted) {
            body += line.substr(0, 7) + std::to_string(count) + line.substr(7);
            count++;
        }
        // The last entry's path fills the rest exactly.
        size_t rest = (size_t)wanted - body.size() - endLength(count + 1).size() - 5;
        body += "W- C:\\" + std::string(rest - 3, 'z') + "\r\n";
        count++;
        char end[40];
        snprintf(end, sizeof end, "End %d %.8X\r\n", count,
                 Core_Crc32(body.data(), (int)body.size()));
        std::string text = body + end;
        ASSERT_EQ(text.size(), (size_t)wanted);
        InstallRecord read{};
        EXPECT_EQ(Record_Parse(text.data(), (int32_t)text.size(), &read), wanted == RECORD_LIMIT);
        Record_Free(&read);
    }
}

TEST_F(InstallRecordTest, ItsFileIsBesideTheUninstaller) {
    const struct {
        const char *uninstaller, *record;
    } rows[] = {
        {"C:\\Program Files\\Rocket\\uninst.exe", "C:\\Program Files\\Rocket\\uninst.dat"},
        {"C:\\Rocket\\remove", "C:\\Rocket\\remove.dat"},
        {"C:\\Rocket.1\\remove", "C:\\Rocket.1\\remove.dat"},
        {"C:\\Rocket\\a.b.exe", "C:\\Rocket\\a.b.dat"},
        {".hidden", ".hidden.dat"}, // a dot that starts a name starts no extension
        {"C:\\Rocket\\.hidden", "C:\\Rocket\\.hidden.dat"},
        {"C:\\Rocket\\a.", "C:\\Rocket\\a.dat"},
    };
    for (const auto &row : rows) {
        char path[RECORD_PATH_SIZE];
        ASSERT_TRUE(Record_PathFor(row.uninstaller, path, sizeof path));
        EXPECT_STREQ(path, row.record);
    }
    // "C:\x.exe" needs 9 bytes for "C:\x.dat" and its zero.
    char small[9];
    EXPECT_TRUE(Record_PathFor("C:\\x.exe", small, 9));
    EXPECT_STREQ(small, "C:\\x.dat");
    EXPECT_FALSE(Record_PathFor("C:\\x.exe", small, 8));
    EXPECT_STREQ(small, "");
}

TEST(RecordDecide, EachItemByItsRecordAndCount) {
    const int W = RECORD_WRITTEN, S = RECORD_SHARED, U = RECORD_UNKNOWN;
    const int32_t NONE = RECORD_NO_COUNT, DROP = RECORD_DROP_COUNT, KEEP = RECORD_KEEP_COUNT;
    const struct {
        int confirm, shared, flags;
        int32_t count;
        int verdict;
        int32_t left;
    } rows[] = {
        // An ordinary file: removed, with a record or without.
        {0, 0, U, NONE, VERDICT_REMOVE, KEEP},
        {0, 0, W, NONE, VERDICT_REMOVE, KEEP},
        // "$?": only what the record says was written.
        {1, 0, W, NONE, VERDICT_REMOVE, KEEP},
        {1, 0, 0, NONE, VERDICT_KEPT, KEEP},
        {1, 0, U, NONE, VERDICT_UNRECORDED, KEEP},
        // A shared file this installation counted: lowered; it goes with the last count.
        {0, 1, W | S, 1, VERDICT_REMOVE, DROP},
        {0, 1, W | S, 2, VERDICT_SHARED, 1},
        {0, 1, W | S, 0, VERDICT_REMOVE, DROP},
        {0, 1, W | S, NONE, VERDICT_REMOVE, DROP},
        {1, 1, S, 1, VERDICT_KEPT, DROP}, // the count ends, the file was never ours
        {1, 1, S, 2, VERDICT_SHARED, 1},
        {1, 1, W | S, 1, VERDICT_REMOVE, DROP},
        // A shared file this installation did not count: kept while anyone counts it.
        {0, 1, W, 1, VERDICT_SHARED, KEEP},
        {0, 1, W, 0, VERDICT_REMOVE, KEEP},
        {0, 1, U, 1, VERDICT_SHARED, KEEP},
        {0, 1, U, NONE, VERDICT_REMOVE, KEEP},
        {1, 1, U, 3, VERDICT_SHARED, KEEP},
        {1, 1, U, NONE, VERDICT_UNRECORDED, KEEP},
    };
    for (const auto &row : rows) {
        RecordVerdict verdict = Record_Decide(row.confirm, row.shared, row.flags, row.count);
        EXPECT_EQ(verdict.Verdict, row.verdict)
            << row.confirm << row.shared << " flags " << row.flags << " count " << row.count;
        EXPECT_EQ(verdict.Count, row.left)
            << row.confirm << row.shared << " flags " << row.flags << " count " << row.count;
    }
    EXPECT_STREQ(Record_Reason(VERDICT_REMOVE), "");
    EXPECT_STREQ(Record_Reason(VERDICT_KEPT), "the setup kept the file that was there");
    EXPECT_STREQ(Record_Reason(4), "");
}

} // namespace
