// Our LZMA decoder against liblzma's on the same blocks: every file is encoded by liblzma (with
// and without the x86 branch converter), decoded by ours whole and in pieces and by liblzma's
// raw decoder, the bytes compared (any difference ends the run with status 1), and the decoding
// speed of each printed in MB/s of output (processor time, over N rounds). Usage:
// lzma_codec_bench [--rounds N] FILE...
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "bench-support.h"
#include "ffs-lzma.h"
#include "lzma-encode.h"
#include "tessel-core.h"

namespace {

using bench::Bytes;
using bench::CpuSeconds;
using bench::ReadFile;

void DecodeOurs(const Bytes &block, Bytes &output) {
    if (!Lzma_DecompressApart(block.data(), (int32_t)block.size(), output.data(),
                              (int32_t)output.size()))
        output.clear();
}

struct Pieces {
    const Bytes *block;
    size_t read;
    Bytes *output;
    size_t written;
};

int ReadPiece(void *context, uint8_t *buffer, int32_t n) {
    Pieces *p = (Pieces *)context;
    memcpy(buffer, p->block->data() + p->read, (size_t)n);
    p->read += (size_t)n;
    return 1;
}

int WritePiece(void *context, const uint8_t *data, int32_t n) {
    Pieces *p = (Pieces *)context;
    memcpy(p->output->data() + p->written, data, (size_t)n);
    p->written += (size_t)n;
    return 1;
}

void DecodeOursInPieces(const Bytes &block, Bytes &output) {
    Pieces pieces = {&block, 0, &output, 0};
    if (!Lzma_DecompressStream(ReadPiece, &pieces, (int32_t)block.size(), WritePiece, &pieces,
                               (int32_t)output.size()))
        output.clear();
}

void DecodeLiblzma(const Bytes &block, Bytes &output) {
    lzma_options_lzma lzma;
    lzma_lzma_preset(&lzma, 6);
    lzma.lc = block[9] % 9;
    lzma.lp = block[9] / 9 % 5;
    lzma.pb = block[9] / 45;
    lzma.dict_size = (uint32_t)block[10] | (uint32_t)block[11] << 8 | (uint32_t)block[12] << 16 |
                     (uint32_t)block[13] << 24;
    lzma.ext_flags = 0;
    lzma.ext_size_low = (uint32_t)output.size();
    lzma.ext_size_high = 0;
    lzma_filter filters[3];
    int n = 0;
    if (block[8] == LZMA_FILTER_BRANCH_X86) filters[n++] = {LZMA_FILTER_X86, NULL};
    filters[n++] = {LZMA_FILTER_LZMA1EXT, &lzma};
    filters[n] = {LZMA_VLI_UNKNOWN, NULL};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK) {
        output.clear();
        return;
    }
    stream.next_in = block.data() + LZMA_HEADER_SIZE;
    stream.avail_in = block.size() - LZMA_HEADER_SIZE;
    stream.next_out = output.data();
    stream.avail_out = output.size();
    lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    if (result != LZMA_STREAM_END && result != LZMA_OK) output.clear();
    lzma_end(&stream);
}

// MB/s of output over rounds decodes, each checked against data.
double Measure(const char *name, void (*decode)(const Bytes &, Bytes &), const Bytes &block,
               const Bytes &data, int rounds) {
    double seconds = 0;
    for (int round = 0; round < rounds; round++) {
        Bytes output(data.size());
        double start = CpuSeconds();
        decode(block, output);
        seconds += CpuSeconds() - start;
        if (output != data) {
            fprintf(stderr, "DIFFERENT: %s decoded other bytes\n", name);
            exit(1);
        }
    }
    return seconds > 0 ? (double)data.size() * rounds / seconds / 1e6 : 0;
}

} // namespace

int main(int argc, char **argv) {
    int rounds = 0, first = 0;
    bench::ReadArguments(argc, argv, 5, &rounds, &first);
    Mem_Init(MEM_NO_LIMIT, 0);
    printf("%-40s %4s %10s %8s %12s %12s %12s\n", "file", "x86", "bytes", "ratio", "ours MB/s",
           "pieces MB/s", "liblzma MB/s");
    for (int i = first; i < argc; i++) {
        Bytes data = ReadFile(argv[i]);
        if (data.empty()) continue;
        for (bool x86 : {false, true}) {
            LzmaEncoding options;
            options.x86 = x86;
            options.dictSize = LZMA_DICT_MAX;
            Bytes block = LzmaEncode(data, options);
            if (block.empty()) {
                fprintf(stderr, "liblzma could not encode %s\n", argv[i]);
                return 2;
            }
            double ours = Measure("ours", DecodeOurs, block, data, rounds);
            double pieces = Measure("ours in pieces", DecodeOursInPieces, block, data, rounds);
            double reference = Measure("liblzma", DecodeLiblzma, block, data, rounds);
            std::string name = argv[i];
            if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
            printf("%-40s %4s %10zu %7.1f%% %12.1f %12.1f %12.1f\n", name.c_str(),
                   x86 ? "yes" : "no", data.size(),
                   100.0 * (double)block.size() / (double)data.size(), ours, pieces, reference);
        }
    }
    return 0;
}
