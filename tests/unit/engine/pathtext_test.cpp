// The text side of script paths: the walk over the leading macros with a directory table of
// the test's own, the drive test, the refusal of a path one byte too long, and the merge of a
// picked folder with the installation directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine-support.h"
#include "pathtext.h"

using engine_test::LogCapture;

namespace {

const char *kInstallPath = "C:\\Program Files\\Acme\\";

// The directories of the test's macros; '5' names one that cannot be had.
const struct {
    char letter;
    const char *dir;
} kMacroDirs[] = {
    {'0', "C:\\Program Files\\"}, {'1', "C:\\Windows\\"}, {'2', "C:\\Windows\\System32\\"},
    {'4', "C:\\Temp\\"},          {'5', nullptr},
};

int TestDir(char letter, char *buffer, int size) {
    for (const auto &macro : kMacroDirs) {
        if (macro.letter != letter) continue;
        if (!macro.dir || (int)strlen(macro.dir) >= size) return 0;
        strcpy(buffer, macro.dir);
        return 1;
    }
    return -1;
}

class Expand : public ::testing::Test {
  protected:
    Expand() : log_("pathtext-test.log") {}
    // Expands input into a buffer of size bytes, filled with 'x' before.
    int Run(const std::string &input, int size = PATH_EXPAND_SIZE) {
        output_.assign((size_t)size + 1, 'x');
        flags_ = 0xFFFFFFFFu;
        return PathText_Expand(kInstallPath, input.c_str(), TestDir, &output_[0], size, &flags_);
    }
    std::string Output() const { return std::string(output_.c_str()); }
    LogCapture log_;
    std::string output_;
    uint32_t flags_ = 0;
};

TEST_F(Expand, MacrosReplaceWhatWasBuiltAndTheRestIsAppended) {
    const struct {
        const char *input, *expanded;
        uint32_t flags;
    } rows[] = {
        {"readme.txt", "C:\\Program Files\\Acme\\readme.txt", 0},
        {"docs\\readme.txt", "C:\\Program Files\\Acme\\docs\\readme.txt", 0},
        {"", "C:\\Program Files\\Acme\\", 0},
        {"$1\\notepad.exe", "C:\\Windows\\notepad.exe", 0}, // one backslash after the macros
        {"$1notepad.exe", "C:\\Windows\\notepad.exe", 0},
        {"$1\\\\x", "C:\\Windows\\\\x", 0},                 // only the first is dropped
        {"$1$2\\x.dll", "C:\\Windows\\System32\\x.dll", 0}, // the last directory wins
        {"$2$1", "C:\\Windows\\", 0},
        {"$0Acme\\", "C:\\Program Files\\Acme\\", 0},
        {"$?readme.txt", "C:\\Program Files\\Acme\\readme.txt", PATH_FLAG_CONFIRM},
        {"$?$4\\a.tmp", "C:\\Temp\\a.tmp", PATH_FLAG_CONFIRM},
        {"$4$?a.tmp", "C:\\Temp\\a.tmp", PATH_FLAG_CONFIRM},
        {"$6readme.txt", "C:\\Program Files\\Acme\\readme.txt", 0}, // accepted, does nothing
        {"$6$1x", "C:\\Windows\\x", 0},
        {"$", "C:\\Program Files\\Acme\\$", 0},     // a "$" with nothing after it is text
        {"a$1", "C:\\Program Files\\Acme\\a$1", 0}, // macros only at the start
        {"$1a$2", "C:\\Windows\\a$2", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(Run(row.input), 1);
        EXPECT_EQ(Output(), row.expanded);
        EXPECT_EQ(flags_, row.flags);
    }
    EXPECT_EQ(log_.Text(), ""); // no row is worth a log line
}

TEST_F(Expand, UnknownLettersAreLoggedAndPassedOver) {
    const struct {
        const char *input, *expanded, *line;
    } rows[] = {
        {"$Qa.txt", "C:\\Program Files\\Acme\\a.txt", "Unknown command 'Q'\n"},
        {"$1$za.txt", "C:\\Windows\\a.txt", "Unknown command 'z'\n"},
        {"$7a.txt", "C:\\Program Files\\Acme\\a.txt", "Unknown command '7'\n"},
        {"$$a.txt", "C:\\Program Files\\Acme\\a.txt", "Unknown command '$'\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input);
        size_t before = log_.Text().size();
        EXPECT_EQ(Run(row.input), 1);
        EXPECT_EQ(Output(), row.expanded);
        EXPECT_EQ(flags_, 0u);
        EXPECT_EQ(log_.Text().substr(before), row.line);
    }
}

TEST_F(Expand, ADirectoryThatCannotBeHadRefusesThePath) {
    for (const char *input : {"$5a.txt", "$1$5a.txt", "$?$5a.txt", "$5$1a.txt"}) {
        SCOPED_TRACE(input);
        size_t before = log_.Text().size();
        EXPECT_EQ(Run(input), 0);
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(log_.Text().substr(before), "Unable to get the directory of '$5'\n");
    }
}

TEST_F(Expand, ADriveLetterStartsFromNothing) {
    const struct {
        const char *input, *expanded;
    } rows[] = {
        {"D:\\Data\\a.txt", "D:\\Data\\a.txt"},
        {"d:a.txt", "d:a.txt"},
        {"Z:", "Z:"},
        {"1:\\a.txt", "C:\\Program Files\\Acme\\1:\\a.txt"}, // no letter, no drive
        {"\\\\server\\share\\a", "C:\\Program Files\\Acme\\\\server\\share\\a"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(Run(row.input), 1);
        EXPECT_EQ(Output(), row.expanded);
    }
}

TEST(Drive, ALetterOfEitherCaseAndAColon) {
    // The bytes around the letters: '@' '[' '`' '{' fold onto no letter.
    const struct {
        const char *path;
        int drive;
    } rows[] = {
        {"A:", 1}, {"Z:\\", 1}, {"a:", 1}, {"z:x", 1}, {"C:\\Windows", 1},
        {"@:", 0}, {"[:", 0},   {"`:", 0}, {"{:", 0},  {"1:", 0},
        {"C", 0},  {"C\\:", 0}, {":C", 0}, {"", 0},    {"\\\\server\\share", 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(PathText_StartsWithDrive(row.path), row.drive) << row.path;
}

TEST_F(Expand, APathOfSizeBytesIsRefusedAndOneShorterFits) {
    const std::string install = kInstallPath;
    for (int size : {64, 260, (int)PATH_EXPAND_SIZE}) {
        SCOPED_TRACE(size);
        // The longest accepted: size - 1 characters and the zero.
        std::string fits(size - 1 - install.size(), 'f');
        EXPECT_EQ(Run(fits, size), 1);
        EXPECT_EQ(Output(), install + fits);
        EXPECT_EQ(output_[size], 'x'); // nothing written past the buffer

        // The shortest refused: size characters. Output is emptied, not cut.
        std::string over(size - install.size(), 'o');
        size_t before = log_.Text().size();
        EXPECT_EQ(Run(over, size), 0);
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(log_.Text().substr(before), "Path '" + over + "' too long (" +
                                                  std::to_string(size) + " > " +
                                                  std::to_string(size - 1) + ")\n");
    }
}

TEST_F(Expand, TheSizeEdgeCountsTheMacroDirectoryNotTheMacro) {
    const std::string dir = "C:\\Windows\\";
    const int size = 40;
    std::string fits = "$1\\" + std::string(size - 1 - dir.size(), 'f');
    EXPECT_EQ(Run(fits, size), 1);
    EXPECT_EQ(Output().size(), (size_t)size - 1);
    std::string over = "$1\\" + std::string(size - dir.size(), 'o');
    EXPECT_EQ(Run(over, size), 0);
    EXPECT_TRUE(log_.Has("Path '" + over + "' too long (40 > 39)\n")) << log_.Text();
}

TEST_F(Expand, NoRoomAtAllIsRefused) {
    EXPECT_EQ(Run("a", 0), 0);
    EXPECT_EQ(output_[0], 'x'); // a buffer of no bytes is not written
    EXPECT_EQ(Run("", 1), 0);   // the installation path alone does not fit one byte
    EXPECT_EQ(Output(), "");
}

TEST(Browse, PickedFolderMergesWithTheInstallationDirectory) {
    const struct {
        const char *picked, *dir, *merged;
    } rows[] = {
        {"D:\\Apps\\", "Tools\\Viewer\\", "D:\\Apps\\Tools\\Viewer\\"},
        {"D:\\", "Tools\\Viewer\\", "D:\\Tools\\Viewer\\"},
        {"D:\\Apps\\Tools\\", "Tools\\Viewer\\", "D:\\Apps\\Tools\\Viewer\\"},
        {"D:\\Apps\\Tools\\Viewer\\", "Tools\\Viewer\\", "D:\\Apps\\Tools\\Viewer\\"},
        {"D:\\Apps\\TOOLS\\", "Tools\\Viewer\\", "D:\\Apps\\Tools\\Viewer\\"},
        {"D:\\apps\\tools\\viewer\\", "Tools\\Viewer\\", "D:\\apps\\tools\\viewer\\"},
        {"D:\\Apps\\", "", "D:\\Apps\\"},
    };
    for (const auto &row : rows) {
        char picked[320];
        strcpy(picked, row.picked);
        EXPECT_EQ(PathText_MergeFolder(picked, sizeof picked, row.dir), 1) << row.picked;
        EXPECT_STREQ(picked, row.merged) << row.picked;
    }
    char picked[160];
    std::string folder = "D:\\" + std::string(145, 'a') + "\\"; // 148 characters
    strcpy(picked, folder.c_str());
    EXPECT_EQ(PathText_MergeFolder(picked, sizeof picked, "Tools\\Viewer\\"), 0);
    EXPECT_EQ(folder, picked); // refused, untouched
}

TEST(Browse, AMergeOfSizeCharactersIsRefusedAndOneShorterFits) {
    const std::string dir = "Tools\\Viewer\\";
    const int size = 64;
    const struct {
        int mergedLength;
        int result;
    } rows[] = {{size - 1, 1}, {size, 0}};
    for (const auto &row : rows) {
        // "D:\aaa\" whose merge with dir is mergedLength characters long.
        std::string folder = "D:\\" + std::string(row.mergedLength - dir.size() - 4, 'a') + "\\";
        char picked[size + 1];
        memset(picked, 'x', sizeof picked);
        strcpy(picked, folder.c_str());
        EXPECT_EQ(PathText_MergeFolder(picked, size, dir.c_str()), row.result) << row.mergedLength;
        EXPECT_EQ(std::string(picked), row.result ? folder + dir : folder) << row.mergedLength;
        EXPECT_EQ(picked[size], 'x');
    }
}

} // namespace
