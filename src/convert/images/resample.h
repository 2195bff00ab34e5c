// High-quality resizing for the icon writer: a Catmull-Rom cubic, widened by the scale
// factor when shrinking so that every source pixel contributes, filtered on premultiplied
// colour so that transparent pixels lend no colour to their neighbours.
#pragma once

#include <cstdint>

#include "convert/images/pixel_buffer.h"

namespace images {

// Straight BGRA in and out. Throws ConvertError "This image reports an impossible size"
// for a target outside the pixel buffer's limits.
PixelBuffer ResizeCubic(const PixelBuffer& source, uint32_t width, uint32_t height);

}  // namespace images
