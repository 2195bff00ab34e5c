// The containers whose decoders are the program's own: BMP/DIB, ICO/CUR and DDS.
#pragma once

#include <string_view>

#include "platform/imaging/decoders.h"

namespace imaging {

// False when this build lacks the own decoders; throws ConvertError for damaged files.
bool DecodeOwn(Container container, std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame);

}  // namespace imaging
