// JPEG XL through libjxl: the first frame, turned upright by the library itself (so the
// orientation reported is 1), 8-bit or, for deeper images, 16-bit samples, with alpha
// when the image has it. The size is checked from the basic info before any pixel buffer.
#include <cstring>
#include <vector>

#include <jxl/decode.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"

namespace imaging {
namespace {

struct DecoderCloser {
    JxlDecoder* decoder;
    ~DecoderCloser() { JxlDecoderDestroy(decoder); }
};

}  // namespace

DecodedFrame DecodeJxl(std::string_view bytes, const DecodeOptions& options) {
    DecoderCloser closer{JxlDecoderCreate(nullptr)};
    JxlDecoder* decoder = closer.decoder;
    if (!decoder) throw std::bad_alloc();
    if (JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) != JXL_DEC_SUCCESS)
        ThrowDamaged();
    JxlDecoderCloseInput(decoder);
    std::shared_ptr<Bitmap> bitmap;
    JxlPixelFormat format{};
    std::vector<uint8_t> samples;
    bool alpha = false, deep = false;
    for (;;) {
        JxlDecoderStatus status = JxlDecoderProcessInput(decoder);
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS) ThrowDamaged();
            alpha = info.alpha_bits > 0;
            deep = info.bits_per_sample > 8;
            format = {alpha ? 4u : 3u, deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
            uint64_t bytesPerPixel = format.num_channels * (deep ? 2u : 1u);
            CheckImageHeader(info.xsize, info.ysize, bytesPerPixel * 2, options);
            if (info.num_color_channels == 1 && !alpha) {
                format.num_channels = 1;
                bitmap = std::make_shared<Bitmap>(info.xsize, info.ysize, deep ? PixelFormat::kGray16 : PixelFormat::kGray8);
            } else {
                bitmap = std::make_shared<Bitmap>(info.xsize, info.ysize,
                                                  deep ? (alpha ? PixelFormat::kRgba64 : PixelFormat::kRgb48)
                                                       : (alpha ? PixelFormat::kBgra32 : PixelFormat::kBgr24));
            }
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            if (!bitmap) ThrowDamaged();
            size_t size = 0;
            if (JxlDecoderImageOutBufferSize(decoder, &format, &size) != JXL_DEC_SUCCESS ||
                size != bitmap->Pixels().size())
                ThrowDamaged();
            if (JxlDecoderSetImageOutBuffer(decoder, &format, bitmap->Pixels().data(), size) != JXL_DEC_SUCCESS)
                ThrowDamaged();
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break;  // the first frame is all we convert
        } else {
            ThrowDamaged();  // an error, or the input ended before the first frame did
        }
    }
    if (!deep && format.num_channels >= 3) {  // libjxl gives RGB(A); ours are BGR(A)
        std::vector<uint8_t>& pixels = bitmap->Pixels();
        for (size_t i = 0; i + 2 < pixels.size(); i += format.num_channels) std::swap(pixels[i], pixels[i + 2]);
    }
    return {bitmap, 1};
}

}  // namespace imaging
