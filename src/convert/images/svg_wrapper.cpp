#include "convert/images/svg_wrapper.h"

#include "convert/core/catalog.h"
#include "convert/images/image_encode.h"

namespace images {

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t group = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) | uint8_t(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(group >> shift) & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
        if (rest == 2) group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string WrapInSvg(const imaging::SourcePtr& source) {
    const std::string w = std::to_string(source->Width()), h = std::to_string(source->Height());
    std::string png = EncodeToMemory(source, kPng, 0);
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
                      "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
    out += "<image width=\"" + w + "\" height=\"" + h + "\" href=\"data:image/png;base64,";
    out += Base64(png);
    out += "\"/>\n</svg>\n";
    return out;
}

}  // namespace images
