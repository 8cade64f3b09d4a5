// The Win32 side of the log's platform needs, under Wine: the module path, the command line,
// the error box (without a display it returns at once) and the console of "-window".
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"

namespace {

TEST(Seam, ExecutablePathIsTheModulePathAndIsCutToTheBuffer) {
    char expected[MAX_PATH];
    GetModuleFileNameA(NULL, expected, sizeof expected);
    char path[MAX_PATH];
    EXPECT_EQ(Sys_ExecutablePath(path, sizeof path), (int)strlen(expected));
    EXPECT_STREQ(path, expected);
    EXPECT_NE(std::string(path).find("seam_test.exe"), std::string::npos);
    char small[8];
    EXPECT_EQ(Sys_ExecutablePath(small, sizeof small), 7);
    EXPECT_EQ(std::string(small), std::string(expected).substr(0, 7));
}

TEST(Seam, CommandLineNamesTheProgram) {
    const char *line = Sys_CommandLine();
    ASSERT_NE(line, nullptr);
    const char *found;
    EXPECT_EQ(Str_FindNoCase(line, "seam_test", &found), 1);
}

struct Contender {
    void *mutex;
    volatile LONG taken;
};

DWORD WINAPI TakeAndRelease(void *context) {
    Contender *contender = (Contender *)context;
    Sys_MutexTake(contender->mutex);
    InterlockedExchange(&contender->taken, 1);
    Sys_MutexRelease(contender->mutex);
    return 0;
}

// Recursive for its thread, and another thread waits until the last release.
TEST(Seam, LockIsRecursiveForItsThreadAndKeepsOthersOut) {
    void *mutex = Sys_MutexCreate();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(Sys_MutexTake(mutex), 1);
    EXPECT_EQ(Sys_MutexTake(mutex), 1);
    Contender contender = {mutex, 0};
    HANDLE thread = CreateThread(NULL, 0, TakeAndRelease, &contender, 0, NULL);
    ASSERT_NE(thread, nullptr);
    Sys_MutexRelease(mutex);
    EXPECT_EQ(WaitForSingleObject(thread, 200), (DWORD)WAIT_TIMEOUT); // still held once
    EXPECT_EQ(contender.taken, 0);
    Sys_MutexRelease(mutex);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(contender.taken, 1);
    CloseHandle(thread);
    Sys_MutexDestroy(mutex);
}

TEST(Seam, FatalReportShowsTheBoxAndExitsWithThree) {
    EXPECT_EXIT((Core_Locate("install/winmain.cpp", 12), Core_Abort("Broken\n")),
                testing::ExitedWithCode(3),
                "\\[Internal error...\\]\nABORT: Broken\n       \\(install/winmain.cpp/12\\)");
}

// Headless Wine hands out a console that takes no output; the log must not care (the console
// write's result is not examined), and the file log beside it goes on.
TEST(Seam, WindowSwitchOpensAConsoleAndTheLogGoesOn) {
    EXPECT_EXIT(
        {
            FreeConsole(); // as a GUI program starts: without a console
            uint32_t flags;
            Log_ParseOptions(&flags, "-window -debug");
            Log_Init("seam-test.log", flags);
            Log_Print("console line\n");
            HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
            exit(output != NULL && output != INVALID_HANDLE_VALUE ? 5 : 6);
        },
        testing::ExitedWithCode(5), "");
}

} // namespace
