// DirectDraw Surface textures: the first surface of the top mip level, uncompressed
// (bit masks, luminance, alpha-only) or block-compressed BC1, BC2, BC3, under the legacy
// header or the DX10 header. The encoder writes uncompressed 32-bit B8G8R8A8.
#pragma once

#include <string>
#include <string_view>

#include "convert/images/pixel_buffer.h"

namespace images {

// Throws ConvertError "This image is damaged or cut short", "This image reports an
// impossible size" or "Couldn't open this image" (a texture format not read here).
PixelBuffer DecodeDds(std::string_view file);

std::string EncodeDds(const PixelBuffer& pixels);

}  // namespace images
