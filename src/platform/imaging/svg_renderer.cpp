#include "platform/imaging/svg_renderer.h"

#include "convert/core/errors.h"
#include "platform/imaging/component.h"

namespace imaging {
namespace {

ImagingComponent& Renderer() {
    ImagingComponent* component = LoadImagingComponent();
    // Without the plugin there is no SVG renderer, as on a system without one.
    if (!component) throw ConvertError("This version of Windows can't draw SVG files", kComponentNotFound);
    return *component;
}

}  // namespace

SvgSize SvgIntrinsicSize(std::string_view document) {
    SvgSize size;
    std::string message;
    if (HRESULT status = Renderer().SvgIntrinsicSize(document, size, message); status != S_OK)
        throw ConvertError(message, status);
    return size;
}

SourcePtr RenderSvg(std::string_view document, uint64_t memoryBudget) {
    SourcePtr image;
    std::string message;
    if (HRESULT status = Renderer().RenderSvg(document, memoryBudget, image, message); status != S_OK)
        throw ConvertError(message, status);
    return image;
}

}  // namespace imaging
