#include "support/image_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>

#include <zlib.h>

#include "support/test_support.h"

namespace testing_support {

using images::PixelBuffer;

namespace {

PixelBuffer Blank(uint32_t width, uint32_t height) {
    PixelBuffer image;
    image.width = width;
    image.height = height;
    image.bgra.assign(static_cast<size_t>(width) * height * 4, 0);
    return image;
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

PixelBuffer RandomImage(uint32_t width, uint32_t height, bool alpha, uint32_t seed) {
    PixelBuffer image = Blank(width, height);
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.bgra.size(); ++i)
        image.bgra[i] = (i % 4 == 3 && !alpha) ? 255 : static_cast<uint8_t>(random());
    return image;
}

PixelBuffer PhotoLikeImage(uint32_t width, uint32_t height, bool alpha, uint32_t seed) {
    PixelBuffer image = Blank(width, height);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 2.5);
    struct Blob { double x, y, r, cr, cg, cb; };
    std::vector<Blob> blobs;
    auto next = [&](uint32_t below) { return static_cast<double>(static_cast<uint32_t>(random()) % below); };
    for (int i = 0; i < 6; ++i)
        blobs.push_back({next(width + 1), next(height + 1), 5.0 + next(width / 2 + 5), next(256), next(256), next(256)});
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            double r = 60 + 120 * fx + 40 * std::sin(fy * 6), g = 90 + 100 * fy, b = 150 - 80 * fx * fy;
            for (const Blob& blob : blobs) {
                double d = std::hypot(x - blob.x, y - blob.y) / blob.r;
                double w = std::exp(-d * d);
                r += (blob.cr - r) * w, g += (blob.cg - g) * w, b += (blob.cb - b) * w;
            }
            uint8_t* p = image.bgra.data() + (static_cast<size_t>(y) * width + x) * 4;
            p[0] = Clamp(b + noise(random));
            p[1] = Clamp(g + noise(random));
            p[2] = Clamp(r + noise(random));
            p[3] = alpha ? Clamp(255 * std::min(1.0, 4 * std::min({fx, fy, 1 - fx, 1 - fy}) + 0.02)) : 255;
        }
    return image;
}

PixelBuffer ScreenshotImage(uint32_t width, uint32_t height, uint32_t seed) {
    PixelBuffer image = SolidImage(width, height, 0xF0, 0xF0, 0xF0, 255);
    std::mt19937 random(seed);
    const uint8_t palette[6][3] = {{30, 30, 30}, {200, 120, 40}, {255, 255, 255}, {60, 60, 220}, {90, 180, 90}, {128, 128, 128}};
    auto next = [&](uint32_t below) { return static_cast<uint32_t>(random()) % below; };
    for (uint32_t panel = 0; panel < 12; ++panel) {
        uint32_t x0 = next(width), y0 = next(height);
        uint32_t x1 = std::min(width, x0 + 8 + next(width / 2 + 1)), y1 = std::min(height, y0 + 6 + next(height / 3 + 1));
        const uint8_t* c = palette[next(6)];
        for (uint32_t y = y0; y < y1; ++y)
            for (uint32_t x = x0; x < x1; ++x) {
                uint8_t* p = image.bgra.data() + (static_cast<size_t>(y) * width + x) * 4;
                // Text-like strokes: a few short runs per row.
                bool ink = (y - y0) % 9 < 6 && ((x * 7 + y * 3 + panel) % 11 < 3);
                const uint8_t* use = ink ? palette[0] : c;
                p[0] = use[2], p[1] = use[1], p[2] = use[0];
            }
    }
    return image;
}

PixelBuffer Pixels(uint32_t width, uint32_t height, std::initializer_list<uint8_t> bgra) {
    PixelBuffer image = Blank(width, height);
    image.bgra.assign(bgra.begin(), bgra.end());
    return image;
}

std::string ReferencePng(const PixelBuffer& pixels) {
    auto chunk = [](std::string& out, const char* type, const std::string& data) {
        ByteBuilder length;
        length.U32BE(static_cast<uint32_t>(data.size()));
        std::string body = std::string(type, 4) + data;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        out += length.bytes + body + ByteBuilder().U32BE(static_cast<uint32_t>(crc)).bytes;
    };
    std::string raw;
    for (uint32_t y = 0; y < pixels.height; ++y) {
        raw += '\0';  // filter: none
        for (uint32_t x = 0; x < pixels.width; ++x) {
            const uint8_t* p = pixels.bgra.data() + (static_cast<size_t>(y) * pixels.width + x) * 4;
            raw += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0]), static_cast<char>(p[3])};
        }
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    packed.resize(size);
    std::string out("\x89PNG\r\n\x1a\n", 8);
    chunk(out, "IHDR", ByteBuilder().U32BE(pixels.width).U32BE(pixels.height).U8(8).U8(6).U8(0).U8(0).U8(0).bytes);
    chunk(out, "IDAT", packed);
    chunk(out, "IEND", "");
    return out;
}

PixelBuffer SolidImage(uint32_t width, uint32_t height, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    PixelBuffer image = Blank(width, height);
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        image.bgra[i] = b, image.bgra[i + 1] = g, image.bgra[i + 2] = r, image.bgra[i + 3] = a;
    }
    return image;
}

int MaxChannelDifference(const PixelBuffer& a, const PixelBuffer& b) {
    if (a.width != b.width || a.height != b.height || a.bgra.size() != b.bgra.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.bgra.size(); ++i) worst = std::max(worst, std::abs(a.bgra[i] - b.bgra[i]));
    return worst;
}

std::string FirstDifference(const PixelBuffer& a, const PixelBuffer& b, int topBits) {
    const int drop = 8 - topBits;
    std::ostringstream text;
    if (a.width != b.width || a.height != b.height || a.bgra.size() != b.bgra.size()) {
        text << "sizes " << a.width << "x" << a.height << " and " << b.width << "x" << b.height;
        return text.str();
    }
    for (size_t i = 0; i < a.bgra.size(); i += 4)
        if (!std::equal(a.bgra.begin() + static_cast<long>(i), a.bgra.begin() + static_cast<long>(i) + 4,
                        b.bgra.begin() + static_cast<long>(i), [drop](uint8_t x, uint8_t y) { return x >> drop == y >> drop; })) {
            size_t pixel = i / 4;
            text << "pixel (" << pixel % a.width << "," << pixel / a.width << ") BGRA ";
            for (int c = 0; c < 4; ++c) text << int(a.bgra[i + c]) << (c < 3 ? "," : "");
            text << " vs ";
            for (int c = 0; c < 4; ++c) text << int(b.bgra[i + c]) << (c < 3 ? "," : "");
            return text.str();
        }
    return "";
}

PixelBuffer MagickDecode(const std::string& file) {
    TempDir dir;
    std::string path = file.back() == ']' ? file.substr(0, file.rfind('[')) : file;
    std::string frame = file.back() == ']' ? file.substr(file.rfind('[')) : "[0]";
    std::string raw = dir.File("out.rgba");
    CommandResult size = RunCommand("convert " + ShellQuote(path + frame) + " -format '%w %h' info:");
    uint32_t width = 0, height = 0;
    if (size.exitCode != 0 || std::sscanf(size.output.c_str(), "%u %u", &width, &height) != 2) return {};
    if (RunCommand("convert " + ShellQuote(path + frame) + " -auto-orient -depth 8 rgba:" + ShellQuote(raw)).exitCode != 0) return {};
    std::string bytes = ReadFile(raw);
    if (bytes.size() != static_cast<size_t>(width) * height * 4) return {};
    PixelBuffer image = Blank(width, height);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        image.bgra[i] = static_cast<uint8_t>(bytes[i + 2]);
        image.bgra[i + 1] = static_cast<uint8_t>(bytes[i + 1]);
        image.bgra[i + 2] = static_cast<uint8_t>(bytes[i]);
        image.bgra[i + 3] = static_cast<uint8_t>(bytes[i + 3]);
    }
    return image;
}

PixelBuffer PillowDecode(const std::string& path) {
    TempDir dir;
    const char* script =
        "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]).convert('RGBA')\n"
        "open(sys.argv[2], 'wb').write(b'%d %d ' % im.size + im.tobytes())\n";
    if (RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(path) + " " + ShellQuote(dir.File("out"))).exitCode != 0)
        return {};
    std::string bytes = ReadFile(dir.File("out"));
    uint32_t width = 0, height = 0;
    int used = 0;
    if (std::sscanf(bytes.c_str(), "%u %u %n", &width, &height, &used) != 2) return {};
    bytes.erase(0, static_cast<size_t>(used));
    if (bytes.size() != static_cast<size_t>(width) * height * 4) return {};
    PixelBuffer image = Blank(width, height);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        image.bgra[i] = static_cast<uint8_t>(bytes[i + 2]);
        image.bgra[i + 1] = static_cast<uint8_t>(bytes[i + 1]);
        image.bgra[i + 2] = static_cast<uint8_t>(bytes[i]);
        image.bgra[i + 3] = static_cast<uint8_t>(bytes[i + 3]);
    }
    return image;
}

bool MagickEncode(const PixelBuffer& pixels, const std::string& path, const std::string& options) {
    TempDir dir;
    std::string raw = dir.File("in.rgba");
    std::string bytes(pixels.bgra.size(), '\0');
    for (size_t i = 0; i < bytes.size(); i += 4) {
        bytes[i] = static_cast<char>(pixels.bgra[i + 2]);
        bytes[i + 1] = static_cast<char>(pixels.bgra[i + 1]);
        bytes[i + 2] = static_cast<char>(pixels.bgra[i]);
        bytes[i + 3] = static_cast<char>(pixels.bgra[i + 3]);
    }
    WriteFile(raw, bytes);
    std::string command = "convert -size " + std::to_string(pixels.width) + "x" + std::to_string(pixels.height) +
                          " -depth 8 rgba:" + ShellQuote(raw) + " " + options + " " + ShellQuote(path);
    return RunCommand(command).exitCode == 0;
}

}  // namespace testing_support
