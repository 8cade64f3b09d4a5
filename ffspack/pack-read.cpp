// Finished setups and archives read back through the program's own reader: the entries
// listed, one extracted, and the verification (signature, stamp, every entry decoded) that
// 'ffspack verify' prints.
#include "pack-read.h"

#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "authenticode.h"
#include "check-names.h"
#include "ffs-cmp2.h"
#include "ffs-lzma.h"
#include "ffs.h"
#include "pack-file.h"
#include "pack-group.h"
#include "pack-setup.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tessel-stamp.h"
#include "tessel-sys.h"

namespace fs = std::filesystem;

static bool OpenArchive(const std::string &path, std::string *error) {
    if (!Ffs_Open(path.c_str(), 0)) {
        Ffs_Close();
        *error = Check_Quoted(path) + " holds no readable FFS archive";
        return false;
    }
    Ffs_AddCodec(&Type2_Codec);
    Ffs_AddCodec(&Lzma_Codec);
    return true;
}

// How the stored bytes that begin with peek were made.
static std::string MethodOf(const uint8_t peek[FFS_PEEK_SIZE]) {
    if (Type2_Identify(peek)) return "Type2";
    if (!Lzma_Identify(peek)) return "raw";
    LzmaHeader header;
    if (!Lzma_ReadHeader(peek, FFS_PEEK_SIZE, &header)) return "LZMA?";
    return header.Filter == LZMA_FILTER_BRANCH_X86 ? "LZMA+x86" : "LZMA";
}

std::string Pack_Ratio(const PackEntryInfo &entry) {
    if (entry.size <= 0) return "?";
    char text[32];
    snprintf(text, sizeof text, "%.1f%%", 100.0 * entry.storedLength / entry.size);
    return text;
}

std::string Pack_Holds(const PackEntryInfo &entry) {
    if (entry.referenced < 1) return "";
    return " (holds " + std::to_string(entry.referenced) +
           (entry.referenced == 1 ? " file)" : " files)");
}

// A reference's method: the group or the file that holds it, by name where one is known.
static std::string SourceMethod(const PackEntryInfo &ref, const std::vector<PackEntryInfo> &all) {
    for (const PackEntryInfo &entry : all) {
        if (entry.hash != ref.source || entry.name.empty()) continue;
        return entry.name[0] == '<' ? "in " + entry.name : "copy of " + entry.name;
    }
    char hash[16];
    snprintf(hash, sizeof hash, "%08X", ref.source);
    return std::string("in ") + hash;
}

bool Pack_List(const std::string &path, const std::vector<std::string> &candidates,
               std::vector<PackEntryInfo> *entries, uint32_t *flags, std::string *error) {
    if (!OpenArchive(path, error)) return false;
    *flags = Ffs_Flags();
    entries->clear();
    // The groups' names, which no user gives: "<group N>" for as many N as there are entries
    // and some more (a name whose hash clashed was skipped).
    std::vector<std::string> names = candidates;
    for (uint32_t n = 1; n <= Ffs_EntryCount() + 64; n++) names.push_back(Pack_GroupName((int)n));
    for (uint32_t i = 0; i < Ffs_EntryCount(); i++) {
        PackEntryInfo info{};
        Ffs_EntryAt(i, &info.hash, &info.blockOffset);
        info.size = -1;
        if (Ffs_SeekEntry(info.hash, &info.storedLength)) {
            uint8_t peek[FFS_PEEK_SIZE];
            bool peeked = Ffs_Peek(peek, FFS_PEEK_SIZE);
            FfsRef ref;
            info.reference = peeked && Ffs_ReadRef(peek, info.storedLength, &ref);
            info.method = info.reference ? "" : peeked ? MethodOf(peek) : "?";
            info.compressed = peeked && info.method != "raw";
            if (info.reference) {
                info.size = ref.Size;
                info.source = ref.Source;
                info.offset = ref.Offset;
            } else if (!Ffs_GetEntrySize(info.hash, &info.size)) {
                info.size = -1;
            }
        }
        for (const std::string &name : names)
            if (Ffs_HashName(name.c_str()) == info.hash) info.name = name;
        entries->push_back(info);
    }
    for (PackEntryInfo &entry : *entries) {
        if (!entry.reference) continue;
        entry.method = SourceMethod(entry, *entries);
        for (PackEntryInfo &source : *entries)
            if (source.hash == entry.source) source.referenced++;
    }
    Ffs_Close();
    return true;
}

bool Pack_Extract(const std::string &path, const std::string &name, PackBytes *data,
                  std::string *error) {
    if (!OpenArchive(path, error)) return false;
    FfsBlock entry;
    int loaded = Ffs_LoadBlock(name.c_str(), INT32_MAX, 0, 0, &entry);
    if (loaded == FFS_LOAD_NO_SIZE)
        *error = Check_Quoted(name) + " is not in " + Check_Quoted(path);
    else if (loaded != FFS_LOAD_DONE)
        *error = Check_Quoted(name) + " cannot be read from " + Check_Quoted(path);
    else
        data->assign(entry.Data, entry.Data + entry.Size);
    Ffs_FreeBlock(&entry);
    Ffs_Close();
    return loaded == FFS_LOAD_DONE;
}

// At most size bytes of the file at path from offset (fewer at its end; none when it cannot be
// read).
static PackBytes ReadAt(const std::string &path, int64_t offset, size_t size) {
    PackBytes bytes(size);
    int32_t got = 0;
    SysFile *file = Sys_FileOpen(path.c_str(), "rb");
    if (!file || !Sys_FileSeek(file, offset) ||
        !Sys_FileRead(file, bytes.data(), (int32_t)size, &got))
        got = 0;
    if (file) Sys_FileClose(file);
    bytes.resize((size_t)got);
    return bytes;
}

// Takes the decoded bytes of an entry and drops them (an FfsSink).
static int Discard(void *context, const uint8_t *data, int32_t n) {
    (void)data;
    *(int64_t *)context += n;
    return 1;
}

bool Pack_Verify(const std::string &path, std::vector<std::string> *report) {
    bool passed = true;
    // The file is never held whole: its head, its length, and then the file read in pieces.
    const PackBytes head = ReadAt(path, 0, PE_HEAD_SIZE);
    std::error_code sizeError;
    const int64_t fileLength = (int64_t)fs::file_size(path, sizeError);
    bool standalone = head.size() >= 4 && memcmp(head.data(), FFS_TAG, 4) == 0;
    int64_t stamp = standalone ? -1 : Pack_FindStamp(path);
    PeSignature signature;
    if (!standalone && Pack_ReadSignature(head, &signature) &&
        (signature.TableOffset || signature.TableSize)) {
        int64_t end = (int64_t)signature.TableOffset + signature.TableSize;
        int64_t length = sizeError ? 0 : fileLength;
        if (end == length) {
            report->push_back("signed: " + std::to_string(signature.TableSize) +
                              " bytes of certificates");
            passed = Authenticode_Verify(path, signature, report);
        } else {
            report->push_back(end < length ? "signed, but " + std::to_string(length - end) +
                                                 " bytes follow the certificate table"
                                           : "signed, but the certificate table is cut short (" +
                                                 std::to_string(end - length) + " bytes missing)");
            passed = false;
        }
    }
    if (standalone) {
        report->push_back("stamp: none (a stand-alone archive carries no stamp)");
    } else if (stamp < 0) {
        report->push_back("stamp: no valid stamp record found");
        passed = false;
    } else {
        const PackBytes record = ReadAt(path, stamp, CORE_STAMP_SIZE);
        bool intact =
            record.size() == CORE_STAMP_SIZE &&
            Core_VerifyStampRecord(record.data(), CORE_STAMP_KEY, path.c_str(), 0, 1) == 1;
        report->push_back(
            "stamp: record at offset " + std::to_string(stamp) +
            (intact ? ", file intact" : ", FILE DAMAGED (checksum or length differs)"));
        passed = passed && intact;
    }
    std::vector<PackEntryInfo> entries;
    uint32_t flags = 0;
    std::string error;
    if (!Pack_List(path, {}, &entries, &flags, &error)) {
        report->push_back("archive: " + error);
        return false;
    }
    if (!OpenArchive(path, &error)) return false;
    int bad = 0;
    for (const PackEntryInfo &entry : entries) {
        // Decoded in pieces and dropped: the largest entry takes no more memory than a small one.
        int64_t decoded = 0;
        bool ok = entry.size > 0 && Ffs_StreamEntry(entry.hash, Discard, &decoded) == 1 &&
                  decoded == entry.size;
        char text[96];
        snprintf(text, sizeof text, "entry %08X: %s, %d of %d bytes (%s)", entry.hash,
                 entry.method.c_str(), entry.storedLength, entry.size, Pack_Ratio(entry).c_str());
        report->push_back(text);
        if (!ok) {
            snprintf(text, sizeof text, "entry %08X: cannot be decoded", entry.hash);
            report->push_back(text);
            bad++;
        }
    }
    Ffs_Close();
    report->push_back("archive: " + std::to_string(entries.size()) + " entries, " +
                      std::to_string(bad) + " unreadable");
    return passed && bad == 0;
}
