// Inputs of the codec tests: random bytes (which no codec shortens), lines of text (which every
// codec does) and a program's image of relative calls (which the x86 converter makes alike).
#pragma once
#include <stdint.h>

#include <random>
#include <string>

#include "tessel-bytes.h"

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

} // namespace codec_test
