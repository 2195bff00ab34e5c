// The imaging component: the decoders and encoders over the codec libraries (libjpeg-turbo,
// libpng, giflib, libtiff, libwebp, libheif, libjxl, libjxr, libraw) and the SVG renderer
// (librsvg, cairo). They live in a plugin of our own (quillaven-imaging.so beside the
// program) that a worker loads on its first image: those libraries and their dependencies
// are some sixty shared objects, which no document conversion and no host should map.
//
// Nothing crosses this interface by exception except std::bad_alloc: failures come back as
// a status and the user's message, and the callers in the program throw them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/imaging/decoders.h"
#include "platform/imaging/encoders.h"
#include "platform/imaging/svg_renderer.h"

namespace imaging {

class ImagingComponent {
public:
    virtual ~ImagingComponent() = default;
    // Decodes a file of a library-backed container. S_OK with `frame` set; otherwise the
    // status and the message to show.
    virtual HRESULT Decode(Container container, std::string_view bytes, const DecodeOptions& options,
                           DecodedFrame& frame, std::string& message) = 0;
    // Camera RAW through libraw; kComponentNotFound when libraw doesn't know the content.
    virtual HRESULT DecodeRaw(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame,
                              std::string& message) = 0;
    // The encoder for a container, or nullptr when the plugin has none for it.
    virtual std::unique_ptr<FrameEncoder> CreateEncoder(Container container, const EncoderOptions& options) = 0;
    virtual HRESULT SvgIntrinsicSize(std::string_view document, SvgSize& size, std::string& message) = 0;
    virtual HRESULT RenderSvg(std::string_view document, uint64_t memoryBudget, SourcePtr& image,
                              std::string& message) = 0;
};

// The plugin's one entry point, looked up by name.
inline constexpr const char* kComponentEntryName = "QuillavenImagingComponent";
inline constexpr uint32_t kComponentInterfaceVersion = 1;
using ComponentEntry = ImagingComponent* (*)(uint32_t interfaceVersion);

inline constexpr const char* kComponentFileName = "quillaven-imaging.so";

// The plugin, loaded on first use from beside the program (or, in a build tree, where the
// build put it); nullptr when it is missing or of another interface version.
ImagingComponent* LoadImagingComponent();

}  // namespace imaging
