// The builder's inputs, and reading what an entry is made of: one input, or the members of a solid
// group one after the other, in pieces from memory or from their files, each file checked to hold
// exactly the size it had when it was listed. Used by archive writing (pack-archive) and the
// grouping plan's search for equal files (pack-group).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "pack-file.h"

typedef struct PackInput {
    std::string name;       // as the script asks for it
    PackBytes data;         // its bytes, when path is empty
    std::string path = {};  // else the file that holds them, read in pieces where they are needed;
    uint64_t size = 0;      // its size when it was listed, which it must still have then
    int32_t listOrder = -1; // its place in the script's FILE LIST (from 0); -1: no list item
} PackInput;

// The input's size: of its bytes in memory, or the size its file had when it was listed.
uint64_t Pack_InputSize(const PackInput &input);

// The bytes of one entry: its parts' bytes back to back (one part for an ordinary entry).
typedef struct PackContent {
    std::string name;                     // the entry's name
    std::vector<const PackInput *> parts; // at least one
    uint64_t size;                        // the parts' sizes added up
} PackContent;

// The content of one input alone.
PackContent Pack_ContentOf(const PackInput &input);

// A content's bytes from its start, in pieces.
typedef struct PackReader {
    const PackContent *content;
    size_t part;              // the part being read
    SysFile *file;            // its file, while it is open
    uint64_t partRead;        // bytes read of that part
    uint64_t read;            // bytes read of the whole
    uint8_t head[4];          // the first bytes read, zeros behind a shorter content
    bool failed;              // a file call failed
    bool changed;             // a file ends before its size, or goes on past it
    const PackInput *culprit; // the part that failed or changed
    std::string openError;    // why a part's file could not be opened
} PackReader;

// Opens the content for reading from its start. False, with *error, when its first file cannot
// be opened.
bool Pack_OpenReader(const PackContent &content, PackReader *reader, std::string *error);
// The next n bytes (an FfsSource; never asked past the content's size): 1, or 0 when they cannot
// be read. Each part's file is opened when it is reached and closed, its end checked, when it
// has been read.
int Pack_Read(void *context, uint8_t *buffer, int32_t n);
// Closes the reader. Where all of a part was read, its file must end there: a file that grew or
// shrank since it was listed would be stored cut short or padded. False, with *error, when a
// read, an open, that end or a close failed.
bool Pack_CloseReader(PackReader *reader, std::string *error);
