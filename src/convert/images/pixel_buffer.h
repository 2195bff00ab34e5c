// The pixel buffer that the program's own image codecs read and write: width and
// height, then rows top-down without padding, each pixel four bytes B, G, R, A with
// straight (not premultiplied) alpha.
#pragma once

#include <cstdint>
#include <vector>

namespace images {

inline constexpr uint32_t kMaxImageSide = 65535;          // what the image formats' 16-bit fields can hold
inline constexpr uint64_t kMaxImagePixels = 200'000'000;  // 800 MB of BGRA: past that no desktop image is real

struct PixelBuffer {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;  // width * height * 4 bytes
};

// True when a width and height are within the limits above (each side 1..65535,
// at most 200,000,000 pixels); callers throw "This image reports an impossible size".
inline bool ImageSizeAllowed(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= kMaxImagePixels;
}

}  // namespace images
