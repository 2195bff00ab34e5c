// DDS decoder and encoder. Limits: the 124-byte header (plus 20 for DX10) before the
// data; rows of uncompressed data are packed to whole bytes, blocks are 4 x 4 pixels of
// 8 (BC1) or 16 bytes (BC2, BC3). Mip levels, faces and array slices after the first
// surface are not read: a converter shows one picture.
#include "convert/images/dds.h"

#include <array>
#include <cstring>

#include "convert/core/byte_reader.h"
#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr size_t kMagicSize = 4;
constexpr size_t kHeaderSize = 124;
constexpr size_t kDx10HeaderSize = 20;
constexpr size_t kPixelFormatAt = kMagicSize + 72;
constexpr uint32_t kAlphaPixels = 0x1, kAlphaOnly = 0x2, kFourCc = 0x4, kRgb = 0x40, kYuv = 0x200,
                   kLuminance = 0x20000;

constexpr uint32_t FourCc(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

enum class Format { kBc1, kBc2, kBc3, kMasks, kRgba8, kBgra8, kBgrx8, kB5G6R5, kB5G5R5A1, kR10G10B10A2 };

BitField MakeField(uint32_t mask) {
    BitField field;
    if (!BitField::Make(mask, field)) ThrowDamaged();
    return field;
}

struct Layout {
    Format format = Format::kMasks;
    bool premultiplied = false;  // DXT2 and DXT4
    uint32_t bitCount = 0;       // for masks
    BitField red, green, blue, alpha;
    bool luminance = false, hasAlpha = false;
};

// ---- Block decoding ----

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

Rgba Expand565(uint16_t c) {
    unsigned r = c >> 11, g = (c >> 5) & 63, b = c & 31;
    return {static_cast<uint8_t>(r << 3 | r >> 2), static_cast<uint8_t>(g << 2 | g >> 4),
            static_cast<uint8_t>(b << 3 | b >> 2), 255};
}
uint8_t Mix(unsigned a, unsigned b, unsigned wa, unsigned wb, unsigned total) {
    return static_cast<uint8_t>((a * wa + b * wb + total / 2) / total);
}

// Colour part of a block. BC1 alone switches to three colours and transparent black when
// the first endpoint isn't the larger; BC2 and BC3 always use four colours.
void ColourBlock(const uint8_t* block, bool bc1, std::array<Rgba, 16>& out) {
    uint16_t c0 = static_cast<uint16_t>(block[0] | block[1] << 8), c1 = static_cast<uint16_t>(block[2] | block[3] << 8);
    std::array<Rgba, 4> colours{Expand565(c0), Expand565(c1)};
    const Rgba &a = colours[0], &b = colours[1];
    if (!bc1 || c0 > c1) {
        colours[2] = {Mix(a.r, b.r, 2, 1, 3), Mix(a.g, b.g, 2, 1, 3), Mix(a.b, b.b, 2, 1, 3), 255};
        colours[3] = {Mix(a.r, b.r, 1, 2, 3), Mix(a.g, b.g, 1, 2, 3), Mix(a.b, b.b, 1, 2, 3), 255};
    } else {
        colours[2] = {Mix(a.r, b.r, 1, 1, 2), Mix(a.g, b.g, 1, 1, 2), Mix(a.b, b.b, 1, 1, 2), 255};
        colours[3] = {0, 0, 0, 0};
    }
    uint32_t indices = block[4] | block[5] << 8 | block[6] << 16 | uint32_t{block[7]} << 24;
    for (int i = 0; i < 16; ++i) out[i] = colours[(indices >> (2 * i)) & 3];
}

void ExplicitAlpha(const uint8_t* block, std::array<Rgba, 16>& out) {
    for (int i = 0; i < 16; ++i) out[i].a = static_cast<uint8_t>(((block[i / 2] >> (4 * (i % 2))) & 15) * 17);
}

void InterpolatedAlpha(const uint8_t* block, std::array<Rgba, 16>& out) {
    unsigned a0 = block[0], a1 = block[1];
    std::array<uint8_t, 8> values{static_cast<uint8_t>(a0), static_cast<uint8_t>(a1)};
    if (a0 > a1) {
        for (unsigned i = 1; i < 7; ++i) values[i + 1] = Mix(a0, a1, 7 - i, i, 7);
    } else {
        for (unsigned i = 1; i < 5; ++i) values[i + 1] = Mix(a0, a1, 5 - i, i, 5);
        values[6] = 0;
        values[7] = 255;
    }
    uint64_t indices = 0;
    for (int i = 0; i < 6; ++i) indices |= uint64_t{block[2 + i]} << (8 * i);
    for (int i = 0; i < 16; ++i) out[i].a = values[(indices >> (3 * i)) & 7];
}

void DecodeBlocks(const uint8_t* in, const Layout& layout, PixelBuffer& image) {
    const size_t blockSize = layout.format == Format::kBc1 ? 8 : 16;
    const uint32_t across = (image.width + 3) / 4, down = (image.height + 3) / 4;
    std::array<Rgba, 16> texels;
    for (uint32_t by = 0; by < down; ++by)
        for (uint32_t bx = 0; bx < across; ++bx, in += blockSize) {
            if (layout.format == Format::kBc1) {
                ColourBlock(in, true, texels);
            } else {
                ColourBlock(in + 8, false, texels);
                if (layout.format == Format::kBc2) ExplicitAlpha(in, texels);
                else InterpolatedAlpha(in, texels);
            }
            for (uint32_t ty = 0; ty < 4 && by * 4 + ty < image.height; ++ty)
                for (uint32_t tx = 0; tx < 4 && bx * 4 + tx < image.width; ++tx) {
                    Rgba t = texels[ty * 4 + tx];
                    if (layout.premultiplied && t.a > 0 && t.a < 255) {
                        auto undo = [&](uint8_t c) { return static_cast<uint8_t>(std::min(255u, (c * 255u + t.a / 2) / t.a)); };
                        t = {undo(t.r), undo(t.g), undo(t.b), t.a};
                    }
                    uint8_t* out = image.bgra.data() + ((static_cast<size_t>(by) * 4 + ty) * image.width + bx * 4 + tx) * 4;
                    out[0] = t.b;
                    out[1] = t.g;
                    out[2] = t.r;
                    out[3] = t.a;
                }
        }
}

// ---- Uncompressed ----

uint32_t BytesPerPixel(const Layout& layout) {
    switch (layout.format) {
        case Format::kB5G6R5: case Format::kB5G5R5A1: return 2;
        case Format::kMasks: return layout.bitCount / 8;
        default: return 4;
    }
}

void DecodePixels(const uint8_t* in, const Layout& layout, PixelBuffer& image) {
    const uint32_t bytes = BytesPerPixel(layout);
    uint8_t* out = image.bgra.data();
    for (size_t i = 0, n = static_cast<size_t>(image.width) * image.height; i < n; ++i, in += bytes, out += 4) {
        uint32_t v = 0;
        for (uint32_t k = 0; k < bytes; ++k) v |= uint32_t{in[k]} << (8 * k);
        uint8_t r, g, b, a = 255;
        switch (layout.format) {
            case Format::kRgba8: r = in[0], g = in[1], b = in[2], a = in[3]; break;
            case Format::kBgra8: b = in[0], g = in[1], r = in[2], a = in[3]; break;
            case Format::kBgrx8: b = in[0], g = in[1], r = in[2]; break;
            case Format::kB5G6R5: {
                Rgba c = Expand565(static_cast<uint16_t>(v));
                r = c.r, g = c.g, b = c.b;
                break;
            }
            case Format::kB5G5R5A1:
                r = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
                g = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
                b = static_cast<uint8_t>((v & 31) * 255 / 31);
                a = (v >> 15) ? 255 : 0;
                break;
            case Format::kR10G10B10A2:
                r = static_cast<uint8_t>((v & 1023) >> 2);
                g = static_cast<uint8_t>(((v >> 10) & 1023) >> 2);
                b = static_cast<uint8_t>(((v >> 20) & 1023) >> 2);
                a = static_cast<uint8_t>((v >> 30) * 85);
                break;
            default:
                if (layout.luminance) {
                    r = g = b = layout.red.Extract(v);
                } else {
                    r = layout.red.Extract(v), g = layout.green.Extract(v), b = layout.blue.Extract(v);
                }
                if (layout.hasAlpha) a = layout.alpha.Extract(v);
                break;
        }
        out[0] = b;
        out[1] = g;
        out[2] = r;
        out[3] = a;
    }
}

Layout FromDxgi(uint32_t dxgi) {
    Layout layout;
    switch (dxgi) {
        case 70: case 71: case 72: layout.format = Format::kBc1; break;
        case 73: case 74: case 75: layout.format = Format::kBc2; break;
        case 76: case 77: case 78: layout.format = Format::kBc3; break;
        case 27: case 28: case 29: layout.format = Format::kRgba8; break;
        case 87: case 90: case 91: layout.format = Format::kBgra8; break;
        case 88: case 92: case 93: layout.format = Format::kBgrx8; break;
        case 85: layout.format = Format::kB5G6R5; break;
        case 86: layout.format = Format::kB5G5R5A1; break;
        case 23: case 24: layout.format = Format::kR10G10B10A2; break;
        default: throw ConvertError(kCouldNotOpen);
    }
    return layout;
}

Layout FromLegacy(ByteReader& in) {
    uint32_t flags = in.U32LEAt(kPixelFormatAt + 4);
    uint32_t fourCc = in.U32LEAt(kPixelFormatAt + 8);
    Layout layout;
    if (flags & kFourCc) {
        if (fourCc == FourCc("DXT1")) layout.format = Format::kBc1;
        else if (fourCc == FourCc("DXT2") || fourCc == FourCc("DXT3")) layout.format = Format::kBc2;
        else if (fourCc == FourCc("DXT4") || fourCc == FourCc("DXT5")) layout.format = Format::kBc3;
        else throw ConvertError(kCouldNotOpen);
        layout.premultiplied = fourCc == FourCc("DXT2") || fourCc == FourCc("DXT4");
        return layout;
    }
    if (flags & kYuv) throw ConvertError(kCouldNotOpen);
    if (!(flags & (kRgb | kLuminance | kAlphaOnly | kAlphaPixels))) ThrowDamaged();
    layout.format = Format::kMasks;
    layout.bitCount = in.U32LEAt(kPixelFormatAt + 12);
    if (layout.bitCount != 8 && layout.bitCount != 16 && layout.bitCount != 24 && layout.bitCount != 32) ThrowDamaged();
    layout.luminance = (flags & kLuminance) != 0;
    layout.red = MakeField(in.U32LEAt(kPixelFormatAt + 16));
    layout.green = MakeField(in.U32LEAt(kPixelFormatAt + 20));
    layout.blue = MakeField(in.U32LEAt(kPixelFormatAt + 24));
    layout.alpha = MakeField(in.U32LEAt(kPixelFormatAt + 28));
    layout.hasAlpha = (flags & (kAlphaPixels | kAlphaOnly)) && layout.alpha.bits > 0;
    return layout;
}

void PutU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

PixelBuffer DecodeDds(std::string_view file) {
    auto data = Bytes(file);
    if (data.size() < kMagicSize + kHeaderSize || std::memcmp(data.data(), "DDS ", 4) != 0) ThrowDamaged();
    ByteReader in(data);
    uint32_t height = in.U32LEAt(12), width = in.U32LEAt(16);
    size_t start = kMagicSize + kHeaderSize;
    bool dx10 = (in.U32LEAt(kPixelFormatAt + 4) & kFourCc) && in.U32LEAt(kPixelFormatAt + 8) == FourCc("DX10");
    Layout layout;
    if (dx10) {
        if (data.size() < start + kDx10HeaderSize) ThrowDamaged();
        layout = FromDxgi(in.U32LEAt(start));
        start += kDx10HeaderSize;
    } else {
        layout = FromLegacy(in);
    }
    CheckImageSize(width, height);
    bool blocks = layout.format == Format::kBc1 || layout.format == Format::kBc2 || layout.format == Format::kBc3;
    uint64_t need = blocks ? uint64_t{(width + 3) / 4} * ((height + 3) / 4) * (layout.format == Format::kBc1 ? 8 : 16)
                           : uint64_t{width} * height * BytesPerPixel(layout);
    CheckEnoughData(data.size() - start, need);
    PixelBuffer image = NewPixelBuffer(width, height);
    if (blocks) DecodeBlocks(data.data() + start, layout, image);
    else DecodePixels(data.data() + start, layout, image);
    return image;
}

std::string EncodeDds(const PixelBuffer& pixels) {
    if (!BufferConsistent(pixels) || pixels.width == 0 || pixels.height == 0) throw ConvertError(kImpossibleSize);
    std::string out = "DDS ";
    PutU32(out, kHeaderSize);
    PutU32(out, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000);  // caps, height, width, pitch, pixel format
    PutU32(out, pixels.height);
    PutU32(out, pixels.width);
    PutU32(out, pixels.width * 4);  // pitch
    PutU32(out, 0);                 // depth
    PutU32(out, 0);                 // mip levels
    out.append(11 * 4, '\0');
    PutU32(out, 32);  // pixel format: size
    PutU32(out, kRgb | kAlphaPixels);
    PutU32(out, 0);
    PutU32(out, 32);
    for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) PutU32(out, mask);
    PutU32(out, 0x1000);  // a plain texture
    out.append(4 * 4, '\0');
    out.append(reinterpret_cast<const char*>(pixels.bgra.data()), pixels.bgra.size());
    return out;
}

}  // namespace images
