// SVG drawn by librsvg onto a cairo surface, as the image pipeline's decoder of SVG.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/imaging/bitmap_source.h"

namespace imaging {

struct SvgSize {
    float width = 0;
    float height = 0;
};

// The intrinsic size: the root's width and height when both are plain lengths (px or no
// unit) above 0; else the viewBox's size when both are above 0; else 512 x 512.
// Throws ConvertError "This SVG couldn't be read".
SvgSize SvgIntrinsicSize(std::string_view document);

// The pixel size an intrinsic size renders at: the longer side brought into 1024..8192.
void SvgRenderedSize(SvgSize intrinsic, uint32_t& width, uint32_t& height, double& scale);

// Renders the document at its rendered size into premultiplied BGRA, transparent where
// nothing is drawn. Nothing outside the document is loaded (no base file: relative and
// file: references fail, and the network is never reached). Throws ConvertError "This SVG
// couldn't be read", "Not enough memory for this SVG", "Couldn't draw the SVG", and the
// RAM-limit text when the surface would exceed `memoryBudget` bytes (0: no limit).
SourcePtr RenderSvg(std::string_view document, uint64_t memoryBudget);

}  // namespace imaging
