// Entries inside another entry's bytes: the reference record's bounds, the files of a solid
// LZMA group read in order (decoded once), out of order and whole, copies of raw and Type2
// entries, and each damaged record or source stopping the load with its line.
#include <string.h>

#include <map>

#include "ffs-enc2.h"
#include "ffs-fixture.h"
#include "ffs-lzma.h"
#include "lzma-encode.h"
#include "tessel-bytes.h"

namespace {

std::string Record(int32_t size, uint32_t source, int32_t offset, size_t length = FFS_REF_SIZE) {
    uint8_t bytes[32] = {0};
    memcpy(bytes, FFS_REF_TAG, 4);
    Le_Put32(bytes + 4, ~(uint32_t)size);
    Le_Put32(bytes + 8, source);
    Le_Put32(bytes + 12, (uint32_t)offset);
    return std::string((const char *)bytes, length);
}

TEST(RefRecord, BoundsAtTheirEdges) {
    FfsRef ref;
    std::string record = Record(1, 0x1234, 0);
    auto bytes = [](const std::string &text) { return (const uint8_t *)text.data(); };
    ASSERT_EQ(Ffs_ReadRef(bytes(record), FFS_REF_SIZE, &ref), 1);
    EXPECT_EQ(ref.Size, 1);
    EXPECT_EQ(ref.Source, 0x1234u);
    EXPECT_EQ(ref.Offset, 0);
    EXPECT_EQ(Ffs_ReadRef(bytes(record), FFS_REF_SIZE - 1, &ref), 0);
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(1, 1, 0, 17)), FFS_REF_SIZE + 1, &ref), 0);
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(0, 1, 0)), FFS_REF_SIZE, &ref), 0);
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(-1, 1, 0)), FFS_REF_SIZE, &ref), 0);
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(5, 1, -1)), FFS_REF_SIZE, &ref), 0);
    // The file's last byte at INT32_MAX less one: the largest offset, and one more.
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(5, 1, INT32_MAX - 5)), FFS_REF_SIZE, &ref), 1);
    EXPECT_EQ(ref.Offset, INT32_MAX - 5);
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(5, 1, INT32_MAX - 4)), FFS_REF_SIZE, &ref), 0);
    EXPECT_EQ(Ffs_ReadRef(bytes(Record(INT32_MAX, 1, 0)), FFS_REF_SIZE, &ref), 1);
    std::string other = Record(1, 1, 0);
    other[3] = '!';
    EXPECT_EQ(Ffs_ReadRef(bytes(other), FFS_REF_SIZE, &ref), 0);
    EXPECT_EQ(Ffs_IsRef(bytes(other)), 0);
    EXPECT_EQ(Ffs_IsRef(bytes(record)), 1);
}

// Blocks read from their start through a source, each one's place kept here.
std::map<const std::string *, size_t> places;

int ReadFrom(void *context, uint8_t *buffer, int32_t n) {
    const std::string *block = (const std::string *)context;
    size_t &at = places[block];
    if (at + (size_t)n > block->size()) return 0;
    memcpy(buffer, block->data() + at, (size_t)n);
    at += (size_t)n;
    return 1;
}

int Append(void *context, const uint8_t *data, int32_t n) {
    ((std::string *)context)->append((const char *)data, (size_t)n);
    return 1;
}

class Group : public Ffs {
  protected:
    std::vector<std::string> files_; // the group's files, one behind the other
    std::string joined_;

    void SetUp() override {
        Ffs::SetUp();
        std::mt19937 random(5);
        for (size_t size : {70000u, 1u, 140000u, 3000u}) {
            std::string file;
            for (size_t i = 0; i < size; i++)
                file += (char)(random() % 3 == 0 ? 'a' + random() % 4 : "group"[i % 5]);
            files_.push_back(file);
            joined_ += file;
        }
    }

    static std::string Block(const std::string &data, bool x86 = false) {
        LzmaEncoding options;
        options.x86 = x86;
        std::vector<uint8_t> block =
            LzmaEncode(std::vector<uint8_t>(data.begin(), data.end()), options);
        EXPECT_FALSE(block.empty());
        return std::string(block.begin(), block.end());
    }

    int32_t OffsetOf(size_t file) const {
        int32_t offset = 0;
        for (size_t i = 0; i < file; i++) offset += (int32_t)files_[i].size();
        return offset;
    }

    // The archive of "<group 1>" (the stored bytes given) and a reference "fN" to each file.
    void OpenGroup(const std::string &group,
                   std::vector<std::pair<std::string, std::string>> more = {}) {
        uint32_t source = Ffs_HashNameFlags("<group 1>", PACK_DEFAULT_FLAGS);
        std::vector<RawEntry> entries = {{source, group}};
        for (size_t i = 0; i < files_.size(); i++)
            entries.push_back(
                {Ffs_HashNameFlags(("f" + std::to_string(i)).c_str(), PACK_DEFAULT_FLAGS),
                 Record((int32_t)files_[i].size(), source, OffsetOf(i))});
        for (const auto &entry : more)
            entries.push_back(
                {Ffs_HashNameFlags(entry.first.c_str(), PACK_DEFAULT_FLAGS), entry.second});
        std::string path = Write(
            "group.bin", RawArchive(testing_support::SortedByHash(entries), PACK_DEFAULT_FLAGS));
        ASSERT_TRUE(Open(path));
        Ffs_AddCodec(&Lzma_Codec);
        TakeLog();
    }

    std::string Streamed(const std::string &name) {
        std::string out;
        int result = Ffs_Stream(
            name.c_str(),
            [](void *context, const uint8_t *data, int32_t n) {
                ((std::string *)context)->append((const char *)data, (size_t)n);
                return 1;
            },
            &out);
        return result ? out : "<failed>";
    }
};

// The resumable decoder asked for pieces of every size, matches cut anywhere: the bytes of one
// decoding; asking past the size fails, and every call after a failure fails.
TEST_F(Group, StreamResumesAtAnyByte) {
    std::string block = Block(joined_);
    std::mt19937 random(3);
    for (int round = 0; round < 3; round++) {
        places.clear();
        void *stream =
            Lzma_StreamOpen(ReadFrom, &block, (int32_t)block.size(), (int32_t)joined_.size());
        ASSERT_NE(stream, nullptr);
        std::string out;
        while (out.size() < joined_.size()) {
            int32_t left = (int32_t)(joined_.size() - out.size());
            int32_t n = round == 0 ? 1 + (int32_t)(random() % 7) : (int32_t)(random() % 40000);
            if (n > left) n = left;
            ASSERT_EQ(Lzma_StreamNext(stream, n, Append, &out), 1);
        }
        EXPECT_EQ(out, joined_);
        EXPECT_EQ(Lzma_StreamNext(stream, 0, Append, &out), 1);
        EXPECT_EQ(Lzma_StreamNext(stream, 1, Append, &out), 0);
        Lzma_StreamClose(stream);
    }
    places.clear();
    void *stream =
        Lzma_StreamOpen(ReadFrom, &block, (int32_t)block.size(), (int32_t)joined_.size());
    std::string out;
    ASSERT_EQ(Lzma_StreamNext(stream, (int32_t)joined_.size() - 1, Append, &out), 1);
    EXPECT_EQ(Lzma_StreamNext(stream, 2, Append, &out), 0);
    EXPECT_EQ(Lzma_StreamNext(stream, 1, Append, &out), 1); // the refused call took nothing
    EXPECT_EQ(out, joined_);
    Lzma_StreamClose(stream);
    places.clear();
    std::string filtered = Block(joined_, true);
    EXPECT_EQ(
        Lzma_StreamOpen(ReadFrom, &filtered, (int32_t)filtered.size(), (int32_t)joined_.size()),
        nullptr);
    places.clear();
    EXPECT_EQ(Lzma_StreamOpen(ReadFrom, &block, (int32_t)block.size(), (int32_t)joined_.size() + 1),
              nullptr);
    // Cut short: the call that runs out fails, and so does every later one.
    std::string cut = block.substr(0, block.size() / 2);
    stream = Lzma_StreamOpen(ReadFrom, &cut, (int32_t)cut.size(), (int32_t)joined_.size());
    ASSERT_NE(stream, nullptr);
    out.clear();
    EXPECT_EQ(Lzma_StreamNext(stream, (int32_t)joined_.size(), Append, &out), 0);
    EXPECT_EQ(joined_.compare(0, out.size(), out), 0);
    EXPECT_EQ(Lzma_StreamNext(stream, 0, Append, &out), 0);
    Lzma_StreamClose(stream);
    Lzma_StreamClose(nullptr);
}

TEST_F(Group, FilesReadInOrderOutOfOrderAndWhole) {
    OpenGroup(Block(joined_));
    int32_t size = 0;
    ASSERT_EQ(Ffs_GetSize("f2", &size), 1);
    EXPECT_EQ(size, 140000);
    for (size_t i = 0; i < files_.size(); i++)
        EXPECT_EQ(Streamed("f" + std::to_string(i)), files_[i]) << i;
    // Backwards: the group is opened anew for each.
    for (size_t i = files_.size(); i-- > 0;)
        EXPECT_EQ(Load("f" + std::to_string(i)), files_[i]) << i;
    // A file skipped, then an earlier one, then the last.
    EXPECT_EQ(Streamed("f2"), files_[2]);
    EXPECT_EQ(Streamed("f1"), files_[1]);
    EXPECT_EQ(Streamed("f3"), files_[3]);
    EXPECT_EQ(Load("<group 1>"), joined_);
    EXPECT_EQ(TakeLog(), "");
}

// The group stays open between its files while other entries are read: a memory block is held
// between two files, and released once the group's last byte went out.
// In order, the next file goes on from where the last one ended: fewer reads than the same file
// after a later one, for which the group is opened anew and decoded from its start.
TEST_F(Group, TheNextFileInOrderIsNotDecodedAgain) {
    OpenGroup(Block(joined_));
    EXPECT_EQ(Streamed("f0"), files_[0]);
    EXPECT_EQ(Streamed("f1"), files_[1]);
    int32_t before = Sys_FileCalls();
    EXPECT_EQ(Streamed("f2"), files_[2]);
    int32_t inOrder = Sys_FileCalls() - before;
    EXPECT_EQ(Streamed("f3"), files_[3]);
    before = Sys_FileCalls();
    EXPECT_EQ(Streamed("f2"), files_[2]);
    int32_t anew = Sys_FileCalls() - before;
    EXPECT_LT(inOrder, anew);
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Group, OpenBetweenItsFilesOnly) {
    OpenGroup(Block(joined_), {{"other.txt", "a raw entry between the group's files"}});
    MemStats before, between, after;
    Mem_GetStats(&before);
    EXPECT_EQ(Streamed("f0"), files_[0]);
    EXPECT_EQ(Load("other.txt"), "a raw entry between the group's files");
    Mem_GetStats(&between);
    EXPECT_EQ(between.blockCount, before.blockCount + 2); // the decoder's state and its memory
    EXPECT_EQ(Streamed("f1"), files_[1]);
    EXPECT_EQ(Streamed("f2"), files_[2]);
    EXPECT_EQ(Streamed("f3"), files_[3]);
    Mem_GetStats(&after);
    EXPECT_EQ(after.blockCount, before.blockCount);
    EXPECT_EQ(TakeLog(), "");
}

// A filtered source cannot stop at any byte: each file is decoded from the source's start.
TEST_F(Group, FilteredSourceDecodedFromItsStart) {
    OpenGroup(Block(joined_, true));
    EXPECT_EQ(Streamed("f3"), files_[3]);
    EXPECT_EQ(Streamed("f2"), files_[2]);
    EXPECT_EQ(Load("f0"), files_[0]);
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Group, CopiesOfRawAndType2Entries) {
    std::string text(5000, 'q');
    for (size_t i = 0; i < text.size(); i += 7) text[i] = (char)('a' + i % 26);
    uint32_t raw = Ffs_HashNameFlags("raw.txt", PACK_DEFAULT_FLAGS),
             type2 = Ffs_HashNameFlags("type2.txt", PACK_DEFAULT_FLAGS);
    Type2_Init();
    std::vector<uint8_t> block(text.size());
    int32_t length = (int32_t)block.size();
    ASSERT_EQ(
        Type2_Compress((const uint8_t *)text.data(), (int32_t)text.size(), block.data(), &length),
        1);
    Type2_Shutdown();
    OpenGroup(Block(joined_), {{"raw.txt", text},
                               {"type2.txt", std::string(block.begin(), block.begin() + length)},
                               {"copy.txt", Record(5000, raw, 0)},
                               {"tail.txt", Record(10, raw, 4990)},
                               {"middle.txt", Record(100, type2, 2000)}});
    EXPECT_EQ(Load("copy.txt"), text);
    EXPECT_EQ(Streamed("tail.txt"), text.substr(4990));
    EXPECT_EQ(Streamed("middle.txt"), text.substr(2000, 100));
    EXPECT_EQ(Load("type2.txt"), text);
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Group, RecordsOutsideOrDamagedStopTheLoad) {
    uint32_t group = Ffs_HashNameFlags("<group 1>", PACK_DEFAULT_FLAGS);
    int32_t total = (int32_t)joined_.size();
    OpenGroup(Block(joined_),
              {{"last.bin", Record(10, group, total - 10)},
               {"past.bin", Record(10, group, total - 9)},
               {"short.bin", Record(10, group, 0, 15)},
               {"long.bin", Record(10, group, 0, 17)},
               {"nowhere.bin", Record(10, 0xDEADBEEF, 0)},
               {"chain.bin", Record(5, Ffs_HashNameFlags("f1", PACK_DEFAULT_FLAGS), 0)}});
    EXPECT_EQ(Streamed("last.bin"), joined_.substr((size_t)total - 10));
    EXPECT_EQ(TakeLog(), "");
    EXPECT_EQ(Streamed("past.bin"), "<failed>");
    char line[80];
    snprintf(line, sizeof line, "[GROUP] Outside its source (%d + 10 > %d)\n", total - 9, total);
    EXPECT_EQ(TakeLog(), std::string(line) + "Unable to load 'past.bin'\n");
    EXPECT_EQ(Load("short.bin"), "<unloadable>");
    EXPECT_EQ(TakeLog(), "[GROUP] Damaged record (15 bytes)\n");
    EXPECT_EQ(Streamed("long.bin"), "<failed>");
    EXPECT_EQ(TakeLog(), "[GROUP] Damaged record (17 bytes)\nUnable to load 'long.bin'\n");
    EXPECT_EQ(Streamed("nowhere.bin"), "<failed>");
    EXPECT_EQ(TakeLog(), "[GROUP] Source DEADBEEF missing\nUnable to load 'nowhere.bin'\n");
    EXPECT_EQ(Streamed("chain.bin"), "<failed>");
    EXPECT_NE(TakeLog().find("is a reference itself"), std::string::npos);
    // The group still reads after them.
    EXPECT_EQ(Streamed("f3"), files_[3]);
}

// A group whose stream is damaged halfway: the files before the damage read, the one across it
// fails with the codec's line and leaves the group closed, and so do the ones behind it.
TEST_F(Group, DamagedStreamStopsTheFileAcrossIt) {
    std::string block = Block(joined_);
    std::string cut = block.substr(0, block.size() * 2 / 3);
    OpenGroup(cut);
    EXPECT_EQ(Streamed("f0"), files_[0]);
    EXPECT_EQ(Streamed("f1"), files_[1]);
    EXPECT_EQ(Streamed("f3"), "<failed>");
    EXPECT_EQ(TakeLog(), "[LZMA] Failed to decompress\nUnable to load 'f3'\n");
    EXPECT_EQ(Load("f2"), "<unloadable>");
    EXPECT_EQ(TakeLog(), "[LZMA] Failed to decompress\n");
    EXPECT_EQ(Streamed("f0"), files_[0]);
}

// A sink that stops the reading: no line, and the group opened anew for the next file.
TEST_F(Group, SinkStopsWithoutALine) {
    OpenGroup(Block(joined_));
    int calls = 0;
    EXPECT_EQ(Ffs_Stream(
                  "f0",
                  [](void *context, const uint8_t *, int32_t) {
                      ++*(int *)context;
                      return 0;
                  },
                  &calls),
              0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(TakeLog(), "");
    EXPECT_EQ(Streamed("f0"), files_[0]);
    EXPECT_EQ(Streamed("f1"), files_[1]);
}

} // namespace
