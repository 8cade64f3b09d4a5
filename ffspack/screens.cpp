// 'ffspack test --screens': the robot's BMP screen shots as PNG files, with a small deflate
// encoder (fixed codes, repeats from a hash chain), and the virtual display of the run.
#include "screens.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>

#include <algorithm>

#include "tessel-str.h"

// ---- Deflate ----

namespace {

enum {
    WINDOW = 32768, // how far back a repeat may start
    MIN_MATCH = 3,
    MAX_MATCH = 258,
    HASH_BITS = 15,
    MAX_CHAIN = 32, // earlier places tried for each repeat
};

// Bits into bytes, the first bit into the lowest place (RFC 1951, 3.1.1).
struct BitWriter {
    std::vector<uint8_t> *out;
    uint32_t buffer = 0;
    int count = 0;

    void Bits(uint32_t value, int length) { // length <= 16
        buffer |= value << count;
        for (count += length; count >= 8; count -= 8, buffer >>= 8) out->push_back((uint8_t)buffer);
    }
    // A Huffman code goes out from its highest bit.
    void Code(uint32_t code, int length) {
        uint32_t reversed = 0;
        for (int i = 0; i < length; i++) reversed |= (code >> i & 1) << (length - 1 - i);
        Bits(reversed, length);
    }
    void Flush() {
        if (count > 0) out->push_back((uint8_t)buffer);
        buffer = 0;
        count = 0;
    }
};

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A literal byte, the end of the block (256) or a length code (257-285) in the fixed code.
void PutSymbol(BitWriter *bits, int symbol) {
    if (symbol <= 143)
        bits->Code(0x30 + symbol, 8);
    else if (symbol <= 255)
        bits->Code(0x190 + symbol - 144, 9);
    else if (symbol <= 279)
        bits->Code(symbol - 256, 7);
    else
        bits->Code(0xC0 + symbol - 280, 8);
}

void PutRepeat(BitWriter *bits, int length, int distance) {
    int code = 28;
    while (kLengthBase[code] > length) code--;
    PutSymbol(bits, 257 + code);
    bits->Bits(length - kLengthBase[code], kLengthExtra[code]);
    code = 29;
    while (kDistanceBase[code] > distance) code--;
    bits->Code(code, 5);
    bits->Bits(distance - kDistanceBase[code], kDistanceExtra[code]);
}

uint32_t Adler32(const std::vector<uint8_t> &data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void PutBigEndian(std::vector<uint8_t> *out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back((uint8_t)(value >> shift));
}

} // namespace

std::vector<uint8_t> Screens_Deflate(const std::vector<uint8_t> &data) {
    std::vector<uint8_t> out = {0x78, 0x01}; // deflate, 32 KB window, no dictionary
    BitWriter bits{&out};
    bits.Bits(1, 1); // the last block
    bits.Bits(1, 2); // fixed codes
    const int size = (int)data.size();
    std::vector<int32_t> head(1u << HASH_BITS, -1), previous(WINDOW, -1);
    auto insert = [&](int at) {
        if (at + MIN_MATCH > size) return;
        uint32_t hash = ((uint32_t)data[at] << 10 ^ (uint32_t)data[at + 1] << 5 ^ data[at + 2]) &
                        ((1u << HASH_BITS) - 1);
        previous[at & (WINDOW - 1)] = head[hash];
        head[hash] = at;
    };
    for (int at = 0; at < size;) {
        int best = 0, bestDistance = 0;
        if (at + MIN_MATCH <= size) {
            uint32_t hash =
                ((uint32_t)data[at] << 10 ^ (uint32_t)data[at + 1] << 5 ^ data[at + 2]) &
                ((1u << HASH_BITS) - 1);
            int longest = std::min((int)MAX_MATCH, size - at);
            int candidate = head[hash];
            for (int chain = 0;
                 chain < MAX_CHAIN && candidate >= 0 && candidate < at && at - candidate <= WINDOW;
                 chain++) {
                int length = 0;
                while (length < longest && data[candidate + length] == data[at + length]) length++;
                if (length > best) {
                    best = length;
                    bestDistance = at - candidate;
                    if (length == longest) break;
                }
                candidate = previous[candidate & (WINDOW - 1)];
            }
        }
        if (best >= MIN_MATCH) {
            PutRepeat(&bits, best, bestDistance);
            for (int end = at + best; at < end; at++) insert(at);
        } else {
            PutSymbol(&bits, data[at]);
            insert(at++);
        }
    }
    PutSymbol(&bits, 256);
    bits.Flush();
    PutBigEndian(&out, Adler32(data));
    return out;
}

// ---- BMP to PNG ----

static uint32_t Le32(const std::vector<uint8_t> &bytes, size_t at) {
    return (uint32_t)bytes[at] | (uint32_t)bytes[at + 1] << 8 | (uint32_t)bytes[at + 2] << 16 |
           (uint32_t)bytes[at + 3] << 24;
}

static void PutChunk(std::vector<uint8_t> *png, const char *kind,
                     const std::vector<uint8_t> &body) {
    PutBigEndian(png, (uint32_t)body.size());
    std::vector<uint8_t> covered(kind, kind + 4);
    covered.insert(covered.end(), body.begin(), body.end());
    png->insert(png->end(), covered.begin(), covered.end());
    PutBigEndian(png, Core_Crc32(covered.data(), (int)covered.size()));
}

bool Screens_BmpToPng(const std::vector<uint8_t> &bmp, std::vector<uint8_t> *png,
                      std::string *error) {
    enum { FILE_HEADER = 14, INFO_HEADER = 40 };
    if (bmp.size() < FILE_HEADER + INFO_HEADER || bmp[0] != 'B' || bmp[1] != 'M') {
        *error = "not a BMP file";
        return false;
    }
    uint32_t offset = Le32(bmp, 10);
    int32_t width = (int32_t)Le32(bmp, 18), height = (int32_t)Le32(bmp, 22);
    uint16_t bitsPerPixel = (uint16_t)(bmp[28] | bmp[29] << 8);
    if (bitsPerPixel != 24 || Le32(bmp, 30) != 0) {
        *error = "not an uncompressed 24-bit BMP picture";
        return false;
    }
    if (width < 1 || height < 1 || width > SCREENS_MAX_SIDE || height > SCREENS_MAX_SIDE) {
        *error = "a BMP picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels (bottom-up, 1 to " + std::to_string(SCREENS_MAX_SIDE) + " each way)";
        return false;
    }
    size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3, rowBytes = (size_t)width * 3;
    if (offset > bmp.size() || (bmp.size() - offset) / stride < (size_t)height) {
        *error = "the BMP file ends inside its picture";
        return false;
    }
    std::vector<uint8_t> raw, above(rowBytes, 0), row(rowBytes);
    raw.reserve((rowBytes + 1) * (size_t)height);
    for (int32_t y = 0; y < height; y++) {
        const uint8_t *pixels = &bmp[offset + (size_t)(height - 1 - y) * stride];
        for (size_t x = 0; x < rowBytes; x += 3) { // BGR to RGB
            row[x] = pixels[x + 2];
            row[x + 1] = pixels[x + 1];
            row[x + 2] = pixels[x];
        }
        raw.push_back(2); // filter "up": the difference to the row above
        for (size_t x = 0; x < rowBytes; x++) raw.push_back((uint8_t)(row[x] - above[x]));
        above.swap(row);
    }
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    PutBigEndian(&header, (uint32_t)width);
    PutBigEndian(&header, (uint32_t)height);
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, filters, no interlace
    PutChunk(&out, "IHDR", header);
    PutChunk(&out, "IDAT", Screens_Deflate(raw));
    PutChunk(&out, "IEND", {});
    png->swap(out);
    return true;
}

std::string Screens_Slug(const std::string &title) {
    enum { SLUG_LIMIT = 40 };
    std::string slug;
    for (char c : title) {
        if (isalnum((uint8_t)c) && (uint8_t)c < 0x80)
            slug += (char)tolower((uint8_t)c);
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    if (slug.size() > SLUG_LIMIT) slug.resize(SLUG_LIMIT);
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    return slug.empty() ? "window" : slug;
}

// ---- The display ----

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

int Screens_StartDisplay(int width, int height, int seconds, std::string *display,
                         std::string *error) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        *error = std::string("cannot start Xvfb: ") + strerror(errno);
        return 0;
    }
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, 1), dup2(quiet, 2);
        std::string fd = std::to_string(pipeFds[1]);
        // -displayfd: Xvfb takes the first free display and writes its number when it serves.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", (char *)nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    std::string number;
    bool served = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (child > 0 && !served) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd wait = {pipeFds[0], POLLIN, 0};
        char c;
        if (left <= 0 || poll(&wait, 1, (int)left) <= 0 || read(pipeFds[0], &c, 1) != 1) break;
        if (c == '\n')
            served = !number.empty();
        else
            number += c;
    }
    close(pipeFds[0]);
    if (!served) {
        if (child > 0) Screens_StopDisplay(child);
        *error = "Xvfb did not start a display in " + std::to_string(seconds) +
                 " s (is the Debian package xvfb installed?)";
        return 0;
    }
    *display = ":" + number;
    return child;
}

void Screens_StopDisplay(int process) {
    kill(process, SIGTERM);
    waitpid(process, nullptr, 0);
}
#endif
