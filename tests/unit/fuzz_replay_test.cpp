// The fuzz targets' bodies (fuzz/fuzz-entries.h) over every input kept in fuzz/corpus, without
// libFuzzer: the seeds and every crash or regression input saved beside them in its target's
// folder. A broken invariant traps, so the run ends there; the input's name is on stderr just
// before. A missing or empty folder fails, and so does a folder no target reads, so that the
// replay never passes by testing nothing.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz-entries.h"
#include "test-support.h"

#if !defined(TESSEL_FUZZ_CORPUS)
#error "TESSEL_FUZZ_CORPUS names the corpus folder (tests/CMakeLists.txt)"
#endif

namespace {

const struct {
    const char *folder;
    void (*entry)(const uint8_t *data, size_t size);
} kTargets[] = {
    {"archive", Fuzz_Archive}, {"lzma", Fuzz_Lzma},     {"script", Fuzz_Script},
    {"type2", Fuzz_Type2},     {"uninst", Fuzz_Uninst},
};

// The names in folder (without "." and ".."), sorted; false when it cannot be read.
bool ListFolder(const std::string &folder, std::vector<std::string> *names) {
    DIR *dir = opendir(folder.c_str());
    if (!dir) return false;
    while (const dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

bool IsFile(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The entries work in a folder of their own, made the current one at their first input; after
// the last test it is removed and the first current folder restored.
class WorkFolder : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_NE(getcwd(home_, sizeof home_), nullptr); }
    void TearDown() override {
        char work[4096];
        if (!getcwd(work, sizeof work) || std::string(work) == home_) return;
        for (const char *name : {"setup.exe", "install.dat", "uninst.exe"})
            std::remove((std::string(work) + "/" + name).c_str());
        EXPECT_EQ(chdir(home_), 0);
        EXPECT_EQ(rmdir(work), 0) << work;
    }

  private:
    char home_[4096] = "";
};
::testing::Environment *const kWorkFolder = ::testing::AddGlobalTestEnvironment(new WorkFolder);

TEST(FuzzReplay, EveryCorpusFolderBelongsToATarget) {
    std::vector<std::string> folders;
    ASSERT_TRUE(ListFolder(TESSEL_FUZZ_CORPUS, &folders)) << TESSEL_FUZZ_CORPUS;
    for (const std::string &folder : folders) {
        bool known = false;
        for (const auto &target : kTargets) known = known || folder == target.folder;
        EXPECT_TRUE(known) << "no target reads fuzz/corpus/" << folder;
    }
}

TEST(FuzzReplay, EveryInputKeepsTheInvariants) {
    for (const auto &target : kTargets) {
        const std::string folder = std::string(TESSEL_FUZZ_CORPUS) + "/" + target.folder;
        std::vector<std::string> names;
        EXPECT_TRUE(ListFolder(folder, &names)) << "missing: " << folder;
        EXPECT_FALSE(names.empty()) << "no input in " << folder;
        for (const std::string &name : names) {
            const std::string path = folder + "/" + name;
            ASSERT_TRUE(IsFile(path)) << "not a file: " << path;
            bool read = false;
            const std::string input = testing_support::ReadFile(path, &read);
            ASSERT_TRUE(read) << path;
            std::fprintf(stderr, "replaying %s\n", path.c_str());
            target.entry((const uint8_t *)input.data(), input.size());
        }
    }
}

} // namespace
