// Shared by the image codec tests: pixel buffers made to order, comparison, and
// ImageMagick as the independent decoder and encoder (raw RGBA in and out).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "convert/images/pixel_buffer.h"

namespace testing_support {

// Builds a binary file field by field, for hand-made test inputs.
struct ByteBuilder {
    std::string bytes;
    ByteBuilder& U8(uint32_t v) { bytes += static_cast<char>(v & 0xFF); return *this; }
    ByteBuilder& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    ByteBuilder& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    ByteBuilder& U16BE(uint32_t v) { return U8(v >> 8).U8(v); }
    ByteBuilder& U32BE(uint32_t v) { return U16BE(v >> 16).U16BE(v & 0xFFFF); }
    ByteBuilder& Text(std::string_view text) { bytes += text; return *this; }
    ByteBuilder& Zeros(size_t count) { bytes.append(count, '\0'); return *this; }
};

// Pixels from a list of BGRA quadruples, row by row.
images::PixelBuffer Pixels(uint32_t width, uint32_t height, std::initializer_list<uint8_t> bgra);

// Noise: every channel random; alpha random when `alpha`, else 255.
images::PixelBuffer RandomImage(uint32_t width, uint32_t height, bool alpha, uint32_t seed);
// A smooth photograph-like picture (gradients, a few soft shapes, mild noise) with
// thousands of colours; `alpha` adds a soft transparent edge.
images::PixelBuffer PhotoLikeImage(uint32_t width, uint32_t height, bool alpha, uint32_t seed);
// A screenshot-like picture: flat areas, text-like strokes, few colours.
images::PixelBuffer ScreenshotImage(uint32_t width, uint32_t height, uint32_t seed);
images::PixelBuffer SolidImage(uint32_t width, uint32_t height, uint8_t b, uint8_t g, uint8_t r, uint8_t a);

// The largest difference of any channel, or 256 when the sizes differ.
int MaxChannelDifference(const images::PixelBuffer& a, const images::PixelBuffer& b);
// "" when equal, else where they first differ (for test messages). With `topBits`
// below 8, only that many top bits of each channel are compared.
std::string FirstDifference(const images::PixelBuffer& a, const images::PixelBuffer& b, int topBits = 8);

// ImageMagick decodes `path` (first frame; `path` may carry a "format:" prefix) to
// straight BGRA, upright (TGA files are read in stored order and turned by their
// origin). An empty buffer when it fails.
images::PixelBuffer MagickDecode(const std::string& path);
// Pillow (python3-pil), a second independent decoder, for files ImageMagick can't read.
images::PixelBuffer PillowDecode(const std::string& path);

// ImageMagick writes `pixels` to `path` (format by extension or prefix) with `options`
// placed before the output. False when it fails.
// A PNG (8-bit RGBA, zlib-compressed) written by the test side, for the icon writer's
// PNG encoder; the tests never use ours.
std::string ReferencePng(const images::PixelBuffer& pixels);

bool MagickEncode(const images::PixelBuffer& pixels, const std::string& path, const std::string& options = "");

}  // namespace testing_support
