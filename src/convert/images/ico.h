// ICO and CUR files. Reading takes the first directory entry: either a PNG, handed back
// as bytes for the PNG decoder, or a DIB with its AND mask, decoded here. Writing builds
// the icon from PNG images of the sizes IconSizes lists, each a square with the picture
// centred on transparency.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/images/pixel_buffer.h"

namespace images {

struct IconImage {
    bool isPng = false;
    std::string png;     // the embedded PNG file, when isPng
    PixelBuffer pixels;  // the decoded bitmap entry, otherwise
};

// Throws ConvertError "This image is damaged or cut short", "This image reports an
// impossible size" or "Couldn't open this image".
IconImage FirstIconImage(std::string_view file);

// The square sizes written for a picture, largest first: 256 (icons only), 128, 64, 48,
// 32, 24, 16, leaving out those larger than the picture's longer side except the
// smallest of each kind (16 for an icon, 32 for a cursor), which is always written.
std::vector<uint32_t> IconSizes(uint32_t width, uint32_t height, bool cursor);

// The size a picture is scaled to for a square of `side`: the longer side becomes `side`,
// the other keeps the proportion (rounded, at least 1).
std::pair<uint32_t, uint32_t> IconScaledSize(uint32_t width, uint32_t height, uint32_t side);

// A transparent side x side square with `scaled` copied in, centred (offsets rounded
// down). Throws ConvertError "Couldn't resize the image" when it doesn't fit.
PixelBuffer CenterOnSquare(const PixelBuffer& scaled, uint32_t side);

// The icon or cursor file from (side, PNG bytes) pairs, in the given order. Throws
// ConvertError "Couldn't write the icon file" for a side outside 1..256 or no images.
std::string AssembleIcon(const std::vector<std::pair<uint32_t, std::string>>& sizedPngs, bool cursor);

// The whole writer over one picture: every size of IconSizes, scaled with ResizeCubic,
// centred, turned into PNG by `encodePng`, assembled.
std::string BuildIcon(const PixelBuffer& picture, bool cursor,
                      const std::function<std::string(const PixelBuffer&)>& encodePng);

}  // namespace images
