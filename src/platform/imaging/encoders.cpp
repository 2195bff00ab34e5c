#include "platform/imaging/encoders.h"

namespace imaging {

HRESULT PullRows(BitmapSource& source, uint32_t y, uint32_t rows, std::vector<uint8_t>& band, size_t& stride) {
    stride = static_cast<size_t>(source.Width()) * BytesPerPixel(source.Format());
    band.resize(stride * rows);
    Rect rect{0, static_cast<int32_t>(y), static_cast<int32_t>(source.Width()), static_cast<int32_t>(rows)};
    return source.CopyPixels(&rect, static_cast<uint32_t>(stride), band.size(), band.data());
}

std::unique_ptr<FrameEncoder> CreateEncoder(Container container, const EncoderOptions& options) {
    SilenceCodecLibraries();
    switch (container) {
    case Container::kPng: return CreatePngEncoder();
    case Container::kJpeg: return CreateJpegEncoder(options);
    case Container::kTiff: return CreateTiffEncoder(options);
    case Container::kHeif: return CreateHeifEncoder(options);
    case Container::kJxr: return CreateJxrEncoder(options);
    default: return nullptr;
    }
}

}  // namespace imaging
