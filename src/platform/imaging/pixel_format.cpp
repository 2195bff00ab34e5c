#include "platform/imaging/pixel_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace imaging {
namespace {

constexpr size_t kChunk = 256;  // pixels converted through the stack buffers at a time

struct FormatFacts {
    uint32_t bytes;
    bool transparency;
    bool deep;
};

constexpr FormatFacts kFacts[] = {
    {4, true, false},   // kBgra32
    {4, true, false},   // kPbgra32
    {3, false, false},  // kBgr24
    {1, true, false},   // kIndexed8
    {1, false, false},  // kGray8
    {2, false, true},   // kGray16
    {6, false, true},   // kRgb48
    {8, true, true},    // kRgba64
    {4, false, false},  // kCmyk32
    {8, true, true},    // kRgbaHalf
    {16, true, true},   // kRgbaFloat
};

const FormatFacts& Facts(PixelFormat format) { return kFacts[static_cast<size_t>(format)]; }

uint8_t Luma8(uint32_t r, uint32_t g, uint32_t b) { return static_cast<uint8_t>((r * 77 + g * 150 + b * 29 + 128) >> 8); }
uint16_t Luma16(uint64_t r, uint64_t g, uint64_t b) {
    return static_cast<uint16_t>((r * 19595 + g * 38470 + b * 7471 + 32768) >> 16);
}
uint8_t To8(uint16_t value) { return static_cast<uint8_t>((value * 255u + 32767u) / 65535u); }

float HalfToFloat(uint16_t half) {
    uint32_t sign = (half >> 15) & 1, exponent = (half >> 10) & 31, mantissa = half & 1023;
    float value;
    if (exponent == 0) value = std::ldexp(static_cast<float>(mantissa), -24);
    else if (exponent == 31) value = mantissa ? 0.0f : INFINITY;
    else value = std::ldexp(static_cast<float>(mantissa | 1024), static_cast<int>(exponent) - 25);
    return sign ? -value : value;
}

uint16_t FloatToHalf(float value) {
    if (!(value == value)) return 0;
    uint16_t sign = value < 0 ? 0x8000 : 0;
    float magnitude = std::fabs(value);
    if (magnitude >= 65520.0f) return sign | 0x7C00;
    if (magnitude < 6.1035156e-05f) return sign | static_cast<uint16_t>(std::lround(magnitude / 5.9604645e-08f));
    int exponent;
    float fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent, fraction in [0.5, 1)
    long mantissa = std::lround((fraction * 2.0f - 1.0f) * 1024.0f);
    int biased = exponent - 1 + 15;
    if (mantissa == 1024) {
        mantissa = 0;
        ++biased;
    }
    if (biased >= 31) return sign | 0x7C00;
    return sign | static_cast<uint16_t>(biased << 10) | static_cast<uint16_t>(mantissa);
}

// scRGB samples are linear light; the 16-bit samples are sRGB-encoded, as screens and files expect.
uint16_t LinearToSrgb16(float linear) {
    if (!(linear > 0.0f)) return 0;
    if (linear >= 1.0f) return 65535;
    float encoded = linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
    return static_cast<uint16_t>(std::lround(std::clamp(encoded, 0.0f, 1.0f) * 65535.0f));
}
float SrgbToLinear(uint16_t value) {
    float encoded = value / 65535.0f;
    return encoded <= 0.04045f ? encoded / 12.92f : std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}
uint16_t Alpha16(float alpha) {
    if (!(alpha > 0.0f)) return 0;
    return alpha >= 1.0f ? 65535 : static_cast<uint16_t>(std::lround(alpha * 65535.0f));
}

template <typename T>
T Load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
template <typename T>
void Store(uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

// Any non-deep format to straight BGRA, 8 bits a channel.
void ToBgra8(PixelFormat from, std::span<const uint32_t> palette, const uint8_t* s, uint8_t* d, size_t n) {
    switch (from) {
    case PixelFormat::kBgra32: std::memcpy(d, s, n * 4); return;
    case PixelFormat::kPbgra32:
        for (size_t i = 0; i < n; ++i, s += 4, d += 4) {
            uint32_t a = s[3];
            for (int c = 0; c < 3; ++c)
                d[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (s[c] * 255u + a / 2) / a));
            d[3] = static_cast<uint8_t>(a);
        }
        return;
    case PixelFormat::kBgr24:
        for (size_t i = 0; i < n; ++i, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        }
        return;
    case PixelFormat::kIndexed8:
        for (size_t i = 0; i < n; ++i, d += 4) {
            uint32_t entry = s[i] < palette.size() ? palette[s[i]] : 0;
            Store<uint32_t>(d, entry);  // 0xAARRGGBB little-endian is B, G, R, A
        }
        return;
    case PixelFormat::kGray8:
        for (size_t i = 0; i < n; ++i, d += 4) d[0] = d[1] = d[2] = s[i], d[3] = 255;
        return;
    case PixelFormat::kCmyk32:
        for (size_t i = 0; i < n; ++i, s += 4, d += 4) {
            uint32_t k = 255u - s[3];
            d[0] = static_cast<uint8_t>(((255u - s[2]) * k + 127) / 255);
            d[1] = static_cast<uint8_t>(((255u - s[1]) * k + 127) / 255);
            d[2] = static_cast<uint8_t>(((255u - s[0]) * k + 127) / 255);
            d[3] = 255;
        }
        return;
    default: return;  // deep formats go through ToRgba16
    }
}

// Straight BGRA to any non-deep format except indexed.
void FromBgra8(const uint8_t* s, PixelFormat to, uint8_t* d, size_t n) {
    switch (to) {
    case PixelFormat::kBgra32: std::memcpy(d, s, n * 4); return;
    case PixelFormat::kPbgra32:
        for (size_t i = 0; i < n; ++i, s += 4, d += 4) {
            uint32_t a = s[3];
            for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * a + 127) / 255);
            d[3] = static_cast<uint8_t>(a);
        }
        return;
    case PixelFormat::kBgr24:
        for (size_t i = 0; i < n; ++i, s += 4, d += 3) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
        return;
    case PixelFormat::kGray8:
        for (size_t i = 0; i < n; ++i, s += 4) d[i] = Luma8(s[2], s[1], s[0]);
        return;
    case PixelFormat::kCmyk32:
        for (size_t i = 0; i < n; ++i, s += 4, d += 4) {
            uint32_t maximum = std::max({s[0], s[1], s[2]});
            uint32_t k = 255 - maximum;
            for (int c = 0; c < 3; ++c)
                d[c] = static_cast<uint8_t>(maximum == 0 ? 0u : ((maximum - s[2 - c]) * 255u + maximum / 2) / maximum);
            d[3] = static_cast<uint8_t>(k);
        }
        return;
    default: return;
    }
}

// Any format to straight RGBA, 16 bits a channel.
void ToRgba16(PixelFormat from, std::span<const uint32_t> palette, const uint8_t* s, uint16_t* d, size_t n) {
    switch (from) {
    case PixelFormat::kGray16:
        for (size_t i = 0; i < n; ++i, d += 4) {
            d[0] = d[1] = d[2] = Load<uint16_t>(s + 2 * i);
            d[3] = 65535;
        }
        return;
    case PixelFormat::kRgb48:
        for (size_t i = 0; i < n; ++i, s += 6, d += 4) {
            d[0] = Load<uint16_t>(s);
            d[1] = Load<uint16_t>(s + 2);
            d[2] = Load<uint16_t>(s + 4);
            d[3] = 65535;
        }
        return;
    case PixelFormat::kRgba64: std::memcpy(d, s, n * 8); return;
    case PixelFormat::kRgbaHalf:
        for (size_t i = 0; i < n; ++i, s += 8, d += 4) {
            for (int c = 0; c < 3; ++c) d[c] = LinearToSrgb16(HalfToFloat(Load<uint16_t>(s + 2 * c)));
            d[3] = Alpha16(HalfToFloat(Load<uint16_t>(s + 6)));
        }
        return;
    case PixelFormat::kRgbaFloat:
        for (size_t i = 0; i < n; ++i, s += 16, d += 4) {
            for (int c = 0; c < 3; ++c) d[c] = LinearToSrgb16(Load<float>(s + 4 * c));
            d[3] = Alpha16(Load<float>(s + 12));
        }
        return;
    default: {
        std::array<uint8_t, kChunk * 4> bgra;
        for (size_t done = 0; done < n; done += kChunk) {
            size_t count = std::min(kChunk, n - done);
            ToBgra8(from, palette, s + done * BytesPerPixel(from), bgra.data(), count);
            for (size_t i = 0; i < count; ++i) {
                uint16_t* p = d + (done + i) * 4;
                p[0] = static_cast<uint16_t>(bgra[i * 4 + 2] * 257);
                p[1] = static_cast<uint16_t>(bgra[i * 4 + 1] * 257);
                p[2] = static_cast<uint16_t>(bgra[i * 4] * 257);
                p[3] = static_cast<uint16_t>(bgra[i * 4 + 3] * 257);
            }
        }
        return;
    }
    }
}

void FromRgba16(const uint16_t* s, PixelFormat to, uint8_t* d, size_t n) {
    switch (to) {
    case PixelFormat::kGray16:
        for (size_t i = 0; i < n; ++i, s += 4) Store<uint16_t>(d + 2 * i, Luma16(s[0], s[1], s[2]));
        return;
    case PixelFormat::kRgb48:
        for (size_t i = 0; i < n; ++i, s += 4, d += 6) std::memcpy(d, s, 6);
        return;
    case PixelFormat::kRgba64: std::memcpy(d, s, n * 8); return;
    case PixelFormat::kRgbaHalf:
        for (size_t i = 0; i < n; ++i, s += 4, d += 8) {
            for (int c = 0; c < 3; ++c) Store<uint16_t>(d + 2 * c, FloatToHalf(SrgbToLinear(s[c])));
            Store<uint16_t>(d + 6, FloatToHalf(s[3] / 65535.0f));
        }
        return;
    case PixelFormat::kRgbaFloat:
        for (size_t i = 0; i < n; ++i, s += 4, d += 16) {
            for (int c = 0; c < 3; ++c) Store<float>(d + 4 * c, SrgbToLinear(s[c]));
            Store<float>(d + 12, s[3] / 65535.0f);
        }
        return;
    default: {
        std::array<uint8_t, kChunk * 4> bgra;
        for (size_t done = 0; done < n; done += kChunk) {
            size_t count = std::min(kChunk, n - done);
            for (size_t i = 0; i < count; ++i) {
                const uint16_t* p = s + (done + i) * 4;
                bgra[i * 4] = To8(p[2]);
                bgra[i * 4 + 1] = To8(p[1]);
                bgra[i * 4 + 2] = To8(p[0]);
                bgra[i * 4 + 3] = To8(p[3]);
            }
            FromBgra8(bgra.data(), to, d + done * BytesPerPixel(to), count);
        }
        return;
    }
    }
}

}  // namespace

uint32_t BytesPerPixel(PixelFormat format) { return Facts(format).bytes; }
bool SupportsTransparency(PixelFormat format) { return Facts(format).transparency; }
bool IsDeepFormat(PixelFormat format) { return Facts(format).deep; }

bool ConvertRow(PixelFormat from, std::span<const uint32_t> palette, const uint8_t* source, PixelFormat to,
                uint8_t* target, size_t count) {
    if (to == PixelFormat::kIndexed8) {
        if (from != to) return false;
        std::memcpy(target, source, count);
        return true;
    }
    if (from == to) {
        std::memcpy(target, source, count * BytesPerPixel(from));
        return true;
    }
    if (from == PixelFormat::kBgr24 && to == PixelFormat::kBgra32) {
        ToBgra8(from, palette, source, target, count);
        return true;
    }
    if (IsDeepFormat(from) || IsDeepFormat(to)) {
        std::array<uint16_t, kChunk * 4> wide;
        for (size_t done = 0; done < count; done += kChunk) {
            size_t n = std::min(kChunk, count - done);
            ToRgba16(from, palette, source + done * BytesPerPixel(from), wide.data(), n);
            FromRgba16(wide.data(), to, target + done * BytesPerPixel(to), n);
        }
        return true;
    }
    if (from == PixelFormat::kBgra32) {
        FromBgra8(source, to, target, count);
        return true;
    }
    if (to == PixelFormat::kBgra32) {
        ToBgra8(from, palette, source, target, count);
        return true;
    }
    std::array<uint8_t, kChunk * 4> bgra;
    for (size_t done = 0; done < count; done += kChunk) {
        size_t n = std::min(kChunk, count - done);
        ToBgra8(from, palette, source + done * BytesPerPixel(from), bgra.data(), n);
        FromBgra8(bgra.data(), to, target + done * BytesPerPixel(to), n);
    }
    return true;
}

}  // namespace imaging
