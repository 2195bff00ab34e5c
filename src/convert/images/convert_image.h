// The image pipeline's open step, for converters that read images themselves.
#pragma once

#include <string>

#include "convert/core/context.h"
#include "platform/imaging/bitmap_source.h"

namespace images {

// The first frame of an image file, upright. Throws ConvertError with the pipeline's
// messages ("Couldn't open this image", the "Install ..." texts, the size and memory limits).
imaging::SourcePtr OpenImage(const std::string& path, const ConvertContext& context);

// The bytes a decode may plan to use: the worker's RAM limit (0 when there is none).
uint64_t DecodeMemoryBudget(const ConvertContext& context);

}  // namespace images
