// What the program's own image decoders and encoders share: the user-facing texts for
// damaged input and impossible sizes, the checked allocation of a pixel buffer, and
// byte views of a file held in memory.
#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"

namespace images {

inline constexpr const char* kDamagedImage = "This image is damaged or cut short";
inline constexpr const char* kImpossibleSize = "This image reports an impossible size";
inline constexpr const char* kCouldNotOpen = "Couldn't open this image";

[[noreturn]] inline void ThrowDamaged() { throw ConvertError(kDamagedImage); }

// "This image reports an impossible size" when the sides are outside the limits. Every
// decoder calls this as soon as its header gives the size.
inline void CheckImageSize(uint64_t width, uint64_t height) {
    if (!ImageSizeAllowed(width, height)) throw ConvertError(kImpossibleSize);
}

// Decoders that can tell how many bytes the pixels need at least check that before
// allocating, so that a tiny file claiming a huge picture never costs its memory.
inline void CheckEnoughData(uint64_t have, uint64_t need) {
    if (have < need) ThrowDamaged();
}

// A zeroed buffer of width x height pixels (the size checked as above).
inline PixelBuffer NewPixelBuffer(uint64_t width, uint64_t height) {
    CheckImageSize(width, height);
    PixelBuffer buffer;
    buffer.width = static_cast<uint32_t>(width);
    buffer.height = static_cast<uint32_t>(height);
    buffer.bgra.assign(static_cast<size_t>(width * height * 4), 0);
    return buffer;
}

inline std::span<const uint8_t> Bytes(std::string_view file) {
    return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

// A pixel buffer whose size fields disagree with its bytes is a caller's fault, but an
// encoder must not read past the array because of it.
inline bool BufferConsistent(const PixelBuffer& pixels) {
    return static_cast<uint64_t>(pixels.width) * pixels.height * 4 == pixels.bgra.size();
}

// One channel of a packed pixel described by a bit mask (BMP bit fields, DDS masks):
// extracted and widened to 8 bits by repeating its bits, so that full scale stays full
// scale at any width; wider fields keep their top 8 bits.
struct BitField {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    // False for a mask with holes, which no pixel layout uses.
    static bool Make(uint32_t mask, BitField& field) {
        field = {};
        if (mask == 0) return true;
        field.mask = mask;
        field.shift = std::countr_zero(mask);
        uint32_t run = mask >> field.shift;
        field.bits = std::popcount(run);
        return (run & (run + 1)) == 0;
    }
    uint8_t Extract(uint32_t value) const {
        if (bits == 0) return 0;
        uint32_t v = (value & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
        uint32_t widened = 0;
        for (int filled = 0; filled < 8; filled += bits) widened = widened << bits | v;
        int total = ((8 + bits - 1) / bits) * bits;
        return static_cast<uint8_t>(widened >> (total - 8));
    }
};

}  // namespace images
