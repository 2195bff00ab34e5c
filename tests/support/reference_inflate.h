// A deliberately plain deflate decoder that reads every code one bit at a time: the
// yardstick for the product's table-driven one. The ZIP tests and the inflate fuzz
// harness require the same result from both: the output, or "error: " and the message.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace reference {

inline std::string Inflate(std::span<const uint8_t> in) {
    static const int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int distBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                     193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const char *truncated = "The document is truncated", *corrupted = "The document is corrupted";
    using Code = std::map<std::pair<int, int64_t>, int>;  // (length, code) to symbol
    std::string out;
    size_t bit = 0;
    auto bits = [&](int n) {
        int value = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            if (bit >= in.size() * 8) throw truncated;
            value |= ((in[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return value;
    };
    // Canonical codes: those of one length are consecutive numbers in symbol order,
    // starting at twice the number after the last code one bit shorter.
    auto build = [](const std::vector<int>& lengths) {
        Code code;
        int64_t next = 0;
        for (int len = 1; len <= 15; ++len, next <<= 1)
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] == len) code[{len, next++}] = static_cast<int>(s);
        return code;
    };
    auto decode = [&](const Code& code) {
        int64_t value = 0;
        for (int len = 1; len <= 15; ++len)
            if (auto found = code.find({len, value = value << 1 | bits(1)}); found != code.end()) return found->second;
        throw corrupted;
    };
    const char* tooLarge = "This document expands to an unreasonable size";
    auto symbols = [&](const Code& litLen, const Code& dist) {
        for (int symbol; (symbol = decode(litLen)) != 256;) {
            if (symbol >= 286) throw corrupted;
            if (symbol < 256) out.push_back(static_cast<char>(symbol));
            int l = symbol - 257, length = symbol < 256 ? 0 : lengthBase[l] + bits(l < 8 || l == 28 ? 0 : (l - 4) / 4);
            if (length > 0) {
                int d = decode(dist);
                if (d >= 30) throw corrupted;
                size_t distance = static_cast<size_t>(distBase[d] + bits(d < 4 ? 0 : (d - 2) / 2));
                if (distance > out.size()) throw corrupted;
                for (int i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
            }
            if (out.size() > 0x10000000) throw tooLarge;
        }
    };
    try {
        for (uint64_t blocks = 0, final = 0; !final;) {
            if (blocks++ > in.size() * 8 / 3) throw corrupted;
            final = static_cast<uint64_t>(bits(1));
            int type = bits(2);
            if (type == 0) {
                bit = (bit + 7) / 8 * 8;
                int length = bits(16);
                if (bits(16) != (~length & 0xFFFF)) throw corrupted;
                for (int i = 0; i < length; ++i) out.push_back(static_cast<char>(bits(8)));
            } else if (type == 1) {
                std::vector<int> litLen(288, 8);
                for (size_t s = 144; s < 280; ++s) litLen[s] = s < 256 ? 9 : 7;
                symbols(build(litLen), build(std::vector<int>(30, 5)));
            } else if (type == 2) {
                size_t litLenCount = static_cast<size_t>(bits(5) + 257), total = litLenCount + static_cast<size_t>(bits(5) + 1);
                std::vector<int> codeLen(19), lengths;
                for (int i = 0, count = bits(4) + 4; i < count; ++i) codeLen[static_cast<size_t>(order[i])] = bits(3);
                Code lengthCode = build(codeLen);
                while (lengths.size() < total) {
                    int symbol = decode(lengthCode), value = symbol, repeat = 1;
                    if (symbol == 16) {
                        if (lengths.empty()) throw corrupted;
                        value = lengths.back(), repeat = 3 + bits(2);
                    } else if (symbol > 16) {
                        value = 0, repeat = symbol == 17 ? 3 + bits(3) : 11 + bits(7);
                    }
                    if (lengths.size() + static_cast<size_t>(repeat) > total) throw corrupted;
                    lengths.insert(lengths.end(), static_cast<size_t>(repeat), value);
                }
                auto split = lengths.begin() + static_cast<long>(litLenCount);
                symbols(build({lengths.begin(), split}), build({split, lengths.end()}));
            } else {
                throw corrupted;
            }
            if (out.size() > 0x10000000) throw tooLarge;
        }
    } catch (const char* message) {
        return "error: " + std::string(message);
    }
    return out;
}

}  // namespace reference
