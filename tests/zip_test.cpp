// ZIP reading and writing, CRC-32 and inflate. Deflate inputs come from zlib (an
// independent encoder) or are written bit by bit where no encoder would produce them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <filesystem>
#include <random>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"
#include "support/reference_inflate.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

constexpr size_t kCap = 0x10000000;  // 256 MiB
const std::string kTruncated = "error: The document is truncated";
const std::string kCorrupted = "error: The document is corrupted";
const std::string kTooLarge = "error: This document expands to an unreasonable size";
const std::string kNotValid = "This isn't a valid document";

std::string ZlibDeflate(std::string_view data, int level, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy), Z_OK);  // raw deflate
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    deflateEnd(&stream);
    return out.substr(0, stream.total_out);
}

// Fields go least significant bit first, Huffman codes most significant bit first.
struct BitWriter {
    std::string bytes;
    unsigned used = 0;  // bits used in the last byte
    BitWriter& Bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i, used = (used + 1) % 8) {
            if (used == 0) bytes.push_back('\0');
            bytes.back() = static_cast<char>(bytes.back() | (i < 32 ? (value >> i) & 1 : 0) << used);
        }
        return *this;
    }
    BitWriter& Code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) Bits(code >> i, 1);
        return *this;
    }
    BitWriter& Header(bool final, unsigned type) {  // a stored block's fields start at a whole byte
        Bits(final, 1).Bits(type, 2);
        used = type == 0 ? 0 : used;
        return *this;
    }
    // The code-length code gives the lengths 0 to 15 each a 4-bit code (repeats none),
    // so every length is written as itself.
    BitWriter& Dynamic(bool final, const std::vector<unsigned>& litLen, const std::vector<unsigned>& dist) {
        Header(final, 2).Bits(static_cast<uint32_t>(litLen.size() - 257), 5).Bits(static_cast<uint32_t>(dist.size() - 1), 5);
        Bits(19 - 4, 4);  // all 19 code-length code lengths
        for (unsigned symbol : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15}) Bits(symbol < 16 ? 4 : 0, 3);
        for (unsigned length : litLen) Code(length, 4);
        for (unsigned length : dist) Code(length, 4);
        return *this;
    }
    BitWriter& Fixed(unsigned symbol) {
        if (symbol < 144) return Code(0x30 + symbol, 8);
        if (symbol < 256) return Code(0x190 + symbol - 144, 9);
        return symbol < 280 ? Code(symbol - 256, 7) : Code(0xC0 + symbol - 280, 8);
    }
    // Zero bytes: a literal, copies of 258 (symbol 285, distance code 0), literals.
    BitWriter& FixedZeros(size_t size) {
        for (Fixed(0), --size; size >= 258; size -= 258) Fixed(285).Code(0, 5);
        for (; size > 0; --size) Fixed(0);
        return *this;
    }
};

// Deterministic inputs: random bytes; skewed bytes (k with probability 2^-(k+1), so
// Huffman codes of every length up to 15 bits); or words compressing like markup.
enum Kind { kRandom, kSkewed, kText };
std::string Make(Kind kind, size_t size, uint32_t seed) {
    static const char* const words[] = {"the ", "document ", "of ", "<w:p>", "</w:t>", "heading ", "zip ", "1024", ".\n"};
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < size) {
        uint32_t r = static_cast<uint32_t>(random());
        char byte = static_cast<char>(kind == kSkewed ? std::countr_zero(r | 0x10000u) : r);
        out += kind == kText ? std::string(words[r % 9]) : std::string(1, byte);
    }
    return out.substr(0, size);
}

std::span<const uint8_t> Span(std::string_view bytes) { return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}; }

// Output, or "error: " and the message; from ours, and from the bit-at-a-time decoder.
std::string Decode(std::string_view stream) {
    std::string out;
    try {
        Inflate(Span(stream), out, 0);
    } catch (const ConvertError& error) {
        return "error: " + error.message;
    }
    return out;
}
std::string BitAtATime(std::string_view stream) { return reference::Inflate(Span(stream)); }

struct Item {
    std::string name, payload;  // payload as stored: raw bytes, or deflate for method 8
    uint16_t method = 0;
    int64_t declaredSize = -1;  // uncompressed size in the central directory; -1: the payload's
    std::string localExtra = "";
};
// Every central record carries a 4-byte extra field and a 3-byte comment.
std::string BuildArchive(const std::vector<Item>& items, std::string_view comment = "") {
    std::string built;
    auto put = [&](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) built.push_back(static_cast<char>(value >> (8 * i)));
    };
    std::vector<size_t> local;
    for (const auto& item : items) {
        local.push_back(built.size());
        put(0x04034b50, 4), put(20, 2), put(0, 2), put(item.method, 2);       // signature, version, flags, method
        put(0, 8), put(item.payload.size(), 4), put(item.payload.size(), 4);  // time, date, CRC; sizes
        put(item.name.size(), 2), put(item.localExtra.size(), 2);
        built += item.name + item.localExtra + item.payload;
    }
    const size_t directory = built.size();
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        put(0x02014b50, 4), put(20, 2), put(20, 2), put(0, 2), put(item.method, 2);  // signature, versions, flags, method
        put(0, 8), put(item.payload.size(), 4);                                      // time, date, CRC; compressed size
        put(static_cast<uint64_t>(item.declaredSize >= 0 ? item.declaredSize : static_cast<int64_t>(item.payload.size())), 4);
        put(item.name.size(), 2), put(4, 2), put(3, 2), put(0, 8), put(local[i], 4);  // lengths, disk and attributes, offset
        built += item.name + "XTRA" + "cmt";
    }
    const size_t size = built.size() - directory;
    put(0x06054b50, 4), put(0, 4), put(items.size(), 2), put(items.size(), 2);  // signature, disks, entries here and in all
    put(size, 4), put(directory, 4), put(comment.size(), 2);                      // directory size and offset, comment
    return built + std::string(comment);
}

template <typename F>
std::string ErrorOf(F&& run) {
    try {
        run();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "(no error)";
}
std::string OpenError(const std::string& bytes) {
    return ErrorOf([&] { OpenZipBytes(bytes); });
}

std::string Read(const ZipArchive& archive, std::string_view name) {
    std::string out;
    EXPECT_TRUE(ReadEntry(archive, name, out)) << name;
    return out;
}

}  // namespace

TEST(ZipOpen, FindsTheEndRecordBehindAComment) {
    std::string empty = BuildArchive({});
    ASSERT_EQ(empty.size(), 22u);
    EXPECT_TRUE(OpenZipBytes(empty).entries.empty());
    EXPECT_EQ(OpenError(empty.substr(1)), kNotValid);  // 21 bytes
    EXPECT_EQ(OpenError(std::string(1000, 'P')), kNotValid);
    std::string commented = BuildArchive({{"a.txt", "hello"}}, std::string(65535, 'c'));
    EXPECT_EQ(Read(OpenZipBytes(commented), "a.txt"), "hello");
    EXPECT_EQ(OpenError(commented + "c"), kNotValid);                                 // one byte too far back
    EXPECT_EQ(OpenError(commented.substr(0, commented.size() - 65535 - 1)), kNotValid);  // truncated in the end record
    // The search stops at the start of the file, where this end record is.
    EXPECT_TRUE(OpenZipBytes(BuildArchive({}, std::string(65535, 'c'))).entries.empty());
}

TEST(ZipOpen, IndexesTheCentralDirectory) {
    std::string deflated = ZlibDeflate("some text some text", 9);
    std::string built = BuildArchive({{"mimetype", "application/test"}, {"dir/x.xml", deflated, 8, 19, "LOCALEXTRA"}, {"b", ""}});
    ZipArchive archive = OpenZipBytes(built);
    ASSERT_EQ(archive.entries.size(), 3u);
    const ZipEntry& entry = archive.entries[1];
    EXPECT_EQ(entry.name + " " + std::to_string(entry.method) + " " + std::to_string(entry.uncompressedSize), "dir/x.xml 8 19");
    EXPECT_EQ(Read(archive, "dir/x.xml"), "some text some text");  // after the local extra field
    EXPECT_EQ(Read(archive, "b"), "");
    built[built.size() - 22 + 8] = 9;   // entries on this disk: not what counts
    built[built.size() - 22 + 10] = 1;  // total entries
    EXPECT_EQ(OpenZipBytes(built).entries.size(), 1u);
}

TEST(ZipOpen, ADamagedCentralDirectoryIsCorrupted) {
    const std::string built = BuildArchive({{"one", "1"}, {"two", "2"}});
    const size_t first = built.find("PK\x01\x02"), second = first + 46 + 3 + 4 + 3, end = built.size() - 22;
    const std::pair<size_t, char> damages[] = {
        {first, 'X'},          // first record's signature
        {second, 'X'},         // second record's signature
        {end + 10, 3},         // three entries claimed: the third would be the end record
        {end + 19, 0x7F},      // directory offset far past the end
        {second + 29, 0x7F},   // second name runs past the end of the file
    };
    for (const auto& [at, value] : damages) {
        std::string bytes = built;
        bytes[at] = value;
        EXPECT_EQ(OpenError(bytes), "The document is corrupted") << "byte " << at;
    }
}

TEST(ZipRead, ExactNamesFirstOfTwoWinsStoredBytesWhateverTheDeclaredSize) {
    ZipArchive archive = OpenZipBytes(
        BuildArchive({{"Content.xml", "first", 0, 2}, {"Content.xml", "second"}, {"more", "exact bytes", 0, 4000000000}}));
    EXPECT_FALSE(HasEntry(archive, "content.xml"));
    EXPECT_FALSE(HasEntry(archive, "Content"));
    EXPECT_EQ(Read(archive, "Content.xml"), "first");
    EXPECT_EQ(Read(archive, "more"), "exact bytes");
    std::string out = "left over";
    EXPECT_FALSE(ReadEntry(archive, "content.xml", out));
    EXPECT_EQ(out, "");
}

TEST(ZipRead, UnreadableEntriesAreFalseAndInflateErrorsAreThrown) {
    std::string built = BuildArchive({{"good", "data"}, {"method12", "data", 12}, {"badlocal", "data"}, {"cut", "\x07", 8}});
    built[30 + 4 + 4 + 30 + 8 + 4] = 'X';  // local signature of "badlocal"
    ZipArchive archive = OpenZipBytes(built), beyond = archive;
    beyond.entries[0].compressedSize = static_cast<uint32_t>(beyond.data.size() - 30 - 4 + 1);  // data runs past the end
    beyond.entries[1].localHeaderOffset = static_cast<uint32_t>(beyond.data.size() - 29);        // header runs past the end
    beyond.entries[1].method = 0;
    std::string out;
    EXPECT_FALSE(ReadEntry(archive, "method12", out));
    EXPECT_FALSE(ReadEntry(archive, "badlocal", out));
    EXPECT_FALSE(ReadEntry(beyond, "good", out));
    EXPECT_FALSE(ReadEntry(beyond, "method12", out));
    beyond.entries[0].compressedSize -= 1;  // now ending exactly at the end of the file
    EXPECT_TRUE(ReadEntry(beyond, "good", out));
    EXPECT_EQ(ErrorOf([&] { ReadEntryOrFail(archive, "badlocal", "This Word file is damaged"); }), "This Word file is damaged");
    EXPECT_EQ(ErrorOf([&] { ReadEntry(archive, "cut", out); }), "The document is corrupted");
}

TEST(ZipRead, ALyingSizeCostsNoMemoryAndABombStopsAt256MiB) {
    std::string bomb = BitWriter().Header(true, 1).FixedZeros(kCap + 1).Fixed(256).bytes;
    ZipArchive archive = OpenZipBytes(BuildArchive({{"liar", ZlibDeflate("tiny", 6), 8, 0xFFFFFFFF}, {"bomb", bomb, 8, 1000}}));
    std::string out;
    ASSERT_TRUE(ReadEntry(archive, "liar", out));
    EXPECT_EQ(out, "tiny");
    EXPECT_LT(out.capacity(), size_t{1} << 20);  // what it set aside is handed back
    EXPECT_EQ(ErrorOf([&] { ReadEntry(archive, "bomb", out); }), "This document expands to an unreasonable size");
    // An empty fixed block with a size hint of a terabyte, which would fail to allocate.
    Inflate(Span(std::string_view("\x03\x00", 2)), out, size_t{1} << 40);
    EXPECT_EQ(out, "");
}

TEST(ZipOpenFile, ReportsFileErrors) {
    TempDir dir;
    EXPECT_EQ(ErrorOf([&] { OpenZip(dir.File("missing.docx")); }), "Couldn't open the document");
    EXPECT_EQ(ErrorOf([&] { OpenZip(dir.path()); }), "Couldn't read the document");  // a folder opens but won't read
    WriteFile(dir.File("big.docx"), "");
    std::filesystem::resize_file(dir.File("big.docx"), 0x20000001);  // one byte over 512 MiB, sparse: nothing is read
    EXPECT_EQ(ErrorOf([&] { OpenZip(dir.File("big.docx")); }), "This document is too large to convert");
}

TEST(ZipWriter, MimetypeComesFirstStoredAndUnzipFindsTheChecksumsRight) {
    EXPECT_EQ(Crc32(std::string_view("abc")), 0x352441C2u);
    TempDir dir;
    std::string path = dir.File("book.epub"), content = Make(kRandom, 300000, 3);
    ZipWriter writer;
    AddEntry(writer, "mimetype", "application/epub+zip");
    AddEntry(writer, "OEBPS/content.xhtml", content);
    WriteFile(path, FinishZip(writer));
    std::string bytes = ReadFile(path);
    //                 signature         | version | flags: UTF-8 | stored | time    | date: 1 January 1980
    EXPECT_EQ(bytes.substr(0, 14), std::string("PK\x03\x04" "\x14\x00" "\x00\x08"    "\x00\x00" "\x00\x00" "\x21\x00", 14));
    EXPECT_EQ(bytes.substr(30, 8 + 20), "mimetypeapplication/epub+zip");
    EXPECT_TRUE(Read(OpenZip(path), "OEBPS/content.xhtml") == content);
    REQUIRE_TOOL("unzip");
    CommandResult test = RunCommand("unzip -t " + ShellQuote(path));
    EXPECT_TRUE(test.exitCode == 0 && test.output.find("No errors detected") != std::string::npos) << test.output;
}

TEST(Inflate, DecodesZlibStreamsAtEveryLevelAndStrategy) {
    std::string runs;  // short periods (overlapping copies), then one long run
    for (int i = 0; i < 3000; ++i) runs += std::string(static_cast<size_t>(i % 9 + 1), static_cast<char>('a' + i % 7));
    runs += std::string(70000, '\0');
    for (const auto& data : {std::string(), std::string("x"), Make(kText, 150000, 1), Make(kRandom, 70000, 2), Make(kSkewed, 99999, 3),
                             runs, Make(kText, 40000, 3) + Make(kRandom, 40000, 4) + Make(kText, 40000, 3)})
        for (int level = 0; level <= 9; ++level)
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
                ASSERT_TRUE(Decode(ZlibDeflate(data, level, strategy)) == data) << data.size() << ", " << level << "/" << strategy;
}

TEST(Inflate, HandMadeBlocks) {
    //                     final stored | LEN 5   | NLEN ~5  | bytes
    const std::string good("\x01"         "\x05\x00" "\xFA\xFF" "hello", 10);
    std::string payload = Make(kRandom, 100, 7);
    auto fixed = [] { return BitWriter().Header(true, 1); };
    // Code lengths: 'a' 0 and length 3 is 1; distance 0 is 0 and 30 (no distance) is 1.
    std::vector<unsigned> litLen(258, 0), dist(31, 0);
    litLen['a'] = litLen[257] = dist[0] = dist[30] = 1;
    const std::pair<std::string, std::string> cases[] = {
        {good + "ignored trailing bytes", "hello"},
        {good.substr(0, 9), kTruncated},                                // a byte of data missing
        {good.substr(0, 4), kTruncated},                                // NLEN cut
        {std::string("\x01\x05\x00\xFB\xFF" "hello", 10), kCorrupted},  // NLEN is not ~LEN
        {std::string("\x01\x00\x00\xFF\xFF", 5), ""},                   // empty stored block
        // A stored block after a fixed block ending mid-byte starts at the next whole byte.
        {BitWriter().Header(false, 1).Fixed('a').Fixed(256).Header(true, 0).Bits(100, 16).Bits(~100u, 16).bytes + payload,
         "a" + payload},
        {"\x07", kCorrupted},  // block type 3
        {fixed().Fixed(286).Bits(0, 24).bytes, kCorrupted},
        {fixed().Fixed(287).Bits(0, 24).bytes, kCorrupted},
        {fixed().Fixed(257).Code(0, 5).Bits(0, 24).bytes, kCorrupted},                          // a copy with nothing before it
        {fixed().Fixed('a').Fixed('b').Fixed(257).Code(2, 5).Bits(0, 24).bytes, kCorrupted},  // distance 3 after 2 bytes
        {BitWriter().Dynamic(true, litLen, dist).Code(0b011, 3).Bits(0, 16).bytes, kCorrupted},
        // The fixed distance code has no 11110 (from bit 18): corrupt once 15 bits are read,
        // truncated when the input (padding included) has only 14.
        {fixed().Fixed('a').Fixed(257).Code(0b11110, 5).Bits(0, 17).bytes, kCorrupted},
        {fixed().Fixed('a').Fixed(257).Code(0b11110, 5).Bits(0, 9).bytes, kTruncated},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Decode(cases[i].first), cases[i].second) << "case " << i;
}

TEST(Inflate, AgreesWithBitAtATimeDecoding) {
    std::mt19937 random(2024);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    // Real streams with flipped bits, overwritten bytes and cut ends; then random bytes,
    // whose dynamic blocks have mostly incomplete or over-subscribed codes.
    for (const auto& stream : {ZlibDeflate(Make(kText, 2000, 8), 6), ZlibDeflate(Make(kRandom, 600, 9), 6),
                               ZlibDeflate(Make(kText, 1500, 10), 6, Z_FIXED), ZlibDeflate(Make(kSkewed, 30000, 11), 6, Z_HUFFMAN_ONLY)})
        for (int round = 0; round < 400; ++round) {
            std::string damaged = stream;
            for (size_t edits = 1 + pick(4); edits > 0; --edits) {
                size_t at = pick(damaged.size());
                if (pick(3) == 0) damaged[at] = static_cast<char>(damaged[at] ^ (1 << pick(8)));
                else if (pick(2) == 0) damaged[at] = static_cast<char>(random());
                else damaged.resize(std::max<size_t>(1, at));
            }
            ASSERT_TRUE(Decode(damaged) == BitAtATime(damaged)) << round;
        }
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = Make(kRandom, pick(400), static_cast<uint32_t>(random()));
        ASSERT_TRUE(Decode(bytes) == BitAtATime(bytes)) << round;
    }
}

TEST(Inflate, OutputMayReachTheCapButNotPassItWhateverElseFails) {
    std::string full = Decode(BitWriter().Header(true, 1).FixedZeros(kCap).Fixed(256).bytes);
    EXPECT_EQ(full.size(), kCap);
    EXPECT_EQ(full.find_first_not_of('\0'), std::string::npos);
    full = {};
    EXPECT_EQ(Decode(BitWriter().Header(true, 1).FixedZeros(kCap + 258).bytes), kTooLarge);  // and then cut
    // Just below the cap, a stored block carries the output past it.
    BitWriter stored = BitWriter().Header(false, 1).FixedZeros(kCap - 10).Fixed(256).Header(true, 0).Bits(20, 16).Bits(~20u, 16);
    EXPECT_EQ(Decode(stored.bytes + std::string(20, 'x')), kTooLarge);
}
