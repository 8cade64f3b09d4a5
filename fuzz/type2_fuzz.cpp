// libFuzzer target for the Type2 codec. The first two bytes choose the requested size; the rest
// is the code stream of a block with that size, decoded into an exact heap area of that size
// from an exact heap copy of the block, so a byte read or written outside either is caught.
// The same bytes are then compressed and must decompress to themselves.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ffs-cmp2.h"
#include "tessel-core.h"

static void Check(int condition) {
    if (!condition) __builtin_trap();
}

static void ShutDown(void) { Type2_Shutdown(); }

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc;
    (void)argv;
    Mem_Init(MEM_NO_LIMIT, 0);
    Type2_Init();
    atexit(ShutDown);
    return 0;
}

static void Decode(const uint8_t *data, size_t size) {
    if (size < 2) return;
    int32_t wanted = 1 + (int32_t)(data[0] | (data[1] << 8)); // 1 to 65536 bytes
    size_t blockLength = TYPE2_HEADER_SIZE + size - 2;
    uint8_t *block = (uint8_t *)malloc(blockLength);
    memcpy(block, TYPE2_TAG, 4);
    uint32_t complement = ~(uint32_t)wanted;
    for (int i = 0; i < 4; i++) block[4 + i] = (uint8_t)(complement >> (8 * i));
    memcpy(block + TYPE2_HEADER_SIZE, data + 2, size - 2);
    uint8_t *output = (uint8_t *)malloc((size_t)wanted);
    Check(Type2_Decompress(block, (int32_t)blockLength, output, wanted) == 1);
    free(output);
    free(block);
}

static void RoundTrip(const uint8_t *data, size_t size) {
    if (size > (1 << 20)) return;
    size_t capacity = size * 3 + 64;
    uint8_t *block = (uint8_t *)malloc(capacity);
    int32_t blockLength = (int32_t)capacity;
    if (Type2_Compress(data, (int32_t)size, block, &blockLength)) {
        Check(blockLength < (int32_t)size);
        uint8_t *output = (uint8_t *)malloc(size);
        Check(Type2_Decompress(block, blockLength, output, (int32_t)size) == 1);
        Check(memcmp(output, data, size) == 0);
        free(output);
    }
    free(block);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Decode(data, size);
    RoundTrip(data, size);
    return 0;
}
