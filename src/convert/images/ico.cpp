// ICO/CUR reading (first entry) and writing. Limits: entries are at most 256 pixels on a
// side (the directory's byte fields, 0 meaning 256); an entry's data must lie wholly
// inside the file.
#include "convert/images/ico.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "convert/core/byte_reader.h"
#include "convert/images/bmp.h"
#include "convert/images/codec_support.h"
#include "convert/images/resample.h"

namespace images {
namespace {

constexpr size_t kDirectoryHeader = 6;
constexpr size_t kDirectoryEntry = 16;
constexpr uint32_t kMaxIconSide = 256;  // what a directory entry's byte can say (0 = 256)
constexpr uint16_t kIconType = 1, kCursorType = 2;
constexpr std::array<uint32_t, 7> kCandidateSizes = {256, 128, 64, 48, 32, 24, 16};
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void PutU16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void PutU32(std::string& out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

}  // namespace

IconImage FirstIconImage(std::string_view file) {
    auto data = Bytes(file);
    ByteReader in(data);
    uint16_t reserved = in.U16LE();
    uint16_t type = in.U16LE();
    uint16_t count = in.U16LE();
    if (!in.Ok() || reserved != 0 || (type != kIconType && type != kCursorType) || count == 0) ThrowDamaged();
    in.Skip(8);  // width, height, colours, reserved, planes or hotspot x, bits or hotspot y
    uint32_t size = in.U32LE();
    uint32_t offset = in.U32LE();
    if (!in.Ok() || offset > data.size() || size > data.size() - offset || size == 0) ThrowDamaged();
    std::string_view entry = file.substr(offset, size);

    IconImage image;
    if (size >= sizeof kPngSignature && std::memcmp(entry.data(), kPngSignature, sizeof kPngSignature) == 0) {
        image.isPng = true;
        image.png = std::string(entry);
    } else {
        image.pixels = DecodeIconDib(entry);
    }
    return image;
}

std::vector<uint32_t> IconSizes(uint32_t width, uint32_t height, bool cursor) {
    uint32_t longest = std::max(width, height);
    uint32_t alwaysKept = cursor ? 32 : 16;
    std::vector<uint32_t> sizes;
    for (uint32_t size : kCandidateSizes) {
        if (cursor && size > 128) continue;
        if (size <= longest || size == alwaysKept) sizes.push_back(size);
    }
    return sizes;
}

std::pair<uint32_t, uint32_t> IconScaledSize(uint32_t width, uint32_t height, uint32_t side) {
    double factor = static_cast<double>(side) / std::max({width, height, 1u});
    auto scale = [&](uint32_t length) {
        return std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(length * factor)));
    };
    return {scale(width), scale(height)};
}

PixelBuffer CenterOnSquare(const PixelBuffer& scaled, uint32_t side) {
    if (scaled.width > side || scaled.height > side || !BufferConsistent(scaled) || side == 0)
        throw ConvertError("Couldn't resize the image");
    PixelBuffer square = NewPixelBuffer(side, side);
    uint32_t left = (side - scaled.width) / 2, top = (side - scaled.height) / 2;
    for (uint32_t y = 0; y < scaled.height; ++y)
        std::memcpy(square.bgra.data() + (static_cast<size_t>(top + y) * side + left) * 4,
                    scaled.bgra.data() + static_cast<size_t>(y) * scaled.width * 4, static_cast<size_t>(scaled.width) * 4);
    return square;
}

std::string AssembleIcon(const std::vector<std::pair<uint32_t, std::string>>& sizedPngs, bool cursor) {
    if (sizedPngs.empty() || sizedPngs.size() > UINT16_MAX) throw ConvertError("Couldn't write the icon file");
    std::string out;
    PutU16(out, 0);
    PutU16(out, cursor ? kCursorType : kIconType);
    PutU16(out, static_cast<uint32_t>(sizedPngs.size()));
    uint64_t offset = kDirectoryHeader + kDirectoryEntry * sizedPngs.size();
    for (const auto& [side, png] : sizedPngs) {
        if (side < 1 || side > kMaxIconSide || offset + png.size() > UINT32_MAX)
            throw ConvertError("Couldn't write the icon file");
        uint8_t byteSide = side == kMaxIconSide ? 0 : static_cast<uint8_t>(side);
        out += static_cast<char>(byteSide);
        out += static_cast<char>(byteSide);
        out += '\0';  // colour count: not a palette image
        out += '\0';
        PutU16(out, cursor ? 0 : 1);   // planes, or the hotspot's x
        PutU16(out, cursor ? 0 : 32);  // bits per pixel, or the hotspot's y
        PutU32(out, static_cast<uint32_t>(png.size()));
        PutU32(out, static_cast<uint32_t>(offset));
        offset += png.size();
    }
    for (const auto& sized : sizedPngs) out += sized.second;
    return out;
}

std::string BuildIcon(const PixelBuffer& picture, bool cursor,
                      const std::function<std::string(const PixelBuffer&)>& encodePng) {
    std::vector<std::pair<uint32_t, std::string>> images;
    for (uint32_t side : IconSizes(picture.width, picture.height, cursor)) {
        auto [width, height] = IconScaledSize(picture.width, picture.height, side);
        images.emplace_back(side, encodePng(CenterOnSquare(ResizeCubic(picture, width, height), side)));
    }
    return AssembleIcon(images, cursor);
}

}  // namespace images
