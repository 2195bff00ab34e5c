// JPEG XR (HD Photo, .jxr/.wdp) through jxrlib, both ways, on memory streams. Decoding:
// 8-bit grey, BGR/RGB and BGRA/RGBA, 16-bit grey and RGB(A), and scRGB half and float
// pixels are taken as stored; any other pixel format goes through jxrlib's converter to
// 8-bit RGB(A). Encoding: BGR or BGRA, 4:4:4, quality mapped to a quantiser through
// kQualityTable (quality 100 is lossless).
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"
#include "platform/imaging/encoders.h"

// jxrlib's headers define min and max as macros; they come last and take them back.
extern "C" {
#include <JXRGlue.h>
}
#undef min
#undef max

namespace imaging {
namespace {

constexpr int kMaxJxrSide = 65535;  // the sides every decoder accepts

// Quality (percent) to jxrlib's quantiser index: 1 is lossless, larger is coarser. The
// steps are even in perceived size, finer near the top where differences show.
struct QualityStep {
    int quality;
    int quantiser;
};
constexpr QualityStep kQualityTable[] = {{100, 1}, {95, 6}, {90, 12}, {85, 18}, {80, 24}, {70, 34},
                                         {60, 44}, {50, 54}, {40, 66}, {30, 80}, {20, 96}, {10, 116}, {1, 140}};

int QuantiserFor(int quality) {
    for (size_t i = 1; i < std::size(kQualityTable); ++i) {
        const QualityStep& upper = kQualityTable[i - 1];
        const QualityStep& lower = kQualityTable[i];
        if (quality >= lower.quality) {
            int span = upper.quality - lower.quality;
            return lower.quantiser - (lower.quantiser - upper.quantiser) * (quality - lower.quality) / span;
        }
    }
    return kQualityTable[std::size(kQualityTable) - 1].quantiser;
}

bool SameGuid(const PKPixelFormatGUID& a, const PKPixelFormatGUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct StoredFormat {
    const PKPixelFormatGUID* guid;
    PixelFormat format;
    bool swapRedBlue;
};

const StoredFormat kStoredFormats[] = {
    {&GUID_PKPixelFormat8bppGray, PixelFormat::kGray8, false},
    {&GUID_PKPixelFormat24bppBGR, PixelFormat::kBgr24, false},
    {&GUID_PKPixelFormat24bppRGB, PixelFormat::kBgr24, true},
    {&GUID_PKPixelFormat32bppBGRA, PixelFormat::kBgra32, false},
    {&GUID_PKPixelFormat32bppRGBA, PixelFormat::kBgra32, true},
    {&GUID_PKPixelFormat16bppGray, PixelFormat::kGray16, false},
    {&GUID_PKPixelFormat48bppRGB, PixelFormat::kRgb48, false},
    {&GUID_PKPixelFormat64bppRGBA, PixelFormat::kRgba64, false},
    {&GUID_PKPixelFormat64bppRGBAHalf, PixelFormat::kRgbaHalf, false},
    {&GUID_PKPixelFormat128bppRGBAFloat, PixelFormat::kRgbaFloat, false},
};

struct DecodeHandles {
    WMPStream* stream = nullptr;
    PKImageDecode* decoder = nullptr;
    PKFormatConverter* converter = nullptr;
    ~DecodeHandles() {
        if (converter) converter->Release(&converter);
        if (decoder) decoder->Release(&decoder);
        if (stream) CloseWS_Memory(&stream);
    }
};

// A growable output stream for the encoder, which seeks back to patch its index table.
struct GrowingStream {
    WMPStream stream{};
    std::string bytes;
    size_t position = 0;
};

GrowingStream* Owner(WMPStream* stream) { return static_cast<GrowingStream*>(stream->state.pvObj); }
ERR CloseNothing(WMPStream**) { return WMP_errSuccess; }
Bool AtEnd(WMPStream* stream) { return Owner(stream)->position >= Owner(stream)->bytes.size(); }
ERR ReadGrowing(WMPStream* stream, void* out, size_t count) {
    GrowingStream* owner = Owner(stream);
    if (count > owner->bytes.size() - std::min(owner->position, owner->bytes.size())) return WMP_errFileIO;
    std::memcpy(out, owner->bytes.data() + owner->position, count);
    owner->position += count;
    return WMP_errSuccess;
}
ERR WriteGrowing(WMPStream* stream, const void* data, size_t count) {
    GrowingStream* owner = Owner(stream);
    if (owner->position + count > owner->bytes.size()) owner->bytes.resize(owner->position + count);
    std::memcpy(owner->bytes.data() + owner->position, data, count);
    owner->position += count;
    return WMP_errSuccess;
}
ERR SetGrowingPosition(WMPStream* stream, size_t position) {
    Owner(stream)->position = position;
    return WMP_errSuccess;
}
ERR GetGrowingPosition(WMPStream* stream, size_t* position) {
    *position = Owner(stream)->position;
    return WMP_errSuccess;
}

class JxrEncoder final : public FrameEncoder {
public:
    explicit JxrEncoder(const EncoderOptions& options) : quality_(options.quality) {}

    bool SetSize(uint32_t width, uint32_t height) override {
        width_ = width;
        height_ = height;
        return width <= static_cast<uint32_t>(kMaxJxrSide) && height <= static_cast<uint32_t>(kMaxJxrSide);
    }
    void SetResolution(Resolution resolution) override { resolution_ = resolution; }
    PixelFormat SetPixelFormat(PixelFormat offered) override {
        format_ = SupportsTransparency(offered) ? PixelFormat::kBgra32 : PixelFormat::kBgr24;
        return format_;
    }

    HRESULT WriteSource(BitmapSource& source) override {
        std::vector<uint8_t> pixels;
        size_t stride = 0;
        if (HRESULT status = PullRows(source, 0, height_, pixels, stride); status != S_OK) return status;
        GrowingStream out;
        out.stream.state.pvObj = &out;
        out.stream.Close = CloseNothing;
        out.stream.EOS = AtEnd;
        out.stream.Read = ReadGrowing;
        out.stream.Write = WriteGrowing;
        out.stream.SetPos = SetGrowingPosition;
        out.stream.GetPos = GetGrowingPosition;
        bool alpha = format_ == PixelFormat::kBgra32;
        int quality = quality_ < 0 ? 90 : static_cast<int>(quality_ * 100.0f + 0.5f);
        CWMIStrCodecParam parameters{};
        parameters.bVerbose = FALSE;
        parameters.cfColorFormat = YUV_444;
        parameters.bdBitDepth = BD_LONG;
        parameters.bfBitstreamFormat = FREQUENCY;
        parameters.bProgressiveMode = TRUE;
        parameters.olOverlap = OL_ONE;
        parameters.sbSubband = SB_ALL;
        parameters.uAlphaMode = alpha ? 2 : 0;
        parameters.uiDefaultQPIndex = static_cast<U8>(QuantiserFor(std::clamp(quality, 1, 100)));
        PKImageEncode* encoder = nullptr;
        if (Failed(PKImageEncode_Create_WMP(&encoder))) return E_OUTOFMEMORY;
        ERR error = encoder->Initialize(encoder, &out.stream, &parameters, sizeof parameters);
        if (!Failed(error)) {
            if (alpha) encoder->WMP.wmiSCP_Alpha.uiDefaultQPIndex = parameters.uiDefaultQPIndex;
            error = encoder->SetPixelFormat(encoder, alpha ? GUID_PKPixelFormat32bppBGRA : GUID_PKPixelFormat24bppBGR);
        }
        if (!Failed(error)) error = encoder->SetSize(encoder, static_cast<I32>(width_), static_cast<I32>(height_));
        if (!Failed(error))
            error = encoder->SetResolution(encoder, static_cast<Float>(resolution_.x), static_cast<Float>(resolution_.y));
        if (!Failed(error)) error = encoder->WritePixels(encoder, height_, pixels.data(), static_cast<U32>(stride));
        encoder->Release(&encoder);
        if (Failed(error) || out.bytes.empty()) return E_FAIL;
        bytes_ = std::move(out.bytes);
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
    Resolution resolution_;
    PixelFormat format_ = PixelFormat::kBgr24;
    std::string bytes_;
};

}  // namespace

DecodedFrame DecodeJxr(std::string_view bytes, const DecodeOptions& options) {
    DecodeHandles h;
    if (Failed(CreateWS_Memory(&h.stream, const_cast<char*>(bytes.data()), bytes.size())) ||
        Failed(PKImageDecode_Create_WMP(&h.decoder)) || Failed(h.decoder->Initialize(h.decoder, h.stream)))
        ThrowDamaged();
    // jxrlib decodes a cut-short file without complaint, padding what is missing: the
    // container's own offset and byte count say whether the coded image is all there.
    // (jxrlib's encoder writes a wrong alpha byte count, so only the alpha plane's start is
    // checked.)
    const WmpDEMisc& layout = h.decoder->WMP.wmiDEMisc;
    if (uint64_t{layout.uImageOffset} + layout.uImageByteCount > bytes.size() || layout.uAlphaOffset >= bytes.size())
        ThrowDamaged();
    PKPixelFormatGUID stored;
    I32 width = 0, height = 0;
    if (Failed(h.decoder->GetPixelFormat(h.decoder, &stored)) || Failed(h.decoder->GetSize(h.decoder, &width, &height)) ||
        width <= 0 || height <= 0)
        ThrowDamaged();
    PKPixelInfo info{};
    info.pGUIDPixFmt = &stored;
    if (Failed(PixelFormatLookup(&info, LOOKUP_FORWARD))) ThrowDamaged();
    bool alpha = (info.grBit & PK_pixfmtHasAlpha) != 0;
    h.decoder->WMP.wmiSCP.uAlphaMode = alpha ? 2 : 0;
    const StoredFormat* match = nullptr;
    for (const StoredFormat& candidate : kStoredFormats)
        if (SameGuid(*candidate.guid, stored)) match = &candidate;
    PixelFormat format = match ? match->format : alpha ? PixelFormat::kBgra32 : PixelFormat::kBgr24;
    CheckImageHeader(static_cast<uint64_t>(width), static_cast<uint64_t>(height), BytesPerPixel(format) * 2, options);
    auto bitmap = std::make_shared<Bitmap>(static_cast<uint32_t>(width), static_cast<uint32_t>(height), format);
    Float dpiX = 0, dpiY = 0;
    if (!Failed(h.decoder->GetResolution(h.decoder, &dpiX, &dpiY)) && dpiX > 0 && dpiY > 0)
        bitmap->SetResolution({dpiX, dpiY});
    PKRect rect{0, 0, width, height};
    U32 stride = static_cast<U32>(bitmap->Stride());
    bool swap = match ? match->swapRedBlue : true;
    if (match) {
        if (Failed(h.decoder->Copy(h.decoder, &rect, bitmap->Pixels().data(), stride))) ThrowDamaged();
    } else {
        if (Failed(PKCodecFactory_CreateFormatConverter(&h.converter)) ||
            Failed(h.converter->Initialize(h.converter, h.decoder, nullptr,
                                           alpha ? GUID_PKPixelFormat32bppRGBA : GUID_PKPixelFormat24bppRGB)) ||
            Failed(h.converter->Copy(h.converter, &rect, bitmap->Pixels().data(), stride)))
            ThrowDamaged();
    }
    if (swap) {
        uint32_t step = BytesPerPixel(format);
        std::vector<uint8_t>& pixels = bitmap->Pixels();
        for (size_t i = 0; i + 2 < pixels.size(); i += step) std::swap(pixels[i], pixels[i + 2]);
    }
    return {bitmap, 1};
}

std::unique_ptr<FrameEncoder> CreateJxrEncoder(const EncoderOptions& options) {
    return std::make_unique<JxrEncoder>(options);
}

}  // namespace imaging
