// Little-endian words as the archive, the stamp, the trailer and the uninstaller's copy of the
// script store them: the one definition of their byte order, for the program and its tools.
#pragma once
#include <stdint.h>

// The 16-bit word stored little-endian at bytes.
static inline uint32_t Le_Get16(const uint8_t *bytes) {
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

// The 32-bit word stored little-endian at bytes.
static inline uint32_t Le_Get32(const uint8_t *bytes) {
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

// Stores value little-endian at bytes (4 bytes).
static inline void Le_Put32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[i] = (uint8_t)(value >> (8 * i));
}
