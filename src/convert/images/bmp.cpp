// BMP and DIB decoder, BMP encoder. Limits: header sizes of 12 (core), 16 to 64 (OS/2
// 2.x) and 40, 52, 56, 108, 124 or more (Windows); palettes of at most 2^bits entries
// (a larger declared count is tolerated only when it is really in the file); bit-field
// masks must be contiguous runs of bits. Pixels that run-length data never reaches stay
// transparent, as they would on screen.
#include "convert/images/bmp.h"

#include <algorithm>
#include <array>
#include <vector>

#include "convert/core/byte_reader.h"
#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kMaxHeaderSize = 4096;  // no defined header comes near; larger is garbage

enum class Coding { kRgb, kRle8, kRle4, kRle24, kBitFields };

struct Bgra {
    uint8_t b = 0, g = 0, r = 0, a = 255;
};

BitField MakeField(uint32_t mask) {
    BitField field;
    if (!BitField::Make(mask, field)) ThrowDamaged();  // holes in a mask
    return field;
}

struct Dib {
    int64_t width = 0, height = 0;  // height as stored: negative means top-down
    uint32_t bits = 0;
    Coding coding = Coding::kRgb;
    std::array<BitField, 4> fields;  // red, green, blue, alpha
    std::vector<Bgra> palette;
    size_t headerEnd = 0;  // where the header and its masks end
    size_t end = 0;        // where the palette ends: the pixels of an icon's DIB
};

[[noreturn]] void Unsupported() { throw ConvertError(kCouldNotOpen); }

// Reads the DIB header at `at`. The palette is read no further than `paletteLimit`: a
// file's pixel offset (some files' palettes are shorter than their bit count allows), or
// the end of an icon's entry.
Dib ReadDib(std::span<const uint8_t> data, size_t at, size_t paletteLimit, bool icon) {
    ByteReader in(data, at);
    uint32_t headerSize = in.U32LE();
    if (!in.Ok()) ThrowDamaged();
    bool core = headerSize == kCoreHeaderSize;
    bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
                   headerSize >= kV5HeaderSize;
    bool os2 = !windows && headerSize >= 16 && headerSize <= 64;
    if ((!core && !windows && !os2) || headerSize > kMaxHeaderSize) ThrowDamaged();
    if (!in.Has(headerSize - 4)) ThrowDamaged();

    Dib dib;
    uint32_t compression = 0, colorsUsed = 0;
    std::array<uint32_t, 4> masks{};
    if (core) {
        dib.width = in.U16LE();
        dib.height = in.U16LE();
        in.Skip(2);
        dib.bits = in.U16LE();
    } else {
        dib.width = static_cast<int32_t>(in.U32LE());
        dib.height = static_cast<int32_t>(in.U32LE());
        in.Skip(2);  // planes: always 1, and wrong in enough files not to matter
        dib.bits = in.U16LE();
        if (headerSize >= 20) compression = in.U32LEAt(at + 16);
        if (headerSize >= 36) colorsUsed = in.U32LEAt(at + 32);
        if (windows && headerSize >= 52)
            for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i) masks[i] = in.U32LEAt(at + 40 + 4 * i);
    }
    size_t position = at + headerSize;

    switch (dib.bits) {
        case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
        case 0: case 64: Unsupported();  // JPEG or PNG inside, or 16-bit-per-channel
        default: ThrowDamaged();
    }
    if (os2 && compression == 3) Unsupported();  // Huffman 1D fax coding
    if (os2 && compression == 4) compression = 100;  // RLE24, numbered apart from Windows' JPEG
    switch (compression) {
        case 0: dib.coding = Coding::kRgb; break;
        case 1: dib.coding = Coding::kRle8; if (dib.bits != 8) ThrowDamaged(); break;
        case 2: dib.coding = Coding::kRle4; if (dib.bits != 4) ThrowDamaged(); break;
        case 100: dib.coding = Coding::kRle24; if (dib.bits != 24) ThrowDamaged(); break;
        case 3:
        case 6:
            dib.coding = Coding::kBitFields;
            if (dib.bits != 16 && dib.bits != 32) ThrowDamaged();
            if (headerSize == kInfoHeaderSize) {  // the masks follow a plain info header
                int count = compression == 6 ? 4 : 3;
                for (int i = 0; i < count; ++i) masks[i] = in.U32LEAt(position + 4 * i);
                position += 4 * count;
                if (!in.Ok()) ThrowDamaged();
            }
            break;
        case 4: case 5: case 11: case 12: case 13: Unsupported();  // JPEG, PNG, CMYK
        default: ThrowDamaged();
    }

    // Plain 16 and 32-bit pixels have fixed layouts; 32-bit may still say where alpha is
    // (icons always have it in the fourth byte). Masks of other codings mean nothing.
    if (dib.coding == Coding::kRgb) {
        uint32_t alphaMask = icon ? 0xFF000000u : masks[3];
        if (alphaMask != 0xFF000000u && !(BitField::Make(alphaMask, dib.fields[3]) && (alphaMask & 0x00FFFFFFu) == 0))
            alphaMask = 0;
        if (dib.bits == 16) masks = {0x7C00, 0x03E0, 0x001F, 0};
        if (dib.bits == 32) masks = {0x00FF0000, 0x0000FF00, 0x000000FF, alphaMask};
    }
    if (dib.bits == 16 || dib.bits == 32)
        for (int i = 0; i < 4; ++i) dib.fields[i] = MakeField(masks[i]);

    dib.headerEnd = position;
    if (dib.bits <= 8) {
        size_t entrySize = core ? 3 : 4;
        size_t maxEntries = size_t{1} << dib.bits;
        uint64_t stored = core || colorsUsed == 0 ? maxEntries : colorsUsed;
        // More entries than the pixels can index are tolerated only when really present.
        if (stored > maxEntries && position + stored * entrySize > data.size()) ThrowDamaged();
        uint64_t usable = std::min<uint64_t>(stored, maxEntries);
        usable = std::min<uint64_t>(usable, paletteLimit > position ? (paletteLimit - position) / entrySize : 0);
        auto count = static_cast<size_t>(usable);
        if (position + count * entrySize > data.size()) ThrowDamaged();
        dib.palette.resize(maxEntries);  // entries the file leaves out are opaque black
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* entry = data.data() + position + i * entrySize;
            dib.palette[i] = {entry[0], entry[1], entry[2], 255};
        }
        position += static_cast<size_t>(stored) * entrySize;
    } else if (colorsUsed > 0 && !core) {  // an optional palette for display on 8-bit screens
        if (colorsUsed > data.size() / 4) ThrowDamaged();
        position += size_t{colorsUsed} * 4;
    }
    dib.end = position;
    return dib;
}

// Puts a pixel in storage order (row 0 is the first row in the file).
class Canvas {
public:
    Canvas(PixelBuffer& image, bool topDown) : image_(image), topDown_(topDown) {}
    uint8_t* Row(uint32_t storedRow) {
        uint32_t y = topDown_ ? storedRow : image_.height - 1 - storedRow;
        return image_.bgra.data() + static_cast<size_t>(y) * image_.width * 4;
    }

private:
    PixelBuffer& image_;
    bool topDown_;
};

inline void Put(uint8_t* out, const Bgra& pixel) {
    out[0] = pixel.b;
    out[1] = pixel.g;
    out[2] = pixel.r;
    out[3] = pixel.a;
}

void DecodeUncompressed(std::span<const uint8_t> data, size_t start, const Dib& dib, PixelBuffer& image,
                        bool topDown) {
    const uint32_t width = image.width, height = image.height;
    uint64_t stride = (static_cast<uint64_t>(width) * dib.bits + 31) / 32 * 4;
    uint64_t lastRow = (static_cast<uint64_t>(width) * dib.bits + 7) / 8;
    if (start > data.size() || (data.size() - start) < stride * (height - 1) + lastRow) ThrowDamaged();
    Canvas canvas(image, topDown);
    const auto& f = dib.fields;
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* in = data.data() + start + row * stride;
        uint8_t* out = canvas.Row(row);
        switch (dib.bits) {
            case 1: case 2: case 4: case 8: {
                const unsigned perByte = 8 / dib.bits, mask = (1u << dib.bits) - 1;
                for (uint32_t x = 0; x < width; ++x, out += 4) {
                    unsigned shift = 8 - dib.bits * (x % perByte + 1);
                    Put(out, dib.palette[(in[x / perByte] >> shift) & mask]);
                }
                break;
            }
            case 24:
                for (uint32_t x = 0; x < width; ++x, out += 4, in += 3) Put(out, {in[0], in[1], in[2], 255});
                break;
            default: {  // 16 or 32 bits through the masks
                const size_t bytes = dib.bits / 8;
                for (uint32_t x = 0; x < width; ++x, out += 4, in += bytes) {
                    uint32_t v = bytes == 2 ? uint32_t{in[0]} | uint32_t{in[1]} << 8
                                            : uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 |
                                                  uint32_t{in[3]} << 24;
                    Put(out, {f[2].Extract(v), f[1].Extract(v), f[0].Extract(v),
                              f[3].bits ? f[3].Extract(v) : uint8_t{255}});
                }
            }
        }
    }
}

// RLE4, RLE8 and RLE24. The image starts transparent: deltas and early line ends skip
// pixels. Runs past a row's end are dropped; data that ends before the end-of-bitmap
// code and before the last row is damaged. Without an image the data is only checked,
// so that damaged data fails before the picture's memory is taken.
void DecodeRunLength(std::span<const uint8_t> data, size_t start, const Dib& dib, uint32_t width, uint32_t height,
                     PixelBuffer* image, bool topDown) {
    if (image)
        for (size_t i = 3; i < image->bgra.size(); i += 4) image->bgra[i] = 0;
    if (start > data.size()) ThrowDamaged();
    const uint8_t* in = data.data() + start;
    const uint8_t* end = data.data() + data.size();
    uint64_t x = 0, row = 0;
    auto put = [&](const Bgra& pixel) {
        if (image && x < width && row < height) Put(Canvas(*image, topDown).Row(static_cast<uint32_t>(row)) + x * 4, pixel);
        ++x;
    };
    auto need = [&](size_t count) {
        if (static_cast<size_t>(end - in) < count) ThrowDamaged();
    };
    auto index = [&](unsigned value) { return dib.palette[value]; };
    while (row < height) {
        if (end - in < 2) {
            if (row + 1 == height && x >= width) return;  // complete, only the end code is missing
            ThrowDamaged();
        }
        unsigned count = in[0], value = in[1];
        in += 2;
        if (count > 0) {
            if (dib.coding == Coding::kRle8) {
                for (unsigned i = 0; i < count; ++i) put(index(value));
            } else if (dib.coding == Coding::kRle4) {
                for (unsigned i = 0; i < count; ++i) put(index(i % 2 ? value & 15 : value >> 4));
            } else {
                need(2);
                Bgra pixel{static_cast<uint8_t>(value), in[0], in[1], 255};
                in += 2;
                for (unsigned i = 0; i < count; ++i) put(pixel);
            }
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // delta
            need(2);
            x += in[0];
            row += in[1];
            in += 2;
        } else {  // a literal run, padded to an even number of bytes
            size_t bytes = dib.coding == Coding::kRle8   ? value
                           : dib.coding == Coding::kRle4 ? (value + 1) / 2
                                                         : value * 3;
            need(bytes);
            for (unsigned i = 0; i < value; ++i) {
                if (dib.coding == Coding::kRle8) put(index(in[i]));
                else if (dib.coding == Coding::kRle4) put(index(i % 2 ? in[i / 2] & 15 : in[i / 2] >> 4));
                else put({in[i * 3], in[i * 3 + 1], in[i * 3 + 2], 255});
            }
            in += bytes + (bytes & 1);
            if (in > end) in = end;
        }
    }
}

// Decodes the pixels of a DIB whose colour data starts at `start`.
PixelBuffer DecodePixels(std::span<const uint8_t> data, size_t start, const Dib& dib, int64_t height) {
    bool topDown = height < 0;
    uint64_t width = dib.width < 0 ? 0 : static_cast<uint64_t>(dib.width);
    uint64_t rows = static_cast<uint64_t>(topDown ? -height : height);
    CheckImageSize(width, rows);
    bool runLength = dib.coding == Coding::kRle4 || dib.coding == Coding::kRle8 || dib.coding == Coding::kRle24;
    if (!runLength) {  // every row but the last with its padding, the last at least to its final pixel
        uint64_t have = start <= data.size() ? data.size() - start : 0;
        CheckEnoughData(have, (width * dib.bits + 31) / 32 * 4 * (rows - 1) + (width * dib.bits + 7) / 8);
    }
    if (runLength) DecodeRunLength(data, start, dib, static_cast<uint32_t>(width), static_cast<uint32_t>(rows), nullptr, topDown);
    PixelBuffer image = NewPixelBuffer(width, rows);
    if (runLength)
        DecodeRunLength(data, start, dib, image.width, image.height, &image, topDown);
    else
        DecodeUncompressed(data, start, dib, image, topDown);
    return image;
}

bool AllAlphaZero(const PixelBuffer& image) {
    for (size_t i = 3; i < image.bgra.size(); i += 4)
        if (image.bgra[i] != 0) return false;
    return true;
}

void MakeOpaque(PixelBuffer& image) {
    for (size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 255;
}

void PutU16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void PutU32(std::string& out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

}  // namespace

PixelBuffer DecodeBmp(std::string_view file) {
    auto data = Bytes(file);
    if (data.size() < kFileHeaderSize + 4 || data[0] != 'B' || data[1] != 'M') ThrowDamaged();
    ByteReader header(data);
    uint32_t dataStart = header.U32LEAt(10);
    Dib dib = ReadDib(data, kFileHeaderSize, dataStart, false);
    // A pixel offset inside the headers can't be right; one past the end is cut short.
    if (dataStart < dib.headerEnd || dataStart > data.size()) ThrowDamaged();
    PixelBuffer image = DecodePixels(data, dataStart, dib, dib.height);
    // Bit fields that name an alpha channel nobody filled in mean an opaque image.
    if (dib.fields[3].bits && AllAlphaZero(image)) MakeOpaque(image);
    return image;
}

PixelBuffer DecodeIconDib(std::string_view entry) {
    auto data = Bytes(entry);
    Dib dib = ReadDib(data, 0, data.size(), true);
    int64_t height = dib.height / 2;  // the colour rows and the mask rows
    PixelBuffer image = DecodePixels(data, dib.end, dib, height);
    if (dib.bits == 32 && !AllAlphaZero(image)) return image;

    // The AND mask: one bit a pixel, rows padded to four bytes, set where transparent.
    uint64_t colourStride = (static_cast<uint64_t>(image.width) * dib.bits + 31) / 32 * 4;
    uint64_t maskStart = dib.end + colourStride * image.height;
    uint64_t maskStride = (static_cast<uint64_t>(image.width) + 31) / 32 * 4;
    bool topDown = height < 0;
    if (maskStart + maskStride * image.height > data.size() || dib.coding != Coding::kRgb) {
        if (dib.bits == 32) {  // alpha all zero and no usable mask: show the colours
            MakeOpaque(image);
            return image;
        }
        ThrowDamaged();
    }
    for (uint32_t row = 0; row < image.height; ++row) {
        const uint8_t* mask = data.data() + maskStart + row * maskStride;
        uint32_t y = topDown ? row : image.height - 1 - row;
        uint8_t* out = image.bgra.data() + static_cast<size_t>(y) * image.width * 4;
        for (uint32_t x = 0; x < image.width; ++x) out[x * 4 + 3] = (mask[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
    }
    return image;
}

std::string EncodeBmp(const PixelBuffer& pixels, bool withAlpha) {
    if (!BufferConsistent(pixels) || pixels.width == 0 || pixels.height == 0) throw ConvertError(kImpossibleSize);
    const uint32_t width = pixels.width, height = pixels.height;
    const uint32_t headerSize = withAlpha ? kV5HeaderSize : kInfoHeaderSize;
    const uint64_t stride = withAlpha ? uint64_t{width} * 4 : (uint64_t{width} * 3 + 3) / 4 * 4;
    const uint64_t imageSize = stride * height;
    const uint64_t fileSize = kFileHeaderSize + headerSize + imageSize;
    if (fileSize > UINT32_MAX) throw ConvertError("The image is too large for this format");
    constexpr uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch

    std::string out;
    out.reserve(static_cast<size_t>(fileSize));
    out += "BM";
    PutU32(out, static_cast<uint32_t>(fileSize));
    PutU32(out, 0);
    PutU32(out, kFileHeaderSize + headerSize);
    PutU32(out, headerSize);
    PutU32(out, width);
    PutU32(out, height);  // positive: bottom-up, what every reader expects
    PutU16(out, 1);
    PutU16(out, withAlpha ? 32 : 24);
    PutU32(out, withAlpha ? 3 : 0);  // bit fields : plain RGB
    PutU32(out, static_cast<uint32_t>(imageSize));
    PutU32(out, kPixelsPerMetre);
    PutU32(out, kPixelsPerMetre);
    PutU32(out, 0);
    PutU32(out, 0);
    if (withAlpha) {
        for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) PutU32(out, mask);
        PutU32(out, 0x73524742);  // 'sRGB' colour space
        out.append(36 + 12, '\0');  // endpoints and gamma: unused with sRGB
        PutU32(out, 4);            // rendering intent: perceptual (LCS_GM_IMAGES)
        out.append(12, '\0');      // no profile; reserved
    }
    for (uint32_t row = height; row-- > 0;) {
        const uint8_t* in = pixels.bgra.data() + static_cast<size_t>(row) * width * 4;
        if (withAlpha) {
            out.append(reinterpret_cast<const char*>(in), static_cast<size_t>(width) * 4);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x, in += 4) {
            unsigned a = in[3];
            for (int c = 0; c < 3; ++c) out += static_cast<char>((in[c] * a + 255 * (255 - a)) / 255);
        }
        out.append(static_cast<size_t>(stride - uint64_t{width} * 3), '\0');
    }
    return out;
}

}  // namespace images
