// Spools: where the builder's encoded blocks wait between their encoding and the archive, one
// behind the other, in memory or in a file of the output's folder. One spool per encoding
// thread; pack-archive writes into them and copies the kept blocks out.
#pragma once
#include <stdint.h>

#include <string>

#include "pack-file.h"
#include "tessel-sys.h"

typedef struct Spool {
    SysFile *file = nullptr; // null: in memory
    std::string path = {};
    PackBytes memory = {};
    int64_t end = 0;          // where the next block goes; a caller may move it back to drop
                              // the blocks behind it
    int64_t position = 0;     // the file's position
    std::string failure = {}; // the first failed call's error; every later call fails too
} Spool;

// Makes the spool a file at path, which nobody else sees (removed at once where an open file
// can be). False with *error when it cannot be made.
bool Spool_Open(const std::string &path, Spool *spool, std::string *error);
// Closes a spool file (nothing for one in memory). False, with the first failure in *error,
// when a call failed, the close among them.
bool Spool_Close(Spool *spool, std::string *error);
// Appends n bytes at the spool's end (an FfsSink). 0 when they cannot be written.
int Spool_Write(void *context, const uint8_t *data, int32_t n);
// n bytes of the spool from at into buffer. False when they cannot be read.
bool Spool_Read(Spool *spool, int64_t at, uint8_t *buffer, int32_t n);

// A block of a spool read from its start, in pieces, through Spool_ReadBlock (an FfsSource).
typedef struct SpoolReader {
    Spool *spool;
    int64_t at;
} SpoolReader;
int Spool_ReadBlock(void *context, uint8_t *buffer, int32_t n);
