#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"
#include "support/deflate_builder.h"
#include "support/reference_inflate.h"

using testing_support::AsBytes;
using testing_support::BitWriter;

namespace {

constexpr size_t kCap = 0x10000000;  // 256 MiB
const std::string kTruncated = "The document is truncated";
const std::string kCorrupted = "The document is corrupted";
const std::string kTooLarge = "This document expands to an unreasonable size";

struct Outcome {
    std::string output;
    std::string error;
};

Outcome Ours(std::string_view stream, size_t hint = 0) {
    Outcome outcome;
    try {
        Inflate(AsBytes(stream), outcome.output, hint);
    } catch (const ConvertError& error) {
        outcome.error = error.message;
        outcome.output.clear();
    }
    return outcome;
}

std::string ErrorOf(std::string_view stream) { return Ours(stream).error; }

// Our decoder must agree with the bit-at-a-time one on output and on the error.
::testing::AssertionResult SameAsReference(std::string_view stream) {
    Outcome ours = Ours(stream);
    reference::InflateResult expected = reference::Inflate(AsBytes(stream));
    if (ours.error != expected.error)
        return ::testing::AssertionFailure() << "error \"" << ours.error << "\", bit-at-a-time reading gives \""
                                             << expected.error << "\"";
    if (ours.output != expected.output)
        return ::testing::AssertionFailure() << "outputs differ (" << ours.output.size() << " vs "
                                             << expected.output.size() << " bytes)";
    return ::testing::AssertionSuccess();
}

std::string FixedBlockOf(std::string_view literals) {
    BitWriter w;
    w.Header(true, 1);
    for (unsigned char c : literals) w.FixedSymbol(c);
    w.FixedSymbol(256);
    return w.Take();
}

// A fixed block of `size` zero bytes: one literal, then back-references to it.
void WriteZeros(BitWriter& w, size_t size) {
    w.FixedSymbol(0);
    size_t left = size - 1;
    while (left > 0) {
        unsigned length = left > 261 ? 258 : left > 258 ? static_cast<unsigned>(left - 3) : static_cast<unsigned>(left);
        w.FixedMatch(length, 1);
        left -= length;
    }
}

}  // namespace

TEST(Inflate, DecodesZlibStreamsAtEveryLevelAndStrategy) {
    using namespace testing_support;
    std::string repetitive;
    for (int i = 0; i < 3000; ++i) repetitive += std::string(static_cast<size_t>(i % 9 + 1), static_cast<char>('a' + i % 7));
    repetitive += std::string(70000, '\0');  // one long run
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"empty", ""},
        {"one byte", "x"},
        {"text", MakeText(150000, 1)},
        {"xml", MakeXml(150000, 2)},
        {"random", MakeRandom(70000, 3)},
        {"repetitive", repetitive},
        {"text and random", MakeText(40000, 4) + MakeRandom(40000, 5) + MakeText(40000, 4)},
    };
    const std::vector<std::pair<int, const char*>> strategies = {
        {Z_DEFAULT_STRATEGY, "default"}, {Z_FILTERED, "filtered"}, {Z_HUFFMAN_ONLY, "huffman only"},
        {Z_RLE, "rle"},                  {Z_FIXED, "fixed"}};
    for (const auto& [name, data] : inputs) {
        for (int level = 0; level <= 9; ++level) {
            for (const auto& [strategy, strategyName] : strategies) {
                std::string stream = ZlibDeflate(data, level, strategy);
                Outcome result = Ours(stream);
                EXPECT_EQ(result.error, "") << name << " level " << level << " " << strategyName;
                EXPECT_TRUE(result.output == data) << name << " level " << level << " " << strategyName;
            }
        }
    }
}

TEST(Inflate, DecodesSmallWindowsAndMemoryLevels) {
    std::string data = testing_support::MakeXml(100000, 7);
    for (int windowBits = 9; windowBits <= 15; ++windowBits)
        for (int memLevel : {1, 9}) {
            std::string stream = testing_support::ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY, windowBits, memLevel);
            EXPECT_TRUE(Ours(stream).output == data) << "window " << windowBits << " memLevel " << memLevel;
        }
}

TEST(Inflate, DecodesFlushedStreamsWithEmptyStoredBlocks) {
    std::string data = testing_support::MakeText(60000, 9);
    for (int flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK}) {
        z_stream stream{};
        ASSERT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::string out(200000, '\0');
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        size_t at = 0;
        int step = 0;
        while (at < data.size()) {
            size_t chunk = std::min<size_t>(data.size() - at, static_cast<size_t>(1 + (step * 37) % 3000));
            // Switching levels part-way changes block types too.
            if (step % 5 == 4) deflateParams(&stream, step % 10, step % 3 == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY);
            stream.next_in = reinterpret_cast<Bytef*>(data.data() + at);
            stream.avail_in = static_cast<uInt>(chunk);
            ASSERT_EQ(deflate(&stream, flush), Z_OK);
            at += chunk;
            ++step;
        }
        ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
        out.resize(stream.total_out);
        deflateEnd(&stream);
        EXPECT_TRUE(Ours(out).output == data) << "flush mode " << flush;
    }
}

TEST(Inflate, EveryCutOfAValidStreamIsTruncated) {
    using namespace testing_support;
    std::string text = MakeText(3000, 11);
    const std::vector<std::string> streams = {
        ZlibDeflate(text, 0),                            // stored
        ZlibDeflate(text, 6, Z_FIXED),                   // fixed code
        ZlibDeflate(text, 6),                            // dynamic code
        ZlibDeflate(MakeRandom(500, 12), 9),             // dynamic, long codes
        ZlibDeflate(std::string(5000, 'q'), 9, Z_RLE),  // overlapping matches
    };
    for (const auto& stream : streams) {
        ASSERT_EQ(ErrorOf(stream), "");
        for (size_t cut = 0; cut < stream.size(); ++cut)
            ASSERT_EQ(ErrorOf(stream.substr(0, cut)), kTruncated) << "cut at " << cut << " of " << stream.size();
    }
}

TEST(Inflate, TrailingBytesAfterTheFinalBlockAreIgnored) {
    std::string stream = FixedBlockOf("abc") + "garbage";
    EXPECT_EQ(Ours(stream).output, "abc");
}

TEST(Inflate, BlockTypeThreeIsCorrupted) {
    EXPECT_EQ(ErrorOf("\x07"), kCorrupted);            // final, type 3
    EXPECT_EQ(ErrorOf(std::string("\x06\0\0", 3)), kCorrupted);  // not final, type 3
}

TEST(Inflate, StoredBlocks) {
    // Final stored block: header bits 1,00 then padding; LEN 5, NLEN ~5; the bytes.
    const std::string good("\x01\x05\x00\xFA\xFF" "hello", 10);
    EXPECT_EQ(Ours(good).output, "hello");
    EXPECT_EQ(ErrorOf(good.substr(0, 9)), kTruncated);  // one byte of data missing
    EXPECT_EQ(ErrorOf(good.substr(0, 4)), kTruncated);  // NLEN cut
    EXPECT_EQ(ErrorOf(std::string("\x01\x05\x00\xFB\xFF" "hello", 10)), kCorrupted);  // NLEN not ~LEN
    // An empty stored block is allowed.
    EXPECT_EQ(Ours(std::string("\x01\x00\x00\xFF\xFF", 5)).output, "");
}

TEST(Inflate, StoredBlockAfterACodedBlockStartsAtTheNextByte) {
    // The coded block ends mid-byte and the decoder has already read ahead; the stored
    // block's length fields and bytes must still come from the right place.
    std::string payload = testing_support::MakeRandom(100, 21);
    BitWriter w;
    w.Header(false, 1);
    for (unsigned char c : std::string("abc")) w.FixedSymbol(c);
    w.FixedSymbol(256);
    w.Header(true, 0);
    w.AlignToByte();
    w.Bits(100, 16);
    w.Bits(~100u & 0xFFFF, 16);
    for (unsigned char c : payload) w.Bits(c, 8);
    std::string stream = w.Take();
    EXPECT_TRUE(Ours(stream).output == "abc" + payload);
    EXPECT_TRUE(SameAsReference(stream));
}

TEST(Inflate, BackReferences) {
    BitWriter w;
    w.Header(true, 1);
    for (unsigned char c : std::string("abcdefghij")) w.FixedSymbol(c);
    w.FixedMatch(10, 3);   // overlapping: repeats "hij"
    w.FixedMatch(4, 1);    // run of the last byte
    w.FixedMatch(20, 9);   // overlapping with a distance above 8
    w.FixedMatch(3, 33);   // plain copy from further back
    w.FixedSymbol(256);
    std::string expected = "abcdefghij";
    auto copy = [&](size_t length, size_t distance) {
        for (size_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
    };
    copy(10, 3);
    copy(4, 1);
    copy(20, 9);
    copy(3, 33);
    EXPECT_EQ(Ours(w.Take()).output, expected);
}

TEST(Inflate, DistanceBeyondTheOutputIsCorrupted) {
    BitWriter w;
    w.Header(true, 1);
    w.FixedSymbol('a');
    w.FixedSymbol('b');
    w.FixedMatch(3, 3);  // only two bytes exist
    w.FixedSymbol(256);
    EXPECT_EQ(ErrorOf(w.Take()), kCorrupted);

    BitWriter first;  // a reference at the very start of the output
    first.Header(true, 1);
    first.FixedMatch(3, 1);
    first.FixedSymbol(256);
    EXPECT_EQ(ErrorOf(first.Take()), kCorrupted);
}

TEST(Inflate, SymbolsOutsideTheAlphabetAreCorrupted) {
    for (unsigned symbol : {286u, 287u}) {
        BitWriter w;
        w.Header(true, 1);
        w.FixedSymbol(symbol);
        w.Bits(0, 20);
        EXPECT_EQ(ErrorOf(w.Take()), kCorrupted) << symbol;
    }
    // A dynamic distance code that gives symbol 30 a code.
    std::vector<unsigned> litLen(258, 0);
    litLen['a'] = 1;
    litLen[257] = 1;  // length 3
    std::vector<unsigned> dist(31, 0);
    dist[0] = 1;
    dist[30] = 1;
    BitWriter w;
    w.DynamicHeader(true, litLen, dist);
    w.Code(0, 1);  // 'a'
    w.Code(1, 1);  // length 3
    w.Code(1, 1);  // distance symbol 30
    w.Bits(0, 16);
    std::string stream = w.Take();
    EXPECT_EQ(ErrorOf(stream), kCorrupted);
    EXPECT_TRUE(SameAsReference(stream));
}

TEST(Inflate, AnUnassignedFixedDistanceIsCorruptedOnlyOnceFifteenBitsWereThere) {
    // The fixed distance code has 30 codes of 5 bits: 11110 and 11111 are no code, so the
    // bit-at-a-time reading goes on to 15 bits before it gives up.
    auto stream = [](unsigned bitsAfter) {
        BitWriter w;
        w.Header(true, 1);
        w.FixedSymbol('a');
        w.FixedSymbol(257);  // length 3
        w.Code(0x1E, 5);     // 11110
        w.Bits(0, bitsAfter);
        return w;
    };
    // The code starts after 18 bits (header 3, 'a' 8, length 7); the last byte's padding
    // is input too.
    for (unsigned after = 0; after <= 16; ++after) {
        std::string bytes = stream(after).Take();
        size_t fromCode = bytes.size() * 8 - 18;
        EXPECT_EQ(ErrorOf(bytes), fromCode >= 15 ? kCorrupted : kTruncated) << after;
        EXPECT_TRUE(SameAsReference(bytes));
    }
}

TEST(Inflate, CodeLengthRepeatRules) {
    // Code-length code: symbols 16, 17, 18 and 8 get 2-bit codes (a complete code).
    auto header = [](BitWriter& w) {
        w.Header(true, 2);
        w.Bits(0, 5);        // 257 literal/length lengths
        w.Bits(0, 5);        // 1 distance length
        w.Bits(5 - 4, 4);    // five code-length code lengths: 16, 17, 18, 0, 8
        for (unsigned length : {2u, 2u, 2u, 0u, 2u}) w.Bits(length, 3);
    };
    // Canonical codes by symbol order: 8 -> 00, 16 -> 01, 17 -> 10, 18 -> 11.
    BitWriter first;
    header(first);
    first.Code(1, 2);  // 16 with nothing to repeat
    first.Bits(0, 16);
    EXPECT_EQ(ErrorOf(first.Take()), kCorrupted);

    BitWriter past;
    header(past);
    past.Code(3, 2);  // 18: 138 zeros
    past.Bits(127, 7);
    past.Code(3, 2);  // 18: 121 zeros -> 259, one past 257 + 1
    past.Bits(110, 7);
    past.Bits(0, 16);
    EXPECT_EQ(ErrorOf(past.Take()), kCorrupted);

    BitWriter exact;  // the same repeats landing exactly on the end are fine
    header(exact);
    exact.Code(0, 2);  // length 8 for symbol 0
    exact.Code(2, 2);  // 17: 10 zeros
    exact.Bits(7, 3);
    exact.Code(3, 2);  // 18: 138 zeros
    exact.Bits(127, 7);
    exact.Code(3, 2);  // 18: 108 zeros -> 257 literal/length lengths
    exact.Bits(97, 7);
    exact.Code(0, 2);  // distance 0: length 8
    // Only symbol 0 has a code (00000000); 256 has none, so the block cannot end: reading
    // a literal and then running out is truncation.
    exact.Code(0, 8);
    std::string stream = exact.Take();
    EXPECT_EQ(ErrorOf(stream), kTruncated);
    EXPECT_TRUE(SameAsReference(stream));
}

TEST(Inflate, AnEmptyCodeLengthCodeMatchesNothing) {
    // Every code-length code length is zero: no pattern is a code.
    for (unsigned padding : {0u, 8u, 16u}) {
        BitWriter w;
        w.Header(true, 2);
        w.Bits(0, 5);
        w.Bits(0, 5);
        w.Bits(0, 4);
        w.Bits(0, 12);
        w.Bits(0, padding);
        std::string stream = w.Take();
        EXPECT_TRUE(SameAsReference(stream)) << padding;
    }
}

TEST(Inflate, IncompleteAndOverSubscribedCodesDecodeAsBitAtATimeReading) {
    // Incomplete: 'x' and end-of-block have 2-bit codes 00 and 01; 1x is no code.
    std::vector<unsigned> litLen(257, 0);
    litLen['x'] = 2;
    litLen[256] = 2;
    const std::vector<unsigned> dist = {1};
    {
        BitWriter w;
        w.DynamicHeader(true, litLen, dist);
        w.Code(0, 2);
        w.Code(0, 2);
        w.Code(1, 2);
        EXPECT_EQ(Ours(w.Take()).output, "xx");
    }
    for (unsigned after = 0; after <= 20; ++after) {
        BitWriter w;
        w.DynamicHeader(true, litLen, dist);
        w.Code(0, 2);
        w.Code(1, 1);  // the start of no code
        w.Bits(0, after);
        EXPECT_TRUE(SameAsReference(w.Take())) << after;
    }
    // Over-subscribed: three 1-bit codes. 'a' is 0 and 'b' is 1; end-of-block can never
    // be reached, so the stream runs out.
    std::vector<unsigned> over(257, 0);
    over['a'] = 1;
    over['b'] = 1;
    over[256] = 1;
    BitWriter w;
    w.DynamicHeader(true, over, dist);
    w.Bits(0b10110, 5);
    std::string stream = w.Take();
    EXPECT_EQ(ErrorOf(stream), kTruncated);
    EXPECT_TRUE(SameAsReference(stream));
    // Longer codes than the first lookup takes: over-subscribed at 11 bits (the 12-bit
    // codes are unreachable), and incomplete with 13-bit codes.
    std::vector<unsigned> deepOver(288), deepIncomplete(288);
    for (unsigned s = 0; s < 288; ++s) {
        deepOver[s] = s < 254 ? 8 : s < 274 ? 11 : 12;
        deepIncomplete[s] = s < 250 ? 8 : s < 270 ? 11 : 13;
    }
    for (const auto* lengths : {&deepOver, &deepIncomplete}) {
        for (uint32_t seed = 0; seed < 100; ++seed) {
            BitWriter d;
            d.DynamicHeader(true, *lengths, {5, 5, 0, 3, 15, 15, 15});
            std::mt19937 random(seed);
            for (int i = 0; i < 40; ++i) d.Bits(static_cast<uint32_t>(random() & 0xFFFF), 16);
            EXPECT_TRUE(SameAsReference(d.Take())) << seed;
        }
    }
}

TEST(Inflate, AgreesWithBitAtATimeReadingOnDamagedAndRandomStreams) {
    using namespace testing_support;
    std::mt19937 random(2024);
    const std::vector<std::string> valid = {
        ZlibDeflate(MakeText(2000, 31), 6),         ZlibDeflate(MakeXml(3000, 32), 9),
        ZlibDeflate(MakeRandom(600, 33), 6),        ZlibDeflate(MakeText(1500, 34), 6, Z_FIXED),
        ZlibDeflate(MakeText(800, 35), 0),          ZlibDeflate(std::string(3000, 'z') + MakeText(300, 36), 9, Z_RLE),
        ZlibDeflate(MakeText(4000, 37), 1, Z_HUFFMAN_ONLY),
    };
    int checked = 0;
    // Flipped bits, cut ends and overwritten bytes in real streams.
    for (const auto& stream : valid) {
        for (int round = 0; round < 400; ++round) {
            std::string damaged = stream;
            int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                size_t at = random() % damaged.size();
                switch (random() % 3) {
                    case 0: damaged[at] = static_cast<char>(damaged[at] ^ (1 << (random() % 8))); break;
                    case 1: damaged[at] = static_cast<char>(random()); break;
                    default: damaged.resize(std::max<size_t>(1, at)); break;
                }
            }
            ASSERT_TRUE(SameAsReference(damaged)) << "round " << round;
            ++checked;
        }
    }
    // Dynamic blocks with random code lengths (mostly incomplete or over-subscribed)
    // followed by random bits.
    for (int round = 0; round < 1500; ++round) {
        auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
        unsigned maxLength = 1 + pick(15);
        std::vector<unsigned> litLen(257 + pick(32));
        for (auto& length : litLen) length = pick(3) == 0 ? 0 : 1 + pick(maxLength);
        std::vector<unsigned> dist(1 + pick(32));
        for (auto& length : dist) length = pick(2) == 0 ? 0 : 1 + pick(15);
        BitWriter w;
        w.DynamicHeader(random() % 2 == 0, litLen, dist);
        size_t tail = random() % 400;
        for (size_t i = 0; i < tail; ++i) w.Bits(pick(256), 8);
        ASSERT_TRUE(SameAsReference(w.Take())) << "round " << round;
        ++checked;
    }
    // Plain random bytes, most of them starting with a fixed or dynamic block.
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = MakeRandom(random() % 300, static_cast<uint32_t>(random()));
        ASSERT_TRUE(SameAsReference(bytes)) << "round " << round;
        ++checked;
    }
    EXPECT_EQ(checked, 7 * 400 + 1500 + 3000);
}

TEST(Inflate, OutputUpToTheCapIsAcceptedAndOneByteMoreIsTooLarge) {
    for (size_t size : {kCap, kCap + 1}) {
        BitWriter w;
        w.Header(true, 1);
        WriteZeros(w, size);
        w.FixedSymbol(256);
        std::string stream = w.Take();
        EXPECT_LT(stream.size(), 2000000u);
        Outcome result = Ours(stream);
        if (size == kCap) {
            EXPECT_EQ(result.error, "");
            EXPECT_EQ(result.output.size(), kCap);
            EXPECT_EQ(result.output.find_first_not_of('\0'), std::string::npos);
        } else {
            EXPECT_EQ(result.error, kTooLarge);
        }
    }
}

TEST(Inflate, TheCapIsTestedBeforeTheNextSymbolIsRead) {
    // Past the cap, then a cut stream: the size is what gets reported.
    BitWriter w;
    w.Header(true, 1);
    WriteZeros(w, kCap + 258);
    std::string stream = w.Take();
    EXPECT_EQ(ErrorOf(stream), kTooLarge);
    // Just below the cap, then a stored block that carries the output past it.
    BitWriter s;
    s.Header(false, 1);
    WriteZeros(s, kCap - 10);
    s.FixedSymbol(256);
    s.Header(true, 0);
    s.AlignToByte();
    s.Bits(20, 16);
    s.Bits(~20u & 0xFFFF, 16);
    s.Bits(0, 20 * 8);
    EXPECT_EQ(ErrorOf(s.Take()), kTooLarge);
}

TEST(Inflate, ALyingSizeHintReservesAtMost64MiB) {
    std::string out;
    Inflate(AsBytes(FixedBlockOf("tiny")), out, 0xFFFFFFFFu);
    EXPECT_EQ(out, "tiny");
    EXPECT_LE(out.capacity(), size_t{0x4000000} + 4096);
}
