// The builder's LZMA encoder on liblzma: the block's 16-byte header, then lzma_raw_encoder's
// stream (LZMA1EXT, no end marker, preset 9 extreme) of the entry, optionally behind the x86
// converter, both pumped through 64 KB pieces so that neither the entry nor the block is held.
#include "pack-lzma.h"

#include <string.h>

#include <vector>

#include "ffs-lzma.h"
#include "tessel-bytes.h"

#ifndef TESSEL_LZMA
#define TESSEL_LZMA 0 // the Windows build: no liblzma
#endif
#if TESSEL_LZMA
#include <lzma.h>
#endif

int Pack_LzmaAvailable(void) { return TESSEL_LZMA ? 1 : 0; }

uint32_t Pack_LzmaDictSize(uint64_t size) {
    uint32_t dict = PACK_LZMA_DICT_MIN;
    while (dict < size && dict < PACK_LZMA_DICT_MAX) dict <<= 1;
    return dict;
}

int Pack_LzmaIsProgram(const uint8_t head[2]) { return head[0] == 'M' && head[1] == 'Z'; }

#if TESSEL_LZMA

namespace {

enum { PIECE = 65536 };

// The block's sink, which counts what it was given and stops past the bound.
typedef struct BoundedSink {
    FfsSink sink;
    void *context;
    int64_t written;
    int32_t stopAfter;
    bool tooLong, failed;
} BoundedSink;

bool Put(BoundedSink *out, const uint8_t *bytes, size_t n) {
    if (n == 0) return true;
    if (out->written + (int64_t)n > out->stopAfter) {
        out->tooLong = true;
        return false;
    }
    if (!out->sink(out->context, bytes, (int32_t)n)) {
        out->failed = true;
        return false;
    }
    out->written += (int64_t)n;
    return true;
}

bool SetUp(lzma_stream *stream, int32_t length, int filter, uint32_t dictSize) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) return false;
    options.dict_size = dictSize;
    options.lc = PACK_LZMA_LC;
    options.lp = PACK_LZMA_LP;
    options.pb = PACK_LZMA_PB;
    options.ext_flags = 0; // no end marker: the block's header gives the size
    lzma_set_ext_size(options, (uint64_t)length);
    lzma_options_bcj x86 = {0}; // start offset 0
    lzma_filter filters[3];
    int n = 0;
    if (filter == LZMA_FILTER_BRANCH_X86) filters[n++] = {LZMA_FILTER_X86, &x86};
    filters[n++] = {LZMA_FILTER_LZMA1EXT, &options};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    return lzma_raw_encoder(stream, filters) == LZMA_OK;
}

// Pumps the entry through the encoder into out. False when a read, the sink or the encoder
// failed, or the block grew too long.
bool Pump(lzma_stream *stream, FfsSource source, void *sourceContext, int32_t length,
          BoundedSink *out) {
    std::vector<uint8_t> in(PIECE), coded(PIECE);
    int32_t left = length;
    stream->next_out = coded.data();
    stream->avail_out = coded.size();
    for (;;) {
        if (stream->avail_in == 0 && left > 0) {
            int32_t n = left < PIECE ? left : PIECE;
            if (!source(sourceContext, in.data(), n)) return out->failed = true, false;
            left -= n;
            stream->next_in = in.data();
            stream->avail_in = (size_t)n;
        }
        lzma_ret result = lzma_code(stream, left == 0 ? LZMA_FINISH : LZMA_RUN);
        if (result != LZMA_OK && result != LZMA_STREAM_END) return out->failed = true, false;
        if (stream->avail_out == 0 || result == LZMA_STREAM_END) {
            if (!Put(out, coded.data(), coded.size() - stream->avail_out)) return false;
            stream->next_out = coded.data();
            stream->avail_out = coded.size();
        }
        if (result == LZMA_STREAM_END) return true;
    }
}

} // namespace

int Pack_LzmaEncode(FfsSource source, void *sourceContext, int32_t length, int filter, FfsSink sink,
                    void *sinkContext, int32_t stopAfter, int32_t *blockLength) {
    if (length < 1 || (filter != LZMA_FILTER_NONE && filter != LZMA_FILTER_BRANCH_X86)) return -1;
    const uint32_t dictSize = Pack_LzmaDictSize((uint64_t)length);
    uint8_t header[LZMA_HEADER_SIZE] = {0};
    memcpy(header, LZMA_TAG, 4);
    Le_Put32(header + 4, ~(uint32_t)length);
    header[8] = (uint8_t)filter;
    header[9] = (uint8_t)((PACK_LZMA_PB * 5 + PACK_LZMA_LP) * 9 + PACK_LZMA_LC);
    Le_Put32(header + 10, dictSize);
    BoundedSink out = {sink, sinkContext, 0, stopAfter, false, false};
    lzma_stream stream = LZMA_STREAM_INIT;
    bool made = SetUp(&stream, length, filter, dictSize);
    out.failed = !made;
    made = made && Put(&out, header, sizeof header) &&
           Pump(&stream, source, sourceContext, length, &out);
    lzma_end(&stream);
    if (!made) return out.tooLong && !out.failed ? 0 : -1;
    *blockLength = (int32_t)out.written;
    return 1;
}

#else

int Pack_LzmaEncode(FfsSource, void *, int32_t, int, FfsSink, void *, int32_t, int32_t *) {
    return -1;
}

#endif
