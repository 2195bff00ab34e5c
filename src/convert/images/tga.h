// TGA (Truevision) images: the decoder reads colour-mapped, true-colour and grey images,
// plain or run-length coded (types 1, 2, 3, 9, 10, 11), 8 to 32 bits, in all four
// origins; the encoder writes uncompressed 32-bit BGRA, top-left origin.
#pragma once

#include <string>
#include <string_view>

#include "convert/images/pixel_buffer.h"

namespace images {

// Throws ConvertError "This image is damaged or cut short", "This kind of TGA isn't
// supported" or "This image reports an impossible size".
PixelBuffer DecodeTga(std::string_view file);

// Throws ConvertError "TGA pictures can be at most 65535 pixels on a side".
std::string EncodeTga(const PixelBuffer& pixels);

}  // namespace images
