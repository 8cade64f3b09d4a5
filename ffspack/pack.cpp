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
#include <functional>
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

// ---- Inputs, read in pieces ----

uint64_t InputSize(const PackInput &input) {
    return input.path.empty() ? input.data.size() : input.size;
}

// An input's bytes from its start, in pieces: from memory, or from its file, which must hold
// exactly the size it had when it was listed.
typedef struct InputReader {
    const PackInput *input;
    SysFile *file;
    uint64_t read;
    uint8_t head[4]; // the first bytes read, zeros behind a shorter input
    bool failed;     // a file call failed
    bool changed;    // the file ends before its size, or goes on past it
} InputReader;

// Opens the input for reading from its start. False, with *error, when its file cannot be
// opened.
bool OpenInput(const PackInput &input, InputReader *reader, std::string *error) {
    *reader = InputReader{&input, nullptr, 0, {0, 0, 0, 0}, false, false};
    if (input.path.empty()) return true;
    reader->file = Sys_FileOpen(input.path.c_str(), "rb");
    if (!reader->file) *error = "cannot open " + Quoted(input.path) + ": " + strerror(errno);
    return reader->file != nullptr;
}

// The next n bytes of the input (an FfsSource; never asked past its size). 0 when they cannot
// be read.
int ReadInput(void *context, uint8_t *buffer, int32_t n) {
    InputReader *reader = (InputReader *)context;
    const PackInput &input = *reader->input;
    if (reader->failed || reader->changed || n < 0 ||
        reader->read + (uint64_t)n > InputSize(input)) {
        reader->failed = true;
        return 0;
    }
    if (input.path.empty()) {
        memcpy(buffer, input.data.data() + reader->read, (size_t)n);
    } else {
        int32_t got = 0;
        reader->failed = !Sys_FileRead(reader->file, buffer, n, &got);
        reader->changed = !reader->failed && got != n;
    }
    for (uint64_t i = reader->read; i < 4 && i < reader->read + (uint64_t)n; i++)
        reader->head[i] = buffer[i - reader->read];
    reader->read += (uint64_t)n;
    return !reader->failed && !reader->changed;
}

// Closes the input. Where all of it was read, its file must end there: a file that grew or
// shrank since it was listed would be stored cut short or padded. False, with *error, when a
// read, that end or the close failed.
bool CloseInput(InputReader *reader, std::string *error) {
    const PackInput &input = *reader->input;
    if (reader->file) {
        if (!reader->failed && !reader->changed && reader->read == input.size) {
            uint8_t more;
            int32_t got = 0;
            reader->failed = !Sys_FileRead(reader->file, &more, 1, &got);
            reader->changed = got != 0;
        }
        reader->failed = !Sys_FileClose(reader->file) || reader->failed;
        reader->file = nullptr;
    }
    const std::string name = Quoted(input.path.empty() ? input.name : input.path);
    if (reader->changed)
        *error = name + " changed while the setup was built (it had " + std::to_string(input.size) +
                 " bytes when it was listed)";
    else if (reader->failed)
        *error = "cannot read " + name;
    return !reader->failed && !reader->changed;
}

// ---- Spools: the encoded blocks between their encoding and the archive ----

// One thread's blocks one behind the other: in memory, or in a file of the output's folder.
typedef struct Spool {
    SysFile *file; // null: in memory
    std::string path;
    PackBytes memory;
    int64_t end;         // where the next block goes
    int64_t position;    // the file's position
    std::string failure; // the first failed call's error; every later call fails too
} Spool;

// A spool file at path, which nobody else sees: removed at once where an open file can be.
bool OpenSpool(const std::string &path, Spool *spool, std::string *error) {
    spool->path = path;
    spool->file = Sys_FileOpen(path.c_str(), "w+b");
    if (!spool->file) {
        *error = "cannot write " + Quoted(path) + ": " + strerror(errno);
        return false;
    }
#if !defined(_WIN32)
    remove(path.c_str());
#endif
    return true;
}

// False, with the failure, when a call failed (the close among them).
bool CloseSpool(Spool *spool, std::string *error) {
    if (!spool->file) return true;
    if (!Sys_FileClose(spool->file) && spool->failure.empty())
        spool->failure = "cannot write " + Quoted(spool->path) + ": " + strerror(errno);
    spool->file = nullptr;
#if defined(_WIN32)
    remove(spool->path.c_str());
#endif
    if (!spool->failure.empty()) *error = spool->failure;
    return spool->failure.empty();
}

// Records a failed call of the spool, a read or a write, when it is the first.
bool SpoolFails(Spool *spool, const char *call) {
    if (spool->failure.empty())
        spool->failure = std::string("cannot ") + call + " " + Quoted(spool->path);
    return false;
}

// Moves the file to at for a read or a write (call). False when it or an earlier call failed.
bool SeekSpool(Spool *spool, int64_t at, const char *call) {
    if (!spool->failure.empty()) return false;
    if (spool->position == at) return true;
    if (!Sys_FileSeek(spool->file, at)) return SpoolFails(spool, call);
    spool->position = at;
    return true;
}

// Appends n bytes at the spool's end (an FfsSink). 0 when they cannot be written.
int WriteSpool(void *context, const uint8_t *data, int32_t n) {
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
bool ReadSpool(Spool *spool, int64_t at, uint8_t *buffer, int32_t n) {
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

// A block of a spool read from its start, in pieces (an FfsSource).
typedef struct SpoolReader {
    Spool *spool;
    int64_t at;
} SpoolReader;

int ReadSpoolBlock(void *context, uint8_t *buffer, int32_t n) {
    SpoolReader *reader = (SpoolReader *)context;
    if (!ReadSpool(reader->spool, reader->at, buffer, n)) return 0;
    reader->at += n;
    return 1;
}

// ---- Encoding ----

typedef struct Stored {
    uint32_t hash;
    const PackInput *input;
    bool raw;        // the input's own bytes; else a block:
    size_t spool;    // in this spool,
    int64_t offset;  // from here,
    uint32_t length; // this long (the raw bytes' length for raw)
} Stored;

// A block read back from its spool by the setup's own decoder, its output compared with the
// input it was made from as it comes.
typedef struct ReadBack {
    InputReader *input;
    bool differs;
} ReadBack;

int CompareOutput(void *context, const uint8_t *output, int32_t n) {
    ReadBack *back = (ReadBack *)context;
    uint8_t piece[TYPE2_PIECE_SIZE];
    if (n > TYPE2_PIECE_SIZE || !ReadInput(back->input, piece, n)) return 0;
    back->differs = memcmp(output, piece, (size_t)n) != 0;
    return !back->differs;
}

// 1 when the block decodes back to exactly the input: the adaptive tree can grow deeper than
// the 16 bits a code is kept in, and a block made then would install other bytes than it was
// given. Neither is ever held whole. -1, with *error, when a file call failed.
int DecodesBack(const PackInput &input, Spool *spool, const Stored &block, std::string *error) {
    InputReader reader;
    if (!OpenInput(input, &reader, error)) return -1;
    ReadBack back = {&reader, false};
    SpoolReader source = {spool, block.offset};
    int decoded = Type2_DecompressStream(ReadSpoolBlock, &source, (int32_t)block.length,
                                         CompareOutput, &back, (int32_t)InputSize(input));
    // A block that differs stops the decoder before the input is read to its end.
    bool read = CloseInput(&reader, error) || back.differs;
    if (!spool->failure.empty()) *error = spool->failure;
    if (!spool->failure.empty() || !read) return -1;
    return decoded == 1 && !back.differs;
}

// Encodes the input at the spool's end, a block of at most stopAfter bytes: 1 with *block's
// place set, 0 when it would be longer (nothing of it is kept); -1, with *error, when a file
// call failed. *head gets the input's first bytes.
int EncodeInto(const PackInput &input, Spool *spool, int32_t stopAfter, Stored *block,
               uint8_t head[4], std::string *error) {
    InputReader reader;
    if (!OpenInput(input, &reader, error)) return -1;
    block->offset = spool->end;
    int32_t length = 0;
    int made = Type2_CompressStream(ReadInput, &reader, (int32_t)InputSize(input), WriteSpool,
                                    spool, stopAfter, &length);
    bool read = CloseInput(&reader, error);
    memcpy(head, reader.head, 4);
    if (!spool->failure.empty()) *error = spool->failure;
    if (!spool->failure.empty() || !read) return -1;
    if (!made) {
        spool->end = block->offset; // the next block is written over what was made
        return 0;
    }
    block->length = (uint32_t)length;
    return 1;
}

// The first bytes of the input, for one too short to be encoded (Type2 takes 11 bytes on).
bool ReadHead(const PackInput &input, uint8_t head[4], std::string *error) {
    InputReader reader;
    if (!OpenInput(input, &reader, error)) return false;
    uint8_t bytes[4];
    ReadInput(&reader, bytes, (int32_t)std::min<uint64_t>(4, InputSize(input)));
    memcpy(head, reader.head, 4);
    return CloseInput(&reader, error);
}

// The stored bytes of one input, made in the spool: Type2 where that shrinks it and decodes
// back to it, raw otherwise; data that begins with the tag is always encoded, since raw it
// would be taken for a block.
bool Encode(const PackInput &input, Stored *stored, Spool *spool, std::string *error,
            PackNotes *notes) {
    const int32_t length = (int32_t)InputSize(input);
    uint8_t head[4];
    // Type2_Compress's bounds: 11 bytes at least, and a block shorter than the data.
    int made = 0;
    if (length > 10)
        made = EncodeInto(input, spool, length - 1, stored, head, error);
    else if (!ReadHead(input, head, error))
        made = -1;
    if (made < 0) return false;
    const bool tagged = length >= 4 && memcmp(head, TYPE2_TAG, 4) == 0, shrinks = made == 1;
    stored->raw = !shrinks && !tagged;
    stored->length = stored->raw ? (uint32_t)length : stored->length;
    if (stored->raw) return true;
    // Room for a block three times the data, as far as a length of 31 bits goes.
    const int32_t room = (int32_t)std::min<uint64_t>((uint64_t)length * 3 + 64, INT32_MAX);
    if (!shrinks && (made = EncodeInto(input, spool, room, stored, head, error)) != 1) {
        if (made == 0)
            *error = Quoted(input.name) + " begins with \"FFC@\" and could not be encoded";
        return false;
    }
    int back = DecodesBack(input, spool, *stored, error);
    if (back < 0) return false;
    if (!back) {
        if (tagged) {
            *error = Quoted(input.name) + " begins with \"FFC@\" and its Type2 block does not "
                                          "decode back to it: it cannot be stored";
            return false;
        }
        notes->push_back(Quoted(input.name) + ": its Type2 block does not decode back to it " +
                         "(a code longer than 16 bits); stored raw");
        spool->end = stored->offset;
        *stored = Stored{stored->hash, stored->input, true, 0, 0, (uint32_t)length};
        return true;
    }
    if (!shrinks)
        notes->push_back(Quoted(input.name) + " begins with \"FFC@\": stored Type2-encoded (" +
                         std::to_string(stored->length) + " bytes for " + std::to_string(length) +
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
    if (InputSize(input) == 0) {
        *error = Quoted(input.name) +
                 " is empty; an archive cannot hold an empty file (a stored length of 0 reads "
                 "as a missing entry): give it its first byte (a line end for a log or a "
                 "settings file), or leave it out and let the program make it";
        return false;
    }
    if (!Pack_EntryFits(InputSize(input))) {
        *error = Quoted(input.name) + " is 2 GB or larger (" + std::to_string(InputSize(input)) +
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
bool EncodeAll(std::vector<Stored> *entries, std::vector<Spool> *spools, std::string *error,
               PackNotes *notes) {
    size_t count = entries->size();
    std::vector<std::string> errors(count);
    std::vector<PackNotes> entryNotes(count);
    std::vector<char> failed(count, 0);
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [entries](size_t a, size_t b) {
        return InputSize(*(*entries)[a].input) > InputSize(*(*entries)[b].input);
    });
    std::atomic<size_t> next(0);
    auto work = [&](size_t spool) {
        Type2_Init();
        for (size_t k; (k = next.fetch_add(1)) < count;) {
            size_t i = order[k];
            (*entries)[i].spool = spool;
            failed[i] = !Encode(*(*entries)[i].input, &(*entries)[i], &(*spools)[spool], &errors[i],
                                &entryNotes[i]);
        }
        Type2_Shutdown();
    };
    Type2_Init(); // the codec's shared tables, made before any thread starts
    std::vector<std::thread> pool;
    for (size_t t = 1; t < spools->size(); t++) pool.emplace_back(work, t);
    work(0);
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

namespace {

// The threads that encode count entries: Jobs, or one a core, never more than the entries.
size_t Threads(size_t count) {
    size_t threads = Jobs > 0 ? (size_t)Jobs : std::max(1u, std::thread::hardware_concurrency());
    threads = std::max<size_t>(1, std::min(threads, count));
    return TYPE2_THREAD_STATES ? threads : 1; // one global codec state
}

// Where an archive's bytes go as they are made; false when they cannot be taken.
typedef std::function<bool(const uint8_t *bytes, size_t length)> ArchiveSink;

// The stored bytes of an entry to the sink, read in pieces from the input or the spool.
bool CopyStored(const Stored &entry, std::vector<Spool> *spools, const ArchiveSink &sink,
                std::string *error) {
    InputReader reader;
    if (entry.raw && !OpenInput(*entry.input, &reader, error)) return false;
    PackBytes piece(TYPE2_PIECE_SIZE);
    bool copied = true;
    for (uint32_t at = 0; copied && at < entry.length;) {
        int32_t n = (int32_t)std::min<uint32_t>(entry.length - at, TYPE2_PIECE_SIZE);
        copied = entry.raw ? ReadInput(&reader, piece.data(), n) == 1
                           : ReadSpool(&(*spools)[entry.spool], entry.offset + at, piece.data(), n);
        copied = copied && sink(piece.data(), (size_t)n);
        at += (uint32_t)n;
    }
    if (entry.raw) return CloseInput(&reader, error) && copied;
    if (!(*spools)[entry.spool].failure.empty()) *error = (*spools)[entry.spool].failure;
    return copied;
}

// The archive of the encoded entries, sorted by hash, to the sink: header, directory, blocks
// back to back, padding, trailer. False with *error when it would be too long or a file call
// failed; false alone when the sink refused.
bool WriteArchive(const std::vector<Stored> &entries, uint32_t flags, uint32_t archiveOffset,
                  bool withTrailer, std::vector<Spool> *spools, const ArchiveSink &sink,
                  std::string *error, PackNotes *notes) {
    uint64_t total = FFS_HEADER_SIZE + (uint64_t)entries.size() * FFS_DIRECTORY_ENTRY_SIZE;
    for (const Stored &entry : entries) total += FFS_BLOCK_HEADER_SIZE + entry.length;
    // The size query reads 16 bytes from the start of the stored bytes: the last entry's must
    // lie inside the file even when it is shorter, so padding may follow it.
    uint64_t tail = withTrailer ? FFS_TRAILER_SIZE : 0, padding = 0;
    if (!entries.empty() && entries.back().length + tail < FFS_PEEK_SIZE)
        padding = FFS_PEEK_SIZE - (entries.back().length + tail);
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
    PackBytes out(FFS_TAG, FFS_TAG + 4);
    for (uint32_t word : {(uint32_t)entries.size(), ~(uint32_t)entries.size(), (uint32_t)total,
                          ~(uint32_t)total, flags})
        PutWord(&out, word);
    uint32_t blockOffset =
        archiveOffset + FFS_HEADER_SIZE + (uint32_t)entries.size() * FFS_DIRECTORY_ENTRY_SIZE;
    for (const Stored &entry : entries) {
        PutWord(&out, entry.hash);
        PutWord(&out, blockOffset);
        blockOffset += FFS_BLOCK_HEADER_SIZE + entry.length;
    }
    bool written = sink(out.data(), out.size());
    for (size_t i = 0; written && i < entries.size(); i++) {
        out.clear();
        PutWord(&out, entries[i].hash);
        PutWord(&out, entries[i].length);
        written = sink(out.data(), out.size()) && CopyStored(entries[i], spools, sink, error);
    }
    out.assign((size_t)(padding + align), 0);
    if (withTrailer) PutWord(&out, archiveOffset);
    return written && sink(out.data(), out.size());
}

// The archive of inputs, placed at archiveOffset of its file, handed to sink as it is made;
// the blocks wait in spools in memory (spoolPath empty) or in files named spoolPath and a
// number. False with *error as Pack_BuildArchive; a sink's refusal leaves *error to its owner.
bool MakeArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                 bool withTrailer, const std::string &spoolPath, const ArchiveSink &sink,
                 std::string *error, PackNotes *notes) {
    std::vector<Stored> entries;
    entries.reserve(inputs.size());
    for (const PackInput &input : inputs) {
        if (!CheckInput(input, error)) return false;
        entries.push_back(Stored{HashName(input.name, flags), &input, true, 0, 0, 0});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Stored &a, const Stored &b) { return a.hash < b.hash; });
    for (size_t i = 1; i < entries.size(); i++) {
        if (entries[i].hash != entries[i - 1].hash) continue;
        *error = Clash(entries[i - 1].input->name, entries[i].input->name, flags);
        return false;
    }
    std::vector<Spool> spools(Threads(entries.size()), Spool{nullptr, "", {}, 0, 0, ""});
    bool made = true;
    for (size_t t = 0; made && !spoolPath.empty() && t < spools.size(); t++)
        made = OpenSpool(spoolPath + std::to_string(t), &spools[t], error);
    made = made && EncodeAll(&entries, &spools, error, notes) &&
           WriteArchive(entries, flags, archiveOffset, withTrailer, &spools, sink, error, notes);
    for (Spool &spool : spools) {
        std::string closeError;
        if (!CloseSpool(&spool, &closeError) && made) {
            *error = closeError;
            made = false;
        }
    }
    return made;
}

} // namespace

bool Pack_BuildArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                       bool withTrailer, PackBytes *archive, std::string *error, PackNotes *notes) {
    archive->clear();
    return MakeArchive(
        inputs, flags, archiveOffset, withTrailer, "",
        [archive](const uint8_t *bytes, size_t length) {
            archive->insert(archive->end(), bytes, bytes + length);
            return true;
        },
        error, notes);
}

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

// The output at path, written through path + ".part": opened here, then committed to the disk and
// renamed into place by CommitPart only when complete.
static SysFile *OpenPart(const std::string &path, std::string *error) {
    SysFile *file = Sys_FileOpen((path + ".part").c_str(), "wb");
    if (!file) *error = "cannot write " + Quoted(path) + ": " + strerror(errno);
    return file;
}

// Closes the part; when written, commits it and puts it in path's place. False with *error
// (kept when set: the writer's own reason) otherwise; the part is then removed, an old path stays.
static bool CommitPart(SysFile *file, bool written, const std::string &path, std::string *error) {
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
        if (error->empty()) *error = "cannot write " + Quoted(path) + ": " + strerror(errno);
        remove(part.c_str());
    }
    return written;
}

// Hands bytes to the part file in writes of at most a megabyte (a write takes an int32_t count).
static bool WritePart(SysFile *file, const uint8_t *bytes, size_t length) {
    const size_t kChunk = (size_t)1 << 20;
    bool written = true;
    for (size_t at = 0; written && at < length; at += kChunk)
        written = Sys_FileWrite(file, bytes + at, (int32_t)std::min(kChunk, length - at));
    return written;
}

bool Pack_WriteFile(const std::string &path, const PackBytes &data, std::string *error) {
    SysFile *file = OpenPart(path, error);
    if (!file) return false;
    error->clear();
    return CommitPart(file, WritePart(file, data.data(), data.size()), path, error);
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

// The spools of a build for outputPath: files beside it, in the folder that holds the setup.
static std::string SpoolPath(const std::string &outputPath) { return outputPath + ".spool"; }

bool Pack_BuildSetup(const std::string &stubPath, const std::vector<PackInput> &inputs,
                     uint32_t flags, const std::string &outputPath, std::string *error,
                     PackNotes *notes) {
    PackBytes stub;
    if (!Pack_ReadFile(stubPath, &stub, error)) return false;
    if (stub.empty()) {
        *error = "the stub " + Quoted(stubPath) + " is empty";
        return false;
    }
    // The fields that signing rewrites are stamped as zero, as the setup reads them in a signed
    // file: the image's checksum (which no loader of a program checks) and the security entry.
    PeSignature signature;
    if (ReadSignature(stub, &signature)) {
        if (signature.TableOffset || signature.TableSize) {
            *error = "the stub " + Quoted(stubPath) +
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
        *error = Quoted(stubPath) + ": " + stampError;
        return false;
    }
    SysFile *file = OpenPart(outputPath, error);
    if (!file) return false;
    StampSum sum;
    StartSum(&sum, record);
    auto sink = [&](const uint8_t *bytes, size_t length) {
        AddToSum(&sum, bytes, length);
        return WritePart(file, bytes, length);
    };
    error->clear();
    bool written =
        sink(stub.data(), stub.size()) && MakeArchive(inputs, flags, (uint32_t)stub.size(), true,
                                                      SpoolPath(outputPath), sink, error, notes);
    uint8_t stamp[CORE_STAMP_SIZE];
    if (written) MakeStamp(sum, BaseName(outputPath), stamp);
    written = written && Sys_FileSeek(file, (int64_t)record) &&
              Sys_FileWrite(file, stamp, CORE_STAMP_SIZE);
    return CommitPart(file, written, outputPath, error);
}

bool Pack_BuildStandalone(const std::vector<PackInput> &inputs, uint32_t flags,
                          const std::string &outputPath, std::string *error, PackNotes *notes) {
    SysFile *file = OpenPart(outputPath, error);
    if (!file) return false;
    error->clear();
    bool written = MakeArchive(
        inputs, flags, 0, false, SpoolPath(outputPath),
        [file](const uint8_t *bytes, size_t length) { return WritePart(file, bytes, length); },
        error, notes);
    return CommitPart(file, written, outputPath, error);
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

// The size of the file at path, which an entry can hold. False with *error when it cannot be
// had, or is too large: refused from its size, before a byte of it is read.
static bool EntrySize(const std::string &path, uint64_t *size, std::string *error) {
    std::error_code code;
    *size = fs::file_size(path, code);
    if (code) {
        *error = "cannot open " + Quoted(path) + ": " + code.message();
        return false;
    }
    if (Pack_EntryFits(*size)) return true;
    *error = Quoted(path) + " is 2 GB or larger (" + std::to_string(*size) +
             " bytes); an entry holds at most " + std::to_string(PACK_MAX_LENGTH) + " bytes";
    return false;
}

// Reads the text form at scriptPath (when given) into *text, with the entry "install.dat" first
// in *inputs for its compiled bytes, then lists every source in *inputs by its file and size:
// the build reads it in pieces as it stores it, and the checks read none of it. Only the sources
// that the build reads itself, a hand-made script (install.dat) and an uninstaller
// (uninst.exe), are read whole. False with *error at the first file that cannot be read.
static bool ReadInputs(const std::string &scriptPath, const std::vector<PackSource> &sources,
                       uint32_t flags, PackBytes *text, std::vector<PackInput> *inputs,
                       std::string *error) {
    if (!scriptPath.empty()) {
        inputs->push_back(PackInput{"install.dat", {}});
        if (!Pack_ReadFile(scriptPath, text, error)) return false;
    }
    for (const PackSource &source : sources) {
        const uint32_t hash = HashName(source.name, flags);
        inputs->push_back(PackInput{source.name, {}});
        PackInput &input = inputs->back();
        if (hash == HashName("install.dat", flags) || hash == HashName(UNINST_ENTRY, flags)) {
            if (!Pack_ReadFile(source.path, &input.data, error)) return false;
        } else {
            input.path = source.path;
            if (!EntrySize(source.path, &input.size, error)) return false;
        }
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
            build.entries.push_back(CheckEntry{
                (*inputs)[i].name, (*inputs)[i].path.empty() ? &(*inputs)[i].data : nullptr,
                InputSize((*inputs)[i]), (*inputs)[i].path});
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
    if (!ReadInputs(scriptPath, sources, flags, &text, &inputs, error)) return false;
    bool bundled = true;
    if (!stubPath.empty() || !uninstallerPath.empty()) {
        SysFile *uninstaller = Sys_FileOpen(BundledPath(stubPath, uninstallerPath).c_str(), "rb");
        bundled = uninstaller && Sys_FileClose(uninstaller);
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
    if (!ReadInputs(scriptPath, sources, flags, &text, &inputs, error)) return false;
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
    if (!standalone && ReadSignature(head, &signature) &&
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
