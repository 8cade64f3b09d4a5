// The pictures of 'ffspack test --screens': the deflate encoder, whose streams Python's zlib
// (the reference decoder) must give back byte for byte, the BMP to PNG conversion with the
// pictures it refuses, and the file names made of window titles.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "screens.h"
#include "tessel-str.h"
#include "test-support.h"

using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// A 24-bit bottom-up BMP of width x height whose pixel (x, y) from the top is (x, y, x ^ y).
std::vector<uint8_t> Bmp(int32_t width, int32_t height, uint16_t bits = 24) {
    size_t stride = ((size_t)(width < 0 ? -width : width) * 3 + 3) & ~(size_t)3;
    size_t pixels = stride * (size_t)(height < 0 ? -height : height);
    std::vector<uint8_t> bmp(54 + pixels, 0);
    auto put = [&](size_t at, uint32_t value, int size) {
        for (int i = 0; i < size; i++) bmp[at + i] = (uint8_t)(value >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put(2, (uint32_t)bmp.size(), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, (uint32_t)width, 4);
    put(22, (uint32_t)height, 4);
    put(26, 1, 2);
    put(28, bits, 2);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            size_t at = 54 + (size_t)(height - 1 - y) * stride + (size_t)x * 3;
            bmp[at] = (uint8_t)(x ^ y), bmp[at + 1] = (uint8_t)y, bmp[at + 2] = (uint8_t)x;
        }
    return bmp;
}

#if !defined(_WIN32)
std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t &byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = (uint8_t)(seed >> 16);
    }
    return bytes;
}

// What Python's zlib makes of a stream; "error" when it refuses it.
std::string Inflate(const std::vector<uint8_t> &stream) {
    std::string dir = MakeTempDir("screens-inflate");
    WriteFile(dir + "in", std::string(stream.begin(), stream.end()));
    std::string command = "python3 -c \"import sys, zlib\ntry:\n sys.stdout.buffer.write(b'ok' + "
                          "zlib.decompress(open(sys.argv[1], 'rb').read()))\nexcept Exception:\n "
                          "sys.stdout.write('error')\" " +
                          dir + "in >" + dir + "out";
    if (system(command.c_str()) != 0) return "python3 failed";
    std::string out = ReadFile(dir + "out");
    return out.compare(0, 2, "ok") == 0 ? out.substr(2) : out;
}

TEST(ScreensDeflate, ZlibGivesEveryInputBack) {
    std::vector<uint8_t> window = Random(32768, 7), past = Random(32769, 9);
    std::vector<uint8_t> far = window, tooFar = past;
    // A repeat exactly as far back as the window reaches, and one a byte farther.
    far.insert(far.end(), window.begin(), window.begin() + 258);
    tooFar.insert(tooFar.end(), past.begin(), past.begin() + 258);
    std::vector<uint8_t> run(100000, 0), text;
    for (int i = 0; i < 2000; i++) {
        std::string line = "line " + std::to_string(i % 37) + " of the welcome text\r\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    const struct {
        const char *what;
        std::vector<uint8_t> data;
    } rows[] = {
        {"nothing", {}},
        {"one byte", {0xFF}},
        {"two bytes", {1, 2}},
        {"a repeat of the shortest length", {9, 8, 7, 9, 8, 7}},
        {"a run of 258, the longest repeat, and one more", std::vector<uint8_t>(260, 0x41)},
        {"a long run", run},
        {"text", text},
        {"random bytes", Random(70000, 3)},
        {"a repeat 32768 bytes back", far},
        {"a repeat 32769 bytes back", tooFar},
        {"every byte value",
         [] {
             std::vector<uint8_t> all;
             for (int i = 0; i < 1024; i++) all.push_back((uint8_t)(i * 7));
             return all;
         }()},
    };
    for (const auto &row : rows) {
        std::vector<uint8_t> stream = Screens_Deflate(row.data);
        EXPECT_EQ(Inflate(stream), std::string(row.data.begin(), row.data.end())) << row.what;
    }
    // Repeats are found: a run and text shrink to a fraction; the repeat at the window's edge
    // is taken (258 literals would cost more than 250 bytes).
    EXPECT_LT(Screens_Deflate(run).size(), 1000u);
    EXPECT_LT(Screens_Deflate(text).size(), text.size() / 10);
    EXPECT_LT(Screens_Deflate(far).size(), Screens_Deflate(window).size() + 20);
    EXPECT_GT(Screens_Deflate(tooFar).size(), Screens_Deflate(past).size() + 250);
}

TEST(ScreensPng, APictureBecomesAPngOfItsPixels) {
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(Screens_BmpToPng(Bmp(5, 3), &png, &error)) << error;
    ASSERT_GT(png.size(), 8u + 25 + 12 + 12);
    EXPECT_EQ(std::string(png.begin(), png.begin() + 8), "\x89PNG\r\n\x1a\n");
    // IHDR: 5 x 3, 8 bits, RGB; each chunk's CRC over its type and body.
    const std::vector<uint8_t> header = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0,
                                         5, 0, 0, 0,  3,   8,   2,   0,   0, 0};
    EXPECT_EQ(std::vector<uint8_t>(png.begin() + 8, png.begin() + 8 + header.size()), header);
    size_t at = 8;
    std::vector<std::string> kinds;
    std::vector<uint8_t> image;
    while (at + 12 <= png.size()) {
        uint32_t length =
            (uint32_t)png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        ASSERT_LE(at + 12 + length, png.size());
        kinds.emplace_back(png.begin() + (long)at + 4, png.begin() + (long)at + 8);
        uint32_t crc = (uint32_t)png[at + 8 + length] << 24 | png[at + 9 + length] << 16 |
                       png[at + 10 + length] << 8 | png[at + 11 + length];
        EXPECT_EQ(crc, Core_Crc32(&png[at + 4], (int)length + 4)) << kinds.back();
        if (kinds.back() == "IDAT")
            image.assign(png.begin() + (long)at + 8, png.begin() + (long)at + 8 + length);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    EXPECT_EQ(kinds, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // Each row: filter 2 (up), then R, G, B less the row above.
    std::string expected;
    for (int y = 0; y < 3; y++) {
        expected += '\2';
        for (int x = 0; x < 5; x++) {
            uint8_t now[3] = {(uint8_t)x, (uint8_t)y, (uint8_t)(x ^ y)};
            uint8_t above[3] = {(uint8_t)(y ? x : 0), (uint8_t)(y ? y - 1 : 0),
                                (uint8_t)(y ? x ^ (y - 1) : 0)};
            for (int c = 0; c < 3; c++) expected += (char)(uint8_t)(now[c] - above[c]);
        }
    }
    EXPECT_EQ(Inflate(image), expected);
}
#endif

TEST(ScreensPng, PicturesItCannotReadAreRefused) {
    std::vector<uint8_t> cut = Bmp(4, 4);
    cut.pop_back(); // the last row's padding: the picture ends one byte early
    std::vector<uint8_t> notBmp = Bmp(2, 2);
    notBmp[0] = 'P';
    const struct {
        const char *what;
        std::vector<uint8_t> bmp;
        bool converted;
        std::string error;
    } rows[] = {
        {"the widest picture", Bmp(SCREENS_MAX_SIDE, 1), true, ""},
        {"the tallest picture", Bmp(1, SCREENS_MAX_SIDE), true, ""},
        {"one pixel", Bmp(1, 1), true, ""},
        {"too wide", Bmp(SCREENS_MAX_SIDE + 1, 1), false, "16385 x 1 pixels"},
        {"too tall", Bmp(1, SCREENS_MAX_SIDE + 1), false, "1 x 16385 pixels"},
        {"no rows", Bmp(1, 0), false, "1 x 0 pixels"},
        {"top-down", Bmp(1, -1), false, "1 x -1 pixels (bottom-up"},
        {"32 bits a pixel", Bmp(1, 1, 32), false, "not an uncompressed 24-bit BMP picture"},
        {"cut short", cut, false, "the BMP file ends inside its picture"},
        {"no BMP", notBmp, false, "not a BMP file"},
        {"too short for a header", std::vector<uint8_t>(53, 'B'), false, "not a BMP file"},
    };
    for (const auto &row : rows) {
        std::vector<uint8_t> png = {'x'};
        std::string error;
        EXPECT_EQ(Screens_BmpToPng(row.bmp, &png, &error), row.converted) << row.what;
        if (row.converted) continue;
        EXPECT_NE(error.find(row.error), std::string::npos) << row.what << ": " << error;
        EXPECT_EQ(png, std::vector<uint8_t>{'x'}) << row.what;
    }
}

TEST(ScreensSlug, TitlesBecomeFileNames) {
    const struct {
        std::string title, slug;
    } rows[] = {
        {"Welcome to Rocket", "welcome-to-rocket"},
        {"Installation Directory...", "installation-directory"},
        {"  Rocket 2.1 -- licence!", "rocket-2-1-licence"},
        {"...", "window"},
        {"", "window"},
        {"Caf\xC3\xA9 au lait", "caf-au-lait"},
        {std::string(40, 'a'), std::string(40, 'a')},
        {std::string(41, 'a'), std::string(40, 'a')},
        {std::string(39, 'a') + " b", std::string(39, 'a')}, // cut after the '-'
    };
    for (const auto &row : rows) EXPECT_EQ(Screens_Slug(row.title), row.slug) << row.title;
}

} // namespace
