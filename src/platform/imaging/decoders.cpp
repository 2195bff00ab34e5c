#include "platform/imaging/decoders.h"

#include <cstring>
#include <mutex>

#include <tiffio.h>

#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"
#include "platform/imaging/decoder_support.h"

namespace imaging {
namespace {

constexpr uint64_t kConvertedBytesPerPixel = 4;  // the BGRA or BGR copy an encoder pulls through

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

// ISO base media files (HEIF, AVIF) name their family in the brands of the first box.
bool IsHeifBrand(std::string_view bytes) {
    if (bytes.size() < 16 || bytes.substr(4, 4) != "ftyp") return false;
    static constexpr std::string_view kBrands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm",
                                                   "hevs", "mif1", "msf1", "avif", "avis"};
    uint32_t boxSize = (static_cast<uint32_t>(static_cast<uint8_t>(bytes[0])) << 24) |
                       (static_cast<uint32_t>(static_cast<uint8_t>(bytes[1])) << 16) |
                       (static_cast<uint32_t>(static_cast<uint8_t>(bytes[2])) << 8) |
                       static_cast<uint32_t>(static_cast<uint8_t>(bytes[3]));
    size_t end = std::min<size_t>(bytes.size(), boxSize < 16 ? 16 : boxSize);
    for (size_t at = 8; at + 4 <= end; at += 4) {
        if (at == 12) continue;  // the minor version, not a brand
        for (std::string_view brand : kBrands)
            if (bytes.substr(at, 4) == brand) return true;
    }
    return false;
}

}  // namespace

Container SniffContainer(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (StartsWith(bytes, "\xFF\xD8\xFF"sv)) return Container::kJpeg;
    if (StartsWith(bytes, "\x89PNG\r\n\x1A\n"sv)) return Container::kPng;
    if (StartsWith(bytes, "GIF87a"sv) || StartsWith(bytes, "GIF89a"sv)) return Container::kGif;
    if (StartsWith(bytes, "BM"sv)) return Container::kBmp;
    if (StartsWith(bytes, "\0\0\1\0"sv) || StartsWith(bytes, "\0\0\2\0"sv)) return Container::kIco;
    if (StartsWith(bytes, "II\xBC\x01"sv) || StartsWith(bytes, "II\xBC\x00"sv)) return Container::kJxr;
    if (StartsWith(bytes, "II*\0"sv) || StartsWith(bytes, "MM\0*"sv) || StartsWith(bytes, "II+\0"sv) ||
        StartsWith(bytes, "MM\0+"sv))
        return Container::kTiff;
    if (bytes.size() >= 12 && StartsWith(bytes, "RIFF"sv) && bytes.substr(8, 4) == "WEBP"sv) return Container::kWebp;
    if (IsHeifBrand(bytes)) return Container::kHeif;
    if (StartsWith(bytes, "\xFF\x0A"sv) || StartsWith(bytes, "\0\0\0\x0CJXL \r\n\x87\n"sv)) return Container::kJxl;
    if (StartsWith(bytes, "DDS "sv)) return Container::kDds;
    return Container::kUnknown;
}

void CheckImageHeader(uint64_t width, uint64_t height, uint64_t bytesPerPixel, const DecodeOptions& options) {
    if (!images::ImageSizeAllowed(width, height)) throw ConvertError("This image reports an impossible size");
    uint64_t planned = width * height * (bytesPerPixel + kConvertedBytesPerPixel);
    if (options.memoryBudget != 0 && planned > options.memoryBudget)
        throw ConvertError("Needed more memory than the RAM limit in Settings allows");
}

void ThrowDamaged() { throw ConvertError("Couldn't open this image"); }

HRESULT DecodeFirstFrame(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame) {
    SilenceCodecLibraries();
    Container container = SniffContainer(bytes);
    // Camera RAW files are mostly TIFF-shaped; libraw knows which of them hold sensor data.
    if (options.tryRawFirst && container != Container::kJpeg && container != Container::kPng &&
        container != Container::kGif && container != Container::kWebp && DecodeRaw(bytes, options, frame))
        return S_OK;
    switch (container) {
    case Container::kJpeg: frame = DecodeJpeg(bytes, options); return S_OK;
    case Container::kPng: frame = DecodePng(bytes, options); return S_OK;
    case Container::kGif: frame = DecodeGif(bytes, options); return S_OK;
    case Container::kTiff: frame = DecodeTiff(bytes, options); return S_OK;
    case Container::kWebp: frame = DecodeWebp(bytes, options); return S_OK;
    case Container::kHeif: frame = DecodeHeif(bytes, options); return S_OK;
    case Container::kJxl: frame = DecodeJxl(bytes, options); return S_OK;
    case Container::kJxr: frame = DecodeJxr(bytes, options); return S_OK;
    case Container::kBmp:
    case Container::kIco:
    case Container::kDds: return DecodeOwn(container, bytes, options, frame) ? S_OK : kComponentNotFound;
    case Container::kUnknown: break;
    }
    return kComponentNotFound;
}

void SilenceCodecLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The other libraries take their handlers per object (libjpeg, libpng, libheif's
        // log level); libtiff also reports through these process-wide hooks.
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

}  // namespace imaging
