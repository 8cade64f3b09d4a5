// The backdrop with the real system under Wine: the gradient's bands and palette and the
// anchored strings painted into off-screen bitmaps, the FONT command's file in the temporary
// folder and its family known to the system; with a display (the second run) the window made
// as start-up makes it, captured from the screen, and repainted by REFRESH.
#include <gtest/gtest.h>

#include <windows.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "backdrop.h"
#include "command.h"
#include "iscript.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-font.h"
#include "test-support.h"

using testing_support::BandValue;
using testing_support::FileExists;
using testing_support::LogCapture;
using testing_support::PaletteValue;
using testing_support::ReadFile;

namespace {

// The display run goes on beside the plain one: each keeps its log and font entries apart.
const bool kDisplayRun = getenv("TESSEL_NEED_DISPLAY") != nullptr;
const char *kLogName = kDisplayRun ? "backdrop-display-test.log" : "backdrop-test.log";
std::string Entry(const char *name) { return (kDisplayRun ? "display-" : "") + std::string(name); }
const char *kFamily = "Tessel Test Square";

using testing_support::DisplayAvailable;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream &operator<<(std::ostream &out, const Rgb &c) {
    return out << c.r << "," << c.g << "," << c.b;
}

// A top-down 24-bit bitmap selected into a memory context.
class Canvas {
  public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info;
        memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        dc_ = CreateCompatibleDC(NULL);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, (void **)&bits_, NULL, 0);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    Rgb At(int x, int y) const {
        GdiFlush();
        const unsigned char *p = bits_ + y * ((width_ * 3 + 3) & ~3) + x * 3;
        return {p[2], p[1], p[0]};
    }
    // Bounding box of the pixels of colour c; right and bottom exclusive; empty when none.
    RECT Find(Rgb c, int *count) const {
        RECT box = {width_, height_, 0, 0};
        *count = 0;
        for (int y = 0; y < height_; y++)
            for (int x = 0; x < width_; x++)
                if (At(x, y) == c) {
                    ++*count;
                    box.left = x < box.left ? x : box.left;
                    box.top = y < box.top ? y : box.top;
                    box.right = x + 1 > box.right ? x + 1 : box.right;
                    box.bottom = y + 1 > box.bottom ? y + 1 : box.bottom;
                }
        return box;
    }
    void Fill(Rgb c) {
        HBRUSH brush = CreateSolidBrush(RGB(c.r, c.g, c.b));
        RECT all = {0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }

  private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    unsigned char *bits_ = nullptr;
};

Rgb Band(Rgb s, Rgb e, int i) {
    return {BandValue(s.r, e.r, i), BandValue(s.g, e.g, i), BandValue(s.b, e.b, i)};
}
// The band that row y of a height-pixel area lies in.
int BandOfRow(int y, int height) {
    double u = height / 256.0;
    int band = 0;
    for (int i = 0; i < 256; i++)
        if ((int)(i * u) <= y && y < (int)((i + 1) * u)) band = i;
    return band;
}

void PaintGradient(const Canvas &canvas, const RECT &rect, Rgb s, Rgb e) {
    EXPECT_EQ(Backdrop_PaintGradient(canvas.dc(), &rect, s.r, s.g, s.b, e.r, e.g, e.b), 0);
}

TEST(Gradient, EqualEndsGiveOnePaletteColourAndTruncatedBandsBelowTheTop) {
    Canvas canvas(8, 512);
    RECT rect = {0, 0, 8, 512};
    PaintGradient(canvas, rect, {17, 21, 147}, {17, 21, 147});
    HPALETTE palette = (HPALETTE)GetCurrentObject(canvas.dc(), OBJ_PAL);
    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 256u);
    for (const auto &entry : entries) {
        EXPECT_EQ(entry.peRed, 17);
        EXPECT_EQ(entry.peGreen, 21);
        EXPECT_EQ(entry.peBlue, 147);
        EXPECT_EQ(entry.peFlags, 0);
    }
    DeleteObject(SelectPalette(canvas.dc(), (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE));
    EXPECT_EQ(canvas.At(0, 0), (Rgb{17, 21, 147}));
    EXPECT_EQ(canvas.At(7, 1), (Rgb{17, 21, 147}));
    for (int y = 2; y < 512; y += 37) EXPECT_EQ(canvas.At(3, y), (Rgb{16, 20, 146})) << y;
    EXPECT_EQ(canvas.At(7, 511), (Rgb{16, 20, 146}));
}

TEST(Gradient, BandsFollowTheRealArithmeticForEveryRowAndHeight) {
    struct Row {
        Rgb start, end;
        int height;
    } rows[] = {
        {{0, 0, 0}, {255, 255, 255}, 512}, // bands of exactly 2 rows
        {{255, 0, 40}, {0, 200, 41}, 300}, // bands of 1 or 2 rows, the last ending at 300
        {{17, 21, 147}, {200, 99, 3}, 768},
        {{9, 250, 128}, {250, 9, 129}, 100}, // fewer rows than bands: some bands are empty
    };
    for (const auto &row : rows) {
        const int top = 5; // the rectangle need not start at the top of the context
        Canvas canvas(3, row.height + 2 * top);
        canvas.Fill({1, 2, 3});
        RECT rect = {1, top, 2, top + row.height};
        PaintGradient(canvas, rect, row.start, row.end);
        HPALETTE palette = (HPALETTE)GetCurrentObject(canvas.dc(), OBJ_PAL);
        PALETTEENTRY entries[256];
        ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 256u);
        for (int i = 0; i < 256; i += 51)
            EXPECT_EQ((Rgb{entries[i].peRed, entries[i].peGreen, entries[i].peBlue}),
                      (Rgb{PaletteValue(row.start.r, row.end.r, i),
                           PaletteValue(row.start.g, row.end.g, i),
                           PaletteValue(row.start.b, row.end.b, i)}));
        DeleteObject(SelectPalette(canvas.dc(), (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE));
        for (int y = 0; y < row.height; y++)
            ASSERT_EQ(canvas.At(1, top + y), Band(row.start, row.end, BandOfRow(y, row.height)))
                << "row " << y << " of " << row.height;
        // Nothing beside, above or below the rectangle.
        EXPECT_EQ(canvas.At(0, top), (Rgb{1, 2, 3}));
        EXPECT_EQ(canvas.At(2, top + row.height - 1), (Rgb{1, 2, 3}));
        EXPECT_EQ(canvas.At(1, top - 1), (Rgb{1, 2, 3}));
        EXPECT_EQ(canvas.At(1, top + row.height), (Rgb{1, 2, 3}));
    }
    // The bottom band is 255/256 of the way, not the end colour.
    EXPECT_EQ(Band({0, 0, 0}, {255, 255, 255}, 255), (Rgb{254, 254, 254}));
}

// ---- Strings and the FONT command ----

class Backdrop : public ::testing::Test {
  protected:
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        Cmd_RegisterAll();
        Script_RegisterBreak();
        memset(&state_, 0, sizeof state_);
        state_.Mode = Interactive;
        log_.Take(); // the set-up's lines are not the test's
    }
    void TearDown() override {
        ReleaseSlots();
        Cmd_ReleaseAll();
    }
    // Runs one command over its arguments (separated by the marker, ended by CR LF).
    int Command(const char *keyword, std::initializer_list<std::string> args) {
        arguments_.clear();
        for (const auto &arg : args) arguments_ += (arguments_.empty() ? "" : "\x16") + arg;
        arguments_ += "\r\n";
        int32_t cursor = 0;
        return Cmd_Dispatch(keyword, &state_, arguments_.c_str(), &cursor);
    }
    // What Script_Release does with the slots: fonts removed with their files, tables freed.
    void ReleaseSlots() {
        InstallState *copy = (InstallState *)TESSEL_ALLOC(sizeof(InstallState));
        *copy = state_;
        copy->ScriptText = (char *)TESSEL_ALLOC(1);
        copy->ScriptSize = 0;
        Script_Release(&copy);
        memset(&state_, 0, sizeof state_);
    }
    std::string TempPath(const std::string &name) {
        char folder[MAX_PATH];
        EXPECT_EQ(Path_TempDir(folder, sizeof folder), 1);
        return folder + name;
    }
    InstallState state_;
    std::string arguments_;
    LogCapture log_{kLogName};
};

int CALLBACK CountFamily(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM count) {
    ++*(int *)count;
    return 1;
}

int FamilyCount(const char *family) {
    HDC dc = GetDC(NULL);
    LOGFONTA wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.lfCharSet = DEFAULT_CHARSET;
    strcpy(wanted.lfFaceName, family);
    int count = 0;
    EnumFontFamiliesExA(dc, &wanted, CountFamily, (LPARAM)&count, 0);
    ReleaseDC(NULL, dc);
    return count;
}

// A font entry named in the current folder: the archive reader's disk-file fallback serves it.
class FontEntry {
  public:
    explicit FontEntry(const char *name) : name_(name) {
        testing_support::WriteFile(name_, std::string((const char *)kTestFont, sizeof kTestFont));
    }
    ~FontEntry() { testing_support::RemoveFile(name_); }

  private:
    std::string name_;
};

TEST_F(Backdrop, FontIsWrittenToTheTemporaryFolderAndAddedUntilTheRelease) {
    std::string name = Entry("backdrop-square.ttf");
    FontEntry entry(name.c_str());
    std::string path = TempPath(name);
    EXPECT_EQ(FamilyCount(kFamily), 0);
    ASSERT_EQ(Command("FONT", {"2", name}), 1);
    ASSERT_EQ(state_.FontCount, 2);
    EXPECT_EQ(state_.Fonts[1], name);
    EXPECT_EQ(ReadFile(path), std::string((const char *)kTestFont, sizeof kTestFont));
    EXPECT_GE(FamilyCount(kFamily), 1);
    // A text in the added face is drawn with its square glyphs: a filled block of the colour.
    Canvas canvas(200, 100);
    canvas.Fill({0, 0, 0});
    EXPECT_EQ(Backdrop_DrawText(canvas.dc(), kFamily, 0, 40, 10, 10, "H", RGB(0, 255, 0), 0), 1);
    int count = 0;
    RECT box = canvas.Find({0, 255, 0}, &count);
    EXPECT_GT(count, 200);
    EXPECT_GE(box.left, 10);
    EXPECT_GE(box.top, 10);
    EXPECT_LE(box.bottom, 50);
    ReleaseSlots();
    EXPECT_EQ(FamilyCount(kFamily), 0);
    EXPECT_FALSE(FileExists(path));
}

TEST_F(Backdrop, FontGivenAgainForItsSlotLetsGoOfTheEarlierOne) {
    std::string first = Entry("backdrop-first.ttf"), second = Entry("backdrop-second.ttf");
    FontEntry one(first.c_str()), two(second.c_str());
    ASSERT_EQ(Command("FONT", {"1", first}), 1);
    EXPECT_TRUE(FileExists(TempPath(first)));
    ASSERT_EQ(Command("FONT", {"1", second}), 1);
    EXPECT_FALSE(FileExists(TempPath(first)));
    EXPECT_TRUE(FileExists(TempPath(second)));
    ReleaseSlots();
    EXPECT_FALSE(FileExists(TempPath(second)));
    EXPECT_EQ(FamilyCount(kFamily), 0);
}

TEST_F(Backdrop, FontWithoutAnEntryFailsWithItsLogLine) {
    EXPECT_EQ(Command("FONT", {"1", "no-such-font.ttf"}), 0);
    EXPECT_STREQ(state_.Fonts[0], "no-such-font.ttf");
    EXPECT_FALSE(FileExists(TempPath("no-such-font.ttf")));
    ReleaseSlots(); // its removal fails and is logged
    std::string text = log_.Take();
    EXPECT_NE(text.find("Unable to get size for 'no-such-font.ttf'\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Unable to remove font '0' 'no-such-font.ttf'\n"), std::string::npos);
}

TEST_F(Backdrop, FontThatCannotBeSavedFailsWithThePath) {
    std::string name = Entry("backdrop-held.ttf");
    FontEntry entry(name.c_str());
    std::string path = TempPath(name);
    CreateDirectoryA(path.c_str(), NULL); // a folder where the file should go
    EXPECT_EQ(Command("FONT", {"1", name}), 0);
    RemoveDirectoryA(path.c_str());
    std::string text = log_.Take();
    EXPECT_NE(text.find("Unable to save '" + path + "'\n"), std::string::npos) << text;
}

// Bounding box of the text drawn in red on black with the flags at (x, y), and its extent.
RECT DrawAnchored(uint32_t flags, int x, int y, SIZE *extent) {
    Canvas canvas(400, 200);
    canvas.Fill({0, 0, 0});
    Backdrop_DrawText(canvas.dc(), "Arial", 0, 30, x, y, "IIII", RGB(255, 0, 0), flags);
    HFONT font = CreateFontA(30, 0, 0, 0, flags & BACKDROP_BOLD ? 700 : 400, 0, 0, 0, ANSI_CHARSET,
                             0, 0, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_ROMAN, "Arial");
    HGDIOBJ old = SelectObject(canvas.dc(), font);
    GetTextExtentPoint32A(canvas.dc(), "IIII", 4, extent);
    SelectObject(canvas.dc(), old);
    DeleteObject(font);
    int count = 0;
    RECT box = canvas.Find({255, 0, 0}, &count);
    EXPECT_GT(count, 0) << "flags " << flags;
    return box;
}

TEST(DrawText, AnchorFlagsMoveTheTextByItsExtent) {
    SIZE size;
    RECT plain = DrawAnchored(0, 200, 100, &size);
    ASSERT_GT(size.cx, 0);
    EXPECT_GE(plain.left, 200);
    EXPECT_GE(plain.top, 100);
    EXPECT_LE(plain.right, 200 + size.cx);
    EXPECT_LE(plain.bottom, 100 + size.cy);
    struct Row {
        uint32_t flags;
        int dx, dy; // expected shift of the drawn pixels
    } rows[] = {
        {BACKDROP_RIGHT, -size.cx, 0},
        {BACKDROP_UP, 0, -size.cy},
        {BACKDROP_CENTERX, -(size.cx / 2), 0},
        {BACKDROP_CENTERY, 0, -(size.cy / 2)},
        {BACKDROP_RIGHT | BACKDROP_UP | BACKDROP_CENTERX, -size.cx - size.cx / 2, -size.cy},
    };
    for (const auto &row : rows) {
        SIZE ignored;
        RECT box = DrawAnchored(row.flags, 200, 100, &ignored);
        EXPECT_EQ(box.left, plain.left + row.dx) << "flags " << row.flags;
        EXPECT_EQ(box.top, plain.top + row.dy) << "flags " << row.flags;
    }
}

TEST(DrawText, StyleFlagsChangeTheFont) {
    SIZE size;
    RECT plain = DrawAnchored(0, 10, 10, &size);
    RECT bold = DrawAnchored(BACKDROP_BOLD, 10, 10, &size);
    EXPECT_GT(bold.right - bold.left, plain.right - plain.left); // heavier strokes
    RECT underline = DrawAnchored(BACKDROP_UNDERLINE, 10, 10, &size);
    EXPECT_GT(underline.bottom, plain.bottom); // the line below the letters
}

TEST(DrawText, SizesAndPlacesBeyondTheScreenDrawNothingThere) {
    const double huge = 1e300, infinite = HUGE_VAL;
    struct Row {
        double height, x, y;
    } rows[] = {{30, huge, 10},
                {30, -huge, 10},
                {30, 10, infinite},
                {30, -infinite, -infinite},
                {NAN, huge, huge}};
    for (const auto &row : rows) {
        Canvas canvas(100, 60);
        canvas.Fill({0, 0, 0});
        EXPECT_EQ(Backdrop_DrawText(canvas.dc(), "Arial", 0, row.height, row.x, row.y, "IIII",
                                    RGB(255, 0, 0), BACKDROP_CENTERX),
                  1);
        int count = 0;
        canvas.Find({255, 0, 0}, &count);
        EXPECT_EQ(count, 0) << row.x << " " << row.y;
    }
}

// ---- The window (display run) ----

std::vector<Rgb> CaptureScreen(int *width, int *height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
    Canvas canvas(*width, *height);
    HDC screen = GetDC(NULL);
    BitBlt(canvas.dc(), 0, 0, *width, *height, screen, 0, 0, SRCCOPY);
    ReleaseDC(NULL, screen);
    std::vector<Rgb> pixels;
    pixels.reserve((size_t)*width * *height);
    for (int y = 0; y < *height; y++)
        for (int x = 0; x < *width; x++) pixels.push_back(canvas.At(x, y));
    return pixels;
}

void PumpUntilIdle() {
    MSG message;
    for (int round = 0; round < 20; round++) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            DispatchMessageA(&message);
        }
        Sleep(20);
    }
}

class Window : public Backdrop {
  protected:
    void TearDown() override {
        if (window_) DestroyWindow(window_);
        MSG message; // WM_DESTROY posted the quit message
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        }
        Backdrop_Close();
        Backdrop::TearDown();
    }
    // The backdrop's client area on the screen.
    Rgb Pixel(int x, int y) {
        POINT origin = {0, 0};
        ClientToScreen(window_, &origin);
        return screen_[(size_t)(origin.y + y) * screenWidth_ + origin.x + x];
    }
    void Capture() {
        int height = 0;
        screen_ = CaptureScreen(&screenWidth_, &height);
    }
    HWND window_ = NULL;
    std::vector<Rgb> screen_;
    int screenWidth_ = 0;
};

TEST_F(Window, OpensMaximisedWithItsTitleAndPaintsGradientAndStrings) {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    std::string name = Entry("backdrop-window.ttf");
    FontEntry entry(name.c_str());
    strcpy(state_.ProductName, "Rocket");
    ASSERT_EQ(Command("GRADIENT START", {"0,0,255"}), 1);
    ASSERT_EQ(Command("GRADIENT END", {"255,255,0"}), 1);
    ASSERT_EQ(Command("FONT", {"1", name}), 1);
    // A block of square glyphs centred on the client area, in red.
    ASSERT_EQ(Command("STRING", {"2", kFamily, "0", "0.1", "0.5", "0.5", "255,0,0",
                                 "CENTERX,CENTERY", "HHHH"}),
              1);
    window_ = Backdrop_Open(&state_);
    ASSERT_TRUE(window_ != NULL);
    char title[64] = "";
    GetWindowTextA(window_, title, sizeof title);
    EXPECT_STREQ(title, "Rocket Installation");
    char className[64] = "";
    GetClassNameA(window_, className, sizeof className);
    EXPECT_STREQ(className, "InstallGotClass");
    EXPECT_TRUE(IsZoomed(window_));
    EXPECT_EQ(SendMessageA(window_, WM_ERASEBKGND, 0, 0), 1);
    PumpUntilIdle();
    RECT client;
    GetClientRect(window_, &client);
    int width = client.right, height = client.bottom;
    ASSERT_GT(height, 256);
    Capture();
    Rgb s = {0, 0, 255}, e = {255, 255, 0};
    for (int y : {0, height / 2, height - 1}) {
        EXPECT_EQ(Pixel(3, y), Band(s, e, BandOfRow(y, height))) << "row " << y;
        EXPECT_EQ(Pixel(width - 1, y), Band(s, e, BandOfRow(y, height))) << "row " << y;
    }
    // The text: red around the centre, gradient well away from it.
    int red = 0;
    for (int y = height / 2 - 20; y < height / 2 + 20; y++)
        for (int x = width / 2 - 60; x < width / 2 + 60; x++) red += Pixel(x, y) == Rgb{255, 0, 0};
    EXPECT_GT(red, 1000);
    EXPECT_EQ(Pixel(width / 2, height / 4), Band(s, e, BandOfRow(height / 4, height)));

    // REFRESH repaints with what the state holds now.
    state_.Window = window_;
    ASSERT_EQ(Command("GRADIENT START", {"10,200,30"}), 1);
    ASSERT_EQ(Command("GRADIENT END", {"10,200,30"}), 1);
    ASSERT_EQ(Command("REFRESH", {}), 1);
    PumpUntilIdle();
    Capture();
    EXPECT_EQ(Pixel(5, 0), (Rgb{10, 200, 30}));
    EXPECT_EQ(Pixel(5, height - 1), (Rgb{9, 199, 29}));
}

} // namespace
