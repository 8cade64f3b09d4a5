// A setup's version information: the numbers read from a version text at their bounds (65535
// and 65536, four numbers and a fifth), the texts the script gives as the setup keeps them
// (the last one, a refused name, a cut version; missing ones), the block's texts of every small
// length and outside ASCII read back, the largest block and the smallest refused, the resource
// put into an image once however often it is put, and a whole build from a PE stub that list,
// verify and the setup's own image-end reader still read.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "pe-resources.h"
#include "script-source.h"
#include "tessel-bytes.h"
#include "tessel-pe.h"
#include "tessel-stamp.h"
#include "test-support.h"
#include "version-resource.h"

using testing_support::MakePeImage;
using testing_support::MakeTempDir;
using testing_support::ReadFile;

namespace {

typedef std::vector<std::pair<std::string, std::string>> Strings;

std::string Dotted(const uint16_t *numbers) {
    return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
           std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
}

TEST(VersionNumbers, AreReadFromTheTextsStartWithinTheirBounds) {
    struct {
        const char *text;
        bool accepted, found;
        const char *numbers; // or the words of the refusal
    } rows[] = {
        {"1.3", true, true, "1.3.0.0"},
        {"1.3 beta", true, true, "1.3.0.0"},
        {"2.0.15-rc1", true, true, "2.0.15.0"},
        {"65535.65535.65535.65535", true, true, "65535.65535.65535.65535"},
        {"007.1", true, true, "7.1.0.0"},
        {"1.", true, true, "1.0.0.0"},
        {"1..2", true, true, "1.0.0.0"},
        {"1.2.3.4 build 5", true, true, "1.2.3.4"},
        {"beta 2", true, false, "0.0.0.0"},
        {"", true, false, "0.0.0.0"},
        {"65536", false, false, "65536 is too large"},
        {"1.2.3.65536", false, false, "65536 is too large"},
        {"1.99999999999999999999", false, false, "99999999999999999999 is too large"},
        {"1.2.3.4.5", false, false, "a fifth number"},
    };
    for (const auto &row : rows) {
        uint16_t numbers[VERSION_PARTS] = {9, 9, 9, 9};
        bool found = false;
        std::string error;
        ASSERT_EQ(VersionRes_ParseNumbers(row.text, numbers, &found, &error), row.accepted)
            << row.text;
        if (!row.accepted) {
            EXPECT_NE(error.find(std::string("\"") + row.text + "\": " + row.numbers),
                      std::string::npos)
                << error;
            EXPECT_NE(error.find("at most four numbers from 0 to 65535"), std::string::npos);
            continue;
        }
        EXPECT_EQ(found, row.found) << row.text;
        EXPECT_EQ(Dotted(numbers), row.numbers) << row.text;
    }
}

PackBytes Compiled(const std::string &source) {
    PackBytes script;
    std::string error;
    EXPECT_TRUE(Script_Compile(source, "setup.txt", &script, &error)) << error;
    return script;
}

TEST(VersionFromScript, TakesTheNamesAsTheSetupKeepsThem) {
    const std::string long159(159, 'n'), long160(160, 'n'),
        version200 = "4.5." + std::string(196, 'x');
    struct {
        std::string source;
        Strings strings;
        const char *version;
    } rows[] = {
        {"COMPANY NAME:Bramble Software\nPRODUCT NAME:Bramble Notes\nPRODUCT VERSION:1.3\n",
         {{"CompanyName", "Bramble Software"},
          {"FileDescription", "Bramble Notes 1.3 Setup"},
          {"FileVersion", "1.3"},
          {"ProductName", "Bramble Notes"},
          {"ProductVersion", "1.3"}},
         "1.3.0.0"},
        // No version: none in the texts, 0.0.0.0 in the numbers.
        {"PRODUCT NAME:Bramble Notes\n",
         {{"FileDescription", "Bramble Notes Setup"}, {"ProductName", "Bramble Notes"}},
         "0.0.0.0"},
        {"INSTALL SIZE:5\n", {{"FileDescription", "Setup"}}, "0.0.0.0"},
        // The last of each wins; a name the setup refuses (160 characters) leaves the one
        // before, a name of 159 is kept.
        {"PRODUCT NAME:Old\nPRODUCT NAME:New\nCOMPANY NAME:" + long159 +
             "\nCOMPANY NAME:" + long160 + "\n",
         {{"CompanyName", long159}, {"FileDescription", "New Setup"}, {"ProductName", "New"}},
         "0.0.0.0"},
        // A version of 200 characters is cut to 159, as the setup cuts it.
        {"PRODUCT VERSION:" + version200 + "\n",
         {{"FileDescription", version200.substr(0, 159) + " Setup"},
          {"FileVersion", version200.substr(0, 159)},
          {"ProductVersion", version200.substr(0, 159)}},
         "4.5.0.0"},
    };
    for (const auto &row : rows) {
        VersionInfo info;
        PackNotes notes;
        std::string error;
        PackBytes script = Compiled(row.source);
        ASSERT_TRUE(VersionRes_FromScript(script, &info, &notes, &error)) << error;
        EXPECT_EQ(info.strings, row.strings) << row.source;
        EXPECT_EQ(Dotted(info.fileVersion), row.version);
        EXPECT_EQ(Dotted(info.productVersion), row.version);
        EXPECT_TRUE(notes.empty());
    }
}

TEST(VersionFromScript, AVersionWithoutNumbersGivesZerosAndANote) {
    VersionInfo info;
    PackNotes notes;
    std::string error;
    ASSERT_TRUE(VersionRes_FromScript(Compiled("PRODUCT VERSION:beta\n"), &info, &notes, &error));
    EXPECT_EQ(Dotted(info.fileVersion), "0.0.0.0");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "PRODUCT VERSION \"beta\" begins with no number: the setup's numeric "
                        "file version is 0.0.0.0");
}

VersionInfo Info(const Strings &strings) {
    VersionInfo info{};
    info.fileVersion[0] = 1;
    info.fileVersion[3] = 65535;
    info.productVersion[1] = 2;
    info.strings = strings;
    return info;
}

VersionInfo RoundTrip(const VersionInfo &info) {
    PackBytes block;
    std::string error;
    VersionInfo back;
    EXPECT_TRUE(VersionRes_Encode(info, &block, &error)) << error;
    EXPECT_EQ(block.size() % 2, 0u);
    EXPECT_TRUE(VersionRes_Decode(block, &back, &error)) << error;
    return back;
}

TEST(VersionBlock, TextsOfEveryLengthAndScriptReadBack) {
    Strings strings;
    for (size_t length = 0; length <= 6; length++) // odd and even, each padding to 4
        strings.emplace_back("K" + std::string(length, 'k'), std::string(length, 'v'));
    strings.emplace_back("ProductName", "Zo\xC3\xAB \xE8\xA8\x98\xE4\xBA\x8B \xF0\x9F\x98\x80");
    strings.emplace_back("CompanyName", "\xC3\x9C");
    VersionInfo back = RoundTrip(Info(strings));
    EXPECT_EQ(back.strings, strings);
    EXPECT_EQ(Dotted(back.fileVersion), "1.0.0.65535");
    EXPECT_EQ(Dotted(back.productVersion), "0.2.0.0");
}

TEST(VersionBlock, RefusesTextThatIsNoUtf8) {
    for (const char *bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"}) {
        PackBytes block;
        std::string error;
        EXPECT_FALSE(VersionRes_Encode(Info({{"CompanyName", bad}}), &block, &error));
        EXPECT_NE(error.find("is no UTF-8"), std::string::npos) << error;
    }
}

TEST(VersionBlock, TheLargestBlockIsKeptTheNextRefused) {
    // A block's length is 16 bits: one text of 32639 characters makes the whole 65532 bytes;
    // one more would make it 65536 (the text's block grows by 2, and the one behind it moves
    // to the next multiple of 4).
    PackBytes block;
    std::string error;
    ASSERT_TRUE(
        VersionRes_Encode(Info({{"CompanyName", std::string(32639, 'a')}}), &block, &error));
    EXPECT_EQ(block.size(), 65532u);
    EXPECT_EQ(Le_Get16(block.data()), 65532u);
    EXPECT_FALSE(
        VersionRes_Encode(Info({{"CompanyName", std::string(32640, 'a')}}), &block, &error));
    EXPECT_NE(error.find("would be 65536 bytes; a block holds at most 65535"), std::string::npos)
        << error;
}

TEST(VersionBlock, DamagedBlocksAreRefused) {
    PackBytes block;
    std::string error;
    ASSERT_TRUE(VersionRes_Encode(Info({{"CompanyName", "Acme"}}), &block, &error));
    VersionInfo info;
    for (size_t cut : {(size_t)0, (size_t)5, (size_t)40, block.size() - 2}) {
        PackBytes shorter(block.begin(), block.begin() + (long)cut);
        EXPECT_FALSE(VersionRes_Decode(shorter, &info, &error)) << cut;
    }
    PackBytes unsigned_ = block;
    unsigned_[40] ^= 1; // the fixed part's signature
    EXPECT_FALSE(VersionRes_Decode(unsigned_, &info, &error));
}

PackBytes Image() { return MakePeImage("code"); }

TEST(VersionInImage, IsPutOnceHoweverOftenAndWhateverTheImageHeld) {
    for (bool withTree : {false, true}) {
        PackBytes image = Image();
        std::string error;
        if (withTree) {
            // A program's own version resource, of another language, and its icon.
            PeResource icon{{false, 3, {}},      {false, 1, {}}, {false, 0, {}}, 0, 4, 0,
                            {'I', 'C', 'O', 'N'}};
            PeResource own = icon;
            own.type.id = PERES_TYPE_VERSION;
            own.language.id = 0x0407;
            ASSERT_TRUE(VersionRes_Encode(Info({{"ProductName", "Stub"}}), &own.data, &error));
            ASSERT_TRUE(PeRes_Write(&image, {icon, own}, &error)) << error;
        }
        VersionInfo info;
        EXPECT_EQ(VersionRes_Read(image, &info, &error), withTree ? 1 : 0);
        for (const char *product : {"First", "Second"}) {
            PackBytes block;
            ASSERT_TRUE(VersionRes_Encode(Info({{"ProductName", product}}), &block, &error));
            ASSERT_TRUE(VersionRes_Put(&image, block, &error)) << error;
        }
        ASSERT_EQ(VersionRes_Read(image, &info, &error), 1) << error;
        EXPECT_EQ(info.strings, (Strings{{"ProductName", "Second"}}));
        std::vector<PeResource> resources;
        ASSERT_TRUE(PeRes_Read(image, &resources, &error));
        EXPECT_EQ(resources.size(), withTree ? 2u : 1u) << "the icon kept, one version";
    }
}

TEST(VersionInImage, TwoVersionResourcesAreReportedAsDamage) {
    PackBytes image = Image();
    std::string error;
    PeResource version{
        {false, PERES_TYPE_VERSION, {}}, {false, 1, {}}, {false, 0, {}}, 0, 0, 0, {}};
    ASSERT_TRUE(VersionRes_Encode(Info({}), &version.data, &error));
    PeResource second = version;
    second.language.id = 1033;
    ASSERT_TRUE(PeRes_Write(&image, {version, second}, &error));
    VersionInfo info;
    EXPECT_EQ(VersionRes_Read(image, &info, &error), -1);
    EXPECT_EQ(error, "2 version resources; a setup has one");
}

TEST(VersionInSetup, ABuildFromAPeStubCarriesItAndStillVerifies) {
    Mem_Init(MEM_NO_LIMIT, 0); // the codec's tables
    const std::string dir = MakeTempDir("version-build");
    PackBytes stub = MakePeImage("code " + std::string(CORE_STAMP_UNSET, CORE_STAMP_SIZE) + "more");
    ASSERT_TRUE(
        testing_support::WriteFile(dir + "stub.exe", std::string(stub.begin(), stub.end())));
    const std::string script = "COMPANY NAME:Bramble Software\nPRODUCT NAME:Bramble Notes\n"
                               "PRODUCT VERSION:1.3\n";
    std::vector<PackInput> inputs = {{"install.dat", Compiled(script)},
                                     {"readme.txt", PackBytes(40, 'r')}};
    PackNotes notes;
    std::string error;
    ASSERT_TRUE(Pack_BuildSetup(dir + "stub.exe", inputs, PACK_DEFAULT_FLAGS, dir + "setup.exe",
                                &error, &notes))
        << error;
    std::string setup = ReadFile(dir + "setup.exe");
    PackBytes file(setup.begin(), setup.end());
    VersionInfo info;
    ASSERT_EQ(VersionRes_Read(file, &info, &error), 1) << error;
    EXPECT_EQ(info.strings[1],
              (std::pair<std::string, std::string>{"FileDescription", "Bramble Notes 1.3 Setup"}));
    // The archive begins where the image ends, as the setup finds out whether it was built.
    uint32_t imageEnd = 0;
    ASSERT_EQ(Pe_ReadImageEnd(file.data(), PE_HEAD_SIZE, &imageEnd), 1);
    EXPECT_EQ(Le_Get32(&file[file.size() - 4]), imageEnd);
    std::vector<std::string> report;
    EXPECT_TRUE(Pack_Verify(dir + "setup.exe", &report));
    // A version the file version cannot hold refuses the build; nothing is written.
    inputs[0].data = Compiled("PRODUCT VERSION:1.70000\n");
    EXPECT_FALSE(Pack_BuildSetup(dir + "stub.exe", inputs, PACK_DEFAULT_FLAGS, dir + "bad.exe",
                                 &error, &notes));
    EXPECT_NE(error.find("70000 is too large"), std::string::npos) << error;
    EXPECT_FALSE(testing_support::FileExists(dir + "bad.exe"));
    // A stub that is no PE image (the stand-ins of other tests) gets none.
    PackBytes standIn = {'M', 'Z', 'x'};
    EXPECT_TRUE(VersionRes_AddToStub(&standIn, inputs, PACK_DEFAULT_FLAGS, &error, &notes));
    EXPECT_EQ(standIn, (PackBytes{'M', 'Z', 'x'}));
}

} // namespace
