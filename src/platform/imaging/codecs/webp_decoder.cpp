// WebP through libwebp, lossy and lossless, with or without alpha. An animated file gives
// its first frame composed on the canvas (libwebpdemux's animation decoder), as a viewer
// shows it before it starts playing.
#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"

namespace imaging {
namespace {

struct AnimationCloser {
    WebPAnimDecoder* decoder;
    ~AnimationCloser() { WebPAnimDecoderDelete(decoder); }
};

DecodedFrame FirstAnimationFrame(std::string_view bytes, const DecodeOptions& options) {
    WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions animation;
    if (!WebPAnimDecoderOptionsInit(&animation)) ThrowDamaged();
    animation.color_mode = MODE_BGRA;
    animation.use_threads = 0;
    // The canvas size is checked before the decoder allocates it.
    WebPDemuxer* demuxer = WebPDemux(&data);
    if (!demuxer) ThrowDamaged();
    uint32_t width = WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_WIDTH), height = WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_HEIGHT);
    WebPDemuxDelete(demuxer);
    CheckImageHeader(width, height, 8, options);  // the decoder keeps the canvas and a previous copy
    AnimationCloser closer{WebPAnimDecoderNew(&data, &animation)};
    if (!closer.decoder) ThrowDamaged();
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(closer.decoder, &canvas, &timestamp) || !canvas) ThrowDamaged();
    auto bitmap = std::make_shared<Bitmap>(width, height, PixelFormat::kBgra32);
    std::memcpy(bitmap->Pixels().data(), canvas, bitmap->Pixels().size());
    return {bitmap, kOrientationFromExif};
}

}  // namespace

DecodedFrame DecodeWebp(std::string_view bytes, const DecodeOptions& options) {
    WebPBitstreamFeatures features;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (WebPGetFeatures(data, bytes.size(), &features) != VP8_STATUS_OK) ThrowDamaged();
    if (features.has_animation) return FirstAnimationFrame(bytes, options);
    if (features.width <= 0 || features.height <= 0) ThrowDamaged();
    PixelFormat format = features.has_alpha ? PixelFormat::kBgra32 : PixelFormat::kBgr24;
    CheckImageHeader(static_cast<uint64_t>(features.width), static_cast<uint64_t>(features.height),
                     BytesPerPixel(format), options);
    auto bitmap = std::make_shared<Bitmap>(static_cast<uint32_t>(features.width), static_cast<uint32_t>(features.height),
                                           format);
    int stride = static_cast<int>(bitmap->Stride());
    uint8_t* done = features.has_alpha
                        ? WebPDecodeBGRAInto(data, bytes.size(), bitmap->Pixels().data(), bitmap->Pixels().size(), stride)
                        : WebPDecodeBGRInto(data, bytes.size(), bitmap->Pixels().data(), bitmap->Pixels().size(), stride);
    if (!done) ThrowDamaged();
    return {bitmap, kOrientationFromExif};
}

}  // namespace imaging
