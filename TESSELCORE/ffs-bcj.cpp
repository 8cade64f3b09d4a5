// The x86 branch converter's decoder. An E8 or E9 byte whose operand's high byte is 00 or FF
// reads as a CALL or JMP with a near target, unless the opcodes among the three bytes before it
// say that it lies inside another instruction; its operand then holds an absolute target, which
// is made relative to the instruction's end again.
#include "ffs-bcj.h"

// The mask holds a bit for each opcode among the bytes before the last one seen (bit 1 the byte
// just before it, up to bit 3); bits 5 to 7 mark those whose operand's high byte was 00 or FF.
// Which masks still let an operand be converted, by bits 1 to 3:
static const uint8_t MaskAllows[8] = {1, 1, 1, 0, 1, 0, 0, 0};
// Which byte of a converted target decides whether the conversion goes on once more.
static const uint8_t MaskByte[8] = {0, 1, 2, 2, 3, 3, 3, 3};

static int IsNearHigh(uint32_t byte) { return byte == 0x00 || byte == 0xFF; }

void Bcj_Start(BcjX86 *bcj) {
    bcj->position = 0;
    bcj->lastOpcode = 0;
    bcj->mask = 0;
}

// The operand after the opcode at position, absolute in data, made relative.
static void Convert(uint8_t *operand, uint32_t position, uint32_t mask) {
    uint32_t target = (uint32_t)operand[0] | (uint32_t)operand[1] << 8 |
                      (uint32_t)operand[2] << 16 | (uint32_t)operand[3] << 24;
    uint32_t relative;
    for (;;) {
        relative = target - (position + 5);
        if (mask == 0) break;
        uint32_t shift = 24 - 8 * MaskByte[mask >> 1];
        if (!IsNearHigh((relative >> shift) & 0xFF)) break;
        target = relative ^ ((1u << (shift + 8)) - 1);
    }
    operand[0] = (uint8_t)relative;
    operand[1] = (uint8_t)(relative >> 8);
    operand[2] = (uint8_t)(relative >> 16);
    operand[3] = (relative >> 24) & 1 ? 0xFF : 0x00;
}

int32_t Bcj_X86Decode(BcjX86 *bcj, uint8_t *data, int32_t length) {
    int32_t i = 0;
    uint32_t mask = bcj->mask;
    while (i <= length - 5) {
        if (data[i] != 0xE8 && data[i] != 0xE9) {
            i++;
            continue;
        }
        uint32_t position = bcj->position + (uint32_t)i;
        uint32_t distance = position - bcj->lastOpcode; // the mask is 0 before the first
        bcj->lastOpcode = position;
        // Each byte between shifts the mask; four clear it.
        for (uint32_t k = 0; k < distance && mask; k++) mask = (mask & 0x77) << 1;
        uint8_t high = data[i + 4];
        if (IsNearHigh(high) && MaskAllows[(mask >> 1) & 7] && (mask >> 1) < 0x10) {
            Convert(data + i + 1, position, mask);
            i += 5;
            mask = 0;
        } else {
            i++;
            mask |= 1;
            if (IsNearHigh(high)) mask |= 0x10;
        }
    }
    bcj->mask = mask;
    bcj->position += (uint32_t)i;
    return i;
}
