// Deflate streams for tests: zlib as an independent encoder, and a bit writer for
// hand-made streams that no encoder would produce (bad codes, cut blocks, bombs).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Raw deflate (no zlib header) of `data` by zlib with the given settings.
std::string ZlibDeflate(std::string_view data, int level, int strategy = 0);

// Writes fields least significant bit first and Huffman codes most significant bit
// first, as deflate stores them.
class BitWriter {
public:
    void Bits(uint32_t value, unsigned count);
    void Code(uint32_t code, unsigned length);
    void AlignToByte() { used_ = 0; }
    void Header(bool final, unsigned type) {
        Bits(final ? 1 : 0, 1);
        Bits(type, 2);
    }
    // A dynamic block header for these code lengths. The code-length code gives each of
    // the lengths 0 to 15 a 4-bit code and the repeat codes none, so each length is
    // written as itself in 4 bits.
    void DynamicHeader(bool final, const std::vector<unsigned>& litLen, const std::vector<unsigned>& dist);
    void FixedSymbol(unsigned symbol);
    // A length (3 to 258) and distance (1 to 32768) pair in the fixed code.
    void FixedMatch(unsigned length, unsigned distance);
    std::string Take() {
        used_ = 0;
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    unsigned used_ = 0;  // bits used in the last byte
};

inline std::span<const uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Deterministic test data: prose-like text and random bytes.
std::string MakeText(size_t size, uint32_t seed);
std::string MakeRandom(size_t size, uint32_t seed);

}  // namespace testing_support
