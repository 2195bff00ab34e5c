#include "support/deflate_builder.h"

#include <zlib.h>

#include <random>
#include <stdexcept>

namespace testing_support {

std::string ZlibDeflate(std::string_view data, int level, int strategy) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
    out.resize(stream.total_out);
    return out;
}

void BitWriter::Bits(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        if (used_ == 0) bytes_.push_back('\0');
        bytes_.back() = static_cast<char>(bytes_.back() | ((value >> i) & 1) << used_);
        used_ = (used_ + 1) % 8;
    }
}

void BitWriter::Code(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Bits(code >> i, 1);
}

void BitWriter::DynamicHeader(bool final, const std::vector<unsigned>& litLen, const std::vector<unsigned>& dist) {
    Header(final, 2);
    Bits(static_cast<uint32_t>(litLen.size() - 257), 5);  // HLIT
    Bits(static_cast<uint32_t>(dist.size() - 1), 5);      // HDIST
    Bits(19 - 4, 4);                                      // HCLEN: all 19 code-length code lengths
    for (unsigned symbol : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15}) Bits(symbol < 16 ? 4 : 0, 3);
    for (unsigned length : litLen) Code(length, 4);
    for (unsigned length : dist) Code(length, 4);
}

void BitWriter::FixedSymbol(unsigned symbol) {
    if (symbol < 144) Code(0x30 + symbol, 8);
    else if (symbol < 256) Code(0x190 + symbol - 144, 9);
    else if (symbol < 280) Code(symbol - 256, 7);
    else Code(0xC0 + symbol - 280, 8);
}

void BitWriter::FixedMatch(unsigned length, unsigned distance) {
    static const unsigned lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const unsigned distBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                          193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    unsigned l = 28, d = 29;
    while (lengthBase[l] > length) --l;
    while (distBase[d] > distance) --d;
    FixedSymbol(257 + l);
    Bits(length - lengthBase[l], l < 8 || l == 28 ? 0 : (l - 4) / 4);
    Code(d, 5);
    Bits(distance - distBase[d], d < 4 ? 0 : (d - 2) / 2);
}

std::string MakeText(size_t size, uint32_t seed) {
    static const char* const words[] = {"the",  "document", "of",   "a",     "paragraph", "<w:p>", "and",
                                        "</w:t>", "heading", "with", "zip",   "entry",     "1024",  "output"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) text += std::string(words[random() % std::size(words)]) + (random() % 9 ? " " : ".\n");
    text.resize(size);
    return text;
}

std::string MakeRandom(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

}  // namespace testing_support
