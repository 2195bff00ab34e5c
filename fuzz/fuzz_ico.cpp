// Fuzz harness for the ICO/CUR reader: the first entry, a PNG handed back or a DIB with
// its mask decoded; the headerless DIB decoder is fuzzed on the same bytes.
#include "convert/images/bmp.h"
#include "convert/images/ico.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::SurviveDecoder(data, size, [](std::string_view file) {
        images::IconImage icon = images::FirstIconImage(file);
        if (icon.isPng && (icon.png.size() > file.size() || icon.png.compare(0, 4, "\x89PNG") != 0)) __builtin_trap();
        return icon.isPng ? images::PixelBuffer{1, 1, {0, 0, 0, 0}} : icon.pixels;
    });
    return fuzzing::SurviveDecoder(data, size, images::DecodeIconDib);
}
