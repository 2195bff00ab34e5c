// SVG output: the image as a PNG inside a data URI of a minimal SVG document of the
// image's pixel size.
#pragma once

#include <string>
#include <string_view>

#include "platform/imaging/bitmap_source.h"

namespace images {

// RFC 4648 Base64, standard alphabet, padded with "=".
std::string Base64(std::string_view bytes);

// The three lines of the document. Throws ConvertError from the PNG encoding.
std::string WrapInSvg(const imaging::SourcePtr& source);

}  // namespace images
