// The archive reader against archives made by the builder and by hand: entries of every size
// back byte for byte, through the trailer and at offset 0, names in any case, the failure lines
// of a damaged header, the size checks, the 16-byte peek, sequential mode, the disk-file
// fallback, the codec list; the builder's refusals and its bounds at their edges.
#include "ffs-fixture.h"

namespace {

TEST_F(Ffs, InstallDatHashesAsUpperCase) {
    std::string path = Build({{"install.dat", Bytes("script")}}, "");
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(Ffs_HashName("install.dat"), 0x69BD3630u);
    EXPECT_EQ(Ffs_HashName("INSTALL.DAT"), 0x69BD3630u);
}

TEST_F(Ffs, EveryEntryComesBackByteForByte) {
    std::mt19937 random(1);
    std::vector<PackInput> inputs;
    std::vector<size_t> sizes = {1,  2,  3,  10,  11,   12,   15,   16,    17,
                                 59, 60, 61, 100, 4095, 4096, 4097, 20000, 70000};
    for (size_t i = 0; i < sizes.size(); i++) {
        inputs.push_back({"file" + std::to_string(i) + ".bin", Random(random, sizes[i], 256)});
        inputs.push_back({"Text" + std::to_string(i) + ".txt", Random(random, sizes[i], 3)});
    }
    inputs.push_back({"spaces", Bytes(std::string(40, ' '))});
    for (std::string stub : {std::string(), std::string(3000, 'M')}) {
        std::string path = Build(inputs, stub);
        ASSERT_TRUE(Open(path)) << TakeLog();
        for (const PackInput &input : inputs)
            EXPECT_EQ(Load(input.name), Text(input.data)) << input.name << " stub " << stub.size();
        Ffs_Close();
    }
    // The one-byte entry is last in hash order for some layout; every size loaded above,
    // including those shorter than the 16-byte peek, so the padding did its work.
    EXPECT_EQ(TakeLog().find("Unable to peek"), std::string::npos);
}

TEST_F(Ffs, NamesFoldOnlyWithTheUpperCaseFlag) {
    PackBytes data = Bytes("the script text");
    std::string upper = Build({{"Install.Dat", data}}, "", 6);
    ASSERT_TRUE(Open(upper));
    for (const char *name : {"install.dat", "INSTALL.DAT", "Install.Dat"})
        EXPECT_EQ(Load(name), Text(data)) << name;
    EXPECT_EQ(Load("install.dat\xE9"), "<missing>");
    Ffs_Close();

    std::string exact = Build({{"Install.Dat", data}}, "", 4);
    ASSERT_TRUE(Open(exact));
    EXPECT_EQ(Load("Install.Dat"), Text(data));
    EXPECT_EQ(Load("install.dat"), "<missing>");
    EXPECT_EQ(Load("INSTALL.DAT"), "<missing>");
    // Only ASCII letters fold: an accented capital is not the same name as its small letter.
    Ffs_Close();
    std::string accented = Build({{"caf\xE9", data}}, "", 6);
    ASSERT_TRUE(Open(accented));
    EXPECT_EQ(Load("CAF\xE9"), Text(data));
    EXPECT_EQ(Load("CAF\xC9"), "<missing>");
}

TEST_F(Ffs, OpenFindsTheArchiveThroughTheTrailerOrAtTheOffset) {
    std::string stub = "MZ" + std::string(998, 'x');
    std::string path = Build({{"a", Bytes("alpha alpha alpha")}}, stub);
    ASSERT_TRUE(Open(path, 0));
    EXPECT_EQ(Load("a"), "alpha alpha alpha");
    Ffs_Close();
    ASSERT_TRUE(Open(path, 1000)); // the header right at the offset
    EXPECT_EQ(Load("a"), "alpha alpha alpha");
    Ffs_Close();
    EXPECT_EQ(TakeLog(),
              "Flat/Fast File System Initialized...\nFlat/Fast File System Removed...\n"
              "Flat/Fast File System Initialized...\nFlat/Fast File System Removed...\n");
}

TEST_F(Ffs, DamagedHeadersFailWithTheirLine) {
    std::string good = RawArchive({{Crc("A"), "0123456789abcdefXYZ"}}, 4, 0);
    auto withWord = [&](size_t at, uint32_t value) {
        std::string copy = good;
        for (int i = 0; i < 4; i++) copy[at + i] = (char)(value >> (8 * i));
        return copy;
    };
    std::string stub = std::string(200, 'S');
    struct {
        const char *label;
        std::string file;
        int32_t offset;
        std::string line; // %s is the path
    } rows[] = {
        {"missing file", "", 0, "Couldn't open flat file '%s'!\n"},
        {"offset beyond the end", good, 5000,
         "Offset too large for flat file '%s' (" + std::to_string(good.size()) + " < 5000)!\n"},
        {"trailer 0", stub + good + std::string(4, '\0'), 0,
         "File '%s' doesn't contain FFS data!\n"},
        {"trailer at the length",
         [&] {
             std::string f = stub;
             PutWord(&f, 204);
             return f;
         }(),
         0, "File '%s' doesn't contain FFS data!\n"},
        {"trailer to a wrong tag",
         [&] {
             std::string f = stub + good;
             PutWord(&f, 100);
             return f;
         }(),
         0,
         "FFS Does not contain proper tag (Read 100 from " +
             std::to_string(stub.size() + good.size()) + ")!!!\n"},
        {"count check", withWord(8, 5), 0,
         "FFS: CMatch Fail 1 != " + std::to_string((int)~5u) + "\n"},
        {"size check", withWord(16, 0), 0,
         "FFS: SMatch Fail " + std::to_string(good.size()) + " != -1\n"},
        {"header cut short", good.substr(0, 10), 0, "FFS: CMatch Fail 1 != -1\n"},
        {"too short for anything", "FF", 0, "File '%s' doesn't contain FFS data!\n"},
    };
    for (auto &row : rows) {
        std::string path = dir + "missing.bin";
        if (!row.file.empty()) path = Write("damaged.bin", row.file);
        EXPECT_FALSE(Open(path, row.offset)) << row.label;
        std::string line = row.line;
        size_t at = line.find("%s");
        if (at != std::string::npos) line.replace(at, 2, path);
        EXPECT_EQ(TakeLog(), line) << row.label;
        // No archive open: names go to disk again.
        int32_t size = 0;
        EXPECT_EQ(Ffs_GetSize("A", &size), 0) << row.label;
        Ffs_Close();
        TakeLog();
    }
}

TEST_F(Ffs, DirectoryReachingPastTheFileIsRefused) {
    std::string archive = RawArchive({{Crc("A"), "0123456789abcdefXYZ"}}, 4, 0);
    std::string cut = archive.substr(0, 24 + 5); // the directory entry cut in the middle
    EXPECT_FALSE(Open(Write("cut.bin", cut)));
    EXPECT_EQ(TakeLog(), "FFS: Directory cut short (1 entries, 5 bytes left)\n");
    // A count near 2^32 with matching check word: refused before anything is allocated.
    std::string huge = archive;
    for (int i = 0; i < 4; i++) {
        huge[4 + i] = (char)(0xFFFFFFF0u >> (8 * i));
        huge[8 + i] = (char)(~0xFFFFFFF0u >> (8 * i));
    }
    EXPECT_FALSE(Open(Write("huge.bin", huge)));
    EXPECT_NE(TakeLog().find("FFS: Directory cut short"), std::string::npos);
}

TEST_F(Ffs, FindEntryGivesTheBlockOffsetOfEveryHash) {
    FfsEntry entry = {0, 0};
    EXPECT_EQ(Ffs_FindEntry(Crc("A"), &entry), 0); // no archive open
    std::vector<RawEntry> entries;
    for (const char *name : {"A", "B", "C", "D", "E"})
        entries.push_back({Crc(name), std::string(20, name[0])});
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry &a, const RawEntry &b) { return a.hash < b.hash; });
    ASSERT_TRUE(Open(Write("find.bin", RawArchive(entries, 0, 0))));
    uint32_t offset = 24 + 8 * 5;
    for (const RawEntry &raw : entries) {
        ASSERT_EQ(Ffs_FindEntry(raw.hash, &entry), 1);
        EXPECT_EQ(entry.Hash, raw.hash);
        EXPECT_EQ(entry.BlockOffset, offset);
        offset += 8 + 20;
    }
    EXPECT_EQ(Ffs_FindEntry(Crc("F"), &entry), 0);
    EXPECT_EQ(Ffs_FindEntry(0, &entry), 0);
    EXPECT_EQ(Ffs_FindEntry(0xFFFFFFFF, &entry), 0);
}

TEST_F(Ffs, EmptyArchiveOpensWithNothingInIt) {
    ASSERT_TRUE(Open(Write("empty.bin", RawArchive({}, 6, 0))));
    EXPECT_EQ(Load("install.dat"), "<missing>");
    EXPECT_EQ(TakeLog(), "Flat/Fast File System Initialized...\n");
}

TEST_F(Ffs, MissingNamesFailWithoutALine) {
    ASSERT_TRUE(Open(Build({{"present", Bytes("here and here and here")}}, "")));
    TakeLog();
    int32_t size = 0;
    char buffer[8];
    EXPECT_EQ(Ffs_GetSize("absent", &size), 0);
    EXPECT_EQ(Ffs_Load("absent", buffer, 8), 0);
    EXPECT_EQ(Load(std::string(400, 'n')), "<missing>"); // longer than any stored name
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(Ffs, LoadWithAnotherSizeFailsWithTheCodecOrRawLine) {
    PackBytes compressible = Bytes(std::string(100, 'z'));
    ASSERT_TRUE(
        Open(Build({{"packed", compressible}, {"plain", Bytes("0123456789abcdefghij")}}, "")));
    TakeLog();
    std::string buffer(200, '\0');
    EXPECT_EQ(Ffs_Load("packed", &buffer[0], 99), 0);
    EXPECT_EQ(Ffs_Load("plain", &buffer[0], 21), 0);
    EXPECT_EQ(TakeLog(),
              "[Type2] Memory size not same (100 != 99)\nIncompatible sizes (20 != 21)\n");
}

TEST_F(Ffs, RawEntryBeginningWithTheTagIsTakenForABlock) {
    std::string bytes = std::string("FFC@") + std::string(20, 'q');
    ASSERT_TRUE(Open(Write("tag.bin", RawArchive({{Crc("T"), bytes}}, 0, 0))));
    int32_t size = 0;
    ASSERT_EQ(Ffs_GetSize("T", &size), 1);
    EXPECT_EQ(size, (int32_t)~0x71717171u); // the complement of "qqqq", not the length 24
}

TEST_F(Ffs, BuilderEncodesDataThatBeginsWithTheTag) {
    std::string bytes = std::string("FFC@") + "1234567";
    std::vector<PackInput> inputs = {{"T", Bytes(bytes)}, {"tiny", Bytes("FFC@")}};
    PackBytes archive;
    std::string error;
    PackNotes notes;
    ASSERT_TRUE(Pack_BuildArchive(inputs, 6, 0, false, &archive, &error, &notes)) << error;
    EXPECT_EQ(std::count_if(
                  notes.begin(), notes.end(),
                  [](const std::string &note) { return note.find("FFC@") != std::string::npos; }),
              2);
    ASSERT_TRUE(Open(Write("tag.bin", Text(archive))));
    EXPECT_EQ(Load("T"), bytes);
    EXPECT_EQ(Load("tiny"), "FFC@");
}

TEST_F(Ffs, ShortLastEntryWithoutRoomForThePeekFails) {
    // Hand-made: the only entry's 3 stored bytes end the file, so the size query's 16-byte peek
    // runs out, raw or not. The builder pads such an archive (see above).
    ASSERT_TRUE(Open(Write("short.bin", RawArchive({{Crc("S"), "abc"}}, 0, 0))));
    TakeLog();
    EXPECT_EQ(Load("S"), "<missing>");
    EXPECT_EQ(TakeLog(), "Unable to peek into compressed data\n");
}

TEST_F(Ffs, BlockNotBeginningWithItsHashIsNotFound) {
    std::string archive = RawArchive({{Crc("A"), std::string(20, 'a')}}, 0, 0);
    archive[32] ^= 0x01; // the block's own copy of the hash
    ASSERT_TRUE(Open(Write("pos.bin", archive)));
    TakeLog();
    EXPECT_EQ(Load("A"), "<missing>");
    char line[64];
    snprintf(line, sizeof line, "FFS: Pos Fail %x != %x\n", Crc("A"), Crc("A") ^ 1);
    EXPECT_EQ(TakeLog(), line);
}

TEST_F(Ffs, SequentialModeEndsAtTheFirstEntryOutOfPlace) {
    std::vector<RawEntry> entries = {{Crc("1"), std::string(20, '1')},
                                     {Crc("2"), std::string(20, '2')}};
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry &a, const RawEntry &b) { return a.hash < b.hash; });
    std::string first = entries[0].hash == Crc("1") ? "1" : "2";
    std::string second = first == "1" ? "2" : "1";
    std::string path = Write("seq.bin", RawArchive(entries, 1, 0));

    // Loads in stored order stay sequential.
    ASSERT_TRUE(Open(path));
    char buffer[20];
    EXPECT_EQ(Ffs_Load(first.c_str(), buffer, 20), 1);
    EXPECT_EQ(Ffs_Flags() & FFS_FLAG_SEQUENTIAL, 1u);
    EXPECT_EQ(Ffs_Load(second.c_str(), buffer, 20), 1);
    EXPECT_EQ(Ffs_Flags() & FFS_FLAG_SEQUENTIAL, 1u);
    EXPECT_EQ(std::string(buffer, 20), std::string(20, second[0]));
    Ffs_Close();

    // The size query leaves the position behind the entry's hash and length: the load that
    // follows finds no hash there, switches the mode off and succeeds through the directory.
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(Load(first), std::string(20, first[0]));
    EXPECT_EQ(Ffs_Flags() & FFS_FLAG_SEQUENTIAL, 0u);
    EXPECT_EQ(Load(second), std::string(20, second[0]));
    Ffs_Close();
    ASSERT_TRUE(Open(path)); // reopening restores the flags
    EXPECT_EQ(Ffs_Flags() & FFS_FLAG_SEQUENTIAL, 1u);
}

TEST_F(Ffs, DiskFilesWhileNoArchiveIsOpen) {
    std::string path = Write("disk.txt", "disk contents");
    int32_t size = 0;
    EXPECT_EQ(Ffs_GetSize(path.c_str(), &size), 1);
    EXPECT_EQ(size, 13);
    char buffer[20];
    EXPECT_EQ(Ffs_Load(path.c_str(), buffer, 13), 1);
    EXPECT_EQ(std::string(buffer, 13), "disk contents");
    EXPECT_EQ(Ffs_GetSize((dir + "none").c_str(), &size), 0);
    EXPECT_EQ(Ffs_Load((dir + "none").c_str(), buffer, 4), 0);
    EXPECT_EQ(TakeLog(), "");
    EXPECT_EQ(Ffs_Load(path.c_str(), buffer, 14), 0);
    EXPECT_EQ(TakeLog(), "Unable to read from file '" + path + "'\n");
    EXPECT_EQ(Ffs_GetSize(dir.c_str(), &size), 0); // a folder is not a file
}

TEST_F(Ffs, CloseWithoutAnArchiveOnlyLogs) {
    EXPECT_EQ(Ffs_Close(), 1);
    EXPECT_EQ(TakeLog(), "Flat/Fast File System Removed...\n");
}

int initCalls = 0, shutdownCalls = 0;
int CountInit() { return ++initCalls; }
int CountShutdown() { return ++shutdownCalls; }
int NeverIdentify(const uint8_t *) { return 0; }

TEST_F(Ffs, CodecsAreInitialisedOnceAndShutDownByClose) {
    FfsCodec other = {"Other",       "0",     nullptr, nullptr, nullptr, NeverIdentify, CountInit,
                      CountShutdown, nullptr, nullptr, nullptr, nullptr, nullptr,       nullptr};
    ASSERT_TRUE(Open(Build({{"x", Bytes(std::string(50, 'x'))}}, "")));
    Ffs_AddCodec(&other); // behind Type2, which still decodes
    EXPECT_EQ(initCalls, 1);
    EXPECT_EQ(other.Next, nullptr);
    EXPECT_EQ(Type2_Codec.Next, &other);
    EXPECT_EQ(Load("x"), std::string(50, 'x'));
    Ffs_Close();
    EXPECT_EQ(shutdownCalls, 1);
}

// ---- The builder's refusals ----

TEST_F(Ffs, BuilderRefusesWhatTheReaderCouldNotServe) {
    struct {
        const char *label;
        std::vector<PackInput> inputs;
        const char *message;
    } rows[] = {
        {"hash twins",
         {{"plumless", Bytes("one")}, {"buckeroo", Bytes("two")}},
         "names 'plumless' and 'buckeroo' have the same hash"},
        {"twins after folding",
         {{"PLUMLESS", Bytes("one")}, {"buckeroo", Bytes("two")}},
         "have the same hash"},
        {"one name in two letter cases",
         {{"a.txt", Bytes("one")}, {"A.TXT", Bytes("two")}},
         "names 'a.txt' and 'A.TXT' differ only in letter case"},
        {"empty file",
         {{"empty.txt", {}}},
         "'empty.txt' is empty; an archive cannot hold an empty file (a stored length of 0 reads "
         "as a missing entry): give it its first byte (a line end for a log or a settings "
         "file), or leave it out and let the program make it"},
        {"name of 320", {{std::string(320, 'n'), Bytes("x")}}, "is 320 characters long"},
        {"empty name", {{"", Bytes("x")}}, "an entry has an empty name"},
    };
    for (auto &row : rows) {
        PackBytes archive;
        std::string error;
        PackNotes notes;
        EXPECT_FALSE(Pack_BuildArchive(row.inputs, 6, 0, false, &archive, &error, &notes))
            << row.label;
        EXPECT_NE(error.find(row.message), std::string::npos) << row.label << ": " << error;
    }
    PackBytes archive;
    std::string error;
    PackNotes notes;
    EXPECT_TRUE(Pack_BuildArchive({{std::string(319, 'n'), Bytes("x")}}, 6, 0, false, &archive,
                                  &error, &notes));
}

// Sizes, offsets and the file's length are signed 32-bit numbers to the reader: an entry and a
// finished file hold at most 2^31 - 1 bytes. The file's bound is met through the archive's
// offset in its file, without writing gigabytes.
TEST_F(Ffs, BuilderBoundsAreTheReadersAtTheirEdges) {
    EXPECT_TRUE(Pack_EntryFits(0x7FFFFFFF));
    EXPECT_FALSE(Pack_EntryFits(0x80000000u));
    EXPECT_TRUE(Pack_FileFits(0x7FFFFFFF));
    EXPECT_FALSE(Pack_FileFits(0x80000000u));
    std::vector<PackInput> inputs = {{"install.dat", Bytes("script")}};
    PackBytes archive;
    std::string error;
    PackNotes notes;
    ASSERT_TRUE(Pack_BuildArchive(inputs, 6, 0, false, &archive, &error, &notes));
    const uint32_t largest = 0x7FFFFFFFu - (uint32_t)archive.size(); // ends on the last byte
    EXPECT_TRUE(Pack_BuildArchive(inputs, 6, largest, false, &archive, &error, &notes)) << error;
    EXPECT_FALSE(Pack_BuildArchive(inputs, 6, largest + 1, false, &archive, &error, &notes));
    EXPECT_EQ(error, "the finished file would be 2147483648 bytes; a setup or an archive is at "
                     "most 2147483647 bytes long (2 GB less one byte)");
    // A setup ends on a multiple of 8: its last one below 2^31 is the largest.
    ASSERT_TRUE(Pack_BuildArchive(inputs, 6, 0, true, &archive, &error, &notes));
    const uint32_t setupLargest = 0x7FFFFFF8u - (uint32_t)archive.size();
    EXPECT_TRUE(Pack_BuildArchive(inputs, 6, setupLargest, true, &archive, &error, &notes));
    EXPECT_FALSE(Pack_BuildArchive(inputs, 6, setupLargest + 1, true, &archive, &error, &notes));
}

TEST_F(Ffs, SameInputsGiveTheSameBytes) {
    std::mt19937 random(4);
    std::vector<PackInput> inputs;
    for (int i = 0; i < 20; i++)
        inputs.push_back({"f" + std::to_string(i), Random(random, 300, 5)});
    PackBytes a, b;
    std::string error;
    PackNotes notes;
    ASSERT_TRUE(Pack_BuildArchive(inputs, 6, 77, true, &a, &error, &notes));
    std::reverse(inputs.begin(), inputs.end());
    ASSERT_TRUE(Pack_BuildArchive(inputs, 6, 77, true, &b, &error, &notes));
    EXPECT_EQ(a, b);
}

} // namespace
