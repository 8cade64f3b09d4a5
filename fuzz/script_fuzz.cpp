// libFuzzer target for the script engine: any bytes are loaded as "install.dat" and run
// quietly and interactively; what is checked is said at Fuzz_Script.
#include <stddef.h>
#include <stdint.h>

#include "fuzz-entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Fuzz_Script(data, size);
    return 0;
}
