// Inside the imaging plugin: the entry points of the individual codecs, which the
// component in plugin.cpp dispatches to. These may throw ConvertError; the component
// turns it into a status and a message before anything leaves the plugin.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/imaging/decoders.h"
#include "platform/imaging/encoders.h"
#include "platform/imaging/svg_renderer.h"

namespace imaging {

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

std::unique_ptr<FrameEncoder> CreatePngEncoder();
std::unique_ptr<FrameEncoder> CreateJpegEncoder(const EncoderOptions& options);
std::unique_ptr<FrameEncoder> CreateTiffEncoder(const EncoderOptions& options);
std::unique_ptr<FrameEncoder> CreateHeifEncoder(const EncoderOptions& options);
std::unique_ptr<FrameEncoder> CreateJxrEncoder(const EncoderOptions& options);

SvgSize SvgDocumentSize(std::string_view document);
SourcePtr RenderSvgDocument(std::string_view document, uint64_t memoryBudget);

// Routes the libraries' process-wide message hooks to nothing.
void SilenceCodecLibraries();

}  // namespace imaging
