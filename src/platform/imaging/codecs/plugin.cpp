// The imaging plugin's entry: the component that dispatches to the codecs of this folder
// and keeps every ConvertError inside the plugin.
#include <cstdlib>
#include <new>

#include <tiffio.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"
#include "platform/imaging/component.h"

namespace imaging {

void ThrowDamaged() { throw ConvertError("Couldn't open this image"); }

void SilenceCodecLibraries() {
    // The other libraries take their handlers per object (libjpeg, libpng, libheif's log
    // level, libraw's callbacks); libtiff also reports through these process-wide hooks.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

namespace {

template <typename Work>
HRESULT Guarded(std::string& message, Work work) {
    try {
        return work();
    } catch (const ConvertError& error) {
        message = error.message;
        return error.code;
    }
}

class Component final : public ImagingComponent {
public:
    Component() {
        SilenceCodecLibraries();
        // GIO (under librsvg) must never look for a D-Bus helper for its file system layer:
        // a worker may not start one. The worker's environment says so already; a process
        // started otherwise (a test, a benchmark) gets the same here, before GIO starts.
        ::setenv("GIO_USE_VFS", "local", 0);
    }

    HRESULT Decode(Container container, std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame,
                   std::string& message) override {
        return Guarded(message, [&] {
            switch (container) {
            case Container::kJpeg: frame = DecodeJpeg(bytes, options); return S_OK;
            case Container::kPng: frame = DecodePng(bytes, options); return S_OK;
            case Container::kGif: frame = DecodeGif(bytes, options); return S_OK;
            case Container::kTiff: frame = DecodeTiff(bytes, options); return S_OK;
            case Container::kWebp: frame = DecodeWebp(bytes, options); return S_OK;
            case Container::kHeif: frame = DecodeHeif(bytes, options); return S_OK;
            case Container::kJxl: frame = DecodeJxl(bytes, options); return S_OK;
            case Container::kJxr: frame = DecodeJxr(bytes, options); return S_OK;
            default: return kComponentNotFound;
            }
        });
    }

    HRESULT DecodeRaw(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame,
                      std::string& message) override {
        return Guarded(message, [&] { return imaging::DecodeRaw(bytes, options, frame) ? S_OK : kComponentNotFound; });
    }

    std::unique_ptr<FrameEncoder> CreateEncoder(Container container, const EncoderOptions& options) override {
        switch (container) {
        case Container::kPng: return CreatePngEncoder();
        case Container::kJpeg: return CreateJpegEncoder(options);
        case Container::kTiff: return CreateTiffEncoder(options);
        case Container::kHeif: return CreateHeifEncoder(options);
        case Container::kJxr: return CreateJxrEncoder(options);
        default: return nullptr;
        }
    }

    HRESULT SvgIntrinsicSize(std::string_view document, SvgSize& size, std::string& message) override {
        return Guarded(message, [&] {
            size = SvgDocumentSize(document);
            return S_OK;
        });
    }

    HRESULT RenderSvg(std::string_view document, uint64_t memoryBudget, SourcePtr& image, std::string& message) override {
        return Guarded(message, [&] {
            image = RenderSvgDocument(document, memoryBudget);
            return S_OK;
        });
    }
};

}  // namespace
}  // namespace imaging

extern "C" __attribute__((visibility("default"))) imaging::ImagingComponent* QuillavenImagingComponent(
    uint32_t interfaceVersion) {
    if (interfaceVersion != imaging::kComponentInterfaceVersion) return nullptr;
    static imaging::Component component;
    return &component;
}
