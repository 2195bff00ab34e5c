// Raw deflate decoder (RFC 1951, no zlib or gzip wrapper) for ZIP entries: stored,
// fixed-code and dynamic-code blocks.
// Limits: one stream inflates to at most 256 MiB; a stream may hold at most
// (compressed bytes x 8 / 3) blocks; the output buffer is never reserved beyond 64 MiB
// up front, whatever size the caller expects.
//
// Huffman codes are decoded through lookup tables, but every result and every error is
// the one a decoder reading the code one bit at a time would give: codes are canonical
// (counts per length, symbols in order), a bit pattern that matches no code within 15
// bits is corrupt, and input that ends before a code or field is complete is truncated.
// Incomplete and over-subscribed code sets are not refused up front; they decode the
// way the bit-at-a-time walk does (patterns it cannot match are corrupt, codes it can
// never reach are never produced).
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "convert/core/check.h"
#include "convert/core/errors.h"
#include "convert/documents/zip.h"

namespace {

constexpr size_t kMaxOutput = 0x10000000;   // 256 MiB: a small entry must not expand without bound
constexpr size_t kMaxReserve = 0x4000000;   // 64 MiB: a lying size hint cannot force a huge allocation
constexpr size_t kFirstOutputSize = 0x10000; // first usable output buffer; it doubles from there
constexpr unsigned kMaxCodeBits = 15;       // longest Huffman code deflate defines
constexpr unsigned kMaxBitRequest = 16;     // widest fixed-size field (LEN and NLEN of a stored block)
constexpr unsigned kMaxMatch = 258;         // longest back-reference
constexpr unsigned kCopyOverrun = 16;       // a match copy may write this far past its end (wide moves)
constexpr size_t kOutputRoom = kMaxMatch + kCopyOverrun;  // free space needed before each symbol

constexpr unsigned kLitLenSymbols = 288;  // 286 and 287 may have codes but are invalid when decoded
constexpr unsigned kDistSymbols = 32;     // 30 and 31 likewise
constexpr unsigned kCodeLenSymbols = 19;

// Table sizes: the first lookup takes this many bits; longer codes continue in a
// second-level table of at most 2^(15 - first bits) entries for each first-level slot
// that leads to one. Each such slot needs at least one code of its own, which bounds
// the number of second-level tables by the number of symbols.
constexpr unsigned kLitLenBits = 10;
constexpr unsigned kDistBits = 8;
constexpr unsigned kCodeLenBits = 7;  // code-length codes are at most 7 bits: one level
constexpr size_t TableCapacity(unsigned firstBits, unsigned symbols) {
    return (size_t{1} << firstBits) +
           (firstBits < kMaxCodeBits ? size_t{symbols} << (kMaxCodeBits - firstBits) : 0);
}
constexpr size_t kLitLenCapacity = TableCapacity(kLitLenBits, kLitLenSymbols);
constexpr size_t kDistCapacity = TableCapacity(kDistBits, kDistSymbols);
constexpr size_t kCodeLenCapacity = size_t{1} << kCodeLenBits;

const char kTruncated[] = "The document is truncated";
const char kCorrupted[] = "The document is corrupted";
const char kTooLarge[] = "This document expands to an unreasonable size";

[[noreturn]] void Fail(const char* message) { throw ConvertError(message); }

// A table entry packs what a decoded code means:
//   bits 0-3   bits the code takes (for a link: unused)
//   bits 4-6   kind
//   bits 8-15  extra bits that follow (length, distance) or the size of a linked table
//   bits 16-31 the literal byte, the base length or distance, or where a linked table starts
enum Kind : uint32_t {
    kLiteral = 0,
    kLength = 1,
    kEndOfBlock = 2,
    kLink = 3,        // continue in the second-level table
    kBadSymbol = 4,   // a code exists, but its symbol is not allowed (286, 287; distance 30, 31)
    kNoCode = 5,      // no code matches within 15 bits
};

constexpr uint32_t MakeEntry(uint32_t bits, Kind kind, uint32_t extra, uint32_t value) {
    return bits | (kind << 4) | (extra << 8) | (value << 16);
}
constexpr unsigned EntryBits(uint32_t entry) { return entry & 0xF; }
constexpr uint32_t EntryKind(uint32_t entry) { return (entry >> 4) & 0x7; }
constexpr unsigned EntryExtra(uint32_t entry) { return (entry >> 8) & 0xFF; }
constexpr uint32_t EntryValue(uint32_t entry) { return entry >> 16; }

// A pattern without a code is reported only once 15 bits were available to try, so it
// claims all 15.
constexpr uint32_t kNoCodeEntry = MakeEntry(kMaxCodeBits, kNoCode, 0, 0);

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistBase = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                                33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, kCodeLenSymbols> kCodeLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                11, 4,  12, 3, 13, 2, 14, 1, 15};

// What each symbol of an alphabet means, before its code length is known.
uint32_t LitLenMeaning(unsigned symbol) {
    if (symbol < 256) return MakeEntry(0, kLiteral, 0, symbol);
    if (symbol == 256) return MakeEntry(0, kEndOfBlock, 0, 0);
    if (symbol < 286) return MakeEntry(0, kLength, kLengthExtra[symbol - 257], kLengthBase[symbol - 257]);
    return MakeEntry(0, kBadSymbol, 0, 0);
}
uint32_t DistMeaning(unsigned symbol) {
    if (symbol < 30) return MakeEntry(0, kLength, kDistExtra[symbol], kDistBase[symbol]);
    return MakeEntry(0, kBadSymbol, 0, 0);
}
uint32_t CodeLenMeaning(unsigned symbol) { return MakeEntry(0, kLiteral, 0, symbol); }

unsigned Reverse(unsigned code, unsigned length) {
    unsigned reversed = 0;
    for (unsigned i = 0; i < length; ++i) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

// Builds a two-level lookup table for a canonical code given by its code lengths.
// The codes are exactly those the bit-at-a-time walk can reach: at each length the walk
// matches codes first .. first + count - 1, so a code value that no longer fits in its
// length (over-subscription) is unreachable, as is everything after it.
void BuildTable(const uint8_t* lengths, unsigned symbolCount, uint32_t (*meaning)(unsigned), unsigned firstBits,
                uint32_t* table) {
    std::array<unsigned, kMaxCodeBits + 1> count{};
    for (unsigned s = 0; s < symbolCount; ++s) ++count[lengths[s]];
    count[0] = 0;
    std::array<unsigned, kMaxCodeBits + 2> offset{};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = offset[len] + count[len];
    std::array<uint16_t, kLitLenSymbols> sorted{};
    for (unsigned s = 0; s < symbolCount; ++s)
        if (lengths[s] != 0) sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);

    struct Code {
        unsigned bits;  // in reading order: first bit read in bit 0
        unsigned length;
        unsigned symbol;
    };
    std::array<Code, kLitLenSymbols> codes;
    unsigned codeCount = 0;
    unsigned first = 0;  // first code value of the current length
    unsigned index = 0;  // position of that code's symbol in `sorted`
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        unsigned limit = 1u << len;
        bool full = false;
        for (unsigned k = 0; k < count[len]; ++k) {
            if (first + k >= limit) {
                full = true;
                break;
            }
            codes[codeCount++] = {Reverse(first + k, len), len, sorted[index + k]};
        }
        if (full) break;
        index += count[len];
        first = (first + count[len]) << 1;
    }

    const size_t firstSize = size_t{1} << firstBits;
    const unsigned firstMask = static_cast<unsigned>(firstSize - 1);
    std::fill(table, table + firstSize, kNoCodeEntry);
    // Second-level table sizes: the longest code behind each first-level slot.
    std::array<uint8_t, size_t{1} << kLitLenBits> longest{};
    for (unsigned c = 0; c < codeCount; ++c) {
        if (codes[c].length <= firstBits) continue;
        uint8_t& slot = longest[codes[c].bits & firstMask];
        slot = std::max(slot, static_cast<uint8_t>(codes[c].length - firstBits));
    }
    size_t next = firstSize;
    for (unsigned slot = 0; slot < firstSize; ++slot) {
        if (longest[slot] == 0) continue;
        size_t size = size_t{1} << longest[slot];
        table[slot] = MakeEntry(0, kLink, longest[slot], static_cast<uint32_t>(next));
        std::fill(table + next, table + next + size, kNoCodeEntry);
        next += size;
    }
    for (unsigned c = 0; c < codeCount; ++c) {
        const Code& code = codes[c];
        uint32_t entry = meaning(code.symbol) | code.length;
        if (code.length <= firstBits) {
            for (size_t i = code.bits; i < firstSize; i += size_t{1} << code.length) table[i] = entry;
        } else {
            uint32_t link = table[code.bits & firstMask];
            size_t base = EntryValue(link);
            unsigned subBits = EntryExtra(link);
            unsigned rest = code.length - firstBits;
            for (size_t i = code.bits >> firstBits; i < (size_t{1} << subBits); i += size_t{1} << rest)
                table[base + i] = entry;
        }
    }
}

struct Tables {
    std::array<uint32_t, kLitLenCapacity> litLen;
    std::array<uint32_t, kDistCapacity> dist;
};

const Tables& FixedTables() {
    static const std::unique_ptr<Tables> fixed = [] {
        auto built = std::make_unique<Tables>();
        std::array<uint8_t, kLitLenSymbols> lengths{};
        std::fill(lengths.begin(), lengths.begin() + 144, 8);
        std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
        std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
        std::fill(lengths.begin() + 280, lengths.end(), 8);
        BuildTable(lengths.data(), kLitLenSymbols, LitLenMeaning, kLitLenBits, built->litLen.data());
        std::array<uint8_t, 30> distLengths;
        distLengths.fill(5);
        BuildTable(distLengths.data(), 30, DistMeaning, kDistBits, built->dist.data());
        return built;
    }();
    return *fixed;
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    return value;
}

class Inflater {
public:
    Inflater(std::span<const uint8_t> compressed, std::string& out, size_t reserveHint)
        : in_(compressed.data()), end_(compressed.data() + compressed.size()), out_(out) {
        // Reserved memory is only mapped, not touched: the size grows (and is zero-filled)
        // as output arrives, so a size hint that lies costs nothing but address space.
        out_.clear();
        out_.reserve(std::min(reserveHint, kMaxReserve) + kOutputRoom);
        out_.resize(std::min(out_.capacity(), kFirstOutputSize + kOutputRoom));
        used_ = 0;
    }

    void Run(size_t compressedSize) {
        const uint64_t maxBlocks = uint64_t{compressedSize} * 8 / 3;
        uint64_t blocks = 0;
        std::unique_ptr<Tables> dynamic;
        for (;;) {
            if (blocks > maxBlocks) Fail(kCorrupted);
            ++blocks;
            bool final = TakeBits(1) != 0;
            unsigned type = TakeBits(2);
            if (type == 0) {
                StoredBlock();
            } else if (type == 1) {
                const Tables& fixed = FixedTables();
                CodedBlock(fixed.litLen.data(), fixed.dist.data());
            } else if (type == 2) {
                if (!dynamic) dynamic = std::make_unique<Tables>();
                ReadDynamicTables(*dynamic);
                CodedBlock(dynamic->litLen.data(), dynamic->dist.data());
            } else {
                Fail(kCorrupted);
            }
            if (used_ > kMaxOutput) Fail(kTooLarge);
            if (final) break;
        }
        out_.resize(used_);
        // Give back what a size hint reserved in vain (copies the output once).
        if (out_.capacity() - used_ > std::max(used_ / 4, kFirstOutputSize)) out_.shrink_to_fit();
    }

private:
    // Tops the bit buffer up to at least 57 bits, or to every bit left in the input.
    void Refill() {
        if (end_ - in_ >= 8) {
            // Whole bytes only are counted; the part-loaded byte on top is loaded again,
            // identically, by the next refill.
            bits_ |= Load64(in_) << count_;
            in_ += 7 - ((count_ >> 3) & 7);
            count_ |= 56;
        } else {
            while (count_ <= 56 && in_ < end_) {
                bits_ |= uint64_t{*in_++} << count_;
                count_ += 8;
            }
        }
    }

    unsigned TakeBits(unsigned n) {
        if (n > kMaxBitRequest) {
            ReportCheckFailure(__FILE__, __LINE__);
            Fail(kCorrupted);
        }
        if (count_ < n) Refill();
        if (count_ < n) Fail(kTruncated);
        unsigned value = static_cast<unsigned>(bits_ & ((uint64_t{1} << n) - 1));
        bits_ >>= n;
        count_ -= n;
        return value;
    }

    // One code through a table built by BuildTable; the bit buffer must hold every bit
    // the input has left or at least 15.
    static uint32_t Lookup(const uint32_t* table, unsigned firstBits, uint64_t bits) {
        uint32_t entry = table[bits & ((1u << firstBits) - 1)];
        if (EntryKind(entry) == kLink)
            entry = table[EntryValue(entry) + ((bits >> firstBits) & ((1u << EntryExtra(entry)) - 1))];
        return entry;
    }

    void StoredBlock() {
        unsigned drop = count_ & 7;
        bits_ >>= drop;
        count_ -= drop;
        unsigned length = TakeBits(16);
        unsigned complement = TakeBits(16);
        if (length != (~complement & 0xFFFF)) Fail(kCorrupted);
        // Hand the whole bytes still in the bit buffer back to the input.
        in_ -= count_ / 8;
        bits_ = 0;
        count_ = 0;
        if (static_cast<size_t>(end_ - in_) < length) Fail(kTruncated);
        // Copying first and testing after the block would end the same way.
        if (used_ + length > kMaxOutput) Fail(kTooLarge);
        EnsureRoom(length);
        std::memcpy(out_.data() + used_, in_, length);
        used_ += length;
        in_ += length;
    }

    void ReadDynamicTables(Tables& tables) {
        unsigned litLenCount = TakeBits(5) + 257;
        unsigned distCount = TakeBits(5) + 1;
        unsigned codeLenCount = TakeBits(4) + 4;
        std::array<uint8_t, kCodeLenSymbols> codeLenLengths{};
        for (unsigned i = 0; i < codeLenCount; ++i) codeLenLengths[kCodeLenOrder[i]] = static_cast<uint8_t>(TakeBits(3));
        std::array<uint32_t, kCodeLenCapacity> codeLenTable;
        BuildTable(codeLenLengths.data(), kCodeLenSymbols, CodeLenMeaning, kCodeLenBits, codeLenTable.data());

        std::array<uint8_t, kLitLenSymbols + kDistSymbols> lengths{};
        const unsigned total = litLenCount + distCount;
        unsigned filled = 0;
        while (filled < total) {
            unsigned symbol = DecodeSymbol(codeLenTable.data(), kCodeLenBits);
            if (symbol < 16) {
                lengths[filled++] = static_cast<uint8_t>(symbol);
                continue;
            }
            uint8_t value = 0;
            unsigned repeat;
            if (symbol == 16) {
                if (filled == 0) Fail(kCorrupted);
                value = lengths[filled - 1];
                repeat = 3 + TakeBits(2);
            } else if (symbol == 17) {
                repeat = 3 + TakeBits(3);
            } else {
                repeat = 11 + TakeBits(7);
            }
            if (repeat > total - filled) Fail(kCorrupted);
            std::fill_n(lengths.begin() + filled, repeat, value);
            filled += repeat;
        }
        BuildTable(lengths.data(), litLenCount, LitLenMeaning, kLitLenBits, tables.litLen.data());
        BuildTable(lengths.data() + litLenCount, distCount, DistMeaning, kDistBits, tables.dist.data());
    }

    // Decodes one symbol of a one-level table (the code-length code).
    unsigned DecodeSymbol(const uint32_t* table, unsigned firstBits) {
        if (count_ < kMaxCodeBits) Refill();
        uint32_t entry = Lookup(table, firstBits, bits_);
        unsigned length = EntryBits(entry);
        if (length > count_) Fail(kTruncated);
        bits_ >>= length;
        count_ -= length;
        if (EntryKind(entry) != kLiteral) Fail(kCorrupted);
        return EntryValue(entry);
    }

    // Doubles the usable output buffer, never far past the cap. Within the reserved
    // capacity only the new part is zero-filled; beyond it, a new allocation of exactly
    // the size chosen (a plain resize may round it up to twice the old capacity).
    void EnsureRoom(size_t needed) {
        if (out_.size() - used_ >= needed) return;
        size_t grown = std::max(out_.size() * 2, used_ + needed);
        if (out_.capacity() >= used_ + needed) grown = std::min(grown, out_.capacity());  // reserved first
        grown = std::min(grown, std::max(kMaxOutput + kOutputRoom, used_ + needed));
        if (grown > out_.capacity()) {
            std::string bigger;
            bigger.reserve(grown);
            bigger.assign(out_.data(), used_);
            out_.swap(bigger);
        }
        out_.resize(grown);
    }

    uint8_t* OutputStart() { return reinterpret_cast<uint8_t*>(out_.data()); }

    // Where the output may run before the next symbol needs a look first: the end of the
    // room kept for one longest match, or the first byte past the cap.
    uint8_t* OutputLimit(uint8_t* start) {
        return start + std::min(out_.size() - kOutputRoom + 1, kMaxOutput + 1);
    }

    // The symbols of one fixed- or dynamic-code block, up to its end-of-block code.
    void CodedBlock(const uint32_t* litLenTable, const uint32_t* distTable) {
        // Locals, so that the compiler keeps them in registers while output is written
        // through byte pointers (which could otherwise alias the members).
        const uint8_t* in = in_;
        const uint8_t* const end = end_;
        uint64_t bits = bits_;
        unsigned count = count_;
        uint8_t* start = OutputStart();
        uint8_t* out = start + used_;
        uint8_t* limit = OutputLimit(start);
        auto consume = [&](unsigned n) {
            bits >>= n;
            count -= n;
        };
        auto take = [&](unsigned n) {
            if (n > count) Fail(kTruncated);
            unsigned value = static_cast<unsigned>(bits & ((uint64_t{1} << n) - 1));
            consume(n);
            return value;
        };

        for (;;) {
            // The cap is tested here, after every symbol, before the next one is read.
            if (out >= limit) [[unlikely]] {
                used_ = static_cast<size_t>(out - start);
                if (used_ > kMaxOutput) Fail(kTooLarge);
                EnsureRoom(kOutputRoom);
                start = OutputStart();
                out = start + used_;
                limit = OutputLimit(start);
            }
            // At least 56 bits now, enough for a whole length-distance pair (15 + 5 + 15
            // + 13), unless the input is about to end; then every field checks its bits.
            if (end - in >= 8) [[likely]] {
                // Whole bytes only are counted; the part-loaded byte on top is loaded
                // again, identically, by the next refill.
                bits |= Load64(in) << count;
                in += 7 - ((count >> 3) & 7);
                count |= 56;
            } else {
                while (count <= 56 && in < end) {
                    bits |= uint64_t{*in++} << count;
                    count += 8;
                }
            }

            uint32_t entry = Lookup(litLenTable, kLitLenBits, bits);
            unsigned length = EntryBits(entry);
            if (length > count) [[unlikely]] Fail(kTruncated);
            uint32_t kind = EntryKind(entry);
            if (kind == kLiteral) {
                consume(length);
                *out++ = static_cast<uint8_t>(EntryValue(entry));
                // Up to two more literals on the same refill (three codes of 15 bits fit in
                // 56). A literal can never fail, and the cap test that follows it would be
                // the next thing to fail, so taking it before that test ends the same way.
                // Anything else waits for the top of the loop.
                for (int more = 0; more < 2; ++more) {
                    entry = Lookup(litLenTable, kLitLenBits, bits);
                    length = EntryBits(entry);
                    if (EntryKind(entry) != kLiteral || length > count) break;
                    consume(length);
                    *out++ = static_cast<uint8_t>(EntryValue(entry));
                }
                continue;
            }
            consume(length);
            if (kind == kEndOfBlock) break;
            if (kind != kLength) [[unlikely]] Fail(kCorrupted);
            const unsigned matchLength = EntryValue(entry) + take(EntryExtra(entry));

            entry = Lookup(distTable, kDistBits, bits);
            length = EntryBits(entry);
            if (length > count) [[unlikely]] Fail(kTruncated);
            if (EntryKind(entry) != kLength) [[unlikely]] Fail(kCorrupted);
            consume(length);
            const size_t distance = EntryValue(entry) + take(EntryExtra(entry));
            if (distance > static_cast<size_t>(out - start)) [[unlikely]] Fail(kCorrupted);
            CopyMatch(out, distance, matchLength);
            out += matchLength;
        }
        used_ = static_cast<size_t>(out - start);
        in_ = in;
        bits_ = bits;
        count_ = count;
    }

    // Copies `length` bytes from `distance` back, as a byte-by-byte copy would when the two
    // overlap. May write up to kCopyOverrun bytes past the end.
    static void CopyMatch(uint8_t* out, size_t distance, unsigned length) {
        const uint8_t* from = out - distance;
        uint8_t* const stop = out + length;
        if (distance >= 16) {
            // Each 16-byte move reads only bytes written before it.
            do {
                std::memcpy(out, from, 16);
                out += 16;
                from += 16;
            } while (out < stop);
        } else if (distance >= 8) {
            do {
                std::memcpy(out, from, 8);
                out += 8;
                from += 8;
            } while (out < stop);
        } else if (distance == 1) {
            std::memset(out, *from, length);
        } else {
            // A short repeating pattern: what lies between `from` and `out` is always a
            // whole number of periods, so it can be copied on in one piece, doubling each time.
            while (out < stop) {
                size_t piece = std::min(static_cast<size_t>(out - from), static_cast<size_t>(stop - out));
                std::memcpy(out, from, piece);
                out += piece;
            }
        }
    }

    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;  // bits of the input in bits_, least significant first
    std::string& out_;    // sized ahead of use; the first used_ bytes are the output
    size_t used_ = 0;
};

}  // namespace

void Inflate(std::span<const uint8_t> compressed, std::string& out, size_t reserveHint) {
    Inflater inflater(compressed, out, reserveHint);
    inflater.Run(compressed.size());
}
