// The temporary fonts of the backdrop with the real system under Wine: a font added and taken
// away again with its file, a refused font (warning box, log lines, nothing removed from then
// on, both files left), and a file that cannot be deleted after its removal.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "fonts.h"
#include "tessel-core.h"
#include "test-font.h"
#include "test-support.h"

using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ProgramDir;
using testing_support::ReadText;
using testing_support::RemoveFile;
using testing_support::WriteFile;

namespace {

using testing_support::LogCapture;

const char *kLogName = "fonts-test.log";

std::string WriteFont(const std::string &folder, const char *name) {
    std::string path = folder + name;
    WriteFile(path, std::string((const char *)kTestFont, sizeof kTestFont));
    return path;
}

// Runs in this order in one process: the refusal sets a flag that lasts for the run.
TEST(TemporaryFonts, AddedFontIsRemovedWithItsFile) {
    std::string folder = MakeTempDir("fonts");
    std::string font = WriteFont(folder, "one.ttf");
    LogCapture log(kLogName);
    EXPECT_EQ(Font_AddTemporary(font.c_str()), 1);
    EXPECT_EQ(Font_Unavailable(), 0);
    EXPECT_EQ(Font_RemoveTemporary(font.c_str()), 1);
    EXPECT_FALSE(FileExists(font));
    EXPECT_EQ(Font_RemoveTemporary(font.c_str()), 0); // no longer added
}

TEST(TemporaryFonts, FileThatCannotBeDeletedCostsOnlyALine) {
    std::string folder = MakeTempDir("fonts");
    std::string font = WriteFont(folder, "held.ttf");
    ASSERT_EQ(Font_AddTemporary(font.c_str()), 1);
    // Held open without delete sharing: the removal works, the deletion does not.
    HANDLE held =
        CreateFileA(font.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LogCapture log(kLogName);
    EXPECT_EQ(Font_RemoveTemporary(font.c_str()), 1);
    CloseHandle(held);
    EXPECT_EQ(log.Take(), "Non-fatal unable to delete file '" + font + "'\n");
    EXPECT_TRUE(FileExists(font));
    RemoveFile(font);
}

TEST(TemporaryFonts, RefusedFontWarnsEachTimeAndNothingIsRemovedAfterwards) {
    std::string folder = MakeTempDir("fonts");
    std::string good = WriteFont(folder, "good.ttf");
    std::string junk = folder + "junk.ttf";
    WriteFile(junk, "not a font at all");
    LogCapture log(kLogName);
    EXPECT_EQ(Font_AddTemporary(good.c_str()), 1);
    EXPECT_EQ(Font_AddTemporary(junk.c_str()), 1); // refused, but the command goes on
    EXPECT_EQ(Font_Unavailable(), 1);
    EXPECT_EQ(Font_AddTemporary(junk.c_str()), 1);
    std::string text = log.Take();
    // Each refusal: the wrapper's line and this module's, with the last-error code.
    std::string line = "Unable to add font resource for '" + junk + "' (0x";
    size_t first = text.find(line), count = 0;
    for (size_t at = first; at != std::string::npos; at = text.find(line, at + 1)) count++;
    EXPECT_EQ(count, 4u) << text;
    // Without a display the warning box returns at once; its text is in the real box tests.
    EXPECT_EQ(Font_RemoveTemporary(good.c_str()), 1);
    EXPECT_EQ(Font_RemoveTemporary(junk.c_str()), 1);
    EXPECT_TRUE(FileExists(good));
    EXPECT_TRUE(FileExists(junk));
    RemoveFile(junk);
}

} // namespace
