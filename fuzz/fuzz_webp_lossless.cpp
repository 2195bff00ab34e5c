// Fuzz harness for the lossless WebP encoder: pictures from the fuzzer's bytes must decode
// with libwebp to exactly the pixels written.
#include <webp/decode.h>

#include <cstring>

#include "convert/images/webp_lossless.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    images::PixelBuffer picture;
    if (!fuzzing::PictureFromBytes(data, size, picture)) return 0;
    std::string file = images::EncodeWebpLossless(picture);
    int width = 0, height = 0;
    uint8_t* decoded = WebPDecodeBGRA(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &width, &height);
    if (!decoded || width != static_cast<int>(picture.width) || height != static_cast<int>(picture.height) ||
        std::memcmp(decoded, picture.bgra.data(), picture.bgra.size()) != 0)
        __builtin_trap();
    WebPFree(decoded);
    return 0;
}
