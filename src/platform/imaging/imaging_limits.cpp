// The limits every decoder and the SVG renderer apply, shared by the program and the
// imaging plugin.
#include <algorithm>
#include <cmath>

#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"
#include "platform/imaging/decoders.h"
#include "platform/imaging/svg_renderer.h"

namespace imaging {
namespace {

constexpr uint64_t kConvertedBytesPerPixel = 4;  // the BGRA or BGR copy an encoder pulls through
constexpr double kSmallestLongSide = 1024;       // small drawings are enlarged to this
constexpr double kLargestLongSide = 8192;        // huge ones reduced to this

}  // namespace

void CheckImageHeader(uint64_t width, uint64_t height, uint64_t bytesPerPixel, const DecodeOptions& options) {
    if (!images::ImageSizeAllowed(width, height)) throw ConvertError("This image reports an impossible size");
    uint64_t planned = width * height * (bytesPerPixel + kConvertedBytesPerPixel);
    if (options.memoryBudget != 0 && planned > options.memoryBudget)
        throw ConvertError("Needed more memory than the RAM limit in Settings allows");
}

void SvgRenderedSize(SvgSize intrinsic, uint32_t& width, uint32_t& height, double& scale) {
    double longer = std::max(intrinsic.width, intrinsic.height);
    scale = longer < kSmallestLongSide ? kSmallestLongSide / longer : longer > kLargestLongSide ? kLargestLongSide / longer : 1.0;
    auto side = [&](float length) {
        double rounded = std::round(length * scale);
        return rounded < 1 ? 1u : rounded > kLargestLongSide ? static_cast<uint32_t>(kLargestLongSide)
                                                             : static_cast<uint32_t>(rounded);
    };
    width = side(intrinsic.width);
    height = side(intrinsic.height);
}

}  // namespace imaging
