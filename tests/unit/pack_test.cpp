// The builder's engine against the file system: a whole build from files (script, entries, stub,
// output) with each of its file calls failing in turn, and what it leaves behind.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "pack.h"
#include "tessel-core.h"
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
    std::string error;
    PackNotes notes;

    int32_t before = Sys_FileCalls();
    ASSERT_TRUE(Pack_BuildFiles(stub, script, sources, PACK_DEFAULT_FLAGS, out, &error, &notes))
        << error;
    const int32_t calls = Sys_FileCalls() - before;
    std::vector<std::string> report;
    EXPECT_TRUE(Pack_Verify(out, &report));
    // Each of the four files read: open, a read, the read that finds the end, close. The
    // output: open, write, commit, close.
    const std::map<std::string, int> expected = {
        {"cannot open '" + script + "'", 1}, {"cannot read '" + script + "'", 3},
        {"cannot open '" + a + "'", 1},      {"cannot read '" + a + "'", 3},
        {"cannot open '" + b + "'", 1},      {"cannot read '" + b + "'", 3},
        {"cannot open '" + stub + "'", 1},   {"cannot read '" + stub + "'", 3},
        {"cannot write '" + out + "'", 4},
    };
    ASSERT_EQ(calls, 20);

    for (const char *previous : {"", "the previous setup"}) {
        std::map<std::string, int> failures;
        for (int32_t nth = 1; nth <= calls; nth++) {
            RemoveFile(out);
            if (previous[0]) {
                ASSERT_TRUE(WriteFile(out, previous));
            }
            error.clear();
            Sys_FileFailAt(nth);
            bool built =
                Pack_BuildFiles(stub, script, sources, PACK_DEFAULT_FLAGS, out, &error, &notes);
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
        }
        EXPECT_EQ(failures, expected) << "previous output: '" << previous << "'";
    }
}

} // namespace
