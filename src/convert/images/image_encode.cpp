#include "convert/images/image_encode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

#include "convert/core/catalog.h"
#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/images/on_white_source.h"
#include "convert/images/svg_wrapper.h"
#include "platform/imaging/encoders.h"

#include "convert/images/bmp.h"
#include "convert/images/dds.h"
#include "convert/images/gif_writer.h"
#include "convert/images/ico.h"
#include "convert/images/netpbm.h"
#include "convert/images/qoi.h"
#include "convert/images/tga.h"
#include "convert/images/webp_lossless.h"

namespace images {
namespace {

using imaging::PixelFormat;
using imaging::SourcePtr;

constexpr int32_t kDefaultQuality = 92;  // what an unset quality means, for JPEG, HEIC and JPEG XR

template <typename Bytes>
std::string AsString(Bytes&& bytes) {
    if constexpr (std::is_same_v<std::decay_t<Bytes>, std::string>) {
        return std::forward<Bytes>(bytes);
    } else {
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
}

class PixelBufferSource final : public imaging::BitmapSource {
public:
    explicit PixelBufferSource(const PixelBuffer& pixels) : pixels_(pixels) {}
    uint32_t Width() const override { return pixels_.width; }
    uint32_t Height() const override { return pixels_.height; }
    imaging::Resolution GetResolution() const override { return {}; }
    PixelFormat Format() const override { return PixelFormat::kBgra32; }
    HRESULT CopyPixels(const imaging::Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) override {
        imaging::Rect r;
        if (HRESULT status = imaging::CheckCopy(*this, rect, stride, bufferSize, r); status != imaging::S_OK)
            return status;
        const size_t rowBytes = static_cast<size_t>(r.width) * 4, sourceStride = static_cast<size_t>(pixels_.width) * 4;
        if (pixels_.bgra.size() < sourceStride * pixels_.height) return imaging::E_INVALIDARG;
        for (int32_t row = 0; row < r.height; ++row)
            std::memcpy(buffer + static_cast<size_t>(row) * stride,
                        pixels_.bgra.data() + static_cast<size_t>(r.y + row) * sourceStride + static_cast<size_t>(r.x) * 4,
                        rowBytes);
        return imaging::S_OK;
    }

private:
    const PixelBuffer& pixels_;
};

// The program's own writers of BMP, GIF and DDS as encoders of the write step: they take
// the whole image as a pixel buffer.
class OwnEncoder final : public imaging::FrameEncoder {
public:
    using Encode = std::string (*)(const PixelBuffer&, PixelFormat);
    OwnEncoder(Encode encode, PixelFormat format) : encode_(encode), format_(format) {}

    bool SetSize(uint32_t width, uint32_t height) override { return ImageSizeAllowed(width, height); }
    PixelFormat SetPixelFormat(PixelFormat offered) override {
        (void)offered;
        return format_;
    }
    HRESULT WriteSource(imaging::BitmapSource& source) override {
        offered_ = source.Format();
        PixelBuffer pixels;
        pixels.width = source.Width();
        pixels.height = source.Height();
        std::vector<uint8_t> rows(static_cast<size_t>(pixels.width) * pixels.height * imaging::BytesPerPixel(offered_));
        HRESULT status = source.CopyPixels(nullptr, pixels.width * imaging::BytesPerPixel(offered_), rows.size(), rows.data());
        if (status != imaging::S_OK) return status;
        if (offered_ == PixelFormat::kBgra32) {
            pixels.bgra = std::move(rows);
        } else {
            pixels.bgra.resize(static_cast<size_t>(pixels.width) * pixels.height * 4);
            imaging::ConvertRow(offered_, {}, rows.data(), PixelFormat::kBgra32, pixels.bgra.data(),
                                static_cast<size_t>(pixels.width) * pixels.height);
        }
        bytes_ = encode_(pixels, offered_);
        return imaging::S_OK;
    }
    HRESULT Commit(std::string& bytes) override {
        if (bytes_.empty()) return E_FAIL;
        bytes = std::move(bytes_);
        return imaging::S_OK;
    }

private:
    Encode encode_;
    PixelFormat format_;
    PixelFormat offered_ = PixelFormat::kBgra32;
    std::string bytes_;
};

std::unique_ptr<imaging::FrameEncoder> CreateOwnEncoder(int32_t format) {
    switch (format) {
    case kBmp:
        // The write step lays BMP pictures on white first, so what arrives has no alpha.
        return std::make_unique<OwnEncoder>(
            [](const PixelBuffer& pixels, PixelFormat offered) {
                return AsString(EncodeBmp(pixels, imaging::SupportsTransparency(offered)));
            },
            PixelFormat::kBgr24);
    case kGif:
        return std::make_unique<OwnEncoder>([](const PixelBuffer& pixels, PixelFormat) { return AsString(EncodeGif(pixels)); },
                                            PixelFormat::kBgra32);
    case kDds:
        return std::make_unique<OwnEncoder>([](const PixelBuffer& pixels, PixelFormat) { return AsString(EncodeDds(pixels)); },
                                            PixelFormat::kBgra32);
    default: return nullptr;
    }
}

imaging::Container ContainerOf(int32_t format) {
    switch (format) {
    case kPng: return imaging::Container::kPng;
    case kJpg: return imaging::Container::kJpeg;
    case kTiff: return imaging::Container::kTiff;
    case kHeic: return imaging::Container::kHeif;
    case kJxr: return imaging::Container::kJxr;
    default: return imaging::Container::kUnknown;
    }
}

std::string OwnWritten(const SourcePtr& source, int32_t format) {
    switch (format) {
    case kWebp: return AsString(EncodeWebpLossless(ReadPixels(source)));
    case kTga: return AsString(EncodeTga(ReadPixels(source)));
    case kQoi: return AsString(EncodeQoi(ReadPixels(source)));
    case kPpm: return AsString(EncodePpm(ReadPixels(source)));
    default: break;
    }
    throw ConvertError("This version of Windows can't save " + std::string(FormatName(format)) + " pictures");
}

// The icon writer: every size of the list scaled from the same pixels, centred on a
// transparent square, stored as PNG.
std::string WriteIcon(const SourcePtr& source, bool cursor) {
    return BuildIcon(ReadPixels(source), cursor, [](const PixelBuffer& square) { return EncodeImage(square, kPng, 0); });
}

}  // namespace

int32_t EffectiveQuality(int32_t option) { return option < 1 ? kDefaultQuality : std::min(option, 100); }

SourcePtr FlattenOntoWhite(SourcePtr source) {
    if (!imaging::SupportsTransparency(source->Format())) return imaging::ConvertFormat(std::move(source), PixelFormat::kBgr24);
    SourcePtr premultiplied = imaging::ConvertFormat(std::move(source), PixelFormat::kPbgra32);
    if (!premultiplied) return nullptr;
    return std::make_shared<OnWhiteSource>(std::move(premultiplied));
}

PixelBuffer ReadPixels(const SourcePtr& source) {
    SourcePtr straight = imaging::ConvertFormat(source, PixelFormat::kBgra32);
    if (!straight) throw ConvertError("This image uses a pixel format that can't be converted");
    PixelBuffer pixels;
    pixels.width = straight->Width();
    pixels.height = straight->Height();
    if (!ImageSizeAllowed(pixels.width, pixels.height)) throw ConvertError("This image reports an impossible size");
    pixels.bgra.resize(static_cast<size_t>(pixels.width) * pixels.height * 4);
    HRESULT status = straight->CopyPixels(nullptr, pixels.width * 4, pixels.bgra.size(), pixels.bgra.data());
    if (status == imaging::kBadImage) throw ConvertError("Couldn't open this image", status);
    if (status != imaging::S_OK) throw ConvertError("Couldn't read the image", status);
    return pixels;
}

SourcePtr SourceOverPixels(const PixelBuffer& pixels) { return std::make_shared<PixelBufferSource>(pixels); }

std::string EncodeToMemory(const SourcePtr& input, int32_t format, int32_t quality) {
    std::unique_ptr<imaging::FrameEncoder> encoder;
    if (format == kBmp || format == kGif || format == kDds) {
        encoder = CreateOwnEncoder(format);
    } else {
        imaging::Container container = ContainerOf(format);
        if (container == imaging::Container::kUnknown) throw ConvertError("That isn't an image format");
        imaging::EncoderOptions options;
        if (format == kJpg || format == kHeic || format == kJxr) options.quality = static_cast<float>(EffectiveQuality(quality)) / 100.0f;
        options.tiffDeflate = format == kTiff;
        encoder = imaging::CreateEncoder(container, options);
    }
    if (!encoder) {
        if (format == kHeic) throw ConvertError("Install \"HEIF Image Extensions\" from the Microsoft Store to save HEIC");
        throw ConvertError("This version of Windows can't save " + std::string(FormatName(format)) + " pictures");
    }

    SourcePtr source = input;
    if (format == kJpg || format == kBmp || format == kHeic) source = FlattenOntoWhite(source);
    if (!source) throw ConvertError("Couldn't agree on a pixel format");
    if (!encoder->SetSize(source->Width(), source->Height())) throw ConvertError("The image is too large for this format");
    imaging::Resolution resolution = source->GetResolution();
    if (resolution.x > 1.0 && resolution.y > 1.0) encoder->SetResolution(resolution);
    PixelFormat accepted = encoder->SetPixelFormat(source->Format());
    if (accepted == PixelFormat::kIndexed8) {
        std::vector<uint32_t> palette;
        if (source->CopyPalette(palette) != imaging::S_OK || !encoder->SetPalette(palette))
            throw ConvertError("Couldn't write the GIF palette");
    }
    if (accepted != source->Format()) {
        source = imaging::ConvertFormat(source, accepted);
        if (!source) throw ConvertError("Couldn't agree on a pixel format");
    }
    if (HRESULT status = encoder->WriteSource(*source); status != imaging::S_OK) {
        // Rows are decoded while the encoder reads them, so damage found late in the input
        // surfaces here; it is still the input that couldn't be opened.
        if (status == imaging::kBadImage) throw ConvertError("Couldn't open this image", status);
        throw ConvertError("Couldn't write the image", status);
    }
    std::string bytes;
    if (HRESULT status = encoder->Commit(bytes); status != imaging::S_OK)
        throw ConvertError("Couldn't finish the image", status);
    return bytes;
}

std::string EncodeSource(const SourcePtr& source, int32_t format, int32_t quality) {
    switch (format) {
    case kIco: return WriteIcon(source, false);
    case kCur: return WriteIcon(source, true);
    case kSvg: return WrapInSvg(source);
    case kWebp:
    case kTga:
    case kQoi:
    case kPpm: return OwnWritten(source, format);
    default: return EncodeToMemory(source, format, quality);
    }
}

std::string EncodeImage(const PixelBuffer& pixels, int32_t format, int32_t quality) {
    if (!ImageSizeAllowed(pixels.width, pixels.height) ||
        pixels.bgra.size() != static_cast<size_t>(pixels.width) * pixels.height * 4)
        throw ConvertError("This image reports an impossible size");
    return EncodeSource(SourceOverPixels(pixels), format, quality);
}

std::string WriteImage(const PixelBuffer& pixels, const std::string& folder, const std::string& stem, int32_t format,
                       int32_t quality) {
    return PublishOutput(folder, stem, FormatExtension(format), EncodeImage(pixels, format, quality));
}

}  // namespace images
