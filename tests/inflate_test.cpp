#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"
#include "support/deflate_builder.h"
#include "support/reference_inflate.h"

using namespace testing_support;

namespace {

constexpr size_t kCap = 0x10000000;  // 256 MiB
const std::string kTruncated = "The document is truncated";
const std::string kCorrupted = "The document is corrupted";
const std::string kTooLarge = "This document expands to an unreasonable size";

// Output, or the error's message.
std::string Decode(std::string_view stream) {
    std::string out;
    try {
        Inflate(AsBytes(stream), out, 0);
    } catch (const ConvertError& error) {
        return "error: " + error.message;
    }
    return out;
}

// Ours must give what reading every code one bit at a time gives: output or error.
::testing::AssertionResult SameAsBitAtATime(std::string_view stream) {
    std::string ours = Decode(stream);
    reference::InflateResult expected = reference::Inflate(AsBytes(stream));
    std::string theirs = expected.error.empty() ? expected.output : "error: " + expected.error;
    if (ours == theirs) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ours: " << ours.substr(0, 60) << "\nbit at a time: " << theirs.substr(0, 60);
}

// A fixed block of `size` zero bytes: one literal, then back-references to it.
void WriteZeros(BitWriter& w, size_t size) {
    w.FixedSymbol(0);
    for (size_t left = size - 1; left > 0;) {
        size_t length = left > 261 ? 258 : left > 258 ? left - 3 : left;
        w.FixedMatch(static_cast<unsigned>(length), 1);
        left -= length;
    }
}

}  // namespace

TEST(Inflate, DecodesZlibStreamsAtEveryLevelAndStrategy) {
    std::string runs;  // short periods (overlapping copies) and one long run
    for (int i = 0; i < 3000; ++i) runs += std::string(static_cast<size_t>(i % 9 + 1), static_cast<char>('a' + i % 7));
    runs += std::string(70000, '\0');
    const std::string inputs[] = {"", "x", MakeText(150000, 1), MakeRandom(70000, 2), runs,
                                  MakeText(40000, 3) + MakeRandom(40000, 4) + MakeText(40000, 3)};
    for (const auto& data : inputs)
        for (int level = 0; level <= 9; ++level)
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
                ASSERT_TRUE(Decode(ZlibDeflate(data, level, strategy)) == data)
                    << data.size() << " bytes, level " << level << ", strategy " << strategy;
}

TEST(Inflate, EveryCutOfAValidStreamIsTruncated) {
    std::string text = MakeText(3000, 5);
    for (const auto& stream : {ZlibDeflate(text, 0), ZlibDeflate(text, 6, Z_FIXED), ZlibDeflate(text, 6),
                               ZlibDeflate(MakeRandom(500, 6), 9), ZlibDeflate(std::string(5000, 'q'), 9, Z_RLE)}) {
        ASSERT_NE(Decode(stream).rfind("error: ", 0), 0u);  // whole, it decodes
        for (size_t cut = 0; cut < stream.size(); ++cut)
            ASSERT_EQ(Decode(stream.substr(0, cut)), "error: " + kTruncated) << "cut at " << cut;
    }
}

TEST(Inflate, StoredBlocks) {
    //                     final stored | LEN 5   | NLEN ~5  | bytes
    const std::string good("\x01"         "\x05\x00" "\xFA\xFF" "hello", 10);
    EXPECT_EQ(Decode(good), "hello");
    EXPECT_EQ(Decode(good + "trailing bytes are ignored"), "hello");
    EXPECT_EQ(Decode(good.substr(0, 9)), "error: " + kTruncated);  // a byte of data missing
    EXPECT_EQ(Decode(good.substr(0, 4)), "error: " + kTruncated);  // NLEN cut
    EXPECT_EQ(Decode(std::string("\x01\x05\x00\xFB\xFF" "hello", 10)), "error: " + kCorrupted);  // NLEN is not ~LEN
    EXPECT_EQ(Decode(std::string("\x01\x00\x00\xFF\xFF", 5)), "");                             // empty block

    // After a coded block that ends mid-byte (the decoder has read ahead), the stored
    // block starts at the next whole byte.
    std::string payload = MakeRandom(100, 7);
    BitWriter w;
    w.Header(false, 1);
    w.FixedSymbol('a');
    w.FixedSymbol(256);
    w.Header(true, 0);
    w.AlignToByte();
    w.Bits(100, 16);
    w.Bits(~100u, 16);
    for (unsigned char c : payload) w.Bits(c, 8);
    EXPECT_TRUE(Decode(w.Take()) == "a" + payload);
}

TEST(Inflate, InvalidBlocksSymbolsAndDistancesAreCorrupted) {
    EXPECT_EQ(Decode("\x07"), "error: " + kCorrupted);  // final block of type 3
    auto fixed = [](auto write) {
        BitWriter w;
        w.Header(true, 1);
        write(w);
        w.Bits(0, 24);
        return Decode(w.Take());
    };
    EXPECT_EQ(fixed([](BitWriter& w) { w.FixedSymbol(286); }), "error: " + kCorrupted);
    EXPECT_EQ(fixed([](BitWriter& w) { w.FixedSymbol(287); }), "error: " + kCorrupted);
    EXPECT_EQ(fixed([](BitWriter& w) { w.FixedMatch(3, 1); }), "error: " + kCorrupted);  // nothing to copy yet
    EXPECT_EQ(fixed([](BitWriter& w) {
                  w.FixedSymbol('a');
                  w.FixedSymbol('b');
                  w.FixedMatch(3, 3);  // one further back than the output
              }),
              "error: " + kCorrupted);
    // A dynamic distance code that gives symbol 30 a code: 'a' 0, length 3 is 1; distance
    // 0 is 0 and 30 is 1.
    std::vector<unsigned> litLen(258, 0), dist(31, 0);
    litLen['a'] = litLen[257] = dist[0] = dist[30] = 1;
    BitWriter w;
    w.DynamicHeader(true, litLen, dist);
    w.Code(0b011, 3);
    w.Bits(0, 16);
    EXPECT_EQ(Decode(w.Take()), "error: " + kCorrupted);
}

TEST(Inflate, APatternWithoutACodeIsCorruptOnlyOnceFifteenBitsWereRead) {
    // The fixed distance code has 30 five-bit codes: 11110 is none, so the reading goes on
    // for 15 bits before giving up; with fewer bits left the stream is truncated. The
    // code starts at bit 18 (header 3, 'a' 8, length symbol 7); padding counts as input.
    for (unsigned after = 0; after <= 16; ++after) {
        BitWriter w;
        w.Header(true, 1);
        w.FixedSymbol('a');
        w.FixedSymbol(257);
        w.Code(0b11110, 5);
        w.Bits(0, after);
        std::string stream = w.Take();
        EXPECT_EQ(Decode(stream), "error: " + (stream.size() * 8 - 18 >= 15 ? kCorrupted : kTruncated)) << after;
    }
}

TEST(Inflate, CodeLengthRepeats) {
    // Code-length code: 16, 17, 18 and 8 get 2-bit codes, in symbol order 8 = 00,
    // 16 = 01, 17 = 10, 18 = 11. Lengths wanted: 257 literal/length plus 1 distance.
    auto stream = [](auto body) {
        BitWriter w;
        w.Header(true, 2);
        w.Bits(0, 5);  // HLIT: 257
        w.Bits(0, 5);  // HDIST: 1
        w.Bits(1, 4);  // HCLEN: 5 lengths, for 16, 17, 18, 0, 8
        for (unsigned length : {2, 2, 2, 0, 2}) w.Bits(length, 3);
        body(w);
        w.Bits(0, 16);
        return Decode(w.Take());
    };
    EXPECT_EQ(stream([](BitWriter& w) { w.Code(0b01, 2); }), "error: " + kCorrupted);  // 16 with nothing before
    EXPECT_EQ(stream([](BitWriter& w) {
                  w.Code(0b11, 2); w.Bits(138 - 11, 7);  // 138 zeros
                  w.Code(0b11, 2); w.Bits(121 - 11, 7);  // 121 more: 259, one too many
              }),
              "error: " + kCorrupted);
    auto to257 = [](BitWriter& w) {
        w.Code(0b00, 2);                       // symbol 0: length 8
        w.Code(0b10, 2); w.Bits(10 - 3, 3);    // 10 zeros
        w.Code(0b11, 2); w.Bits(138 - 11, 7);  // 138 zeros
        w.Code(0b11, 2); w.Bits(108 - 11, 7);  // 108 zeros: 257 lengths
    };
    // Repeating the last length three times would make 260.
    EXPECT_EQ(stream([&](BitWriter& w) { to257(w); w.Code(0b01, 2); w.Bits(0, 2); }), "error: " + kCorrupted);
    // Ending exactly on 258 is fine. Only symbol 0 then has a code (00000000), so the
    // block cannot end and the stream runs out.
    EXPECT_EQ(stream([&](BitWriter& w) { to257(w); w.Code(0b00, 2); }), "error: " + kTruncated);
}

TEST(Inflate, OverSubscribedCodesDecodeAsBitAtATimeReadingDoes) {
    // Three 1-bit codes: 'a' is 0, 'b' is 1 and end-of-block is unreachable.
    std::vector<unsigned> litLen(257, 0);
    litLen['a'] = litLen['b'] = litLen[256] = 1;
    BitWriter w;
    w.DynamicHeader(true, litLen, {1});
    w.Bits(0b10110, 5);
    std::string stream = w.Take();
    EXPECT_EQ(Decode(stream), "error: " + kTruncated);
    EXPECT_TRUE(SameAsBitAtATime(stream));
    // Codes longer than the first lookup: over-subscribed at 11 bits (so the 12-bit
    // codes are unreachable), or incomplete with 13-bit codes.
    std::vector<unsigned> over(288), incomplete(288);
    for (unsigned s = 0; s < 288; ++s) {
        over[s] = s < 254 ? 8 : s < 274 ? 11 : 12;
        incomplete[s] = s < 250 ? 8 : s < 270 ? 11 : 13;
    }
    std::mt19937 random(1);
    for (const auto* lengths : {&over, &incomplete})
        for (int round = 0; round < 100; ++round) {
            BitWriter d;
            d.DynamicHeader(true, *lengths, {5, 5, 0, 3, 15, 15, 15});
            for (int i = 0; i < 40; ++i) d.Bits(static_cast<uint32_t>(random()), 16);
            ASSERT_TRUE(SameAsBitAtATime(d.Take())) << round;
        }
}

TEST(Inflate, AgreesWithBitAtATimeReadingOnDamagedAndRandomStreams) {
    std::mt19937 random(2024);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    // Real streams with flipped bits, overwritten bytes and cut ends.
    for (const auto& stream : {ZlibDeflate(MakeText(2000, 8), 6), ZlibDeflate(MakeRandom(600, 9), 6),
                               ZlibDeflate(MakeText(1500, 10), 6, Z_FIXED), ZlibDeflate(MakeText(800, 11), 0),
                               ZlibDeflate(std::string(3000, 'z') + MakeText(300, 12), 9, Z_RLE)}) {
        for (int round = 0; round < 400; ++round) {
            std::string damaged = stream;
            for (size_t edits = 1 + pick(4); edits > 0; --edits) {
                size_t at = pick(damaged.size());
                if (pick(3) == 0) damaged[at] = static_cast<char>(damaged[at] ^ (1 << pick(8)));
                else if (pick(2) == 0) damaged[at] = static_cast<char>(random());
                else damaged.resize(std::max<size_t>(1, at));
            }
            ASSERT_TRUE(SameAsBitAtATime(damaged)) << round;
        }
    }
    // Dynamic blocks with random code lengths (mostly incomplete or over-subscribed)
    // followed by random bits; then plain random bytes.
    for (int round = 0; round < 1500; ++round) {
        unsigned longest = 1 + static_cast<unsigned>(pick(15));
        std::vector<unsigned> litLen(257 + pick(32)), dist(1 + pick(32));
        for (auto& length : litLen) length = pick(3) == 0 ? 0 : 1 + static_cast<unsigned>(pick(longest));
        for (auto& length : dist) length = pick(2) == 0 ? 0 : 1 + static_cast<unsigned>(pick(15));
        BitWriter w;
        w.DynamicHeader(pick(2) == 0, litLen, dist);
        for (size_t i = pick(400); i > 0; --i) w.Bits(static_cast<uint32_t>(random()), 8);
        ASSERT_TRUE(SameAsBitAtATime(w.Take())) << round;
    }
    for (int round = 0; round < 3000; ++round)
        ASSERT_TRUE(SameAsBitAtATime(MakeRandom(pick(300), static_cast<uint32_t>(random())))) << round;
}

TEST(Inflate, OutputMayReachTheCapButNotPassIt) {
    for (size_t size : {kCap, kCap + 1}) {
        BitWriter w;
        w.Header(true, 1);
        WriteZeros(w, size);
        w.FixedSymbol(256);
        std::string out = Decode(w.Take());
        if (size == kCap) {
            EXPECT_EQ(out.size(), kCap);
            EXPECT_EQ(out.find_first_not_of('\0'), std::string::npos);
        } else {
            EXPECT_EQ(out, "error: " + kTooLarge);
        }
    }
}

TEST(Inflate, TheCapIsTestedBeforeAnythingElseFails) {
    // Past the cap, then the stream is cut: the size is what gets reported.
    BitWriter w;
    w.Header(true, 1);
    WriteZeros(w, kCap + 258);
    EXPECT_EQ(Decode(w.Take()), "error: " + kTooLarge);
    // Just below the cap, then a stored block carries the output past it.
    BitWriter s;
    s.Header(false, 1);
    WriteZeros(s, kCap - 10);
    s.FixedSymbol(256);
    s.Header(true, 0);
    s.AlignToByte();
    s.Bits(20, 16);
    s.Bits(~20u, 16);
    s.Bits(0, 20 * 8);
    EXPECT_EQ(Decode(s.Take()), "error: " + kTooLarge);
}
