// Netpbm images: PBM, PGM and PPM in their plain (P1-P3) and binary (P4-P6) forms and
// PAM (P7) with one to four channels, 8- or 16-bit samples; the encoder writes binary
// PPM (P6, maximum 255) with transparency composited onto white.
#pragma once

#include <string>
#include <string_view>

#include "convert/images/pixel_buffer.h"

namespace images {

// Throws ConvertError "This image is damaged or cut short" or "This image reports an
// impossible size".
PixelBuffer DecodeNetpbm(std::string_view file);

std::string EncodePpm(const PixelBuffer& pixels);

}  // namespace images
