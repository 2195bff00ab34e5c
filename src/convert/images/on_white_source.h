// A source that lays premultiplied BGRA pixels onto white and gives 24-bit BGR: each
// channel becomes channel + 255 - alpha, exact in 8 bits because a premultiplied channel
// never exceeds its alpha.
#pragma once

#include <vector>

#include "platform/imaging/bitmap_source.h"

namespace images {

class OnWhiteSource final : public imaging::BitmapSource {
public:
    // `inner` must be premultiplied BGRA.
    explicit OnWhiteSource(imaging::SourcePtr inner) : inner_(std::move(inner)) {}

    uint32_t Width() const override { return inner_->Width(); }
    uint32_t Height() const override { return inner_->Height(); }
    imaging::Resolution GetResolution() const override { return inner_->GetResolution(); }
    imaging::PixelFormat Format() const override { return imaging::PixelFormat::kBgr24; }
    HRESULT CopyPalette(std::vector<uint32_t>& palette) const override;
    HRESULT CopyPixels(const imaging::Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) override;

private:
    imaging::SourcePtr inner_;
    std::vector<uint8_t> rowCache_;
};

}  // namespace images
