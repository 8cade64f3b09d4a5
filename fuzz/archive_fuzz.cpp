// libFuzzer target for the archive reader: the input is a whole file, opened as the setup opens
// its own executable (offset 0, else through the trailer) with the Type2 codec registered.
// Every directory entry is sized and loaded, a few names are asked for, the stamp check runs
// over the file, and every block must be given back.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ffs-cmp2.h"
#include "ffs.h"
#include "tessel-core.h"

static void Check(int condition) {
    if (!condition) __builtin_trap();
}

// Sizes above this are not loaded (the reader would allocate them honestly; the fuzzer's
// memory limit would not like it).
enum { LOAD_LIMIT = 1 << 16 };

static void LoadEntry(uint32_t hash) {
    int32_t size = 0;
    if (!Ffs_GetEntrySize(hash, &size) || size < 0 || size > LOAD_LIMIT) return;
    // An exact heap area: the sanitizer catches a byte written past it.
    uint8_t *buffer = (uint8_t *)malloc(size ? (size_t)size : 1);
    Ffs_LoadEntry(hash, buffer, size);
    Ffs_LoadEntry(hash, buffer, size / 2); // a wrong size must fail cleanly too
    free(buffer);
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc;
    (void)argv;
    char folder[] = "/tmp/archive-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) abort();
    Mem_Init(MEM_NO_LIMIT, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *file = fopen("setup.exe", "wb");
    if (!file) abort();
    if (size && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
    MemStats before = {};
    Mem_GetStats(&before);
    if (Ffs_Open("setup.exe", 0)) {
        Ffs_AddCodec(&Type2_Codec);
        uint32_t count = Ffs_EntryCount();
        for (uint32_t i = 0; i < count && i < 64; i++) {
            uint32_t hash = 0, offset = 0;
            Check(Ffs_EntryAt(i, &hash, &offset) == 1);
            LoadEntry(hash);
        }
        static const char *names[] = {"install.dat", "uninst.exe", "INSTALL.DAT"};
        for (const char *name : names) LoadEntry(Ffs_HashName(name));
    }
    Ffs_Close();
    if (size >= CORE_STAMP_SIZE) {
        Core_VerifyStampRecord(data, CORE_STAMP_KEY, "setup.exe", 0, 0);
        Core_VerifyStampRecord(data + size - CORE_STAMP_SIZE, CORE_STAMP_KEY, "setup.exe", 1, 1);
    }
    MemStats after = {};
    Mem_GetStats(&after);
    Check(after.blockCount == before.blockCount && after.bytesInUse == before.bytesInUse);
    return 0;
}
