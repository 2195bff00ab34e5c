// Helpers for the image pipeline tests: known pixels, our conversion called in-process, and
// ImageMagick as the independent decoder of what we write.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"
#include "support/test_support.h"

namespace testing_support {

// Random BGRA pixels; with `alpha`, some pixels fully transparent, some partly.
inline images::PixelBuffer RandomPixels(uint32_t width, uint32_t height, bool alpha, uint32_t seed) {
    std::mt19937 random(seed);
    images::PixelBuffer pixels{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (size_t i = 0; i < pixels.bgra.size(); ++i) pixels.bgra[i] = static_cast<uint8_t>(random());
    for (size_t i = 3; i < pixels.bgra.size(); i += 4) {
        uint8_t kind = static_cast<uint8_t>(random() % 4);
        pixels.bgra[i] = !alpha || kind == 0 ? 255 : kind == 1 ? 0 : pixels.bgra[i];
    }
    return pixels;
}

struct Conversion {
    std::string output;   // the published path, empty on failure
    std::string message;  // the ConvertError's message
};

inline Conversion ConvertInProcess(const std::string& input, int32_t format, int32_t option = 0,
                                   int32_t ramMB = 4096) {
    LiveLimits limits;
    LimitSettings settings;
    settings.RamMB = ramMB;
    limits.Set(settings);
    ConvertContext context;
    context.limits = &limits;
    Target target{format, option, ""};
    try {
        return {ConvertImage(input, target, context), ""};
    } catch (const ConvertError& error) {
        return {"", error.message};
    }
}

// The pixels ImageMagick decodes from a file, as straight BGRA 8-bit (its first frame).
inline std::vector<uint8_t> MagickBgra(const std::string& path, uint32_t& width, uint32_t& height) {
    std::string raw = path + ".magick.bgra";
    CommandResult size = RunCommand("identify -format '%w %h' " + ShellQuote(path + "[0]"));
    width = height = 0;
    if (size.exitCode != 0 || std::sscanf(size.output.c_str(), "%u %u", &width, &height) != 2) return {};
    CommandResult result = RunCommand("convert " + ShellQuote(path + "[0]") + " -depth 8 " + ShellQuote("bgra:" + raw));
    if (result.exitCode != 0) return {};
    std::string bytes = ReadFile(raw);
    std::remove(raw.c_str());
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// BGRA pixels laid on white: each channel c with alpha a becomes (c * a + 255 * (255 - a)) / 255.
inline std::vector<uint8_t> OnWhite(const std::vector<uint8_t>& bgra) {
    std::vector<uint8_t> out(bgra);
    for (size_t i = 0; i < out.size(); i += 4) {
        unsigned a = bgra[i + 3];
        for (int c = 0; c < 3; ++c) out[i + c] = static_cast<uint8_t>((bgra[i + c] * a + 255 * (255 - a) + 127) / 255);
        out[i + 3] = 255;
    }
    return out;
}

// The largest difference of any channel between two equally long pixel arrays (256 when the lengths differ).
inline int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

}  // namespace testing_support
