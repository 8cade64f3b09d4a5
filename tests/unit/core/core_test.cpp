// The support library core: log switches, the log file byte for byte (also with each of its
// file calls failing), rules, timestamps, dated files, the fatal report and its exits, and the
// memory manager's accounting and guards.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-support.h"

#if defined(_WIN32)
#include <direct.h>
#define chdir _chdir
#define getcwd _getcwd
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using testing_support::ProgramDir;
using testing_support::ReadText;
using testing_support::RemoveFile;

namespace {

const char *kLogName = "core-test.log";

std::string Rule(const std::string &start) {
    return start + std::string(79 - start.size(), '=') + "\n";
}

const std::string kBanner = "TesselCore v0.38\n";
const std::string kMemoryInit = Rule("====[Memory Init]") + "Quickmemory Initialized (Disabled)\n" +
                                "Memory Initialized (Maximum)\n" + Rule("====");

// Starts a log of the given switches in core-test.log beside the test program, emptied first.
std::string StartLog(const char *switches) {
    std::string path = ProgramDir() + kLogName;
    RemoveFile(path);
    uint32_t flags = 0;
    Log_ParseOptions(&flags, switches);
    Log_Init(kLogName, flags);
    return path;
}

void StopLog() { Log_Init(kLogName, 0); }

TEST(LogOptions, SwitchesAnywhereAnyCase) {
    struct {
        const char *line;
        uint32_t flags;
    } rows[] = {
        {"", 0x00},
        {"-Quiet", 0x00},
        {"-debug", 0x06},
        {"-DEBUG", 0x06},
        {"/x -Debugger", 0x06},
        {"-unique", 0x4E},
        {"-window", 0x01},
        {"-timestamp", 0x20},
        {"-append", 0x08},
        {"-window -timestamp", 0x21},
        {"-debug -append -TIMESTAMP", 0x2E},
        {"-unique-window", 0x4F},
        {"-debu", 0x00},        // a switch cut short at the line's end
        {"-debu -DEBUG", 0x06}, // a false start before the switch
        {"\x0D"
         "debug",
         0x00}, // only letters fold (0x0D | 0x20 is '-')
    };
    for (const auto &row : rows) {
        uint32_t flags = 0xFFFF;
        EXPECT_EQ(Log_ParseOptions(&flags, row.line), 1);
        EXPECT_EQ(flags, row.flags) << row.line;
    }
}

TEST(Log, DebugWritesBannerAndMemoryInitByteForByte) {
    std::string path = StartLog("-debug");
    Mem_Init(MEM_NO_LIMIT, 0);
    Log_Print("Value %d\n", 42);
    EXPECT_EQ(ReadText(path), kBanner + kMemoryInit + "Value 42\n");
    StopLog();
}

TEST(Log, DebugEmptiesAndAppendKeeps) {
    std::string path = ProgramDir() + kLogName;
    testing_support::WriteFile(path, "old line\n");
    uint32_t flags;
    Log_ParseOptions(&flags, "-debug");
    Log_Init(kLogName, flags);
    EXPECT_EQ(ReadText(path), kBanner);

    testing_support::WriteFile(path, "old line\n");
    Log_ParseOptions(&flags, "-debug -append");
    Log_Init(kLogName, flags);
    Log_Print("new\n");
    EXPECT_EQ(ReadText(path), "old line\n" + kBanner + "new\n");
    StopLog();
}

TEST(Log, SilentWithoutSwitches) {
    std::string path = StartLog("");
    Log_Print("nothing\n");
    Log_Section("nothing");
    EXPECT_FALSE(testing_support::FileExists(path));
    // Timestamp or append alone switch the log on, but nothing is written anywhere.
    StartLog("-timestamp -append");
    EXPECT_NE(Log_Flags(), 0u);
    Log_Print("nothing\n");
    EXPECT_FALSE(testing_support::FileExists(path));
}

TEST(Log, PathIsBesideTheProgram) {
    StartLog("");
    EXPECT_EQ(std::string(Log_Path()), ProgramDir() + kLogName);
    Log_Init("x", 0); // a one-character name means the default
    EXPECT_EQ(std::string(Log_Path()), ProgramDir() + "debug.log");
    Log_Init("C:\\logs\\install.log", 0); // drive-qualified: taken as it is
    EXPECT_STREQ(Log_Path(), "C:\\logs\\install.log");
}

TEST(Log, SectionRulesAreSeventyNineCharacters) {
    std::string path = StartLog("-debug");
    Log_Section(std::string(80, 'T').c_str());
    Log_Section(NULL);
    Log_Section("Memory Init");
    std::string expected = kBanner + "====[" + std::string(74, 'T') + "\n" + Rule("====") +
                           "====[Memory Init]" + std::string(62, '=') + "\n";
    EXPECT_EQ(ReadText(path), expected);
    StopLog();
}

// "MM/DD/YYYY HH:MM:SS " at the start of a line.
bool IsTimestamp(const std::string &line) {
    const char *shape = "00/00/0000 00:00:00 ";
    if (line.size() < strlen(shape)) return false;
    for (size_t i = 0; shape[i]; i++) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '0' ? !digit : line[i] != shape[i]) return false;
    }
    return true;
}

TEST(Log, TimestampPrefixesEveryFileWrite) {
    std::string path = StartLog("-debug -timestamp");
    Log_Section("Rule");
    Log_Print("line\n");
    std::string text = ReadText(path);
    int lines = 0;
    for (size_t start = 0; start < text.size(); lines++) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        EXPECT_TRUE(IsTimestamp(line)) << line;
        start = end + 1;
    }
    EXPECT_EQ(lines, 3);
    EXPECT_NE(text.find(" TesselCore v0.38\n"), std::string::npos);
    EXPECT_NE(text.find(" line\n"), std::string::npos);
    StopLog();
}

TEST(Log, UniqueWritesTheDatedFileInTheCurrentFolder) {
    std::string folder = testing_support::MakeTempDir("unique");
    char previous[1024];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    std::string besideProgram = StartLog("-unique");
    Log_Print("dated\n");
    time_t seconds = time(NULL);
    struct tm *now = localtime(&seconds);
    char name[32];
    snprintf(name, sizeof name, "d%.2d%.2d%.2d.log", now->tm_mon + 1, now->tm_mday,
             (now->tm_year + 1900) % 100);
    EXPECT_EQ(ReadText(folder + name), kBanner + "dated\n");
    EXPECT_FALSE(testing_support::FileExists(besideProgram));
    // Never emptied at start.
    StartLog("-unique");
    EXPECT_EQ(ReadText(folder + name), kBanner + "dated\n" + kBanner);
    StopLog();
    ASSERT_EQ(chdir(previous), 0);
}

#if !defined(_WIN32)
// On the host the console of "-window" is standard output.
TEST(Log, WindowShowsLinesWithoutTimestampAndWritesNoFile) {
    testing::internal::CaptureStdout();
    std::string path = StartLog("-window -timestamp");
    Log_Print("to the console\n");
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown, "to the console\n");
    EXPECT_FALSE(testing_support::FileExists(path));
    StopLog();
}
#endif

TEST(Log, LengthCheckPassesAtLimitAndStopsAbove) {
    std::string path = StartLog("-debug");
    std::string ok(4086, 'a');
    Log_Print("%s", ok.c_str());
    EXPECT_EQ(ReadText(path), kBanner + ok);
    std::string tooLong(4087, 'b');
    EXPECT_EXIT(Log_Print("%s", tooLong.c_str()), testing::ExitedWithCode(3),
                "ABORT: Last string too large \\(4087 > 4086\\)\n       \\(Unknown/0\\)");
    // The message itself was written before the process stopped.
    std::string text = ReadText(path);
    EXPECT_NE(text.find(kBanner + ok + tooLong +
                        "\n\nABORT: Last string too large (4087 > 4086)\n"
                        "       (Unknown/0)\n"),
              std::string::npos);
    StopLog();
}

TEST(Log, MessageLongerThanTheLineBufferIsCutWrittenAndStops) {
    std::string path = StartLog("-debug");
    std::string huge(6000, 'h');
    EXPECT_EXIT(Log_Print("%s", huge.c_str()), testing::ExitedWithCode(3),
                "Last string too large \\(");
    std::string text = ReadText(path);
    EXPECT_NE(text.find(kBanner + std::string(4095, 'h') + "\n\nABORT: Last string too large ("),
              std::string::npos);
    StopLog();
}

TEST(Log, ShutdownLeavesTheLogUsable) {
    std::string path = StartLog("-debug");
    Log_Shutdown();
    Log_Print("Successful Exit...\n");
    EXPECT_EQ(ReadText(path), kBanner + "Successful Exit...\n");
    StopLog();
}

// ---- The log's file under failing calls ----

std::string Masked(std::string text) { // the timestamps of two runs may differ
    for (char &c : text)
        if (c >= '0' && c <= '9') c = '#';
    return text;
}

// A log run over a stale file: started, a line, a rule, stopped. What the file holds then.
std::string LogOverStaleFile(const char *switches) {
    std::string path = ProgramDir() + kLogName;
    testing_support::WriteFile(path, "stale\n");
    uint32_t flags = 0;
    Log_ParseOptions(&flags, switches);
    Log_Init(kLogName, flags);
    EXPECT_EQ(Log_Print("line %d\n", 1), 1);
    EXPECT_EQ(Log_Section("rule"), 1);
    StopLog();
    return ReadText(path);
}

TEST(Log, AFailedFileCallIsTriedAgainAndLosesOrRepeatsNothing) {
    const std::string stamp = "##/##/#### ##:##:## ", rule = Rule("====[rule]");
    struct {
        const char *switches;
        std::string expected; // masked
        int32_t calls;        // file calls of the run without a failure
    } rows[] = {
        {"-debug", Masked(kBanner) + "line #\n" + rule, 11},
        {"-debug -timestamp", stamp + Masked(kBanner) + stamp + "line #\n" + stamp + rule, 14},
        {"-debug -append", "stale\n" + Masked(kBanner) + "line #\n" + rule, 9},
    };
    int32_t runs = 0;
    for (const auto &row : rows) {
        int32_t before = Sys_FileCalls();
        EXPECT_EQ(Masked(LogOverStaleFile(row.switches)), row.expected) << row.switches;
        ASSERT_EQ(Sys_FileCalls() - before, row.calls) << row.switches;
        for (int32_t nth = 1; nth <= row.calls; nth++, runs++) {
            Sys_FileFailAt(nth);
            before = Sys_FileCalls();
            std::string text = LogOverStaleFile(row.switches);
            int32_t calls = Sys_FileCalls() - before;
            Sys_FileFailAt(0);
            EXPECT_EQ(Masked(text), row.expected) << row.switches << ", call " << nth;
            // The failed call alone is repeated; a close is not (nothing was left for it to do).
            EXPECT_GE(calls, row.calls) << row.switches << ", call " << nth;
            EXPECT_LE(calls, row.calls + 1) << row.switches << ", call " << nth;
        }
    }
    EXPECT_EQ(runs, 34);
    RemoveFile(ProgramDir() + kLogName);
}

#if !defined(_WIN32)
// A log that opens but takes no byte: every write fails with ENOSPC.
TEST(Fatal, ALogOnAFullDiskEndsWithOneReportNotALoop) {
    std::string name = "core-test-full.log", path = ProgramDir() + name;
    RemoveFile(path);
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    uint32_t flags;
    Log_ParseOptions(&flags, "-debug");
    EXPECT_EXIT(Log_Init(name.c_str(), flags), testing::ExitedWithCode(3),
                "^\\[Internal error\\.\\.\\.\\]\nABORT: Unable to write to 'debug\\.log' \\(28\\)\n"
                " +\\([^\n]*\\)\n$");
    RemoveFile(path);
    StopLog();
}
#endif

TEST(Lock, IsRecursive) {
    StartLog("");
    EXPECT_EQ(Core_Lock(), 1);
    EXPECT_EQ(Core_Lock(), 1);
    EXPECT_EQ(Core_Unlock(), 1);
    EXPECT_EQ(Core_Unlock(), 1);
    // The guard takes the lock and its check releases it again.
    for (int i = 0; i < 1000; i++) Core_Locate(__FILE__, __LINE__), Core_AssertPointer("x");
}

TEST(Fatal, AbortReportsLocationAndExitsWithThree) {
    StartLog("");
    EXPECT_EXIT(
        (Core_Locate("install/winmain.cpp", 321), Core_Abort("Broken %s\n", "thing")),
        testing::ExitedWithCode(3),
        "\\[Internal error...\\]\nABORT: Broken thing\n       \\(install/winmain.cpp/321\\)\n");
    EXPECT_EXIT((Core_Locate(__FILE__, 7), Core_AssertPointer(nullptr)), testing::ExitedWithCode(3),
                "ASSERT:Pointer is NULL...\n       \\(tests/unit/core/core_test.cpp/7\\)");
    EXPECT_EXIT((Core_Locate("x.cpp", 9), Core_Assert(0, "Value %d\n", 5)),
                testing::ExitedWithCode(3), "ASSERT:Value 5\n       \\(x.cpp/9\\)");
}

TEST(Fatal, ReportGoesToTheLogWithLeadingBlankLines) {
    std::string path = StartLog("-debug");
    EXPECT_EXIT((Core_Locate("a.cpp", 3), Core_Abort("stop\n")), testing::ExitedWithCode(3),
                "stop");
    EXPECT_EQ(ReadText(path), kBanner + "\n\nABORT: stop\n       (a.cpp/3)\n");
    StopLog();
}

// Quiet mode: the same report in the log and on the standard error handle, the same exit code,
// and no box.
TEST(Fatal, QuietReportEndsTheRunAndSaysSoInTheLog) {
    std::string path = StartLog("-debug");
    EXPECT_EXIT((Core_SetQuiet(1), Core_Locate("a.cpp", 3), Core_Abort("stop\n")),
                testing::ExitedWithCode(3), "^\\[Internal error...\\]\nABORT: stop\n");
    EXPECT_EQ(ReadText(path), kBanner + "\n\nABORT: stop\n       (a.cpp/3)\n");
    EXPECT_EQ(Core_Quiet(), 0); // the death test's process was another one
    StopLog();
}

// The line of a box not shown: caption and text cut to their bounds, the answer whole; the
// standard error handle gets them whole, with a line end added where the text has none.
TEST(Quiet, ReportCutsCaptionAndTextAtTheirBounds) {
    std::string path = StartLog("-debug");
    std::string caption(CORE_QUIET_CAPTION, 'c'), text(CORE_QUIET_TEXT, 't');
    testing::internal::CaptureStderr();
    EXPECT_EQ(Core_QuietReport(caption.c_str(), text.c_str(), "OK"), 1);
    EXPECT_EQ(Core_QuietReport((caption + "C").c_str(), (text + "T").c_str(), "No"), 1);
    EXPECT_EQ(Core_QuietReport("Title", "two\nlines\n", "OK"), 1);
    std::string written = testing::internal::GetCapturedStderr();
    std::string first = "Quiet: [" + caption + "] " + text;
    EXPECT_EQ(ReadText(path),
              kBanner + first + " -> OK\n" + first + " -> No\nQuiet: [Title] two\nlines\n -> OK\n");
    EXPECT_EQ(written, "[" + caption + "]\n" + text + "\n[" + caption + "C]\n" + text +
                           "T\n[Title]\ntwo\nlines\n");
    StopLog();
}

TEST(Fatal, UnwritableLogEndsWithTheBoxNotALoop) {
    std::string name = "core-test-folder.log";
    std::string path = ProgramDir() + name;
#if defined(_WIN32)
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0700);
#endif
    uint32_t flags;
    Log_ParseOptions(&flags, "-debug");
    EXPECT_EXIT(Log_Init(name.c_str(), flags), testing::ExitedWithCode(3),
                "ABORT: Unable to write to 'debug.log' \\(");
    StopLog();
}

// ---- Memory manager ----

int32_t InUse() {
    MemStats stats;
    Mem_GetStats(&stats);
    return stats.bytesInUse;
}

TEST(Memory, AccountsBlockSizes) {
    StartLog("");
    Mem_Init(MEM_NO_LIMIT, 0);
    struct {
        int32_t n, total;
    } rows[] = {{1, 12}, {4, 12}, {5, 16}, {8, 16}, {56, 64}, {57, 68}, {1000, 1008}};
    for (const auto &row : rows) {
        int32_t before = InUse();
        void *area = Mem_Alloc(row.n, 1, __FILE__, __LINE__);
        EXPECT_EQ(InUse() - before, row.total) << row.n;
        EXPECT_EQ(Mem_BlockSize(row.n), row.total);
        Mem_Free(&area, row.n, 1, __FILE__, __LINE__);
        EXPECT_EQ(area, nullptr);
        EXPECT_EQ(InUse(), before);
    }
}

TEST(Memory, AreasAreZeroFilledAndGuarded) {
    Mem_Init(MEM_NO_LIMIT, 0);
    for (int32_t n = 1; n <= 300; n++) {
        unsigned char *area = (unsigned char *)Mem_Alloc(n, 1, __FILE__, __LINE__);
        for (int32_t i = 0; i < n; i++) ASSERT_EQ(area[i], 0) << "n " << n << " byte " << i;
        // Both guards: byte i is ((A >> i) ^ 0xCC) & 0xFF, A the block's low 32 address bits.
        int32_t address = (int32_t)(uint32_t)(uintptr_t)(area - 4);
        int32_t total = Mem_BlockSize(n);
        for (int i = 0; i < 4; i++) {
            unsigned char expected = (unsigned char)(((address >> i) ^ 0xCC) & 0xFF);
            ASSERT_EQ(area[-4 + i], expected);
            ASSERT_EQ(area[total - 8 + i], expected);
        }
        memset(area, 0xAB, (size_t)n); // dirty it, so that a reuse must be cleared again
        Mem_Free(&area, n, 1, __FILE__, __LINE__);
    }
    MemStats stats;
    Mem_GetStats(&stats);
    EXPECT_EQ(stats.blockCount, 0);
    EXPECT_EQ(stats.peakBlockCount, 1);
}

TEST(Memory, CorruptionAndMisuseAreFatal) {
    Mem_Init(MEM_NO_LIMIT, 0);
    EXPECT_EXIT(
        {
            char *area = (char *)Mem_Alloc(8, 1, "a.cpp", 1);
            area[8] = 1;
            Mem_Free(&area, 8, 1, "b.cpp", 2);
        },
        testing::ExitedWithCode(3),
        "ABORT: Memory corrupt \\(8\\) <Before:0 After:1 Max:4>\n       \\(b.cpp/2\\)");
    EXPECT_EXIT(
        {
            char *area = (char *)Mem_Alloc(8, 1, "a.cpp", 1);
            area[-1] = 1;
            Mem_Free(&area, 8, 1, "b.cpp", 3);
        },
        testing::ExitedWithCode(3), "Memory corrupt \\(8\\) <Before:1 After:0 Max:4>");
    EXPECT_EXIT(
        {
            char *area = (char *)Mem_Alloc(8, 1, "a.cpp", 1);
            Mem_Free(&area, 8, 1, "b.cpp", 4);
            Mem_Free(&area, 8, 1, "c.cpp", 5);
        },
        testing::ExitedWithCode(3), "No Memory address to free \\(8 / 16\\)\n       \\(c.cpp/5\\)");
    EXPECT_EXIT(Mem_Alloc(0, 1, "d.cpp", 6), testing::ExitedWithCode(3),
                "Invalid Memory Size \\(0\\)\n       \\(d.cpp/6\\)");
    EXPECT_EXIT(
        {
            void *area = Mem_Alloc(4, 1, "a.cpp", 1);
            Mem_Free(&area, -2, 1, "e.cpp", 7);
        },
        testing::ExitedWithCode(3), "Invalid Memory Size \\(-2\\)");
}

TEST(Memory, BytesInTheRoundingTailGoUnnoticed) {
    Mem_Init(MEM_NO_LIMIT, 0);
    char *area = (char *)Mem_Alloc(5, 1, __FILE__, __LINE__);
    area[5] = area[6] = area[7] = 'x';
    EXPECT_EQ(Mem_Free(&area, 5, 1, __FILE__, __LINE__), 1);
}

TEST(Memory, LimitStopsTheAllocationThatWouldCrossIt) {
    Mem_Init(100, 0);
    EXPECT_EXIT(
        {
            Mem_Alloc(92, 1, "f.cpp", 1);
            Mem_Alloc(1, 1, "f.cpp", 2);
        },
        testing::ExitedWithCode(3),
        "Memory exceeds limit \\(\\(100 \\+ 12\\) / 100\\)\n       \\(f.cpp/2\\)");
    // Before Mem_Init the limit is 0: nothing can be allocated.
    Mem_Init(0, 0);
    EXPECT_EXIT(Mem_Alloc(1, 1, "g.cpp", 1), testing::ExitedWithCode(3),
                "Memory exceeds limit \\(\\(0 \\+ 12\\) / 0\\)");
    Mem_Init(MEM_NO_LIMIT, 0);
}

TEST(Memory, ReportWithLimitAndLeaks) {
    std::string path = StartLog("-debug");
    Mem_Init(64 * 1024, 0);
    void *a = Mem_Alloc(1, 1, __FILE__, __LINE__);
    void *b = Mem_Alloc(5, 1, __FILE__, __LINE__);
    void *c = Mem_Alloc(56, 1, __FILE__, __LINE__);
    Mem_Shutdown();
    std::string expected =
        kBanner + Rule("====[Memory Init]") + "Quickmemory Initialized (Disabled)\n" +
        "Memory Initialized (limit 64k)\n" + Rule("====") + Rule("====[Memory Remove]") +
        "Maximum Memory in use (3 / 0k)\n" + "Not all memory was free'd (3 / 92b)\n" + Rule("====");
    EXPECT_EQ(ReadText(path), expected);
    Mem_Free(&a, 1, 1, __FILE__, __LINE__);
    Mem_Free(&b, 5, 1, __FILE__, __LINE__);
    Mem_Free(&c, 56, 1, __FILE__, __LINE__);
    StopLog();
}

TEST(Memory, CleanRunReportsOnlyThePeak) {
    std::string path = StartLog("-debug");
    Mem_Init(MEM_NO_LIMIT, 0);
    void *big = Mem_Alloc(3000, 1, __FILE__, __LINE__);
    Mem_Free(&big, 3000, 1, __FILE__, __LINE__);
    Mem_Shutdown();
    EXPECT_EQ(ReadText(path), kBanner + kMemoryInit + Rule("====[Memory Remove]") +
                                  "Maximum Memory in use (1 / 2k)\n" + Rule("===="));
#if !defined(_WIN32)
    // Leaks of a kilobyte and more are told in k, also without library diagnostics.
    StartLog("-window");
    testing::internal::CaptureStdout();
    Mem_Init(MEM_NO_LIMIT, 0);
    void *leak = Mem_Alloc(2048, 1, __FILE__, __LINE__);
    Mem_Shutdown();
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown, "Not all memory was free'd (1 / 2k)\n");
    Mem_Free(&leak, 2048, 1, __FILE__, __LINE__);
#endif
    StopLog();
}

} // namespace
