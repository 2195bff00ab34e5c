// Separable cubic resampler. Limits: the two passes go through one float image of the
// smaller intermediate size (target width x source height, or source width x target
// height), so memory stays within four floats a pixel of one of them.
#include "convert/images/resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr double kSupport = 2.0;  // the cubic's radius in source pixels at scale 1

// Keys' cubic with a = -0.5 (Catmull-Rom): interpolating, so an unscaled image comes
// back exactly, and sharp without the blur of the smoother B-splines.
double CatmullRom(double x) {
    x = std::fabs(x);
    if (x < 1) return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

// For each output position: the first source index and the normalised weights.
struct Taps {
    std::vector<uint32_t> first;
    std::vector<uint32_t> count;
    std::vector<float> weights;  // `stride` per output
    size_t stride = 0;
};

Taps MakeTaps(uint32_t in, uint32_t out) {
    const double scale = static_cast<double>(in) / out;
    const double widen = std::max(1.0, scale);  // shrinking stretches the filter over more pixels
    const double radius = kSupport * widen;
    Taps taps;
    taps.stride = static_cast<size_t>(std::ceil(radius) * 2 + 2);
    taps.first.resize(out);
    taps.count.resize(out);
    taps.weights.assign(out * taps.stride, 0.0f);
    std::vector<double> weights;
    for (uint32_t o = 0; o < out; ++o) {
        double centre = (o + 0.5) * scale - 0.5;
        auto lo = static_cast<int64_t>(std::ceil(centre - radius));
        auto hi = static_cast<int64_t>(std::floor(centre + radius));
        // Source pixels beyond the edge repeat the edge pixel: fold their weight onto it.
        int64_t first = std::clamp<int64_t>(lo, 0, in - 1), last = std::clamp<int64_t>(hi, 0, in - 1);
        weights.assign(static_cast<size_t>(last - first + 1), 0.0);
        double total = 0;
        for (int64_t i = lo; i <= hi; ++i) {
            double w = CatmullRom((static_cast<double>(i) - centre) / widen);
            weights[static_cast<size_t>(std::clamp(i, first, last) - first)] += w;
            total += w;
        }
        taps.first[o] = static_cast<uint32_t>(first);
        taps.count[o] = static_cast<uint32_t>(weights.size());
        for (size_t k = 0; k < weights.size(); ++k)
            taps.weights[o * taps.stride + k] = static_cast<float>(weights[k] / total);
    }
    return taps;
}

// A float image of premultiplied B, G, R, A.
struct FloatImage {
    uint32_t width = 0, height = 0;
    std::vector<float> values;
    float* Pixel(uint32_t x, uint32_t y) { return values.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// Reads a source pixel as premultiplied floats.
inline void Premultiplied(const uint8_t* p, float* out) {
    float a = p[3] / 255.0f;
    out[0] = p[0] * a;
    out[1] = p[1] * a;
    out[2] = p[2] * a;
    out[3] = p[3];
}

template <typename Read>
FloatImage Horizontal(uint32_t inHeight, uint32_t outWidth, const Taps& taps, Read read) {
    FloatImage result{outWidth, inHeight, std::vector<float>(static_cast<size_t>(outWidth) * inHeight * 4)};
    float pixel[4];
    for (uint32_t y = 0; y < inHeight; ++y)
        for (uint32_t x = 0; x < outWidth; ++x) {
            float sum[4] = {0, 0, 0, 0};
            const float* w = &taps.weights[x * taps.stride];
            for (uint32_t k = 0; k < taps.count[x]; ++k) {
                read(taps.first[x] + k, y, pixel);
                for (int c = 0; c < 4; ++c) sum[c] += w[k] * pixel[c];
            }
            std::copy(sum, sum + 4, result.Pixel(x, y));
        }
    return result;
}

template <typename Read>
FloatImage Vertical(uint32_t inWidth, uint32_t outHeight, const Taps& taps, Read read) {
    FloatImage result{inWidth, outHeight, std::vector<float>(static_cast<size_t>(inWidth) * outHeight * 4)};
    float pixel[4];
    for (uint32_t y = 0; y < outHeight; ++y) {
        const float* w = &taps.weights[y * taps.stride];
        for (uint32_t x = 0; x < inWidth; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (uint32_t k = 0; k < taps.count[y]; ++k) {
                read(x, taps.first[y] + k, pixel);
                for (int c = 0; c < 4; ++c) sum[c] += w[k] * pixel[c];
            }
            std::copy(sum, sum + 4, result.Pixel(x, y));
        }
    }
    return result;
}

}  // namespace

PixelBuffer ResizeCubic(const PixelBuffer& source, uint32_t width, uint32_t height) {
    if (!BufferConsistent(source) || source.width == 0 || source.height == 0) throw ConvertError(kImpossibleSize);
    PixelBuffer result = NewPixelBuffer(width, height);
    Taps across = MakeTaps(source.width, width), down = MakeTaps(source.height, height);
    auto readSource = [&](uint32_t x, uint32_t y, float* out) {
        Premultiplied(source.bgra.data() + (static_cast<size_t>(y) * source.width + x) * 4, out);
    };
    // Filter first along the direction that leaves the smaller intermediate image.
    FloatImage done;
    if (static_cast<uint64_t>(width) * source.height <= static_cast<uint64_t>(source.width) * height) {
        FloatImage middle = Horizontal(source.height, width, across, readSource);
        done = Vertical(width, height, down, [&](uint32_t x, uint32_t y, float* out) {
            std::copy_n(middle.Pixel(x, y), 4, out);
        });
    } else {
        FloatImage middle = Vertical(source.width, height, down, readSource);
        done = Horizontal(height, width, across, [&](uint32_t x, uint32_t y, float* out) {
            std::copy_n(middle.Pixel(x, y), 4, out);
        });
    }
    uint8_t* out = result.bgra.data();
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i, out += 4) {
        const float* p = done.values.data() + i * 4;
        float alpha = std::clamp(p[3], 0.0f, 255.0f);
        out[3] = static_cast<uint8_t>(std::lround(alpha));
        if (out[3] == 0) {
            out[0] = out[1] = out[2] = 0;
            continue;
        }
        // Overshoot of the cubic can leave colour above its alpha; clamp before dividing.
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint8_t>(std::lround(std::clamp(p[c], 0.0f, alpha) * 255.0f / alpha));
    }
    return result;
}

}  // namespace images
