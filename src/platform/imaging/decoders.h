// The imaging layer's decoders, chosen by the file's content (its first bytes), never
// by its name. Each returns the first frame's stored pixels and how to turn them upright.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/imaging/bitmap_source.h"

namespace imaging {

enum class Container : uint8_t {
    kUnknown, kJpeg, kPng, kGif, kBmp, kIco, kTiff, kWebp, kHeif, kJxr, kJxl, kDds,
};

// What a file's first bytes say it is.
Container SniffContainer(std::string_view bytes);

inline constexpr int kOrientationFromExif = -1;  // the file's own EXIF block decides

struct DecodeOptions {
    uint64_t memoryBudget = 0;  // bytes a decode may plan to use; 0 is no limit
    bool tryRawFirst = false;   // the name says camera RAW: libraw goes before the content's decoder
    // Holds the file's bytes for as long as a decoder needs them. When set, a decoder may go
    // on decoding rows in the background after it has returned; when not, it decodes whole.
    std::shared_ptr<const void> keepBytes;
};

struct DecodedFrame {
    SourcePtr source;
    int orientation = 1;  // 1..8, or kOrientationFromExif
};

// Decodes the first frame. Returns kComponentNotFound (and no frame) when no decoder of
// this build knows the content. Throws ConvertError: "This image reports an impossible
// size" (a side outside 1..65535 or too many pixels), the RAM-limit text when the decode
// would need more memory than the budget, "Couldn't open this image" for damaged data.
HRESULT DecodeFirstFrame(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame);

// Every decoder calls this as soon as its header gives the size: each side 1..65535,
// at most the pixel limit, and the memory the decode plans (`bytesPerPixel` for every
// pixel it holds at once, plus the converted copy the encoders take) within the budget.
// Throws ConvertError "This image reports an impossible size" or the RAM-limit text.
void CheckImageHeader(uint64_t width, uint64_t height, uint64_t bytesPerPixel, const DecodeOptions& options);

}  // namespace imaging
