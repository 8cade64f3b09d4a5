// 'ffspack test --screens': the pictures of a setup's interactive run. The screen shots that the
// test robot saves (24-bit BMP files) become PNG files, compressed here with a deflate encoder
// of our own (the builder links no compression library); and the virtual X display the run
// happens on. The conversion is pure and tested on the host.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// A PNG file (8-bit RGB, each row filtered against the one above, one zlib stream) of the
// picture in a bottom-up 24-bit BMP file's bytes. Returns false with *error, *png untouched,
// when the bytes are no such BMP (too short, another depth, a top-down or empty picture, a
// picture larger than SCREENS_MAX_SIDE either way).
enum { SCREENS_MAX_SIDE = 16384 };
bool Screens_BmpToPng(const std::vector<uint8_t> &bmp, std::vector<uint8_t> *png,
                      std::string *error);

// data as a zlib stream (RFC 1950) of one deflate block with the fixed codes (RFC 1951):
// repeats found within the last 32 KB, the rest as literals.
std::vector<uint8_t> Screens_Deflate(const std::vector<uint8_t> &data);

// A name for a picture file from a window title: lower-case letters and digits, the rest one
// '-' between them, at most 40 characters; "window" when nothing is left.
std::string Screens_Slug(const std::string &title);

#if !defined(_WIN32)
// Starts Xvfb with one screen of width x height pixels, 24 bits, and waits (at most seconds)
// until it serves. Returns its process (>0) with *display (":5"), or 0 with *error.
int Screens_StartDisplay(int width, int height, int seconds, std::string *display,
                         std::string *error);
// Ends the display that Screens_StartDisplay started.
void Screens_StopDisplay(int process);
#endif
