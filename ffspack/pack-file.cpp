// The builder's whole files: a file read with a readable error (refused from its size when no
// entry can hold it), and a file written through a part file that takes its place only when
// complete; the format's bounds on sizes and lengths.
#include "pack-file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "check-names.h"

bool Pack_EntryFits(uint64_t size) { return size <= PACK_MAX_LENGTH; }
bool Pack_FileFits(uint64_t length) { return length <= PACK_MAX_LENGTH; }

bool Pack_ReadFile(const std::string &path, PackBytes *data, std::string *error) {
    SysFile *file = Sys_FileOpen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open " + Check_Quoted(path) + ": " + strerror(errno);
        return false;
    }
    data->clear();
    // Refused from its size before a byte is read: no setup can carry a larger file, and reading
    // one took minutes and gigabytes. The memory is taken once, at the file's size.
    std::error_code sizeError;
    const uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (!sizeError && !Pack_EntryFits(size)) {
        Sys_FileClose(file);
        *error = Check_Quoted(path) + " is 2 GB or larger (" + std::to_string(size) +
                 " bytes); an entry holds at most " + std::to_string(PACK_MAX_LENGTH) + " bytes";
        return false;
    }
    if (!sizeError) data->reserve((size_t)size);
    uint8_t chunk[65536];
    int32_t got = 0;
    bool read;
    while ((read = Sys_FileRead(file, chunk, sizeof chunk, &got)) && got > 0)
        data->insert(data->end(), chunk, chunk + got);
    // A close that fails after reading says the system had trouble with the file: its bytes
    // are not trusted either.
    read = Sys_FileClose(file) && read;
    if (!read) {
        *error = "cannot read " + Check_Quoted(path);
        data->clear();
        return false;
    }
    return true;
}

// The output at path, written through path + ".part": opened here, then committed to the disk and
// renamed into place by CommitPart only when complete.
SysFile *Pack_OpenPart(const std::string &path, std::string *error) {
    SysFile *file = Sys_FileOpen((path + ".part").c_str(), "wb");
    if (!file) *error = "cannot write " + Check_Quoted(path) + ": " + strerror(errno);
    return file;
}

// Closes the part; when written, commits it and puts it in path's place. False with *error
// (kept when set: the writer's own reason) otherwise; the part is then removed, an old path stays.
bool Pack_CommitPart(SysFile *file, bool written, const std::string &path, std::string *error) {
    const std::string part = path + ".part";
    // On the disk before it takes the place of the old file: a power cut after the rename must
    // not leave an empty one.
    written = written && Sys_FileFlush(file);
    written = Sys_FileClose(file) && written;
    if (written) {
#if defined(_WIN32)
        remove(path.c_str()); // rename does not replace there
#endif
        written = rename(part.c_str(), path.c_str()) == 0;
    }
    if (!written) {
        if (error->empty()) *error = "cannot write " + Check_Quoted(path) + ": " + strerror(errno);
        remove(part.c_str());
    }
    return written;
}

// Hands bytes to the part file in writes of at most a megabyte (a write takes an int32_t count).
bool Pack_WritePart(SysFile *file, const uint8_t *bytes, size_t length) {
    const size_t kChunk = (size_t)1 << 20;
    bool written = true;
    for (size_t at = 0; written && at < length; at += kChunk)
        written = Sys_FileWrite(file, bytes + at, (int32_t)std::min(kChunk, length - at));
    return written;
}

bool Pack_WriteFile(const std::string &path, const PackBytes &data, std::string *error) {
    SysFile *file = Pack_OpenPart(path, error);
    if (!file) return false;
    error->clear();
    return Pack_CommitPart(file, Pack_WritePart(file, data.data(), data.size()), path, error);
}
