// The test robot: runs beside a setup under Wine, in the same prefix and display, finds the
// setup's message boxes and dialogs, records what a user would have seen (title, texts,
// buttons, owner) and presses the button a test asks for, so that real setups run unattended.
//
//   robot.exe --log FILE --stop FILE [--press MATCH=BUTTON]... [--default BUTTON] [--timeout S]
//             [--shot MATCH=FILE]... [--shot-window MATCH=FILE]... [--shots FOLDER]
//
// Every visible top-level window of class "#32770" is handled once. A --press rule applies when
// MATCH occurs in the box's title or one of its texts (first rule wins); BUTTON is a button's
// text without '&' ("Yes", "OK") or its id ("7"). Without a matching rule the --default button
// is pressed; "none" leaves the box alone. BUTTON may list several, separated by ',' ("1,6":
// the box's OK or Continue, else its Yes): the first one the box has is pressed, and a box with
// none of them is left alone. The robot ends when the stop file appears or the
// timeout (default 120 s) runs out. Each box becomes one line of the log (its texts are those of
// its "Static" and "Edit" children, in window order):
//   box|<title>|<owner class>|<text>;<text>|<id>:<text>;<id>:<text>|<pressed id>|<top>;<top>
// with '|', ';' and line ends in the fields written as \p, \s and \n; <top> is the line at the
// top of each "Edit" child's view (what a user reads first), one for each edit with a text. A
// --shot rule saves the whole screen as a 24-bit BMP file when a box that MATCH finds appears,
// before it is answered. Every visible top-level window of another process (boxes included) is also
// logged once, as
//   window|<class>|<title>
// so that a test can tell that a program showed no window at all.
// A --shot-window rule is for a window that is no box to answer and may be up only for a moment
// (the progress window): while a visible top-level window of another process whose title or
// class MATCH occurs in is up, the screen is saved again at every look (every 10 ms while such a
// rule waits), and FILE keeps the last shot after which the window was still up. Each rule
// shoots one window; "shot window|<class>|<title>|<shots>" is logged when it goes.
// --shots FOLDER saves the screen at every box, before it is answered, as FOLDER\01.bmp,
// 02.bmp... in the order the boxes came, each logged as "shot|<file>|<title>".
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test-windows.h"

namespace {

struct Rule {
    std::string match;
    std::string button;
};

struct Control {
    int id;
    std::string className;
    std::string text;
    std::string top; // an edit's first visible line
};

struct Options {
    std::string logPath;
    std::string stopPath;
    std::vector<Rule> rules;
    std::vector<Rule> shots;       // match and BMP file
    std::vector<Rule> windowShots; // the same, for any top-level window
    std::string defaultButton = "none";
    int timeoutSeconds = 120;
    std::string shotsFolder; // every box's shot, numbered
};

int g_shots; // the boxes shot into the --shots folder

using testing_support::ClassOf;
using testing_support::WindowText;

std::vector<HWND> g_seen;
std::vector<HWND> g_windows; // top-level windows already logged

std::string Escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '|')
            out += "\\p";
        else if (c == ';')
            out += "\\s";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            continue;
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string WithoutAmpersand(const std::string &text) {
    std::string out;
    for (char c : text)
        if (c != '&') out += c;
    return out;
}

// An edit control of another process keeps its text to itself: it has to be asked.
std::string EditText(HWND edit) {
    char text[4096] = "";
    DWORD_PTR ignored;
    SendMessageTimeoutA(edit, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                        &ignored);
    text[sizeof text - 1] = 0;
    return text;
}

// The line of text at the top of an edit control's view, found by character index in its
// whole text (both count a line end as two characters).
std::string TopLine(HWND edit, const std::string &text) {
    DWORD_PTR line = 0, start = 0, length = 0;
    SendMessageTimeoutA(edit, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 2000, &line);
    SendMessageTimeoutA(edit, EM_LINEINDEX, line, 0, SMTO_ABORTIFHUNG, 2000, &start);
    SendMessageTimeoutA(edit, EM_LINELENGTH, start, 0, SMTO_ABORTIFHUNG, 2000, &length);
    return start < text.size() ? text.substr(start, length) : "";
}

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
    auto *controls = reinterpret_cast<std::vector<Control> *>(data);
    std::string className = ClassOf(child);
    if (className == "Edit") {
        std::string text = EditText(child);
        controls->push_back({GetDlgCtrlID(child), className, text, TopLine(child, text)});
    } else {
        controls->push_back({GetDlgCtrlID(child), className, WindowText(child), ""});
    }
    return TRUE;
}

// The screen as the pixels of a bottom-up 24-bit BMP file, rows padded to 4 bytes.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
};

Screenshot TakeScreenshot() {
    Screenshot shot;
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    int stride = (width * 3 + 3) & ~3;
    info.bmiHeader.biSizeImage = (DWORD)(stride * height);
    HDC screen = GetDC(NULL), memory = CreateCompatibleDC(screen);
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (bits && BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY)) {
        GdiFlush();
        const unsigned char *start = static_cast<const unsigned char *>(bits);
        shot.width = width;
        shot.height = height;
        shot.pixels.assign(start, start + info.bmiHeader.biSizeImage);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return shot;
}

// The shot as a BMP file. false when there is none or it cannot be written.
bool WriteBmp(const Screenshot &shot, const std::string &path) {
    if (shot.pixels.empty()) return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = shot.width;
    header.biHeight = shot.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = (DWORD)shot.pixels.size();
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE *out = fopen(path.c_str(), "wb");
    bool written = out && fwrite(&file, sizeof file, 1, out) == 1 &&
                   fwrite(&header, sizeof header, 1, out) == 1 &&
                   fwrite(shot.pixels.data(), shot.pixels.size(), 1, out) == 1;
    if (out && fclose(out) != 0) written = false;
    return written;
}

bool WriteScreenshot(const std::string &path) { return WriteBmp(TakeScreenshot(), path); }

bool Matches(const std::string &match, const std::string &title,
             const std::vector<Control> &controls) {
    bool hit = title.find(match) != std::string::npos;
    for (const Control &control : controls)
        hit = hit || control.text.find(match) != std::string::npos;
    return hit;
}

bool Seen(HWND window) {
    for (HWND seen : g_seen)
        if (seen == window) return true;
    return false;
}

// The id of the button that answers this box, or -1 to leave it alone.
int ChooseButton(const Options &options, const std::string &title,
                 const std::vector<Control> &controls) {
    std::string wanted = options.defaultButton;
    for (const Rule &rule : options.rules) {
        if (Matches(rule.match, title, controls)) {
            wanted = rule.button;
            break;
        }
    }
    if (wanted == "none") return -1;
    bool list = wanted.find(',') != std::string::npos;
    for (size_t start = 0; start <= wanted.size();) {
        size_t end = std::min(wanted.find(',', start), wanted.size());
        std::string one = wanted.substr(start, end - start);
        for (const Control &control : controls) {
            if (control.className != "Button") continue;
            if (WithoutAmpersand(control.text) == one || std::to_string(control.id) == one)
                return control.id;
        }
        start = end + 1;
    }
    return !list && atoi(wanted.c_str()) > 0 ? atoi(wanted.c_str()) : -1;
}

void HandleBox(const Options &options, HWND box, FILE *log) {
    std::vector<Control> controls;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&controls));
    std::string title = WindowText(box);
    std::string texts, buttons, tops;
    for (const Control &control : controls) {
        if (control.className == "Edit" && !control.text.empty())
            tops += (tops.empty() ? "" : ";") + Escape(control.top);
        if (control.className == "Button") {
            if (!buttons.empty()) buttons += ";";
            buttons += std::to_string(control.id) + ":" + Escape(control.text);
        } else if ((control.className == "Static" || control.className == "Edit") &&
                   !control.text.empty()) {
            if (!texts.empty()) texts += ";";
            texts += Escape(control.text);
        }
    }
    for (const Rule &shot : options.shots)
        if (Matches(shot.match, title, controls) && !WriteScreenshot(shot.button))
            fprintf(log, "shot failed|%s\n", Escape(shot.button).c_str());
    if (!options.shotsFolder.empty()) {
        char name[16];
        snprintf(name, sizeof name, "\\%02d.bmp", ++g_shots);
        std::string path = options.shotsFolder + name;
        fprintf(log, "%s|%s|%s\n", WriteScreenshot(path) ? "shot" : "shot failed",
                Escape(path).c_str(), Escape(title).c_str());
    }
    int pressed = ChooseButton(options, title, controls);
    fprintf(log, "box|%s|%s|%s|%s|%d|%s\n", Escape(title).c_str(),
            Escape(ClassOf(GetWindow(box, GW_OWNER))).c_str(), texts.c_str(), buttons.c_str(),
            pressed, tops.c_str());
    fflush(log);
    if (pressed > 0) testing_support::PressButton(box, pressed);
}

// A --shot-window rule's window: the one being shot, and the rules already done.
struct WindowShot {
    HWND window = NULL;
    std::string className, title;
    int shots = 0; // shots after which the window was still up
    bool done = false;
};
std::vector<WindowShot> g_windowShots; // one for each --shot-window rule

struct WindowSearch {
    const std::string *match;
    HWND found;
};

BOOL CALLBACK FindShotWindow(HWND window, LPARAM data) {
    auto *search = reinterpret_cast<WindowSearch *>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (ClassOf(window).find(*search->match) == std::string::npos &&
        WindowText(window).find(*search->match) == std::string::npos)
        return TRUE;
    search->found = window;
    return FALSE;
}

// Shoots the windows of the --shot-window rules; true while a rule still waits for its window.
bool ShootWindows(const Options &options, FILE *log) {
    bool waiting = false;
    for (size_t i = 0; i < options.windowShots.size(); i++) {
        WindowShot &state = g_windowShots[i];
        if (state.done) continue;
        waiting = true;
        const Rule &rule = options.windowShots[i];
        if (!state.window) {
            WindowSearch search = {&rule.match, NULL};
            EnumWindows(FindShotWindow, reinterpret_cast<LPARAM>(&search));
            if (!search.found) continue;
            state.window = search.found;
            state.className = ClassOf(search.found);
            state.title = WindowText(search.found);
        }
        Screenshot shot = TakeScreenshot();
        if (IsWindow(state.window) && IsWindowVisible(state.window)) {
            if (WriteBmp(shot, rule.button))
                state.shots++;
            else
                fprintf(log, "shot failed|%s\n", Escape(rule.button).c_str());
            continue;
        }
        state.done = true; // gone: the file holds the last shot that it was up for
        fprintf(log, "shot window|%s|%s|%d\n", Escape(state.className).c_str(),
                Escape(state.title).c_str(), state.shots);
        fflush(log);
    }
    return waiting;
}

BOOL CALLBACK LogNewWindow(HWND window, LPARAM data) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    for (HWND seen : g_windows)
        if (seen == window) return TRUE;
    g_windows.push_back(window);
    FILE *log = reinterpret_cast<FILE *>(data);
    fprintf(log, "window|%s|%s\n", Escape(ClassOf(window)).c_str(),
            Escape(testing_support::WindowText(window)).c_str());
    fflush(log);
    return TRUE;
}

bool ParseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) return false;
        if (arg == "--log")
            options->logPath = value;
        else if (arg == "--stop")
            options->stopPath = value;
        else if (arg == "--default")
            options->defaultButton = value;
        else if (arg == "--timeout")
            options->timeoutSeconds = atoi(value);
        else if (arg == "--shots")
            options->shotsFolder = value;
        else if (arg == "--press" || arg == "--shot" || arg == "--shot-window") {
            std::string rule = value;
            size_t split = arg == "--press" ? rule.rfind('=') : rule.find('=');
            if (split == std::string::npos) return false;
            std::vector<Rule> &rules = arg == "--press"  ? options->rules
                                       : arg == "--shot" ? options->shots
                                                         : options->windowShots;
            rules.push_back({rule.substr(0, split), rule.substr(split + 1)});
        } else
            return false;
        i++;
    }
    return !options->logPath.empty() && !options->stopPath.empty();
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr, "usage: robot.exe --log FILE --stop FILE [--press MATCH=BUTTON]... "
                        "[--default BUTTON|none] [--timeout SECONDS] [--shot MATCH=FILE]... "
                        "[--shot-window MATCH=FILE]... [--shots FOLDER]\n");
        return 2;
    }
    FILE *log = fopen(options.logPath.c_str(), "w");
    if (!log) {
        fprintf(stderr, "robot: cannot write %s\n", options.logPath.c_str());
        return 2;
    }
    fprintf(log, "ready\n");
    fflush(log);
    DWORD deadline = GetTickCount() + (DWORD)options.timeoutSeconds * 1000;
    g_windowShots.resize(options.windowShots.size());
    while (GetFileAttributesA(options.stopPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if ((LONG)(GetTickCount() - deadline) > 0) {
            fprintf(log, "timeout\n");
            break;
        }
        // Forget boxes that are gone, so that a new box reusing a handle is handled too.
        for (size_t i = g_seen.size(); i-- > 0;)
            if (!IsWindow(g_seen[i])) g_seen.erase(g_seen.begin() + (long)i);
        for (size_t i = g_windows.size(); i-- > 0;)
            if (!IsWindow(g_windows[i])) g_windows.erase(g_windows.begin() + (long)i);
        bool waiting = ShootWindows(options, log);
        EnumWindows(LogNewWindow, reinterpret_cast<LPARAM>(log));
        for (HWND box : testing_support::VisibleDialogs(0)) {
            if (Seen(box)) continue;
            // Let the box finish creating its children, still shooting the windows of the
            // --shot-window rules meanwhile.
            for (int waited = 0; waited < 150; waited += 10) {
                if (waiting) waiting = ShootWindows(options, log);
                Sleep(10);
            }
            g_seen.push_back(box);
            HandleBox(options, box, log);
        }
        Sleep(waiting ? 10 : 50);
    }
    fprintf(log, "stopped\n");
    fclose(log);
    return 0;
}
