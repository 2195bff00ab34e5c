// Bitmap sources: a pull interface over pixels, chained lazily (decoded frame ->
// flip-rotator -> format converter -> ...). A consumer asks for a rectangle of rows in
// the source's pixel format; each link computes only what is asked of it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "convert/core/status.h"
#include "platform/imaging/pixel_format.h"

namespace imaging {

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT kPaletteUnavailable = static_cast<HRESULT>(0x88982F45u);  // the source has no palette
inline constexpr HRESULT kComponentNotFound = static_cast<HRESULT>(0x88982F50u);   // no codec for the format
inline constexpr HRESULT kBadImage = static_cast<HRESULT>(0x88982F60u);            // undecodable pixel data

inline constexpr double kDefaultDpi = 96.0;  // what a file that states no resolution is taken to have

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

struct Resolution {
    double x = kDefaultDpi;
    double y = kDefaultDpi;
};

class Bitmap;

class BitmapSource {
public:
    virtual ~BitmapSource() = default;
    virtual uint32_t Width() const = 0;
    virtual uint32_t Height() const = 0;
    virtual Resolution GetResolution() const = 0;
    virtual PixelFormat Format() const = 0;
    // The palette (0xAARRGGBB entries) of an indexed source; kPaletteUnavailable otherwise.
    virtual HRESULT CopyPalette(std::vector<uint32_t>& palette) const;
    // Copies `rect` (the whole image when null) into `buffer`, `stride` bytes from row
    // to row. E_INVALIDARG when the rectangle leaves the image or the buffer is too small.
    virtual HRESULT CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) = 0;
    // The pixels in memory when the source is a Bitmap (no type test crosses the plugin).
    virtual Bitmap* AsBitmap() { return nullptr; }
};

using SourcePtr = std::shared_ptr<BitmapSource>;

// Checks a CopyPixels request against a source; fills `out` with the resolved rectangle.
HRESULT CheckCopy(const BitmapSource& source, const Rect* rect, uint32_t stride, size_t bufferSize, Rect& out);

// Pixels held in memory: what decoders produce and what a materialised chain becomes.
class Bitmap final : public BitmapSource {
public:
    // Allocates width x height pixels, zeroed. Throws std::bad_alloc.
    Bitmap(uint32_t width, uint32_t height, PixelFormat format);

    uint32_t Width() const override { return width_; }
    uint32_t Height() const override { return height_; }
    Resolution GetResolution() const override { return resolution_; }
    PixelFormat Format() const override { return format_; }
    HRESULT CopyPalette(std::vector<uint32_t>& palette) const override;
    HRESULT CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) override;
    Bitmap* AsBitmap() override { return this; }

    size_t Stride() const { return stride_; }
    uint8_t* Row(uint32_t y) { return pixels_.data() + y * stride_; }
    const uint8_t* Row(uint32_t y) const { return pixels_.data() + y * stride_; }
    std::vector<uint8_t>& Pixels() { return pixels_; }
    void SetResolution(Resolution resolution) { resolution_ = resolution; }
    void SetPalette(std::vector<uint32_t> palette) { palette_ = std::move(palette); }

private:
    uint32_t width_, height_;
    PixelFormat format_;
    size_t stride_;
    Resolution resolution_;
    std::vector<uint32_t> palette_;
    std::vector<uint8_t> pixels_;
};

// Reads a whole source into a Bitmap of its own format (the source itself when it is one).
// Throws std::bad_alloc; nullptr when the source fails (its status in `status`).
std::shared_ptr<Bitmap> Materialize(const SourcePtr& source, HRESULT& status);

// A source turned upright: orientation values 2..8 as photos store them (2 mirror,
// 3 rotate 180, 4 flip, 5 rotate 90 then mirror, 6 rotate 90 clockwise, 7 rotate 270
// then mirror, 8 rotate 270); other values give the source back unchanged.
SourcePtr OrientSource(SourcePtr source, int orientation);

// For encoders that write rows: pulls `rows` rows starting at `y` into `band`.
HRESULT PullRows(BitmapSource& source, uint32_t y, uint32_t rows, std::vector<uint8_t>& band, size_t& stride);

// A format converter: no dither, no palette (indexed targets are not offered). Returns
// nullptr when the conversion is impossible.
SourcePtr ConvertFormat(SourcePtr source, PixelFormat target);

}  // namespace imaging
