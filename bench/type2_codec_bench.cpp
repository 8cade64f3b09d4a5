// Our Type2 codec against the plain transcription (type2-reference) on real files: every file is
// encoded and decoded by both, the blocks and the decoded bytes compared byte for byte (any
// difference ends the run with status 1), and the throughput of each printed with the ratios.
// Usage: type2_codec_bench [--rounds N] FILE...
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "bench-support.h"
#include "ffs-enc2.h"
#include "tessel-core.h"
#include "type2-reference.h"

namespace {

using bench::Bytes;
using bench::CpuSeconds;
using bench::ReadFile;

struct Sample {
    std::string path;
    Bytes data;
    Bytes block; // ours, checked equal to the reference's
};

[[noreturn]] void Fail(const Sample &sample, const char *what, const Bytes &got,
                       const Bytes &expected) {
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) at++;
    fprintf(stderr, "DIFFERENT: %s: %s (%zu bytes against %zu, first difference at byte %zu)\n",
            sample.path.c_str(), what, got.size(), expected.size(), at);
    exit(1);
}

// ---- The operations: each fills result, whose buffer is made before the clock starts ----

void EncodeOurs(const Sample &sample, Bytes &result) {
    int32_t length = (int32_t)result.size();
    if (!Type2_CompressAlways(sample.data.data(), (int32_t)sample.data.size(), result.data(),
                              &length))
        Fail(sample, "Type2_CompressAlways refused the data", {}, {});
    result.resize((size_t)length);
}

void EncodeReference(const Sample &sample, Bytes &result) {
    int32_t length = Type2Ref_Encode(sample.data.data(), (int32_t)sample.data.size(), result.data(),
                                     (int32_t)result.size());
    result.resize((size_t)length);
}

void DecodeOurs(const Sample &sample, Bytes &result) {
    if (!Type2_Decompress(sample.block.data(), (int32_t)sample.block.size(), result.data(),
                          (int32_t)result.size()))
        Fail(sample, "Type2_Decompress refused the block", {}, sample.data);
}

struct Stream {
    const Bytes *block;
    size_t read;
    Bytes *output;
    size_t written;
    static int Read(void *context, uint8_t *buffer, int32_t n) {
        Stream *s = (Stream *)context;
        memcpy(buffer, s->block->data() + s->read, (size_t)n);
        s->read += (size_t)n;
        return 1;
    }
    static int Take(void *context, const uint8_t *data, int32_t n) {
        Stream *s = (Stream *)context;
        if (s->written + (size_t)n > s->output->size()) return 0;
        memcpy(s->output->data() + s->written, data, (size_t)n);
        s->written += (size_t)n;
        return 1;
    }
};

void DecodeOursInPieces(const Sample &sample, Bytes &result) {
    Stream stream = {&sample.block, 0, &result, 0};
    if (!Type2_DecompressStream(Stream::Read, &stream, (int32_t)sample.block.size(), Stream::Take,
                                &stream, (int32_t)sample.data.size()) ||
        stream.written != result.size())
        Fail(sample, "Type2_DecompressStream failed", {}, sample.data);
}

void DecodeReference(const Sample &sample, Bytes &result) {
    if (!Type2Ref_Decompress(sample.block.data(), (int32_t)sample.block.size(), result.data(),
                             (int32_t)result.size()))
        Fail(sample, "the reference refused the block", {}, sample.data);
}

enum { ENCODE_OURS, ENCODE_REFERENCE, DECODE_OURS, DECODE_PIECES, DECODE_REFERENCE, OPERATIONS };

const struct {
    const char *name;
    void (*run)(const Sample &, Bytes &);
    bool encodes;
} Operations[OPERATIONS] = {
    {"encode, ours", EncodeOurs, true},
    {"encode, reference", EncodeReference, true},
    {"decode, ours", DecodeOurs, false},
    {"decode in pieces, ours", DecodeOursInPieces, false},
    {"decode, reference", DecodeReference, false},
};

// Runs one operation over every sample, checks its results, returns its processor seconds.
double RunPass(int operation, std::vector<Sample> &samples) {
    double seconds = 0;
    for (Sample &sample : samples) {
        const auto &op = Operations[operation];
        Bytes result(op.encodes ? sample.data.size() * 3 + 64 : sample.data.size(), 0xA5);
        double start = CpuSeconds();
        op.run(sample, result);
        seconds += CpuSeconds() - start;
        if (!op.encodes) {
            if (result != sample.data) Fail(sample, op.name, result, sample.data);
        } else if (sample.block.empty()) {
            sample.block = result;
        } else if (result != sample.block) {
            Fail(sample,
                 operation == ENCODE_OURS ? "our block differs from the reference's"
                                          : "the reference's block differs from ours",
                 result, sample.block);
        }
    }
    return seconds;
}

} // namespace

int main(int argc, char **argv) {
    int rounds = 0, first = 0;
    bench::ReadArguments(argc, argv, 3, &rounds, &first);
    Mem_Init(MEM_NO_LIMIT, 0);
    Type2_Init();
    std::vector<Sample> samples;
    double total = 0, stored = 0;
    for (int i = first; i < argc; i++) {
        Sample sample = {argv[i], ReadFile(argv[i]), {}};
        if (sample.data.empty()) continue; // nothing to encode
        total += (double)sample.data.size();
        samples.push_back(sample);
    }
    // Each round runs every operation once, alternating ours and the reference's so that both
    // meet the same load; the best round of each counts.
    double best[OPERATIONS];
    for (int round = 0; round < rounds; round++) {
        for (int operation = 0; operation < OPERATIONS; operation++) {
            double seconds = RunPass(operation, samples);
            if (round == 0 || seconds < best[operation]) best[operation] = seconds;
        }
    }
    for (const Sample &sample : samples) stored += (double)sample.block.size();
    printf(
        "payload: %zu files, %.0f bytes; blocks %.0f bytes (%.1f%%), the same from both codecs;\n"
        "every file decoded by both to its own bytes. Processor time, best of %d rounds.\n\n",
        samples.size(), total, stored, 100.0 * stored / total, rounds);
    printf("| operation | seconds | MB/s |\n|---|---|---|\n");
    for (int operation = 0; operation < OPERATIONS; operation++)
        printf("| %s | %.3f | %.1f |\n", Operations[operation].name, best[operation],
               total / 1e6 / best[operation]);
    printf("\nours / reference: encode %.2fx, decode %.2fx, decode in pieces %.2fx\n",
           best[ENCODE_REFERENCE] / best[ENCODE_OURS], best[DECODE_REFERENCE] / best[DECODE_OURS],
           best[DECODE_REFERENCE] / best[DECODE_PIECES]);
    Type2_Shutdown();
    return 0;
}
