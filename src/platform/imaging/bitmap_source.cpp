#include "platform/imaging/bitmap_source.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace imaging {
namespace {

constexpr uint32_t kBandRows = 64;  // rows a converter pulls from its inner source at a time

class FlipRotator final : public BitmapSource {
public:
    FlipRotator(SourcePtr inner, int quarterTurns, bool mirror)
        : inner_(std::move(inner)), turns_(quarterTurns), mirror_(mirror) {}

    uint32_t Width() const override { return turns_ % 2 ? inner_->Height() : inner_->Width(); }
    uint32_t Height() const override { return turns_ % 2 ? inner_->Width() : inner_->Height(); }
    Resolution GetResolution() const override {
        Resolution r = inner_->GetResolution();
        return turns_ % 2 ? Resolution{r.y, r.x} : r;
    }
    PixelFormat Format() const override { return inner_->Format(); }
    HRESULT CopyPalette(std::vector<uint32_t>& palette) const override { return inner_->CopyPalette(palette); }

    HRESULT CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) override {
        Rect r;
        if (HRESULT status = CheckCopy(*this, rect, stride, bufferSize, r); status != S_OK) return status;
        if (!pixels_) {
            HRESULT status = S_OK;
            pixels_ = Materialize(inner_, status);
            if (!pixels_) return status;
        }
        const uint32_t bpp = BytesPerPixel(Format());
        const int64_t w = inner_->Width(), h = inner_->Height();
        const int64_t outWidth = Width();
        for (int32_t row = 0; row < r.height; ++row) {
            uint8_t* target = buffer + static_cast<size_t>(row) * stride;
            for (int32_t column = 0; column < r.width; ++column) {
                int64_t x = r.x + column, y = r.y + row;
                if (mirror_) x = outWidth - 1 - x;
                int64_t sx, sy;  // where the output pixel (x, y) comes from, before mirroring
                switch (turns_) {
                case 1: sx = y, sy = h - 1 - x; break;          // 90 degrees clockwise
                case 2: sx = w - 1 - x, sy = h - 1 - y; break;  // 180
                case 3: sx = w - 1 - y, sy = x; break;          // 270 clockwise
                default: sx = x, sy = y; break;
                }
                std::memcpy(target + static_cast<size_t>(column) * bpp,
                            pixels_->Row(static_cast<uint32_t>(sy)) + static_cast<size_t>(sx) * bpp, bpp);
            }
        }
        return S_OK;
    }

private:
    SourcePtr inner_;
    int turns_;
    bool mirror_;
    std::shared_ptr<Bitmap> pixels_;
};

class FormatConverter final : public BitmapSource {
public:
    FormatConverter(SourcePtr inner, PixelFormat target) : inner_(std::move(inner)), target_(target) {
        inner_->CopyPalette(palette_);
    }

    uint32_t Width() const override { return inner_->Width(); }
    uint32_t Height() const override { return inner_->Height(); }
    Resolution GetResolution() const override { return inner_->GetResolution(); }
    PixelFormat Format() const override { return target_; }

    HRESULT CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) override {
        Rect r;
        if (HRESULT status = CheckCopy(*this, rect, stride, bufferSize, r); status != S_OK) return status;
        if (r.width < 1 || r.height < 1) return S_OK;
        const PixelFormat from = inner_->Format();
        const size_t innerStride = static_cast<size_t>(r.width) * BytesPerPixel(from);
        const uint32_t band = std::min<uint32_t>(kBandRows, static_cast<uint32_t>(r.height));
        band_.resize(innerStride * band);
        for (int32_t done = 0; done < r.height;) {
            int32_t rows = std::min<int32_t>(static_cast<int32_t>(band), r.height - done);
            Rect part{r.x, r.y + done, r.width, rows};
            HRESULT status = inner_->CopyPixels(&part, static_cast<uint32_t>(innerStride), band_.size(), band_.data());
            if (status != S_OK) return status;
            for (int32_t row = 0; row < rows; ++row)
                ConvertRow(from, palette_, band_.data() + static_cast<size_t>(row) * innerStride, target_,
                           buffer + static_cast<size_t>(done + row) * stride, static_cast<size_t>(r.width));
            done += rows;
        }
        return S_OK;
    }

private:
    SourcePtr inner_;
    PixelFormat target_;
    std::vector<uint32_t> palette_;
    std::vector<uint8_t> band_;
};

}  // namespace

HRESULT BitmapSource::CopyPalette(std::vector<uint32_t>&) const { return kPaletteUnavailable; }

HRESULT CheckCopy(const BitmapSource& source, const Rect* rect, uint32_t stride, size_t bufferSize, Rect& out) {
    out = rect ? *rect : Rect{0, 0, static_cast<int32_t>(source.Width()), static_cast<int32_t>(source.Height())};
    if (out.width < 1 || out.height < 1) {
        out.width = out.height = 0;
        return S_OK;
    }
    if (out.x < 0 || out.y < 0 || static_cast<uint64_t>(out.x) + static_cast<uint64_t>(out.width) > source.Width() ||
        static_cast<uint64_t>(out.y) + static_cast<uint64_t>(out.height) > source.Height())
        return E_INVALIDARG;
    uint64_t rowBytes = static_cast<uint64_t>(out.width) * BytesPerPixel(source.Format());
    if (stride < rowBytes) return E_INVALIDARG;
    if (static_cast<uint64_t>(out.height - 1) * stride + rowBytes > bufferSize) return E_INVALIDARG;
    return S_OK;
}

Bitmap::Bitmap(uint32_t width, uint32_t height, PixelFormat format)
    : width_(width), height_(height), format_(format), stride_(static_cast<size_t>(width) * BytesPerPixel(format)) {
    pixels_.resize(stride_ * static_cast<uint64_t>(height));
}

HRESULT Bitmap::CopyPalette(std::vector<uint32_t>& palette) const {
    if (format_ != PixelFormat::kIndexed8) return kPaletteUnavailable;
    palette = palette_;
    return S_OK;
}

HRESULT Bitmap::CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) {
    Rect r;
    if (HRESULT status = CheckCopy(*this, rect, stride, bufferSize, r); status != S_OK) return status;
    const size_t bpp = BytesPerPixel(format_), rowBytes = static_cast<size_t>(r.width) * bpp;
    for (int32_t row = 0; row < r.height; ++row)
        std::memcpy(buffer + static_cast<size_t>(row) * stride,
                    Row(static_cast<uint32_t>(r.y + row)) + static_cast<size_t>(r.x) * bpp, rowBytes);
    return S_OK;
}

std::shared_ptr<Bitmap> Materialize(const SourcePtr& source, HRESULT& status) {
    if (Bitmap* bitmap = source->AsBitmap()) return std::shared_ptr<Bitmap>(source, bitmap);
    auto bitmap = std::make_shared<Bitmap>(source->Width(), source->Height(), source->Format());
    bitmap->SetResolution(source->GetResolution());
    std::vector<uint32_t> palette;
    if (source->CopyPalette(palette) == S_OK) bitmap->SetPalette(std::move(palette));
    status = source->CopyPixels(nullptr, static_cast<uint32_t>(bitmap->Stride()), bitmap->Pixels().size(),
                                bitmap->Pixels().data());
    if (status != S_OK) return nullptr;
    return bitmap;
}

HRESULT PullRows(BitmapSource& source, uint32_t y, uint32_t rows, std::vector<uint8_t>& band, size_t& stride) {
    stride = static_cast<size_t>(source.Width()) * BytesPerPixel(source.Format());
    band.resize(stride * rows);
    Rect rect{0, static_cast<int32_t>(y), static_cast<int32_t>(source.Width()), static_cast<int32_t>(rows)};
    return source.CopyPixels(&rect, static_cast<uint32_t>(stride), band.size(), band.data());
}

SourcePtr OrientSource(SourcePtr source, int orientation) {
    switch (orientation) {
    case 2: return std::make_shared<FlipRotator>(std::move(source), 0, true);
    case 3: return std::make_shared<FlipRotator>(std::move(source), 2, false);
    case 4: return std::make_shared<FlipRotator>(std::move(source), 2, true);  // 180 then mirror is a vertical flip
    case 5: return std::make_shared<FlipRotator>(std::move(source), 1, true);
    case 6: return std::make_shared<FlipRotator>(std::move(source), 1, false);
    case 7: return std::make_shared<FlipRotator>(std::move(source), 3, true);
    case 8: return std::make_shared<FlipRotator>(std::move(source), 3, false);
    default: return source;
    }
}

SourcePtr ConvertFormat(SourcePtr source, PixelFormat target) {
    if (source->Format() == target) return source;
    if (target == PixelFormat::kIndexed8) return nullptr;
    return std::make_shared<FormatConverter>(std::move(source), target);
}

}  // namespace imaging
