// libFuzzer target for the Type2 codec: any bytes decoded as a block's code stream, and
// compressed and decoded again; what is checked is said at Fuzz_Type2.
#include <stddef.h>
#include <stdint.h>

#include "fuzz-entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Fuzz_Type2(data, size);
    return 0;
}
