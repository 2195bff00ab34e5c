// QOI decoder and encoder. Limits: a 14-byte header and an 8-byte end marker, so at
// least 22 bytes; the 32-bit sides are held to the pixel buffer's limits before any
// pixel is read. The end marker isn't checked: the chunks say when the image is full.
#include "convert/images/qoi.h"

#include <array>
#include <cstring>

#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr size_t kHeaderSize = 14;
constexpr size_t kEndMarkerSize = 8;
constexpr uint8_t kOpIndex = 0x00, kOpDiff = 0x40, kOpLuma = 0x80, kOpRun = 0xC0;
constexpr uint8_t kOpRgb = 0xFE, kOpRgba = 0xFF, kTagMask = 0xC0;
constexpr int kMaxRun = 62;  // run lengths 63 and 64 would collide with the RGB and RGBA tags

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

inline size_t Hash(const Rgba& p) { return (p.r * 3u + p.g * 5u + p.b * 7u + p.a * 11u) % 64; }

}  // namespace

PixelBuffer DecodeQoi(std::string_view file) {
    auto bytes = Bytes(file);
    if (bytes.size() < kHeaderSize + kEndMarkerSize || std::memcmp(bytes.data(), "qoif", 4) != 0) ThrowDamaged();
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
               static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
    };
    CheckImageSize(u32(4), u32(8));
    // One chunk byte gives at most a run of 62 pixels.
    CheckEnoughData((bytes.size() - kHeaderSize) * kMaxRun, uint64_t{u32(4)} * u32(8));
    PixelBuffer image = NewPixelBuffer(u32(4), u32(8));

    std::array<Rgba, 64> index{};
    for (auto& slot : index) slot.a = 0;  // the index starts all zero, alpha included
    Rgba pixel;
    const uint8_t* in = bytes.data() + kHeaderSize;
    const uint8_t* end = bytes.data() + bytes.size();
    uint8_t* out = image.bgra.data();
    uint8_t* outEnd = out + image.bgra.size();
    auto need = [&](size_t count) {
        if (static_cast<size_t>(end - in) < count) ThrowDamaged();
    };
    while (out != outEnd) {
        need(1);
        uint8_t op = *in++;
        size_t run = 1;
        if (op == kOpRgb) {
            need(3);
            pixel.r = in[0], pixel.g = in[1], pixel.b = in[2];
            in += 3;
        } else if (op == kOpRgba) {
            need(4);
            pixel.r = in[0], pixel.g = in[1], pixel.b = in[2], pixel.a = in[3];
            in += 4;
        } else if ((op & kTagMask) == kOpIndex) {
            pixel = index[op];
        } else if ((op & kTagMask) == kOpDiff) {
            pixel.r = static_cast<uint8_t>(pixel.r + ((op >> 4) & 3) - 2);
            pixel.g = static_cast<uint8_t>(pixel.g + ((op >> 2) & 3) - 2);
            pixel.b = static_cast<uint8_t>(pixel.b + (op & 3) - 2);
        } else if ((op & kTagMask) == kOpLuma) {
            need(1);
            uint8_t second = *in++;
            int dg = (op & 0x3F) - 32;
            pixel.r = static_cast<uint8_t>(pixel.r + dg + ((second >> 4) & 0x0F) - 8);
            pixel.g = static_cast<uint8_t>(pixel.g + dg);
            pixel.b = static_cast<uint8_t>(pixel.b + dg + (second & 0x0F) - 8);
        } else {
            run = (op & 0x3F) + 1u;
        }
        index[Hash(pixel)] = pixel;
        for (; run > 0 && out != outEnd; --run, out += 4) {
            out[0] = pixel.b;
            out[1] = pixel.g;
            out[2] = pixel.r;
            out[3] = pixel.a;
        }
    }
    return image;
}

std::string EncodeQoi(const PixelBuffer& pixels) {
    if (!BufferConsistent(pixels)) throw ConvertError(kImpossibleSize);
    const size_t count = pixels.bgra.size() / 4;
    // Written through a pointer into a buffer of the worst case (an RGBA chunk of 5 bytes
    // a pixel), then cut to size.
    std::string out(kHeaderSize + count * 5 + kEndMarkerSize, '\0');
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    std::memcpy(o, "qoif", 4);
    for (int i = 0; i < 4; ++i) {
        o[4 + i] = static_cast<uint8_t>(pixels.width >> (24 - 8 * i));
        o[8 + i] = static_cast<uint8_t>(pixels.height >> (24 - 8 * i));
    }
    o[12] = 4;  // channels
    o[13] = 0;  // sRGB with linear alpha
    o += kHeaderSize;

    std::array<Rgba, 64> index{};
    for (auto& slot : index) slot.a = 0;
    Rgba previous;
    int run = 0;
    const uint8_t* in = pixels.bgra.data();
    for (size_t i = 0; i < count; ++i, in += 4) {
        Rgba pixel{in[2], in[1], in[0], in[3]};
        if (pixel == previous) {
            if (++run == kMaxRun || i + 1 == count) {
                *o++ = static_cast<uint8_t>(kOpRun | (run - 1));
                run = 0;
            }
            continue;
        }
        if (run > 0) {
            *o++ = static_cast<uint8_t>(kOpRun | (run - 1));
            run = 0;
        }
        size_t slot = Hash(pixel);
        if (index[slot] == pixel) {
            *o++ = static_cast<uint8_t>(kOpIndex | slot);
        } else {
            index[slot] = pixel;
            if (pixel.a == previous.a) {
                int dr = static_cast<int8_t>(pixel.r - previous.r);
                int dg = static_cast<int8_t>(pixel.g - previous.g);
                int db = static_cast<int8_t>(pixel.b - previous.b);
                int drg = dr - dg, dbg = db - dg;
                if (dr >= -2 && dr <= 1 && dg >= -2 && dg <= 1 && db >= -2 && db <= 1) {
                    *o++ = static_cast<uint8_t>(kOpDiff | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2));
                } else if (dg >= -32 && dg <= 31 && drg >= -8 && drg <= 7 && dbg >= -8 && dbg <= 7) {
                    *o++ = static_cast<uint8_t>(kOpLuma | (dg + 32));
                    *o++ = static_cast<uint8_t>((drg + 8) << 4 | (dbg + 8));
                } else {
                    o[0] = kOpRgb, o[1] = pixel.r, o[2] = pixel.g, o[3] = pixel.b;
                    o += 4;
                }
            } else {
                o[0] = kOpRgba, o[1] = pixel.r, o[2] = pixel.g, o[3] = pixel.b, o[4] = pixel.a;
                o += 5;
            }
        }
        previous = pixel;
    }
    o += kEndMarkerSize - 1;
    *o++ = 1;  // seven zero bytes (already there) and a one
    out.resize(static_cast<size_t>(o - reinterpret_cast<uint8_t*>(out.data())));
    return out;
}

}  // namespace images
