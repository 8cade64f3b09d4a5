// The builder's engine against the file system: a whole build from files (script, entries, stub,
// output) with each of its file calls failing in turn, and what it leaves behind; every Type2
// block proven by decoding before it is stored; and the uninstaller a script's UNINSTALL NAME
// asks for.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ffs-enc2.h"
#include "ffs.h"
#include "pack.h"
#include "tessel-core.h"
#include "tessel-stamp.h"
#include "tessel-sys.h"
#include "test-support.h"

using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::RemoveFile;
using testing_support::WriteFile;

namespace {

// "cannot open", "cannot read" or "cannot write" and the quoted path of the error, or the whole
// error when it has no such form.
std::string Failure(const std::string &error) {
    size_t quote = error.find('\'');
    size_t end = quote == std::string::npos ? quote : error.find('\'', quote + 1);
    if (error.rfind("cannot ", 0) != 0 || end == std::string::npos) return error;
    return error.substr(0, end + 1);
}

TEST(PackFiles, EachFailedFileCallFailsTheBuildAndKeepsTheOldOutput) {
    Mem_Init(MEM_NO_LIMIT, 0); // the codec's tables
    const std::string dir = MakeTempDir("pack");
    const std::string stub = dir + "stub.exe", script = dir + "setup.txt", a = dir + "a.txt",
                      b = dir + "b.bin", out = dir + "setup.exe";
    ASSERT_TRUE(WriteFile(stub, "MZ" + std::string(200, '.') + CORE_STAMP_UNSET +
                                    std::string(1, '\0') + std::string(100, '.')));
    ASSERT_TRUE(WriteFile(script, "PRODUCT NAME:Rocket\nBREAK:\n"));
    ASSERT_TRUE(WriteFile(a, std::string(3000, 'a')));
    ASSERT_TRUE(WriteFile(b, std::string("\0\x01\x02\xFF", 4)));
    const std::vector<PackSource> sources = {{"a.txt", a}, {"docs\\b.bin", b}};
    std::string error, bundled;
    PackNotes notes;
    CheckReport checks; // they read no file

    Pack_SetJobs(1); // one spool: its calls come in one order
    int32_t before = Sys_FileCalls();
    ASSERT_TRUE(Pack_BuildFiles(stub, "", script, sources, PACK_DEFAULT_FLAGS, out, &bundled,
                                &error, &notes, &checks))
        << error;
    const int32_t calls = Sys_FileCalls() - before;
    std::vector<std::string> report;
    EXPECT_TRUE(Pack_Verify(out, &report));
    // Each pass over a file: open, a read, the read that finds the end, close. The script and
    // the stub are read once; a.txt is encoded, then read again beside its block; b.bin (too
    // short to encode, stored raw) has its first bytes looked at, then is copied. The spool:
    // open, a.txt's block written, read back (a move and two reads), the compiled script's
    // block begun (it does not shrink), the block read again (a move, a read), close. The
    // output: open, the stub, the header with the directory, three entries (their headers, and
    // the bytes of each in one write), the trailer, a move back to the stamp, the stamp, commit,
    // close.
    const std::string spool = out + ".spool0";
    const std::map<std::string, int> expected = {
        {"cannot open '" + script + "'", 1}, {"cannot read '" + script + "'", 3},
        {"cannot open '" + stub + "'", 1},   {"cannot read '" + stub + "'", 3},
        {"cannot open '" + a + "'", 2},      {"cannot read '" + a + "'", 6},
        {"cannot open '" + b + "'", 2},      {"cannot read '" + b + "'", 6},
        {"cannot write '" + spool + "'", 4}, {"cannot read '" + spool + "'", 5},
        {"cannot write '" + out + "'", 14},
    };
    ASSERT_EQ(calls, 47);

    for (const char *previous : {"", "the previous setup"}) {
        std::map<std::string, int> failures;
        for (int32_t nth = 1; nth <= calls; nth++) {
            RemoveFile(out);
            if (previous[0]) {
                ASSERT_TRUE(WriteFile(out, previous));
            }
            error.clear();
            Sys_FileFailAt(nth);
            bool built = Pack_BuildFiles(stub, "", script, sources, PACK_DEFAULT_FLAGS, out,
                                         &bundled, &error, &notes, &checks);
            Sys_FileFailAt(0);
            EXPECT_FALSE(built) << "call " << nth;
            failures[Failure(error)]++;
            bool ok = false;
            std::string left = ReadFile(out, &ok);
            if (previous[0]) {
                EXPECT_EQ(left, previous) << "call " << nth;
            } else {
                EXPECT_FALSE(ok) << "call " << nth;
            }
            EXPECT_FALSE(FileExists(out + ".part")) << "call " << nth;
            EXPECT_FALSE(FileExists(spool)) << "call " << nth;
        }
        EXPECT_EQ(failures, expected) << "previous output: '" << previous << "'";
    }
    Pack_SetJobs(0);
}

} // namespace

namespace {

// Bytes whose Type2 block does not decode back to them: the adaptive tree is driven 17 levels
// deep while its root stays below the rebuild limit, and a byte never seen before ends the
// data at the deepest leaf. Seven literals with counts that grow like Fibonacci numbers
// ('a' to 'g', never repeating four bytes within the window, so that none becomes a match),
// runs of spaces for the heaviest symbol (a match of 60), then 's'.
std::vector<uint8_t> DeepTreeInput() {
    const int counts[] = {179, 309, 492, 805, 1311, 2110, 3456};
    const int letters = 7, sixtySpaceRuns = 5460, blocks = 80;
    std::vector<uint8_t> data;
    for (int j = 0; j < blocks; j++) {
        int runs = sixtySpaceRuns / blocks + (j < sixtySpaceRuns % blocks ? 1 : 0);
        data.insert(data.end(), (size_t)runs * 60, ' ');
        int need[letters];
        for (int i = 0; i < letters; i++)
            need[i] = (int)((long)(j + 1) * counts[i] / blocks - (long)j * counts[i] / blocks);
        std::set<uint32_t> seen; // four-byte sequences of this block
        size_t start = data.size();
        auto last4 = [&](uint8_t next) {
            size_t n = data.size();
            return (uint32_t)data[n - 3] << 24 | (uint32_t)data[n - 2] << 16 |
                   (uint32_t)data[n - 1] << 8 | next;
        };
        for (;;) {
            int best = -1;
            for (int i = 0; i < letters; i++) {
                if (need[i] <= 0) continue;
                if (data.size() - start >= 3 && seen.count(last4((uint8_t)('a' + i)))) continue;
                if (best < 0 || need[i] > need[best]) best = i;
            }
            if (best < 0) break;
            uint8_t letter = (uint8_t)('a' + best);
            if (data.size() - start >= 3) seen.insert(last4(letter));
            data.push_back(letter);
            need[best]--;
        }
    }
    data.insert(data.end(), 69 * 60, ' ');
    data.push_back('s');
    return data;
}

// The codec keeps a code in 16 bits; the builder proves every block it made by decoding it,
// and stores raw what does not come back, so the reader gives the exact bytes.
TEST(PackEncoding, ABlockThatDoesNotDecodeBackIsStoredRaw) {
    Mem_Init(MEM_NO_LIMIT, 0);
    std::vector<uint8_t> data = DeepTreeInput();
    ASSERT_EQ(data.size(), 340355u);
    // The codec's limit, which the builder guards against.
    Type2_Init();
    std::vector<uint8_t> block(data.size() * 3 + 64), back(data.size());
    int32_t blockLength = (int32_t)block.size();
    ASSERT_EQ(Type2_Compress(data.data(), (int32_t)data.size(), block.data(), &blockLength), 1);
    ASSERT_EQ(Type2_Decompress(block.data(), blockLength, back.data(), (int32_t)back.size()), 1);
    EXPECT_NE(back, data);
    EXPECT_EQ(back.back(), 'r'); // the leaf's last bit lost
    Type2_Shutdown();

    const std::string dir = MakeTempDir("pack-deep");
    std::vector<PackInput> inputs = {{"deep.txt", data}, {"plain.txt", PackBytes(5000, 'x')}};
    std::string error;
    PackNotes notes;
    ASSERT_TRUE(Pack_BuildStandalone(inputs, PACK_DEFAULT_FLAGS, dir + "deep.ffs", &error, &notes))
        << error;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "'deep.txt': its Type2 block does not decode back to it (a code longer "
                        "than 16 bits); stored raw");
    std::vector<PackEntryInfo> entries;
    uint32_t flags = 0;
    ASSERT_TRUE(Pack_List(dir + "deep.ffs", {"deep.txt", "plain.txt"}, &entries, &flags, &error));
    for (const PackEntryInfo &entry : entries)
        EXPECT_EQ(entry.compressed, entry.name == "plain.txt") << entry.name;
    PackBytes extracted;
    ASSERT_TRUE(Pack_Extract(dir + "deep.ffs", "deep.txt", &extracted, &error)) << error;
    EXPECT_TRUE(extracted == data);
}

// Entries are encoded on several threads; the archive and the notes are the same byte for byte
// and line for line whatever their number, more threads than entries included.
TEST(PackEncoding, AnyNumberOfThreadsGivesTheSameArchive) {
    Mem_Init(MEM_NO_LIMIT, 0);
    std::vector<PackInput> inputs = {
        {"deep.txt", DeepTreeInput()},                            // stored raw, with a note
        {"tagged.bin", PackBytes({'F', 'F', 'C', '@', 1, 2, 3})}, // encoded although longer
        {"short.txt", PackBytes(5, 'y')},
        {"plain.txt", PackBytes(70000, 'x')},
    };
    PackBytes mixed(200000);
    uint32_t seed = 12345;
    for (size_t i = 0; i < mixed.size(); i++) {
        seed = seed * 1103515245u + 12345u;
        mixed[i] = (uint8_t)(i % 7 == 0 ? seed >> 24 : "abcabd"[(seed >> 16) % 6]);
    }
    inputs.push_back({"docs\\mixed.dat", mixed});
    PackBytes first;
    PackNotes firstNotes;
    for (int jobs : {1, 2, 3, 8}) {
        Pack_SetJobs(jobs);
        PackBytes archive;
        PackNotes notes;
        std::string error;
        ASSERT_TRUE(
            Pack_BuildArchive(inputs, PACK_DEFAULT_FLAGS, 0, false, &archive, &error, &notes))
            << error;
        if (jobs == 1) {
            first = archive;
            firstNotes = notes;
            ASSERT_EQ(notes.size(), 2u);
            continue;
        }
        EXPECT_TRUE(archive == first) << jobs << " threads";
        EXPECT_EQ(notes, firstNotes) << jobs << " threads";
    }
    Pack_SetJobs(0);
}

} // namespace

namespace {

// Scripts as the setup holds them: "\026" is the marker that starts a command and separates
// its arguments.
TEST(PackUninstaller, TheScriptNamesOneWhenTheSetupWouldRunUninstallName) {
    struct {
        const char *script;
        bool names;
    } rows[] = {
        {"\026UNINSTALL NAME:$Puninst.exe\r\n", true},
        {"\026uninstall Name:u.exe\r\n", true},
        {"\026PRODUCT NAME:Rocket\r\n\026UNINSTALL NAME:u.exe", true}, // last, no line end
        {"\026REFRESH:\r\n\026UNINSTALL NAME:u.exe\r\n", true},        // behind no arguments
        {"\026PRODUCT NAME:Rocket\r\n\026BREAK:\r\n", false},
        {"\026MESSAGE:UNINSTALL NAME:u.exe\r\n", false},
        {"\026TEXT:a\026UNINSTALL NAME:u.exe\r\n", false},     // an argument too many
        {"\026FONT:1\026UNINSTALL NAME:u.exe\r\n", false},     // FONT's second argument
        {"\026FROB:x\r\n\026UNINSTALL NAME:u.exe\r\n", false}, // the setup stops at FROB
        {"\026UNINSTALL NAMES:u.exe\r\n", false},
        {"", false},
    };
    for (auto &row : rows) {
        PackBytes script(row.script, row.script + strlen(row.script));
        EXPECT_EQ(Pack_ScriptNamesUninstaller(script), row.names) << row.script;
    }
}

TEST(PackUninstaller, StoredWhenTheScriptNamesOneAndNoEntryIsGiven) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-uninst"), with = MakeTempDir("pack-with"),
                      bare = MakeTempDir("pack-bare");
    const std::string out = dir + "setup.exe", mine = dir + "mine.exe", names = dir + "names.txt",
                      plain = dir + "plain.txt", withStub = with + "stub.exe",
                      bareStub = bare + "stub.exe", beside = "MZ beside the stub";
    const std::string stubBytes =
        "MZ" + std::string(200, '.') + CORE_STAMP_UNSET + std::string(1, '\0') + "....";
    ASSERT_TRUE(WriteFile(withStub, stubBytes));
    ASSERT_TRUE(WriteFile(with + "uninst.exe", beside));
    ASSERT_TRUE(WriteFile(bareStub, stubBytes));
    ASSERT_TRUE(WriteFile(mine, "MZ named"));
    ASSERT_TRUE(WriteFile(dir + "given.exe", "MZ given"));
    ASSERT_TRUE(WriteFile(names, "PRODUCT NAME:Rocket\nUNINSTALL NAME:$Puninst.exe\n"));
    ASSERT_TRUE(WriteFile(plain, "PRODUCT NAME:Rocket\n"));
    std::string error;
    PackBytes compiled;
    ASSERT_TRUE(Pack_CompileScript(names, &compiled, &error)) << error;
    ASSERT_TRUE(WriteFile(dir + "install.dat", std::string(compiled.begin(), compiled.end())));
    const std::vector<PackSource> given = {{"uninst.exe", dir + "given.exe"}};
    const std::string refused = "-"; // bundled for a build that is refused
    const std::string unneeded = "'" + mine + "' not stored: the script has no UNINSTALL NAME " +
                                 "command, so the setup would never write it";
    const std::string none = "there is no uninstaller to store (cannot open '" + bare +
                             "uninst.exe': No such file or directory); pass --uninstaller FILE " +
                             "or an entry uninst.exe=FILE";
    const std::string twice = "two uninstallers: the entry 'uninst.exe' and --uninstaller '" +
                              mine + "'; give one of them";
    struct {
        std::string stub, uninstaller, script;
        std::vector<PackSource> sources;
        std::string bundled, stored; // stored: "uninst.exe" in the output, "" none
        std::string said;            // the refusal, or one of the notes of a build
    } rows[] = {
        {withStub, "", names, {}, with + "uninst.exe", beside, ""},
        {withStub, "", "", {{"install.dat", dir + "install.dat"}}, with + "uninst.exe", beside, ""},
        {withStub, mine, names, {}, mine, "MZ named", ""},
        {bareStub, mine, names, {}, mine, "MZ named", ""},
        {withStub, "", names, {{"UNINST.EXE", dir + "given.exe"}}, "", "MZ given", ""},
        {withStub, "", plain, {}, "", "", ""},
        {withStub, mine, plain, {}, "", "", unneeded},
        {"", "", names, {}, "", "", ""}, // a stand-alone archive
        {bareStub, "", names, {}, refused, "", none},
        {withStub, dir + "none.exe", names, {}, refused, "", "cannot open '" + dir + "none.exe'"},
        {withStub, mine, names, given, refused, "", twice},
    };
    for (auto &row : rows) {
        RemoveFile(out);
        std::string bundled;
        PackNotes notes;
        error.clear();
        CheckReport report;
        bool built = Pack_BuildFiles(row.stub, row.uninstaller, row.script, row.sources,
                                     PACK_DEFAULT_FLAGS, out, &bundled, &error, &notes, &report);
        if (row.bundled == refused) {
            EXPECT_FALSE(built) << row.said;
            EXPECT_NE(error.find(row.said), std::string::npos) << error;
            EXPECT_FALSE(FileExists(out)) << row.said;
            continue;
        }
        ASSERT_TRUE(built) << error;
        EXPECT_EQ(bundled, row.bundled) << row.stub << " " << row.script;
        PackBytes stored;
        bool found = Pack_Extract(out, "uninst.exe", &stored, &error);
        EXPECT_EQ(found ? std::string(stored.begin(), stored.end()) : "", row.stored) << row.stub;
        if (!row.said.empty()) {
            EXPECT_NE(std::find(notes.begin(), notes.end(), row.said), notes.end()) << row.said;
        }
    }
}

} // namespace

namespace {

// ---- Names ----

// verify reads a setup in pieces: a stamp record that lies across two of its 64 KB pieces is
// found, at each place around the seam, and an entry whose block was changed is named.
TEST(PackVerify, TheStampAcrossAPieceSeamIsFoundAndADamagedEntryNamed) {
    Mem_Init(MEM_NO_LIMIT, 0);
    const std::string dir = MakeTempDir("pack-verify"), stub = dir + "stub.exe",
                      out = dir + "setup.exe";
    const std::vector<PackInput> inputs = {{"a.txt", std::vector<uint8_t>(5000, 'a')}};
    std::string error;
    PackNotes notes;
    for (size_t at : {(size_t)65536 - 23, (size_t)65536 - 22, (size_t)65536 - 1, (size_t)65536}) {
        ASSERT_TRUE(WriteFile(stub, std::string(at, '.') + CORE_STAMP_UNSET + std::string(1, '\0') +
                                        std::string(100, '.')));
        ASSERT_TRUE(Pack_BuildSetup(stub, inputs, PACK_DEFAULT_FLAGS, out, &error, &notes))
            << error;
        EXPECT_EQ(Pack_FindStamp(out), (int64_t)at);
        std::vector<std::string> report;
        EXPECT_TRUE(Pack_Verify(out, &report)) << at;
    }
    std::string file = ReadFile(out);
    file[file.size() - 30] ^= 0x55; // inside the block of a.txt, before the trailer
    ASSERT_TRUE(WriteFile(out, file));
    std::vector<std::string> report;
    EXPECT_FALSE(Pack_Verify(out, &report));
    std::string said;
    for (const std::string &line : report) said += line + "\n";
    char entry[64];
    snprintf(entry, sizeof entry, "entry %08X: cannot be decoded\n",
             Ffs_HashNameFlags("a.txt", PACK_DEFAULT_FLAGS));
    EXPECT_NE(said.find(entry), std::string::npos) << said;
    EXPECT_NE(said.find("archive: 1 entries, 1 unreadable"), std::string::npos) << said;
}

// Two entries of one hash cannot both be stored; the refusal says why: one name given twice, one
// name in two letter cases (when the setup asks for names in any case), or two names that the
// hash does not tell apart.
TEST(PackArchive, TwoEntriesOfOneHashAreRefusedWithTheCause) {
    Mem_Init(MEM_NO_LIMIT, 0);
    char twins[16];
    snprintf(twins, sizeof twins, "%08X", Ffs_HashNameFlags("plumless", 0));
    const struct {
        std::string a, b;
        uint32_t flags;
        std::string error; // "" when both are stored
    } rows[] = {
        {"a.txt", "a.txt", 6, "'a.txt' is listed twice"},
        {"a.txt", "A.TXT", 6,
         "names 'a.txt' and 'A.TXT' differ only in letter case: the setup asks for names in any "
         "letter case, and these are one name to it; keep one of them"},
        {"docs\\Read Me", "DOCS\\read me", 2,
         "names 'docs\\Read Me' and 'DOCS\\read me' differ only in letter case: the setup asks "
         "for names in any letter case, and these are one name to it; keep one of them"},
        {"a.txt", "A.TXT", 0, ""},
        {"a.txt", "A.TXT", 4, ""},
        {"plumless", "buckeroo", 0,
         "names 'plumless' and 'buckeroo' have the same hash (0x" + std::string(twins) +
             "); rename one of them"},
    };
    for (const auto &row : rows) {
        PackBytes archive;
        std::string error;
        PackNotes notes;
        EXPECT_EQ(Pack_BuildArchive({{row.a, {'1'}}, {row.b, {'2'}}}, row.flags, 0, false, &archive,
                                    &error, &notes),
                  row.error.empty())
            << row.a << " " << row.b;
        EXPECT_EQ(error, row.error);
    }
}

// ---- Files from a folder ----

#if !defined(_WIN32)
// The product is what lies in the folder: a link leading out of it refuses the scan, naming the
// link and where it leads; a link inside is stored under its own name, never its target's.
TEST(PackFolder, ALinkIsStoredOnlyWhenItsFileLiesInTheFolder) {
    namespace fs = std::filesystem;
    const std::string refused = "-";
    const struct {
        const char *what;
        std::vector<std::pair<std::string, std::string>> links; // link, what it names
        std::string names;                                      // the sources' names, or refused
        std::string target;                                     // where the refused link leads
    } rows[] = {
        {"no link", {}, "a.txt docs\\b.txt", ""},
        {"a file of the system", {{"passwd", "/etc/passwd"}}, refused, "/etc/passwd"},
        {"beside the folder", {{"docs/up.txt", "../../outside.txt"}}, refused, "outside.txt"},
        {"beside the folder, by a full path", {{"o.txt", "@outside.txt"}}, refused, "outside.txt"},
        {"out through a chain of links",
         {{"hop.txt", "hop2.txt"}, {"hop2.txt", "../outside.txt"}},
         refused,
         "outside.txt"},
        {"inside", {{"latest.txt", "a.txt"}}, "a.txt docs\\b.txt latest.txt", ""},
        {"inside, from a subfolder",
         {{"docs/up.txt", "../a.txt"}},
         "a.txt docs\\b.txt docs\\up.txt",
         ""},
        {"out and back in", {{"in.txt", "../product/a.txt"}}, "a.txt docs\\b.txt in.txt", ""},
        {"a folder outside, not followed", {{"away", "@"}}, "a.txt docs\\b.txt", ""},
        {"dangling, not stored", {{"gone.txt", "missing.txt"}}, "a.txt docs\\b.txt", ""},
    };
    for (const auto &row : rows) {
        const std::string base = MakeTempDir("pack-folder"), folder = base + "product";
        ASSERT_TRUE(fs::create_directories(folder + "/docs"));
        ASSERT_TRUE(WriteFile(folder + "/a.txt", "a"));
        ASSERT_TRUE(WriteFile(folder + "/docs/b.txt", "b"));
        ASSERT_TRUE(WriteFile(base + "outside.txt", "secret"));
        for (const auto &link : row.links) {
            std::string to = link.second;
            if (!to.empty() && to[0] == '@') to = base + to.substr(1); // a full path
            fs::create_symlink(to, folder + "/" + link.first);
        }
        std::vector<PackSource> sources = {{"kept", "kept.txt"}};
        std::string error;
        bool scanned = Pack_ScanFolder(folder, &sources, &error);
        if (row.names == refused) {
            const std::string target =
                row.target[0] == '/' ? row.target : fs::canonical(base).string() + "/" + row.target;
            EXPECT_FALSE(scanned) << row.what;
            EXPECT_EQ(error, "'" + folder + "/" + row.links[0].first + "' is a link to '" + target +
                                 "', outside the folder '" + folder +
                                 "': not stored (copy the file into the folder)")
                << row.what;
            EXPECT_EQ(sources.size(), 1u) << row.what << ": nothing appended";
            continue;
        }
        ASSERT_TRUE(scanned) << row.what << ": " << error;
        std::string names;
        for (size_t i = 1; i < sources.size(); i++) names += (i > 1 ? " " : "") + sources[i].name;
        EXPECT_EQ(names, row.names) << row.what;
        EXPECT_EQ(sources[0].name, "kept") << row.what;
        for (size_t i = 1; i < sources.size(); i++)
            EXPECT_NE(ReadFile(sources[i].path), "secret") << row.what;
    }
}
#endif

TEST(PackFolder, AFolderThatIsNoneIsRefused) {
    const std::string base = MakeTempDir("pack-nofolder");
    ASSERT_TRUE(WriteFile(base + "file", "x"));
    for (const std::string &folder : {base + "file", base + "missing"}) {
        std::vector<PackSource> sources;
        std::string error;
        EXPECT_FALSE(Pack_ScanFolder(folder, &sources, &error));
        EXPECT_EQ(error, "'" + folder + "' is not a folder");
        EXPECT_TRUE(sources.empty());
    }
}

} // namespace
