// Shared by the script engine's tests: a debug log captured in a file beside the test program,
// scripts written to a temporary folder and loaded through the disk-file fallback of the
// archive reader (no archive is open in these tests), and the registry filled and emptied
// around each test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "command.h"
#include "host-ui.h"
#include "iscript.h"
#include "tessel-core.h"
#include "test-support.h"

namespace engine_test {

// The engine's log as a run with "-debug" writes it (the library's lines too), with the memory
// manager started afresh; Text begins after the lines of that start.
class LogCapture : public testing_support::LogCapture {
  public:
    explicit LogCapture(const char *name)
        : testing_support::LogCapture(name, LOG_FILE | LOG_LIBRARY) {
        Mem_Init(MEM_NO_LIMIT, 0);
        Take();
    }
};

inline int32_t LiveBlocks() {
    MemStats stats{};
    Mem_GetStats(&stats);
    return stats.blockCount;
}

// A test with the whole keyword table registered, a log, and a temporary folder for scripts;
// it checks at the end that every block was given back.
class EngineTest : public ::testing::Test {
  protected:
    explicit EngineTest(const char *logName = "engine-test.log") : log_(logName) {}
    void SetUp() override {
        blocks_ = LiveBlocks();
        Cmd_RegisterAll();
        Script_RegisterBreak();
        dir_ = testing_support::MakeTempDir("engine");
        HostUi_Reset();
    }
    void TearDown() override {
        if (state_) Script_Release(&state_);
        Cmd_ReleaseAll();
        EXPECT_EQ(LiveBlocks(), blocks_) << "blocks left allocated";
    }
    // Writes bytes as a file of the temporary folder and returns its full path.
    std::string Write(const std::string &name, const std::string &bytes) {
        std::string path = dir_ + name;
        EXPECT_TRUE(testing_support::WriteFile(path, bytes));
        return path;
    }
    // Loads bytes as the script of a new state.
    void Load(const std::string &bytes, int32_t mode = Quiet) {
        if (state_) Script_Release(&state_);
        ASSERT_EQ(Script_Load(&state_, Write("install.dat", bytes).c_str(), mode), 1);
    }

    LogCapture log_;
    InstallState *state_ = nullptr;
    std::string dir_;
    int32_t blocks_ = 0;
};

// One command line: marker, keyword, ":", the arguments separated by markers, CR LF.
inline std::string Line(const std::string &keyword, std::initializer_list<std::string> args = {}) {
    std::string line = "\x16" + keyword + ":";
    bool first = true;
    for (const auto &arg : args) {
        if (!first) line += "\x16";
        line += arg;
        first = false;
    }
    return line + "\r\n";
}

} // namespace engine_test
