// libFuzzer target for the uninstaller's script reader: any bytes are the end of an
// uninstaller's file; what is checked is said at Fuzz_Uninst.
#include <stddef.h>
#include <stdint.h>

#include "fuzz-entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Fuzz_Uninst(data, size);
    return 0;
}
