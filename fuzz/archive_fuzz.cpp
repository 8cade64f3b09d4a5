// libFuzzer target for the archive reader: the input is a whole file, opened as the setup opens
// its own executable; what is checked is said at Fuzz_Archive.
#include <stddef.h>
#include <stdint.h>

#include "fuzz-entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Fuzz_Archive(data, size);
    return 0;
}
