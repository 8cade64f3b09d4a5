// The archive reader's tests' common ground: a fixture with a fresh memory manager, a
// temporary folder and the captured log, archives built by the builder, and the reader opened
// with the codec as start-up opens it.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ffs-cmp2.h"
#include "ffs.h"
#include "pack.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tessel-stamp.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "test-support.h"

using testing_support::LittleEndian;
using testing_support::LogCapture;
using testing_support::MakeTempDir;
using testing_support::PeHeader;
using testing_support::PeHeaderBytes;
using testing_support::PutWord;
using testing_support::RawArchive;
using testing_support::RawEntry;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// The log of this test program, named after it: ctest runs the reader's programs side by side,
// and a log file they shared would mix their lines.
inline std::string LogName() {
    const std::string dir = testing_support::ProgramDir();
    char path[1024];
    Sys_ExecutablePath(path, sizeof path);
    std::string name = std::string(path).substr(dir.size());
    const size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".log";
}

inline std::string Text(const PackBytes &bytes) { return std::string(bytes.begin(), bytes.end()); }
inline PackBytes Bytes(const std::string &text) { return PackBytes(text.begin(), text.end()); }

inline PackBytes Random(std::mt19937 &random, size_t size, int alphabet) {
    PackBytes data(size);
    for (auto &b : data) b = (uint8_t)(random() % (unsigned)alphabet);
    return data;
}

class Ffs : public ::testing::Test {
  protected:
    std::string dir;
    LogCapture log_{LogName().c_str()};

    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        dir = MakeTempDir("ffs");
    }
    void TearDown() override {
        Ffs_Close();
        MemStats stats;
        Mem_GetStats(&stats);
        EXPECT_EQ(stats.blockCount, 0) << "blocks left behind";
    }

    // The log so far, emptied for the next step.
    std::string TakeLog() { return log_.Take(); }

    std::string Write(const std::string &name, const std::string &data) {
        std::string path = dir + name;
        EXPECT_TRUE(WriteFile(path, data));
        return path;
    }

    std::string Build(const std::vector<PackInput> &inputs, const std::string &stub,
                      uint32_t flags = PACK_DEFAULT_FLAGS) {
        PackBytes archive;
        std::string error;
        PackNotes notes;
        EXPECT_TRUE(Pack_BuildArchive(inputs, flags, (uint32_t)stub.size(), !stub.empty(), &archive,
                                      &error, &notes))
            << error;
        return Write("archive.bin", stub + Text(archive));
    }

    // Ffs_Open with the codec, as start-up does.
    bool Open(const std::string &path, int32_t offset = 0) {
        if (!Ffs_Open(path.c_str(), offset)) return false;
        Ffs_AddCodec(&Type2_Codec);
        return true;
    }

    // Size query and load of name; the bytes, or "<missing>".
    std::string Load(const std::string &name) {
        int32_t size = 0;
        if (!Ffs_GetSize(name.c_str(), &size)) return "<missing>";
        std::string buffer((size_t)size, '\0');
        if (!Ffs_Load(name.c_str(), &buffer[0], size)) return "<unloadable>";
        return buffer;
    }
};

inline uint32_t Crc(const std::string &name) { return Core_Crc32(name.data(), (int)name.size()); }

} // namespace
