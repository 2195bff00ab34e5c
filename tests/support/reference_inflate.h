// A deliberately plain deflate decoder that reads every code one bit at a time: the
// yardstick for the product's table-driven one. Both must give the same output, or fail
// with the same message, on every input (the inflate tests and the inflate fuzz harness
// compare them). Speed does not matter here; obviousness does.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace reference {

struct InflateResult {
    std::string output;
    std::string error;  // empty when the stream decoded
};

class BitAtATimeInflater {
public:
    explicit BitAtATimeInflater(std::span<const uint8_t> input) : in_(input) {}

    InflateResult Run() {
        InflateResult result;
        try {
            Blocks(result.output);
        } catch (const char* message) {
            result = {"", message};
        }
        return result;
    }

private:
    static constexpr const char* kTruncated = "The document is truncated";
    static constexpr const char* kCorrupted = "The document is corrupted";
    static constexpr size_t kCap = 0x10000000;

    struct Code {
        int count[16] = {};        // codes per length
        std::vector<int> symbols;  // by length, then by symbol
    };

    int Bits(int n) {
        int value = 0;
        for (int i = 0; i < n; ++i, ++bit_) {
            if (bit_ >= in_.size() * 8) throw kTruncated;
            value |= ((in_[bit_ / 8] >> (bit_ % 8)) & 1) << i;
        }
        return value;
    }

    static Code Build(const std::vector<int>& lengths) {
        Code code;
        for (int len = 1; len <= 15; ++len)
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] == len) ++code.count[len], code.symbols.push_back(static_cast<int>(s));
        return code;
    }

    // Canonical codes: those of each length are consecutive numbers, starting at twice
    // the number after the last code one bit shorter.
    int Decode(const Code& code) {
        int64_t value = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            value |= Bits(1);
            if (value - first < code.count[len]) return code.symbols[static_cast<size_t>(index + value - first)];
            index += code.count[len];
            first = (first + code.count[len]) << 1;
            value <<= 1;
        }
        throw kCorrupted;
    }

    void Blocks(std::string& out) {
        uint64_t blocks = 0;
        for (bool final = false; !final;) {
            if (blocks++ > in_.size() * 8 / 3) throw kCorrupted;
            final = Bits(1);
            int type = Bits(2);
            if (type == 0) {
                bit_ = (bit_ + 7) / 8 * 8;
                int length = Bits(16);
                if (Bits(16) != (~length & 0xFFFF)) throw kCorrupted;
                for (int i = 0; i < length; ++i) out.push_back(static_cast<char>(Bits(8)));
            } else if (type == 1) {
                std::vector<int> litLen(288, 8), dist(30, 5);
                for (int s = 144; s < 280; ++s) litLen[s] = s < 256 ? 9 : 7;
                Symbols(out, Build(litLen), Build(dist));
            } else if (type == 2) {
                Dynamic(out);
            } else {
                throw kCorrupted;
            }
            if (out.size() > kCap) throw "This document expands to an unreasonable size";
        }
    }

    void Dynamic(std::string& out) {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        size_t litLenCount = static_cast<size_t>(Bits(5) + 257), distCount = static_cast<size_t>(Bits(5) + 1);
        int codeLenCount = Bits(4) + 4;
        std::vector<int> codeLen(19), lengths;
        for (int i = 0; i < codeLenCount; ++i) codeLen[order[i]] = Bits(3);
        Code lengthCode = Build(codeLen);
        while (lengths.size() < litLenCount + distCount) {
            int symbol = Decode(lengthCode);
            if (symbol < 16) {
                lengths.push_back(symbol);
                continue;
            }
            if (symbol == 16 && lengths.empty()) throw kCorrupted;
            int value = symbol == 16 ? lengths.back() : 0;
            int repeat = symbol == 16 ? 3 + Bits(2) : symbol == 17 ? 3 + Bits(3) : 11 + Bits(7);
            if (lengths.size() + static_cast<size_t>(repeat) > litLenCount + distCount) throw kCorrupted;
            lengths.insert(lengths.end(), static_cast<size_t>(repeat), value);
        }
        auto split = lengths.begin() + static_cast<long>(litLenCount);
        Symbols(out, Build({lengths.begin(), split}), Build({split, lengths.end()}));
    }

    void Symbols(std::string& out, const Code& litLen, const Code& dist) {
        static const int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int distBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                         193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        for (;;) {
            int symbol = Decode(litLen);
            if (symbol == 256) return;
            if (symbol < 256) {
                out.push_back(static_cast<char>(symbol));
            } else {
                if (symbol >= 286) throw kCorrupted;
                int l = symbol - 257;
                int length = lengthBase[l] + Bits(l < 8 || l == 28 ? 0 : (l - 4) / 4);
                int d = Decode(dist);
                if (d >= 30) throw kCorrupted;
                size_t distance = static_cast<size_t>(distBase[d] + Bits(d < 4 ? 0 : (d - 2) / 2));
                if (distance > out.size()) throw kCorrupted;
                for (int i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
            }
            if (out.size() > kCap) throw "This document expands to an unreasonable size";
        }
    }

    std::span<const uint8_t> in_;
    size_t bit_ = 0;
};

inline InflateResult Inflate(std::span<const uint8_t> input) { return BitAtATimeInflater(input).Run(); }

}  // namespace reference
