// The archive reader's loading: the one entry loader and its bound, reading in pieces from the
// archive and from disk, stored bytes read for decoding apart, and every file call of the
// reader made to fail in turn.
#include "ffs-fixture.h"

#include <map>
#include <utility>

#include "tessel-sys.h"

namespace {

// The one entry loader: the bound at its edge, the extra bytes zero-filled, an empty entry in a
// block of one byte, each failure with its line (or none when asked), nothing left allocated.
TEST_F(Ffs, LoadBlockKeepsItsBoundAndSaysWhyItFailed) {
    std::string body = "0123456789";
    ASSERT_TRUE(Open(Build({{"ten.txt", Bytes(body)}, {"one.txt", Bytes("x")}}, "STUB")));
    TakeLog();
    FfsBlock block;
    ASSERT_EQ(Ffs_LoadBlock("ten.txt", 10, 3, 1, &block), FFS_LOAD_DONE); // size == limit
    EXPECT_EQ(block.Size, 10);
    EXPECT_EQ(block.Allocated, 13);
    EXPECT_EQ(std::string((const char *)block.Data, 10), body);
    EXPECT_EQ(std::string((const char *)block.Data + 10, 3), std::string(3, '\0'));
    Ffs_FreeBlock(&block);
    EXPECT_EQ(block.Data, nullptr);

    EXPECT_EQ(Ffs_LoadBlock("ten.txt", 9, 0, 1, &block), FFS_LOAD_TOO_LARGE); // one above
    EXPECT_EQ(block.Data, nullptr);
    EXPECT_EQ(block.Size, 10);
    EXPECT_EQ(TakeLog(), "Unable to load 'ten.txt'\n");
    // The block with its extra bytes must fit 31 bits.
    EXPECT_EQ(Ffs_LoadBlock("ten.txt", INT32_MAX, INT32_MAX - 9, 1, &block), FFS_LOAD_TOO_LARGE);
    EXPECT_EQ(TakeLog(), "Unable to load 'ten.txt'\n");
    EXPECT_EQ(Ffs_LoadBlock("ten.txt", INT32_MAX, -1, 1, &block), FFS_LOAD_TOO_LARGE);
    TakeLog();

    EXPECT_EQ(Ffs_LoadBlock("gone.txt", INT32_MAX, 0, 1, &block), FFS_LOAD_NO_SIZE);
    EXPECT_EQ(TakeLog(), "Unable to get size for 'gone.txt'\n");
    EXPECT_EQ(Ffs_LoadBlock("gone.txt", INT32_MAX, 0, 0, &block), FFS_LOAD_NO_SIZE);
    EXPECT_EQ(Ffs_LoadBlock("ten.txt", 9, 0, 0, &block), FFS_LOAD_TOO_LARGE);
    EXPECT_EQ(TakeLog(), ""); // silent when the caller reports itself
}

// ---- Reading in pieces ----

// What a sink was handed: the bytes and each piece's size; it refuses its refuseAt-th piece.
struct Taken {
    std::string bytes;
    std::vector<int32_t> pieces;
    int refuseAt = 0;

    static int Take(void *context, const uint8_t *data, int32_t n) {
        Taken *taken = (Taken *)context;
        taken->pieces.push_back(n);
        if ((int)taken->pieces.size() == taken->refuseAt) return 0;
        taken->bytes.append((const char *)data, (size_t)n);
        return 1;
    }
};

// Ffs_Stream of name into a fresh sink.
Taken Stream(const std::string &name, int expected = 1, int refuseAt = 0) {
    Taken taken;
    taken.refuseAt = refuseAt;
    EXPECT_EQ(Ffs_Stream(name.c_str(), Taken::Take, &taken), expected) << name;
    return taken;
}

// Raw and Type2 entries of every size around the pieces' bounds come in pieces of at most
// FFS_PIECE_SIZE, exactly the bytes that Ffs_Load gives, in any order of the calls.
TEST_F(Ffs, StreamGivesEveryEntryInPiecesAsLoadGivesIt) {
    std::mt19937 random(31);
    std::vector<PackInput> inputs;
    const size_t piece = FFS_PIECE_SIZE;
    for (size_t size : {(size_t)1, (size_t)15, (size_t)16, (size_t)17, (size_t)4095, (size_t)4097,
                        piece - 1, piece, piece + 1, 2 * piece + 4097, (size_t)300000}) {
        inputs.push_back({"raw" + std::to_string(size), Random(random, size, 256)});
        inputs.push_back({"text" + std::to_string(size), Random(random, size, 4)});
    }
    inputs.push_back({"tagged", Bytes("FFC@" + std::string(200000, 't'))}); // encoded always
    ASSERT_TRUE(Open(Build(inputs, std::string(3000, 'M'))));
    TakeLog();
    for (const PackInput &input : inputs) {
        Taken taken = Stream(input.name);
        EXPECT_EQ(taken.bytes, Text(input.data)) << input.name;
        for (int32_t n : taken.pieces) EXPECT_TRUE(n >= 1 && n <= FFS_PIECE_SIZE) << input.name;
        EXPECT_EQ(Load(input.name), Text(input.data)) << input.name;
    }
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Ffs, StreamSaysWhyAnEntryCannotBeReadAndStopsWhereTheSinkSays) {
    std::mt19937 random(32);
    PackBytes big = Random(random, 3 * FFS_PIECE_SIZE, 256), packed = Random(random, 300000, 3);
    std::string tagged = std::string(TYPE2_TAG) + std::string(4, '\0') + std::string(20, 'z');
    std::vector<RawEntry> entries = {{Crc("big"), Text(big)}, {Crc("sizeless"), tagged}};
    std::string path = Write("stream.bin", RawArchive(testing_support::SortedByHash(entries), 4));
    ASSERT_TRUE(Open(path));
    TakeLog();
    Stream("missing", 0);
    EXPECT_EQ(TakeLog(), "Unable to load 'missing'\n");
    EXPECT_TRUE(Stream("sizeless", 0).bytes.empty()); // a block that claims no bytes
    EXPECT_EQ(TakeLog(), "[Type2] Failed to decompress\nUnable to load 'sizeless'\n");
    // The sink's own refusal: no line (its owner says why), and nothing handed on after it.
    Taken refused = Stream("big", 0, 2);
    EXPECT_EQ(refused.pieces.size(), 2u);
    EXPECT_EQ(refused.bytes, Text(big).substr(0, FFS_PIECE_SIZE));
    EXPECT_EQ(TakeLog(), "");
    EXPECT_EQ(Stream("big").bytes, Text(big)); // the next read starts afresh
    Ffs_Close();

    // Compressed, then cut short after the archive was opened (a read fails half way): the
    // sink has had a true start of the file, and no more than its size.
    ASSERT_TRUE(Open(Build({{"packed", packed}}, "")));
    std::string archive = ReadFile(dir + "archive.bin");
    ASSERT_TRUE(WriteFile(dir + "archive.bin", archive.substr(0, archive.size() / 2)));
    TakeLog();
    Taken cut = Stream("packed", 0);
    EXPECT_LT(cut.bytes.size(), packed.size());
    EXPECT_EQ(cut.bytes, Text(packed).substr(0, cut.bytes.size()));
    EXPECT_EQ(TakeLog(), "[Type2] Failed to decompress\nUnable to load 'packed'\n");
}

TEST_F(Ffs, StreamReadsDiskFilesWhileNoArchiveIsOpen) {
    std::mt19937 random(33);
    std::string data = Text(Random(random, 2 * FFS_PIECE_SIZE + 5, 256));
    EXPECT_EQ(Stream(Write("disk.bin", data)).bytes, data);
    Taken empty = Stream(Write("empty.bin", ""));
    EXPECT_TRUE(empty.pieces.empty()); // an empty file is read, and nothing is handed on
    Stream(dir + "none.bin", 0);
    EXPECT_EQ(TakeLog(), "Unable to load '" + dir + "none.bin'\n");
}

// What INSTALL decodes on other threads: the stored bytes of a Type2 entry whose size lies in the
// bounds (both inclusive), found and read without a log line into the caller's memory, decoded
// apart from the reader into the bytes Ffs_Load gives; every other entry is left to the ordinary
// read.
TEST_F(Ffs, StoredBytesOfType2EntriesWithinTheBoundsAreReadAndDecodedApart) {
    std::mt19937 random(34);
    PackBytes packed = Random(random, 5000, 4), raw = Random(random, 5000, 256);
    ASSERT_TRUE(Open(Build({{"packed", packed}, {"raw", raw}}, std::string(100, 'M'))));
    TakeLog();
    FfsStored stored;
    ASSERT_EQ(Ffs_LocateStored("packed", 5000, 5000, &stored), 1);
    EXPECT_EQ(stored.Size, 5000);
    EXPECT_EQ(stored.Codec, &Type2_Codec);
    EXPECT_LT(stored.Length, 5000);
    EXPECT_EQ(stored.Block, nullptr);
    EXPECT_EQ(Load("raw"), Text(raw)); // the reader goes elsewhere before the stored bytes are read
    std::vector<uint8_t> block(stored.Length);
    ASSERT_EQ(Ffs_ReadStored(&stored, block.data()), 1);
    EXPECT_EQ(stored.Block, block.data());
    std::string decoded(5000, '\0');
    EXPECT_EQ(Ffs_DecodeStored(&stored, (uint8_t *)&decoded[0]), 1);
    EXPECT_EQ(decoded, Text(packed));
    EXPECT_EQ(Load("packed"), Text(packed)); // the reader goes on where it was
    ASSERT_EQ(Ffs_LocateStored("packed", 1, INT32_MAX, &stored), 1);
    int32_t length = stored.Length;
    struct Bounds {
        int32_t minimum, limit;
    };
    for (Bounds refused : {Bounds{5001, 9000}, Bounds{1, 4999}, Bounds{1, length - 1}}) {
        EXPECT_EQ(Ffs_LocateStored("packed", refused.minimum, refused.limit, &stored), 0)
            << refused.minimum << " " << refused.limit;
        EXPECT_EQ(stored.Codec, nullptr);
    }
    EXPECT_EQ(Ffs_LocateStored("raw", 1, INT32_MAX, &stored), 0);     // nothing to decode
    EXPECT_EQ(Ffs_LocateStored("missing", 1, INT32_MAX, &stored), 0); // said by the ordinary read
    EXPECT_EQ(Ffs_ReadStored(&stored, block.data()), 0);              // nothing found to read
    EXPECT_EQ(TakeLog(), "");
    ASSERT_EQ(Ffs_LocateStored("packed", 1, INT32_MAX, &stored), 1);
    Ffs_Close();
    EXPECT_EQ(Ffs_ReadStored(&stored, block.data()), 0); // no archive open
    EXPECT_EQ(Ffs_LocateStored("packed", 1, INT32_MAX, &stored), 0);
}

TEST_F(Ffs, LoadBlockGivesAnEmptyFileABlockOfOneByte) {
    // No archive open: the disk-file fallback, which can hold an empty file.
    std::string path = Write("empty.txt", "");
    FfsBlock block;
    ASSERT_EQ(Ffs_LoadBlock(path.c_str(), 0, 0, 1, &block), FFS_LOAD_DONE);
    EXPECT_EQ(block.Size, 0);
    EXPECT_EQ(block.Allocated, 1);
    Ffs_FreeBlock(&block);
    EXPECT_EQ(TakeLog(), "");
}

// ---- Failed file calls ----

// One reading of an archive as the setup reads it: open with the codec, a Type2 entry of several
// pieces and a raw one whole, the Type2 one again in pieces, close. Returns the first step that
// failed ("open", "big.bin", "raw.txt", "stream"), or "" when none did; a step that succeeds gives
// exactly the stored bytes.
std::string ReadArchive(const std::string &path, const PackBytes &big, const std::string &raw) {
    std::string failed;
    if (!Ffs_Open(path.c_str(), 0)) {
        failed = "open";
    } else {
        Ffs_AddCodec(&Type2_Codec);
        for (const auto &[name, bytes] :
             {std::make_pair("big.bin", Text(big)), std::make_pair("raw.txt", raw)}) {
            FfsBlock block;
            if (Ffs_LoadBlock(name, INT32_MAX, 0, 1, &block) != FFS_LOAD_DONE) {
                if (failed.empty()) failed = name;
                continue;
            }
            EXPECT_EQ(std::string((const char *)block.Data, (size_t)block.Size), bytes) << name;
            Ffs_FreeBlock(&block);
        }
        Taken taken;
        if (Ffs_Stream("big.bin", Taken::Take, &taken) != 1) {
            if (failed.empty()) failed = "stream";
        } else {
            EXPECT_EQ(taken.bytes, Text(big));
        }
    }
    Ffs_Close();
    return failed;
}

// Each file call of the reader made to fail in turn: the open or the entry it hits fails with
// its line, the entries before and after it come back whole, nothing is left allocated. Only the
// look at the head for a signature (the archive is not a signed setup) and the close, whose
// file is released all the same, lose nothing when they fail.
TEST_F(Ffs, EveryFailedFileCallOfTheReaderFailsItsStepAlone) {
    std::mt19937 random(23);
    const PackBytes big = Random(random, 2 * FFS_PIECE_SIZE + 700, 4);
    const std::string raw = "raw bytes";
    const std::string path = Build({{"big.bin", big}, {"raw.txt", Bytes(raw)}}, "STUB");
    int32_t before = Sys_FileCalls();
    ASSERT_EQ(ReadArchive(path, big, raw), "");
    const int32_t calls = Sys_FileCalls() - before;
    TakeLog();
    std::map<std::string, int> failures; // step: runs
    for (int32_t nth = 1; nth <= calls; nth++) {
        Sys_FileFailAt(nth);
        const std::string failed = ReadArchive(path, big, raw);
        Sys_FileFailAt(0);
        failures[failed]++;
        const std::string log = TakeLog();
        if (failed == "open") {
            EXPECT_EQ(log.find("Flat/Fast File System Initialized"), std::string::npos) << nth;
            EXPECT_NE(log, "Flat/Fast File System Removed...\n") << nth; // a line says why
        } else if (!failed.empty()) {
            const std::string name = failed == "stream" ? "big.bin" : failed;
            EXPECT_TRUE(log.find("Unable to load '" + name + "'\n") != std::string::npos ||
                        log.find("Unable to get size for '" + name + "'\n") != std::string::npos)
                << nth << ": " << log;
        }
        MemStats stats;
        Mem_GetStats(&stats);
        EXPECT_EQ(stats.blockCount, 0) << nth;
    }
    // The open: the file, its length, the look at the offset and through the trailer, the
    // header's words, the directory's place and the directory; each entry's steps ask the place
    // of their bytes as well. Harmless: the look at the head for a signature (a move
    // and a read; this archive is not a signed setup), the look at offset 0 (a move and a read;
    // the trailer finds the archive), the close, and the calls of the log's two lines (an open,
    // a write and a close each).
    const std::map<std::string, int> expected = {
        {"", 11}, {"open", 13}, {"big.bin", 15}, {"raw.txt", 14}, {"stream", 9},
    };
    ASSERT_EQ(calls, 62);
    EXPECT_EQ(failures, expected) << calls << " calls";
}

} // namespace
