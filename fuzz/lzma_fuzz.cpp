// libFuzzer target for the LZMA codec: any bytes decoded as a block's stream under a chosen
// header; what is checked is said at Fuzz_Lzma.
#include <stddef.h>
#include <stdint.h>

#include "fuzz-entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Fuzz_Lzma(data, size);
    return 0;
}
