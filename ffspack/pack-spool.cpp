// Spools: the encoded blocks one behind the other, in memory or in a file that nobody else sees;
// a failed call is kept as the spool's failure, and every later call fails too.
#include "pack-spool.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "check-names.h"

// A spool file at path, which nobody else sees: removed at once where an open file can be.
bool Spool_Open(const std::string &path, Spool *spool, std::string *error) {
    spool->path = path;
    spool->file = Sys_FileOpen(path.c_str(), "w+b");
    if (!spool->file) {
        *error = "cannot write " + Check_Quoted(path) + ": " + strerror(errno);
        return false;
    }
#if !defined(_WIN32)
    remove(path.c_str());
#endif
    return true;
}

// False, with the failure, when a call failed (the close among them).
bool Spool_Close(Spool *spool, std::string *error) {
    if (!spool->file) return true;
    if (!Sys_FileClose(spool->file) && spool->failure.empty())
        spool->failure = "cannot write " + Check_Quoted(spool->path) + ": " + strerror(errno);
    spool->file = nullptr;
#if defined(_WIN32)
    remove(spool->path.c_str());
#endif
    if (!spool->failure.empty()) *error = spool->failure;
    return spool->failure.empty();
}

// Records a failed call of the spool, a read or a write, when it is the first.
static bool SpoolFails(Spool *spool, const char *call) {
    if (spool->failure.empty())
        spool->failure = std::string("cannot ") + call + " " + Check_Quoted(spool->path);
    return false;
}

// Moves the file to at for a read or a write (call). False when it or an earlier call failed.
static bool SeekSpool(Spool *spool, int64_t at, const char *call) {
    if (!spool->failure.empty()) return false;
    if (spool->position == at) return true;
    if (!Sys_FileSeek(spool->file, at)) return SpoolFails(spool, call);
    spool->position = at;
    return true;
}

// Appends n bytes at the spool's end (an FfsSink). 0 when they cannot be written.
int Spool_Write(void *context, const uint8_t *data, int32_t n) {
    Spool *spool = (Spool *)context;
    if (!spool->file) {
        spool->memory.resize((size_t)spool->end);
        spool->memory.insert(spool->memory.end(), data, data + n);
    } else if (!SeekSpool(spool, spool->end, "write") || !Sys_FileWrite(spool->file, data, n)) {
        return SpoolFails(spool, "write");
    }
    spool->end += n;
    spool->position = spool->end;
    return 1;
}

// n bytes of the spool from at into buffer. False when they cannot be read.
bool Spool_Read(Spool *spool, int64_t at, uint8_t *buffer, int32_t n) {
    if (!spool->file) {
        memcpy(buffer, spool->memory.data() + at, (size_t)n);
        return true;
    }
    int32_t got = 0;
    if (!SeekSpool(spool, at, "read") || !Sys_FileRead(spool->file, buffer, n, &got) || got != n)
        return SpoolFails(spool, "read");
    spool->position += n;
    return true;
}

int Spool_ReadBlock(void *context, uint8_t *buffer, int32_t n) {
    SpoolReader *reader = (SpoolReader *)context;
    if (!Spool_Read(reader->spool, reader->at, buffer, n)) return 0;
    reader->at += n;
    return 1;
}
