// Encoding images to files: the routing of every image format to its writer (the icon
// writer, the program's own writers, the imaging layer's encoders), for the image
// pipeline and for the converters that write page and frame images.
#pragma once

#include <cstdint>
#include <string>

#include "convert/images/pixel_buffer.h"
#include "platform/imaging/bitmap_source.h"

namespace images {

// The quality a Target's option asks for: 92 when below 1, else at most 100.
int32_t EffectiveQuality(int32_t option);

// The whole file of `pixels` in `format` (PNG, JPG, BMP, ... of the format table).
// Throws ConvertError with the messages of the write step.
std::string EncodeImage(const PixelBuffer& pixels, int32_t format, int32_t quality);
// Encodes `pixels` and publishes the file as folder/stem.ext (the first free name); the path.
std::string WriteImage(const PixelBuffer& pixels, const std::string& folder, const std::string& stem, int32_t format,
                       int32_t quality);

// The same for a bitmap source.
std::string EncodeSource(const imaging::SourcePtr& source, int32_t format, int32_t quality);
// Only the formats of the imaging layer's encoders (PNG, JPG, BMP, TIFF, GIF, HEIC, JXR,
// DDS); any other format fails with "That isn't an image format".
std::string EncodeToMemory(const imaging::SourcePtr& source, int32_t format, int32_t quality);

// 24-bit BGR laid on white where the source has transparency.
imaging::SourcePtr FlattenOntoWhite(imaging::SourcePtr source);
// The source as straight BGRA pixels. Throws ConvertError "This image uses a pixel format
// that can't be converted", "This image reports an impossible size", "Couldn't read the image".
PixelBuffer ReadPixels(const imaging::SourcePtr& source);
// A source over pixels that stay owned by the caller and must outlive it.
imaging::SourcePtr SourceOverPixels(const PixelBuffer& pixels);

}  // namespace images
