#include "convert/images/on_white_source.h"

#include <algorithm>

namespace images {

using imaging::Rect;

HRESULT OnWhiteSource::CopyPalette(std::vector<uint32_t>&) const { return imaging::kPaletteUnavailable; }

HRESULT OnWhiteSource::CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) {
    Rect r = rect ? *rect : Rect{0, 0, static_cast<int32_t>(Width()), static_cast<int32_t>(Height())};
    if (r.width < 1 || r.height < 1) return imaging::S_OK;
    if (static_cast<uint64_t>(r.height - 1) * stride + static_cast<uint64_t>(r.width) * 3 > bufferSize)
        return imaging::E_INVALIDARG;
    const size_t cacheStride = static_cast<size_t>(r.width) * 4;
    for (int32_t row = 0; row < r.height; ++row) {
        Rect line{r.x, r.y + row, r.width, 1};
        rowCache_.resize(cacheStride);
        HRESULT status = inner_->CopyPixels(&line, static_cast<uint32_t>(cacheStride), rowCache_.size(), rowCache_.data());
        if (status != imaging::S_OK) return status;
        const uint8_t* source = rowCache_.data();
        uint8_t* target = buffer + static_cast<size_t>(row) * stride;
        for (int32_t x = 0; x < r.width; ++x, source += 4, target += 3) {
            // Premultiplied data from a file may break the channel <= alpha rule; such a
            // pixel saturates at white instead of wrapping round to a dark colour.
            const unsigned white = 255u - source[3];
            for (int c = 0; c < 3; ++c) target[c] = static_cast<uint8_t>(std::min(255u, source[c] + white));
        }
    }
    return imaging::S_OK;
}

}  // namespace images
