#include "platform/imaging/encoders.h"

#include "platform/imaging/component.h"

namespace imaging {

std::unique_ptr<FrameEncoder> CreateEncoder(Container container, const EncoderOptions& options) {
    ImagingComponent* component = LoadImagingComponent();
    return component ? component->CreateEncoder(container, options) : nullptr;
}

}  // namespace imaging
