// The setup image: the stub (its signing fields zeroed, refused when signed), its version
// resource, the archive appended behind it, and the integrity stamp over the whole finished
// file written into the stub's one unstamped record; a stand-alone archive written the same
// way, and the stamp found again in a finished file.
#include "pack-setup.h"

#include <string.h>

#include <algorithm>

#include "check-names.h"
#include "ffs-cmp2.h"
#include "pack-file.h"
#include "tessel-core.h"
#include "tessel-stamp.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "version-resource.h"

namespace {

// The place of the one unstamped record in bytes. False with *error when there is none or more
// than one.
bool FindUnstamped(const PackBytes &bytes, size_t *position, std::string *error) {
    const uint8_t *unset = (const uint8_t *)CORE_STAMP_UNSET;
    std::vector<size_t> found;
    for (size_t at = 0; at + CORE_STAMP_SIZE <= bytes.size(); at++) {
        at = (size_t)(std::search(bytes.begin() + (long)at, bytes.end(), unset,
                                  unset + CORE_STAMP_SIZE) -
                      bytes.begin());
        if (at + CORE_STAMP_SIZE > bytes.size()) break;
        found.push_back(at);
    }
    if (found.size() == 1) {
        *position = found[0];
        return true;
    }
    *error = found.empty()
                 ? "the stub holds no unstamped record (not a setup stub, or already stamped)"
                 : "the stub holds " + std::to_string(found.size()) +
                       " unstamped records; exactly one is needed";
    return false;
}

// The running check sum of a file's bytes, less those of its stamp record.
typedef struct StampSum {
    std::vector<uint32_t> table;
    uint32_t running;
    uint64_t length; // bytes summed or skipped so far
    uint64_t record; // where the record lies
} StampSum;

void StartSum(StampSum *sum, size_t record) {
    sum->table.resize(CORE_CRC32_TABLE_WORDS);
    Core_Crc32MakeTable(sum->table.data());
    sum->running = 0xFFFFFFFF;
    sum->length = 0;
    sum->record = record;
}

// Adds the file's next length bytes to the sum, those of the record left out.
void AddToSum(StampSum *sum, const uint8_t *bytes, size_t length) {
    const uint64_t from = sum->length, to = from + length;
    auto add = [&](uint64_t begin, uint64_t end) {
        if (begin < end)
            sum->running = Core_Crc32Sliced(sum->table.data(), sum->running, bytes + (begin - from),
                                            (int)(end - begin));
    };
    add(from, std::min(to, sum->record));
    add(std::max(from, sum->record + CORE_STAMP_SIZE), to);
    sum->length = to;
}

// The stamp record for the file summed, named fileName.
void MakeStamp(const StampSum &sum, const std::string &fileName, uint8_t record[CORE_STAMP_SIZE]) {
    uint32_t nameCrc = 0;
    Str_QuickCrc(fileName.c_str(), &nameCrc);
    Core_MakeStamp(record, CORE_STAMP_KEY, nameCrc, (uint32_t)sum.record, ~sum.running,
                   (uint32_t)sum.length);
}

} // namespace

bool Pack_Stamp(PackBytes *file, const std::string &fileName, std::string *error) {
    size_t position = 0;
    if (!FindUnstamped(*file, &position, error)) return false;
    StampSum sum;
    StartSum(&sum, position);
    AddToSum(&sum, file->data(), file->size());
    MakeStamp(sum, fileName, file->data() + position);
    return true;
}

static std::string BaseName(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Pack_ReadSignature(const PackBytes &file, PeSignature *signature) {
    return Pe_ReadSignature(file.data(), (int32_t)std::min(file.size(), (size_t)PE_HEAD_SIZE),
                            signature) == 1;
}

// The spools of a build for outputPath: files beside it, in the folder that holds the setup.
static std::string SpoolPath(const std::string &outputPath) { return outputPath + ".spool"; }

bool Pack_BuildSetup(const std::string &stubPath, const std::vector<PackInput> &inputs,
                     uint32_t flags, const std::string &outputPath, std::string *error,
                     PackNotes *notes) {
    PackBytes stub;
    if (!Pack_ReadFile(stubPath, &stub, error)) return false;
    if (stub.empty()) {
        *error = "the stub " + Check_Quoted(stubPath) + " is empty";
        return false;
    }
    // The fields that signing rewrites are stamped as zero, as the setup reads them in a signed
    // file: the image's checksum (which no loader of a program checks) and the security entry.
    PeSignature signature;
    if (Pack_ReadSignature(stub, &signature)) {
        if (signature.TableOffset || signature.TableSize) {
            *error = "the stub " + Check_Quoted(stubPath) +
                     " is signed; build with an unsigned stub "
                     "and sign the finished setup";
            return false;
        }
        memset(stub.data() + signature.ChecksumOffset, 0, PE_CHECKSUM_SIZE);
    }
    // Into the image itself, before the archive is placed behind it.
    if (!VersionRes_AddToStub(&stub, inputs, flags, error, notes)) return false;
    // The stamp covers the whole finished file: summed as it is written, then written into the
    // stub's record, whose place the stub alone decides.
    size_t record = 0;
    std::string stampError;
    if (!FindUnstamped(stub, &record, &stampError)) {
        *error = Check_Quoted(stubPath) + ": " + stampError;
        return false;
    }
    SysFile *file = Pack_OpenPart(outputPath, error);
    if (!file) return false;
    StampSum sum;
    StartSum(&sum, record);
    auto sink = [&](const uint8_t *bytes, size_t length) {
        AddToSum(&sum, bytes, length);
        return Pack_WritePart(file, bytes, length);
    };
    error->clear();
    bool written = sink(stub.data(), stub.size()) &&
                   Pack_MakeArchive(inputs, flags, (uint32_t)stub.size(), true,
                                    SpoolPath(outputPath), sink, error, notes);
    uint8_t stamp[CORE_STAMP_SIZE];
    if (written) MakeStamp(sum, BaseName(outputPath), stamp);
    written = written && Sys_FileSeek(file, (int64_t)record) &&
              Sys_FileWrite(file, stamp, CORE_STAMP_SIZE);
    return Pack_CommitPart(file, written, outputPath, error);
}

bool Pack_BuildStandalone(const std::vector<PackInput> &inputs, uint32_t flags,
                          const std::string &outputPath, std::string *error, PackNotes *notes) {
    SysFile *file = Pack_OpenPart(outputPath, error);
    if (!file) return false;
    error->clear();
    bool written = Pack_MakeArchive(
        inputs, flags, 0, false, SpoolPath(outputPath),
        [file](const uint8_t *bytes, size_t length) { return Pack_WritePart(file, bytes, length); },
        error, notes);
    return Pack_CommitPart(file, written, outputPath, error);
}

int64_t Pack_FindStamp(const std::string &path) {
    SysFile *file = Sys_FileOpen(path.c_str(), "rb");
    if (!file) return -1;
    // The file in pieces, each behind the last CORE_STAMP_SIZE - 1 bytes of the one before, so
    // that a record across two pieces is seen whole.
    PackBytes window(CORE_STAMP_SIZE - 1 + TYPE2_PIECE_SIZE);
    size_t kept = 0;
    int64_t start = 0, found = -1; // the window's offset in the file
    int32_t got = 0;
    while (found < 0 && Sys_FileRead(file, window.data() + kept, TYPE2_PIECE_SIZE, &got) &&
           got > 0) {
        const size_t filled = kept + (size_t)got;
        for (size_t at = 0; found < 0 && at + CORE_STAMP_SIZE <= filled; at++) {
            const uint8_t *record = window.data() + at;
            CoreStampFields stamp;
            if (record[0] != '|' || record[22] != 0) continue; // the cheap tests first
            if (Core_ReadStamp(record, CORE_STAMP_KEY, &stamp) &&
                stamp.Position == (uint64_t)start + at)
                found = start + (int64_t)at;
        }
        kept = std::min<size_t>(filled, CORE_STAMP_SIZE - 1);
        memmove(window.data(), window.data() + filled - kept, kept);
        start += (int64_t)(filled - kept);
    }
    Sys_FileClose(file);
    return found;
}
