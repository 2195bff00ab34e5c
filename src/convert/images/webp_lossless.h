// Lossless WebP (VP8L in a RIFF container): subtract-green and a 16 x 16 block
// predictor, greedy run copies from the left or from above, one set of prefix codes.
#pragma once

#include <string>

#include "convert/images/pixel_buffer.h"

namespace images {

inline constexpr uint32_t kMaxWebpSide = 16384;  // VP8L stores each side minus one in 14 bits

// Throws ConvertError "WebP pictures can be at most 16384 pixels on a side" or "Couldn't
// build the WebP codes".
std::string EncodeWebpLossless(const PixelBuffer& pixels);

}  // namespace images
