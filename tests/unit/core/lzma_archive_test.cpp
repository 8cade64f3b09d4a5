// LZMA entries through the archive reader with both codecs registered, as the setup and the
// builder's reader register them: loaded in pieces, found and decoded apart on another thread
// (as the setup's read-ahead threads decode), and a damaged or refused block stopping the load
// with the codec's line and the reader's.
#include <thread>

#include "ffs-fixture.h"
#include "ffs-lzma.h"
#include "lzma-encode.h"

namespace {

class LzmaArchive : public Ffs {
  protected:
    std::vector<uint8_t> big_, text_;

    void SetUp() override {
        Ffs::SetUp();
        std::mt19937 random(17);
        // Code-like bytes: branch opcodes among a small alphabet, so that the converter acts.
        const uint8_t kinds[] = {0xE8, 0x00, 0xFF, 0x8B, 0x45, 0x90};
        big_.resize(300001);
        for (auto &b : big_) b = kinds[random() % 6];
        std::string text = "LZMA entries of the archive, read back by the setup.\n";
        for (int i = 0; i < 200; i++) text += "line " + std::to_string(i * 7 % 13) + "\n";
        text_.assign(text.begin(), text.end());
    }

    static std::string Block(const std::vector<uint8_t> &data, bool x86) {
        LzmaEncoding options;
        options.x86 = x86;
        std::vector<uint8_t> block = LzmaEncode(data, options);
        EXPECT_FALSE(block.empty());
        return std::string(block.begin(), block.end());
    }

    // The archive of (name, stored bytes), opened with both codecs.
    void OpenArchive(const std::vector<std::pair<std::string, std::string>> &stored) {
        std::vector<RawEntry> entries;
        for (const auto &entry : stored)
            entries.push_back({Ffs_HashName(entry.first.c_str()), entry.second});
        std::string path = Write("lzma.bin", RawArchive(testing_support::SortedByHash(entries), 0));
        ASSERT_TRUE(Open(path));
        Ffs_AddCodec(&Lzma_Codec);
        TakeLog();
    }
};

TEST_F(LzmaArchive, EntriesLoadInPieces) {
    OpenArchive({{"big.bin", Block(big_, true)}, {"text.txt", Block(text_, false)}});
    EXPECT_EQ(Load("big.bin"), std::string(big_.begin(), big_.end()));
    EXPECT_EQ(Load("text.txt"), std::string(text_.begin(), text_.end()));
    EXPECT_EQ(TakeLog(), "");
}

// Found, read and decoded on a thread of its own, as the setup's read-ahead threads do; an entry
// below the minimum or above the limit is left to the ordinary read.
TEST_F(LzmaArchive, EntryDecodedApartOnAnotherThread) {
    OpenArchive({{"big.bin", Block(big_, true)}, {"text.txt", Block(text_, false)}});
    FfsStored stored;
    ASSERT_EQ(Ffs_LocateStored("big.bin", 65536, 4 << 20, &stored), 1);
    EXPECT_EQ(stored.Codec, &Lzma_Codec);
    EXPECT_EQ(stored.Size, (int32_t)big_.size());
    std::vector<uint8_t> block((size_t)stored.Length), output(big_.size());
    ASSERT_EQ(Ffs_ReadStored(&stored, block.data()), 1);
    int decoded = 0;
    std::thread thread([&] { decoded = Ffs_DecodeStored(&stored, output.data()); });
    thread.join();
    EXPECT_EQ(decoded, 1);
    EXPECT_TRUE(output == big_);
    EXPECT_EQ(Ffs_LocateStored("big.bin", (int32_t)big_.size() + 1, 4 << 20, &stored), 0);
    EXPECT_EQ(Ffs_LocateStored("text.txt", 65536, 4 << 20, &stored), 0);
    EXPECT_EQ(TakeLog(), "");
}

// A block cut short, one whose header is refused, and one whose stream's first byte is not 0:
// each load stops with the codec's line (and the reader's, in pieces), and the rest of the
// archive reads.
TEST_F(LzmaArchive, DamagedBlocksStopTheLoadWithTheirLines) {
    std::string good = Block(text_, false);
    std::string cut = good.substr(0, good.size() - 1);
    std::string filter = good, first = good;
    filter[8] = 2;
    first[LZMA_HEADER_SIZE] = 1;
    OpenArchive(
        {{"cut.txt", cut}, {"filter.txt", filter}, {"first.txt", first}, {"good.txt", good}});
    auto ignore = [](void *, const uint8_t *, int32_t) { return 1; };
    for (const char *name : {"cut.txt", "filter.txt", "first.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Load(name), "<unloadable>");
        EXPECT_EQ(TakeLog(), "[LZMA] Failed to decompress\n");
        EXPECT_EQ(Ffs_Stream(name, ignore, nullptr), 0);
        EXPECT_EQ(TakeLog(),
                  std::string("[LZMA] Failed to decompress\nUnable to load '") + name + "'\n");
    }
    EXPECT_EQ(Load("good.txt"), std::string(text_.begin(), text_.end()));
}

} // namespace
