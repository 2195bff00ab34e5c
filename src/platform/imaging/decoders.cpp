#include "platform/imaging/decoders.h"

#include <cstring>
#include <string>

#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"
#include "platform/imaging/component.h"
#include "platform/imaging/own_decoders.h"

namespace imaging {
namespace {

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

HRESULT DecodeFirstFrame(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame) {
    Container container = SniffContainer(bytes);
    if (container == Container::kBmp || container == Container::kIco || container == Container::kDds)
        return DecodeOwn(container, bytes, options, frame) ? S_OK : kComponentNotFound;
    ImagingComponent* component = LoadImagingComponent();
    if (!component) return kComponentNotFound;
    std::string message;
    // Camera RAW files are mostly TIFF-shaped; libraw knows which of them hold sensor data.
    if (options.tryRawFirst && container != Container::kJpeg && container != Container::kPng &&
        container != Container::kGif && container != Container::kWebp) {
        HRESULT status = component->DecodeRaw(bytes, options, frame, message);
        if (status == S_OK) return S_OK;
        if (status != kComponentNotFound) throw ConvertError(message, status);
    }
    if (container == Container::kUnknown) return kComponentNotFound;
    HRESULT status = component->Decode(container, bytes, options, frame, message);
    if (status != S_OK && status != kComponentNotFound) throw ConvertError(message, status);
    return status;
}

}  // namespace imaging
