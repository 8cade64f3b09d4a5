// The two message boxes with the real system under Wine. Without a display no box can be shown:
// the question then counts as Yes and the notice gives 1. With a display (the program's second
// run) a thread of the test finds each box, records its title, owner and buttons, and presses
// the button the case asks for.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string>
#include <thread>

#include "tessel-core.h"
#include "test-support.h"
#include "ui.h"

namespace {

using testing_support::DisplayAvailable;

struct SeenBox {
    std::string title;
    HWND owner = NULL;
    bool yes = false, no = false, ok = false;
    bool found = false;
};

// Waits up to waitMs for a box of this process, records it and presses button `press`.
void AnswerBox(SeenBox *seen, int press, int waitMs) {
    HWND box = testing_support::WaitForDialog(nullptr, waitMs);
    if (!box) return;
    seen->title = testing_support::WindowText(box);
    seen->owner = GetWindow(box, GW_OWNER);
    seen->yes = GetDlgItem(box, IDYES) != NULL;
    seen->no = GetDlgItem(box, IDNO) != NULL;
    seen->ok = GetDlgItem(box, IDOK) != NULL;
    seen->found = true;
    testing_support::PressButton(box, press);
}

// Runs `show` while a second thread answers its box with `press`, waiting up to waitMs for it.
template <typename Show> int ShowAnswered(Show show, int press, SeenBox *seen, int waitMs = 10000) {
    std::thread answerer(AnswerBox, seen, press, waitMs);
    int result = show();
    answerer.join();
    return result;
}

TEST(MessageBoxes, UnshownQuestionCountsAsYesAndNoticeGivesOne) {
    if (DisplayAvailable()) GTEST_SKIP() << "boxes are shown: see the answered cases";
    EXPECT_EQ(Ui_Confirm("Continue?", nullptr), 1);
    EXPECT_EQ(Ui_Confirm("Continue?", "Title"), 1);
    EXPECT_EQ(Ui_Problem("Something went wrong", nullptr), 1);
}

TEST(MessageBoxes, QuestionHasYesAndNoAndTheDefaultTitle) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    SeenBox seen;
    EXPECT_EQ(ShowAnswered([] { return Ui_Confirm("Continue?", nullptr); }, IDNO, &seen), 0);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, "Install...");
    EXPECT_EQ(seen.owner, (HWND)NULL); // no backdrop window yet
    EXPECT_TRUE(seen.yes && seen.no);
    EXPECT_FALSE(seen.ok);

    SeenBox titled;
    EXPECT_EQ(ShowAnswered([] { return Ui_Confirm("Continue?", "Own title"); }, IDYES, &titled), 1);
    EXPECT_EQ(titled.title, "Own title");
}

TEST(MessageBoxes, NoticeHasOnlyOkAndTheDefaultTitle) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    SeenBox seen;
    EXPECT_EQ(ShowAnswered([] { return Ui_Problem("Something went wrong", nullptr); }, IDOK, &seen),
              1);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, "Install problem...");
    EXPECT_TRUE(seen.ok);
    EXPECT_FALSE(seen.yes || seen.no);
}

TEST(MessageBoxes, OwnerIsTheWindowLastSet) {
    EXPECT_EQ(Ui_GetOwner(), nullptr);
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    HWND window = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, NULL,
                                  NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(window, nullptr);
    Ui_SetOwner(window);
    EXPECT_EQ(Ui_GetOwner(), window);
    SeenBox seen;
    EXPECT_EQ(ShowAnswered([] { return Ui_Problem("Owned notice", nullptr); }, IDOK, &seen), 1);
    EXPECT_EQ(seen.owner, window);
    EXPECT_EQ(Ui_DestroyWindow(window), 1);
    EXPECT_FALSE(IsWindow(window));
    Ui_SetOwner(nullptr);
    EXPECT_EQ(Ui_GetOwner(), nullptr);
}

// Quiet mode shows neither box, with a display or without: the question is answered No, the
// notice acknowledged, and the log says so. A box shown by mistake is found and answered, so
// that the case fails instead of waiting.
TEST(MessageBoxes, QuietModeShowsNoBoxAndLogsTheAnswerTaken) {
    testing_support::LogCapture log("ui-test.log");
    Core_SetQuiet(1);
    SeenBox seen;
    EXPECT_EQ(ShowAnswered([] { return Ui_Confirm("Overwrite?", nullptr); }, IDYES, &seen, 2000),
              0);
    EXPECT_EQ(ShowAnswered([] { return Ui_Problem("Disk full", "Own title"); }, IDOK, &seen, 2000),
              1);
    Core_SetQuiet(0);
    EXPECT_FALSE(seen.found) << seen.title;
    EXPECT_EQ(log.Text(), "Quiet: [Install...] Overwrite? -> No\n"
                          "Quiet: [Own title] Disk full -> OK\n");
}

} // namespace
