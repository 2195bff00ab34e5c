// BMP files and the headerless DIBs stored in icons: 1, 2, 4 and 8-bit palettes, RLE4,
// RLE8 and OS/2 RLE24, 16 and 32-bit with bit fields (alpha from V3 to V5 headers), 24-bit,
// bottom-up and top-down rows, core, OS/2 2.x and V3 to V5 headers. The encoder writes
// 24-bit BMP, or 32-bit BGRA with a V5 header when alpha is kept.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "convert/images/pixel_buffer.h"

namespace images {

// Throws ConvertError "This image is damaged or cut short", "This image reports an
// impossible size" or "Couldn't open this image" (a kind of BMP this decoder doesn't
// read: JPEG or PNG inside, Huffman-coded, 64-bit).
PixelBuffer DecodeBmp(std::string_view file);

// An icon's bitmap entry: a DIB header, the colour image of twice the height it states
// (the colour rows, then the 1-bit AND mask). The mask makes pixels transparent unless
// 32-bit entries carry alpha of their own.
PixelBuffer DecodeIconDib(std::string_view entry);

// withAlpha false: 24-bit, transparency composited onto white; true: 32-bit BGRA, V5 header.
std::string EncodeBmp(const PixelBuffer& pixels, bool withAlpha);

}  // namespace images
