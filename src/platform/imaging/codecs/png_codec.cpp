// PNG through libpng, both ways. Decoding: every colour type and depth; palettes and
// tRNS become alpha, grey stays grey, 16-bit samples stay 16-bit; interlaced files are
// read whole. libpng's own limits are set to the sides we accept and a cap on ancillary
// chunk memory. Encoding: grey, BGR(A), 16-bit and indexed rows, the resolution in pHYs.
// libpng writes the chunks; the image data is filtered (each row by the filter with the
// smallest sum of absolute differences) and deflated here, in bands of rows on several
// threads, each band a run of the one zlib stream. Photographs are deflated with
// run-length matching only, which gives the same size as full matching on filtered
// photographic rows at a fraction of the time; drawings, whose rows repeat, keep full
// matching. A sample of rows decides which the image is.
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <thread>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"
#include "platform/imaging/codecs/streamed_bitmap.h"
#include "platform/imaging/encoders.h"

namespace imaging {
namespace {

constexpr png_uint_32 kMaxPngSide = 65535;           // the sides every decoder accepts
constexpr png_alloc_size_t kMaxChunkBytes = 8 << 20;  // 8 MiB: text and profiles, never pixel data
constexpr double kMetresPerInch = 0.0254;
constexpr int kDrawingLevel = 6;                      // zlib's balance of size and time, for drawings
constexpr int kPhotoLevel = 1;                        // run-length matching needs no search effort
constexpr uint32_t kSampleRows = 32;                  // rows compressed both ways to tell a photo from a drawing
constexpr double kPhotoSizeRatio = 1.03;              // run-length within 3 % of full matching: a photograph
constexpr uint32_t kMaxThreads = 4;                   // more bands than this gain nothing on a desktop
constexpr uint64_t kMinBandBytes = 1 << 20;           // a band smaller than 1 MiB isn't worth a thread
constexpr size_t kIdatChunkBytes = 1 << 20;           // image data is written in chunks of this size

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
    bool interlaced = false;
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
    state.interlaced = passes > 1;
    if (state.interlaced) {
        state.rows.resize(height);
        for (png_uint_32 y = 0; y < height; ++y) state.rows[y] = state.bitmap->Row(y);
        png_read_image(png, state.rows.data());
    }
    return true;
}

// The rows of a file that isn't interlaced, top-down (on the streaming thread).
bool ReadRows(ReadState& state, Bitmap& bitmap, StreamedBitmap& progress) {
    if (setjmp(png_jmpbuf(state.png))) return false;
    for (png_uint_32 y = 0; y < bitmap.Height(); ++y) {
        if (progress.StopRequested()) return false;
        png_read_row(state.png, bitmap.Row(y), nullptr);
        if ((y & 15) == 15 || y + 1 == bitmap.Height()) progress.Publish(y + 1);
    }
    return true;
}

// Rows in PNG's own byte order: RGB(A) rather than BGR(A), 16-bit samples big-endian.
void ToPngOrder(PixelFormat format, const uint8_t* source, uint8_t* target, size_t rowBytes) {
    switch (format) {
    case PixelFormat::kBgr24:
    case PixelFormat::kBgra32: {
        const size_t step = BytesPerPixel(format);
        for (size_t i = 0; i < rowBytes; i += step) {
            target[i] = source[i + 2];
            target[i + 1] = source[i + 1];
            target[i + 2] = source[i];
            if (step == 4) target[i + 3] = source[i + 3];
        }
        return;
    }
    case PixelFormat::kGray16:
    case PixelFormat::kRgb48:
    case PixelFormat::kRgba64:
        for (size_t i = 0; i + 1 < rowBytes; i += 2) {
            target[i] = source[i + 1];
            target[i + 1] = source[i];
        }
        return;
    default: std::memcpy(target, source, rowBytes); return;
    }
}

uint8_t Paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Filters one row (`previous` is all zero above the first row) into `out`: the filter
// type byte, then the filtered bytes. Indexed rows stay unfiltered, as PNG advises.
void FilterRow(const uint8_t* row, const uint8_t* previous, size_t rowBytes, size_t bpp, bool adaptive,
               std::vector<uint8_t> (&scratch)[5], uint8_t* out) {
    if (!adaptive) {
        out[0] = 0;
        std::memcpy(out + 1, row, rowBytes);
        return;
    }
    uint64_t best = UINT64_MAX;
    int chosen = 0;
    for (int type = 0; type < 5; ++type) {
        uint8_t* f = scratch[type].data();
        uint64_t sum = 0;
        for (size_t i = 0; i < rowBytes; ++i) {
            int left = i >= bpp ? row[i - bpp] : 0, up = previous[i], corner = i >= bpp ? previous[i - bpp] : 0;
            int predicted = type == 0 ? 0 : type == 1 ? left : type == 2 ? up : type == 3 ? (left + up) / 2 : Paeth(left, up, corner);
            f[i] = static_cast<uint8_t>(row[i] - predicted);
            sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(f[i])));
        }
        if (sum < best) best = sum, chosen = type;
    }
    out[0] = static_cast<uint8_t>(chosen);
    std::memcpy(out + 1, scratch[chosen].data(), rowBytes);
}

struct Band {
    uint32_t first = 0, count = 0;
    std::vector<std::string> deflated;  // blocks of at most kIdatChunkBytes: no copying as they grow
    uLong adler = 1;
    bool ok = false;
};

// Filters and deflates rows [first, first + count) of `pixels` as one run of the zlib
// stream: raw deflate, ended by a sync flush unless it is the last band.
void DeflateBand(const Bitmap& pixels, PixelFormat format, Band& band, bool last, int level, int strategy) {
    const size_t rowBytes = pixels.Stride(), bpp = std::max<size_t>(1, BytesPerPixel(format));
    const bool adaptive = format != PixelFormat::kIndexed8;
    std::vector<uint8_t> previous(rowBytes, 0), current(rowBytes), filtered(rowBytes + 1);
    std::vector<uint8_t> scratch[5];
    for (auto& buffer : scratch) buffer.resize(rowBytes);
    if (band.first > 0) ToPngOrder(format, pixels.Row(band.first - 1), previous.data(), rowBytes);
    z_stream zip{};
    if (deflateInit2(&zip, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return;
    auto pump = [&](int flush) {
        do {
            if (band.deflated.empty() || band.deflated.back().size() == kIdatChunkBytes) {
                band.deflated.emplace_back();
                band.deflated.back().reserve(kIdatChunkBytes);
            }
            std::string& block = band.deflated.back();
            size_t used = block.size();
            block.resize(kIdatChunkBytes);
            zip.next_out = reinterpret_cast<Bytef*>(block.data() + used);
            zip.avail_out = static_cast<uInt>(kIdatChunkBytes - used);
            int status = deflate(&zip, flush);
            block.resize(kIdatChunkBytes - zip.avail_out);
            if (status == Z_STREAM_ERROR) return false;
        } while (zip.avail_out == 0);
        return true;
    };
    bool ok = true;
    for (uint32_t y = band.first; ok && y < band.first + band.count; ++y) {
        ToPngOrder(format, pixels.Row(y), current.data(), rowBytes);
        FilterRow(current.data(), previous.data(), rowBytes, bpp, adaptive, scratch, filtered.data());
        band.adler = adler32(band.adler, filtered.data(), static_cast<uInt>(filtered.size()));
        zip.next_in = filtered.data();
        zip.avail_in = static_cast<uInt>(filtered.size());
        ok = pump(Z_NO_FLUSH);
        std::swap(previous, current);
    }
    ok = ok && pump(last ? Z_FINISH : Z_SYNC_FLUSH);
    deflateEnd(&zip);
    band.ok = ok;
}

// A drawing's rows repeat at long distances, a photograph's don't: compressed both ways,
// a sample of raw rows shows which the image is.
bool LooksPhotographic(const Bitmap& pixels) {
    uint32_t rows = std::min(kSampleRows, pixels.Height());
    uint32_t first = (pixels.Height() - rows) / 2;
    const uint8_t* data = pixels.Row(first);
    uLong size = static_cast<uLong>(pixels.Stride() * rows);
    auto compressed = [&](int level, int strategy) {
        z_stream zip{};
        if (deflateInit2(&zip, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return uLong{0};
        std::vector<uint8_t> out(deflateBound(&zip, size));
        zip.next_in = const_cast<Bytef*>(data);
        zip.avail_in = static_cast<uInt>(size);
        zip.next_out = out.data();
        zip.avail_out = static_cast<uInt>(out.size());
        deflate(&zip, Z_FINISH);
        uLong total = zip.total_out;
        deflateEnd(&zip);
        return total;
    };
    uLong runs = compressed(kPhotoLevel, Z_RLE), full = compressed(kDrawingLevel, Z_DEFAULT_STRATEGY);
    return runs != 0 && full != 0 && static_cast<double>(runs) <= static_cast<double>(full) * kPhotoSizeRatio;
}

struct ImageData {
    std::string header;  // the zlib header
    std::vector<Band> bands;
    std::string trailer;  // the Adler-32 of all filtered rows
};

// The image data: the zlib stream of all filtered rows, deflated in bands on threads.
bool CompressImage(const Bitmap& pixels, PixelFormat format, ImageData& data) {
    const bool photo = format != PixelFormat::kIndexed8 && LooksPhotographic(pixels);
    const int level = photo ? kPhotoLevel : kDrawingLevel;
    const int strategy = photo ? Z_RLE : Z_FILTERED;
    uint64_t total = static_cast<uint64_t>(pixels.Stride()) * pixels.Height();
    uint32_t threads = std::clamp<uint32_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
    uint32_t bands = static_cast<uint32_t>(std::clamp<uint64_t>(total / kMinBandBytes, 1, threads));
    bands = std::min(bands, pixels.Height());
    std::vector<Band>& parts = data.bands;
    parts.resize(bands);
    for (uint32_t i = 0; i < bands; ++i) {
        parts[i].first = static_cast<uint32_t>(static_cast<uint64_t>(pixels.Height()) * i / bands);
        parts[i].count = static_cast<uint32_t>(static_cast<uint64_t>(pixels.Height()) * (i + 1) / bands) - parts[i].first;
    }
    std::vector<std::thread> workers;
    try {
        for (uint32_t i = 1; i < bands; ++i)
            workers.emplace_back(DeflateBand, std::cref(pixels), format, std::ref(parts[i]), i + 1 == bands, level, strategy);
    } catch (const std::system_error&) {
        // No thread to be had: the remaining bands run here.
    }
    DeflateBand(pixels, format, parts[0], bands == 1, level, strategy);
    for (std::thread& worker : workers) worker.join();
    for (uint32_t i = static_cast<uint32_t>(workers.size()) + 1; i < bands; ++i)
        DeflateBand(pixels, format, parts[i], i + 1 == bands, level, strategy);
    data.header.assign(photo ? "\x78\x01" : "\x78\x9C", 2);  // zlib header: 32 KiB window, level hint
    uLong adler = 1;
    for (Band& part : parts) {
        if (!part.ok) return false;
        adler = adler32_combine(adler, part.adler, static_cast<z_off_t>(static_cast<uint64_t>(part.count) * (pixels.Stride() + 1)));
    }
    for (int shift = 24; shift >= 0; shift -= 8) data.trailer += static_cast<char>((adler >> shift) & 0xFF);
    return true;
}

struct WriteState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string bytes;
    ~WriteState() { png_destroy_write_struct(&png, &info); }
};

struct WriteSettings {
    uint32_t width, height;
    PixelFormat format;
    Resolution resolution;
    std::span<const uint32_t> palette;
};

bool WritePng(WriteState& state, ImageData& imageData, const WriteSettings& settings) {
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
    // The file is reserved whole: grown by doubling it would briefly need twice its size.
    size_t deflated = 0;
    for (const Band& band : imageData.bands)
        for (const std::string& block : band.deflated) deflated += block.size();
    state.bytes.reserve(deflated + deflated / kIdatChunkBytes * 12 + 64 * 1024);
    png_write_info(png, info);
    // The bands go out in chunks and are freed as they go, so the file and the deflated
    // bands are never both held whole.
    std::string chunk = std::move(imageData.header);
    auto emit = [&] {
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), reinterpret_cast<png_const_bytep>(chunk.data()),
                        chunk.size());
        chunk.clear();
    };
    for (Band& band : imageData.bands) {
        for (std::string& block : band.deflated) {
            for (size_t at = 0; at < block.size();) {
                size_t length = std::min(kIdatChunkBytes - chunk.size(), block.size() - at);
                chunk.append(block, at, length);
                at += length;
                if (chunk.size() == kIdatChunkBytes) emit();
            }
            std::string().swap(block);
        }
    }
    chunk += imageData.trailer;
    emit();
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
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
        // The bands are read from several threads at once: from a bitmap in memory, not
        // from a chain whose links keep state.
        HRESULT status = S_OK;
        SourcePtr shared(&source, [](BitmapSource*) {});
        std::shared_ptr<Bitmap> pixels = Materialize(shared, status);
        if (!pixels) return status;
        ImageData imageData;
        if (!CompressImage(*pixels, format_, imageData)) return E_OUTOFMEMORY;
        pixels.reset();
        WriteState state;
        state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
        if (state.png) state.info = png_create_info_struct(state.png);
        if (!state.info) return E_OUTOFMEMORY;
        if (!WritePng(state, imageData, {width_, height_, format_, resolution_, palette_})) return E_FAIL;
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
    auto state = std::make_shared<ReadState>();
    state->reader.bytes = bytes;
    state->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (state->png) state->info = png_create_info_struct(state->png);
    if (!state->info) throw std::bad_alloc();
    if (!ReadPng(*state, options)) ThrowDamaged();
    if (state->interlaced) return {state->bitmap, kOrientationFromExif};
    // The rows are decoded in the background only while someone keeps the file's bytes.
    auto rows = std::make_shared<StreamedBitmap>(
        state->bitmap,
        [state, keep = options.keepBytes](Bitmap& target, StreamedBitmap& progress) {
            return ReadRows(*state, target, progress);
        },
        options.keepBytes != nullptr);
    if (rows->Failed()) ThrowDamaged();
    return {rows, kOrientationFromExif};
}

std::unique_ptr<FrameEncoder> CreatePngEncoder() { return std::make_unique<PngEncoder>(); }

}  // namespace imaging
