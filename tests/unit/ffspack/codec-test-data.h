// Inputs of the codec tests: random bytes (which no codec shortens), lines of text (which every
// codec does) and a program's image of relative calls (which the x86 converter makes alike).
#pragma once
#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "pack-archive.h"
#include "pack-lzma.h"
#include "tessel-bytes.h"

// Skips a test that needs the LZMA encoder in a build of ffspack without one.
#define NEED_ENCODER()                                                                             \
    if (!Pack_LzmaAvailable()) GTEST_SKIP() << "this build of ffspack has no LZMA encoder"

namespace codec_test {

inline std::string Random(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes) c = (char)(random() & 0xFF);
    return bytes;
}

inline std::string Text(size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; line++)
        text += "line " + std::to_string(line) + ": the clock chimes at " +
                std::to_string(line % 24) + " o'clock\r\n";
    return text.substr(0, size);
}

// "MZ", then a push and a call (E8 and the distance from the call's end) to one of 16 functions,
// calls times.
inline std::string Program(size_t calls) {
    std::string code = "MZ" + std::string(62, '\0');
    std::mt19937 random(7);
    for (size_t i = 0; i < calls; i++) {
        code += (char)0x55;
        uint32_t target = 0x1000 + (uint32_t)(random() % 16) * 0x40;
        uint8_t call[5] = {0xE8};
        Le_Put32(call + 1, target - (uint32_t)(code.size() + 5));
        code.append((const char *)call, 5);
    }
    return code;
}

// The archive of inputs under LZMA made on 1 and on 3 threads, its blocks waiting in memory and
// in spool files named after spool: the four archives, which must be the same bytes.
inline std::vector<PackBytes> ArchivesOverThreads(const std::vector<PackInput> &inputs,
                                                  const std::string &spool) {
    Pack_SetCodec(PACK_CODEC_LZMA);
    std::vector<PackBytes> made;
    for (int jobs : {1, 3}) {
        for (bool spoolFiles : {false, true}) {
            Pack_SetJobs(jobs);
            PackBytes archive;
            std::string error;
            PackNotes notes;
            bool built = Pack_MakeArchive(
                inputs, PACK_DEFAULT_FLAGS, 0, false, spoolFiles ? spool : "",
                [&archive](const uint8_t *bytes, size_t length) {
                    archive.insert(archive.end(), bytes, bytes + length);
                    return true;
                },
                &error, &notes);
            made.push_back(built ? archive : PackBytes{});
        }
    }
    Pack_SetJobs(0);
    Pack_SetCodec(PACK_CODEC_TYPE2);
    return made;
}

} // namespace codec_test
