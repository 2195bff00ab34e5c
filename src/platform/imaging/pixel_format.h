// Pixel formats of the imaging layer and the row converters between them. Each format
// is a fixed number of bytes per pixel; 16-bit and float samples are native-endian.
// Colour order follows the names: BGRA is B, G, R, A in memory; RGB48 is R, G, B.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace imaging {

enum class PixelFormat : uint8_t {
    kBgra32,      // straight alpha
    kPbgra32,     // premultiplied alpha
    kBgr24,
    kIndexed8,    // one byte per pixel into a palette of up to 256 BGRA entries
    kGray8,
    kGray16,
    kRgb48,
    kRgba64,      // straight alpha
    kCmyk32,      // C, M, Y, K; 0 is no ink
    kRgbaHalf,    // linear (scRGB) light, 16-bit floats, straight alpha
    kRgbaFloat,   // linear (scRGB) light, 32-bit floats, straight alpha
};

uint32_t BytesPerPixel(PixelFormat format);
// Whether the format can hold transparency (alpha, or a palette whose entries have alpha).
bool SupportsTransparency(PixelFormat format);
// Formats with more than 8 bits per channel: converting them goes through 16-bit samples.
bool IsDeepFormat(PixelFormat format);

// Converts `count` pixels of one row from `from` to `to`. `palette` (0xAARRGGBB entries)
// is read for kIndexed8 sources; indices past its end give transparent black. Converting
// to kIndexed8 is not possible here (it needs a palette search) and returns false.
bool ConvertRow(PixelFormat from, std::span<const uint32_t> palette, const uint8_t* source, PixelFormat to,
                uint8_t* target, size_t count);

}  // namespace imaging
