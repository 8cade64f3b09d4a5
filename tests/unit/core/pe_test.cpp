// The two places of an image that signing rewrites: the checksum and the security entry read
// from PE32 and PE32+ headers, every refusal with the bound it keeps (each head handed over in
// a buffer of exactly its size, so a read past it is a sanitizer's error), the signed-file test
// at the end of the file, and where the sections' file data ends (a file with nothing behind).
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "tessel-pe.h"
#include "test-support.h"

using testing_support::MakeTempDir;
using testing_support::PeHeader;
using testing_support::PeHeaderBytes;
using testing_support::WriteFile;

namespace {

// The first size bytes of bytes (zeros behind them when it is shorter), in a buffer of their own
// (of one byte for none: the reader takes no null pointer).
std::vector<uint8_t> Head(const std::string &bytes, size_t size) {
    std::vector<uint8_t> head(size > 0 ? size : 1, 0);
    for (size_t i = 0; i < size && i < bytes.size(); i++) head[i] = (uint8_t)bytes[i];
    return head;
}

int Read(const std::string &bytes, size_t size, PeSignature *signature) {
    std::vector<uint8_t> head = Head(bytes, size);
    return Pe_ReadSignature(head.data(), (int32_t)size, signature);
}

PeHeader Header(uint16_t magic, uint32_t newHeaderAt = 64) {
    PeHeader header;
    header.magic = magic;
    header.newHeaderAt = newHeaderAt;
    header.checksum = 0xC0FFEE01;
    header.tableOffset = 0x00012340;
    header.tableSize = 0x00000A28;
    return header;
}

TEST(PeRead, FindsTheChecksumAndTheSecurityEntryOfBothKinds) {
    struct {
        const char *label;
        PeHeader header;
        int32_t checksumOffset, entryOffset;
    } rows[] = {
        {"PE32", Header(0x10B), 64 + 24 + 64, 64 + 24 + 96 + 32},
        {"PE32+", Header(0x20B), 64 + 24 + 64, 64 + 24 + 112 + 32},
        {"PE32 further on", Header(0x10B, 0x100), 0x100 + 88, 0x100 + 152},
        {"PE32+ further on", Header(0x20B, 0x100), 0x100 + 88, 0x100 + 168},
    };
    for (auto &row : rows) {
        std::string bytes = PeHeaderBytes(row.header);
        PeSignature signature;
        ASSERT_EQ(Read(bytes, bytes.size(), &signature), 1) << row.label;
        EXPECT_EQ(signature.ChecksumOffset, row.checksumOffset) << row.label;
        EXPECT_EQ(signature.EntryOffset, row.entryOffset) << row.label;
        EXPECT_EQ(signature.TableOffset, 0x00012340u) << row.label;
        EXPECT_EQ(signature.TableSize, 0x00000A28u) << row.label;
        // The kit's image writer agrees: the tests that sign setups write there.
        EXPECT_EQ(row.header.ChecksumAt(), (uint32_t)row.checksumOffset) << row.label;
        EXPECT_EQ(row.header.EntryAt(), (uint32_t)row.entryOffset) << row.label;
    }
}

TEST(PeRead, RefusesWhatIsNoImageWithASecurityEntry) {
    const std::string pe32 = PeHeaderBytes(Header(0x10B));
    auto changed = [](std::string bytes, size_t at, char value) {
        bytes[at] = value;
        return bytes;
    };
    auto withCount = [](uint16_t magic, uint32_t count) {
        PeHeader header = Header(magic);
        header.directoryCount = count;
        return PeHeaderBytes(header);
    };
    auto withMagic = [](uint16_t magic) {
        std::string bytes = PeHeaderBytes(Header(0x10B));
        bytes[64 + 24] = (char)(magic & 0xFF);
        bytes[64 + 24 + 1] = (char)(magic >> 8);
        return bytes;
    };
    auto withNewHeaderAt = [&](uint32_t at) {
        std::string bytes = pe32;
        for (int i = 0; i < 4; i++) bytes[0x3C + i] = (char)(at >> (8 * i));
        return bytes;
    };
    struct {
        const char *label;
        std::string bytes;
        int accepted;
    } rows[] = {
        {"as made", pe32, 1},
        {"no M", changed(pe32, 0, 'N'), 0},
        {"no Z", changed(pe32, 1, 'M'), 0},
        {"PF", changed(pe32, 64 + 1, 'F'), 0},
        {"PE with a third byte", changed(pe32, 64 + 2, 1), 0},
        {"PE with a fourth byte", changed(pe32, 64 + 3, 1), 0},
        {"magic 0", withMagic(0), 0},
        {"magic 0x107 (ROM)", withMagic(0x107), 0},
        {"magic 0x10C", withMagic(0x10C), 0},
        {"magic 0x30B", withMagic(0x30B), 0},
        {"PE32 with 4 directories", withCount(0x10B, 4), 0},
        {"PE32 with 5 directories", withCount(0x10B, 5), 1},
        {"PE32 with none", withCount(0x10B, 0), 0},
        {"PE32+ with 4 directories", withCount(0x20B, 4), 0},
        {"PE32+ with 5 directories", withCount(0x20B, 5), 1},
        {"new header at 2^31", withNewHeaderAt(0x80000000u), 0},
        {"new header at 2^32 - 1", withNewHeaderAt(0xFFFFFFFFu), 0},
        {"new header past the head", withNewHeaderAt((uint32_t)pe32.size()), 0},
    };
    for (auto &row : rows) {
        PeSignature signature;
        EXPECT_EQ(Read(row.bytes, row.bytes.size(), &signature), row.accepted) << row.label;
    }
}

// The security entry of a PE32 image ends 160 bytes behind the new header, of a PE32+ one 176:
// that is the last new header a head of the given size holds.
TEST(PeRead, TheNewHeaderMustLieWithItsEntryInsideTheHead) {
    struct {
        uint16_t magic;
        uint32_t newHeaderAt;
        size_t headSize;
        int accepted;
    } rows[] = {
        {0x10B, 64, 224, 1},
        {0x10B, 64, 223, 0}, // a head too short by one byte
        {0x20B, 64, 240, 1},
        {0x20B, 64, 239, 0},
        {0x10B, PE_HEAD_SIZE - 160, PE_HEAD_SIZE, 1},
        {0x10B, PE_HEAD_SIZE - 159, PE_HEAD_SIZE, 0},
        {0x20B, PE_HEAD_SIZE - 176, PE_HEAD_SIZE, 1},
        {0x20B, PE_HEAD_SIZE - 175, PE_HEAD_SIZE, 0},
        // The signature and the magic at the head's very end, the entry beyond it.
        {0x10B, PE_HEAD_SIZE - 26, PE_HEAD_SIZE, 0},
        {0x10B, PE_HEAD_SIZE - 25, PE_HEAD_SIZE, 0},
        {0x10B, PE_HEAD_SIZE - 4, PE_HEAD_SIZE, 0},
    };
    for (auto &row : rows) {
        PeSignature signature;
        std::string bytes = PeHeaderBytes(Header(row.magic, row.newHeaderAt));
        EXPECT_EQ(Read(bytes, row.headSize, &signature), row.accepted)
            << std::hex << row.magic << std::dec << " at " << row.newHeaderAt << " in "
            << row.headSize;
    }
    // Too short to hold the new header's offset at all.
    const std::string pe32 = PeHeaderBytes(Header(0x10B));
    for (size_t size : {(size_t)0, (size_t)2, (size_t)63}) {
        PeSignature signature;
        EXPECT_EQ(Read(pe32, size, &signature), 0) << size;
    }
}

// The machine field lies in the file header: a head that holds the new header with the optional
// header's magic (26 bytes behind it) is read whatever follows.
TEST(PeRead, MachineOfTheFileHeader) {
    std::string amd64 = PeHeaderBytes(Header(0x20B));
    amd64[64 + 4] = 0x64, amd64[64 + 5] = (char)0x86;
    const std::string i386 = PeHeaderBytes(Header(0x10B));
    struct {
        const char *label;
        std::string bytes;
        size_t headSize;
        int read;
        uint16_t machine;
    } rows[] = {
        {"i386", i386, i386.size(), 1, PE_MACHINE_I386},
        {"x86-64", amd64, amd64.size(), 1, PE_MACHINE_AMD64},
        {"head ends behind the magic", i386, 64 + 26, 1, PE_MACHINE_I386},
        {"head one byte shorter", i386, 64 + 25, 0, 0},
        {"no MZ", "MX" + i386.substr(2), i386.size(), 0, 0},
        {"no PE", i386.substr(0, 64) + "PX" + i386.substr(66), i386.size(), 0, 0},
    };
    for (auto &row : rows) {
        std::vector<uint8_t> head = Head(row.bytes, row.headSize);
        uint16_t machine = 0xFFFF;
        EXPECT_EQ(Pe_ReadMachine(head.data(), (int32_t)row.headSize, &machine), row.read)
            << row.label;
        EXPECT_EQ(machine, row.machine) << row.label;
    }
}

TEST(PeSigned, TheTableMustEndExactlyAtTheEndOfTheFile) {
    struct {
        uint32_t tableOffset, tableSize;
        int64_t fileLength;
        int isSigned;
    } rows[] = {
        {1000, 200, 1200, 1},
        {1000, 200, 1199, 0}, // a table cut short
        {1000, 200, 1201, 0}, // a byte behind it
        {0, 200, 200, 0},     // no table named
        {1000, 0, 1000, 0},   // an empty one
        {0xFFFFFFFF, 0xFFFFFFFF, 0x1FFFFFFFELL, 1},
        {0xFFFFFFFF, 1, 0, 0}, // its end wraps in 32 bits
    };
    for (auto &row : rows) {
        PeSignature signature = {152, 216, row.tableOffset, row.tableSize};
        EXPECT_EQ(Pe_IsSigned(&signature, row.fileLength), row.isSigned)
            << row.tableOffset << "+" << row.tableSize << " in " << row.fileLength;
    }
}

TEST(PeSigned, FileSignatureReadsTheHeadAndTheLengthOfTheFile) {
    const std::string dir = MakeTempDir("pe");
    const std::string table(200, 'C');
    auto signedImage = [&](uint32_t newHeaderAt) {
        PeHeader header = Header(0x10B, newHeaderAt);
        std::string bytes = PeHeaderBytes(header) + std::string(900, '#');
        header.tableOffset = (uint32_t)bytes.size();
        header.tableSize = (uint32_t)table.size();
        return PeHeaderBytes(header) + std::string(900, '#') + table;
    };
    struct {
        const char *label;
        std::string bytes;
        int isSigned;
        int64_t fileLength;
        int32_t entryOffset; // 0: no image read
    } rows[] = {
        {"signed", signedImage(64), 1, 64 + 248 + 900 + 200, 64 + 152},
        {"a byte behind the table", signedImage(64) + "x", 0, 64 + 248 + 900 + 201, 64 + 152},
        {"headers at the end of the head", signedImage(PE_HEAD_SIZE - 160), 1,
         PE_HEAD_SIZE - 160 + 248 + 900 + 200, PE_HEAD_SIZE - 160 + 152},
        {"headers beyond the head", signedImage(PE_HEAD_SIZE - 159), 0,
         PE_HEAD_SIZE - 159 + 248 + 900 + 200, 0},
        {"no image", std::string(300, 'M'), 0, 300, 0},
        {"empty", "", 0, 0, 0},
    };
    for (auto &row : rows) {
        std::string path = dir + "image.exe";
        ASSERT_TRUE(WriteFile(path, row.bytes));
        PeSignature signature;
        int64_t fileLength = -1;
        EXPECT_EQ(Pe_FileSignature(path.c_str(), &signature, &fileLength), row.isSigned)
            << row.label;
        EXPECT_EQ(fileLength, row.fileLength) << row.label;
        EXPECT_EQ(signature.EntryOffset, row.entryOffset) << row.label;
    }
    PeSignature signature;
    int64_t fileLength = -1;
    EXPECT_EQ(Pe_FileSignature((dir + "missing.exe").c_str(), &signature, &fileLength), 0);
    EXPECT_EQ(fileLength, 0);
}

// The headers of the kit with a section table behind them (where the optional header's size
// says it begins): each section's file offset and size of its file data.
struct Section {
    uint32_t at, size;
};

std::string WithSections(const PeHeader &header, const std::vector<Section> &sections) {
    std::string bytes = PeHeaderBytes(header);
    bytes[header.newHeaderAt + 6] = (char)(sections.size() & 0xFF);
    bytes[header.newHeaderAt + 7] = (char)(sections.size() >> 8);
    for (const Section &section : sections) {
        std::string entry(PE_SECTION_SIZE, '\0');
        entry.replace(0, 6, ".text\0", 6);
        for (int i = 0; i < 4; i++) {
            entry[16 + i] = (char)(section.size >> (8 * i));
            entry[20 + i] = (char)(section.at >> (8 * i));
        }
        bytes += entry;
    }
    return bytes;
}

TEST(PeImageEnd, TheEndOfTheFileDataOfItsLastSection) {
    const PeHeader pe32 = Header(0x10B), pe32plus = Header(0x20B);
    struct {
        const char *label;
        PeHeader header;
        std::vector<Section> sections;
        int read;
        uint32_t imageEnd;
    } rows[] = {
        {"one section", pe32, {{1024, 4096}}, 1, 5120},
        {"PE32+", pe32plus, {{1024, 4096}}, 1, 5120},
        {"the stub's kind", pe32, {{1024, 47104}, {48128, 512}, {0, 0}, {67072, 3072}}, 1, 70144},
        {"not in the file's order", pe32, {{9000, 100}, {1024, 2000}}, 1, 9100},
        {"no file data behind the last", pe32, {{1024, 512}, {0, 0}, {99999, 0}}, 1, 1536},
        {"ending at 2^32 - 1", pe32, {{0xFFFFFF00u, 0xFF}}, 1, 0xFFFFFFFFu},
        {"ending at 2^32", pe32, {{0xFFFFFF00u, 0x100}}, 0, 0},
        {"no sections", pe32, {}, 0, 0},
        {"none with file data", pe32, {{0, 0}, {4096, 0}}, 0, 0},
    };
    for (auto &row : rows) {
        std::string bytes = WithSections(row.header, row.sections);
        std::vector<uint8_t> head = Head(bytes, bytes.size());
        uint32_t imageEnd = 1;
        EXPECT_EQ(Pe_ReadImageEnd(head.data(), (int32_t)head.size(), &imageEnd), row.read)
            << row.label;
        EXPECT_EQ(imageEnd, row.imageEnd) << row.label;
    }
}

// The section table is read only where it lies whole inside the head.
TEST(PeImageEnd, TheSectionTableMustLieInsideTheHead) {
    const std::string bytes = WithSections(Header(0x10B), {{1024, 512}, {1536, 512}});
    struct {
        const char *label;
        std::string bytes;
        size_t headSize;
        int read;
    } rows[] = {
        {"whole", bytes, bytes.size(), 1},
        {"its last byte missing", bytes, bytes.size() - 1, 0},
        {"its last section missing", bytes, bytes.size() - PE_SECTION_SIZE, 0},
        {"no MZ", "MX" + bytes.substr(2), bytes.size(), 0},
        {"no PE", bytes.substr(0, 64) + "PX" + bytes.substr(66), bytes.size(), 0},
    };
    for (auto &row : rows) {
        std::vector<uint8_t> head = Head(row.bytes, row.headSize);
        uint32_t imageEnd = 1;
        EXPECT_EQ(Pe_ReadImageEnd(head.data(), (int32_t)row.headSize, &imageEnd), row.read)
            << row.label;
        EXPECT_EQ(imageEnd, row.read ? 2048u : 0u) << row.label;
    }
}

// A file is bare when it ends exactly where its image does: a byte more or less is not.
TEST(PeImageEnd, AFileIsBareOnlyAtExactlyItsImageEnd) {
    const std::string dir = MakeTempDir("pe-bare");
    std::string image = WithSections(Header(0x10B), {{1024, 512}, {0, 0}});
    image.resize(1536, 'I');
    struct {
        const char *label;
        std::string bytes;
        int bare;
    } rows[] = {
        {"the image", image, 1},
        {"a byte appended", image + "x", 0},
        {"a trailer appended", image + std::string(4, '\0'), 0},
        {"its last byte cut", image.substr(0, 1535), 0},
        {"no image", std::string(1536, 'M'), 0},
        {"empty", "", 0},
    };
    for (auto &row : rows) {
        std::string path = dir + "setup.exe";
        ASSERT_TRUE(WriteFile(path, row.bytes));
        EXPECT_EQ(Pe_FileIsBareImage(path.c_str()), row.bare) << row.label;
    }
    EXPECT_EQ(Pe_FileIsBareImage((dir + "missing.exe").c_str()), 0);
}

} // namespace
