// The LZMA build's solid groups and files stored once: the plan's bounds (a group of at most one
// dictionary, items alone past it), the FILE LIST order read from the script, equal files found
// by their bytes, group names that never clash, and the archives made of them: every reference
// read back through the group or the file it names, the fallbacks, and the other codecs
// untouched.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "codec-test-data.h"
#include "ffs.h"
#include "pack-group.h"
#include "pack-lzma.h"
#include "pack.h"
#include "script-source.h"
#include "tessel-bytes.h"
#include "tessel-core.h"
#include "test-support.h"

using codec_test::Random;
using codec_test::Text;
using testing_support::MakeTempDir;
using testing_support::WriteFile;

namespace {

// An input of the plan alone: a file never read (the sizes differ), listed with size.
PackInput Listed(const std::string &name, uint64_t size, int32_t order) {
    PackInput input{name, {}, "/nonexistent/" + name, size};
    input.listOrder = order;
    return input;
}

PackInput InMemory(const std::string &name, const std::string &data, int32_t order = -1) {
    PackInput input{name, PackBytes(data.begin(), data.end())};
    input.listOrder = order;
    return input;
}

// The groups of inputs with no copies among them: each group's members' indices.
std::vector<std::vector<size_t>> GroupsOf(const std::vector<PackInput> &inputs,
                                          PackPlan *plan = nullptr) {
    PackPlan own;
    if (!plan) plan = &own;
    plan->copyOf.assign(inputs.size(), -1);
    Pack_GroupItems(inputs, PACK_DEFAULT_FLAGS, plan);
    std::vector<std::vector<size_t>> groups;
    for (const PackGroup &group : plan->groups) groups.push_back(group.members);
    return groups;
}

typedef std::vector<std::vector<size_t>> Groups;

TEST(PackGroup, AGroupHoldsAtMostOneDictionary) {
    const uint64_t limit = PACK_GROUP_LIMIT;
    EXPECT_EQ(limit, 4u << 20);
    // Exactly the limit is one group; one byte more starts a new one.
    EXPECT_EQ(GroupsOf({Listed("a", limit - 1, 0), Listed("b", 1, 1)}), (Groups{{0, 1}}));
    EXPECT_EQ(GroupsOf({Listed("a", limit - 1, 0), Listed("b", 2, 1)}), Groups{});
    EXPECT_EQ(GroupsOf({Listed("a", limit / 2, 0), Listed("b", limit / 2, 1), Listed("c", 1, 2),
                        Listed("d", 5, 3)}),
              (Groups{{0, 1}, {2, 3}}));
    // An item of the whole dictionary cannot share it; one larger stays alone and the items
    // around it gather on either side.
    for (uint64_t big : {limit, limit + 1}) {
        EXPECT_EQ(GroupsOf({Listed("a", 1, 0), Listed("b", 2, 1), Listed("big", big, 2),
                            Listed("c", 3, 3), Listed("d", 4, 4)}),
                  (Groups{{0, 1}, {3, 4}}))
            << big;
    }
    PackPlan plan;
    GroupsOf({Listed("a", 100, 0), Listed("b", 7, 1), Listed("c", 30, 2)}, &plan);
    ASSERT_EQ(plan.groups.size(), 1u);
    EXPECT_EQ(plan.groups[0].offsets, (std::vector<uint64_t>{0, 100, 107}));
    EXPECT_EQ(plan.groups[0].size, 137u);
    EXPECT_EQ(plan.groupOf, (std::vector<int32_t>{0, 0, 0}));
    // A single item is an ordinary entry.
    EXPECT_EQ(GroupsOf({Listed("a", 10, 0)}), Groups{});
}

TEST(PackGroup, OnlyListItemsInListOrderAndNoCopies) {
    // The inputs' order is not the list's; the script and the texts are no list items.
    std::vector<PackInput> inputs = {Listed("install.dat", 50, -1), Listed("c", 3, 2),
                                     Listed("a", 1, 0), Listed("text", 60, -1), Listed("b", 2, 1)};
    PackPlan plan;
    EXPECT_EQ(GroupsOf(inputs, &plan), (Groups{{2, 4, 1}}));
    EXPECT_EQ(plan.groups[0].offsets, (std::vector<uint64_t>{0, 1, 3}));
    EXPECT_EQ(plan.groupOf, (std::vector<int32_t>{-1, 0, 0, -1, 0}));
    // A copy is never a member: its bytes lie where its first copy's do.
    plan.copyOf = {-1, -1, -1, -1, 2};
    Pack_GroupItems(inputs, PACK_DEFAULT_FLAGS, &plan);
    ASSERT_EQ(plan.groups.size(), 1u);
    EXPECT_EQ(plan.groups[0].members, (std::vector<size_t>{2, 1}));
    EXPECT_EQ(plan.groupOf[4], -1);
}

TEST(PackGroup, GroupNamesSkipTheNamesOfEntries) {
    EXPECT_EQ(Pack_GroupName(1), "<group 1>");
    // Four groups (the items between the large ones cannot join); "<group 2>" and "<group 3>"
    // are entries of the build (in any letter case: the setup asks in upper case).
    const uint64_t big = PACK_GROUP_LIMIT + 1;
    std::vector<PackInput> inputs = {Listed("a", 1, 0),          Listed("b", 1, 1),
                                     Listed("x", big, 2),        Listed("c", 1, 3),
                                     Listed("d", 1, 4),          Listed("y", big, 5),
                                     Listed("e", 1, 6),          Listed("f", 1, 7),
                                     Listed("<GROUP 2>", 9, -1), Listed("<group 3>", 8, -1)};
    PackPlan plan;
    plan.copyOf.assign(inputs.size(), -1);
    Pack_GroupItems(inputs, PACK_DEFAULT_FLAGS, &plan);
    ASSERT_EQ(plan.groups.size(), 3u);
    EXPECT_EQ(plan.groups[0].name, "<group 1>");
    EXPECT_EQ(plan.groups[1].name, "<group 4>");
    EXPECT_EQ(plan.groups[2].name, "<group 5>");
    for (const PackGroup &group : plan.groups)
        EXPECT_EQ(group.hash, Pack_HashName(group.name, PACK_DEFAULT_FLAGS));
}

TEST(PackGroup, EqualFilesAreFoundByTheirBytes) {
    const std::string dir = MakeTempDir("pack-group-copies");
    const std::string text = Text(70000), other = Text(69999) + "!";
    ASSERT_TRUE(WriteFile(dir + "one.txt", text));
    ASSERT_TRUE(WriteFile(dir + "two.txt", text));
    ASSERT_TRUE(WriteFile(dir + "near.txt", other));
    auto file = [&](const std::string &name) {
        return PackInput{name, {}, dir + name, text.size()};
    };
    std::vector<PackInput> inputs = {
        InMemory("a", text),      file("one.txt"),           InMemory("b", other),
        file("near.txt"),         file("two.txt"),           InMemory("c", text.substr(1) + "x"),
        InMemory("short", "abc"), InMemory("short2", "abc"), InMemory("short3", "abd")};
    std::vector<int32_t> copyOf;
    std::string error;
    ASSERT_TRUE(Pack_FindCopies(inputs, &copyOf, &error)) << error;
    // Every copy names the first input of its bytes, never a copy.
    EXPECT_EQ(copyOf, (std::vector<int32_t>{-1, 0, -1, 2, 0, -1, -1, 6, -1}));
    // A file that cannot be read while its size is another's is an error.
    inputs.push_back(PackInput{"gone.txt", {}, dir + "gone.txt", text.size()});
    EXPECT_FALSE(Pack_FindCopies(inputs, &copyOf, &error));
    EXPECT_NE(error.find("gone.txt"), std::string::npos) << error;
    // One of a size of its own is not read at all.
    inputs.back().size = 12345;
    EXPECT_TRUE(Pack_FindCopies(inputs, &copyOf, &error)) << error;
}

// The script's FILE LIST: archive names without their macro pairs, the first place of each
// name, the script and the uninstaller left out, an item the setup refuses skipped.
TEST(PackGroup, TheListOrderComesFromTheScript) {
    const std::string fits(257, 'n'), longer(258, 'm'); // "$D" and these: 259 and 260 bytes
    const std::string source = "PRODUCT NAME:Rocket\n"
                               "FILE LIST:$Dc.txt,$D$Pa.txt,uninst.exe,$D" +
                               longer + ",$D" + fits + ",B.TXT\nFILE LIST:a.txt,d.txt\nBREAK:\n";
    PackBytes script;
    std::string error;
    ASSERT_TRUE(Script_Compile(source, "setup.txt", &script, &error)) << error;
    std::vector<PackInput> inputs = {
        InMemory("a.txt", "a"),      InMemory("b.txt", "b"),    InMemory("c.txt", "c"),
        InMemory("d.txt", "d"),      InMemory("e.txt", "e", 7), InMemory("install.dat", "s"),
        InMemory("uninst.exe", "u"), InMemory(longer, "l"),     InMemory(fits, "f")};
    Pack_SetListOrder(script, PACK_DEFAULT_FLAGS, &inputs);
    // uninst.exe takes a place of the list, but is no member.
    const int32_t expected[] = {1, 4, 0, 5, -1, -1, -1, -1, 3};
    for (size_t i = 0; i < inputs.size(); i++)
        EXPECT_EQ(inputs[i].listOrder, expected[i]) << inputs[i].name.substr(0, 12);
}

// ---- Archives ----

// The archive of inputs built with codec, and what Pack_List says of it.
struct Built {
    std::string path;
    PackBytes bytes;
    PackNotes notes;
    std::vector<PackEntryInfo> entries;
};

Built Build(const std::vector<PackInput> &inputs, PackCodec codec, const std::string &path) {
    Built built;
    built.path = path;
    std::string error;
    Pack_SetCodec(codec);
    bool made =
        Pack_BuildArchive(inputs, PACK_DEFAULT_FLAGS, 0, false, &built.bytes, &error, &built.notes);
    Pack_SetCodec(PACK_CODEC_TYPE2);
    EXPECT_TRUE(made) << error;
    EXPECT_TRUE(WriteFile(path, std::string(built.bytes.begin(), built.bytes.end())));
    std::vector<std::string> names;
    for (const PackInput &input : inputs) names.push_back(input.name);
    uint32_t flags = 0;
    EXPECT_TRUE(Pack_List(path, names, &built.entries, &flags, &error)) << error;
    return built;
}

const PackEntryInfo *Find(const Built &built, const std::string &name) {
    for (const PackEntryInfo &entry : built.entries)
        if (entry.name == name) return &entry;
    return nullptr;
}

// A file of the archive as the setup reads it, through the reader; a reference must name an
// entry that is none.
std::string Read(const Built &built, const std::string &name) {
    const PackEntryInfo *entry = Find(built, name);
    if (!entry) return "<missing>";
    for (const PackEntryInfo &other : built.entries)
        if (entry->reference && other.hash == entry->source && other.reference)
            return "<a reference to a reference>";
    PackBytes data;
    std::string error;
    if (!Pack_Extract(built.path, name, &data, &error)) return "<" + error + ">";
    return std::string(data.begin(), data.end());
}

std::string AllNotes(const PackNotes &notes) {
    std::string all;
    for (const std::string &note : notes) all += note + "\n";
    return all;
}

TEST(PackGroup, ListItemsShareAGroupAndCopiesAreStoredOnce) {
    NEED_ENCODER();
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-group-archive");
    const std::string a = Text(40000), b = Text(30000) + "b", c = Text(20000) + "c";
    const std::string readme = Text(5000) + "readme";
    ASSERT_TRUE(WriteFile(dir + "b.txt", b));
    std::vector<PackInput> inputs = {
        InMemory("install.dat", "PRODUCT NAME:X\r\n"),
        InMemory("readme.txt", readme), // a text: no list item
        InMemory("c.txt", c, 2),        //
        PackInput{"b.txt", {}, dir + "b.txt", b.size()},
        InMemory("a.txt", a, 0),                   //
        InMemory("copy-of-b.txt", b, 3),           // a copy of a member
        InMemory("copy-of-readme.txt", readme, 4), // a copy of an entry of its own
        InMemory("near-a.txt", a.substr(0, a.size() - 1) + "!", 5),
    };
    inputs[3].listOrder = 1;
    Built built = Build(inputs, PACK_CODEC_LZMA, dir + "a.ffs");
    const PackEntryInfo *group = Find(built, "<group 1>");
    ASSERT_NE(group, nullptr) << AllNotes(built.notes);
    EXPECT_EQ(group->method, "LZMA");
    EXPECT_EQ(group->size, (int32_t)(a.size() + b.size() + c.size() + a.size()));
    EXPECT_EQ(group->referenced, 5); // four members and the copy of one
    EXPECT_EQ(Pack_Holds(*group), " (holds 5 files)");
    const struct {
        const char *name;
        const char *method;
        int32_t offset;
    } rows[] = {
        {"a.txt", "in <group 1>", 0},
        {"b.txt", "in <group 1>", (int32_t)a.size()},
        {"c.txt", "in <group 1>", (int32_t)(a.size() + b.size())},
        {"near-a.txt", "in <group 1>", (int32_t)(a.size() + b.size() + c.size())},
        {"copy-of-b.txt", "in <group 1>", (int32_t)a.size()},
        {"copy-of-readme.txt", "copy of readme.txt", 0},
    };
    for (const auto &row : rows) {
        const PackEntryInfo *entry = Find(built, row.name);
        ASSERT_NE(entry, nullptr) << row.name;
        EXPECT_TRUE(entry->reference) << row.name;
        EXPECT_EQ(entry->method, row.method) << row.name;
        EXPECT_EQ(entry->offset, row.offset) << row.name;
        EXPECT_EQ(entry->storedLength, FFS_REF_SIZE) << row.name;
    }
    EXPECT_EQ(Pack_Ratio(*Find(built, "a.txt")), "0.0%"); // 16 bytes of 40000
    // Entries of their own, no list items: the script too short to shrink, the text encoded.
    for (const char *own : {"install.dat", "readme.txt"}) {
        ASSERT_NE(Find(built, own), nullptr) << own;
        EXPECT_FALSE(Find(built, own)->reference) << own;
    }
    EXPECT_EQ(Find(built, "install.dat")->method, "raw");
    EXPECT_EQ(Find(built, "readme.txt")->method, "LZMA");
    EXPECT_EQ(Find(built, "readme.txt")->referenced, 1);
    EXPECT_EQ(Pack_Holds(*Find(built, "readme.txt")), " (holds 1 file)");
    EXPECT_EQ(built.entries.size(), inputs.size() + 1);
    for (const PackInput &input : inputs) {
        const std::string expected =
            input.path.empty() ? std::string(input.data.begin(), input.data.end()) : b;
        EXPECT_TRUE(Read(built, input.name) == expected) << input.name;
    }
    const std::string notes = AllNotes(built.notes);
    EXPECT_NE(notes.find("<group 1>: 4 files of the FILE LIST in one LZMA block of " +
                         std::to_string(group->storedLength) + " bytes ("),
              std::string::npos)
        << notes;
    EXPECT_NE(notes.find("'copy-of-b.txt' has the bytes of 'b.txt': stored once"),
              std::string::npos)
        << notes;
}

// Members that no block shortens are stored one by one, as raw entries, with a note; the group
// is no entry.
TEST(PackGroup, AGroupThatDoesNotShrinkIsDropped) {
    NEED_ENCODER();
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-group-dropped");
    const std::vector<PackInput> inputs = {InMemory("r1.bin", Random(3000, 1), 0),
                                           InMemory("r2.bin", Random(3000, 2), 1)};
    Built built = Build(inputs, PACK_CODEC_LZMA, dir + "a.ffs");
    EXPECT_EQ(built.entries.size(), 2u);
    for (const PackInput &input : inputs) {
        ASSERT_NE(Find(built, input.name), nullptr);
        EXPECT_EQ(Find(built, input.name)->method, "raw");
    }
    EXPECT_NE(AllNotes(built.notes)
                  .find("<group 1> (2 files): its LZMA block is not shorter than its files; they "
                        "are stored one by one"),
              std::string::npos)
        << AllNotes(built.notes);
}

// Two files with nothing in common: the group's block, its entry and the two references are
// longer than the two blocks alone; the files stay entries of their own.
TEST(PackGroup, AGroupLongerThanItsFilesOneByOneIsDropped) {
    NEED_ENCODER();
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-group-longer");
    std::string a, b;
    for (int i = 0; i < 3000; i++) a += "alpha " + std::to_string(i) + "\n";
    for (int i = 0; i < 2000; i++) b += "beta " + std::to_string(i) + "\n";
    const std::vector<PackInput> inputs = {InMemory("a.txt", a, 0), InMemory("b.txt", b, 1)};
    Built built = Build(inputs, PACK_CODEC_LZMA, dir + "a.ffs");
    ASSERT_EQ(built.entries.size(), 2u);
    int32_t alone = 0;
    for (const PackEntryInfo &entry : built.entries) {
        EXPECT_EQ(entry.method, "LZMA") << entry.name;
        alone += entry.storedLength;
    }
    EXPECT_NE(
        AllNotes(built.notes).find("<group 1> (2 files): its block and references would take "),
        std::string::npos)
        << AllNotes(built.notes);
    EXPECT_NE(AllNotes(built.notes)
                  .find(", its files one by one " + std::to_string(alone) +
                        "; they are stored one by one"),
              std::string::npos)
        << AllNotes(built.notes);
    for (const PackInput &input : inputs)
        EXPECT_TRUE(Read(built, input.name) == std::string(input.data.begin(), input.data.end()));
}

// Data that begins with the reference's tag is never stored raw, under every codec; a file
// inside a group may begin with it.
TEST(PackGroup, DataThatBeginsWithTheReferenceTagIsEncoded) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-group-tag");
    // Sixteen bytes: raw, they would read as a well-formed reference record.
    std::string record = "FFG@";
    for (uint32_t word : {~5u, 0x12345678u, 0u}) {
        uint8_t bytes[4];
        Le_Put32(bytes, word);
        record.append((const char *)bytes, 4);
    }
    const std::vector<PackInput> inputs = {InMemory("record.bin", record),
                                           InMemory("tagged.txt", "FFG@" + Text(3000), 0),
                                           InMemory("next.txt", Text(2000) + "n", 1)};
    for (PackCodec codec : {PACK_CODEC_TYPE2, PACK_CODEC_LZMA, PACK_CODEC_STORE}) {
        if (codec == PACK_CODEC_LZMA && !Pack_LzmaAvailable()) continue;
        Built built = Build(inputs, codec, dir + "a" + std::to_string(codec) + ".ffs");
        const PackEntryInfo *entry = Find(built, "record.bin");
        ASSERT_NE(entry, nullptr);
        EXPECT_FALSE(entry->reference) << codec;
        EXPECT_EQ(entry->method, codec == PACK_CODEC_LZMA ? "LZMA" : "Type2") << codec;
        for (const PackInput &input : inputs)
            EXPECT_TRUE(Read(built, input.name) ==
                        std::string(input.data.begin(), input.data.end()))
                << input.name << " " << codec;
        EXPECT_NE(AllNotes(built.notes).find("'record.bin' begins with \"FFG@\": stored "),
                  std::string::npos)
            << AllNotes(built.notes);
    }
}

// Type2 and store know no groups nor copies: the list order and equal files change no byte.
TEST(PackGroup, TheOtherCodecsAreUntouched) {
    const std::string dir = MakeTempDir("pack-group-type2");
    const std::string text = Text(20000);
    std::vector<PackInput> listed = {InMemory("a.txt", text, 0), InMemory("b.txt", text, 1),
                                     InMemory("c.txt", Text(9000) + "c", 2)};
    std::vector<PackInput> plain = listed;
    for (PackInput &input : plain) input.listOrder = -1;
    for (PackCodec codec : {PACK_CODEC_TYPE2, PACK_CODEC_STORE}) {
        Built one = Build(listed, codec, dir + "listed.ffs");
        Built two = Build(plain, codec, dir + "plain.ffs");
        EXPECT_TRUE(one.bytes == two.bytes) << codec;
        EXPECT_EQ(one.entries.size(), listed.size()) << codec;
        for (const PackEntryInfo &entry : one.entries) EXPECT_FALSE(entry.reference) << codec;
        EXPECT_EQ(AllNotes(one.notes).find("stored once"), std::string::npos) << codec;
    }
}

// A member's file read in its group is held to its listed size like any other.
TEST(PackGroup, AMemberThatChangedSizeStopsTheBuild) {
    NEED_ENCODER();
    const std::string dir = MakeTempDir("pack-group-changed");
    const std::string text = Text(20000);
    ASSERT_TRUE(WriteFile(dir + "m.txt", text));
    for (int64_t change : {-1, 1}) {
        std::vector<PackInput> inputs = {
            InMemory("a.txt", Text(10000) + "a", 0),
            PackInput{"m.txt", {}, dir + "m.txt", (uint64_t)((int64_t)text.size() + change)},
            InMemory("z.txt", Text(10000) + "z", 2)};
        inputs[1].listOrder = 1;
        PackBytes archive;
        std::string error;
        PackNotes notes;
        Pack_SetCodec(PACK_CODEC_LZMA);
        EXPECT_FALSE(
            Pack_BuildArchive(inputs, PACK_DEFAULT_FLAGS, 0, false, &archive, &error, &notes));
        Pack_SetCodec(PACK_CODEC_TYPE2);
        EXPECT_NE(error.find("m.txt' changed while the setup was built (it had " +
                             std::to_string(inputs[1].size) + " bytes"),
                  std::string::npos)
            << change << ": " << error;
    }
}

TEST(PackGroup, ThreadsAndSpoolFilesGiveTheSameArchive) {
    NEED_ENCODER();
    const std::string dir = MakeTempDir("pack-group-threads");
    std::vector<PackInput> inputs;
    for (int i = 0; i < 6; i++)
        inputs.push_back(InMemory("f" + std::to_string(i), Text(5000 + i * 700) + "!", i));
    inputs.push_back(InMemory("copy", Text(5000) + "!"));
    std::vector<PackBytes> made = codec_test::ArchivesOverThreads(inputs, dir + "spool");
    ASSERT_FALSE(made[0].empty());
    for (const PackBytes &archive : made) EXPECT_TRUE(archive == made[0]);
}

} // namespace
