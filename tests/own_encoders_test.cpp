// The program's own image encoders and the icon scaler. Every lossless output must decode,
// by an independent decoder (ImageMagick, libwebp, giflib), to exactly the pixels
// written; GIF is exact up to 256 colours and close beyond.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <webp/decode.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "convert/core/errors.h"
#include "convert/images/bmp.h"
#include "convert/images/dds.h"
#include "convert/images/gif_writer.h"
#include "convert/images/ico.h"
#include "convert/images/netpbm.h"
#include "convert/images/qoi.h"
#include "convert/images/resample.h"
#include "convert/images/tga.h"
#include "convert/images/webp_lossless.h"
#include "support/image_support.h"
#include "support/test_support.h"

using namespace testing_support;
using images::PixelBuffer;

namespace {

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no error";
}

PixelBuffer OnWhite(PixelBuffer image) {
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        unsigned a = image.bgra[i + 3];
        for (int c = 0; c < 3; ++c) image.bgra[i + c] = static_cast<uint8_t>((image.bgra[i + c] * a + 255 * (255 - a)) / 255);
        image.bgra[i + 3] = 255;
    }
    return image;
}

struct Size {
    uint32_t width, height;
};
const Size kSizes[] = {{1, 1}, {7, 3}, {33, 17}, {4097, 3}, {2, 300}};

// ---- Lossless encoders through ImageMagick ----

TEST(OwnEncoders, ImageMagickReadsBackExactlyThePixelsWritten) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    struct Format {
        const char* name;
        std::function<std::string(const PixelBuffer&)> encode;
        bool keepsAlpha;
    };
    const Format formats[] = {
        {"tga", images::EncodeTga, true},
        {"ppm", images::EncodePpm, false},
        {"bmp", [](const PixelBuffer& p) { return images::EncodeBmp(p, true); }, true},
        {"bmp", [](const PixelBuffer& p) { return images::EncodeBmp(p, false); }, false},
        {"dds", images::EncodeDds, true},
    };
    uint32_t seed = 1;
    for (const Format& format : formats)
        for (const Size& size : kSizes)
            for (bool alpha : {false, true}) {
                PixelBuffer picture = RandomImage(size.width, size.height, alpha, ++seed);
                std::string path = std::string(format.name) + ":" + dir.File("out");
                WriteFile(dir.File("out"), format.encode(picture));
                PixelBuffer expected = format.keepsAlpha ? picture : OnWhite(picture);
                EXPECT_EQ(FirstDifference(MagickDecode(path), expected), "")
                    << format.name << " " << size.width << "x" << size.height << (alpha ? " alpha" : "");
            }
}

TEST(OwnEncoders, WriteTheHeadersTheirFormatsPrescribe) {
    PixelBuffer pixel = Pixels(1, 1, {10, 20, 30, 0});
    std::string tga = images::EncodeTga(Pixels(2, 1, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(tga.size(), 18u + 8u);
    EXPECT_EQ(tga.substr(0, 18), ByteBuilder().U8(0).U8(0).U8(2).Zeros(5).U16(0).U16(0).U16(2).U16(1).U8(32).U8(0x28).bytes);
    EXPECT_EQ(tga.substr(18), std::string("\1\2\3\4\5\6\7\10", 8));
    EXPECT_EQ(images::EncodePpm(pixel), "P6\n1 1\n255\n\xFF\xFF\xFF");
    EXPECT_EQ(images::EncodePpm(Pixels(2, 1, {0, 0, 200, 128, 10, 20, 30, 255})), "P6\n2 1\n255\n\xE3\x7F\x7F\x1E\x14\x0A");
    PixelBuffer wide{70000, 1, std::vector<uint8_t>(280000, 0)};
    EXPECT_EQ(ErrorOf([&] { images::EncodeTga(wide); }), "TGA pictures can be at most 65535 pixels on a side");
    // QOI: 100 identical pixels that aren't opaque black: their own chunk, RUN 62, RUN 37.
    std::string qoi = images::EncodeQoi(SolidImage(100, 1, 1, 2, 3, 255));
    EXPECT_EQ(qoi.substr(14), std::string("\xA2\x97\xFD\xE4") + std::string(7, '\0') + "\x01");  // LUMA from opaque black
    EXPECT_EQ(qoi.substr(0, 14), ByteBuilder().Text("qoif").U32BE(100).U32BE(1).U8(4).U8(0).bytes);
}

// ---- Lossless WebP ----

PixelBuffer LibwebpDecode(const std::string& file) {
    int width = 0, height = 0;
    uint8_t* bgra = WebPDecodeBGRA(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &width, &height);
    if (!bgra) return {};
    PixelBuffer image{static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      std::vector<uint8_t>(bgra, bgra + static_cast<size_t>(width) * height * 4)};
    WebPFree(bgra);
    return image;
}

TEST(WebpLossless, EveryFileDecodesLosslesslyWithLibwebp) {
    uint32_t seed = 100;
    std::vector<PixelBuffer> pictures;
    for (const Size& size : kSizes)
        for (bool alpha : {false, true}) {
            pictures.push_back(RandomImage(size.width, size.height, alpha, ++seed));
            pictures.push_back(PhotoLikeImage(size.width, size.height, alpha, ++seed));
        }
    pictures.push_back(ScreenshotImage(301, 157, 7));
    pictures.push_back(SolidImage(100, 100, 1, 2, 3, 4));
    pictures.push_back(SolidImage(5000, 2, 0, 0, 0, 255));  // copies longer than 4096 split
    for (uint32_t n = 0; n < 20; ++n) {  // odd sizes, mixtures of flat and noisy areas
        PixelBuffer p = PhotoLikeImage(1 + n * 13 % 97, 1 + n * 29 % 61, n % 2, 900 + n);
        for (size_t i = 0; i < p.bgra.size() / 3; ++i) p.bgra[i] = static_cast<uint8_t>(i / 64);
        pictures.push_back(p);
    }
    for (const PixelBuffer& picture : pictures) {
        std::string file = images::EncodeWebpLossless(picture);
        EXPECT_EQ(FirstDifference(LibwebpDecode(file), picture), "") << picture.width << "x" << picture.height;
    }
}

TEST(WebpLossless, WritesTheContainerAndHeaderBits) {
    auto vp8l = [](const std::string& file) { return file.substr(20); };
    auto headerBits = [&](const std::string& file) {
        std::string data = vp8l(file);
        return uint32_t(uint8_t(data[1])) | uint32_t(uint8_t(data[2])) << 8 | uint32_t(uint8_t(data[3])) << 16 |
               uint32_t(uint8_t(data[4])) << 24;
    };
    for (auto [picture, alphaUsed] : {std::pair{SolidImage(3, 2, 1, 2, 3, 255), false}, {SolidImage(3, 2, 1, 2, 3, 254), true}}) {
        std::string file = images::EncodeWebpLossless(picture);
        uint32_t length = uint32_t(uint8_t(file[16])) | uint32_t(uint8_t(file[17])) << 8 | uint32_t(uint8_t(file[18])) << 16;
        EXPECT_EQ(file.substr(0, 4), "RIFF");
        EXPECT_EQ(file.substr(8, 8), "WEBPVP8L");
        EXPECT_EQ(file.size(), 20 + length + length % 2);
        EXPECT_EQ(ByteBuilder().U32(static_cast<uint32_t>(file.size() - 8)).bytes, file.substr(4, 4));
        if (length % 2) {
            EXPECT_EQ(file.back(), '\0');
        }
        EXPECT_EQ(uint8_t(vp8l(file)[0]), 0x2F);
        uint32_t bits = headerBits(file);
        EXPECT_EQ(bits & 0x3FFF, 2u);
        EXPECT_EQ((bits >> 14) & 0x3FFF, 1u);
        EXPECT_EQ((bits >> 28) & 1, alphaUsed ? 1u : 0u);
        EXPECT_EQ(bits >> 29, 0u);  // version
    }
    // One opaque pixel: all five codes single-symbol, so the pixel itself takes no bits.
    EXPECT_LE(images::EncodeWebpLossless(Pixels(1, 1, {200, 100, 50, 255})).size(), 40u);
    EXPECT_LE(images::EncodeWebpLossless(SolidImage(100, 100, 9, 99, 199, 255)).size(), 64u);
    for (auto [width, height, ok] : {std::tuple{16384u, 1u, true}, {1u, 16384u, true}, {16385u, 1u, false}, {1u, 16385u, false}}) {
        PixelBuffer picture = SolidImage(width, height, 0, 0, 0, 255);
        if (ok) EXPECT_EQ(FirstDifference(LibwebpDecode(images::EncodeWebpLossless(picture)), picture), "");
        else EXPECT_EQ(ErrorOf([&] { images::EncodeWebpLossless(picture); }), "WebP pictures can be at most 16384 pixels on a side");
    }
}

// ---- GIF ----

struct DecodedGif {
    uint32_t width = 0, height = 0;
    int frames = 0, loopCount = -1;  // -1: no NETSCAPE2.0 block
    std::vector<PixelBuffer> images;  // each frame alone, transparent where its index is
    std::vector<GraphicsControlBlock> controls;
    std::vector<int> colourCounts;
};

DecodedGif GiflibDecode(const std::string& file) {
    struct Source {
        const std::string* bytes;
        size_t at = 0;
    } source{&file};
    auto read = [](GifFileType* gif, GifByteType* out, int length) -> int {
        auto* s = static_cast<Source*>(gif->UserData);
        size_t n = std::min(static_cast<size_t>(length), s->bytes->size() - s->at);
        std::memcpy(out, s->bytes->data() + s->at, n);
        s->at += n;
        return static_cast<int>(n);
    };
    int error = 0;
    GifFileType* gif = DGifOpen(&source, read, &error);
    DecodedGif result;
    if (!gif) return result;
    if (DGifSlurp(gif) == GIF_OK) {
        result.width = static_cast<uint32_t>(gif->SWidth);
        result.height = static_cast<uint32_t>(gif->SHeight);
        result.frames = gif->ImageCount;
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& frame = gif->SavedImages[i];
            for (int e = 0; e + 1 < frame.ExtensionBlockCount; ++e)
                if (frame.ExtensionBlocks[e].Function == APPLICATION_EXT_FUNC_CODE &&
                    std::memcmp(frame.ExtensionBlocks[e].Bytes, "NETSCAPE2.0", 11) == 0)
                    result.loopCount = frame.ExtensionBlocks[e + 1].Bytes[1] | frame.ExtensionBlocks[e + 1].Bytes[2] << 8;
            GraphicsControlBlock control{};
            DGifSavedExtensionToGCB(gif, i, &control);
            result.controls.push_back(control);
            const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
            result.colourCounts.push_back(map ? map->ColorCount : 0);
            PixelBuffer image = SolidImage(static_cast<uint32_t>(frame.ImageDesc.Width), static_cast<uint32_t>(frame.ImageDesc.Height), 0, 0, 0, 0);
            for (size_t p = 0; p < image.bgra.size() / 4; ++p) {
                int index = frame.RasterBits[p];
                if (index == control.TransparentColor || !map || index >= map->ColorCount) continue;
                const GifColorType& c = map->Colors[index];
                image.bgra[p * 4] = c.Blue, image.bgra[p * 4 + 1] = c.Green, image.bgra[p * 4 + 2] = c.Red, image.bgra[p * 4 + 3] = 255;
            }
            result.images.push_back(image);
        }
    }
    DGifCloseFile(gif, &error);
    return result;
}

// Pixels as GIF shows them: alpha below 128 transparent (black, alpha 0), the rest opaque.
PixelBuffer AsGifSees(PixelBuffer image) {
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        if (image.bgra[i + 3] < 128) std::fill_n(image.bgra.begin() + static_cast<long>(i), 4, 0);
        else image.bgra[i + 3] = 255;
    }
    return image;
}

// A picture of at most `colours` colours: random pixels drawn from a random palette.
PixelBuffer FewColours(uint32_t width, uint32_t height, int colours, bool holes, uint32_t seed) {
    PixelBuffer palette = RandomImage(static_cast<uint32_t>(colours), 1, false, seed);
    PixelBuffer image = RandomImage(width, height, false, seed + 1);
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        size_t pick = image.bgra[i] % static_cast<size_t>(colours);
        bool hole = holes && image.bgra[i + 1] % 5 == 0;
        auto alpha = static_cast<uint8_t>(image.bgra[i + 2] % 128);
        std::copy_n(palette.bgra.begin() + static_cast<long>(pick * 4), 4, image.bgra.begin() + static_cast<long>(i));
        if (hole) image.bgra[i + 3] = alpha;
    }
    return image;
}

double Psnr(const PixelBuffer& a, const PixelBuffer& b) {
    double sum = 0;
    for (size_t i = 0; i < a.bgra.size(); ++i)
        if (i % 4 != 3) sum += (a.bgra[i] - b.bgra[i]) * (a.bgra[i] - b.bgra[i]);
    double mse = sum / static_cast<double>(a.bgra.size() / 4 * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(GifEncoder, IsExactUpTo256ColoursWithTransparency) {
    const PixelBuffer pictures[] = {
        FewColours(1, 1, 1, false, 1), FewColours(7, 3, 2, false, 2), FewColours(33, 17, 256, false, 3),
        FewColours(4097, 3, 255, true, 4), FewColours(300, 200, 200, true, 5), ScreenshotImage(257, 99, 6),
        SolidImage(5, 5, 0, 0, 0, 0), FewColours(64, 64, 3, true, 7),
    };
    for (const PixelBuffer& picture : pictures) {
        DecodedGif gif = GiflibDecode(images::EncodeGif(picture));
        ASSERT_EQ(gif.frames, 1) << picture.width;
        EXPECT_EQ(gif.loopCount, -1);
        EXPECT_EQ(FirstDifference(gif.images[0], AsGifSees(picture)), "") << picture.width << "x" << picture.height;
    }
}

// More colours than a palette holds: the quantiser and the dither must keep the picture
// close (a careless palette scores far lower), and large smooth areas keep their mean.
TEST(GifEncoder, QuantisesRichPicturesClosely) {
    struct Case {
        PixelBuffer picture;
        double minimumPsnr;
    };
    const Case cases[] = {{PhotoLikeImage(320, 200, false, 11), 33}, {PhotoLikeImage(97, 301, true, 12), 31},
                          {RandomImage(4097, 3, false, 13), 14}};
    for (const Case& c : cases) {
        DecodedGif gif = GiflibDecode(images::EncodeGif(c.picture));
        ASSERT_EQ(gif.frames, 1);
        EXPECT_LE(gif.colourCounts[0], 256);
        PixelBuffer expected = AsGifSees(c.picture);
        EXPECT_GE(Psnr(gif.images[0], expected), c.minimumPsnr) << c.picture.width;
        for (size_t i = 3; i < expected.bgra.size(); i += 4) EXPECT_EQ(gif.images[0].bgra[i], expected.bgra[i]);
    }
    // A ramp of 1024 colours: error diffusion keeps 8 x 8 block means close to the
    // picture's (a weakened diffusion nearly doubles the mean error).
    PixelBuffer ramp = SolidImage(1024, 16, 0, 0, 0, 255);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 1024; ++x) {
            uint8_t* p = ramp.bgra.data() + (y * 1024 + x) * 4;
            p[0] = static_cast<uint8_t>(x / 4), p[1] = static_cast<uint8_t>(255 - x / 4), p[2] = static_cast<uint8_t>((x * 7) % 256);
        }
    PixelBuffer shown = GiflibDecode(images::EncodeGif(ramp)).images.at(0);
    double worst = 0, total = 0;
    for (uint32_t bx = 0; bx < 1024; bx += 8)
        for (int c = 0; c < 3; ++c) {
            double want = 0, got = 0;
            for (uint32_t y = 0; y < 8; ++y)
                for (uint32_t x = bx; x < bx + 8; ++x) {
                    want += ramp.bgra[(y * 1024 + x) * 4 + c];
                    got += shown.bgra[(y * 1024 + x) * 4 + c];
                }
            worst = std::max(worst, std::fabs(want - got) / 64);
            total += std::fabs(want - got) / 64;
        }
    EXPECT_LE(worst, 6.0);
    EXPECT_LE(total / (128 * 3), 0.7);
}

TEST(GifEncoder, WritesAnimationsFrameByFrame) {
    images::GifWriter writer(40, 30, true);
    const PixelBuffer frames[] = {PhotoLikeImage(40, 30, false, 1), FewColours(40, 30, 50, false, 2), FewColours(40, 30, 9, true, 3)};
    const uint16_t delays[] = {7, 6, 2};
    for (int i = 0; i < 3; ++i) writer.AddFrame(frames[i], delays[i]);
    EXPECT_EQ(writer.FrameCount(), 3u);
    EXPECT_EQ(ErrorOf([&] { writer.AddFrame(PhotoLikeImage(41, 30, false, 1), 5); }), "Couldn't add a GIF frame");
    DecodedGif gif = GiflibDecode(writer.Finish());
    ASSERT_EQ(gif.frames, 3);
    EXPECT_EQ(gif.width, 40u);
    EXPECT_EQ(gif.loopCount, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gif.controls[i].DelayTime, delays[i]);
        EXPECT_EQ(gif.controls[i].DisposalMode, i == 2 ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT);
        EXPECT_EQ(gif.controls[i].TransparentColor == NO_TRANSPARENT_COLOR, i != 2);
    }
    EXPECT_EQ(FirstDifference(gif.images[1], frames[1]), "");
    EXPECT_EQ(FirstDifference(gif.images[2], AsGifSees(frames[2])), "");
    EXPECT_GE(Psnr(gif.images[0], frames[0]), 33);

    images::GifWriter once(2, 2, false);
    EXPECT_EQ(ErrorOf([&] { once.Finish(); }), "Couldn't finish the GIF");
    EXPECT_EQ(ErrorOf([] { images::GifWriter(0, 5, false); }), "This image reports an impossible size");
}

// ---- Icons and the scaler ----

TEST(IconWriter, ChoosesSizesScalesCentresAndAssembles) {
    using Sizes = std::vector<uint32_t>;
    const std::tuple<uint32_t, uint32_t, bool, Sizes> sizeCases[] = {
        {300, 150, false, {256, 128, 64, 48, 32, 24, 16}}, {300, 150, true, {128, 64, 48, 32, 24, 16}},
        {20, 20, false, {16}}, {20, 5, true, {32, 16}}, {10, 10, false, {16}}, {10, 10, true, {32}},
        {48, 47, false, {48, 32, 24, 16}}, {256, 1, false, {256, 128, 64, 48, 32, 24, 16}},
    };
    for (const auto& [w, h, cursor, sizes] : sizeCases) EXPECT_EQ(images::IconSizes(w, h, cursor), sizes) << w << "x" << h << cursor;
    EXPECT_EQ(images::IconScaledSize(300, 150, 256), std::pair(256u, 128u));
    EXPECT_EQ(images::IconScaledSize(10, 10, 16), std::pair(16u, 16u));
    EXPECT_EQ(images::IconScaledSize(1000, 3, 16), std::pair(16u, 1u));
    EXPECT_EQ(images::IconScaledSize(3, 7, 16), std::pair(7u, 16u));

    PixelBuffer square = images::CenterOnSquare(SolidImage(3, 2, 9, 9, 9, 255), 6);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 6; ++x)
            EXPECT_EQ(square.bgra[(y * 6 + x) * 4 + 3], (x >= 1 && x < 4 && y >= 2 && y < 4) ? 255 : 0) << x << "," << y;
    EXPECT_EQ(ErrorOf([] { images::CenterOnSquare(SolidImage(7, 2, 0, 0, 0, 0), 6); }), "Couldn't resize the image");

    std::string icon = images::AssembleIcon({{256, "AAAA"}, {16, "BB"}}, false);
    EXPECT_EQ(icon, ByteBuilder().U16(0).U16(1).U16(2)
                        .U8(0).U8(0).U8(0).U8(0).U16(1).U16(32).U32(4).U32(38)
                        .U8(16).U8(16).U8(0).U8(0).U16(1).U16(32).U32(2).U32(42).Text("AAAABB").bytes);
    std::string cursor = images::AssembleIcon({{32, "C"}}, true);
    EXPECT_EQ(cursor, ByteBuilder().U16(0).U16(2).U16(1).U8(32).U8(32).U8(0).U8(0).U16(0).U16(0).U32(1).U32(22).Text("C").bytes);
    EXPECT_EQ(ErrorOf([] { images::AssembleIcon({{257, "x"}}, false); }), "Couldn't write the icon file");
}

TEST(IconWriter, ImageMagickReadsEveryEntryAsScaledAndCentred) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    PixelBuffer picture = PhotoLikeImage(300, 150, true, 21);
    for (bool cursor : {false, true}) {
        std::string file = images::BuildIcon(picture, cursor, ReferencePng);
        WriteFile(dir.File("a.ico"), file);
        std::vector<uint32_t> sizes = images::IconSizes(300, 150, cursor);
        CommandResult listed = RunCommand("identify -format '%w ' " + ShellQuote("ico:" + dir.File("a.ico")));
        std::string want;
        for (uint32_t s : sizes) want += std::to_string(s) + " ";
        EXPECT_EQ(listed.output, want);
        for (size_t i = 0; i < sizes.size(); ++i) {
            auto [w, h] = images::IconScaledSize(300, 150, sizes[i]);
            PixelBuffer expected = images::CenterOnSquare(images::ResizeCubic(picture, w, h), sizes[i]);
            EXPECT_EQ(FirstDifference(MagickDecode("ico:" + dir.File("a.ico") + "[" + std::to_string(i) + "]"), expected), "")
                << sizes[i];
        }
        images::IconImage first = images::FirstIconImage(file);
        EXPECT_TRUE(first.isPng);
    }
}

TEST(CubicResampler, KeepsWhatMustStayAndFollowsTheReferenceFilter) {
    PixelBuffer photo = PhotoLikeImage(61, 47, true, 31);
    EXPECT_EQ(FirstDifference(images::ResizeCubic(photo, 61, 47), photo), "");  // interpolating: no change at scale 1
    for (auto [w, h] : {std::pair{13u, 200u}, {1u, 1u}, {256u, 3u}, {30u, 24u}}) {
        PixelBuffer flat = SolidImage(61, 47, 10, 130, 250, 77);
        EXPECT_EQ(FirstDifference(images::ResizeCubic(flat, w, h), SolidImage(w, h, 10, 130, 250, 77)), "") << w << "x" << h;
    }
    // Transparent pixels lend no colour: red at alpha 0 beside opaque blue stays out of the blend.
    PixelBuffer half = SolidImage(8, 8, 255, 0, 0, 255);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 4; ++x) std::copy_n(std::begin({uint8_t{0}, uint8_t{0}, uint8_t{255}, uint8_t{0}}), 4, half.bgra.begin() + (y * 8 + x) * 4);
    PixelBuffer small = images::ResizeCubic(half, 3, 3);
    for (size_t i = 0; i < small.bgra.size(); i += 4)
        if (small.bgra[i + 3] > 0) {
            EXPECT_EQ(small.bgra[i + 2], 0) << i / 4;
        }
    // A 2-pixel checkerboard shrunk by 4 is an even grey away from the repeated edges:
    // the filter widens with the scale.
    PixelBuffer checks = SolidImage(64, 64, 0, 0, 0, 255);
    for (uint32_t i = 0; i < 64 * 64; ++i)
        if ((i % 64 / 2 + i / 64 / 2) % 2) std::fill_n(checks.bgra.begin() + i * 4, 3, 255);
    PixelBuffer grey = images::ResizeCubic(checks, 16, 16);
    for (uint32_t y = 1; y < 15; ++y)
        for (uint32_t x = 1; x < 15; ++x) EXPECT_NEAR(grey.bgra[(y * 16 + x) * 4], 128, 2) << x << "," << y;
    EXPECT_EQ(ErrorOf([&] { images::ResizeCubic(photo, 0, 4); }), "This image reports an impossible size");
}

TEST(CubicResampler, AgreesWithImageMagicksCatmullRom) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    PixelBuffer photo = PhotoLikeImage(300, 150, false, 41);
    ASSERT_TRUE(MagickEncode(photo, "pam:" + dir.File("a.pam")));
    for (auto [w, h] : {std::pair{128u, 64u}, {37u, 19u}, {600u, 301u}}) {
        std::string out = dir.File("b.pam");
        std::string geometry = std::to_string(w) + "x" + std::to_string(h) + "!";
        ASSERT_EQ(RunCommand("convert pam:" + ShellQuote(dir.File("a.pam")) + " -filter Catrom -resize " + geometry + " pam:" + ShellQuote(out)).exitCode, 0);
        EXPECT_LE(MaxChannelDifference(images::ResizeCubic(photo, w, h), MagickDecode("pam:" + out)), 2) << geometry;
    }
}

}  // namespace
