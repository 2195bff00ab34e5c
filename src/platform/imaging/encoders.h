// The imaging layer's encoders, one per container, each writing one frame into memory.
// A caller follows the steps in order: SetSize, SetResolution, SetPixelFormat (the
// encoder answers with the format it takes), SetPalette for indexed pixels, WriteSource,
// Commit.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "platform/imaging/bitmap_source.h"
#include "platform/imaging/decoders.h"

namespace imaging {

struct EncoderOptions {
    float quality = -1.0f;     // 0..1 for JPEG, HEIF and JPEG XR; negative: the encoder's default
    bool tiffDeflate = false;  // TIFF only: deflate compression
};

class FrameEncoder {
public:
    virtual ~FrameEncoder() = default;
    // False when the size is beyond what the format can store.
    virtual bool SetSize(uint32_t width, uint32_t height) = 0;
    virtual void SetResolution(Resolution resolution) { (void)resolution; }
    // The format the encoder takes for pixels offered in `offered`.
    virtual PixelFormat SetPixelFormat(PixelFormat offered) = 0;
    virtual bool SetPalette(std::span<const uint32_t> palette) {
        (void)palette;
        return false;
    }
    // Pulls every row from `source`, which has the agreed format and size.
    virtual HRESULT WriteSource(BitmapSource& source) = 0;
    // Finishes the file and hands over its bytes.
    virtual HRESULT Commit(std::string& bytes) = 0;
};

// The encoder of this build for a container; nullptr when it has none (kComponentNotFound).
// Covers the library-backed containers: PNG, JPEG, TIFF, HEIF (HEVC), JPEG XR.
std::unique_ptr<FrameEncoder> CreateEncoder(Container container, const EncoderOptions& options);

}  // namespace imaging
