// Type2 compression and decompression throughput (MB/s of uncompressed data) and ratio on a
// fixed generated corpus, the throughput of CRC-32 (sliced, and the table-free one that names
// are hashed with), and of the integrity check over a whole file.
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include "ffs-enc2.h"
#include "tessel-core.h"
#include "tessel-stamp.h"
#include "tessel-str.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Words from a small vocabulary with line ends: a licence text or a script.
Bytes TextLike(size_t size) {
    static const char *words[] = {"the",     "software",  "licence", "install",   "user",
                                  "shall",   "copy",      "of",      "and",       "to",
                                  "any",     "warranty",  "setup",   "directory", "file",
                                  "program", "agreement", "not"};
    std::mt19937 random(1);
    std::string text;
    while (text.size() < size) {
        text += words[random() % 18];
        text += (random() % 12 == 0) ? ".\r\n" : " ";
    }
    return Bytes(text.begin(), text.begin() + (long)size);
}

// Records of little-endian numbers with small values and repeated tags: a data file.
Bytes BinaryLike(size_t size) {
    std::mt19937 random(2);
    Bytes data;
    while (data.size() < size) {
        uint32_t values[4] = {(uint32_t)data.size() / 16, (uint32_t)(random() % 256), 0x00010000u,
                              random() % 4 == 0 ? 0xFFFFFFFFu : 0u};
        for (uint32_t v : values)
            for (int i = 0; i < 4; i++) data.push_back((uint8_t)(v >> (8 * i)));
    }
    data.resize(size);
    return data;
}

// Uniform random bytes: a file that was compressed already.
Bytes CompressedLike(size_t size) {
    std::mt19937 random(3);
    Bytes data(size);
    for (auto &b : data) b = (uint8_t)random();
    return data;
}

// Code-like runs (a few hundred instruction patterns with varying operands), zero padding
// between sections, string tables and an import-like name list: an executable.
Bytes ExecutableLike(size_t size) {
    std::mt19937 random(4);
    std::vector<Bytes> patterns(300);
    for (auto &p : patterns) {
        p.resize(2 + random() % 6);
        for (auto &b : p) b = (uint8_t)random();
    }
    Bytes data;
    while (data.size() < size) {
        switch (random() % 10) {
        case 0:
            data.insert(data.end(), 512 - data.size() % 512, 0);
            break;
        case 1: {
            std::string name = "Kernel32Function" + std::to_string(random() % 200) + "A";
            data.insert(data.end(), name.begin(), name.end());
            data.push_back(0);
            break;
        }
        default:
            for (int i = 0; i < 64; i++) {
                const Bytes &p = patterns[random() % 40 + (random() % 8 == 0 ? 40 : 0)];
                data.insert(data.end(), p.begin(), p.end());
                data.push_back((uint8_t)(random() % 16));
            }
        }
    }
    data.resize(size);
    return data;
}

const Bytes &Corpus(int index) {
    static const Bytes corpora[] = {TextLike(1 << 20), BinaryLike(1 << 20), CompressedLike(1 << 20),
                                    ExecutableLike(4 << 20)};
    return corpora[index];
}

const char *kCorpusNames[] = {"text", "binary", "compressed", "executable"};

struct Codec {
    Codec() {
        Mem_Init(MEM_NO_LIMIT, 0);
        Type2_Init();
    }
};

void Compress(benchmark::State &state) {
    static Codec codec;
    const Bytes &data = Corpus((int)state.range(0));
    Bytes block(data.size() * 3 + 64);
    int32_t length = 0;
    for (auto _ : state) {
        length = (int32_t)block.size();
        if (!Type2_Compress(data.data(), (int32_t)data.size(), block.data(), &length))
            length = (int32_t)data.size(); // stored raw
        benchmark::DoNotOptimize(block.data());
    }
    state.SetLabel(kCorpusNames[state.range(0)]);
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
    state.counters["ratio"] = (double)length / (double)data.size();
}

void Decompress(benchmark::State &state) {
    static Codec codec;
    const Bytes &data = Corpus((int)state.range(0));
    Bytes block(data.size() * 3 + 64), output(data.size());
    int32_t length = (int32_t)block.size();
    if (!Type2_Compress(data.data(), (int32_t)data.size(), block.data(), &length)) {
        // Not stored compressed; decode the forced block to measure the decoder anyway.
        length = (int32_t)block.size();
        Type2_CompressAlways(data.data(), (int32_t)data.size(), block.data(), &length);
    }
    for (auto _ : state) {
        Type2_Decompress(block.data(), length, output.data(), (int32_t)output.size());
        benchmark::DoNotOptimize(output.data());
    }
    state.SetLabel(kCorpusNames[state.range(0)]);
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
}

// CRC-32 of the 4 MB executable-like corpus: 0 the sliced one with its table made at run time,
// 1 the table-free one.
void Crc32(benchmark::State &state) {
    const Bytes &data = Corpus(3);
    std::vector<uint32_t> table(CORE_CRC32_TABLE_WORDS);
    Core_Crc32MakeTable(table.data());
    uint32_t running = 0;
    for (auto _ : state) {
        running = state.range(0) == 0
                      ? Core_Crc32Sliced(table.data(), 0xFFFFFFFF, data.data(), (int)data.size())
                      : Core_Crc32Update(0xFFFFFFFF, data.data(), (int)data.size());
        benchmark::DoNotOptimize(running);
    }
    state.SetLabel(state.range(0) == 0 ? "sliced" : "table-free");
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
}

void VerifyStamp(benchmark::State &state) {
    static Codec codec;
    const Bytes &data = Corpus(3);
    std::string path = "/tmp/tessel-bench-stamp.bin";
    FILE *file = fopen(path.c_str(), "wb");
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
    uint8_t record[CORE_STAMP_SIZE];
    uint32_t crc = Core_Crc32(data.data() + CORE_STAMP_SIZE, (int)data.size() - CORE_STAMP_SIZE);
    Core_MakeStamp(record, CORE_STAMP_KEY, 0, 0, crc, (uint32_t)data.size());
    int passed = 0;
    for (auto _ : state)
        passed = Core_VerifyStampRecord(record, CORE_STAMP_KEY, path.c_str(), 0, 1);
    if (!passed) state.SkipWithError("the stamp did not pass");
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
    remove(path.c_str());
}

} // namespace

BENCHMARK(Compress)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(Decompress)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(Crc32)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(VerifyStamp)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
