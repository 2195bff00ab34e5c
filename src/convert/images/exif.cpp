// EXIF orientation reader. Limits: only IFD0 is read, and only its entry count's worth
// of 12-byte entries that lie inside the block; container walks stop at the first
// record that doesn't fit, so every step is bounded by the file's size.
#include "convert/images/exif.h"

#include <cstdint>
#include <cstring>

namespace images {
namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr std::string_view kExifPrefix("Exif\0\0", 6);
constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

uint32_t Read(std::string_view data, size_t at, int size, bool bigEndian) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) {
        auto byte = static_cast<uint8_t>(data[at + static_cast<size_t>(i)]);
        value |= bigEndian ? uint32_t{byte} << (8 * (size - 1 - i)) : uint32_t{byte} << (8 * i);
    }
    return value;
}

// Some writers repeat the JPEG segment's "Exif\0\0" inside PNG and WebP chunks.
std::string_view WithoutPrefix(std::string_view block) {
    if (block.substr(0, kExifPrefix.size()) == kExifPrefix) block.remove_prefix(kExifPrefix.size());
    return block;
}

int FromJpeg(std::string_view file) {
    size_t at = 2;
    while (at + 4 <= file.size()) {
        if (static_cast<uint8_t>(file[at]) != 0xFF) return 1;
        auto marker = static_cast<uint8_t>(file[at + 1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 1;  // image data: metadata comes before it
        size_t length = Read(file, at + 2, 2, true);
        if (length < 2 || at + 2 + length > file.size()) return 1;
        std::string_view payload = file.substr(at + 4, length - 2);
        if (marker == 0xE1 && payload.substr(0, kExifPrefix.size()) == kExifPrefix)
            return ExifOrientation(payload.substr(kExifPrefix.size()));
        at += 2 + length;
    }
    return 1;
}

int FromPng(std::string_view file) {
    size_t at = kPngSignature.size();
    while (at + 12 <= file.size()) {
        size_t length = Read(file, at, 4, true);
        if (length > file.size() - at - 12) return 1;
        std::string_view type = file.substr(at + 4, 4);
        if (type == "eXIf") return ExifOrientation(WithoutPrefix(file.substr(at + 8, length)));
        if (type == "IEND") return 1;
        at += 12 + length;
    }
    return 1;
}

int FromWebp(std::string_view file) {
    size_t at = 12;
    while (at + 8 <= file.size()) {
        size_t length = Read(file, at + 4, 4, false);
        if (length > file.size() - at - 8) return 1;
        if (file.substr(at, 4) == "EXIF") return ExifOrientation(WithoutPrefix(file.substr(at + 8, length)));
        at += 8 + length + (length & 1);
    }
    return 1;
}

}  // namespace

int ExifOrientation(std::string_view block) {
    if (block.size() < 8) return 1;
    bool bigEndian;
    if (block.substr(0, 4) == std::string_view("II*\0", 4)) bigEndian = false;
    else if (block.substr(0, 4) == std::string_view("MM\0*", 4)) bigEndian = true;
    else return 1;
    size_t ifd = Read(block, 4, 4, bigEndian);
    if (ifd > block.size() || block.size() - ifd < 2) return 1;
    size_t count = Read(block, ifd, 2, bigEndian);
    for (size_t i = 0; i < count; ++i) {
        size_t entry = ifd + 2 + i * 12;
        if (entry + 12 > block.size()) return 1;
        if (Read(block, entry, 2, bigEndian) != kOrientationTag) continue;
        if (Read(block, entry + 2, 2, bigEndian) != kShortType || Read(block, entry + 4, 4, bigEndian) < 1) return 1;
        uint32_t value = Read(block, entry + 8, 2, bigEndian);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

int FileExifOrientation(std::string_view file) {
    if (file.size() >= 4 && static_cast<uint8_t>(file[0]) == 0xFF && static_cast<uint8_t>(file[1]) == 0xD8)
        return FromJpeg(file);
    if (file.substr(0, 4) == std::string_view("II*\0", 4) || file.substr(0, 4) == std::string_view("MM\0*", 4))
        return ExifOrientation(file);
    if (file.substr(0, kPngSignature.size()) == kPngSignature) return FromPng(file);
    if (file.size() >= 12 && file.substr(0, 4) == "RIFF" && file.substr(8, 4) == "WEBP") return FromWebp(file);
    return 1;
}

}  // namespace images
