// The text dialogs and the progress window with the real system under Wine. The texts come from
// the builder's archives (one written by hand, with a cut entry) and from disk files; a thread
// of the test finds each dialog, records its title, text field and buttons and answers it. Without
// a display no dialog can appear: then only the loading, the failure lines and the window-less
// progress calls are checked.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

#include "dialogs.h"
#include "ffs-cmp2.h"
#include "ffs.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-support.h"

using testing_support::MakeTempDir;
using testing_support::WriteFile;

namespace {

const char *kLogName = "dialogs-test.log";

using testing_support::DisplayAvailable;

// ---- Templates ----

// One dialog template of this program's resources, read back item by item.
struct TemplateItem {
    int id = 0;
    std::string className, text; // the class atoms of buttons and edits as "Button", "Edit"
    int x = 0, y = 0, w = 0, h = 0;
    DWORD style = 0;
};
struct Template {
    bool found = false, extended = false;
    DWORD style = 0, exStyle = 0;
    int x = 0, y = 0, w = 0, h = 0, points = 0;
    std::string caption, font;
    std::vector<TemplateItem> items;
};

struct TemplateReader {
    const BYTE *base, *at;
    WORD Word() {
        WORD v = *(const WORD *)at;
        at += 2;
        return v;
    }
    DWORD Dword() {
        DWORD v = *(const DWORD *)at;
        at += 4;
        return v;
    }
    void Align() { at = base + ((at - base + 3) & ~3); }
    std::string Text() { // a zero-terminated UTF-16 text of ASCII letters
        std::string text;
        while (WORD c = Word()) text += (char)c;
        return text;
    }
    std::string NameOrAtom() {
        if (*(const WORD *)at != 0xFFFF) return Text();
        at += 2;
        WORD atom = Word();
        return atom == 0x80 ? "Button" : atom == 0x81 ? "Edit" : "#" + std::to_string(atom);
    }
};

template <typename Placed> std::string Box(const Placed &p) {
    return std::to_string(p.x) + "," + std::to_string(p.y) + " " + std::to_string(p.w) + "x" +
           std::to_string(p.h);
}

Template ReadTemplate(int id) {
    Template t;
    HRSRC resource = FindResourceA(NULL, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
    if (!resource) return t;
    TemplateReader r;
    r.base = r.at = (const BYTE *)LockResource(LoadResource(NULL, resource));
    t.found = true;
    t.extended = ((const WORD *)r.at)[1] == 0xFFFF;
    if (t.extended) {
        r.Word(), r.Word(), r.Dword();
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    int count = r.Word();
    t.x = (short)r.Word(), t.y = (short)r.Word(), t.w = (short)r.Word(), t.h = (short)r.Word();
    r.NameOrAtom(); // menu
    r.NameOrAtom(); // class
    t.caption = r.Text();
    if (t.style & DS_SETFONT) {
        t.points = r.Word();
        if (t.extended) r.Word(), r.Word();
        t.font = r.Text();
    }
    for (int i = 0; i < count; i++) {
        r.Align();
        TemplateItem item;
        if (t.extended) {
            r.Dword(), r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            r.Dword();
        }
        item.x = (short)r.Word(), item.y = (short)r.Word(), item.w = (short)r.Word(),
        item.h = (short)r.Word();
        item.id = t.extended ? (int)r.Dword() : r.Word();
        item.className = r.NameOrAtom();
        item.text = r.NameOrAtom();
        r.at += r.Word(); // creation data
        t.items.push_back(item);
    }
    return t;
}

TEST(Templates, TextDialogsHaveTheirButtonsFieldAndFrame) {
    const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION;
    const DWORD field = ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
    const struct {
        int dialog, field;
        const char *defaultText, *otherText;
        int defaultId;
    } rows[] = {{1003, 1013, "Continue", "Exit Setup", 1},
                {1006, 1026, "I Do Not Accept", "I Accept", 2}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dialog);
        Template t = ReadTemplate(row.dialog);
        ASSERT_TRUE(t.found);
        EXPECT_FALSE(t.extended);
        EXPECT_EQ(t.style & frame, frame);
        EXPECT_EQ(t.style & WS_SYSMENU, 0u);
        EXPECT_EQ(Box(t), "66,50 227x186");
        EXPECT_EQ(t.caption, "Title");
        EXPECT_EQ(t.font, "Helv");
        EXPECT_EQ(t.points, 8);
        ASSERT_EQ(t.items.size(), 3u);
        const TemplateItem &first = t.items[0], &second = t.items[1], &text = t.items[2];
        EXPECT_EQ(first.id, row.defaultId);
        EXPECT_EQ(first.text, row.defaultText);
        EXPECT_EQ(first.style & 0xF, (DWORD)BS_DEFPUSHBUTTON);
        EXPECT_EQ(second.id, 3 - row.defaultId);
        EXPECT_EQ(second.text, row.otherText);
        EXPECT_EQ(second.style & 0xF, (DWORD)BS_PUSHBUTTON);
        for (const TemplateItem *button : {&first, &second}) EXPECT_EQ(button->className, "Button");
        EXPECT_EQ(Box(first), "155,170 65x13");
        EXPECT_EQ(Box(second), "5,170 65x13");
        EXPECT_EQ(text.id, row.field);
        EXPECT_EQ(text.className, "Edit");
        EXPECT_EQ(text.text, "");
        EXPECT_EQ(text.style & field, field);
        EXPECT_EQ(Box(text), "5,5 215x160");
    }
}

TEST(Templates, ProgressWindowIsASmallToolWindowWithItsBar) {
    Template t = ReadTemplate(117);
    ASSERT_TRUE(t.found);
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.style & (WS_POPUP | WS_CAPTION), (DWORD)(WS_POPUP | WS_CAPTION));
    EXPECT_EQ(t.style & WS_VISIBLE, 0u); // created hidden
    EXPECT_TRUE(t.exStyle & WS_EX_TOOLWINDOW);
    EXPECT_EQ(Box(t), "0,0 202x20");
    EXPECT_EQ(t.caption, "Please wait...");
    EXPECT_EQ(t.font, "MS Sans Serif");
    EXPECT_EQ(t.points, 8);
    ASSERT_EQ(t.items.size(), 1u);
    const TemplateItem &bar = t.items[0];
    EXPECT_EQ(bar.id, 1012);
    EXPECT_EQ(_stricmp(bar.className.c_str(), "msctls_progress32"), 0) << bar.className; // any case
    EXPECT_EQ(bar.text, "Progress2");
    EXPECT_TRUE(bar.style & WS_BORDER);
    EXPECT_EQ(Box(bar), "5,5 190x10");
}

// ---- Text dialogs ----

struct SeenDialog {
    bool found = false;
    std::string title, text, button1, button2;
    HWND owner = NULL;
    int defaultId = 0;
    LONG fieldStyle = 0, fieldExStyle = 0;
    int limit = 0, lineCount = 0;
    DWORD selectionEnd = 0;
    int firstVisibleLine = -1;
    RECT rect = {0, 0, 0, 0};
};

enum Answer { Press1, Press2, Escape, Enter, SystemClose };

std::string TextOf(HWND window) {
    char text[4096] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, (LPARAM)text);
    return text;
}

// Waits up to ten seconds for a dialog of this process, records it with its text field
// `field`, and answers it.
void AnswerDialog(SeenDialog *seen, int field, Answer answer) {
    // The progress window is a dialog too, but never the one asked for.
    HWND dialog =
        testing_support::WaitForDialog([](HWND w) { return w != (HWND)Progress_Window(); });
    if (!dialog) return;
    HWND edit = GetDlgItem(dialog, field);
    seen->found = true;
    seen->title = TextOf(dialog);
    seen->owner = GetWindow(dialog, GW_OWNER);
    seen->button1 = TextOf(GetDlgItem(dialog, 1));
    seen->button2 = TextOf(GetDlgItem(dialog, 2));
    LRESULT defId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    seen->defaultId = HIWORD(defId) == DC_HASDEFID ? LOWORD(defId) : 0;
    seen->text = TextOf(edit);
    seen->fieldStyle = GetWindowLongA(edit, GWL_STYLE);
    seen->fieldExStyle = GetWindowLongA(edit, GWL_EXSTYLE);
    seen->limit = (int)SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
    seen->lineCount = (int)SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
    SendMessageA(edit, EM_GETSEL, 0, (LPARAM)&seen->selectionEnd);
    seen->firstVisibleLine = (int)SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    GetWindowRect(dialog, &seen->rect);
    switch (answer) {
    case Press1:
    case Press2:
        testing_support::PressButton(dialog, answer == Press1 ? 1 : 2);
        break;
    case Escape:
    case Enter:
        PostMessageA(dialog, WM_KEYDOWN, answer == Escape ? VK_ESCAPE : VK_RETURN, 0);
        break;
    case SystemClose: // what Alt+F4 leads to
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

typedef int (*TextDialog)(void *owner, const char *caption, const char *name);

class TextDialogs : public testing::Test {
  protected:
    std::string folder;
    testing_support::LogCapture log_{kLogName};

    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        folder = MakeTempDir("dialogs");
    }
    void TearDown() override {
        Ffs_Close();
        TakeLog();
        MemStats stats;
        Mem_GetStats(&stats);
        EXPECT_EQ(stats.blockCount, 0) << "the text was not released";
    }
    std::string TakeLog() { return log_.Take(); }
    typedef std::vector<std::pair<std::string, std::string>> Contents; // names and bytes
    // Opens the builder's archive of texts.
    void OpenArchive(const Contents &texts) { Open(testing_support::PackArchive(texts)); }
    void Open(const std::string &archive) {
        std::string path = folder + "texts.ffs";
        ASSERT_TRUE(WriteFile(path, archive));
        ASSERT_EQ(Ffs_Open(path.c_str(), 0), 1);
        Ffs_AddCodec(&Type2_Codec);
        TakeLog(); // the reader's own lines
    }
    std::string DiskText(const char *name, const std::string &text) {
        std::string path = folder + name;
        EXPECT_TRUE(WriteFile(path, text));
        return path;
    }
    // Shows the dialog while a second thread records it and answers it.
    int Show(TextDialog dialog, void *owner, const std::string &caption, const std::string &name,
             int field, Answer answer, SeenDialog *seen) {
        std::thread answerer(AnswerDialog, seen, field, answer);
        int result = dialog(owner, caption.c_str(), name.c_str());
        answerer.join();
        return result;
    }
};

// Four lines without wrapping; the first paragraph, joined, needs several lines of the field.
const char kWelcome[] = "Welcome to the installation of the product. This text is long enough\r\n"
                        "to need more than one line of the field once its lines are joined,\r\n"
                        "so that the field has to wrap it.\r\n\r\nPress Continue to go on.\r\n";

TEST_F(TextDialogs, MessageShowsTheArchiveTextJoinedAndContinueGivesOne) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    OpenArchive({{"welcome.txt", kWelcome}, {"other.txt", std::string(40, 'o')}});
    SeenDialog seen;
    EXPECT_EQ(Show(TextDlg_Message, NULL, "Welcome...", "welcome.txt", 1013, Press1, &seen), 1);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, "Welcome...");
    EXPECT_EQ(seen.text, "Welcome to the installation of the product. This text is long enough "
                         "to need more than one line of the field once its lines are joined, "
                         "so that the field has to wrap it.\r\n\r\nPress Continue to go on.\r\n");
    EXPECT_GT(seen.lineCount, 4); // the paragraph wraps; the empty line stays
    EXPECT_EQ(seen.button1, "Continue");
    EXPECT_EQ(seen.button2, "Exit Setup");
    EXPECT_EQ(seen.defaultId, 1);
    EXPECT_EQ(seen.owner, (HWND)NULL);
    const LONG fieldStyle = ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP;
    EXPECT_EQ(seen.fieldStyle & fieldStyle, fieldStyle);
    EXPECT_EQ(seen.fieldStyle & ES_AUTOHSCROLL, 0); // the lines wrap
    // The edit control turns the template's plain border into a sunken edge.
    EXPECT_TRUE((seen.fieldStyle & WS_BORDER) || (seen.fieldExStyle & WS_EX_CLIENTEDGE))
        << std::hex << seen.fieldStyle << " " << seen.fieldExStyle;
    EXPECT_EQ(seen.limit, (int)sizeof kWelcome - 1 + 10); // the file's size and ten
    EXPECT_EQ(seen.selectionEnd, 0u);    // the caret at the start: nothing selected
    EXPECT_EQ(seen.firstVisibleLine, 0); // read from its first line
    // Centred on the desktop.
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    int width = seen.rect.right - seen.rect.left, height = seen.rect.bottom - seen.rect.top;
    EXPECT_EQ(seen.rect.left, (desktop.right - width) / 2);
    EXPECT_EQ(seen.rect.top, (desktop.bottom - height) / 2);
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(TextDialogs, EveryWayOutOfTheMessageButContinueGivesZero) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    OpenArchive({{"welcome.txt", kWelcome}});
    const struct {
        Answer answer;
        int result;
    } rows[] = {{Press2, 0}, {Escape, 0}, {SystemClose, 0}, {Enter, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.answer);
        SeenDialog seen;
        EXPECT_EQ(Show(TextDlg_Message, NULL, "Welcome...", "welcome.txt", 1013, row.answer, &seen),
                  row.result);
        EXPECT_TRUE(seen.found);
    }
}

TEST_F(TextDialogs, AgreementFromADiskFileDefaultsToDeclining) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    std::string path =
        DiskText("licence.txt", "You may use it.\r\nYou may not sell it.\nNor lend it.");
    const struct {
        Answer answer;
        int result;
    } rows[] = {{Press1, 1}, {Press2, 0}, {Enter, 0}, {Escape, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.answer);
        SeenDialog seen;
        EXPECT_EQ(
            Show(TextDlg_Agreement, NULL, "End User Agreement...", path, 1026, row.answer, &seen),
            row.result);
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.title, "End User Agreement...");
        EXPECT_EQ(seen.text, "You may use it. You may not sell it.\nNor lend it."); // bare LF kept
        EXPECT_EQ(seen.button1, "I Accept");
        EXPECT_EQ(seen.button2, "I Do Not Accept");
        EXPECT_EQ(seen.defaultId, 2);
    }
}

TEST_F(TextDialogs, LongCaptionIsCutTo79CharactersAndTheOwnerKept) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    OpenArchive({{"welcome.txt", kWelcome}});
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL,
                                 NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(owner, nullptr);
    std::string caption;
    for (int i = 0; i < 159; i++) caption += (char)('a' + i % 26);
    SeenDialog seen;
    EXPECT_EQ(Show(TextDlg_Agreement, owner, caption, "welcome.txt", 1026, Press2, &seen), 0);
    EXPECT_EQ(seen.title, caption.substr(0, 79));
    EXPECT_EQ(seen.owner, owner);
    DestroyWindow(owner);
}

TEST_F(TextDialogs, MissingOrUnreadableTextShowsNoDialog) {
    // The size query peeks 16 bytes: the cut entry has them, but not the 500 it claims. No
    // builder writes such an entry: the archive is written by hand (flags 0).
    using testing_support::PlainHash;
    Open(testing_support::RawArchive(
        testing_support::SortedByHash({{PlainHash("cut.txt"), std::string(20, 'c'), 500},
                                       {PlainHash("good.txt"), std::string(30, 'g')}}),
        0));
    EXPECT_EQ(TextDlg_Message(NULL, "Welcome...", "missing.txt"), 0);
    EXPECT_EQ(TakeLog(), "Unable to get size for 'missing.txt'\n");
    EXPECT_EQ(TextDlg_Agreement(NULL, "End User Agreement...", "cut.txt"), 0);
    EXPECT_EQ(TakeLog(), "Unable to load 'cut.txt'\n");
    Ffs_Close();
    TakeLog();
    std::string missing = folder + "none.txt";
    EXPECT_EQ(TextDlg_Agreement(NULL, "Terms", missing.c_str()), 0);
    EXPECT_EQ(TakeLog(), "Unable to get size for '" + missing + "'\n");
}

TEST_F(TextDialogs, DialogThatCannotBeShownIsNotAccepted) {
    if (DisplayAvailable()) GTEST_SKIP() << "dialogs are shown: see the answered cases";
    std::string path = DiskText("licence.txt", "Terms.");
    EXPECT_EQ(TextDlg_Agreement(NULL, "Terms", path.c_str()), 0);
    EXPECT_EQ(TextDlg_Message(NULL, "Welcome", path.c_str()), 0);
    EXPECT_EQ(TakeLog(), "Unable to show dialog 1006\nUnable to show dialog 1003\n");
}

// ---- Progress window ----

class ProgressWindow : public testing::Test {
  protected:
    HWND parent = NULL;
    void SetUp() override { Sys_InitControls(); }
    void TearDown() override {
        Progress_Destroy();
        if (parent) DestroyWindow(parent);
    }
    HWND Bar() { return GetDlgItem((HWND)Progress_Window(), 1012); }
    int Position() { return (int)SendMessageA(Bar(), PBM_GETPOS, 0, 0); }
};

TEST_F(ProgressWindow, WithoutAWindowEveryCallChangesNothing) {
    EXPECT_EQ(Progress_Window(), nullptr);
    EXPECT_EQ(Progress_Show(1), 1);
    EXPECT_EQ(Progress_Set(50), 1);
    EXPECT_EQ(Progress_Show(0), 1);
    EXPECT_EQ(Progress_Destroy(), 1);
    if (DisplayAvailable()) return;
    testing_support::LogCapture log(kLogName);
    EXPECT_EQ(Progress_Create(NULL, NULL), 0);
    EXPECT_EQ(log.Take(), "Unable to create the progress window\n");
    EXPECT_EQ(Progress_Window(), nullptr);
}

TEST_F(ProgressWindow, IsCreatedHiddenAndShownCentredOverItsParent) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    parent = CreateWindowExA(0, "STATIC", "backdrop", WS_POPUP | WS_VISIBLE, 100, 80, 600, 400,
                             NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(parent, nullptr);
    ASSERT_EQ(Progress_Create(GetModuleHandleA(NULL), parent), 1);
    HWND window = (HWND)Progress_Window();
    ASSERT_NE(window, nullptr);
    Sys_PumpMessages();
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(TextOf(window), "Please wait...");
    EXPECT_EQ(GetWindow(window, GW_OWNER), parent);
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    char name[32] = "";
    GetClassNameA(Bar(), name, sizeof name);
    EXPECT_STREQ(name, "msctls_progress32");
    PBRANGE range = {-1, -1};
    SendMessageA(Bar(), PBM_GETRANGE, 0, (LPARAM)&range);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 2000);
    EXPECT_EQ(Position(), 0);

    EXPECT_EQ(Progress_Show(1), 1);
    Sys_PumpMessages();
    EXPECT_TRUE(IsWindowVisible(window));
    RECT own;
    GetWindowRect(window, &own);
    int width = own.right - own.left, height = own.bottom - own.top;
    EXPECT_EQ(own.left, 100 + (600 - width) / 2);
    EXPECT_EQ(own.top, 80 + (400 - height) / 2);

    for (int hide : {0, 2}) {
        EXPECT_EQ(Progress_Show(hide), 1);
        Sys_PumpMessages();
        EXPECT_FALSE(IsWindowVisible(window)) << hide;
        Progress_Show(1);
        Sys_PumpMessages();
    }
    // A close request of the system only hides it: INSTALL can show it again.
    SendMessageA(window, WM_CLOSE, 0, 0);
    Sys_PumpMessages();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(Progress_Window(), window);
    Progress_Show(1);
    Sys_PumpMessages();
    EXPECT_TRUE(IsWindowVisible(window));

    EXPECT_EQ(Progress_Destroy(), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Progress_Window(), nullptr);
}

TEST_F(ProgressWindow, BarFollowsThePercentageClampedAndKeepsItWhileHidden) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    ASSERT_EQ(Progress_Create(NULL, NULL), 1);
    Progress_Show(1);
    const struct {
        double percent;
        int position;
    } rows[] = {{50, 1000},  {150, 2000}, {-3, 0},  {50.04, 1000},
                {12.5, 250}, {100, 2000}, {0.07, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.percent);
        EXPECT_EQ(Progress_Set(row.percent), 1);
        EXPECT_EQ(Position(), row.position);
    }
    Progress_Set(37.5);
    Progress_Show(0);
    Progress_Show(1);
    EXPECT_EQ(Position(), 750);
}

TEST_F(ProgressWindow, IsForgottenWhenDestroyedWithItsParentOrMadeAgain) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    parent = CreateWindowExA(0, "STATIC", "backdrop", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, NULL,
                             NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_EQ(Progress_Create(NULL, parent), 1);
    HWND first = (HWND)Progress_Window();
    ASSERT_EQ(Progress_Create(NULL, parent), 1);
    EXPECT_FALSE(IsWindow(first)); // the earlier window is not left behind
    HWND second = (HWND)Progress_Window();
    EXPECT_TRUE(IsWindow(second));
    DestroyWindow(parent);
    parent = NULL;
    EXPECT_FALSE(IsWindow(second));
    EXPECT_EQ(Progress_Window(), nullptr);
    EXPECT_EQ(Progress_Set(10), 1);
    EXPECT_EQ(Progress_Show(1), 1);
}

} // namespace
