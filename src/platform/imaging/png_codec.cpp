// PNG through libpng, both ways. Decoding: every colour type and depth; palettes and
// tRNS become alpha, grey stays grey, 16-bit samples stay 16-bit; interlaced files are
// read whole. libpng's own limits are set to the sides we accept and a cap on ancillary
// chunk memory. Encoding: grey, BGR(A), 16-bit and indexed rows, zlib level and filters
// tuned for photographs and drawings alike, the resolution in pHYs.
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "convert/core/errors.h"
#include "platform/imaging/decoder_support.h"
#include "platform/imaging/encoders.h"

namespace imaging {
namespace {

constexpr png_uint_32 kMaxPngSide = 65535;           // the sides every decoder accepts
constexpr png_alloc_size_t kMaxChunkBytes = 8 << 20;  // 8 MiB: text and profiles, never pixel data
constexpr uint32_t kEncodeBandRows = 64;              // rows handed to libpng at a time
constexpr double kMetresPerInch = 0.0254;
constexpr int kCompressionLevel = 6;                  // zlib's balance of size and time

struct MemoryReader {
    std::string_view bytes;
    size_t position = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > reader->bytes.size() - reader->position) png_error(png, "cut short");
    std::memcpy(out, reader->bytes.data() + reader->position, length);
    reader->position += length;
}

void WriteToString(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void FlushNothing(png_structp) {}

[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

struct ReadState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    MemoryReader reader;
    std::shared_ptr<Bitmap> bitmap;
    std::vector<png_bytep> rows;
    ~ReadState() { png_destroy_read_struct(&png, &info, nullptr); }
};

bool ReadPng(ReadState& state, const DecodeOptions& options) {
    png_structp png = state.png;
    png_infop info = state.info;
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_set_read_fn(png, &state.reader, ReadFromMemory);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info), type = png_get_color_type(png, info);
    bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    bool gray = (type & PNG_COLOR_MASK_COLOR) == 0;
    bool alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || transparency;
    if (gray && alpha) png_set_gray_to_rgb(png);
    bool deep = depth == 16;
    if (deep) png_set_swap(png);
    else png_set_bgr(png);
    PixelFormat format = gray && !alpha ? (deep ? PixelFormat::kGray16 : PixelFormat::kGray8)
                         : alpha        ? (deep ? PixelFormat::kRgba64 : PixelFormat::kBgra32)
                                        : (deep ? PixelFormat::kRgb48 : PixelFormat::kBgr24);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    CheckImageHeader(width, height, BytesPerPixel(format), options);
    state.bitmap = std::make_shared<Bitmap>(width, height, format);
    if (png_get_rowbytes(png, info) != state.bitmap->Stride()) return false;
    png_uint_32 ppmX = 0, ppmY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &ppmX, &ppmY, &unit) && unit == PNG_RESOLUTION_METER && ppmX > 0 && ppmY > 0)
        state.bitmap->SetResolution({ppmX * kMetresPerInch, ppmY * kMetresPerInch});
    if (passes > 1) {
        state.rows.resize(height);
        for (png_uint_32 y = 0; y < height; ++y) state.rows[y] = state.bitmap->Row(y);
        png_read_image(png, state.rows.data());
    } else {
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, state.bitmap->Row(y), nullptr);
    }
    return true;
}

struct WriteState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string bytes;
    std::vector<uint8_t> band;
    HRESULT failure = E_FAIL;
    ~WriteState() { png_destroy_write_struct(&png, &info); }
};

struct WriteSettings {
    uint32_t width, height;
    PixelFormat format;
    Resolution resolution;
    std::span<const uint32_t> palette;
};

bool WritePng(WriteState& state, BitmapSource& source, const WriteSettings& settings) {
    png_structp png = state.png;
    png_infop info = state.info;
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, &state.bytes, WriteToString, FlushNothing);
    int type = PNG_COLOR_TYPE_RGB, depth = 8;
    switch (settings.format) {
    case PixelFormat::kGray8: type = PNG_COLOR_TYPE_GRAY; break;
    case PixelFormat::kGray16: type = PNG_COLOR_TYPE_GRAY, depth = 16; break;
    case PixelFormat::kBgra32: type = PNG_COLOR_TYPE_RGB_ALPHA; break;
    case PixelFormat::kRgb48: depth = 16; break;
    case PixelFormat::kRgba64: type = PNG_COLOR_TYPE_RGB_ALPHA, depth = 16; break;
    case PixelFormat::kIndexed8: type = PNG_COLOR_TYPE_PALETTE; break;
    default: break;
    }
    png_set_IHDR(png, info, settings.width, settings.height, depth, type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> colors;
        std::vector<png_byte> alphas;
        for (uint32_t entry : settings.palette) {
            colors.push_back({static_cast<png_byte>(entry >> 16), static_cast<png_byte>(entry >> 8),
                              static_cast<png_byte>(entry)});
            alphas.push_back(static_cast<png_byte>(entry >> 24));
        }
        while (!alphas.empty() && alphas.back() == 255) alphas.pop_back();
        png_set_PLTE(png, info, colors.data(), static_cast<int>(colors.size()));
        if (!alphas.empty()) png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    }
    png_set_pHYs(png, info, static_cast<png_uint_32>(settings.resolution.x / kMetresPerInch + 0.5),
                 static_cast<png_uint_32>(settings.resolution.y / kMetresPerInch + 0.5), PNG_RESOLUTION_METER);
    png_set_compression_level(png, kCompressionLevel);
    png_write_info(png, info);
    if (depth == 16) png_set_swap(png);
    else if (type == PNG_COLOR_TYPE_RGB || type == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);
    size_t stride = 0;
    for (uint32_t y = 0; y < settings.height;) {
        uint32_t count = std::min(kEncodeBandRows, settings.height - y);
        HRESULT status = PullRows(source, y, count, state.band, stride);
        if (status != S_OK) {
            state.failure = status;
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) png_write_row(png, state.band.data() + i * stride);
        y += count;
    }
    png_write_end(png, nullptr);
    return true;
}

class PngEncoder final : public FrameEncoder {
public:
    bool SetSize(uint32_t width, uint32_t height) override {
        width_ = width;
        height_ = height;
        return width >= 1 && height >= 1 && width <= PNG_UINT_31_MAX && height <= PNG_UINT_31_MAX;
    }
    void SetResolution(Resolution resolution) override { resolution_ = resolution; }
    PixelFormat SetPixelFormat(PixelFormat offered) override {
        switch (offered) {
        case PixelFormat::kGray8:
        case PixelFormat::kGray16:
        case PixelFormat::kBgr24:
        case PixelFormat::kBgra32:
        case PixelFormat::kRgb48:
        case PixelFormat::kRgba64:
        case PixelFormat::kIndexed8: format_ = offered; break;
        case PixelFormat::kRgbaHalf:
        case PixelFormat::kRgbaFloat: format_ = PixelFormat::kRgba64; break;
        case PixelFormat::kCmyk32: format_ = PixelFormat::kBgr24; break;
        default: format_ = PixelFormat::kBgra32; break;
        }
        return format_;
    }
    bool SetPalette(std::span<const uint32_t> palette) override {
        if (palette.empty() || palette.size() > 256) return false;
        palette_.assign(palette.begin(), palette.end());
        return true;
    }
    HRESULT WriteSource(BitmapSource& source) override {
        if (format_ == PixelFormat::kIndexed8 && palette_.empty()) return kPaletteUnavailable;
        WriteState state;
        state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
        if (state.png) state.info = png_create_info_struct(state.png);
        if (!state.info) return E_OUTOFMEMORY;
        if (!WritePng(state, source, {width_, height_, format_, resolution_, palette_})) return state.failure;
        bytes_ = std::move(state.bytes);
        return S_OK;
    }
    HRESULT Commit(std::string& bytes) override {
        if (bytes_.empty()) return E_FAIL;
        bytes = std::move(bytes_);
        return S_OK;
    }

private:
    uint32_t width_ = 0, height_ = 0;
    Resolution resolution_;
    PixelFormat format_ = PixelFormat::kBgra32;
    std::vector<uint32_t> palette_;
    std::string bytes_;
};

}  // namespace

DecodedFrame DecodePng(std::string_view bytes, const DecodeOptions& options) {
    // The header chunk always comes first; its size is judged before libpng, which would
    // only call a side past its limits an error, not an impossible size.
    if (bytes.size() >= 24 && bytes.substr(12, 4) == "IHDR") {
        auto field = [&](size_t at) {
            uint32_t value = 0;
            for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
            return value;
        };
        CheckImageHeader(field(16), field(20), 1, options);
    }
    ReadState state;
    state.reader.bytes = bytes;
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (state.png) state.info = png_create_info_struct(state.png);
    if (!state.info) throw std::bad_alloc();
    if (!ReadPng(state, options)) ThrowDamaged();
    return {state.bitmap, kOrientationFromExif};
}

std::unique_ptr<FrameEncoder> CreatePngEncoder() { return std::make_unique<PngEncoder>(); }

}  // namespace imaging
