#include "support/deflate_builder.h"

#include <zlib.h>

#include <random>
#include <stdexcept>

namespace testing_support {

namespace {

const unsigned kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

}  // namespace

std::string ZlibDeflate(std::string_view data, int level, int strategy, int windowBits, int memLevel) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -windowBits, memLevel, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
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
        if (pending_ == 0) bytes_.push_back('\0');
        if ((value >> i) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (1 << pending_));
        pending_ = (pending_ + 1) % 8;
    }
}

void BitWriter::Code(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Bits((code >> i) & 1, 1);
}

void BitWriter::AlignToByte() { pending_ = 0; }

void BitWriter::DynamicHeader(bool final, const std::vector<unsigned>& litLen, const std::vector<unsigned>& dist) {
    Header(final, 2);
    Bits(static_cast<uint32_t>(litLen.size() - 257), 5);  // HLIT
    Bits(static_cast<uint32_t>(dist.size() - 1), 5);      // HDIST
    Bits(19 - 4, 4);                                      // HCLEN: all 19 code-length code lengths
    const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (unsigned symbol : order) Bits(symbol < 16 ? 4 : 0, 3);
    for (unsigned length : litLen) Code(length, 4);  // with sixteen 4-bit codes, length n has code n
    for (unsigned length : dist) Code(length, 4);
}

void BitWriter::FixedSymbol(unsigned symbol) {
    if (symbol < 144)
        Code(0x30 + symbol, 8);
    else if (symbol < 256)
        Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        Code(symbol - 256, 7);
    else
        Code(0xC0 + symbol - 280, 8);
}

void BitWriter::FixedMatch(unsigned length, unsigned distance) {
    unsigned l = 28;
    while (kLengthBase[l] > length) --l;
    FixedSymbol(257 + l);
    Bits(length - kLengthBase[l], kLengthExtra[l]);
    unsigned d = 29;
    while (kDistBase[d] > distance) --d;
    FixedDistanceSymbol(d);
    Bits(distance - kDistBase[d], kDistExtra[d]);
}

std::string BitWriter::Take() {
    pending_ = 0;
    return std::move(bytes_);
}

std::vector<uint32_t> CanonicalCodes(const std::vector<unsigned>& lengths) {
    std::vector<unsigned> count(16);
    for (unsigned length : lengths) ++count[length];
    count[0] = 0;
    std::vector<uint32_t> next(16);
    uint32_t code = 0;
    for (unsigned len = 1; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

std::string MakeText(size_t size, uint32_t seed) {
    static const char* const words[] = {"the",     "document", "of",      "a",      "paragraph", "converter", "and",
                                        "table",   "heading",  "with",    "in",     "quickly",   "reads",     "zip",
                                        "archive", "entry",    "is",      "every",  "Quillaven", "text",      "writes",
                                        "block",   "page",     "numbers", "1024",   "files",     "to",        "output"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) {
        text += words[random() % std::size(words)];
        unsigned r = random() % 16;
        text += r == 0 ? ".\n" : r == 1 ? ", " : " ";
    }
    text.resize(size);
    return text;
}

std::string MakeXml(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document><w:body>";
    while (xml.size() < size) {
        xml += "<w:p><w:pPr><w:pStyle w:val=\"Heading" + std::to_string(random() % 4) + "\"/></w:pPr><w:r><w:t>";
        xml += MakeText(20 + random() % 200, static_cast<uint32_t>(random()));
        xml += "</w:t></w:r></w:p>";
    }
    xml.resize(size);
    return xml;
}

std::string MakeRandom(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

}  // namespace testing_support
