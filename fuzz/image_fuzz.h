// Shared by the image codec harnesses: a decoder may leave only with its ConvertError, and
// what it returns must be a consistent buffer within the limits that survives a QOI round
// trip unchanged; the encoder harnesses make small pictures from the fuzzer's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"
#include "convert/images/qoi.h"

namespace fuzzing {

inline void CheckPicture(const images::PixelBuffer& picture) {
    if (!images::ImageSizeAllowed(picture.width, picture.height) ||
        picture.bgra.size() != static_cast<size_t>(picture.width) * picture.height * 4)
        __builtin_trap();
    if (picture.bgra.size() <= (size_t{1} << 20) && images::DecodeQoi(images::EncodeQoi(picture)).bgra != picture.bgra)
        __builtin_trap();
}

template <typename Decode>
int SurviveDecoder(const uint8_t* data, size_t size, Decode decode) {
    try {
        CheckPicture(decode(std::string_view(reinterpret_cast<const char*>(data), size)));
    } catch (const ConvertError&) {
    }
    return 0;
}

// Two bytes of size (each side 1..64), then pixels repeating the remaining bytes; a
// third byte below 128 keeps every pixel opaque.
inline bool PictureFromBytes(const uint8_t* data, size_t size, images::PixelBuffer& picture) {
    if (size < 4) return false;
    picture.width = data[0] % 64 + 1u;
    picture.height = data[1] % 64 + 1u;
    bool opaque = data[2] < 128;
    data += 3, size -= 3;
    picture.bgra.resize(static_cast<size_t>(picture.width) * picture.height * 4);
    for (size_t i = 0; i < picture.bgra.size(); ++i) picture.bgra[i] = (opaque && i % 4 == 3) ? 255 : data[i % size];
    return true;
}

}  // namespace fuzzing
