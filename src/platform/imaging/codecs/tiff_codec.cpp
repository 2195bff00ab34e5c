// TIFF through libtiff on memory (TIFFClientOpen), both ways. Decoding reads the first
// directory: 8- and 16-bit grey and 16-bit RGB(A) strips natively, everything else
// (palette, CMYK, YCbCr, JPEG-in-TIFF, fax, tiles) through libtiff's RGBA reader; rows come
// in the file's stored order and the Orientation tag goes to the flip-rotator. Single
// allocations inside libtiff are capped. Encoding writes one strip-organised page of grey,
// RGB(A), 16-bit or CMYK samples, deflate with the horizontal predictor when asked.
#include <cstring>
#include <vector>

#include <tiffio.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"
#include "platform/imaging/encoders.h"

namespace imaging {
namespace {

constexpr tmsize_t kMaxSingleAllocation = tmsize_t{1} << 30;  // 1 GiB: a strip beyond it is not a real file
constexpr size_t kTargetStripBytes = 256 * 1024;              // strips of about this size compress well
constexpr double kCentimetresPerInch = 2.54;

struct MemoryFile {
    std::string_view input;  // reading
    std::string* output = nullptr;  // writing
    uint64_t position = 0;

    uint64_t Size() const { return output ? output->size() : input.size(); }
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (file->output || size < 0 || file->position >= file->input.size()) return 0;
    size_t count = std::min<uint64_t>(static_cast<uint64_t>(size), file->input.size() - file->position);
    std::memcpy(buffer, file->input.data() + file->position, count);
    file->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (!file->output || size < 0) return -1;
    uint64_t end = file->position + static_cast<uint64_t>(size);
    if (end > file->output->size()) file->output->resize(end);
    std::memcpy(file->output->data() + file->position, buffer, static_cast<size_t>(size));
    file->position = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    uint64_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->Size() : 0;
    uint64_t target = base + offset;
    if (!file->output && target > file->input.size()) return static_cast<toff_t>(-1);
    file->position = target;
    return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->Size(); }
int MapProc(thandle_t handle, void** base, toff_t* size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (file->output) return 0;
    *base = const_cast<char*>(file->input.data());
    *size = file->input.size();
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    TIFF* tiff;
    ~TiffCloser() {
        if (tiff) TIFFClose(tiff);
    }
};

TIFF* Open(MemoryFile& file, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    TIFF* tiff = TIFFClientOpenExt("memory", mode, &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                   UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

Resolution ReadResolution(TIFF* tiff) {
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    Resolution resolution;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0) {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        if (unit == RESUNIT_INCH) resolution = {x, y};
        if (unit == RESUNIT_CENTIMETER) resolution = {x * kCentimetresPerInch, y * kCentimetresPerInch};
    }
    return resolution;
}

// Grey and RGB(A) strips read as they are, so depth, greyness and the colour under
// transparent pixels survive (libtiff's RGBA reader premultiplies). 8-bit RGB arrives
// in file order and has red and blue swapped afterwards.
bool NativeFormat(TIFF* tiff, PixelFormat& format, bool& swapRedBlue) {
    swapRedBlue = false;
    uint16_t samples = 1, bits = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    if (TIFFIsTiled(tiff) || planar != PLANARCONFIG_CONTIG || sampleFormat != SAMPLEFORMAT_UINT) return false;
    if (photometric == PHOTOMETRIC_MINISBLACK && samples == 1 && (bits == 8 || bits == 16)) {
        format = bits == 8 ? PixelFormat::kGray8 : PixelFormat::kGray16;
        return true;
    }
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    bool associated = extraCount == 1 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    if (photometric != PHOTOMETRIC_RGB || (samples != 3 && samples != 4) || (samples == 4 && extraCount != 1))
        return false;
    if (bits == 16 && !associated) {
        format = samples == 3 ? PixelFormat::kRgb48 : PixelFormat::kRgba64;
        return true;
    }
    if (bits == 8) {
        format = samples == 3 ? PixelFormat::kBgr24 : associated ? PixelFormat::kPbgra32 : PixelFormat::kBgra32;
        swapRedBlue = true;
        return true;
    }
    return false;
}

// 32-bit float grey and RGB(A), as scientific and HDR tools write them: linear light,
// which the float pixel format carries (libtiff's RGBA reader refuses them).
bool DecodeFloat(TIFF* tiff, uint32_t width, uint32_t height, const DecodeOptions& options, DecodedFrame& frame) {
    uint16_t samples = 1, bits = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    if (sampleFormat != SAMPLEFORMAT_IEEEFP || bits != 32 || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tiff))
        return false;
    bool grey = photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || samples == 2);
    bool rgb = photometric == PHOTOMETRIC_RGB && (samples == 3 || samples == 4);
    if (!grey && !rgb) return false;
    CheckImageHeader(width, height, 16, options);
    if (static_cast<uint64_t>(TIFFScanlineSize64(tiff)) != static_cast<uint64_t>(width) * samples * 4) ThrowDamaged();
    auto bitmap = std::make_shared<Bitmap>(width, height, PixelFormat::kRgbaFloat);
    bitmap->SetResolution(ReadResolution(tiff));
    std::vector<float> row(static_cast<size_t>(width) * samples);
    const bool alpha = samples == 2 || samples == 4;
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) ThrowDamaged();
        float* target = reinterpret_cast<float*>(bitmap->Row(y));
        for (uint32_t x = 0; x < width; ++x) {
            const float* pixel = row.data() + static_cast<size_t>(x) * samples;
            for (int c = 0; c < 3; ++c) target[x * 4 + c] = grey ? pixel[0] : pixel[c];
            target[x * 4 + 3] = alpha ? pixel[samples - 1] : 1.0f;
        }
    }
    frame.source = bitmap;
    return true;
}

class TiffEncoder final : public FrameEncoder {
public:
    explicit TiffEncoder(const EncoderOptions& options) : deflate_(options.tiffDeflate) {}

    bool SetSize(uint32_t width, uint32_t height) override {
        width_ = width;
        height_ = height;
        return true;
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
        case PixelFormat::kCmyk32: format_ = offered; break;
        case PixelFormat::kRgbaHalf:
        case PixelFormat::kRgbaFloat: format_ = PixelFormat::kRgba64; break;
        default: format_ = PixelFormat::kBgra32; break;
        }
        return format_;
    }

    HRESULT WriteSource(BitmapSource& source) override {
        std::string out;
        MemoryFile file;
        file.output = &out;
        TiffCloser closer{Open(file, "w")};
        TIFF* tiff = closer.tiff;
        if (!tiff) return E_FAIL;
        uint16_t samples = 1, bits = 8, photometric = PHOTOMETRIC_MINISBLACK;
        bool swapRedBlue = false, alpha = false;
        switch (format_) {
        case PixelFormat::kGray16: bits = 16; break;
        case PixelFormat::kBgr24: samples = 3, photometric = PHOTOMETRIC_RGB, swapRedBlue = true; break;
        case PixelFormat::kBgra32: samples = 4, photometric = PHOTOMETRIC_RGB, swapRedBlue = alpha = true; break;
        case PixelFormat::kRgb48: samples = 3, bits = 16, photometric = PHOTOMETRIC_RGB; break;
        case PixelFormat::kRgba64: samples = 4, bits = 16, photometric = PHOTOMETRIC_RGB, alpha = true; break;
        case PixelFormat::kCmyk32: samples = 4, photometric = PHOTOMETRIC_SEPARATED; break;
        default: break;
        }
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width_);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height_);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        if (alpha) {
            uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, deflate_ ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
        if (deflate_) TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(resolution_.x));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(resolution_.y));
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        size_t rowBytes = static_cast<size_t>(width_) * BytesPerPixel(format_);
        uint32_t stripRows = static_cast<uint32_t>(std::max<size_t>(1, kTargetStripBytes / rowBytes));
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::min(stripRows, height_));
        std::vector<uint8_t> band;
        size_t stride = 0;
        for (uint32_t y = 0; y < height_;) {
            uint32_t count = std::min(stripRows, height_ - y);
            if (HRESULT status = PullRows(source, y, count, band, stride); status != S_OK) return status;
            if (swapRedBlue) {
                uint32_t step = BytesPerPixel(format_);
                for (size_t i = 0; i + 2 < band.size(); i += step) std::swap(band[i], band[i + 2]);
            }
            if (TIFFWriteEncodedStrip(tiff, TIFFComputeStrip(tiff, y, 0), band.data(),
                                      static_cast<tmsize_t>(stride * count)) < 0)
                return E_FAIL;
            y += count;
        }
        if (!TIFFWriteDirectory(tiff)) return E_FAIL;
        TIFFClose(tiff);
        closer.tiff = nullptr;
        bytes_ = std::move(out);
        return S_OK;
    }

    HRESULT Commit(std::string& bytes) override {
        if (bytes_.empty()) return E_FAIL;
        bytes = std::move(bytes_);
        return S_OK;
    }

private:
    bool deflate_;
    uint32_t width_ = 0, height_ = 0;
    Resolution resolution_;
    PixelFormat format_ = PixelFormat::kBgra32;
    std::string bytes_;
};

}  // namespace

DecodedFrame DecodeTiff(std::string_view bytes, const DecodeOptions& options) {
    MemoryFile file{bytes};
    TiffCloser closer{Open(file, "r")};
    TIFF* tiff = closer.tiff;
    if (!tiff) ThrowDamaged();
    uint32_t width = 0, height = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height))
        ThrowDamaged();
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
    DecodedFrame frame;
    PixelFormat format;
    bool swapRedBlue = false;
    if (NativeFormat(tiff, format, swapRedBlue)) {
        CheckImageHeader(width, height, BytesPerPixel(format), options);
        if (static_cast<uint64_t>(TIFFScanlineSize64(tiff)) != static_cast<uint64_t>(width) * BytesPerPixel(format))
            ThrowDamaged();
        auto bitmap = std::make_shared<Bitmap>(width, height, format);
        bitmap->SetResolution(ReadResolution(tiff));
        for (uint32_t y = 0; y < height; ++y)
            if (TIFFReadScanline(tiff, bitmap->Row(y), y, 0) < 0) ThrowDamaged();
        if (swapRedBlue) {
            const uint32_t step = BytesPerPixel(format);
            std::vector<uint8_t>& pixels = bitmap->Pixels();
            for (size_t i = 0; i + 2 < pixels.size(); i += step) std::swap(pixels[i], pixels[i + 2]);
        }
        return {bitmap, orientation};
    }
    if (DecodeFloat(tiff, width, height, options, frame)) {
        frame.orientation = orientation;
        return frame;
    }
    char message[1024];
    CheckImageHeader(width, height, 4, options);
    if (!TIFFRGBAImageOK(tiff, message)) ThrowDamaged();
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tiff, 0, message)) ThrowDamaged();
    image.req_orientation = orientation;  // rows as stored: the flip-rotator turns them once
    // The reader premultiplies unassociated alpha too; without alpha every A is 255.
    auto bitmap = std::make_shared<Bitmap>(width, height, image.alpha ? PixelFormat::kPbgra32 : PixelFormat::kBgra32);
    bitmap->SetResolution(ReadResolution(tiff));
    int got = TIFFRGBAImageGet(&image, reinterpret_cast<uint32_t*>(bitmap->Pixels().data()), width, height);
    TIFFRGBAImageEnd(&image);
    if (!got) ThrowDamaged();
    std::vector<uint8_t>& pixels = bitmap->Pixels();
    for (size_t i = 0; i < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 2]);  // RGBA to BGRA
    return {bitmap, orientation};
}

std::unique_ptr<FrameEncoder> CreateTiffEncoder(const EncoderOptions& options) {
    return std::make_unique<TiffEncoder>(options);
}

}  // namespace imaging
