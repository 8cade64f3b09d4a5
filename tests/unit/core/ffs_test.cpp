// The archive reader against archives made by the builder and by hand: entries of every size
// back byte for byte, through the trailer and at offset 0, names in any case, the failure lines
// of a damaged header, the size checks, the 16-byte peek, sequential mode, the disk-file
// fallback, the reading in pieces; and the integrity stamp of a built setup against every single
// changed byte, also once the setup is signed; the builder's bounds at their edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ffs-cmp2.h"
#include "ffs.h"
#include "pack.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "test-support.h"

using testing_support::LittleEndian;
using testing_support::LogCapture;
using testing_support::MakeTempDir;
using testing_support::PeHeader;
using testing_support::PeHeaderBytes;
using testing_support::PutWord;
using testing_support::RawArchive;
using testing_support::RawEntry;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

const char *kLogName = "ffs-test.log";

std::string Text(const PackBytes &bytes) { return std::string(bytes.begin(), bytes.end()); }
PackBytes Bytes(const std::string &text) { return PackBytes(text.begin(), text.end()); }

PackBytes Random(std::mt19937 &random, size_t size, int alphabet) {
    PackBytes data(size);
    for (auto &b : data) b = (uint8_t)(random() % (unsigned)alphabet);
    return data;
}

class Ffs : public ::testing::Test {
  protected:
    std::string dir;
    LogCapture log_{kLogName};

    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        dir = MakeTempDir("ffs");
    }
    void TearDown() override {
        Ffs_Close();
        MemStats stats;
        Mem_GetStats(&stats);
        EXPECT_EQ(stats.blockCount, 0) << "blocks left behind";
    }

    // The log so far, emptied for the next step.
    std::string TakeLog() { return log_.Take(); }

    std::string Write(const std::string &name, const std::string &data) {
        std::string path = dir + name;
        EXPECT_TRUE(WriteFile(path, data));
        return path;
    }

    std::string Build(const std::vector<PackInput> &inputs, const std::string &stub,
                      uint32_t flags = PACK_DEFAULT_FLAGS) {
        PackBytes archive;
        std::string error;
        PackNotes notes;
        EXPECT_TRUE(Pack_BuildArchive(inputs, flags, (uint32_t)stub.size(), !stub.empty(), &archive,
                                      &error, &notes))
            << error;
        return Write("archive.bin", stub + Text(archive));
    }

    // Ffs_Open with the codec, as start-up does.
    bool Open(const std::string &path, int32_t offset = 0) {
        if (!Ffs_Open(path.c_str(), offset)) return false;
        Ffs_AddCodec(&Type2_Codec);
        return true;
    }

    // Size query and load of name; the bytes, or "<missing>".
    std::string Load(const std::string &name) {
        int32_t size = 0;
        if (!Ffs_GetSize(name.c_str(), &size)) return "<missing>";
        std::string buffer((size_t)size, '\0');
        if (!Ffs_Load(name.c_str(), &buffer[0], size)) return "<unloadable>";
        return buffer;
    }
};

uint32_t Crc(const std::string &name) { return Core_Crc32(name.data(), (int)name.size()); }

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
    FfsCodec other = {"Other",   "0",           nullptr, nullptr, nullptr, NeverIdentify,
                      CountInit, CountShutdown, nullptr, nullptr, nullptr};
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

// ---- Integrity stamp ----

std::string Stub() {
    std::string stub = "MZ stub" + std::string(300, '.') + CORE_STAMP_UNSET;
    stub.push_back('\0');
    return stub + std::string(200, '#');
}

TEST_F(Ffs, BuiltSetupPassesAndAnyChangedByteFails) {
    std::string stubPath = Write("stub.exe", Stub());
    std::string setup = dir + "setup.exe";
    std::string error;
    PackNotes notes;
    std::mt19937 random(8);
    ASSERT_TRUE(Pack_BuildSetup(stubPath, {{"install.dat", Random(random, 700, 4)}}, 6, setup,
                                &error, &notes))
        << error;
    uint8_t record[CORE_STAMP_SIZE];
    std::string file = ReadFile(setup);
    int64_t at = Pack_FindStamp(setup);
    ASSERT_EQ(at, (int64_t)Stub().find('|'));
    memcpy(record, file.data() + at, CORE_STAMP_SIZE);
    EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, setup.c_str(), 1, 1), 1);
    EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, setup.c_str(), 0, 0), 1);
    EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY ^ 1, setup.c_str(), 1, 1), 0);

    std::string damaged = dir + "damaged.exe";
    for (size_t i = 0; i < file.size(); i++) {
        if (i >= (size_t)at && i < (size_t)at + CORE_STAMP_SIZE) continue; // the record itself
        std::string copy = file;
        copy[i] ^= (char)(1 << (i % 8));
        WriteFile(damaged, copy);
        ASSERT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, damaged.c_str(), 1, 1), 0) << i;
    }
    for (size_t cut : {(size_t)1, (size_t)4, file.size() / 2}) {
        WriteFile(damaged, file.substr(0, file.size() - cut));
        EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, damaged.c_str(), 1, 1), 0) << cut;
    }
    // The name check: the name the builder stamped, not another.
    WriteFile(damaged, file);
    EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, damaged.c_str(), 1, 0), 0);
    // Changed record bytes break its consistency word or its checksum.
    for (int i = 0; i < CORE_STAMP_SIZE - 1; i++) {
        uint8_t copy[CORE_STAMP_SIZE];
        memcpy(copy, record, sizeof copy);
        copy[i] ^= 0x40;
        EXPECT_EQ(Core_VerifyStampRecord(copy, CORE_STAMP_KEY, setup.c_str(), 1, 1), 0) << i;
    }
    EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, (dir + "gone.exe").c_str(), 1, 1), 0);
    EXPECT_EQ(TakeLog(), "Couldn't open file '" + dir + "gone.exe'!\n");
    // The program's own record is unstamped until the builder writes it.
    EXPECT_EQ(Core_VerifyStamp(CORE_STAMP_KEY, setup.c_str(), 1, 1), 0);
}

// The program's own record tells a stub that no build has stamped: the unstamped record is no
// well-formed stamp, a stamp written there is. A changed bar, W1, W3 or check word makes it
// ill-formed; W2 and W4 cancel out of the check word (the file's check finds them changed).
TEST_F(Ffs, TheProgramsOwnRecordHoldsAStampOnceStamped) {
    uint8_t saved[CORE_STAMP_SIZE];
    memcpy(saved, Core_Stamp, sizeof saved);
    ASSERT_EQ(memcmp(saved, CORE_STAMP_UNSET, CORE_STAMP_SIZE), 0);
    EXPECT_EQ(Core_HasStamp(CORE_STAMP_KEY), 0);
    Core_MakeStamp(Core_Stamp, CORE_STAMP_KEY, 0x1234, 70144, 0xCAFEF00D, 300000);
    EXPECT_EQ(Core_HasStamp(CORE_STAMP_KEY), 1);
    EXPECT_EQ(Core_HasStamp(CORE_STAMP_KEY ^ 1), 0);
    struct {
        int from, to, wellFormed;
    } rows[] = {{0, 0, 0},   {1, 4, 0},   {5, 8, 1},   {9, 12, 0},
                {13, 16, 1}, {17, 20, 0}, {21, 21, 0}, {22, 22, 1}}; // the terminator is not read
    for (auto &row : rows) {
        for (int i = row.from; i <= row.to; i++) {
            Core_Stamp[i] ^= 0x01;
            EXPECT_EQ(Core_HasStamp(CORE_STAMP_KEY), row.wellFormed) << i;
            Core_Stamp[i] ^= 0x01;
        }
    }
    memcpy(Core_Stamp, saved, sizeof saved);
}

// The check reads the file in chunks of CORE_STAMP_CHUNK: a record that straddles a chunk's
// end is left out all the same, and a changed byte on either side of a chunk's end is found.
TEST_F(Ffs, StampCheckHoldsAcrossItsChunks) {
    std::mt19937 random(17);
    const size_t chunk = CORE_STAMP_CHUNK;
    std::vector<PackInput> inputs = {{"install.dat", Bytes("script")},
                                     {"data.bin", Random(random, 2 * chunk + 300, 256)}};
    for (size_t at : {chunk - CORE_STAMP_SIZE, chunk - 10, chunk - 1, chunk, 2 * chunk - 5}) {
        std::string stub = "MZ" + std::string(at - 2, '.') + CORE_STAMP_UNSET;
        stub.push_back('\0');
        stub += std::string(100, '#');
        std::string setup = dir + "setup.exe", error;
        PackNotes notes;
        ASSERT_TRUE(Pack_BuildSetup(Write("stub.exe", stub), inputs, 6, setup, &error, &notes));
        std::string file = ReadFile(setup);
        uint8_t record[CORE_STAMP_SIZE];
        memcpy(record, file.data() + at, CORE_STAMP_SIZE);
        EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, setup.c_str(), 0, 1), 1) << at;
        std::string damaged = dir + "damaged.exe";
        for (size_t i : {chunk - 1, chunk, 2 * chunk - 1, 2 * chunk, file.size() - 1}) {
            if (i >= at && i < at + CORE_STAMP_SIZE) continue; // the record itself
            std::string copy = file;
            copy[i] ^= 0x20;
            WriteFile(damaged, copy);
            EXPECT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, damaged.c_str(), 0, 1), 0)
                << at << " byte " << i;
        }
    }
}

TEST_F(Ffs, StampRecordIsFoundExactlyOnce) {
    std::string error;
    PackNotes notes;
    std::vector<PackInput> inputs = {{"install.dat", Bytes("x")}};
    std::string none = Write("none.exe", std::string(500, 'M'));
    EXPECT_FALSE(Pack_BuildSetup(none, inputs, 6, dir + "out.exe", &error, &notes));
    EXPECT_NE(error.find("no unstamped record"), std::string::npos) << error;
    std::string twice = Write("twice.exe", Stub() + Stub());
    EXPECT_FALSE(Pack_BuildSetup(twice, inputs, 6, dir + "out.exe", &error, &notes));
    EXPECT_NE(error.find("2 unstamped records"), std::string::npos) << error;
    EXPECT_FALSE(testing_support::FileExists(dir + "out.exe"));
    EXPECT_FALSE(Pack_BuildSetup(dir + "missing.exe", inputs, 6, dir + "out.exe", &error, &notes));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    // A stamped setup cannot be stamped again: its record is no longer the unstamped one.
    ASSERT_TRUE(
        Pack_BuildSetup(Write("stub.exe", Stub()), inputs, 6, dir + "out.exe", &error, &notes));
    EXPECT_FALSE(Pack_BuildSetup(dir + "out.exe", inputs, 6, dir + "again.exe", &error, &notes));
}

TEST_F(Ffs, VerifyListAndExtractReadWhatBuildWrote) {
    std::string error;
    PackNotes notes;
    std::string setup = dir + "setup.exe";
    PackBytes big = Bytes(std::string(5000, 'b'));
    ASSERT_TRUE(Pack_BuildSetup(Write("stub.exe", Stub()),
                                {{"install.dat", Bytes("script")}, {"docs\\big.txt", big}}, 6,
                                setup, &error, &notes));
    std::vector<std::string> report;
    EXPECT_TRUE(Pack_Verify(setup, &report));
    std::vector<PackEntryInfo> entries;
    uint32_t flags = 0;
    ASSERT_TRUE(Pack_List(setup, {"DOCS\\BIG.TXT"}, &entries, &flags, &error));
    EXPECT_EQ(flags, 6u);
    ASSERT_EQ(entries.size(), 2u);
    for (auto &entry : entries) {
        if (entry.name.empty()) continue;
        EXPECT_TRUE(entry.compressed);
        EXPECT_EQ(entry.size, 5000);
    }
    PackBytes data;
    ASSERT_TRUE(Pack_Extract(setup, "docs\\big.txt", &data, &error));
    EXPECT_EQ(data, big);
    std::string file = ReadFile(setup);
    file[file.size() - 10] ^= 1;
    WriteFile(setup, file);
    report.clear();
    EXPECT_FALSE(Pack_Verify(setup, &report));
}

} // namespace

namespace {

// ---- Signed setups ----

void SetWord(std::string *bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++) (*bytes)[at + i] = (char)(value >> (8 * i));
}

PeHeader ImageHeader(uint16_t magic) {
    PeHeader header;
    header.magic = magic;
    header.checksum = 0x5EED0001; // the linker's, which the builder zeroes
    return header;
}

// A stub that is an image: its headers, the unstamped record, its code.
std::string ImageStub(const PeHeader &header) {
    std::string stub = PeHeaderBytes(header) + CORE_STAMP_UNSET;
    stub.push_back('\0');
    return stub + std::string(100, '#');
}

// What a signing tool does to a finished setup: a checksum of its own and the security entry
// written, the certificate table appended.
std::string Signed(std::string file, const PeHeader &header, const std::string &table) {
    SetWord(&file, header.ChecksumAt(), 0x0003A1F7);
    SetWord(&file, header.EntryAt(), (uint32_t)file.size());
    SetWord(&file, header.EntryAt() + 4, (uint32_t)table.size());
    return file + table;
}

// Certificates: ending in a word that, read as a trailer, points past the file.
std::string Table(size_t size) { return std::string(size, 'C'); }

class SignedSetup : public Ffs {
  protected:
    std::string signedDir, built, record;
    size_t recordAt = 0;

    // Builds "setup.exe" from the stub with the inputs; built holds it, record its stamp.
    void BuildFrom(const std::string &stub, const std::vector<PackInput> &inputs) {
        std::string setup = dir + "setup.exe", error;
        PackNotes notes;
        ASSERT_TRUE(Pack_BuildSetup(Write("stub.exe", stub), inputs, 6, setup, &error, &notes))
            << error;
        built = ReadFile(setup);
        int64_t at = Pack_FindStamp(setup);
        ASSERT_GE(at, 0);
        recordAt = (size_t)at;
        record = built.substr(recordAt, CORE_STAMP_SIZE);
    }

    // The file as "setup.exe" of a folder of its own (the name the stamp was made for).
    std::string Place(const std::string &file) {
        if (signedDir.empty()) signedDir = MakeTempDir("ffs-signed");
        std::string path = signedDir + "setup.exe";
        EXPECT_TRUE(WriteFile(path, file));
        return path;
    }

    // The stamp check of the file, as a setup started with and without its length check runs
    // it: 1 when both pass, 0 when both fail, -1 when they disagree.
    int Check(const std::string &file) {
        std::string path = Place(file);
        const uint8_t *bytes = (const uint8_t *)record.data();
        int withLength = Core_VerifyStampRecord(bytes, CORE_STAMP_KEY, path.c_str(), 0, 0);
        int withoutLength = Core_VerifyStampRecord(bytes, CORE_STAMP_KEY, path.c_str(), 1, 0);
        return withLength == withoutLength ? withLength : -1;
    }
};

TEST_F(SignedSetup, PassesAndItsArchiveIsReadBeforeTheTable) {
    std::mt19937 random(12);
    std::vector<PackInput> inputs = {{"install.dat", Random(random, 700, 4)},
                                     {"big.bin", Random(random, 5000, 3)}};
    for (uint16_t magic : {0x10B, 0x20B}) {
        PeHeader header = ImageHeader(magic);
        std::string stub = ImageStub(header);
        BuildFrom(stub, inputs);
        // The stub as it was but for its checksum, which is stamped zero.
        std::string zeroed = stub;
        SetWord(&zeroed, header.ChecksumAt(), 0);
        size_t at = stub.find('|');
        EXPECT_EQ(built.substr(0, at), zeroed.substr(0, at)) << magic;
        EXPECT_EQ(built.substr(at + CORE_STAMP_SIZE, stub.size() - at - CORE_STAMP_SIZE),
                  zeroed.substr(at + CORE_STAMP_SIZE))
            << magic;
        EXPECT_EQ(Check(built), 1) << magic;
        for (size_t size : {(size_t)1, (size_t)8, (size_t)1000, (size_t)4097}) {
            std::string file = Signed(built, header, Table(size));
            EXPECT_EQ(Check(file), 1) << magic << " " << size;
            ASSERT_TRUE(Open(Place(file))) << TakeLog();
            for (const PackInput &input : inputs)
                EXPECT_EQ(Load(input.name), Text(input.data)) << magic << " " << size;
            Ffs_Close();
        }
    }
}

// Only the 12 bytes that signing rewrites are read as zero, and only with a table behind the
// built file that ends the file; the table itself is the signature's to prove, not the stamp's.
TEST_F(SignedSetup, FailsForEveryOtherChange) {
    for (uint16_t magic : {0x10B, 0x20B}) {
        PeHeader header = ImageHeader(magic);
        BuildFrom(ImageStub(header), {{"install.dat", Bytes(std::string(300, 's'))}});
        const std::string table = Table(1000), good = Signed(built, header, table);
        ASSERT_EQ(Check(good), 1);
        const size_t checksum = header.ChecksumAt();
        for (size_t i = 0; i < built.size(); i++) {
            if (i >= recordAt && i < recordAt + CORE_STAMP_SIZE) continue; // the record itself
            std::string copy = good;
            copy[i] ^= (char)(1 << (i % 8));
            int rewritten = i >= checksum && i < checksum + PE_CHECKSUM_SIZE;
            ASSERT_EQ(Check(copy), rewritten) << magic << " byte " << i;
        }
        std::string later = built + "x" + table; // the table one byte behind the built file
        SetWord(&later, header.EntryAt(), (uint32_t)built.size() + 1);
        SetWord(&later, header.EntryAt() + 4, (uint32_t)table.size());
        std::string tableByte = good;
        tableByte[built.size() + 500] ^= 1;
        struct {
            const char *label;
            std::string file;
            int passes;
        } rows[] = {
            {"a byte behind the table", good + "x", 0},
            {"the table cut by a byte", good.substr(0, good.size() - 1), 0},
            {"the table one byte later", later, 0},
            {"the header signed, no table", good.substr(0, built.size()), 0},
            {"the trailer", good.substr(0, built.size() - 1) + "\x7F" + table, 0},
            {"a byte of the table", tableByte, 1},
        };
        for (auto &row : rows) EXPECT_EQ(Check(row.file), row.passes) << magic << " " << row.label;
    }
}

// An unsigned setup's checksum is part of its check sum; a setup built before stubs were stamped
// with a zero checksum still passes unsigned, and cannot be signed.
TEST_F(SignedSetup, AnUnsignedSetupKeepsItsChecksumInItsCheckSum) {
    PeHeader header = ImageHeader(0x10B);
    std::vector<PackInput> inputs = {{"install.dat", Bytes(std::string(300, 's'))}};
    BuildFrom(ImageStub(header), inputs);
    std::string changed = built;
    SetWord(&changed, header.ChecksumAt(), 0x0003A1F7);
    EXPECT_EQ(Check(changed), 0);

    const std::string stub = ImageStub(header);
    PackBytes older(stub.begin(), stub.end()), archive;
    std::string error;
    PackNotes notes;
    ASSERT_TRUE(
        Pack_BuildArchive(inputs, 6, (uint32_t)older.size(), true, &archive, &error, &notes));
    older.insert(older.end(), archive.begin(), archive.end());
    ASSERT_TRUE(Pack_Stamp(&older, "setup.exe", &error)) << error;
    built = Text(older);
    recordAt = stub.find('|');
    record = built.substr(recordAt, CORE_STAMP_SIZE);
    EXPECT_EQ(Check(built), 1);
    EXPECT_EQ(Check(Signed(built, header, Table(1000))), 0);
}

TEST_F(SignedSetup, TheBuilderRefusesASignedStub) {
    struct {
        uint32_t tableOffset, tableSize;
        bool built;
    } rows[] = {
        {0, 0, true},
        {0x1000, 0, false},
        {0, 8, false},
        {0x1000, 8, false},
    };
    for (auto &row : rows) {
        PeHeader header = ImageHeader(0x10B);
        header.tableOffset = row.tableOffset;
        header.tableSize = row.tableSize;
        std::string setup = dir + "setup.exe", error;
        PackNotes notes;
        testing_support::RemoveFile(setup);
        EXPECT_EQ(Pack_BuildSetup(Write("stub.exe", ImageStub(header)),
                                  {{"install.dat", Bytes("x")}}, 6, setup, &error, &notes),
                  row.built)
            << row.tableOffset << " " << row.tableSize;
        EXPECT_EQ(testing_support::FileExists(setup), row.built);
        if (!row.built) {
            EXPECT_NE(error.find("is signed; build with an unsigned stub"), std::string::npos)
                << error;
        }
    }
}

// A setup ends on a multiple of 8, where a signing tool appends its table without padding of
// its own: the fewest zeros that get there, none when it is there already. A stand-alone
// archive is no program and gets none.
TEST_F(SignedSetup, ASetupsLengthIsAMultipleOfEight) {
    std::mt19937 random(16);
    const std::string stub = ImageStub(ImageHeader(0x10B));
    for (size_t size = 1; size <= 24; size++) {
        PackBytes data = Random(random, size, 256);
        BuildFrom(stub, {{"data.bin", data}});
        std::vector<PackEntryInfo> entries;
        uint32_t flags = 0;
        std::string error;
        ASSERT_TRUE(Pack_List(Place(built), {}, &entries, &flags, &error)) << error;
        ASSERT_EQ(entries.size(), 1u);
        // Header, one directory entry, the block's hash and length, its bytes with the trailer
        // (at least the 16 bytes of the size query).
        size_t unaligned =
            stub.size() + 24 + 8 + 8 + std::max((size_t)entries[0].storedLength + 4, (size_t)16);
        EXPECT_EQ(built.size(), (unaligned + 7) / 8 * 8) << size;
        EXPECT_EQ(LittleEndian(built, built.size() - 4), stub.size()) << size; // the trailer
        EXPECT_EQ(Check(built), 1) << size;

        PackBytes archive;
        PackNotes notes;
        ASSERT_TRUE(Pack_BuildArchive({{"data.bin", data}}, 6, (uint32_t)stub.size(), false,
                                      &archive, &error, &notes));
        EXPECT_EQ(archive.size(),
                  24 + 8 + 8 + std::max((size_t)entries[0].storedLength, (size_t)16))
            << size;
    }
}

TEST_F(SignedSetup, VerifyNamesTheSignatureAndWhatIsWrongWithIt) {
    PeHeader header = ImageHeader(0x10B);
    BuildFrom(ImageStub(header), {{"install.dat", Bytes(std::string(300, 's'))}});
    const std::string good = Signed(built, header, Table(1000));
    const std::string intact =
        "stamp: record at offset " + std::to_string(recordAt) + ", file intact";
    struct {
        const char *label;
        std::string file;
        std::string line; // the first of the report
        bool passed;
    } rows[] = {
        {"unsigned", built, intact, true},
        // In place, but no signature: the table's first record claims 0x43434343 bytes.
        {"signed", good, "signed: 1000 bytes of certificates", false},
        {"a byte behind", good + "x", "signed, but 1 bytes follow the certificate table", false},
        {"8 bytes behind", good + std::string(8, '\0'),
         "signed, but 8 bytes follow the certificate table", false},
        {"cut by a byte", good.substr(0, good.size() - 1),
         "signed, but the certificate table is cut short (1 bytes missing)", false},
        {"cut to the header", good.substr(0, built.size()),
         "signed, but the certificate table is cut short (1000 bytes missing)", false},
    };
    for (auto &row : rows) {
        std::vector<std::string> report;
        EXPECT_EQ(Pack_Verify(Place(row.file), &report), row.passed) << row.label;
        ASSERT_FALSE(report.empty()) << row.label;
        EXPECT_EQ(report[0], row.line) << row.label;
        if (row.passed) {
            EXPECT_EQ(report.back(), "archive: 1 entries, 0 unreadable") << row.label;
        }
    }
    std::vector<std::string> report;
    ASSERT_FALSE(Pack_Verify(Place(good), &report));
    ASSERT_EQ(report.size(), 4u);
#if defined(_WIN32) // the builder without libcrypto
    EXPECT_EQ(report[1], "signature: NOT CHECKED: this build of ffspack has no OpenSSL libcrypto "
                         "(the Linux builder checks signatures)");
#else
    EXPECT_EQ(report[1], "signature: FAILED: the certificate table's record at byte 0 claims "
                         "1128481603 bytes, and the table has 1000 from there");
#endif
    EXPECT_EQ(report[2], intact);
}

} // namespace

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

} // namespace
