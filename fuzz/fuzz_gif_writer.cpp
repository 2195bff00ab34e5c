// Fuzz harness for the GIF encoder: pictures from the fuzzer's bytes, written as a still
// and as a two-frame animation, decoded back with giflib. Pictures of at most 255 colours
// must come back exactly (transparent where alpha is below 128).
#include <gif_lib.h>

#include <cstring>
#include <set>
#include <string>

#include "convert/images/gif_writer.h"
#include "image_fuzz.h"

namespace {

struct Source {
    const std::string* bytes;
    size_t at = 0;
};

int Read(GifFileType* gif, GifByteType* out, int length) {
    auto* source = static_cast<Source*>(gif->UserData);
    size_t n = std::min(static_cast<size_t>(length), source->bytes->size() - source->at);
    std::memcpy(out, source->bytes->data() + source->at, n);
    source->at += n;
    return static_cast<int>(n);
}

void Check(const std::string& file, const images::PixelBuffer& picture, int frames, bool exact) {
    Source source{&file};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, Read, &error);
    if (!gif) __builtin_trap();
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount != frames || gif->SWidth != static_cast<int>(picture.width))
        __builtin_trap();
    const SavedImage& image = gif->SavedImages[0];
    GraphicsControlBlock control{};
    DGifSavedExtensionToGCB(gif, 0, &control);
    for (size_t p = 0; exact && p < picture.bgra.size() / 4; ++p) {
        const uint8_t* want = picture.bgra.data() + p * 4;
        int index = image.RasterBits[p];
        if ((want[3] < 128) != (index == control.TransparentColor)) __builtin_trap();
        if (want[3] < 128) continue;
        const GifColorType& got = image.ImageDesc.ColorMap->Colors[index];
        if (got.Red != want[2] || got.Green != want[1] || got.Blue != want[0]) __builtin_trap();
    }
    DGifCloseFile(gif, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    images::PixelBuffer picture;
    if (!fuzzing::PictureFromBytes(data, size, picture)) return 0;
    std::set<uint32_t> colours;
    for (size_t i = 0; i < picture.bgra.size(); i += 4)
        if (picture.bgra[i + 3] >= 128) colours.insert(uint32_t{picture.bgra[i]} | uint32_t{picture.bgra[i + 1]} << 8 | uint32_t{picture.bgra[i + 2]} << 16);
    bool exact = colours.size() <= 255;
    Check(images::EncodeGif(picture), picture, 1, exact);
    images::GifWriter writer(picture.width, picture.height, true);
    writer.AddFrame(picture, 5);
    writer.AddFrame(picture, 7);
    Check(writer.Finish(), picture, 2, exact);
    return 0;
}
