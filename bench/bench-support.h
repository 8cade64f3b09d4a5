// What the codec benchmarks share: their clock and the reading of a whole input file.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

// "[--rounds N] FILE...": *rounds (defaultRounds without the option) and the index of the first
// file in *first. A command line without a file or with fewer than one round ends the run with
// the usage and status 2.
inline void ReadArguments(int argc, char **argv, int defaultRounds, int *rounds, int *first) {
    *rounds = defaultRounds;
    *first = 1;
    if (argc > 2 && strcmp(argv[1], "--rounds") == 0) {
        *rounds = atoi(argv[2]);
        *first = 3;
    }
    if (*first >= argc || *rounds < 1) {
        fprintf(stderr, "usage: %s [--rounds N] FILE...\n", argv[0]);
        exit(2);
    }
}

} // namespace bench
