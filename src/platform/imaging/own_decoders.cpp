// The containers whose decoders are the program's own (BMP/DIB, ICO/CUR, DDS), wrapped
// as decoders of the imaging layer: their pixel buffers become BGRA bitmaps. An icon's
// first directory entry may hold a whole PNG, which goes to the PNG decoder.
#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"
#include "platform/imaging/component.h"
#include "platform/imaging/own_decoders.h"

#include "convert/images/bmp.h"
#include "convert/images/dds.h"
#include "convert/images/ico.h"

namespace imaging {

namespace {

DecodedFrame FromPixels(images::PixelBuffer pixels, const DecodeOptions& options) {
    CheckImageHeader(pixels.width, pixels.height, 4, options);
    auto bitmap = std::make_shared<Bitmap>(pixels.width, pixels.height, PixelFormat::kBgra32);
    bitmap->Pixels() = std::move(pixels.bgra);
    return {bitmap, 1};
}

}  // namespace

bool DecodeOwn(Container container, std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame) {
    switch (container) {
    case Container::kBmp: frame = FromPixels(images::DecodeBmp(bytes), options); return true;
    case Container::kDds: frame = FromPixels(images::DecodeDds(bytes), options); return true;
    case Container::kIco: {
        images::IconImage icon = images::FirstIconImage(bytes);
        if (icon.isPng) {
            ImagingComponent* component = LoadImagingComponent();
            if (!component) return false;
            // The embedded PNG is a string of its own: it must live as long as its rows decode.
            auto png = std::make_shared<const std::string>(std::move(icon.png));
            DecodeOptions pngOptions = options;
            pngOptions.keepBytes = png;
            std::string message;
            HRESULT status = component->Decode(Container::kPng, *png, pngOptions, frame, message);
            if (status != S_OK) throw ConvertError(message, status);
            frame.orientation = 1;
        } else {
            frame = FromPixels(std::move(icon.pixels), options);
        }
        return true;
    }
    default: return false;
    }
}

}  // namespace imaging
