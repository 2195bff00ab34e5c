// A deliberately plain deflate decoder that reads every code one bit at a time, kept in
// the tests as the yardstick for the product's table-driven one: both must give the same
// output, or fail with the same message, on every input (the inflate tests and the
// inflate fuzz harness compare them). Speed does not matter here; obviousness does.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace reference {

struct InflateResult {
    std::string output;
    std::string error;  // empty when the stream decoded
};

namespace detail {

constexpr size_t kMaxOutput = 0x10000000;

struct Failure {
    const char* message;
};
inline const char* const kTruncated = "The document is truncated";
inline const char* const kCorrupted = "The document is corrupted";
inline const char* const kTooLarge = "This document expands to an unreasonable size";

struct Huffman {
    std::array<int, 16> count{};  // codes per length
    std::vector<int> symbols;     // sorted by length, then by symbol
};

class Decoder {
public:
    explicit Decoder(std::span<const uint8_t> input) : input_(input) {}

    void Run(std::string& out) {
        const uint64_t maxBlocks = uint64_t{input_.size()} * 8 / 3;
        uint64_t blocks = 0;
        for (;;) {
            if (blocks > maxBlocks) throw Failure{kCorrupted};
            ++blocks;
            int final = Bits(1);
            int type = Bits(2);
            if (type == 0) {
                Stored(out);
            } else if (type == 1) {
                std::vector<int> lengths(288);
                for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
                Codes(out, Build(lengths), Build(std::vector<int>(30, 5)));
            } else if (type == 2) {
                Dynamic(out);
            } else {
                throw Failure{kCorrupted};
            }
            if (out.size() > kMaxOutput) throw Failure{kTooLarge};
            if (final) return;
        }
    }

private:
    int Bit() {
        if (position_ >= input_.size() * 8) throw Failure{kTruncated};
        int bit = (input_[position_ / 8] >> (position_ % 8)) & 1;
        ++position_;
        return bit;
    }
    int Bits(int n) {
        int value = 0;
        for (int i = 0; i < n; ++i) value |= Bit() << i;
        return value;
    }

    static Huffman Build(const std::vector<int>& lengths) {
        Huffman h;
        for (int length : lengths) ++h.count[length];
        h.count[0] = 0;
        for (int len = 1; len <= 15; ++len)
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] == len) h.symbols.push_back(static_cast<int>(s));
        return h;
    }

    // Canonical decoding: the codes of each length are consecutive numbers starting right
    // after (twice) the codes of the length before.
    int Decode(const Huffman& h) {
        int64_t code = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            code |= Bit();
            int count = h.count[len];
            if (code - first < count) return h.symbols[static_cast<size_t>(index + code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        throw Failure{kCorrupted};
    }

    void Stored(std::string& out) {
        position_ = (position_ + 7) / 8 * 8;
        int length = Bits(16);
        int complement = Bits(16);
        if (length != (~complement & 0xFFFF)) throw Failure{kCorrupted};
        for (int i = 0; i < length; ++i) out.push_back(static_cast<char>(Bits(8)));
    }

    void Dynamic(std::string& out) {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        int litLenCount = Bits(5) + 257;
        int distCount = Bits(5) + 1;
        int codeLenCount = Bits(4) + 4;
        std::vector<int> codeLengths(19);
        for (int i = 0; i < codeLenCount; ++i) codeLengths[order[i]] = Bits(3);
        Huffman codeLen = Build(codeLengths);
        std::vector<int> lengths;
        const size_t total = static_cast<size_t>(litLenCount + distCount);
        while (lengths.size() < total) {
            int symbol = Decode(codeLen);
            if (symbol < 16) {
                lengths.push_back(symbol);
                continue;
            }
            int value = 0;
            int repeat;
            if (symbol == 16) {
                if (lengths.empty()) throw Failure{kCorrupted};
                value = lengths.back();
                repeat = 3 + Bits(2);
            } else if (symbol == 17) {
                repeat = 3 + Bits(3);
            } else {
                repeat = 11 + Bits(7);
            }
            if (lengths.size() + static_cast<size_t>(repeat) > total) throw Failure{kCorrupted};
            lengths.insert(lengths.end(), static_cast<size_t>(repeat), value);
        }
        std::vector<int> litLen(lengths.begin(), lengths.begin() + litLenCount);
        std::vector<int> dist(lengths.begin() + litLenCount, lengths.end());
        Codes(out, Build(litLen), Build(dist));
    }

    void Codes(std::string& out, const Huffman& litLen, const Huffman& dist) {
        static const int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const int distBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                         33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const int distExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int symbol = Decode(litLen);
            if (symbol < 256) {
                out.push_back(static_cast<char>(symbol));
            } else if (symbol == 256) {
                return;
            } else {
                if (symbol >= 286) throw Failure{kCorrupted};
                int length = lengthBase[symbol - 257] + Bits(lengthExtra[symbol - 257]);
                int distSymbol = Decode(dist);
                if (distSymbol >= 30) throw Failure{kCorrupted};
                size_t distance = static_cast<size_t>(distBase[distSymbol] + Bits(distExtra[distSymbol]));
                if (distance > out.size()) throw Failure{kCorrupted};
                for (int i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
            }
            if (out.size() > kMaxOutput) throw Failure{kTooLarge};
        }
    }

    std::span<const uint8_t> input_;
    size_t position_ = 0;  // in bits
};

}  // namespace detail

inline InflateResult Inflate(std::span<const uint8_t> input) {
    InflateResult result;
    try {
        detail::Decoder(input).Run(result.output);
    } catch (const detail::Failure& failure) {
        result.error = failure.message;
        result.output.clear();
    }
    return result;
}

}  // namespace reference
