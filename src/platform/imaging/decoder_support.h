// What the individual decoders share: the header check and the entry points the
// registry in decoders.cpp dispatches to.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/imaging/decoders.h"

namespace imaging {

// Every decoder calls this as soon as its header gives the size: each side 1..65535,
// at most the pixel limit, and the memory the decode plans (`bytesPerPixel` for every
// pixel it holds at once, plus the converted copy the encoders take) within the budget.
void CheckImageHeader(uint64_t width, uint64_t height, uint64_t bytesPerPixel, const DecodeOptions& options);

// Thrown for damaged data: "Couldn't open this image".
[[noreturn]] void ThrowDamaged();

DecodedFrame DecodeJpeg(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodePng(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodeGif(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodeTiff(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodeWebp(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodeHeif(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodeJxl(std::string_view bytes, const DecodeOptions& options);
DecodedFrame DecodeJxr(std::string_view bytes, const DecodeOptions& options);
// False (nothing decoded) when libraw doesn't recognise the content.
bool DecodeRaw(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame);
// The program's own decoders (BMP/DIB, ICO/CUR, DDS); false when this build lacks them.
bool DecodeOwn(Container container, std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame);

}  // namespace imaging
