// Our LZMA blocks made with liblzma's raw encoder, for the tests and the benchmark (never the
// programs): the x86 branch converter optionally, then LZMA1 with the size (no end marker) or
// plain LZMA1 (which ends with one), behind the block's 16-byte header.
#pragma once
#include <lzma.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "ffs-lzma.h"

struct LzmaEncoding {
    bool x86 = false;
    int lc = 3, lp = 0, pb = 2;
    uint32_t dictSize = 1 << 20;
    bool endMarker = false;
    uint32_t preset = 6;
};

// The whole block, or an empty vector when liblzma refuses the options.
inline std::vector<uint8_t> LzmaEncode(const std::vector<uint8_t> &data,
                                       const LzmaEncoding &options = LzmaEncoding()) {
    lzma_options_lzma lzma;
    if (lzma_lzma_preset(&lzma, options.preset)) return {};
    lzma.lc = (uint32_t)options.lc;
    lzma.lp = (uint32_t)options.lp;
    lzma.pb = (uint32_t)options.pb;
    lzma.dict_size = options.dictSize;
    lzma.ext_flags = 0;
    lzma.ext_size_low = (uint32_t)data.size();
    lzma.ext_size_high = 0;
    lzma_filter filters[3];
    int n = 0;
    if (options.x86) filters[n++] = {LZMA_FILTER_X86, NULL};
    filters[n++] = {options.endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &lzma};
    filters[n] = {LZMA_VLI_UNKNOWN, NULL};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return {};
    std::vector<uint8_t> block(LZMA_HEADER_SIZE + data.size() + data.size() / 2 + 4096);
    stream.next_in = data.data();
    stream.avail_in = data.size();
    stream.next_out = block.data() + LZMA_HEADER_SIZE;
    stream.avail_out = block.size() - LZMA_HEADER_SIZE;
    lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    block.resize(LZMA_HEADER_SIZE + stream.total_out);
    lzma_end(&stream);
    if (result != LZMA_STREAM_END) return {};
    memcpy(block.data(), LZMA_TAG, 4);
    uint32_t complement = ~(uint32_t)data.size(), dict = options.dictSize;
    for (int i = 0; i < 4; i++) {
        block[4 + i] = (uint8_t)(complement >> (8 * i));
        block[10 + i] = (uint8_t)(dict >> (8 * i));
    }
    block[8] = options.x86 ? LZMA_FILTER_BRANCH_X86 : LZMA_FILTER_NONE;
    block[9] = (uint8_t)((options.pb * 5 + options.lp) * 9 + options.lc);
    block[14] = block[15] = 0;
    return block;
}
