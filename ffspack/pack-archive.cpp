// Archive writing: the entries checked, hashed and sorted, encoded with the chosen codec where it
// shrinks (on several threads, each block waiting in a spool), and laid out as header, sorted
// directory, blocks back to back, padding that keeps the last 16-byte peek inside the file,
// and trailer; each input read in pieces as it is stored, never held whole.
#include "pack-archive.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "check-names.h"
#include "ffs-enc2.h"
#include "ffs-lzma.h"
#include "ffs.h"
#include "pack-file.h"
#include "pack-group.h"
#include "pack-input.h"
#include "pack-lzma.h"
#include "pack-spool.h"
#include "tessel-bytes.h"
#include "tessel-sys.h"

uint32_t Pack_HashName(const std::string &name, uint32_t flags) {
    return Ffs_HashNameFlags(name.c_str(), flags);
}

std::string Pack_Clash(const std::string &a, const std::string &b, uint32_t flags) {
    if (a == b) return Check_Quoted(a) + " is listed twice";
    const std::string names = "names " + Check_Quoted(a) + " and " + Check_Quoted(b);
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; };
    if ((flags & FFS_FLAG_UPPER_NAMES) && a.size() == b.size() &&
        std::equal(a.begin(), a.end(), b.begin(),
                   [&](char x, char y) { return upper(x) == upper(y); }))
        return names + " differ only in letter case: the setup asks for names in any letter " +
               "case, and these are one name to it; keep one of them";
    char hash[16];
    snprintf(hash, sizeof hash, "%08X", Pack_HashName(a, flags));
    return names + " have the same hash (0x" + hash + "); rename one of them";
}

namespace {

void PutWord(PackBytes *bytes, uint32_t value) {
    uint8_t word[4];
    Le_Put32(word, value);
    bytes->insert(bytes->end(), word, word + 4);
}

// ---- Encoding ----

// How an entry's block is made: the archive's codecs, and LZMA behind the x86 converter.
enum Method { METHOD_TYPE2, METHOD_LZMA, METHOD_LZMA_X86 };
const char *const kMethodNames[] = {"Type2", "LZMA", "LZMA+x86"};

typedef struct Stored {
    uint32_t hash;
    const PackContent *content;
    bool raw;         // the content's own bytes; else a block:
    size_t spool;     // in this spool,
    int64_t offset;   // from here,
    uint32_t length;  // this long (the raw bytes' length for raw, FFS_REF_SIZE for a reference)
    bool ref = false; // a reference record, these bytes:
    uint8_t record[FFS_REF_SIZE] = {};
    bool dropped = false; // a group whose block is not kept
} Stored;

// A group's content: more than one part.
bool IsGroup(const PackContent &content) { return content.parts.size() > 1; }

// A block read back from its spool by the setup's own decoder, its output compared with the
// input it was made from as it comes.
typedef struct ReadBack {
    PackReader *input;
    bool differs;
} ReadBack;

int CompareOutput(void *context, const uint8_t *output, int32_t n) {
    ReadBack *back = (ReadBack *)context;
    uint8_t piece[TYPE2_PIECE_SIZE];
    for (int32_t at = 0; at < n; at += TYPE2_PIECE_SIZE) {
        int32_t part = std::min<int32_t>(n - at, TYPE2_PIECE_SIZE);
        if (!Pack_Read(back->input, piece, part)) return 0;
        back->differs = memcmp(output + at, piece, (size_t)part) != 0;
        if (back->differs) return 0;
    }
    return 1;
}

// 1 when the block decodes back to exactly the input with the setup's own decoder: a Type2
// tree can grow deeper than the 16 bits a code is kept in, and a block made then would install
// other bytes than it was given; an LZMA block is proven the same way. Neither is ever held
// whole. -1, with *error, when a file call failed.
int DecodesBack(const PackContent &input, Spool *spool, const Stored &block, Method method,
                std::string *error) {
    PackReader reader;
    if (!Pack_OpenReader(input, &reader, error)) return -1;
    ReadBack back = {&reader, false};
    SpoolReader source = {spool, block.offset};
    auto decode = method == METHOD_TYPE2 ? Type2_DecompressStream : Lzma_DecompressStream;
    int decoded = decode(Spool_ReadBlock, &source, (int32_t)block.length, CompareOutput, &back,
                         (int32_t)input.size);
    // A block that differs stops the decoder before the input is read to its end.
    bool read = Pack_CloseReader(&reader, error) || back.differs;
    if (!spool->failure.empty()) *error = spool->failure;
    if (!spool->failure.empty() || !read) return -1;
    return decoded == 1 && !back.differs;
}

// Encodes the input at the spool's end with method, a block of at most stopAfter bytes: 1 with
// *block's place set, 0 when it would be longer (nothing of it is kept); -1, with *error, when
// a file call or the encoder failed. *head gets the input's first bytes.
int EncodeInto(const PackContent &input, Spool *spool, Method method, int32_t stopAfter,
               Stored *block, uint8_t head[4], std::string *error) {
    PackReader reader;
    if (!Pack_OpenReader(input, &reader, error)) return -1;
    block->offset = spool->end;
    const int32_t size = (int32_t)input.size;
    int32_t length = 0;
    int made =
        method == METHOD_TYPE2
            ? Type2_CompressStream(Pack_Read, &reader, size, Spool_Write, spool, stopAfter, &length)
            : Pack_LzmaEncode(Pack_Read, &reader, size,
                              method == METHOD_LZMA_X86 ? LZMA_FILTER_BRANCH_X86 : LZMA_FILTER_NONE,
                              Spool_Write, spool, stopAfter, &length);
    bool read = Pack_CloseReader(&reader, error);
    memcpy(head, reader.head, 4);
    if (!spool->failure.empty()) *error = spool->failure;
    if (!spool->failure.empty() || !read) return -1;
    if (made < 0) {
        *error = "the LZMA encoder failed on " + Check_Quoted(input.name) + " (out of memory?)";
        return -1;
    }
    if (!made) {
        spool->end = block->offset; // the next block is written over what was made
        return 0;
    }
    block->length = (uint32_t)length;
    return 1;
}

// The first bytes of the input, for one that is not encoded at first.
bool ReadHead(const PackContent &input, uint8_t head[4], std::string *error) {
    PackReader reader;
    if (!Pack_OpenReader(input, &reader, error)) return false;
    uint8_t bytes[4];
    Pack_Read(&reader, bytes, (int32_t)std::min<uint64_t>(4, input.size));
    memcpy(head, reader.head, 4);
    return Pack_CloseReader(&reader, error);
}

PackCodec Codec = PACK_CODEC_TYPE2;

// The tag that data beginning with head (of length bytes) would be taken for when stored raw;
// null when none.
const char *TagOf(const uint8_t head[4], int32_t length) {
    if (length < 4) return nullptr;
    for (const char *tag : {TYPE2_TAG, LZMA_TAG, FFS_REF_TAG})
        if (memcmp(head, tag, 4) == 0) return tag;
    return nullptr;
}

// The first try of the archive's codec, a block shorter than the input: 1 made, 0 not shorter
// (nothing kept), -1 failed. LZMA tries a program behind the x86 converter too and keeps the
// shorter block; *method is the one kept.
int Shrink(const PackContent &input, Stored *stored, Spool *spool, uint8_t head[4], Method *method,
           std::string *error) {
    const int32_t length = (int32_t)input.size;
    // Type2_Compress takes 11 bytes on; an LZMA block has a 16-byte header.
    const int32_t shortest = Codec == PACK_CODEC_LZMA ? LZMA_HEADER_SIZE + 2 : TYPE2_MIN_LENGTH;
    if (Codec == PACK_CODEC_STORE || length < shortest)
        return ReadHead(input, head, error) ? 0 : -1;
    *method = Codec == PACK_CODEC_LZMA ? METHOD_LZMA : METHOD_TYPE2;
    int made = EncodeInto(input, spool, *method, length - 1, stored, head, error);
    if (made < 0 || Codec != PACK_CODEC_LZMA || !Pack_LzmaIsProgram(head)) return made;
    Stored x86 = *stored;
    int32_t bound = made ? (int32_t)stored->length - 1 : length - 1;
    int converted = EncodeInto(input, spool, METHOD_LZMA_X86, bound, &x86, head, error);
    if (converted == 1) { // the plain block, if any, stays unused in the spool
        *stored = x86;
        *method = METHOD_LZMA_X86;
    }
    return converted < 0 ? -1 : made || converted;
}

// The stored bytes of one input, made in the spool: the archive's codec where that shrinks it
// and decodes back to it, raw otherwise; data that begins with a tag is always encoded, since
// raw it would be taken for a block (with LZMA by that codec, else with Type2).
bool Encode(const PackContent &input, Stored *stored, Spool *spool, std::string *error,
            PackNotes *notes) {
    const int32_t length = (int32_t)input.size;
    uint8_t head[4];
    Method method = METHOD_TYPE2;
    int made = Shrink(input, stored, spool, head, &method, error);
    if (made < 0) return false;
    const char *tag = TagOf(head, length);
    const bool shrinks = made == 1;
    stored->raw = !shrinks && !tag;
    stored->length = stored->raw ? (uint32_t)length : stored->length;
    if (stored->raw) return true;
    const std::string quoted = Check_Quoted(input.name);
    // Room for a block three times the data, as far as a length of 31 bits goes.
    const int32_t room = (int32_t)std::min<uint64_t>((uint64_t)length * 3 + 64, INT32_MAX);
    if (!shrinks) method = Codec == PACK_CODEC_LZMA ? METHOD_LZMA : METHOD_TYPE2;
    if (!shrinks && (made = EncodeInto(input, spool, method, room, stored, head, error)) != 1) {
        if (made == 0) *error = quoted + " begins with \"" + tag + "\" and could not be encoded";
        return false;
    }
    int back = DecodesBack(input, spool, *stored, method, error);
    if (back < 0) return false;
    const std::string name = kMethodNames[method];
    if (!back) {
        if (tag) {
            *error = quoted + " begins with \"" + tag + "\" and its " + name +
                     " block does not decode back to it: it cannot be stored";
            return false;
        }
        notes->push_back(quoted + ": its " + name + " block does not decode back to it" +
                         (method == METHOD_TYPE2 ? " (a code longer than 16 bits)" : "") +
                         "; stored raw");
        spool->end = stored->offset;
        *stored = Stored{stored->hash, stored->content, true, 0, 0, (uint32_t)length};
        return true;
    }
    if (!shrinks)
        notes->push_back(quoted + " begins with \"" + tag + "\": stored " + name + "-encoded (" +
                         std::to_string(stored->length) + " bytes for " + std::to_string(length) +
                         "), since raw it would be taken for a compressed block");
    return true;
}

// A solid group's block, made in the spool: its members' bytes as one LZMA stream without the
// x86 converter (a reader resumes inside a plain stream only), kept when it is shorter than
// those bytes and decodes back to them; otherwise *stored is dropped, with a note. Whether it
// beats its members stored one by one is decided once they are encoded too.
bool EncodeGroup(const PackContent &group, Stored *stored, Spool *spool, std::string *error,
                 PackNotes *notes) {
    uint8_t head[4];
    stored->raw = false;
    int made = EncodeInto(group, spool, METHOD_LZMA, (int32_t)group.size - 1, stored, head, error);
    if (made < 0) return false;
    int back = made ? DecodesBack(group, spool, *stored, METHOD_LZMA, error) : 0;
    if (back < 0) return false;
    if (back) return true;
    stored->dropped = true;
    if (made) spool->end = stored->offset;
    notes->push_back(group.name + " (" + std::to_string(group.parts.size()) + " files): " +
                     (made ? "its LZMA block does not decode back to its files"
                           : "its LZMA block is not shorter than its files") +
                     "; they are stored one by one");
    return true;
}

bool CheckInput(const PackInput &input, std::string *error) {
    if (input.name.empty()) {
        *error = "an entry has an empty name";
        return false;
    }
    if (input.name.size() > PACK_MAX_NAME) {
        *error = "name " + Check_Quoted(input.name.substr(0, 40) + "...") + " is " +
                 std::to_string(input.name.size()) + " characters long; names are at most " +
                 std::to_string(PACK_MAX_NAME);
        return false;
    }
    if (input.name.find('\0') != std::string::npos) {
        *error = "name " + Check_Quoted(input.name.c_str()) + " holds a zero byte";
        return false;
    }
    if (Pack_InputSize(input) == 0) {
        *error = Check_Quoted(input.name) +
                 " is empty; an archive cannot hold an empty file (a stored length of 0 reads "
                 "as a missing entry): give it its first byte (a line end for a log or a "
                 "settings file), or leave it out and let the program make it";
        return false;
    }
    if (!Pack_EntryFits(Pack_InputSize(input))) {
        *error = Check_Quoted(input.name) + " is 2 GB or larger (" +
                 std::to_string(Pack_InputSize(input)) + " bytes); an entry holds at most " +
                 std::to_string(PACK_MAX_LENGTH) + " bytes";
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
        return (*entries)[a].content->size > (*entries)[b].content->size;
    });
    std::atomic<size_t> next(0);
    auto work = [&](size_t spool) {
        Type2_Init();
        for (size_t k; (k = next.fetch_add(1)) < count;) {
            size_t i = order[k];
            (*entries)[i].spool = spool;
            Stored *entry = &(*entries)[i];
            auto encode = IsGroup(*entry->content) ? EncodeGroup : Encode;
            failed[i] =
                !encode(*entry->content, entry, &(*spools)[spool], &errors[i], &entryNotes[i]);
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

void Pack_SetCodec(PackCodec codec) { Codec = codec; }

bool Pack_CodecNamed(const std::string &name, PackCodec *codec) {
    const char *const names[] = {"type2", "lzma", "store"}; // in PackCodec's order
    for (int i = 0; i < 3; i++) {
        if (name != names[i]) continue;
        *codec = (PackCodec)i;
        return true;
    }
    return false;
}

namespace {

// The threads that encode count entries: Jobs, or one a core, never more than the entries.
size_t Threads(size_t count) {
    size_t threads = Jobs > 0 ? (size_t)Jobs : std::max(1u, std::thread::hardware_concurrency());
    threads = std::max<size_t>(1, std::min(threads, count));
    return TYPE2_THREAD_STATES ? threads : 1; // one global codec state
}

// The stored bytes of an entry to the sink, read in pieces from the input or the spool.
bool CopyStored(const Stored &entry, std::vector<Spool> *spools, const PackArchiveSink &sink,
                std::string *error) {
    if (entry.ref) return sink(entry.record, FFS_REF_SIZE);
    PackReader reader;
    if (entry.raw && !Pack_OpenReader(*entry.content, &reader, error)) return false;
    PackBytes piece(TYPE2_PIECE_SIZE);
    bool copied = true;
    for (uint32_t at = 0; copied && at < entry.length;) {
        int32_t n = (int32_t)std::min<uint32_t>(entry.length - at, TYPE2_PIECE_SIZE);
        copied = entry.raw
                     ? Pack_Read(&reader, piece.data(), n) == 1
                     : Spool_Read(&(*spools)[entry.spool], entry.offset + at, piece.data(), n);
        copied = copied && sink(piece.data(), (size_t)n);
        at += (uint32_t)n;
    }
    if (entry.raw) return Pack_CloseReader(&reader, error) && copied;
    if (!(*spools)[entry.spool].failure.empty()) *error = (*spools)[entry.spool].failure;
    return copied;
}

// The archive of the encoded entries, sorted by hash, to the sink: header, directory, blocks
// back to back, padding, trailer. False with *error when it would be too long or a file call
// failed; false alone when the sink refused.
bool WriteArchive(const std::vector<Stored> &entries, uint32_t flags, uint32_t archiveOffset,
                  bool withTrailer, std::vector<Spool> *spools, const PackArchiveSink &sink,
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
                         Check_Quoted(entries.back().content->name) +
                         " is shorter than the 16 bytes " + "that the size query reads)");
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

} // namespace

namespace {

// A reference entry: the content's bytes lie at offset of the entry of hash source.
Stored Reference(uint32_t hash, const PackContent *content, uint32_t source, uint64_t offset) {
    Stored ref{hash, content, false, 0, 0, FFS_REF_SIZE};
    ref.ref = true;
    memcpy(ref.record, FFS_REF_TAG, 4);
    Le_Put32(ref.record + 4, ~(uint32_t)content->size);
    Le_Put32(ref.record + 8, source);
    Le_Put32(ref.record + 12, (uint32_t)offset);
    return ref;
}

// What the plan's encoded jobs become: jobOf gives each input's job (a copy has none), then each
// group's. A group is kept when its block and its members' references are shorter than its
// members stored one by one; every member then refers to it, else it is dropped. A copy refers
// to where its first copy's bytes lie: that entry, or the kept group that holds them.
std::vector<Stored> Resolve(const std::vector<PackInput> &inputs, uint32_t flags,
                            const PackPlan &plan, const std::vector<PackContent> &contents,
                            const std::vector<Stored> &jobs, const std::vector<size_t> &jobOf,
                            PackNotes *notes) {
    const size_t count = inputs.size();
    std::vector<char> kept(plan.groups.size(), 0);
    std::vector<uint64_t> offsetOf(count, 0);
    for (size_t g = 0; g < plan.groups.size(); g++) {
        const PackGroup &group = plan.groups[g];
        const Stored &block = jobs[jobOf[count + g]];
        uint64_t alone = 0;
        for (size_t k = 0; k < group.members.size(); k++) {
            alone += jobs[jobOf[group.members[k]]].length;
            offsetOf[group.members[k]] = group.offsets[k];
        }
        const uint64_t together = (uint64_t)block.length + FFS_DIRECTORY_ENTRY_SIZE +
                                  FFS_BLOCK_HEADER_SIZE + group.members.size() * FFS_REF_SIZE;
        kept[g] = !block.dropped && together < alone;
        const std::string files = std::to_string(group.members.size()) + " files";
        if (kept[g])
            notes->push_back(group.name + ": " + files + " of the FILE LIST in one LZMA block of " +
                             std::to_string(block.length) + " bytes (" + std::to_string(alone) +
                             " one by one)");
        else if (!block.dropped)
            notes->push_back(group.name + " (" + files + "): its block and references would take " +
                             std::to_string(together) + " bytes, its files one by one " +
                             std::to_string(alone) + "; they are stored one by one");
    }
    std::vector<Stored> entries;
    for (size_t i = 0; i < count; i++) {
        const uint32_t hash = Pack_HashName(inputs[i].name, flags);
        const size_t first = plan.copyOf[i] >= 0 ? (size_t)plan.copyOf[i] : i;
        const int32_t g = plan.groupOf[first];
        if (first != i)
            notes->push_back(Check_Quoted(inputs[i].name) + " has the bytes of " +
                             Check_Quoted(inputs[first].name) + ": stored once");
        if (g >= 0 && kept[(size_t)g])
            entries.push_back(
                Reference(hash, &contents[i], plan.groups[(size_t)g].hash, offsetOf[first]));
        else if (first != i)
            entries.push_back(
                Reference(hash, &contents[i], Pack_HashName(inputs[first].name, flags), 0));
        else
            entries.push_back(jobs[jobOf[i]]);
    }
    for (size_t g = 0; g < plan.groups.size(); g++)
        if (kept[g]) entries.push_back(jobs[jobOf[count + g]]);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Stored &a, const Stored &b) { return a.hash < b.hash; });
    return entries;
}

// The contents to encode: each input's (a copy's is never encoded), then each group's; the jobs
// sorted by hash, so that notes come in the entries' order; jobOf as Resolve takes it.
void PlanJobs(const std::vector<PackInput> &inputs, uint32_t flags, const PackPlan &plan,
              std::vector<PackContent> *contents, std::vector<Stored> *jobs,
              std::vector<size_t> *jobOf) {
    const size_t count = inputs.size();
    contents->reserve(count + plan.groups.size());
    for (const PackInput &input : inputs) contents->push_back(Pack_ContentOf(input));
    for (const PackGroup &group : plan.groups) {
        PackContent content{group.name, {}, group.size};
        for (size_t member : group.members) content.parts.push_back(&inputs[member]);
        contents->push_back(content);
    }
    std::vector<size_t> source; // each job's index in contents
    for (size_t i = 0; i < contents->size(); i++) {
        if (i < count && plan.copyOf[i] >= 0) continue;
        const uint32_t hash =
            i < count ? Pack_HashName(inputs[i].name, flags) : plan.groups[i - count].hash;
        jobs->push_back(Stored{hash, &(*contents)[i], true, 0, 0, 0});
        source.push_back(i);
    }
    std::vector<size_t> order(jobs->size());
    for (size_t k = 0; k < order.size(); k++) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [jobs](size_t a, size_t b) { return (*jobs)[a].hash < (*jobs)[b].hash; });
    std::vector<Stored> sorted;
    jobOf->assign(contents->size(), 0);
    for (size_t k : order) {
        (*jobOf)[source[k]] = sorted.size();
        sorted.push_back((*jobs)[k]);
    }
    jobs->swap(sorted);
}

// Every input checked, and no two names of one hash. False with *error.
bool CheckInputs(const std::vector<PackInput> &inputs, uint32_t flags, std::string *error) {
    std::vector<std::pair<uint32_t, const PackInput *>> named;
    for (const PackInput &input : inputs) {
        if (!CheckInput(input, error)) return false;
        named.push_back({Pack_HashName(input.name, flags), &input});
    }
    std::stable_sort(named.begin(), named.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 1; i < named.size(); i++) {
        if (named[i].first != named[i - 1].first) continue;
        *error = Pack_Clash(named[i - 1].second->name, named[i].second->name, flags);
        return false;
    }
    return true;
}

} // namespace

// The archive of inputs, placed at archiveOffset of its file, handed to sink as it is made;
// the blocks wait in spools in memory (spoolPath empty) or in files named spoolPath and a
// number. False with *error as Pack_BuildArchive; a sink's refusal leaves *error to its owner.
bool Pack_MakeArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                      bool withTrailer, const std::string &spoolPath, const PackArchiveSink &sink,
                      std::string *error, PackNotes *notes) {
    if (!CheckInputs(inputs, flags, error)) return false;
    PackPlan plan;
    plan.copyOf.assign(inputs.size(), -1);
    plan.groupOf.assign(inputs.size(), -1);
    if (Codec == PACK_CODEC_LZMA && !Pack_PlanGroups(inputs, flags, &plan, error)) return false;
    std::vector<PackContent> contents;
    std::vector<Stored> jobs;
    std::vector<size_t> jobOf;
    PlanJobs(inputs, flags, plan, &contents, &jobs, &jobOf);
    std::vector<Spool> spools(Threads(jobs.size()), Spool{});
    bool made = true;
    for (size_t t = 0; made && !spoolPath.empty() && t < spools.size(); t++)
        made = Spool_Open(spoolPath + std::to_string(t), &spools[t], error);
    made = made && EncodeAll(&jobs, &spools, error, notes);
    if (made) {
        const std::vector<Stored> entries =
            Resolve(inputs, flags, plan, contents, jobs, jobOf, notes);
        made =
            WriteArchive(entries, flags, archiveOffset, withTrailer, &spools, sink, error, notes);
    }
    for (Spool &spool : spools) {
        std::string closeError;
        if (!Spool_Close(&spool, &closeError) && made) {
            *error = closeError;
            made = false;
        }
    }
    return made;
}

bool Pack_BuildArchive(const std::vector<PackInput> &inputs, uint32_t flags, uint32_t archiveOffset,
                       bool withTrailer, PackBytes *archive, std::string *error, PackNotes *notes) {
    archive->clear();
    return Pack_MakeArchive(
        inputs, flags, archiveOffset, withTrailer, "",
        [archive](const uint8_t *bytes, size_t length) {
            archive->insert(archive->end(), bytes, bytes + length);
            return true;
        },
        error, notes);
}
