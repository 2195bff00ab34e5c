// JPEG through libjpeg-turbo, both ways. Decoding: baseline and progressive, grey, colour
// and CMYK (Adobe's inverted CMYK is turned back to 0 = no ink); at most kMaxScans scans,
// so a progressive file cannot make the decoder loop over millions of empty scans; a file
// cut short or with broken entropy data is refused instead of padded with grey.
// Encoding: BGR or grey rows, quality 1..100, Huffman tables optimised, 4:4:4 chroma at
// quality 90 and above (4:2:0 below), the resolution in the JFIF header.
#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"
#include "platform/imaging/codecs/streamed_bitmap.h"
#include "platform/imaging/encoders.h"

namespace imaging {
namespace {

constexpr int kMaxScans = 1000;                 // real progressive files have about ten
constexpr uint32_t kMaxJpegSide = 65500;        // libjpeg's own ceiling for both sides
constexpr uint32_t kEncodeBandRows = 16;        // rows handed to the compressor at a time
constexpr double kCentimetresPerInch = 2.54;
constexpr int kDefaultQuality = 75;             // libjpeg's own default when no quality is asked

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    bool damaged = false;  // a warning that means missing or broken data
};

[[noreturn]] void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }

void OnMessage(j_common_ptr info, int level) {
    if (level >= 0) return;  // trace messages
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    int code = info->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
        code == JWRN_MUST_RESYNC || code == JWRN_NOT_SEQUENTIAL || code == JWRN_BOGUS_PROGRESSION)
        manager->damaged = true;
}

void OnOutput(j_common_ptr) {}

struct ScanLimit {
    jpeg_progress_mgr base;
    ErrorManager* errors;
};

void OnProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void InstallErrors(ErrorManager& errors, jpeg_common_struct* info) {
    info->err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    errors.base.output_message = OnOutput;
}

Resolution JfifResolution(const jpeg_decompress_struct& info) {
    Resolution resolution;
    if (info.X_density > 0 && info.Y_density > 0) {
        if (info.density_unit == 1) resolution = {double(info.X_density), double(info.Y_density)};
        if (info.density_unit == 2)
            resolution = {info.X_density * kCentimetresPerInch, info.Y_density * kCentimetresPerInch};
    }
    return resolution;
}

// Everything the compressor touches lives here, outside the function that calls setjmp,
// so that nothing it needs after a jump is an indeterminate local.
struct CompressState {
    jpeg_compress_struct info{};
    ErrorManager errors{};
    unsigned char* memory = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> band;
    std::vector<JSAMPROW> rows = std::vector<JSAMPROW>(kEncodeBandRows);
    HRESULT failure = E_FAIL;
};

struct CompressSettings {
    uint32_t width, height;
    bool gray;
    int quality;
    Resolution resolution;
};

UINT16 Density(double dpi) { return static_cast<UINT16>(dpi >= 1 && dpi < 65535 ? dpi + 0.5 : kDefaultDpi); }

bool Compress(CompressState& state, BitmapSource& source, const CompressSettings& settings) {
    jpeg_compress_struct& info = state.info;
    if (setjmp(state.errors.jump)) return false;
    jpeg_mem_dest(&info, &state.memory, &state.size);
    info.image_width = settings.width;
    info.image_height = settings.height;
    info.input_components = settings.gray ? 1 : 3;
    info.in_color_space = settings.gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.quality, TRUE);
    if (!settings.gray && settings.quality >= 90)
        for (int c = 0; c < 3; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    info.optimize_coding = TRUE;
    info.density_unit = 1;
    info.X_density = Density(settings.resolution.x);
    info.Y_density = Density(settings.resolution.y);
    jpeg_start_compress(&info, TRUE);
    size_t stride = 0;
    while (info.next_scanline < info.image_height) {
        uint32_t count = std::min<uint32_t>(kEncodeBandRows, info.image_height - info.next_scanline);
        HRESULT status = PullRows(source, info.next_scanline, count, state.band, stride);
        if (status != S_OK) {
            state.failure = status;
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) state.rows[i] = state.band.data() + i * stride;
        jpeg_write_scanlines(&info, state.rows.data(), count);
    }
    jpeg_finish_compress(&info);
    return true;
}

class JpegEncoder final : public FrameEncoder {
public:
    explicit JpegEncoder(const EncoderOptions& options) : quality_(options.quality) {}

    bool SetSize(uint32_t width, uint32_t height) override {
        width_ = width;
        height_ = height;
        return width <= kMaxJpegSide && height <= kMaxJpegSide;
    }
    void SetResolution(Resolution resolution) override { resolution_ = resolution; }
    PixelFormat SetPixelFormat(PixelFormat offered) override {
        format_ = offered == PixelFormat::kGray8 ? PixelFormat::kGray8 : PixelFormat::kBgr24;
        return format_;
    }

    HRESULT WriteSource(BitmapSource& source) override {
        int quality = quality_ < 0 ? kDefaultQuality : static_cast<int>(quality_ * 100.0f + 0.5f);
        CompressSettings settings{width_, height_, format_ == PixelFormat::kGray8, std::clamp(quality, 1, 100),
                                  resolution_};
        CompressState state;
        InstallErrors(state.errors, reinterpret_cast<jpeg_common_struct*>(&state.info));
        jpeg_create_compress(&state.info);
        bool ok = Compress(state, source, settings);
        jpeg_destroy_compress(&state.info);
        if (ok) bytes_.assign(reinterpret_cast<const char*>(state.memory), state.size);
        std::free(state.memory);
        return ok ? S_OK : state.failure;
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

namespace {

struct DecompressState {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    ScanLimit limit{};
    std::vector<JSAMPROW> rows;
    bool adobeInverted = false;
    DecompressState() {
        InstallErrors(errors, reinterpret_cast<jpeg_common_struct*>(&info));
        jpeg_create_decompress(&info);
    }
    ~DecompressState() { jpeg_destroy_decompress(&info); }
};

// Reads the header, checks the size and starts the decompressor; false when libjpeg
// failed. Throws the header check's errors.
bool Start(DecompressState& state, std::string_view bytes, const DecodeOptions& options, std::shared_ptr<Bitmap>& bitmap) {
    jpeg_decompress_struct& info = state.info;
    if (setjmp(state.errors.jump)) return false;
    state.limit.base.progress_monitor = OnProgress;
    info.progress = &state.limit.base;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    PixelFormat format;
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE: info.out_color_space = JCS_GRAYSCALE, format = PixelFormat::kGray8; break;
    case JCS_CMYK:
    case JCS_YCCK: info.out_color_space = JCS_CMYK, format = PixelFormat::kCmyk32; break;
    default: info.out_color_space = JCS_EXT_BGR, format = PixelFormat::kBgr24; break;
    }
    // Progressive files keep every coefficient (two bytes each) in memory while they decode.
    uint64_t working = BytesPerPixel(format) + (info.progressive_mode ? 2u * static_cast<unsigned>(info.num_components) : 0u);
    CheckImageHeader(info.image_width, info.image_height, working, options);
    bitmap = std::make_shared<Bitmap>(info.image_width, info.image_height, format);
    bitmap->SetResolution(JfifResolution(info));
    jpeg_start_decompress(&info);
    if (info.output_width != bitmap->Width() || info.output_height != bitmap->Height()) return false;
    state.adobeInverted = format == PixelFormat::kCmyk32 && info.saw_Adobe_marker;
    return !state.errors.damaged;
}

// Decodes the rows (on the streaming thread); false for damaged data.
bool ReadRows(DecompressState& state, Bitmap& bitmap, StreamedBitmap& progress) {
    jpeg_decompress_struct& info = state.info;
    if (setjmp(state.errors.jump)) return false;
    state.rows.resize(static_cast<size_t>(info.rec_outbuf_height));
    while (info.output_scanline < info.output_height) {
        if (progress.StopRequested()) return false;
        JDIMENSION first = info.output_scanline;
        JDIMENSION count = std::min<JDIMENSION>(static_cast<JDIMENSION>(state.rows.size()), info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i) state.rows[i] = bitmap.Row(first + i);
        jpeg_read_scanlines(&info, state.rows.data(), count);
        if (state.errors.damaged) return false;
        if (state.adobeInverted)
            for (JDIMENSION y = first; y < info.output_scanline; ++y)
                for (size_t i = 0; i < bitmap.Stride(); ++i) bitmap.Row(y)[i] = static_cast<uint8_t>(255 - bitmap.Row(y)[i]);
        progress.Publish(info.output_scanline);
    }
    jpeg_finish_decompress(&info);
    return !state.errors.damaged;
}

}  // namespace

DecodedFrame DecodeJpeg(std::string_view bytes, const DecodeOptions& options) {
    auto state = std::make_shared<DecompressState>();
    std::shared_ptr<Bitmap> bitmap;
    if (!Start(*state, bytes, options, bitmap)) ThrowDamaged();
    // The rows are decoded in the background only while someone keeps the file's bytes.
    auto rows = std::make_shared<StreamedBitmap>(
        bitmap,
        [state, keep = options.keepBytes](Bitmap& target, StreamedBitmap& progress) {
            return ReadRows(*state, target, progress);
        },
        options.keepBytes != nullptr);
    if (rows->Failed()) ThrowDamaged();
    return {rows, kOrientationFromExif};
}

std::unique_ptr<FrameEncoder> CreateJpegEncoder(const EncoderOptions& options) {
    return std::make_unique<JpegEncoder>(options);
}

}  // namespace imaging
