// QOI ("Quite OK Image") files, both ways. Every image decodes to four channels whatever
// its header's channel count says; the encoder always writes four channels, sRGB.
#pragma once

#include <string>
#include <string_view>

#include "convert/images/pixel_buffer.h"

namespace images {

// Throws ConvertError "This image is damaged or cut short" or "This image reports an
// impossible size".
PixelBuffer DecodeQoi(std::string_view file);

std::string EncodeQoi(const PixelBuffer& pixels);

}  // namespace images
