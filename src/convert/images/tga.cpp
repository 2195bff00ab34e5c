// TGA decoder and encoder. Limits: the 16-bit size fields of the header and the pixel
// buffer's limits; the colour map holds at most 65535 entries (a 16-bit count). The
// footer and extension area are ignored: nothing in them changes the pixels.
#include "convert/images/tga.h"

#include <array>
#include <vector>

#include "convert/core/byte_reader.h"
#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr size_t kHeaderSize = 18;
constexpr uint8_t kColourMapped = 1, kTrueColour = 2, kGrey = 3;
constexpr uint8_t kRunLengthBit = 8;
constexpr uint8_t kTopOrigin = 0x20, kRightOrigin = 0x10;
constexpr uint32_t kMaxTgaSide = 65535;  // the header's 16-bit fields

struct Bgra {
    uint8_t b = 0, g = 0, r = 0, a = 255;
};

[[noreturn]] void Unsupported() { throw ConvertError("This kind of TGA isn't supported"); }

// One stored value of `size` bytes as a pixel. Grey images repeat their first byte;
// two-byte colour is 5-5-5 with the top bit ignored (it is an attribute bit whose use
// no writer agrees on, so it never makes a pixel transparent).
Bgra Convert(const uint8_t* value, size_t size, bool grey, bool alpha) {
    Bgra pixel;
    if (size == 1 || grey) {
        pixel.b = pixel.g = pixel.r = value[0];
        if (size == 2 && alpha) pixel.a = value[1];
    } else if (size == 2) {
        unsigned word = value[0] | (value[1] << 8);
        pixel.b = static_cast<uint8_t>((word & 31) * 255 / 31);
        pixel.g = static_cast<uint8_t>(((word >> 5) & 31) * 255 / 31);
        pixel.r = static_cast<uint8_t>(((word >> 10) & 31) * 255 / 31);
    } else {
        pixel.b = value[0];
        pixel.g = value[1];
        pixel.r = value[2];
        if (size == 4 && alpha) pixel.a = value[3];
    }
    return pixel;
}

// Places decoded pixels in file order, following the origin bits, and knows when the
// image is full.
class Placer {
public:
    Placer(PixelBuffer& image, uint8_t descriptor)
        : image_(image), top_(descriptor & kTopOrigin), right_(descriptor & kRightOrigin) {
        StartRow();
    }
    bool Full() const { return row_ == image_.height; }
    void Put(Bgra pixel) {
        uint8_t* out = rowStart_ + (right_ ? (image_.width - 1 - column_) : column_) * 4;
        out[0] = pixel.b;
        out[1] = pixel.g;
        out[2] = pixel.r;
        out[3] = pixel.a;
        if (++column_ == image_.width) {
            column_ = 0;
            ++row_;
            if (!Full()) StartRow();
        }
    }

private:
    void StartRow() {
        size_t y = top_ ? row_ : image_.height - 1 - row_;
        rowStart_ = image_.bgra.data() + y * image_.width * 4;
    }
    PixelBuffer& image_;
    bool top_, right_;
    uint32_t row_ = 0, column_ = 0;
    uint8_t* rowStart_ = nullptr;
};

}  // namespace

PixelBuffer DecodeTga(std::string_view file) {
    auto bytes = Bytes(file);
    if (bytes.size() < kHeaderSize) ThrowDamaged();
    ByteReader header(bytes);
    uint8_t idLength = header.U8();
    uint8_t mapType = header.U8();
    uint8_t imageType = header.U8();
    uint16_t firstIndex = header.U16LE();
    uint16_t mapLength = header.U16LE();
    uint8_t entryBits = header.U8();
    header.Skip(4);  // x and y origin: screen placement, not part of the picture
    uint16_t width = header.U16LE();
    uint16_t height = header.U16LE();
    uint8_t depth = header.U8();
    uint8_t descriptor = header.U8();

    uint8_t kind = imageType & 7;
    if ((imageType & ~(7 | kRunLengthBit)) != 0 || kind < kColourMapped || kind > kGrey) Unsupported();
    size_t pixelBytes = (depth + 7u) / 8;
    if (pixelBytes < 1 || pixelBytes > 4) Unsupported();
    if (kind == kColourMapped && pixelBytes != 1) Unsupported();

    size_t entryBytes = (entryBits + 7u) / 8;
    // A colour-mapped image without its map has nothing to look its indices up in.
    if (kind == kColourMapped && (entryBytes < 2 || entryBytes > 4 || mapLength == 0 || mapType == 0))
        ThrowDamaged();
    size_t mapStart = kHeaderSize + idLength;
    size_t dataStart = mapStart + (mapType != 0 ? entryBytes * mapLength : 0);

    bool alpha = (descriptor & 0x0F) != 0;
    bool grey = kind == kGrey;
    CheckImageSize(width, height);
    // Raw data holds every pixel; a run-length packet of 1 + pixelBytes bytes at most 128.
    uint64_t pixels = uint64_t{width} * height;
    uint64_t dataBytes = dataStart <= bytes.size() ? bytes.size() - dataStart : 0;
    CheckEnoughData(dataBytes, (imageType & kRunLengthBit) ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes);
    PixelBuffer image = NewPixelBuffer(width, height);

    std::vector<Bgra> palette;
    if (kind == kColourMapped) {
        if (dataStart > bytes.size()) ThrowDamaged();
        palette.resize(mapLength);
        for (size_t i = 0; i < mapLength; ++i)
            palette[i] = Convert(&bytes[mapStart + i * entryBytes], entryBytes, false, entryBytes == 4);
    }
    auto pixelAt = [&](const uint8_t* value) {
        if (kind != kColourMapped) return Convert(value, pixelBytes, grey, alpha);
        int index = static_cast<int>(value[0]) - firstIndex;
        if (index < 0 || index >= static_cast<int>(palette.size())) ThrowDamaged();
        return palette[static_cast<size_t>(index)];
    };

    if (dataStart > bytes.size()) ThrowDamaged();
    const uint8_t* in = bytes.data() + dataStart;
    const uint8_t* end = bytes.data() + bytes.size();
    Placer placer(image, descriptor);
    if ((imageType & kRunLengthBit) == 0) {
        uint64_t need = static_cast<uint64_t>(width) * height * pixelBytes;
        if (need > static_cast<uint64_t>(end - in)) ThrowDamaged();
        while (!placer.Full()) {
            placer.Put(pixelAt(in));
            in += pixelBytes;
        }
        return image;
    }
    while (!placer.Full()) {
        if (in == end) ThrowDamaged();
        uint8_t packet = *in++;
        unsigned count = (packet & 127u) + 1;
        if (packet & 128) {
            if (static_cast<size_t>(end - in) < pixelBytes) ThrowDamaged();
            Bgra pixel = pixelAt(in);
            in += pixelBytes;
            for (unsigned i = 0; i < count && !placer.Full(); ++i) placer.Put(pixel);
        } else {
            for (unsigned i = 0; i < count && !placer.Full(); ++i) {
                if (static_cast<size_t>(end - in) < pixelBytes) ThrowDamaged();
                placer.Put(pixelAt(in));
                in += pixelBytes;
            }
        }
    }
    return image;
}

std::string EncodeTga(const PixelBuffer& pixels) {
    if (pixels.width > kMaxTgaSide || pixels.height > kMaxTgaSide)
        throw ConvertError("TGA pictures can be at most 65535 pixels on a side");
    if (!BufferConsistent(pixels)) throw ConvertError(kImpossibleSize);
    std::string out(kHeaderSize, '\0');
    out[2] = static_cast<char>(kTrueColour);
    out[12] = static_cast<char>(pixels.width & 0xFF);
    out[13] = static_cast<char>(pixels.width >> 8);
    out[14] = static_cast<char>(pixels.height & 0xFF);
    out[15] = static_cast<char>(pixels.height >> 8);
    out[16] = 32;
    out[17] = static_cast<char>(kTopOrigin | 8);  // eight alpha bits, first row on top
    out.append(reinterpret_cast<const char*>(pixels.bgra.data()), pixels.bgra.size());
    return out;
}

}  // namespace images
