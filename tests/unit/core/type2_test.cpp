// The Type2 codec: the published blocks byte for byte, round trips over many sizes and shapes
// (tree rebuilds, long runs, far matches), the size checks of Decompress, damaged streams that
// must never write past the output or read past the block, and the decoder in pieces: the whole
// decoder's bytes across every piece boundary, and its stops at a failed read or a refusal;
// blocks that run out (every truncation of a real block, a huge size claimed) are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ffs-enc2.h"
#include "tessel-core.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class Type2 : public ::testing::Test {
  protected:
    void SetUp() override {
        Mem_Init(MEM_NO_LIMIT, 0);
        Type2_Init();
    }
    void TearDown() override { Type2_Shutdown(); }

    // The block, or an empty vector when Compress declines.
    static Bytes Compress(const Bytes &data) {
        Bytes block(data.size() + 16);
        int32_t length = (int32_t)block.size();
        if (!Type2_Compress(data.data(), (int32_t)data.size(), block.data(), &length)) return {};
        block.resize((size_t)length);
        return block;
    }

    static bool RoundTrip(const Bytes &data) {
        Bytes block = Compress(data);
        if (block.empty()) return true; // stored raw by the builder
        Bytes output(data.size());
        if (!Type2_Decompress(block.data(), (int32_t)block.size(), output.data(),
                              (int32_t)output.size()))
            return false;
        return output == data;
    }
};

Bytes FromText(const std::string &text) { return Bytes(text.begin(), text.end()); }

TEST_F(Type2, PublishedBlocks) {
    EXPECT_EQ(Compress(FromText(std::string(40, ' '))),
              (Bytes{0x46, 0x46, 0x43, 0x40, 0xD7, 0xFF, 0xFF, 0xFF, 0xB2, 0x00, 0x00}));
    std::string abc;
    for (int i = 0; i < 8; i++) abc += "abc";
    EXPECT_EQ(Compress(FromText(abc)), (Bytes{0x46, 0x46, 0x43, 0x40, 0xE7, 0xFF, 0xFF, 0xFF, 0xF7,
                                              0xFC, 0x3E, 0x33, 0xE0, 0x20}));
    EXPECT_TRUE(Compress(FromText("abcdefghijk")).empty());
}

TEST_F(Type2, DeclinesShortData) {
    Bytes block(64);
    for (int32_t length : {0, 1, 10}) {
        int32_t capacity = 64;
        EXPECT_EQ(
            Type2_Compress(FromText(std::string(10, ' ')).data(), length, block.data(), &capacity),
            0);
    }
    // Eleven bytes are worked on, but 8 header bytes and 3 code bytes are not shorter.
    EXPECT_TRUE(Compress(FromText(std::string(11, ' '))).empty());
    EXPECT_FALSE(Compress(FromText(std::string(12, ' '))).empty());
}

// The one record that the setup, the uninstaller and the builder register: the reader's
// operations, without the encoder or the whole-block decoder, which the builder and the tools
// call directly.
TEST_F(Type2, RecordOrderAndNames) {
    EXPECT_STREQ(Type2_Codec.Name, "Type2");
    EXPECT_STREQ(Type2_Codec.Version, "1.0");
    EXPECT_EQ(Type2_Codec.Compress, nullptr);
    EXPECT_EQ(Type2_Codec.Decompress, nullptr);
    EXPECT_EQ(Type2_Codec.GetSize, &Type2_GetSize);
    EXPECT_EQ(Type2_Codec.Identify, &Type2_Identify);
    EXPECT_EQ(Type2_Codec.Init, &Type2_Init);
    EXPECT_EQ(Type2_Codec.Shutdown, &Type2_Shutdown);
    EXPECT_EQ(Type2_Codec.DecompressStream, &Type2_DecompressStream);
    EXPECT_EQ(Type2_Codec.DecompressApart, &Type2_DecompressApart);
}

TEST_F(Type2, IdentifyAndGetSize) {
    uint8_t block[16] = {'F', 'F', 'C', '@', 0xD7, 0xFF, 0xFF, 0xFF};
    int32_t size = 0;
    EXPECT_EQ(Type2_Identify(block), 1);
    EXPECT_EQ(Type2_GetSize(block, &size), 1);
    EXPECT_EQ(size, 40);
    block[3] = '!';
    EXPECT_EQ(Type2_Identify(block), 0);
    EXPECT_EQ(Type2_GetSize(block, &size), 1); // the tag is not looked at
    EXPECT_EQ(Type2_GetSize(nullptr, &size), 0);
}

TEST_F(Type2, DecompressRefusesBadSizes) {
    Bytes block = Compress(FromText(std::string(40, ' ')));
    Bytes output(64, 0xAA);
    EXPECT_EQ(Type2_Decompress(block.data(), (int32_t)block.size(), output.data(), 39), 0);
    EXPECT_EQ(Type2_Decompress(block.data(), (int32_t)block.size(), output.data(), 41), 0);
    struct {
        uint32_t complement;
        int32_t request;
    } rows[] = {{0xFFFFFFFF, 0}, {0x7FFFFFFF, -2147483647 - 1}, {0x00000000, -1}};
    for (auto &row : rows) {
        Bytes bad = block;
        for (int i = 0; i < 4; i++) bad[4 + i] = (uint8_t)(row.complement >> (8 * i));
        EXPECT_EQ(Type2_Decompress(bad.data(), (int32_t)bad.size(), output.data(), row.request), 0);
    }
    Bytes untagged = block;
    untagged[0] = 'X';
    EXPECT_EQ(Type2_Decompress(untagged.data(), (int32_t)untagged.size(), output.data(), 40), 0);
    EXPECT_EQ(Type2_Decompress(block.data(), 7, output.data(), 40), 0);
    EXPECT_EQ(output, Bytes(64, 0xAA)); // nothing written by a refusal
}

Bytes Random(std::mt19937 &random, size_t size, int alphabet) {
    Bytes data(size);
    for (auto &b : data) b = (uint8_t)(random() % (unsigned)alphabet);
    return data;
}

// A block of stream random bytes whose header claims size bytes: a damaged stream.
Bytes DamagedBlock(std::mt19937 &random, size_t stream, int32_t size) {
    Bytes block = Random(random, stream, 256);
    block.insert(block.begin(), {'F', 'F', 'C', '@', 0, 0, 0, 0});
    for (int i = 0; i < 4; i++) block[4 + i] = (uint8_t)(~(uint32_t)size >> (8 * i));
    return block;
}

TEST_F(Type2, RoundTripsOfManySizesAndShapes) {
    std::mt19937 random(7);
    for (size_t size : {11, 12, 59, 60, 61, 100, 1000, 4095, 4096, 4097, 5000, 70000}) {
        for (int alphabet : {2, 4, 26, 256}) {
            Bytes data = Random(random, size, alphabet);
            EXPECT_TRUE(RoundTrip(data)) << size << " bytes of " << alphabet << " values";
        }
    }
}

TEST_F(Type2, RoundTripsThroughTreeRebuilds) {
    // Literals only (no byte repeats within reach): every byte is one symbol, so 100000 bytes
    // pass the first rebuild at the 32,456th symbol and several more.
    std::mt19937 random(11);
    Bytes data = Random(random, 100000, 256);
    EXPECT_TRUE(RoundTrip(data));
    // Structured text with matches and literals mixed.
    std::string text;
    for (int i = 0; text.size() < 300000; i++)
        text += "line " + std::to_string(i * 7919 % 1000) + ": the quick brown fox\r\n";
    EXPECT_TRUE(RoundTrip(FromText(text)));
}

TEST_F(Type2, LongRunsBecomeSeveralMatches) {
    for (size_t size : {61, 120, 121, 1000, 10000}) {
        Bytes run(size, 'x');
        Bytes block = Compress(run);
        ASSERT_FALSE(block.empty());
        EXPECT_LT(block.size(), 8 + size / 60 * 3 + 8) << size;
        EXPECT_TRUE(RoundTrip(run));
    }
}

TEST_F(Type2, MatchesReachTheFarEndOfTheWindow) {
    // A random 60-byte phrase, 4035 random bytes, the phrase again: the second copy lies 4095
    // bytes back, the farthest position the window holds.
    std::mt19937 random(3);
    for (size_t gap : {4034, 4035, 4036, 4100}) {
        Bytes phrase = Random(random, 60, 256), filler = Random(random, gap, 256);
        Bytes data = phrase;
        data.insert(data.end(), filler.begin(), filler.end());
        data.insert(data.end(), phrase.begin(), phrase.end());
        EXPECT_TRUE(RoundTrip(data)) << gap;
    }
}

TEST_F(Type2, LeadingSpacesMatchTheInitialWindow) {
    Bytes data = FromText(std::string(200, ' ') + "end");
    Bytes block = Compress(data);
    ASSERT_FALSE(block.empty());
    EXPECT_LE(block.size(), 20u);
    EXPECT_TRUE(RoundTrip(data));
}

TEST_F(Type2, DeterministicAndIndependentOfCallOrder) {
    std::mt19937 random(5);
    Bytes a = Random(random, 5000, 8), b = Random(random, 3000, 3);
    Bytes first = Compress(a);
    Compress(b);
    EXPECT_EQ(Compress(a), first);
}

TEST_F(Type2, DamagedStreamsStayInsideTheirBuffers) {
    std::mt19937 random(9);
    int decoded = 0;
    for (int round = 0; round < 300; round++) {
        int32_t size = 1 + (int32_t)(random() % 5000);
        Bytes block = DamagedBlock(random, random() % 64, size);
        // The block and the output sit exactly at the ends of their heap areas, so the
        // sanitizer catches a single byte beyond either. Decoded or run out, both decoders
        // say the same.
        std::vector<uint8_t> exactBlock(block), output((size_t)size), apart((size_t)size);
        int whole =
            Type2_Decompress(exactBlock.data(), (int32_t)exactBlock.size(), output.data(), size);
        EXPECT_EQ(Type2_DecompressApart(exactBlock.data(), (int32_t)exactBlock.size(), apart.data(),
                                        size),
                  whole)
            << round;
        decoded += whole;
    }
    EXPECT_GT(decoded, 0);   // short outputs that the stream holds
    EXPECT_LT(decoded, 300); // and longer ones that run it out
}

// ---- The decoder in pieces ----

// A block read through the source in pieces and its output taken by the sink, with every
// request and piece recorded; the sink refuses its refuseAt-th piece and the source fails its
// failAt-th read (0: never).
struct Pieces {
    const Bytes *block = nullptr;
    size_t read = 0;
    std::vector<int32_t> reads; // each request's n
    int failAt = 0;
    Bytes output;
    std::vector<int32_t> pieces; // each piece's n
    int refuseAt = 0;

    static int Read(void *context, uint8_t *buffer, int32_t n) {
        Pieces *p = (Pieces *)context;
        p->reads.push_back(n);
        if ((int)p->reads.size() == p->failAt) return 0;
        if (n < 1 || p->read + (size_t)n > p->block->size()) {
            ADD_FAILURE() << "a read of " << n << " at " << p->read << " of " << p->block->size();
            return 0;
        }
        memcpy(buffer, p->block->data() + p->read, (size_t)n);
        p->read += (size_t)n;
        return 1;
    }
    static int Take(void *context, const uint8_t *data, int32_t n) {
        Pieces *p = (Pieces *)context;
        p->pieces.push_back(n);
        if ((int)p->pieces.size() == p->refuseAt) return 0;
        p->output.insert(p->output.end(), data, data + n);
        return 1;
    }
    int Decode(const Bytes &stored, int32_t size) {
        block = &stored;
        return Type2_DecompressStream(Read, this, (int32_t)stored.size(), Take, this, size);
    }
};

// A block of any data, shrinking or not (the builder's form for data it must encode).
Bytes Block(const Bytes &data) {
    Bytes block(data.size() * 3 + 64);
    int32_t length = (int32_t)block.size();
    EXPECT_EQ(Type2_CompressAlways(data.data(), (int32_t)data.size(), block.data(), &length), 1);
    block.resize((size_t)length);
    return block;
}

// The whole decoder's output, or "refused" as an empty vector.
Bytes WholeDecode(const Bytes &block, int32_t size) {
    Bytes output((size_t)size);
    if (!Type2_Decompress(block.data(), (int32_t)block.size(), output.data(), size)) return {};
    return output;
}

// The pieces' bounds: the block read once, front to back, and every piece at most
// TYPE2_PIECE_SIZE, the output's pieces full but for the last.
void ExpectWholePieces(const Pieces &p, const Bytes &block, size_t size, const std::string &label) {
    EXPECT_EQ(p.read, block.size()) << label;
    for (int32_t n : p.reads) EXPECT_LE(n, TYPE2_PIECE_SIZE) << label;
    for (size_t i = 0; i < p.pieces.size(); i++) {
        if (i + 1 < p.pieces.size())
            EXPECT_EQ(p.pieces[i], TYPE2_PIECE_SIZE) << label << " piece " << i;
        else
            EXPECT_EQ((size_t)p.pieces[i], size - i * TYPE2_PIECE_SIZE) << label;
    }
}

TEST_F(Type2, InPiecesThePublishedBlocksGiveTheirBytes) {
    std::string abc;
    for (int i = 0; i < 8; i++) abc += "abc";
    for (const std::string &text : {std::string(40, ' '), abc}) {
        Bytes block = Compress(FromText(text));
        Pieces p;
        ASSERT_EQ(p.Decode(block, (int32_t)text.size()), 1) << text;
        EXPECT_EQ(p.output, FromText(text));
        ExpectWholePieces(p, block, text.size(), text);
    }
}

TEST_F(Type2, InPiecesEveryBlockGivesTheWholeDecodersBytes) {
    std::mt19937 random(21);
    const int32_t piece = TYPE2_PIECE_SIZE;
    for (size_t size : {(size_t)1, (size_t)2, (size_t)11, (size_t)4095, (size_t)4096, (size_t)4097,
                        (size_t)piece - 1, (size_t)piece, (size_t)piece + 1, (size_t)2 * piece,
                        (size_t)2 * piece + 4097, (size_t)300000}) {
        // Random bytes (a block longer than the data: input in several pieces too), few values
        // (matches and literals), one value (long matches that cross the output's pieces).
        for (int alphabet : {256, 5, 1}) {
            Bytes data = Random(random, size, alphabet);
            Bytes block = Block(data);
            std::string label = std::to_string(size) + " bytes of " + std::to_string(alphabet);
            ASSERT_EQ(WholeDecode(block, (int32_t)size), data) << label;
            Pieces p;
            ASSERT_EQ(p.Decode(block, (int32_t)size), 1) << label;
            EXPECT_EQ(p.output, data) << label;
            ExpectWholePieces(p, block, size, label);
        }
    }
}

// Whatever the code stream holds, both forms say the same; where it holds the codes of size
// bytes they give the same bytes, exactly size of them. Neither reads past the block (the
// source fails the test if asked to).
TEST_F(Type2, InPiecesADamagedStreamGivesTheSameBytesAndNoMore) {
    std::mt19937 random(22);
    int decoded = 0;
    for (int round = 0; round < 200; round++) {
        size_t stored = random() % 3000;
        int32_t size = 1 + (int32_t)(random() % (20 * stored + 2)); // sizes it holds, and more
        Bytes block = DamagedBlock(random, stored, size);
        Pieces p;
        int result = p.Decode(block, size);
        Bytes whole = WholeDecode(block, size);
        EXPECT_EQ(result, whole.empty() ? 0 : 1) << round;
        if (result) {
            EXPECT_EQ(p.output, whole) << round;
        }
        EXPECT_LE(p.output.size(), (size_t)size) << round;
        decoded += result;
    }
    EXPECT_GT(decoded, 20);
    EXPECT_LT(decoded, 180);
}

// Code streams whose stored length sits at the input's piece bounds, with room for far more
// output than they hold: read to their last byte in pieces, never a byte further, and refused.
TEST_F(Type2, InPiecesTheBlockIsReadToItsLastByteAndNoFurther) {
    std::mt19937 random(24);
    const size_t piece = TYPE2_PIECE_SIZE;
    for (size_t stored : {(size_t)1, piece - 1, piece, piece + 1, 2 * piece + 1}) {
        int32_t size = (int32_t)(20 * stored + 100);
        Bytes block = DamagedBlock(random, stored, size);
        Pieces p;
        EXPECT_EQ(p.Decode(block, size), 0) << stored;
        EXPECT_EQ(p.read, block.size()) << stored;
        EXPECT_LT(p.output.size(), (size_t)size) << stored;
    }
}

TEST_F(Type2, InPiecesARefusedHeaderHandsOnNothing) {
    Bytes block = Compress(FromText(std::string(40, ' ')));
    struct {
        const char *label;
        Bytes block;
        int32_t request;
    } rows[] = {
        {"one byte less", block, 39},
        {"one byte more", block, 41},
        {"no tag",
         [&] {
             Bytes b = block;
             b[0] = 'X';
             return b;
         }(),
         40},
        {"size 0",
         [&] {
             Bytes b = block;
             b[4] = b[5] = b[6] = b[7] = 0xFF;
             return b;
         }(),
         0},
        {"size negative",
         [&] {
             Bytes b = block;
             b[7] = 0x00;
             return b;
         }(),
         (int32_t)~0x00FFFFD7u},
    };
    for (auto &row : rows) {
        Pieces p;
        EXPECT_EQ(p.Decode(row.block, row.request), 0) << row.label;
        EXPECT_TRUE(p.pieces.empty()) << row.label;
        EXPECT_EQ(p.read, (size_t)TYPE2_HEADER_SIZE) << row.label; // the header alone
    }
    // A block shorter than its header is not read at all.
    Bytes seven(block.begin(), block.begin() + 7);
    Pieces p;
    EXPECT_EQ(p.Decode(seven, 40), 0);
    EXPECT_TRUE(p.reads.empty());
}

TEST_F(Type2, InPiecesAFailedReadOrARefusingSinkStopsTheDecoder) {
    std::mt19937 random(23);
    Bytes data = Random(random, 5 * TYPE2_PIECE_SIZE + 100, 256);
    Bytes block = Block(data); // about six pieces of input
    for (int failAt : {1, 2, 4}) {
        Pieces p;
        p.failAt = failAt;
        EXPECT_EQ(p.Decode(block, (int32_t)data.size()), 0) << failAt;
        EXPECT_EQ((int)p.reads.size(), failAt) << failAt; // not asked again
        ASSERT_LE(p.output.size(), data.size());
        EXPECT_TRUE(std::equal(p.output.begin(), p.output.end(), data.begin())) << failAt;
    }
    for (int refuseAt : {1, 3, 6}) {
        Pieces p;
        p.refuseAt = refuseAt;
        EXPECT_EQ(p.Decode(block, (int32_t)data.size()), 0) << refuseAt;
        EXPECT_EQ((int)p.pieces.size(), refuseAt) << refuseAt; // nothing handed on after it
        EXPECT_EQ(p.output, Bytes(data.begin(), data.begin() + (refuseAt - 1) * TYPE2_PIECE_SIZE));
    }
    Pieces first;
    first.refuseAt = 1;
    first.Decode(block, (int32_t)data.size());
    EXPECT_LT(first.read, block.size() / 2); // and no more read than that piece took
    // The codec is ready for the next block.
    Pieces again;
    EXPECT_EQ(again.Decode(block, (int32_t)data.size()), 1);
    EXPECT_EQ(again.output, data);
}

// ---- Blocks that run out ----

// The encoder's blocks of a few kinds of data, shorter by 1 to all of their code bytes: each
// is refused by every decoder, which neither reads past the block nor writes past the output.
// A block cut behind code bits that are zeros decodes as the whole block does when the end
// reads as zeros: only the count of bytes tells it from the whole one.
TEST_F(Type2, EveryTruncationOfARealBlockIsRefused) {
    std::mt19937 random(12);
    std::string text;
    while (text.size() < 3000) text += "the licence shall not be copied. ";
    struct {
        const char *label;
        Bytes data;
    } rows[] = {
        {"40 spaces (code bytes B2 00 00)", FromText(std::string(40, ' '))},
        {"text", FromText(text)},
        {"random", Random(random, 2000, 256)},
        {"five values", Random(random, 5000, 5)},
        {"one value", Bytes(20000, 'x')},
    };
    for (auto &row : rows) {
        Bytes block = Block(row.data);
        int32_t size = (int32_t)row.data.size();
        ASSERT_EQ(WholeDecode(block, size), row.data) << row.label;
        for (size_t cut = TYPE2_HEADER_SIZE; cut < block.size(); cut++) {
            Bytes shorter(block.begin(), block.begin() + (long)cut), output((size_t)size);
            std::string label = std::string(row.label) + " cut to " + std::to_string(cut);
            EXPECT_EQ(Type2_Decompress(shorter.data(), (int32_t)cut, output.data(), size), 0)
                << label;
            EXPECT_EQ(Type2_DecompressApart(shorter.data(), (int32_t)cut, output.data(), size), 0)
                << label;
            Pieces p;
            EXPECT_EQ(p.Decode(shorter, size), 0) << label;
            EXPECT_EQ(p.read, shorter.size()) << label;
        }
    }
}

// A real block whose header is made to claim far more than its code stream holds (a
// re-stamped setup): refused as soon as the stream has run out, not decoded on as zeros. (A
// claim of a few bytes more may well be decoded: the zero bits that pad the last byte can
// hold another code.)
TEST_F(Type2, ABlockClaimingAHugeSizeIsRefusedWhereItsStreamEnds) {
    std::mt19937 random(13);
    Bytes data = Random(random, 150000, 4); // a block of about 40 KB, input in one piece
    Bytes block = Block(data);
    for (int32_t claim : {1000000, 2000000000, INT32_MAX}) {
        Bytes restamped = block;
        for (int i = 0; i < 4; i++) restamped[4 + i] = (uint8_t)(~(uint32_t)claim >> (8 * i));
        Pieces p;
        EXPECT_EQ(p.Decode(restamped, claim), 0) << claim;
        // The data's whole pieces, and not one piece of what zeros past the end would give.
        size_t pieces = data.size() / TYPE2_PIECE_SIZE * TYPE2_PIECE_SIZE;
        EXPECT_EQ(p.output, Bytes(data.begin(), data.begin() + (long)pieces)) << claim;
    }
    Bytes restamped = block, output(4 * data.size());
    int32_t claim = (int32_t)output.size();
    for (int i = 0; i < 4; i++) restamped[4 + i] = (uint8_t)(~(uint32_t)claim >> (8 * i));
    EXPECT_EQ(Type2_Decompress(restamped.data(), (int32_t)restamped.size(), output.data(), claim),
              0);
    EXPECT_EQ(Bytes(output.begin(), output.begin() + (long)data.size()), data);
    EXPECT_EQ(
        Type2_DecompressApart(restamped.data(), (int32_t)restamped.size(), output.data(), claim),
        0);
}

// ---- The encoder in pieces ----

// The block of data encoded in pieces (p's block is then the data) with stopAfter, or an empty
// vector when the encoder declined; *result gets its answer.
Bytes StreamEncode(Pieces *p, const Bytes &data, int32_t stopAfter, int *result = nullptr) {
    p->block = &data;
    int32_t length = -1;
    int answer = Type2_CompressStream(Pieces::Read, p, (int32_t)data.size(), Pieces::Take, p,
                                      stopAfter, &length);
    if (result) *result = answer;
    if (!answer) return {};
    EXPECT_EQ((size_t)length, p->output.size());
    return p->output;
}

// The encoder in pieces writes the whole encoders' bytes, for data of every size around the
// window and the pieces, reading each byte once and handing on full pieces but the last.
TEST_F(Type2, InPiecesTheEncoderWritesTheWholeEncodersBytes) {
    std::mt19937 random(31);
    const size_t piece = TYPE2_PIECE_SIZE;
    for (size_t size : {(size_t)1, (size_t)11, (size_t)4095, (size_t)4097, piece - 1, piece,
                        piece + 1, 2 * piece + 3, 5 * piece + 100}) {
        for (int alphabet : {3, 256}) {
            const Bytes data = Random(random, size, alphabet);
            const std::string label = std::to_string(size) + "/" + std::to_string(alphabet);
            Pieces always;
            EXPECT_EQ(StreamEncode(&always, data, INT32_MAX), Block(data)) << label;
            ExpectWholePieces(always, data, always.output.size(), label);
            Pieces shrinking;
            int result = 0;
            Bytes block = StreamEncode(&shrinking, data, (int32_t)size - 1, &result);
            EXPECT_EQ(block, size > 10 ? Compress(data) : Bytes()) << label;
        }
    }
}

// stopAfter is the longest block accepted: the block's own length passes, one byte less stops
// the encoder, and so does data of no byte.
TEST_F(Type2, InPiecesTheEncoderStopsPastStopAfter) {
    std::mt19937 random(32);
    const Bytes data = Random(random, 3 * TYPE2_PIECE_SIZE, 256); // does not shrink
    const int32_t length = (int32_t)Block(data).size();
    Pieces fits, over, none;
    int result = 0;
    EXPECT_EQ(StreamEncode(&fits, data, length, &result), Block(data));
    EXPECT_EQ(result, 1);
    StreamEncode(&over, data, length - 1, &result);
    EXPECT_EQ(result, 0);
    const Bytes empty;
    StreamEncode(&none, empty, INT32_MAX, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(none.reads.empty() && none.pieces.empty());
}

TEST_F(Type2, InPiecesAFailedReadOrARefusingSinkStopsTheEncoder) {
    std::mt19937 random(33);
    const Bytes data = Random(random, 5 * TYPE2_PIECE_SIZE + 100, 256);
    for (int failAt : {1, 2, 6}) {
        Pieces p;
        p.failAt = failAt;
        int result = 1;
        StreamEncode(&p, data, INT32_MAX, &result);
        EXPECT_EQ(result, 0) << failAt;
        EXPECT_EQ((int)p.reads.size(), failAt) << failAt; // not asked again
    }
    for (int refuseAt : {1, 3}) {
        Pieces p;
        p.refuseAt = refuseAt;
        int result = 1;
        StreamEncode(&p, data, INT32_MAX, &result);
        EXPECT_EQ(result, 0) << refuseAt;
        EXPECT_EQ((int)p.pieces.size(), refuseAt) << refuseAt; // nothing handed on after it
    }
    // The codec is ready for the next block.
    Pieces again;
    EXPECT_EQ(StreamEncode(&again, data, INT32_MAX), Block(data));
}

} // namespace
