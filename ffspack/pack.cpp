// The builder's engine: archive layout (header, sorted directory, blocks back to back, padding
// that keeps the last 16-byte peek inside the file, trailer), entry encoding, the stamp, and the
// inspection of finished files through the program's own reader.
#include "pack.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "authenticode.h"
#include "ffs-cmp2.h"
#include "ffs.h"
#include "keywords.h"
#include "script-source.h"
#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tessel-sys.h"
#include "uninst.h"
#include "version-resource.h"

namespace fs = std::filesystem;

namespace {

void PutWord(PackBytes *bytes, uint32_t value) {
    uint8_t word[4];
    Le_Put32(word, value);
    bytes->insert(bytes->end(), word, word + 4);
}

std::string Quoted(const std::string &name) { return "'" + Check_Printable(name) + "'"; }

uint32_t HashName(const std::string &name, uint32_t flags) {
    return Ffs_HashNameFlags(name.c_str(), flags);
}

typedef struct Stored {
    uint32_t hash;
    const PackInput *input;
    PackBytes bytes;
} Stored;

// A block read back from memory in pieces by the setup's own decoder, its output compared with
// the data it was made from as it comes.
typedef struct ReadBack {
    const PackBytes *block;
    size_t read;
    const PackBytes *data;
    size_t compared;
} ReadBack;

int ReadBlock(void *context, uint8_t *buffer, int32_t n) {
    ReadBack *back = (ReadBack *)context;
    if (n > 0 && back->read + (size_t)n > back->block->size()) return 0;
    memcpy(buffer, back->block->data() + back->read, (size_t)n);
    back->read += (size_t)n;
    return 1;
}

int CompareOutput(void *context, const uint8_t *output, int32_t n) {
    ReadBack *back = (ReadBack *)context;
    if (back->compared + (size_t)n > back->data->size() ||
        memcmp(output, back->data->data() + back->compared, (size_t)n) != 0)
        return 0;
    back->compared += (size_t)n;
    return 1;
}

// 1 when block decodes back to exactly data: the adaptive tree can grow deeper than the 16 bits
// a code is kept in, and a block made then would install other bytes than it was given. The
// decoded data is compared in pieces, never held whole.
bool DecodesBack(const PackBytes &data, const PackBytes &block) {
    ReadBack back = {&block, 0, &data, 0};
    return Type2_DecompressStream(ReadBlock, &back, (int32_t)block.size(), CompareOutput, &back,
                                  (int32_t)data.size()) == 1 &&
           back.compared == data.size();
}

// The stored bytes of one file: Type2 where that shrinks it and decodes back to it, raw
// otherwise; data that begins with the tag is always encoded, since raw it would be taken for
// a block.
bool Encode(const PackInput &input, Stored *stored, std::string *error, PackNotes *notes) {
    const PackBytes &data = input.data;
    int32_t length = (int32_t)data.size();
    // Room for the data's length: a block that would be longer is not used.
    PackBytes block((size_t)length);
    int32_t blockLength = length;
    bool tagged = length >= 4 && memcmp(data.data(), TYPE2_TAG, 4) == 0;
    bool shrinks = Type2_Compress(data.data(), length, block.data(), &blockLength) == 1;
    if (!shrinks && !tagged) {
        stored->bytes = data;
        return true;
    }
    if (!shrinks) {
        // Room for a block three times the data, as far as a length of 31 bits goes.
        block.resize((size_t)std::min<uint64_t>((uint64_t)length * 3 + 64, INT32_MAX));
        blockLength = (int32_t)block.size();
        if (!Type2_CompressAlways(data.data(), length, block.data(), &blockLength)) {
            *error = Quoted(input.name) + " begins with \"FFC@\" and could not be encoded";
            return false;
        }
    }
    block.resize((size_t)blockLength);
    if (!DecodesBack(data, block)) {
        if (tagged) {
            *error = Quoted(input.name) + " begins with \"FFC@\" and its Type2 block does not "
                                          "decode back to it: it cannot be stored";
            return false;
        }
        notes->push_back(Quoted(input.name) + ": its Type2 block does not decode back to it " +
                         "(a code longer than 16 bits); stored raw");
        stored->bytes = data;
        return true;
    }
    stored->bytes = std::move(block);
    if (!shrinks)
        notes->push_back(Quoted(input.name) + " begins with \"FFC@\": stored Type2-encoded (" +
                         std::to_string(blockLength) + " bytes for " + std::to_string(length) +
                         "), since raw it would be taken for a compressed block");
    return true;
}

// Why the names a and b, of one hash, cannot both be entries. With the upper-case flag the
// setup asks for a name in any letter case: names that differ only there are one name to it.
std::string Clash(const std::string &a, const std::string &b, uint32_t flags) {
    if (a == b) return Quoted(a) + " is listed twice";
    const std::string names = "names " + Quoted(a) + " and " + Quoted(b);
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; };
    if ((flags & FFS_FLAG_UPPER_NAMES) && a.size() == b.size() &&
        std::equal(a.begin(), a.end(), b.begin(),
                   [&](char x, char y) { return upper(x) == upper(y); }))
        return names + " differ only in letter case: the setup asks for names in any letter " +
               "case, and these are one name to it; keep one of them";
    char hash[16];
    snprintf(hash, sizeof hash, "%08X", HashName(a, flags));
    return names + " have the same hash (0x" + hash + "); rename one of them";
}

bool CheckInput(const PackInput &input, std::string *error) {
    if (input.name.empty()) {
        *error = "an entry has an empty name";
        return false;
    }
    if (input.name.size() > PACK_MAX_NAME) {
        *error = "name " + Quoted(input.name.substr(0, 40) + "...") + " is " +
                 std::to_string(input.name.size()) + " characters long; names are at most " +
                 std::to_string(PACK_MAX_NAME);
        return false;
    }
    if (input.name.find('\0') != std::string::npos) {
        *error = "name " + Quoted(input.name.c_str()) + " holds a zero byte";
        return false;
    }
    if (input.data.empty()) {
        *error = Quoted(input.name) +
                 " is empty; an archive cannot hold an empty file (a stored length of 0 reads "
                 "as a missing entry): give it its first byte (a line end for a log or a "
                 "settings file), or leave it out and let the program make it";
        return false;
    }
    if (!Pack_EntryFits(input.data.size())) {
        *error = Quoted(input.name) + " is 2 GB or larger (" + std::to_string(input.data.size()) +
                 " bytes); an entry holds at most " + std::to_string(PACK_MAX_LENGTH) + " bytes";
        return false;
    }
    return true;
}

int Jobs = 0; // 0: one thread a core

// Every entry encoded, on as many threads as Jobs allows. Each thread takes the largest entry
// not yet taken (so that no thread is left with a large one at the end) and codes with a state
// of its own; the blocks, and the notes and the first error in the entries' order, are those
// of one thread working through them in turn.
bool EncodeAll(std::vector<Stored> *entries, std::string *error, PackNotes *notes) {
    size_t count = entries->size();
    std::vector<std::string> errors(count);
    std::vector<PackNotes> entryNotes(count);
    std::vector<char> failed(count, 0);
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [entries](size_t a, size_t b) {
        return (*entries)[a].input->data.size() > (*entries)[b].input->data.size();
    });
    std::atomic<size_t> next(0);
    auto work = [&]() {
        Type2_Init();
        for (size_t k; (k = next.fetch_add(1)) < count;) {
            size_t i = order[k];
            failed[i] = !Encode(*(*entries)[i].input, &(*entries)[i], &errors[i], &entryNotes[i]);
        }
        Type2_Shutdown();
    };
    size_t threads = Jobs > 0 ? (size_t)Jobs : std::max(1u, std::thread::hardware_concurrency());
    threads = std::min(threads, count);
    if (!TYPE2_THREAD_STATES) threads = std::min(threads, (size_t)1); // one global codec state
    Type2_Init(); // the codec's shared tables, made before any thread starts
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; t++) pool.emplace_back(work);
    work();
    for (std::thread &thread : pool) thread.join();
    Type2_Shutdown();
    for (size_t i = 0; i < count; i++) {
        notes->insert(notes->end(), entryNotes[i].begin(), entryNotes[i].end());
        if (failed[i]) {
            *error = errors[i];
            return false;
        }
    }
    return true;
}

} // namespace

void Pack_SetJobs(int jobs) { Jobs = jobs > 0 ? jobs : 0; }

bool Pack_EntryFits(uint64_t size) { return size <= PACK_MAX_LENGTH; }
bool Pack_FileFits(uint64_t length) { return length <= PACK_MAX_LENGTH; }

bool Pack_BuildArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                       bool withTrailer, PackBytes *archive, std::string *error, PackNotes *notes) {
    std::vector<Stored> entries;
    entries.reserve(inputs.size());
    for (const PackInput &input : inputs) {
        if (!CheckInput(input, error)) return false;
        entries.push_back(Stored{HashName(input.name, flags), &input, {}});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Stored &a, const Stored &b) { return a.hash < b.hash; });
    for (size_t i = 1; i < entries.size(); i++) {
        if (entries[i].hash != entries[i - 1].hash) continue;
        *error = Clash(entries[i - 1].input->name, entries[i].input->name, flags);
        return false;
    }
    if (!EncodeAll(&entries, error, notes)) return false;

    uint64_t total = FFS_HEADER_SIZE + (uint64_t)entries.size() * FFS_DIRECTORY_ENTRY_SIZE;
    for (const Stored &entry : entries) total += FFS_BLOCK_HEADER_SIZE + entry.bytes.size();
    // The size query reads 16 bytes from the start of the stored bytes: the last entry's must
    // lie inside the file even when it is shorter, so padding may follow it.
    uint64_t tail = withTrailer ? FFS_TRAILER_SIZE : 0, padding = 0;
    if (!entries.empty() && entries.back().bytes.size() + tail < FFS_PEEK_SIZE)
        padding = FFS_PEEK_SIZE - (entries.back().bytes.size() + tail);
    // A setup's length is a multiple of 8, so that a signing tool appends its certificate table
    // right behind the trailer, without padding of its own.
    uint64_t align = withTrailer ? (8 - (archiveOffset + total + padding + tail) % 8) % 8 : 0;
    total += padding + align + tail;
    if (!Pack_FileFits(total + archiveOffset)) {
        *error = "the finished file would be " + std::to_string(total + archiveOffset) +
                 " bytes; a setup or an archive is at most " + std::to_string(PACK_MAX_LENGTH) +
                 " bytes long (2 GB less one byte)";
        return false;
    }
    if (padding)
        notes->push_back(std::to_string(padding) + " padding bytes after the last entry (" +
                         Quoted(entries.back().input->name) + " is shorter than the 16 bytes " +
                         "that the size query reads)");

    PackBytes &out = *archive;
    out.clear();
    out.reserve((size_t)total);
    out.insert(out.end(), FFS_TAG, FFS_TAG + 4);
    PutWord(&out, (uint32_t)entries.size());
    PutWord(&out, ~(uint32_t)entries.size());
    PutWord(&out, (uint32_t)total);
    PutWord(&out, ~(uint32_t)total);
    PutWord(&out, flags);
    uint32_t blockOffset =
        archiveOffset + FFS_HEADER_SIZE + (uint32_t)entries.size() * FFS_DIRECTORY_ENTRY_SIZE;
    for (const Stored &entry : entries) {
        PutWord(&out, entry.hash);
        PutWord(&out, blockOffset);
        blockOffset += FFS_BLOCK_HEADER_SIZE + (uint32_t)entry.bytes.size();
    }
    for (const Stored &entry : entries) {
        PutWord(&out, entry.hash);
        PutWord(&out, (uint32_t)entry.bytes.size());
        out.insert(out.end(), entry.bytes.begin(), entry.bytes.end());
    }
    out.insert(out.end(), (size_t)(padding + align), 0);
    if (withTrailer) PutWord(&out, archiveOffset);
    return true;
}

bool Pack_Stamp(PackBytes *file, const std::string &fileName, std::string *error) {
    const uint8_t *unset = (const uint8_t *)CORE_STAMP_UNSET;
    std::vector<size_t> found;
    for (size_t at = 0; at + CORE_STAMP_SIZE <= file->size(); at++) {
        at = (size_t)(std::search(file->begin() + (long)at, file->end(), unset,
                                  unset + CORE_STAMP_SIZE) -
                      file->begin());
        if (at + CORE_STAMP_SIZE > file->size()) break;
        found.push_back(at);
    }
    if (found.size() != 1) {
        *error = found.empty()
                     ? "the stub holds no unstamped record (not a setup stub, or already stamped)"
                     : "the stub holds " + std::to_string(found.size()) +
                           " unstamped records; exactly one is needed";
        return false;
    }
    uint32_t position = (uint32_t)found[0], length = (uint32_t)file->size();
    std::vector<uint32_t> table(CORE_CRC32_TABLE_WORDS);
    Core_Crc32MakeTable(table.data());
    uint32_t running = 0xFFFFFFFF;
    running = Core_Crc32Sliced(table.data(), running, file->data(), (int)position);
    size_t after = position + CORE_STAMP_SIZE;
    if (after < file->size())
        running = Core_Crc32Sliced(table.data(), running, file->data() + after,
                                   (int)(file->size() - after));
    uint32_t nameCrc = 0;
    Str_QuickCrc(fileName.c_str(), &nameCrc);
    Core_MakeStamp(file->data() + position, CORE_STAMP_KEY, nameCrc, position, ~running, length);
    return true;
}

bool Pack_ReadFile(const std::string &path, PackBytes *data, std::string *error) {
    SysFile *file = Sys_FileOpen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open " + Quoted(path) + ": " + strerror(errno);
        return false;
    }
    data->clear();
    // Refused from its size before a byte is read: no setup can carry a larger file, and reading
    // one took minutes and gigabytes. The memory is taken once, at the file's size.
    std::error_code sizeError;
    const uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (!sizeError && !Pack_EntryFits(size)) {
        Sys_FileClose(file);
        *error = Quoted(path) + " is 2 GB or larger (" + std::to_string(size) +
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
        *error = "cannot read " + Quoted(path);
        data->clear();
        return false;
    }
    return true;
}

bool Pack_WriteFile(const std::string &path, const PackBytes &data, std::string *error) {
    std::string part = path + ".part";
    SysFile *file = Sys_FileOpen(part.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + Quoted(path) + ": " + strerror(errno);
        return false;
    }
    const size_t kChunk = (size_t)1 << 20; // a write takes an int32_t count
    bool written = true;
    for (size_t at = 0; written && at < data.size(); at += kChunk) {
        size_t count = std::min(kChunk, data.size() - at);
        written = Sys_FileWrite(file, data.data() + at, (int32_t)count);
    }
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
        *error = "cannot write " + Quoted(path) + ": " + strerror(errno);
        remove(part.c_str());
        return false;
    }
    return true;
}

static std::string BaseName(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder of path with its separator, or "" for a bare file name.
static std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The PE header's signing fields of a whole file in memory (see Pe_ReadSignature).
static bool ReadSignature(const PackBytes &file, PeSignature *signature) {
    return Pe_ReadSignature(file.data(), (int32_t)std::min(file.size(), (size_t)PE_HEAD_SIZE),
                            signature) == 1;
}

bool Pack_BuildSetup(const std::string &stubPath, const std::vector<PackInput> &inputs,
                     uint32_t flags, const std::string &outputPath, std::string *error,
                     PackNotes *notes) {
    PackBytes file, archive;
    if (!Pack_ReadFile(stubPath, &file, error)) return false;
    if (file.empty()) {
        *error = "the stub " + Quoted(stubPath) + " is empty";
        return false;
    }
    // The fields that signing rewrites are stamped as zero, as the setup reads them in a signed
    // file: the image's checksum (which no loader of a program checks) and the security entry.
    PeSignature signature;
    if (ReadSignature(file, &signature)) {
        if (signature.TableOffset || signature.TableSize) {
            *error = "the stub " + Quoted(stubPath) +
                     " is signed; build with an unsigned stub "
                     "and sign the finished setup";
            return false;
        }
        memset(file.data() + signature.ChecksumOffset, 0, PE_CHECKSUM_SIZE);
    }
    // Into the image itself, before the archive is placed behind it.
    if (!VersionRes_AddToStub(&file, inputs, flags, error, notes)) return false;
    if (!Pack_BuildArchive(inputs, flags, (uint32_t)file.size(), true, &archive, error, notes))
        return false;
    file.insert(file.end(), archive.begin(), archive.end());
    std::string stampError;
    if (!Pack_Stamp(&file, BaseName(outputPath), &stampError)) {
        *error = Quoted(stubPath) + ": " + stampError;
        return false;
    }
    return Pack_WriteFile(outputPath, file, error);
}

bool Pack_BuildStandalone(const std::vector<PackInput> &inputs, uint32_t flags,
                          const std::string &outputPath, std::string *error, PackNotes *notes) {
    PackBytes archive;
    if (!Pack_BuildArchive(inputs, flags, 0, false, &archive, error, notes)) return false;
    return Pack_WriteFile(outputPath, archive, error);
}

bool Pack_CompileScript(const std::string &path, PackBytes *script, std::string *error) {
    PackBytes source;
    if (!Pack_ReadFile(path, &source, error)) return false;
    return Script_Compile(std::string(source.begin(), source.end()), path, script, error);
}

bool Pack_ScriptNamesUninstaller(const PackBytes &script) {
    bool names = false;
    Script_Walk(script, [&names](const ScriptCommand &command) {
        names = command.id == KW_UNINSTALL_NAME;
        return !names;
    });
    return names;
}

// The uninstaller a setup's script asks for, added to inputs when no input is read as
// "uninst.exe" (the same hash: what the setup would load under that name).
// INSTALL appends the script behind the uninstaller on the user's machine: a signature the
// uninstaller carries no longer ends its file there, and verifies no more.
static void NoteSignedUninstaller(const PackBytes &data, const std::string &name,
                                  PackNotes *notes) {
    PeSignature signature;
    if (ReadSignature(data, &signature) && Pe_IsSigned(&signature, (int64_t)data.size()))
        notes->push_back("the uninstaller " + name + " is signed, but the setup appends its " +
                         "script behind it when it installs it, and the installed copy's " +
                         "signature no longer verifies; store it unsigned");
}

// The uninstaller a setup's build stores when it bundles one: the file uninstallerPath names,
// or "uninst.exe" beside the stub.
static std::string BundledPath(const std::string &stubPath, const std::string &uninstallerPath) {
    return uninstallerPath.empty() ? FolderOf(stubPath) + UNINST_ENTRY : uninstallerPath;
}

// The machine type of a program's bytes in words ("a 32-bit x86"), or "" when they are no PE
// image of a type these words know.
static std::string MachineOf(const std::vector<uint8_t> &data) {
    uint16_t machine = 0;
    if (!Pe_ReadMachine(data.data(), (int32_t)std::min<size_t>(data.size(), PE_HEAD_SIZE),
                        &machine))
        return "";
    return machine == PE_MACHINE_I386    ? "a 32-bit x86"
           : machine == PE_MACHINE_AMD64 ? "an x64"
                                         : "";
}

// A setup carries programs of one machine type: a 32-bit setup whose uninstaller is an x64
// program would leave the users of 32-bit Windows with one that never starts, and 'ffspack
// test' could not try both. False, with the error, when the stub and the uninstaller differ.
static bool SameMachine(const std::string &stubPath, const std::vector<uint8_t> &uninstaller,
                        const std::string &uninstallerName, std::string *error) {
    std::vector<uint8_t> stub;
    std::string readError;
    if (!Pack_ReadFile(stubPath, &stub, &readError)) return true; // the build says why
    const std::string stubMachine = MachineOf(stub), machine = MachineOf(uninstaller);
    if (stubMachine.empty() || machine.empty() || stubMachine == machine) return true;
    *error = "the uninstaller " + uninstallerName + " is " + machine + " program and the stub " +
             Quoted(stubPath) + " " + stubMachine + " one: a setup carries programs of one " +
             "machine type; store the uninstaller built beside the stub";
    return false;
}

static bool AddUninstaller(const std::string &stubPath, const std::string &uninstallerPath,
                           uint32_t flags, std::vector<PackInput> *inputs, std::string *bundled,
                           std::string *error, PackNotes *notes) {
    const PackInput *script = nullptr, *given = nullptr;
    for (const PackInput &input : *inputs) {
        uint32_t hash = HashName(input.name, flags);
        if (hash == HashName("install.dat", flags)) script = &input;
        if (hash == HashName(UNINST_ENTRY, flags)) given = &input;
    }
    if (given && !uninstallerPath.empty()) {
        *error = "two uninstallers: the entry " + Quoted(given->name) + " and --uninstaller " +
                 Quoted(uninstallerPath) + "; give one of them";
        return false;
    }
    if (given) {
        NoteSignedUninstaller(given->data, Quoted(given->name), notes);
        return SameMachine(stubPath, given->data, Quoted(given->name), error);
    }
    if (!script || !Pack_ScriptNamesUninstaller(script->data)) {
        if (!uninstallerPath.empty())
            notes->push_back(Quoted(uninstallerPath) + " not stored: the script has no " +
                             "UNINSTALL NAME command, so the setup would never write it");
        return true;
    }
    std::string path = BundledPath(stubPath, uninstallerPath);
    PackInput uninstaller{UNINST_ENTRY, {}};
    std::string readError;
    if (!Pack_ReadFile(path, &uninstaller.data, &readError)) {
        *error = "the script has UNINSTALL NAME, so the setup needs the entry \"" UNINST_ENTRY
                 "\", and there is no uninstaller to store (" +
                 readError + "); pass --uninstaller FILE or an entry " UNINST_ENTRY "=FILE";
        return false;
    }
    NoteSignedUninstaller(uninstaller.data, Quoted(path), notes);
    if (!SameMachine(stubPath, uninstaller.data, Quoted(path), error)) return false;
    inputs->push_back(std::move(uninstaller));
    *bundled = path;
    return true;
}

// True when resolved, a canonical path, lies below the canonical folder root.
static bool LiesInside(const fs::path &resolved, const fs::path &root) {
    const fs::path relative = resolved.lexically_relative(root);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

bool Pack_ScanFolder(const std::string &folder, std::vector<PackSource> *sources,
                     std::string *error) {
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        *error = Quoted(folder) + " is not a folder";
        return false;
    }
    const fs::path root = fs::canonical(folder, code);
    std::vector<PackSource> found;
    for (fs::recursive_directory_iterator it(folder, code), end; !code && it != end;
         it.increment(code)) {
        if (!it->is_regular_file(code)) continue;
        // A link names its file by a path of its own, which may lead anywhere on this machine;
        // only what lies in the folder is the product.
        if (it->is_symlink(code)) {
            const fs::path target = fs::canonical(it->path(), code);
            if (code) break;
            if (!LiesInside(target, root)) {
                *error = Quoted(it->path().string()) + " is a link to " + Quoted(target.string()) +
                         ", outside the folder " + Quoted(folder) +
                         ": not stored (copy the file into the folder)";
                return false;
            }
        }
        // The name as the folder spells it, never through a link's target.
        std::string name = it->path().lexically_relative(folder).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        found.push_back(PackSource{name, it->path().string()});
    }
    if (code) {
        *error = "cannot read the folder " + Quoted(folder) + ": " + code.message();
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const PackSource &a, const PackSource &b) { return a.name < b.name; });
    sources->insert(sources->end(), found.begin(), found.end());
    return true;
}

// Reads the text form at scriptPath (when given) into *text, with the entry "install.dat" first
// in *inputs for its compiled bytes, then every source into *inputs. False with *error at the
// first file that cannot be read.
static bool ReadInputs(const std::string &scriptPath, const std::vector<PackSource> &sources,
                       PackBytes *text, std::vector<PackInput> *inputs, std::string *error) {
    if (!scriptPath.empty()) {
        inputs->push_back(PackInput{"install.dat", {}});
        if (!Pack_ReadFile(scriptPath, text, error)) return false;
    }
    for (const PackSource &source : sources) {
        inputs->push_back(PackInput{source.name, {}});
        if (!Pack_ReadFile(source.path, &inputs->back().data, error)) return false;
    }
    return true;
}

// The index of the source read as "install.dat" (a hand-made script), or -1.
static int ScriptSource(const std::vector<PackSource> &sources, uint32_t flags) {
    for (size_t i = 0; i < sources.size(); i++)
        if (HashName(sources[i].name, flags) == HashName("install.dat", flags)) return (int)i;
    return -1;
}

// Every source's name against the rules of a file's name inside a folder (Check_NameFault),
// and against the others: two sources of one hash are one entry to the setup. The findings,
// errors named by the sources' files, are appended to *report.
static void CheckSourceNames(const std::vector<PackSource> &sources, uint32_t flags,
                             CheckReport *report) {
    std::map<uint32_t, const PackSource *> named;
    for (const PackSource &source : sources) {
        const std::string where = Check_Printable(source.path) + ": ";
        const std::string fault = Check_NameFault(source.name);
        if (!fault.empty()) {
            report->push_back(CheckMessage{CHECK_ERROR, where + "the entry " + Quoted(source.name) +
                                                            " " + fault});
            continue;
        }
        auto first = named.emplace(HashName(source.name, flags), &source);
        if (first.second) continue;
        const PackSource &earlier = *first.first->second;
        report->push_back(CheckMessage{CHECK_ERROR, Check_Printable(earlier.path) + ", " + where +
                                                        Clash(earlier.name, source.name, flags)});
    }
}

static std::string Errors(size_t count) {
    return std::to_string(count) + (count == 1 ? " error" : " errors");
}

// Checks the names of ReadInputs' inputs (CheckSourceNames), then their script against the
// others: the text form, compiled into the first input when it passes, or else a source
// "install.dat". False with *error counting the errors of each when the checks find any.
static bool CheckScript(const std::string &scriptPath, const PackBytes &text,
                        const std::vector<PackSource> &sources, uint32_t flags,
                        bool uninstallerBundled, std::vector<PackInput> *inputs,
                        CheckReport *report, std::string *error) {
    size_t first = scriptPath.empty() ? 0 : 1, before = Check_Count(*report, CHECK_ERROR);
    CheckSourceNames(sources, flags, report);
    const size_t entryErrors = Check_Count(*report, CHECK_ERROR) - before;
    CheckBuild build{{}, flags, uninstallerBundled};
    // An entry refused for its name is not one more finding as an entry the script never names.
    for (size_t i = first; i < inputs->size(); i++)
        if (Check_NameFault((*inputs)[i].name).empty())
            build.entries.push_back(CheckEntry{(*inputs)[i].name, &(*inputs)[i].data});
    int handMade = ScriptSource(sources, flags);
    std::string name = scriptPath.empty() && handMade >= 0 ? sources[handMade].path : scriptPath;
    bool passed = true;
    if (!scriptPath.empty())
        passed = Check_Source(std::string(text.begin(), text.end()), scriptPath, build,
                              &inputs->front().data, report);
    else if (handMade >= 0)
        passed = Check_Script((*inputs)[handMade].data, name, build, report);
    if (passed && !entryErrors) return true;
    const size_t scriptErrors = Check_Count(*report, CHECK_ERROR) - before - entryErrors;
    *error = entryErrors ? Errors(entryErrors) + " in the entries" : "";
    if (scriptErrors)
        *error += (entryErrors ? "; " : "") + name + ": " + Errors(scriptErrors) + " in the script";
    return false;
}

bool Pack_CheckFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, CheckReport *report, std::string *error) {
    if (scriptPath.empty() && ScriptSource(sources, flags) < 0) {
        *error = "nothing to check: give the script's text form or an entry install.dat";
        return false;
    }
    std::vector<PackInput> inputs;
    PackBytes text;
    if (!ReadInputs(scriptPath, sources, &text, &inputs, error)) return false;
    bool bundled = true;
    if (!stubPath.empty() || !uninstallerPath.empty()) {
        PackBytes uninstaller;
        std::string readError;
        bundled = Pack_ReadFile(BundledPath(stubPath, uninstallerPath), &uninstaller, &readError);
    }
    return CheckScript(scriptPath, text, sources, flags, bundled, &inputs, report, error);
}

bool Pack_BuildFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, const std::string &outputPath, std::string *bundledUninstaller,
                     std::string *error, PackNotes *notes, CheckReport *report) {
    bundledUninstaller->clear();
    std::vector<PackInput> inputs;
    PackBytes text;
    if (!ReadInputs(scriptPath, sources, &text, &inputs, error)) return false;
    if (report) {
        if (!CheckScript(scriptPath, text, sources, flags, true, &inputs, report, error))
            return false;
    } else if (!scriptPath.empty() && !Script_Compile(std::string(text.begin(), text.end()),
                                                      scriptPath, &inputs.front().data, error)) {
        return false;
    }
    if (stubPath.empty()) return Pack_BuildStandalone(inputs, flags, outputPath, error, notes);
    if (!AddUninstaller(stubPath, uninstallerPath, flags, &inputs, bundledUninstaller, error,
                        notes))
        return false;
    return Pack_BuildSetup(stubPath, inputs, flags, outputPath, error, notes);
}

int64_t Pack_FindStamp(const std::string &path) {
    PackBytes file;
    std::string error;
    if (!Pack_ReadFile(path, &file, &error)) return -1;
    for (size_t at = 0; at + CORE_STAMP_SIZE <= file.size(); at++) {
        const uint8_t *record = file.data() + at;
        CoreStampFields stamp;
        if (record[0] != '|' || record[22] != 0) continue; // the cheap tests first
        if (Core_ReadStamp(record, CORE_STAMP_KEY, &stamp) && stamp.Position == at)
            return (int64_t)at;
    }
    return -1;
}

static bool OpenArchive(const std::string &path, std::string *error) {
    if (!Ffs_Open(path.c_str(), 0)) {
        Ffs_Close();
        *error = Quoted(path) + " holds no readable FFS archive";
        return false;
    }
    Ffs_AddCodec(&Type2_Codec);
    return true;
}

bool Pack_List(const std::string &path, const std::vector<std::string> &candidates,
               std::vector<PackEntryInfo> *entries, uint32_t *flags, std::string *error) {
    if (!OpenArchive(path, error)) return false;
    *flags = Ffs_Flags();
    entries->clear();
    for (uint32_t i = 0; i < Ffs_EntryCount(); i++) {
        PackEntryInfo info{};
        Ffs_EntryAt(i, &info.hash, &info.blockOffset);
        info.size = -1;
        if (Ffs_SeekEntry(info.hash, &info.storedLength)) {
            uint8_t peek[FFS_PEEK_SIZE];
            info.compressed = Ffs_Peek(peek, FFS_PEEK_SIZE) && Type2_Identify(peek);
            if (!Ffs_GetEntrySize(info.hash, &info.size)) info.size = -1;
        }
        for (const std::string &name : candidates)
            if (Ffs_HashName(name.c_str()) == info.hash) info.name = name;
        entries->push_back(info);
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
        *error = Quoted(name) + " is not in " + Quoted(path);
    else if (loaded != FFS_LOAD_DONE)
        *error = Quoted(name) + " cannot be read from " + Quoted(path);
    else
        data->assign(entry.Data, entry.Data + entry.Size);
    Ffs_FreeBlock(&entry);
    Ffs_Close();
    return loaded == FFS_LOAD_DONE;
}

bool Pack_Verify(const std::string &path, std::vector<std::string> *report) {
    bool passed = true;
    PackBytes head;
    std::string readError;
    bool standalone = Pack_ReadFile(path, &head, &readError) && head.size() >= 4 &&
                      memcmp(head.data(), FFS_TAG, 4) == 0;
    int64_t stamp = standalone ? -1 : Pack_FindStamp(path);
    PeSignature signature;
    if (!standalone && ReadSignature(head, &signature) &&
        (signature.TableOffset || signature.TableSize)) {
        int64_t end = (int64_t)signature.TableOffset + signature.TableSize;
        int64_t length = (int64_t)head.size();
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
        PackBytes file;
        std::string error;
        Pack_ReadFile(path, &file, &error);
        bool intact =
            Core_VerifyStampRecord(file.data() + stamp, CORE_STAMP_KEY, path.c_str(), 0, 1) == 1;
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
        bool ok = entry.size > 0;
        if (ok) {
            PackBytes data((size_t)entry.size);
            ok = Ffs_LoadEntry(entry.hash, data.data(), entry.size) == 1;
        }
        if (!ok) {
            char text[64];
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
