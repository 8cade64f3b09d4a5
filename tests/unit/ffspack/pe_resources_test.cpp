// The builder's resource tree writer on small images laid out as a linker lays them out: a tree
// added to an image without one, a tree in the last section replaced in place, a tree before
// other sections left where it is with a new one behind them; the headers that follow (section
// count, image size, where the setup finds the image's end); the refusals with the bound each
// keeps (room for a section header, within the headers that the setup reads; bytes behind the
// image; a damaged tree).
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "pe-resources.h"
#include "tessel-bytes.h"
#include "tessel-pe.h"
#include "test-support.h"

using testing_support::AppendPeSection;
using testing_support::MakePeImage;

namespace {

typedef std::vector<uint8_t> Bytes;

PeResName Id(uint16_t id) { return PeResName{false, id, {}}; }
PeResName Named(const std::u16string &text) { return PeResName{true, 0, text}; }

PeResource Resource(PeResName type, PeResName name, uint16_t language, const std::string &data) {
    PeResource resource{type, name, Id(language), 0, 0, 0, Bytes(data.begin(), data.end())};
    resource.size = (uint32_t)data.size();
    return resource;
}

// The resources of a linked program: a manifest, a named dialog, two icons.
std::vector<PeResource> Program() {
    return {Resource(Id(24), Id(1), 1033, "<assembly/>"),
            Resource(Id(5), Named(u"SETUPDIALOG"), 1033, "dialog template"),
            Resource(Id(3), Id(2), 1033, "second icon"), Resource(Id(3), Id(1), 0, "first icon")};
}

uint32_t SectionCount(const Bytes &image) { return Le_Get16(&image[Le_Get32(&image[0x3C]) + 6]); }

uint32_t ImageEnd(const Bytes &image) {
    uint32_t end = 0;
    EXPECT_EQ(
        Pe_ReadImageEnd(image.data(), (int32_t)std::min<size_t>(image.size(), PE_HEAD_SIZE), &end),
        1);
    return end;
}

// (type, name, language, bytes) of every resource of image, in the tree's order.
std::vector<std::string> Listing(const Bytes &image) {
    std::vector<PeResource> resources;
    std::string error;
    EXPECT_TRUE(PeRes_Read(image, &resources, &error)) << error;
    std::vector<std::string> rows;
    for (const PeResource &resource : resources) {
        Bytes data;
        EXPECT_TRUE(PeRes_Data(image, resource, &data, &error)) << error;
        auto name = [](const PeResName &n) {
            return n.named ? std::string(n.text.begin(), n.text.end()) : std::to_string(n.id);
        };
        rows.push_back(name(resource.type) + "/" + name(resource.name) + "/" +
                       name(resource.language) + "=" + std::string(data.begin(), data.end()));
    }
    return rows;
}

const std::vector<std::string> kProgramListing = {"3/1/0=first icon", "3/2/1033=second icon",
                                                  "5/SETUPDIALOG/1033=dialog template",
                                                  "24/1/1033=<assembly/>"};

TEST(PeResources, AnImageWithoutATreeGetsASectionAtItsEnd) {
    for (uint16_t magic : {0x10B, 0x20B}) {
        Bytes image = MakePeImage(std::string(700, 'x'), magic);
        std::string error;
        ASSERT_TRUE(PeRes_Write(&image, Program(), &error)) << error;
        EXPECT_EQ(SectionCount(image), 2u);
        EXPECT_EQ(ImageEnd(image), image.size()) << "nothing behind the image";
        EXPECT_EQ(image.size() % 0x200, 0u);
        EXPECT_EQ(Listing(image), kProgramListing) << "in the order a loader searches";
        EXPECT_EQ(std::string(image.begin() + 0x400, image.begin() + 0x400 + 700),
                  std::string(700, 'x'));
    }
}

TEST(PeResources, ATreeInTheLastSectionIsReplacedInPlace) {
    Bytes image = MakePeImage("code");
    std::string error;
    ASSERT_TRUE(PeRes_Write(&image, Program(), &error)) << error;
    std::vector<PeResource> resources;
    ASSERT_TRUE(PeRes_Read(image, &resources, &error));
    resources.push_back(Resource(Id(16), Id(1), 1033, "a version block"));
    resources.erase(resources.begin()); // the first icon goes
    ASSERT_TRUE(PeRes_Write(&image, resources, &error)) << error;
    EXPECT_EQ(SectionCount(image), 2u) << "the section replaced, none added";
    EXPECT_EQ(ImageEnd(image), image.size());
    EXPECT_EQ(Listing(image), (std::vector<std::string>{
                                  "3/2/1033=second icon", "5/SETUPDIALOG/1033=dialog template",
                                  "16/1/1033=a version block", "24/1/1033=<assembly/>"}));
}

TEST(PeResources, ATreeBeforeOtherSectionsStaysAndANewOneFollowsThem) {
    Bytes image = MakePeImage("code", 0x20B);
    std::string error;
    ASSERT_TRUE(PeRes_Write(&image, Program(), &error)) << error;
    AppendPeSection(&image, ".reloc", "relocations");
    std::vector<PeResource> before;
    ASSERT_TRUE(PeRes_Read(image, &before, &error));
    const size_t oldSize = image.size();
    Bytes oldSections(image.begin() + 0x400, image.end());
    std::vector<PeResource> resources = before;
    resources.push_back(Resource(Id(16), Id(1), 1033, "version"));
    ASSERT_TRUE(PeRes_Write(&image, resources, &error)) << error;
    EXPECT_EQ(SectionCount(image), 4u);
    EXPECT_EQ(ImageEnd(image), image.size());
    EXPECT_EQ(Bytes(image.begin() + 0x400, image.begin() + oldSize), oldSections)
        << "the sections before stay byte for byte";
    std::vector<PeResource> after;
    ASSERT_TRUE(PeRes_Read(image, &after, &error));
    ASSERT_EQ(after.size(), 5u);
    for (const PeResource &old : before) {
        bool kept = false;
        for (const PeResource &now : after)
            kept = kept || (now.rva == old.rva && now.size == old.size);
        EXPECT_TRUE(kept) << "read where it was";
    }
    std::vector<std::string> expected = kProgramListing;
    expected.insert(expected.begin() + 3, "16/1/1033=version");
    EXPECT_EQ(Listing(image), expected);
    // The image end and the size of the image in memory follow the new section.
    const uint32_t optional = Le_Get32(&image[0x3C]) + 24;
    EXPECT_GE(Le_Get32(&image[optional + 56]), (uint32_t)0x5000);
}

TEST(PeResources, ASectionHeaderNeedsRoomInsideTheHeadersTheSetupReads) {
    // One section header ends at newHeaderAt + 24 + 224 + 40; the new one must end by 1024.
    struct {
        uint32_t newHeaderAt;
        bool fits;
    } rows[] = {{1024 - 24 - 224 - 80, true}, {1024 - 24 - 224 - 80 + 1, false}};
    for (const auto &row : rows) {
        Bytes image = MakePeImage("code", 0x10B, row.newHeaderAt, 0x600);
        const Bytes before = image;
        std::string error;
        EXPECT_EQ(PeRes_Write(&image, Program(), &error), row.fits) << row.newHeaderAt;
        if (row.fits) continue;
        EXPECT_NE(error.find("no room for one more section header"), std::string::npos) << error;
        EXPECT_EQ(image, before) << "untouched";
    }
}

TEST(PeResources, TheNewHeaderMustLieBeforeTheFirstSectionsData) {
    // Headers end where the first section begins: room for exactly one more header, or one byte
    // less; a byte that is not zero there is taken as in use.
    const uint32_t tableEnd = 0x80 + 24 + 224 + 40;
    for (uint32_t headers : {tableEnd + 40, tableEnd + 39}) {
        Bytes image = MakePeImage("code", 0x10B, 0x80, headers);
        std::string error;
        EXPECT_EQ(PeRes_Write(&image, Program(), &error), headers == tableEnd + 40) << headers;
    }
    Bytes image = MakePeImage("code");
    image[tableEnd + 39] = 1;
    std::string error;
    EXPECT_FALSE(PeRes_Write(&image, Program(), &error));
}

TEST(PeResources, RefusesBytesBehindTheImageAndDamagedTrees) {
    Bytes image = MakePeImage("code");
    image.push_back('A'); // an archive, a signature: nothing may be lost
    const Bytes before = image;
    std::string error;
    EXPECT_FALSE(PeRes_Write(&image, Program(), &error));
    EXPECT_NE(error.find("1 bytes lie behind the image"), std::string::npos) << error;
    EXPECT_EQ(image, before);

    Bytes damaged = MakePeImage("code");
    ASSERT_TRUE(PeRes_Write(&damaged, Program(), &error));
    std::vector<PeResource> resources;
    // The root's first entry leads to a directory far beyond the section.
    const uint32_t optional = Le_Get32(&damaged[0x3C]) + 24;
    const uint32_t rootAt = 0x600; // the tree's section follows the one of ".text"
    ASSERT_EQ(Le_Get32(&damaged[optional + 96 + 16]), 0x2000u);
    Le_Put32(&damaged[rootAt + 16 + 4], 0x80000000u | 0x7FFF0);
    EXPECT_FALSE(PeRes_Read(damaged, &resources, &error));
    EXPECT_TRUE(resources.empty());
    // A section that claims more file data than the file holds: the tree is read up to the
    // file's end, never past it.
    Bytes claims = MakePeImage("code");
    ASSERT_TRUE(PeRes_Write(&claims, Program(), &error));
    const uint32_t treeHeader = Le_Get32(&claims[0x3C]) + 24 + 224 + 40;
    Le_Put32(&claims[treeHeader + 16], Le_Get32(&claims[treeHeader + 16]) + 0x10000);
    Le_Put32(&claims[rootAt + 16 + 4], 0x80000000u | (uint32_t)(claims.size() - rootAt - 8));
    EXPECT_FALSE(PeRes_Read(claims, &resources, &error));
    EXPECT_FALSE(PeRes_IsImage(Bytes{'M', 'Z', 0, 0}));
    // Headers without a section are no program (the stand-in stubs of the command's tests).
    const std::string headers = testing_support::PeHeaderBytes(testing_support::PeHeader());
    EXPECT_FALSE(PeRes_IsImage(Bytes(headers.begin(), headers.end())));
    EXPECT_TRUE(PeRes_IsImage(MakePeImage("code")));
    EXPECT_FALSE(PeRes_Read(Bytes(64, 0), &resources, &error));
}

} // namespace
