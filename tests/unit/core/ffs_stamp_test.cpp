// The integrity stamp of a built setup against every single changed byte, across the check's
// chunks, also once the setup is signed (its archive read before the certificate table), and
// what the builder refuses or reports of a signed file.
#include "ffs-fixture.h"
#include "tessel-sys.h"

namespace {

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

// Each file call of the check made to fail in turn: the check never passes a file it did not
// read whole. The open, the length (asked for a check of the length), each chunk's read fail it;
// the close after a whole pass does not, and a setup's own check, which skips the length, needs
// none.
TEST_F(Ffs, AFailedFileCallFailsTheStampCheck) {
    std::mt19937 random(19);
    const std::string stubPath = Write("stub.exe", Stub());
    const std::string setup = dir + "setup.exe";
    std::string error;
    PackNotes notes;
    ASSERT_TRUE(Pack_BuildSetup(stubPath,
                                {{"install.dat", Bytes("script")},
                                 {"data.bin", Random(random, 2 * CORE_STAMP_CHUNK + 300, 256)}},
                                6, setup, &error, &notes))
        << error;
    const std::string file = ReadFile(setup);
    ASSERT_GT(file.size(), 2u * CORE_STAMP_CHUNK); // three chunks
    uint8_t record[CORE_STAMP_SIZE];
    memcpy(record, file.data() + Pack_FindStamp(setup), CORE_STAMP_SIZE);
    for (int skipLength : {0, 1}) {
        int32_t before = Sys_FileCalls();
        ASSERT_EQ(Core_VerifyStampRecord(record, CORE_STAMP_KEY, setup.c_str(), skipLength, 1), 1);
        const int32_t calls = Sys_FileCalls() - before;
        ASSERT_EQ(calls, 6) << "open, length, three reads, close";
        TakeLog();
        std::string passed; // one letter a call: 'p' passed, '-' failed
        for (int32_t nth = 1; nth <= calls; nth++) {
            Sys_FileFailAt(nth);
            int result =
                Core_VerifyStampRecord(record, CORE_STAMP_KEY, setup.c_str(), skipLength, 1);
            Sys_FileFailAt(0);
            passed += result ? 'p' : '-';
            EXPECT_EQ(TakeLog(), nth == 1 ? "Couldn't open file '" + setup + "'!\n" : "") << nth;
        }
        EXPECT_EQ(passed, skipLength ? "-p---p" : "-----p");
        MemStats stats;
        Mem_GetStats(&stats);
        EXPECT_EQ(stats.blockCount, 0);
    }
}

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
    // Signed, the signature, the stamp, the one entry and the archive.
    ASSERT_EQ(report.size(), 5u);
#if defined(_WIN32) // the builder without libcrypto
    EXPECT_EQ(report[1], "signature: NOT CHECKED: this build of ffspack has no OpenSSL libcrypto "
                         "(the Linux builder checks signatures)");
#else
    EXPECT_EQ(report[1], "signature: FAILED: the certificate table's record at byte 0 claims "
                         "1128481603 bytes, and the table has 1000 from there");
#endif
    EXPECT_EQ(report[2], intact);
    EXPECT_EQ(report[3].substr(0, 6), "entry ") << report[3];
    EXPECT_EQ(report[4], "archive: 1 entries, 0 unreadable");
}

} // namespace
