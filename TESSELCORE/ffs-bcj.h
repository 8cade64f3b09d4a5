// The x86 branch converter's decoder: the targets of 32-bit relative CALL (E8) and JMP (E9)
// instructions, which the builder's filter made absolute before compressing, made relative
// again. Used by the LZMA codec (ffs-lzma.h) on its output as it streams.
#pragma once
#include <stdint.h>

enum { BCJ_LOOKAHEAD = 4 }; // bytes an opcode's operand reaches past it

// The converter between pieces: the position of the next byte to look at, counted from the
// entry's first byte, the position of the last opcode seen, and the opcodes among the bytes
// just before it (their mask). Zeroed by Bcj_Start.
typedef struct BcjX86 {
    uint32_t position;
    uint32_t lastOpcode;
    uint32_t mask;
} BcjX86;

void Bcj_Start(BcjX86 *bcj);
// Converts the length bytes of data, the entry's bytes from bcj->position on, in place. Returns
// how many of them are final: the bytes from there on (at most BCJ_LOOKAHEAD, or none) must be
// given again at the front of the next call, with the bytes that follow them. At the entry's
// end those last bytes stay as they are.
int32_t Bcj_X86Decode(BcjX86 *bcj, uint8_t *data, int32_t length);
