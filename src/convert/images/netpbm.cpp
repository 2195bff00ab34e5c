// Netpbm decoder (P1 to P7) and PPM encoder. Limits: header numbers have at most ten
// digits and must fit in 32 bits; the maximum sample value is 1..65535 (two bytes per
// binary sample above 255); PAM depth is 1..4, the channels of a BGRA pixel.
#include "convert/images/netpbm.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr int kMaxDigits = 10;         // a 32-bit number has at most ten decimal digits
constexpr uint32_t kMaxSample = 65535;  // two bytes per sample is the format's widest
constexpr uint32_t kMaxDepth = 4;       // grey, grey+alpha, RGB, RGBA

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the text numbers of headers and plain formats.
class TextCursor {
public:
    TextCursor(std::string_view text, size_t position) : text_(text), position_(position) {}
    size_t Position() const { return position_; }

    // Skips white space and comments, then reads up to `maxDigits` digits.
    uint32_t Number(int maxDigits = kMaxDigits) {
        SkipSpaceAndComments();
        uint64_t value = 0;
        int digits = 0;
        while (digits < maxDigits && position_ < text_.size() && IsDigit(text_[position_])) {
            value = value * 10 + static_cast<uint64_t>(text_[position_++] - '0');
            ++digits;
        }
        if (digits == 0 || value > UINT32_MAX) ThrowDamaged();
        return static_cast<uint32_t>(value);
    }

private:
    void SkipSpaceAndComments() {
        while (position_ < text_.size()) {
            if (IsSpace(text_[position_])) {
                ++position_;
            } else if (text_[position_] == '#') {
                while (position_ < text_.size() && text_[position_] != '\n' && text_[position_] != '\r') ++position_;
            } else {
                break;
            }
        }
    }
    std::string_view text_;
    size_t position_;
};

struct Header {
    int variant = 0;  // the digit after 'P'
    uint32_t width = 0, height = 0, maximum = 0, channels = 0;
    size_t dataStart = 0;  // the first sample of the binary variants
    size_t textStart = 0;  // where the plain variants' sample text may begin
};

// PAM: the first ENDHDR closes the header; each keyword's first occurrence before it
// gives its number. Other lines (TUPLTYPE among them) are ignored.
Header ReadPamHeader(std::string_view file) {
    Header header;
    header.variant = 7;
    size_t end = file.find("ENDHDR", 2);
    if (end == file.npos) ThrowDamaged();
    auto field = [&](std::string_view word) {
        size_t at = file.find(word, 2);
        if (at == file.npos || at > end) ThrowDamaged();
        return TextCursor(file, at + word.size()).Number();
    };
    header.width = field("WIDTH");
    header.height = field("HEIGHT");
    header.channels = field("DEPTH");
    header.maximum = field("MAXVAL");
    if (header.channels < 1 || header.channels > kMaxDepth) ThrowDamaged();
    size_t newline = file.find('\n', end);
    if (newline == file.npos) ThrowDamaged();
    header.dataStart = newline + 1;
    return header;
}

Header ReadHeader(std::string_view file) {
    if (file.size() < 3 || file[0] != 'P' || file[1] < '1' || file[1] > '7') ThrowDamaged();
    int variant = file[1] - '0';
    if (variant == 7) return ReadPamHeader(file);
    Header header;
    header.variant = variant;
    header.channels = (variant == 3 || variant == 6) ? 3 : 1;
    TextCursor cursor(file, 2);
    header.width = cursor.Number();
    header.height = cursor.Number();
    bool bitmap = variant == 1 || variant == 4;
    header.maximum = bitmap ? 1 : cursor.Number();
    // Binary samples follow the single white-space byte after the last number.
    header.textStart = cursor.Position();
    header.dataStart = header.textStart + 1;
    return header;
}

// Writes one pixel from its channel samples, already scaled to 0..255.
inline void Store(uint8_t* out, const uint8_t* samples, uint32_t channels) {
    switch (channels) {
        case 1: out[0] = out[1] = out[2] = samples[0]; out[3] = 255; break;
        case 2: out[0] = out[1] = out[2] = samples[0]; out[3] = samples[1]; break;
        case 3: out[0] = samples[2]; out[1] = samples[1]; out[2] = samples[0]; out[3] = 255; break;
        default: out[0] = samples[2]; out[1] = samples[1]; out[2] = samples[0]; out[3] = samples[3]; break;
    }
}

}  // namespace

PixelBuffer DecodeNetpbm(std::string_view file) {
    Header header = ReadHeader(file);
    if (header.maximum < 1 || header.maximum > kMaxSample) ThrowDamaged();
    CheckImageSize(header.width, header.height);
    // Every sample takes a byte at least (a digit, or a binary sample); P4 an eighth of one.
    uint64_t sampleCount = uint64_t{header.width} * header.height * header.channels;
    uint64_t have = header.dataStart <= file.size() ? file.size() - header.dataStart : 0;
    CheckEnoughData(have, header.variant == 4 ? (uint64_t{header.width} + 7) / 8 * header.height
                          : header.variant == 1 || header.variant == 2 || header.variant == 3 ? sampleCount
                                                                                                : sampleCount * (header.maximum > 255 ? 2 : 1));
    PixelBuffer image = NewPixelBuffer(header.width, header.height);

    // Every sample is scaled through one table: min(s, max) * 255 / max.
    std::vector<uint8_t> scale(header.maximum + 1);
    for (uint32_t s = 0; s <= header.maximum; ++s) scale[s] = static_cast<uint8_t>(s * 255u / header.maximum);
    auto scaled = [&](uint32_t sample) { return scale[sample < header.maximum ? sample : header.maximum]; };

    const uint32_t channels = header.channels;
    const size_t pixelCount = static_cast<size_t>(header.width) * header.height;
    uint8_t* out = image.bgra.data();
    uint8_t samples[4];

    switch (header.variant) {
        case 1: {  // one digit per pixel; a set bit is black
            TextCursor cursor(file, header.textStart);
            for (size_t i = 0; i < pixelCount; ++i) {
                uint32_t bit = cursor.Number(1) != 0 ? 1 : 0;
                samples[0] = scaled(1 - bit);
                Store(out + i * 4, samples, 1);
            }
            break;
        }
        case 2:
        case 3: {
            TextCursor cursor(file, header.textStart);
            for (size_t i = 0; i < pixelCount; ++i) {
                for (uint32_t c = 0; c < channels; ++c) samples[c] = scaled(cursor.Number());
                Store(out + i * 4, samples, channels);
            }
            break;
        }
        case 4: {  // rows of bits, most significant first, each row starting on a byte
            size_t rowBytes = (static_cast<size_t>(header.width) + 7) / 8;
            if (header.dataStart > file.size() || (file.size() - header.dataStart) / rowBytes < header.height)
                ThrowDamaged();
            const auto* in = reinterpret_cast<const uint8_t*>(file.data()) + header.dataStart;
            for (uint32_t y = 0; y < header.height; ++y, in += rowBytes) {
                for (uint32_t x = 0; x < header.width; ++x) {
                    unsigned bit = (in[x / 8] >> (7 - x % 8)) & 1;
                    samples[0] = bit ? 0 : 255;
                    Store(out, samples, 1);
                    out += 4;
                }
            }
            break;
        }
        default: {  // P5, P6, P7: one or two bytes per sample, big-endian
            size_t sampleBytes = header.maximum > 255 ? 2 : 1;
            uint64_t need = static_cast<uint64_t>(pixelCount) * channels * sampleBytes;
            if (header.dataStart > file.size() || file.size() - header.dataStart < need) ThrowDamaged();
            const auto* in = reinterpret_cast<const uint8_t*>(file.data()) + header.dataStart;
            for (size_t i = 0; i < pixelCount; ++i, out += 4) {
                for (uint32_t c = 0; c < channels; ++c) {
                    uint32_t sample = sampleBytes == 1 ? in[0] : (static_cast<uint32_t>(in[0]) << 8 | in[1]);
                    in += sampleBytes;
                    samples[c] = scaled(sample);
                }
                Store(out, samples, channels);
            }
            break;
        }
    }
    return image;
}

std::string EncodePpm(const PixelBuffer& pixels) {
    if (!BufferConsistent(pixels)) throw ConvertError(kImpossibleSize);
    std::string out = "P6\n" + std::to_string(pixels.width) + " " + std::to_string(pixels.height) + "\n255\n";
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(pixels.width) * pixels.height * 3);
    char* o = out.data() + start;
    const uint8_t* in = pixels.bgra.data();
    for (size_t i = 0, n = pixels.bgra.size() / 4; i < n; ++i, in += 4, o += 3) {
        unsigned a = in[3];
        auto onWhite = [a](unsigned c) { return static_cast<char>((c * a + 255 * (255 - a)) / 255); };
        o[0] = onWhite(in[2]);
        o[1] = onWhite(in[1]);
        o[2] = onWhite(in[0]);
    }
    return out;
}

}  // namespace images
