// What the codec benchmarks share: their clock and the reading of a whole input file.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vector>

namespace bench {

typedef std::vector<uint8_t> Bytes;

// Seconds of this process's processor time: steadier than the wall clock on a shared machine.
inline double CpuSeconds(void) {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

// The whole file; a file that cannot be opened ends the run with status 2.
inline Bytes ReadFile(const char *path) {
    Bytes data;
    FILE *file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "cannot open %s\n", path);
        exit(2);
    }
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    fclose(file);
    return data;
}

} // namespace bench
