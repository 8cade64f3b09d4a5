// The unit tests' kit, in both trees: temporary folders and whole-file reads and writes, the
// log of a test, archives written by the builder or by hand, the uninstaller's decoder, and in
// the win32 tree the display probe and the box answerer over the window finder.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pack.h"
#include "tessel-core.h"
#if defined(_WIN32)
#include "test-windows.h"
#endif

namespace testing_support {
// A fresh empty folder under the system's temporary folder, ending in a separator.
std::string MakeTempDir(const std::string &tag);
// The whole file, or "" with ok = false when it cannot be read.
std::string ReadFile(const std::string &path, bool *ok = nullptr);
// The whole text file with the platform's line ends ("\r\n" on Windows) read back as "\n".
std::string ReadText(const std::string &path);
bool WriteFile(const std::string &path, const std::string &data);
bool FileExists(const std::string &path);
void RemoveFile(const std::string &path);
// Folder of the running test program, ending in a separator.
std::string ProgramDir();

// The log of a test: the file logName beside the program, started empty with flags (LOG_FILE
// alone writes no banner) and read back as text; stopped and removed at the end.
class LogCapture {
  public:
    explicit LogCapture(const char *logName, uint32_t flags = LOG_FILE);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    // What was logged since the start or the last Take.
    std::string Text() const;
    bool Has(const std::string &line) const { return Text().find(line) != std::string::npos; }
    // Text, and the next Text starts after it.
    std::string Take();

  private:
    std::string name_, path_;
    size_t start_ = 0;
};

// Appends value as a 32-bit little-endian word.
void PutWord(std::string *out, uint32_t value);
// A real archive of (name, bytes) files as the builder makes it: stand-alone (offset 0, no
// trailer), sorted, Type2 where it shrinks. A refused build is a test failure and gives "".
std::string PackArchive(const std::vector<std::pair<std::string, std::string>> &files,
                        uint32_t flags = PACK_DEFAULT_FLAGS);
// One entry of a hand-made archive: the hash its directory entry and its block carry, the
// stored bytes, and the stored length its block claims (0: the bytes' own).
struct RawEntry {
    uint32_t hash;
    std::string bytes;
    uint32_t claimed = 0;
};
// An archive written word by word, for the damaged ones the builder never makes: a header
// with matching check words and the flags given, the entries in the order given (a reader
// finds them only when sorted by hash), block offsets counted from archiveOffset. Nothing is
// checked, padded or compressed.
std::string RawArchive(const std::vector<RawEntry> &entries, uint32_t flags,
                       uint32_t archiveOffset = 0);
// The entries in the order a reader looks them up: by hash.
std::vector<RawEntry> SortedByHash(std::vector<RawEntry> entries);
// The headers of a Windows image, written from the layout rather than with the reader's offsets:
// "MZ" with the new header's offset at 0x3C, "PE\0\0" there, a file header without sections,
// and an optional header of the magic (0x10B PE32, 0x20B PE32+) with the checksum at its byte
// 64, the count of data directories, and room for 16 of them (at its byte 96 or 112), the
// fifth (security) naming the certificate table. Zeros elsewhere; the bytes end behind the
// directories.
struct PeHeader {
    uint16_t magic = 0x10B;
    uint32_t newHeaderAt = 64;
    uint32_t checksum = 0;
    uint32_t directoryCount = 16;
    uint32_t tableOffset = 0, tableSize = 0;
    // File offsets of the checksum and of the security entry in these headers.
    uint32_t ChecksumAt() const { return newHeaderAt + 24 + 64; }
    uint32_t EntryAt() const { return newHeaderAt + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8; }
};
std::string PeHeaderBytes(const PeHeader &header);
// A small image as a linker lays it out: the headers (PE32, or PE32+ with magic 0x20B; the
// signature at newHeaderAt) padded to headersSize bytes, which is also where the first section's
// data begins, then a section ".text" holding text; file alignment 0x200, section alignment
// 0x1000, no resources.
std::vector<uint8_t> MakePeImage(const std::string &text, uint16_t magic = 0x10B,
                                 uint32_t newHeaderAt = 0x80, uint32_t headersSize = 0x400);
// Appends a section named name (at most 8 characters) holding bytes behind the image's last one,
// in the address space and in the file, with the section count and the image size.
void AppendPeSection(std::vector<uint8_t> *image, const char *name, const std::string &bytes);
// The hash of name in an archive of flags 0: the CRC-32 of the name as it is written.
uint32_t PlainHash(const std::string &name);
// The uninstaller's copy of the script read back, written from the layout's description rather
// than with the installer's function: byte i with the key's byte k = i mod n, with k and with
// i, all in 8 bits.
std::string Descramble(std::string text);
// The 32-bit little-endian word at bytes[at].
uint32_t LittleEndian(const std::string &bytes, size_t at);
// The backdrop gradient's channels written out in real numbers as the backdrop describes them,
// t = i / 256: palette entry i and band i of the ramp from start to end.
int PaletteValue(int start, int end, int i);
int BandValue(int start, int end, int i);

#if defined(_WIN32)
// 1 when Wine can create windows (the program runs on a display). Without one the cases that
// need windows skip; in a display run (TESSEL_NEED_DISPLAY set) a missing window is a failure.
bool DisplayAvailable();
// A message box or dialog of this process as the user saw it: its title, its static texts and
// its owner.
struct SeenBox {
    std::string title, text;
    HWND owner = NULL;
};
// Answers the next boxes of this process (FindDialog's), one button id each, and records
// them; each waits up to 20 s to appear and is gone before the next is looked for. Stops at
// the first box that does not come.
void AnswerBoxes(std::vector<int> buttons, std::vector<SeenBox> *seen);
// AnswerBoxes for the boxes that match takes.
void AnswerMatchingBoxes(std::vector<int> buttons, std::vector<SeenBox> *seen,
                         const DialogMatch &match);
#endif
} // namespace testing_support
