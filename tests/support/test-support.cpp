// Temporary folders and file helpers for the unit tests of both trees.
#include "test-support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tessel-core.h"
#include "tessel-sys.h"

#if defined(_WIN32)
#include <windows.h>
#include <gtest/gtest.h>
#include <direct.h>
#include <process.h>
#define getpid _getpid
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testing_support {

static std::string TempRoot() {
#if defined(_WIN32)
    const char *base = std::getenv("TEMP");
    std::string root = base ? base : "C:\\windows\\temp";
    if (root.back() != '\\') root += '\\';
    return root;
#else
    const char *base = std::getenv("TMPDIR");
    std::string root = base ? base : "/tmp";
    if (root.back() != '/') root += '/';
    return root;
#endif
}

std::string MakeTempDir(const std::string &tag) {
    // Process ids repeat across runs (under Wine especially): take a name nobody has made yet.
    static unsigned serial = (unsigned)time(NULL) * 2654435761u;
    for (;;) {
        std::string dir = TempRoot() + "tessel-" + tag + "-" + std::to_string(getpid()) + "-" +
                          std::to_string(++serial);
#if defined(_WIN32)
        if (_mkdir(dir.c_str()) == 0) return dir + "\\";
#else
        if (mkdir(dir.c_str(), 0700) == 0) return dir + "/";
#endif
    }
}

std::string ReadFile(const std::string &path, bool *ok) {
    std::ifstream in(path, std::ios::binary);
    if (ok) *ok = static_cast<bool>(in);
    if (!in) return "";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ReadText(const std::string &path) {
    std::string text = ReadFile(path);
#if defined(_WIN32)
    std::string plain;
    for (size_t i = 0; i < text.size(); i++)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    return plain;
#else
    return text;
#endif
}

bool WriteFile(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

bool FileExists(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

void RemoveFile(const std::string &path) { std::remove(path.c_str()); }

std::string ProgramDir() {
    char path[1024];
    Sys_ExecutablePath(path, sizeof path);
    std::string dir = path;
    size_t cut = dir.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
}

std::string StartFileLog(const char *logName) {
    std::string path = ProgramDir() + logName;
    RemoveFile(path);
    Log_Init(logName, LOG_FILE);
    return path;
}

std::string StopFileLog(const char *logName) {
    Log_Init(logName, 0);
    std::string path = ProgramDir() + logName, text = ReadText(path);
    RemoveFile(path);
    return text;
}

#if defined(_WIN32)
bool DisplayAvailable() {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    if (probe) DestroyWindow(probe);
    if (!probe && std::getenv("TESSEL_NEED_DISPLAY"))
        ADD_FAILURE() << "no window although a display is given";
    return probe != NULL;
}

static BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || strcmp(name, "#32770"))
        return TRUE;
    *(HWND *)found = window;
    return FALSE;
}

static BOOL CALLBACK CollectStatic(HWND child, LPARAM text) {
    char name[32] = "", buffer[1024] = "";
    GetClassNameA(child, name, sizeof name);
    GetWindowTextA(child, buffer, sizeof buffer);
    if (!_stricmp(name, "Static") && buffer[0]) *(std::string *)text += buffer;
    return TRUE;
}

void AnswerBoxes(std::vector<int> buttons, std::vector<SeenBox> *seen) {
    for (int button : buttons) {
        HWND box = NULL;
        for (int i = 0; i < 400 && !box; i++) {
            EnumWindows(FindBox, (LPARAM)&box);
            if (!box) Sleep(50);
        }
        if (!box) return;
        char title[256] = "";
        GetWindowTextA(box, title, sizeof title);
        SeenBox record = {title, ""};
        EnumChildWindows(box, CollectStatic, (LPARAM)&record.text);
        seen->push_back(record);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        for (int i = 0; i < 200 && IsWindow(box); i++) Sleep(25);
    }
}
#endif

} // namespace testing_support
