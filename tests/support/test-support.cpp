// The unit tests' kit: files, the log capture, archives, the uninstaller's decoder, and the
// Win32 display probe and box answerer.
#include "test-support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "ffs.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "uninst.h"

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#include <windows.h>
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

LogCapture::LogCapture(const char *logName, uint32_t flags)
    : name_(logName), path_(ProgramDir() + logName) {
    RemoveFile(path_);
    Log_Init(logName, flags);
}

LogCapture::~LogCapture() {
    Log_Init(name_.c_str(), 0);
    RemoveFile(path_);
}

std::string LogCapture::Text() const {
    std::string text = ReadText(path_);
    return start_ < text.size() ? text.substr(start_) : std::string();
}

std::string LogCapture::Take() {
    std::string text = Text();
    start_ += text.size();
    return text;
}

void PutWord(std::string *out, uint32_t value) {
    for (int i = 0; i < 4; i++) out->push_back((char)(value >> (8 * i)));
}

std::string PackArchive(const std::vector<std::pair<std::string, std::string>> &files,
                        uint32_t flags) {
    std::vector<PackInput> inputs;
    for (const auto &file : files)
        inputs.push_back({file.first, PackBytes(file.second.begin(), file.second.end())});
    PackBytes archive;
    std::string error;
    PackNotes notes;
    if (!Pack_BuildArchive(inputs, flags, 0, false, &archive, &error, &notes)) {
        ADD_FAILURE() << "the builder refused the archive: " << error;
        return "";
    }
    return std::string(archive.begin(), archive.end());
}

std::string RawArchive(const std::vector<RawEntry> &entries, uint32_t flags,
                       uint32_t archiveOffset) {
    uint32_t count = (uint32_t)entries.size(), total = 24 + 8 * count;
    for (const auto &e : entries) total += 8 + (uint32_t)e.bytes.size();
    std::string out = FFS_TAG;
    for (uint32_t word : {count, ~count, total, ~total, flags}) PutWord(&out, word);
    uint32_t offset = archiveOffset + 24 + 8 * count;
    for (const auto &e : entries) {
        PutWord(&out, e.hash);
        PutWord(&out, offset);
        offset += 8 + (uint32_t)e.bytes.size();
    }
    for (const auto &e : entries) {
        PutWord(&out, e.hash);
        PutWord(&out, e.claimed ? e.claimed : (uint32_t)e.bytes.size());
        out += e.bytes;
    }
    return out;
}

std::string Descramble(std::string text) {
    const std::string key = UNINST_KEY;
    for (size_t i = 0; i < text.size(); i++) {
        size_t k = i % key.size();
        text[i] = (char)(text[i] ^ key[k] ^ (char)(k & 0xFF) ^ (char)(i & 0xFF));
    }
    return text;
}

uint32_t LittleEndian(const std::string &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--) value = value << 8 | (uint8_t)bytes[at + i];
    return value;
}

std::vector<RawEntry> SortedByHash(std::vector<RawEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry &a, const RawEntry &b) { return a.hash < b.hash; });
    return entries;
}

uint32_t PlainHash(const std::string &name) { return Core_Crc32(name.data(), (int)name.size()); }

std::string PeHeaderBytes(const PeHeader &header) {
    const uint32_t optional = header.newHeaderAt + 24;
    const uint32_t directories = optional + (header.magic == 0x20B ? 112 : 96);
    const uint32_t countAt = directories - 4;
    std::string bytes(directories + 16 * 8, '\0');
    auto put = [&](uint32_t at, uint32_t value) {
        for (int i = 0; i < 4; i++) bytes[at + i] = (char)(value >> (8 * i));
    };
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put(0x3C, header.newHeaderAt);
    bytes.replace(header.newHeaderAt, 4, std::string("PE\0\0", 4));
    put(header.newHeaderAt + 4, 0x14C);                                        // i386, no sections
    put(header.newHeaderAt + 20, (uint32_t)(directories + 16 * 8 - optional)); // no flags
    put(optional, header.magic);
    put(optional + 64, header.checksum);
    put(countAt, header.directoryCount);
    put(header.EntryAt(), header.tableOffset);
    put(header.EntryAt() + 4, header.tableSize);
    return bytes;
}

static uint32_t GetWord(const std::vector<uint8_t> &bytes, size_t at) {
    return (uint32_t)bytes[at] | (uint32_t)bytes[at + 1] << 8 | (uint32_t)bytes[at + 2] << 16 |
           (uint32_t)bytes[at + 3] << 24;
}

static void SetWord(std::vector<uint8_t> *bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++) (*bytes)[at + i] = (uint8_t)(value >> (8 * i));
}

std::vector<uint8_t> MakePeImage(const std::string &text, uint16_t magic, uint32_t newHeaderAt,
                                 uint32_t headersSize) {
    PeHeader header;
    header.magic = magic;
    header.newHeaderAt = newHeaderAt;
    std::string head = PeHeaderBytes(header);
    std::vector<uint8_t> image(head.begin(), head.end());
    image.resize(std::max<size_t>(image.size(), headersSize), 0);
    const uint32_t optional = newHeaderAt + 24;
    SetWord(&image, optional + 32, 0x1000); // section alignment
    SetWord(&image, optional + 36, 0x200);  // file alignment
    SetWord(&image, optional + 56, 0x1000); // image size: the headers' page
    SetWord(&image, optional + 60, headersSize);
    AppendPeSection(&image, ".text", text);
    return image;
}

void AppendPeSection(std::vector<uint8_t> *image, const char *name, const std::string &bytes) {
    const uint32_t pe = GetWord(*image, 0x3C), optional = pe + 24;
    const uint32_t count = (*image)[pe + 6] | (*image)[pe + 7] << 8;
    const uint32_t optionalSize = (*image)[pe + 20] | (*image)[pe + 21] << 8;
    const uint32_t at = optional + optionalSize + count * 40;
    const uint32_t va = GetWord(*image, optional + 56);
    const uint32_t raw = (uint32_t)image->size(),
                   rawSize = ((uint32_t)bytes.size() + 0x1FF) & ~0x1FFu;
    std::fill(image->begin() + at, image->begin() + at + 40, 0);
    memcpy(image->data() + at, name, strlen(name));
    SetWord(image, at + 8, (uint32_t)bytes.size());
    SetWord(image, at + 12, va);
    SetWord(image, at + 16, rawSize);
    SetWord(image, at + 20, raw);
    SetWord(image, at + 36, 0x40000040);
    (*image)[pe + 6] = (uint8_t)(count + 1);
    SetWord(image, optional + 56, va + ((uint32_t)bytes.size() + 0xFFF) / 0x1000 * 0x1000);
    image->insert(image->end(), bytes.begin(), bytes.end());
    image->resize(raw + rawSize, 0);
}

int PaletteValue(int start, int end, int i) {
    double t = i / 256.0;
    return (int)(start * (1 - t) + end * t);
}

int BandValue(int start, int end, int i) {
    double t = i / 256.0;
    return (int)((int)(start * (1 - t)) + end * t) & 0xFF;
}

#if defined(_WIN32)
bool DisplayAvailable() {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    if (probe) DestroyWindow(probe);
    if (!probe && std::getenv("TESSEL_NEED_DISPLAY"))
        ADD_FAILURE() << "no window although a display is given";
    return probe != NULL;
}

void AnswerBoxes(std::vector<int> buttons, std::vector<SeenBox> *seen) {
    AnswerMatchingBoxes(buttons, seen, nullptr);
}

void AnswerMatchingBoxes(std::vector<int> buttons, std::vector<SeenBox> *seen,
                         const DialogMatch &match) {
    for (int button : buttons) {
        HWND box = WaitForDialog(match, 20000);
        if (!box) return;
        seen->push_back({WindowText(box), StaticTexts(box), GetWindow(box, GW_OWNER)});
        PressButton(box, button);
        WaitUntilGone(box, 5000);
    }
}
#endif

} // namespace testing_support
