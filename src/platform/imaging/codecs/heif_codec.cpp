// HEIF, HEIC and AVIF through libheif, both ways. Decoding takes the primary image with
// libheif applying the file's own geometry (clean-aperture crop, irot and imir): Debian
// 12's libheif (1.15) cannot report irot/imir, and leaving them out would also drop the
// crop, so the image comes out upright and the file's EXIF orientation, which describes
// the same turn, is not applied again. Images above 8 bits a sample come out 16-bit.
// libheif's own size limit is set to our largest side. Encoding: HEVC through libheif's
// x265 encoder, 8-bit RGB at the given quality, its log silenced.
#include <algorithm>
#include <cstring>
#include <vector>

#include <libheif/heif.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"
#include "platform/imaging/encoders.h"

namespace imaging {
namespace {

constexpr int kMaxHeifSide = 65535;           // the sides every decoder accepts
constexpr uint64_t kDecoderWorkingBytes = 3;  // YCbCr planes libheif keeps beside the RGB result
constexpr int kDefaultQuality = 50;           // libheif's own default when no quality is asked

struct Handles {
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    heif_decoding_options* options = nullptr;
    heif_encoder* encoder = nullptr;
    ~Handles() {
        if (encoder) heif_encoder_release(encoder);
        if (options) heif_decoding_options_free(options);
        if (image) heif_image_release(image);
        if (handle) heif_image_handle_release(handle);
        if (context) heif_context_free(context);
    }
};

heif_error AppendToString(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<std::string*>(userdata)->append(static_cast<const char*>(data), size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

class HeifEncoder final : public FrameEncoder {
public:
    explicit HeifEncoder(const EncoderOptions& options) : quality_(options.quality) {}

    bool SetSize(uint32_t width, uint32_t height) override {
        width_ = width;
        height_ = height;
        return width <= static_cast<uint32_t>(kMaxHeifSide) && height <= static_cast<uint32_t>(kMaxHeifSide);
    }
    PixelFormat SetPixelFormat(PixelFormat) override { return PixelFormat::kBgr24; }

    HRESULT WriteSource(BitmapSource& source) override {
        Handles h;
        if (!h.context) return E_OUTOFMEMORY;
        if (heif_context_get_encoder_for_format(h.context, heif_compression_HEVC, &h.encoder).code != heif_error_Ok)
            return kComponentNotFound;
        heif_encoder_set_logging_level(h.encoder, 0);
        int quality = quality_ < 0 ? kDefaultQuality : static_cast<int>(quality_ * 100.0f + 0.5f);
        heif_encoder_set_lossy_quality(h.encoder, std::clamp(quality, 0, 100));
        int w = static_cast<int>(width_), ht = static_cast<int>(height_);
        if (heif_image_create(w, ht, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &h.image).code != heif_error_Ok ||
            heif_image_add_plane(h.image, heif_channel_interleaved, w, ht, 8).code != heif_error_Ok)
            return E_OUTOFMEMORY;
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(h.image, heif_channel_interleaved, &stride);
        std::vector<uint8_t> band;
        size_t bandStride = 0;
        for (uint32_t y = 0; y < height_; ++y) {
            if (HRESULT status = PullRows(source, y, 1, band, bandStride); status != S_OK) return status;
            uint8_t* row = plane + static_cast<size_t>(y) * static_cast<size_t>(stride);
            for (uint32_t x = 0; x < width_; ++x) {
                row[x * 3] = band[x * 3 + 2];
                row[x * 3 + 1] = band[x * 3 + 1];
                row[x * 3 + 2] = band[x * 3];
            }
        }
        if (heif_context_encode_image(h.context, h.image, h.encoder, nullptr, nullptr).code != heif_error_Ok)
            return E_FAIL;
        heif_writer writer{};
        writer.writer_api_version = 1;
        writer.write = AppendToString;
        std::string out;
        if (heif_context_write(h.context, &writer, &out).code != heif_error_Ok) return E_FAIL;
        bytes_ = std::move(out);
        return S_OK;
    }

    HRESULT Commit(std::string& bytes) override {
        if (bytes_.empty()) return E_FAIL;
        bytes = std::move(bytes_);
        return S_OK;
    }

private:
    float quality_;
    uint32_t width_ = 0, height_ = 0;
    std::string bytes_;
};

}  // namespace

DecodedFrame DecodeHeif(std::string_view bytes, const DecodeOptions& options) {
    Handles h;
    if (!h.context) throw std::bad_alloc();
    heif_context_set_maximum_image_size_limit(h.context, kMaxHeifSide);
    if (heif_context_read_from_memory_without_copy(h.context, bytes.data(), bytes.size(), nullptr).code != heif_error_Ok ||
        heif_context_get_primary_image_handle(h.context, &h.handle).code != heif_error_Ok)
        ThrowDamaged();
    int width = heif_image_handle_get_width(h.handle), height = heif_image_handle_get_height(h.handle);
    if (width <= 0 || height <= 0) ThrowDamaged();
    bool alpha = heif_image_handle_has_alpha_channel(h.handle) != 0;
    int bits = heif_image_handle_get_luma_bits_per_pixel(h.handle);
    bool deep = bits > 8;
    PixelFormat format = deep ? (alpha ? PixelFormat::kRgba64 : PixelFormat::kRgb48)
                              : (alpha ? PixelFormat::kBgra32 : PixelFormat::kBgr24);
    CheckImageHeader(static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                     BytesPerPixel(format) * 2 + kDecoderWorkingBytes, options);
    h.options = heif_decoding_options_alloc();
    heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                              : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    if (heif_decode_image(h.handle, &h.image, heif_colorspace_RGB, chroma, h.options).code != heif_error_Ok)
        ThrowDamaged();
    int decodedWidth = heif_image_get_width(h.image, heif_channel_interleaved);
    int decodedHeight = heif_image_get_height(h.image, heif_channel_interleaved);
    if (decodedWidth <= 0 || decodedHeight <= 0) ThrowDamaged();
    CheckImageHeader(static_cast<uint64_t>(decodedWidth), static_cast<uint64_t>(decodedHeight), BytesPerPixel(format),
                     options);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(h.image, heif_channel_interleaved, &stride);
    if (!plane) ThrowDamaged();
    auto bitmap = std::make_shared<Bitmap>(static_cast<uint32_t>(decodedWidth), static_cast<uint32_t>(decodedHeight),
                                           format);
    const uint32_t channels = alpha ? 4 : 3;
    const int sampleBits = deep ? heif_image_get_bits_per_pixel_range(h.image, heif_channel_interleaved) : 8;
    const uint32_t maximum = sampleBits > 0 && sampleBits < 16 ? (1u << sampleBits) - 1 : 65535;
    for (uint32_t y = 0; y < bitmap->Height(); ++y) {
        const uint8_t* source = plane + static_cast<size_t>(y) * static_cast<size_t>(stride);
        uint8_t* target = bitmap->Row(y);
        for (uint32_t x = 0; x < bitmap->Width(); ++x) {
            if (deep) {
                for (uint32_t c = 0; c < channels; ++c) {
                    uint16_t value;
                    std::memcpy(&value, source + (x * channels + c) * 2, 2);
                    value = static_cast<uint16_t>((std::min<uint32_t>(value, maximum) * 65535u + maximum / 2) / maximum);
                    std::memcpy(target + (x * channels + c) * 2, &value, 2);
                }
            } else {
                const uint8_t* p = source + x * channels;
                uint8_t* q = target + x * channels;
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
                if (alpha) q[3] = p[3];
            }
        }
    }
    if (alpha && heif_image_handle_is_premultiplied_alpha(h.handle) && !deep) {
        auto straight = std::make_shared<Bitmap>(bitmap->Width(), bitmap->Height(), PixelFormat::kBgra32);
        for (uint32_t y = 0; y < bitmap->Height(); ++y)
            ConvertRow(PixelFormat::kPbgra32, {}, bitmap->Row(y), PixelFormat::kBgra32, straight->Row(y), bitmap->Width());
        bitmap = straight;
    }
    return {bitmap, 1};
}

std::unique_ptr<FrameEncoder> CreateHeifEncoder(const EncoderOptions& options) {
    if (!heif_have_encoder_for_format(heif_compression_HEVC)) return nullptr;
    return std::make_unique<HeifEncoder>(options);
}

}  // namespace imaging
