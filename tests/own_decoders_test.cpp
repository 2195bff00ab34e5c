// The program's own image decoders: TGA, Netpbm, QOI, BMP/DIB, ICO/CUR, DDS and the EXIF
// orientation reader. Small hand-built files pin each rule; files made by ImageMagick and
// the reference QOI code, and real files of the corpus, must decode to what those
// independent decoders see.
#include <gtest/gtest.h>

#define QOI_IMPLEMENTATION
#include <qoi.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "convert/core/errors.h"
#include "convert/images/bmp.h"
#include "convert/images/dds.h"
#include "convert/images/exif.h"
#include "convert/images/ico.h"
#include "convert/images/netpbm.h"
#include "convert/images/qoi.h"
#include "convert/images/tga.h"
#include "support/image_support.h"
#include "support/test_support.h"

using namespace testing_support;
using images::PixelBuffer;

namespace {

const std::string kDamaged = "This image is damaged or cut short";
const std::string kImpossible = "This image reports an impossible size";
const std::string kTgaKind = "This kind of TGA isn't supported";
const std::string kCantOpen = "Couldn't open this image";
const std::string kCorpus = "/work/shared/corpus/images/";

using Decoder = std::function<PixelBuffer(std::string_view)>;

std::string ErrorOf(const Decoder& decode, const std::string& bytes) {
    try {
        decode(bytes);
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "decoded";
}

struct Expected {
    std::string name;
    std::string file;
    PixelBuffer pixels;
};

void ExpectDecodes(const Decoder& decode, const std::vector<Expected>& cases) {
    for (const auto& c : cases) {
        try {
            PixelBuffer got = decode(c.file);
            EXPECT_EQ(FirstDifference(got, c.pixels), "") << c.name;
        } catch (const ConvertError& error) {
            ADD_FAILURE() << c.name << ": " << error.message;
        }
    }
}

// ---- TGA ----

struct TgaHeader {
    uint8_t type, depth, descriptor;
    uint16_t width, height;
    uint8_t mapType = 0;
    uint16_t firstIndex = 0, mapLength = 0;
    uint8_t entryBits = 0;
    std::string id = "";
};
std::string Tga(const TgaHeader& h, const std::string& mapAndData) {
    return ByteBuilder()
               .U8(static_cast<uint32_t>(h.id.size())).U8(h.mapType).U8(h.type)
               .U16(h.firstIndex).U16(h.mapLength).U8(h.entryBits)
               .U16(0).U16(0).U16(h.width).U16(h.height).U8(h.depth).U8(h.descriptor)
               .Text(h.id).Text(mapAndData).bytes;
}
std::string B(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(TgaDecoder, PlacesPixelsByOriginAndUnpacksEveryKind) {
    ExpectDecodes(images::DecodeTga, {
        {"24-bit bottom-up: the first row stored is the bottom one",
         Tga({2, 24, 0x00, 2, 2}, B({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})),
         Pixels(2, 2, {7, 8, 9, 255, 10, 11, 12, 255, 1, 2, 3, 255, 4, 5, 6, 255})},
        {"32-bit top-right origin with 8 alpha bits",
         Tga({2, 32, 0x38, 2, 1}, B({1, 2, 3, 4, 5, 6, 7, 8})),
         Pixels(2, 1, {5, 6, 7, 8, 1, 2, 3, 4})},
        {"32-bit without alpha bits in the descriptor is opaque",
         Tga({2, 32, 0x20, 1, 1}, B({1, 2, 3, 4})), Pixels(1, 1, {1, 2, 3, 255})},
        {"run-length packets that cross row ends (type 10)",
         Tga({10, 24, 0x20, 3, 2}, B({0x83, 9, 8, 7, 0x01, 1, 2, 3, 4, 5, 6})),
         Pixels(3, 2, {9, 8, 7, 255, 9, 8, 7, 255, 9, 8, 7, 255, 9, 8, 7, 255, 1, 2, 3, 255, 4, 5, 6, 255})},
        {"16-bit 0x7FFF is white and opaque although the descriptor has an alpha bit",
         Tga({2, 16, 0x21, 2, 1}, B({0xFF, 0x7F, 0x1F, 0x80})),
         Pixels(2, 1, {255, 255, 255, 255, 255, 0, 0, 255})},
        {"grey, 8-bit, with an ID field to skip", Tga({3, 8, 0x20, 2, 1, 0, 0, 0, 0, "abc"}, B({0, 200})),
         Pixels(2, 1, {0, 0, 0, 255, 200, 200, 200, 255})},
        {"grey with alpha, run-length (type 11)", Tga({11, 16, 0x28, 2, 1}, B({0x81, 90, 30})),
         Pixels(2, 1, {90, 90, 90, 30, 90, 90, 90, 30})},
        {"colour map with a first index of 2 and 24-bit entries (type 1)",
         Tga({1, 8, 0x20, 2, 1, 1, 2, 2, 24}, B({10, 20, 30, 40, 50, 60, 3, 2})),
         Pixels(2, 1, {40, 50, 60, 255, 10, 20, 30, 255})},
        {"run-length colour map with 16-bit entries (type 9)",
         Tga({9, 8, 0x20, 3, 1, 1, 0, 1, 16}, B({0x00, 0x7C, 0x82, 0})),
         Pixels(3, 1, {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255})},
        {"32-bit map entries carry their alpha", Tga({1, 8, 0x20, 1, 1, 1, 0, 1, 32}, B({1, 2, 3, 4, 0})),
         Pixels(1, 1, {1, 2, 3, 4})},
        {"a colour map on a true-colour image is skipped", Tga({2, 24, 0x20, 1, 1, 1, 0, 2, 24}, B({9, 9, 9, 9, 9, 9, 1, 2, 3})),
         Pixels(1, 1, {1, 2, 3, 255})},
    });
}

TEST(TgaDecoder, RejectsMalformedAndUnsupportedFilesWithTheirMessage) {
    const std::pair<std::string, std::string> cases[] = {
        {Tga({2, 24, 0, 1, 1}, "").substr(0, 17), kDamaged},
        {Tga({32, 8, 0, 1, 1}, B({0})), kTgaKind},
        {Tga({33, 8, 0, 1, 1}, B({0})), kTgaKind},
        {Tga({0, 8, 0, 1, 1}, B({0})), kTgaKind},
        {Tga({1, 16, 0, 1, 1, 1, 0, 1, 24}, B({1, 2, 3, 0, 0})), kTgaKind},  // 16-bit indices
        {Tga({2, 40, 0, 1, 1}, B({1, 2, 3, 4, 5})), kTgaKind},
        {Tga({1, 8, 0, 1, 1, 1, 0, 1, 8}, B({1, 0})), kDamaged},   // one-byte map entries
        {Tga({1, 8, 0, 1, 1, 1, 0, 0, 24}, B({0})), kDamaged},     // empty map
        {Tga({1, 8, 0, 1, 1, 0, 0, 1, 24}, B({0})), kDamaged},     // map type says no map
        {Tga({1, 8, 0, 1, 1, 1, 5, 2, 24}, B({1, 2, 3, 4, 5, 6, 4})), kDamaged},  // index below the first
        {Tga({1, 8, 0, 1, 1, 1, 0, 2, 24}, B({1, 2, 3, 4, 5, 6, 2})), kDamaged},  // index past the map
        {Tga({1, 8, 0, 1, 1, 1, 0, 200, 24}, B({1, 2, 3})), kDamaged},            // map cut short
        {Tga({2, 24, 0, 2, 2}, B({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})), kDamaged},
        {Tga({10, 24, 0, 2, 1}, B({0x81, 1, 2})), kDamaged},
        {Tga({10, 24, 0, 3, 1}, B({0x81, 1, 2, 3})), kDamaged},
        {Tga({2, 24, 0, 0, 5}, ""), kImpossible},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(ErrorOf(images::DecodeTga, file), message) << testing::PrintToString(file);
}

// The conformance suite with its reference decodes. Our rule for 16-bit files ignores
// the attribute bit, so for those only the colours are compared.
TEST(TgaDecoder, AgreesWithTheConformanceSuiteAndImageMagick) {
    REQUIRE_TOOL("convert");
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus + "tga")) {
        std::string path = entry.path().string(), name = entry.path().filename().string();
        if (entry.path().extension() != ".tga") continue;
        std::string bytes = ReadFile(path);
        PixelBuffer ours = images::DecodeTga(bytes);
        std::string reference = kCorpus + "tga/reference-" + name.substr(name.find("tga-") + 4) + ".png";
        PixelBuffer theirs = MagickDecode(FileExists(reference) ? reference : "tga:" + path);
        if (theirs.bgra.empty() && name.find("unused-cmap") != std::string::npos) continue;  // ImageMagick refuses it
        ASSERT_FALSE(theirs.bgra.empty()) << name;
        if (bytes[16] == 16 || bytes[16] == 15 || (bytes[1] && bytes[7] <= 16)) {
            for (size_t i = 3; i < theirs.bgra.size(); i += 4) ours.bgra[i] = theirs.bgra[i] = 255;
        }
        bool narrowFields = name.find("rgb16-231") != std::string::npos;
        EXPECT_EQ(FirstDifference(ours, theirs, narrowFields ? 1 : 8), "") << name;
        ++compared;
    }
    EXPECT_GE(compared, 16);
}

TEST(TgaDecoder, ReadsWhatImageMagickWrites) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    PixelBuffer picture = PhotoLikeImage(37, 23, true, 5);
    for (std::string options : {"", "-compress RLE", "-orient TopLeft", "-type Grayscale", "-type Palette -compress RLE"}) {
        ASSERT_TRUE(MagickEncode(picture, "tga:" + dir.File("a.tga"), options)) << options;
        PixelBuffer ours = images::DecodeTga(ReadFile(dir.File("a.tga")));
        EXPECT_EQ(FirstDifference(ours, MagickDecode("tga:" + dir.File("a.tga"))), "") << options;
    }
}

// ---- Netpbm ----

TEST(NetpbmDecoder, ReadsEveryVariant) {
    ExpectDecodes(images::DecodeNetpbm, {
        {"P1: 0 is white, 1 is black", "P1\n2 1\n0 1\n", Pixels(2, 1, {255, 255, 255, 255, 0, 0, 0, 255})},
        {"P1: digits written together are pixels; comments anywhere", "P1 #size next\n3 # w\n1#h\n0#x\n11",
         Pixels(3, 1, {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255})},
        {"P2 with maximum 1000: 1200 is clamped to white", "P2 3 1 1000 0 500 1200",
         Pixels(3, 1, {0, 0, 0, 255, 127, 127, 127, 255, 255, 255, 255, 255})},
        {"P3", "P3\n1 2\n255\n255 0 10\n0 128 255\n", Pixels(1, 2, {10, 0, 255, 255, 255, 128, 0, 255})},
        {"P4: ten pixels need two bytes a row", "P4\n10 2\n" + B({0x80, 0x40, 0x7F, 0xC0}),
         [] {
             PixelBuffer p = SolidImage(10, 2, 255, 255, 255, 255);
             auto black = [&](int i) { std::fill_n(p.bgra.begin() + i * 4, 3, 0); };
             black(0), black(9);
             for (int i = 11; i < 20; ++i) black(i);
             return p;
         }()},
        {"P5 with maximum 1000 has big-endian 16-bit samples", "P5 2 1 1000\n" + B({0x01, 0xF4, 0x04, 0xB0}),
         Pixels(2, 1, {127, 127, 127, 255, 255, 255, 255, 255})},
        {"P6 with maximum 15 scales", "P6 1 1 15\n" + B({15, 0, 5}), Pixels(1, 1, {85, 0, 255, 255})},
        {"P7 DEPTH 2 is grey with alpha", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n" + B({9, 77}),
         Pixels(1, 1, {9, 9, 9, 77})},
        {"P7 RGBA with 16-bit samples, fields in any order",
         "P7\nMAXVAL 65535\nDEPTH 4\nHEIGHT 1\nWIDTH 1\nENDHDR\n" + B({0xFF, 0xFF, 0, 0, 0x80, 0x80, 0x12, 0x34}),
         Pixels(1, 1, {128, 0, 255, 18})},
    });
}

TEST(NetpbmDecoder, RejectsMalformedFilesWithTheirMessage) {
    const std::pair<std::string, std::string> cases[] = {
        {"P6", kDamaged},
        {"P8 1 1 255 abc", kDamaged},
        {"Q6 1 1 255 abc", kDamaged},
        {"P6 1 1 0\n" + B({1, 2, 3}), kDamaged},
        {"P6 1 1 65536\n" + B({1, 2, 3, 4, 5, 6}), kDamaged},
        {"P5 4294967296 1 255\n", kDamaged},  // ten digits past 32 bits
        {"P2 2 1 255 7", kDamaged},
        {"P2 2 1 255 7 x", kDamaged},
        {"P1 3 1 01", kDamaged},
        {"P4 9 2\n" + B({0, 0, 0}), kDamaged},
        {"P6 2 1 255\n" + B({1, 2, 3, 4, 5}), kDamaged},
        {"P5 1 1 1000\n" + B({1}), kDamaged},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n12345", kDamaged},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n", kDamaged},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nENDHDR\nMAXVAL 255\n1", kDamaged},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR", kDamaged},
        {"P6 0 1 255\n", kImpossible},
        {"P5 65536 1 255\n", kImpossible},
        {"P5 20000 20000 255\n", kImpossible},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(ErrorOf(images::DecodeNetpbm, file), message) << file;
}

TEST(NetpbmDecoder, ReadsWhatImageMagickWrites) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    PixelBuffer colour = PhotoLikeImage(13, 7, true, 3);
    const std::pair<std::string, std::string> cases[] = {
        {"ppm:", ""}, {"ppm:", "-compress none"}, {"ppm:", "-depth 16"}, {"ppm:", "-depth 16 -compress none"},
        {"pgm:", ""}, {"pgm:", "-depth 16 -compress none"}, {"pbm:", ""}, {"pbm:", "-compress none"},
        {"pam:", ""}, {"pam:", "-depth 16"}, {"pam:", "-type Grayscale"}, {"pam:", "-type GrayscaleAlpha"},
    };
    for (const auto& [format, options] : cases) {
        std::string path = format + dir.File("a");
        ASSERT_TRUE(MagickEncode(colour, path, options)) << format << options;
        PixelBuffer ours = images::DecodeNetpbm(ReadFile(dir.File("a")));
        EXPECT_EQ(FirstDifference(ours, MagickDecode(path)), "") << format << options;
    }
    std::string pbm = kCorpus + "pbm/images-pbm-images-issue-794.pbm";
    EXPECT_EQ(FirstDifference(images::DecodeNetpbm(ReadFile(pbm)), MagickDecode(pbm)), "");
}

// ---- QOI ----

std::string Qoi(uint32_t width, uint32_t height, uint8_t channels, const std::string& chunks) {
    return ByteBuilder().Text("qoif").U32BE(width).U32BE(height).U8(channels).U8(0).Text(chunks).Zeros(7).U8(1).bytes;
}

TEST(QoiDecoder, FollowsEveryChunkRule) {
    ExpectDecodes(images::DecodeQoi, {
        {"RGB, RGBA, INDEX, DIFF, LUMA and RUN",
         Qoi(7, 1, 4,
             B({0xFE, 10, 20, 30,          // RGB: alpha stays 255
                0xFF, 1, 2, 3, 128,        // RGBA
                0x40 | 3 << 4 | 0 << 2 | 2,  // DIFF +1 -2 +0
                0x80 | 40, 0x9F,           // LUMA dg +8, dr-dg +1, db-dg +7
                0x00 | ((10 * 3 + 20 * 5 + 30 * 7 + 255 * 11) % 64),  // INDEX of the first pixel
                0xC1})),                   // RUN of 2
         Pixels(7, 1, {30, 20, 10, 255, 3, 2, 1, 128, 3, 0, 2, 128, 18, 8, 11, 128, 30, 20, 10, 255,
                       30, 20, 10, 255, 30, 20, 10, 255})},
        {"the previous pixel starts opaque black, the index all zero; 3 channels decode opaque",
         Qoi(2, 1, 3, B({0xC0, 0x00})), Pixels(2, 1, {0, 0, 0, 255, 0, 0, 0, 0})},
        {"a run longer than the image stops at its end", Qoi(2, 1, 4, B({0xFD})),
         Pixels(2, 1, {0, 0, 0, 255, 0, 0, 0, 255})},
    });
}

TEST(QoiDecoder, RejectsMalformedFilesWithTheirMessage) {
    std::string good = Qoi(1, 1, 4, B({0xFE, 1, 2, 3}));
    const std::pair<std::string, std::string> cases[] = {
        {good.substr(0, 14), kDamaged},
        {good.substr(0, 21), kDamaged},
        {"qoix" + good.substr(4), kDamaged},
        {ByteBuilder().Text("qoif").U32BE(8).U32BE(1).U8(4).U8(0).bytes + B({0xFE, 1, 2, 3, 0xFE, 1, 2, 3}), kDamaged},
        {Qoi(3, 1, 4, B({0xFE, 1, 2, 3})).substr(0, 18) + std::string(4, '\xFF'), kDamaged},  // RGBA cut short
        {Qoi(0, 1, 4, ""), kImpossible},
        {Qoi(70000, 1, 4, ""), kImpossible},
        {Qoi(20000, 20000, 4, ""), kImpossible},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(ErrorOf(images::DecodeQoi, file), message);
}

PixelBuffer FromReferenceQoi(const std::string& file) {
    qoi_desc desc;
    void* rgba = qoi_decode(file.data(), static_cast<int>(file.size()), &desc, 4);
    if (!rgba) return {};
    PixelBuffer image = SolidImage(desc.width, desc.height, 0, 0, 0, 0);
    auto* p = static_cast<uint8_t*>(rgba);
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        image.bgra[i] = p[i + 2], image.bgra[i + 1] = p[i + 1], image.bgra[i + 2] = p[i], image.bgra[i + 3] = p[i + 3];
    }
    std::free(rgba);
    return image;
}

std::string ReferenceQoi(const PixelBuffer& image, uint8_t channels) {
    std::string rgba;
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        rgba += {static_cast<char>(image.bgra[i + 2]), static_cast<char>(image.bgra[i + 1]), static_cast<char>(image.bgra[i])};
        if (channels == 4) rgba += static_cast<char>(image.bgra[i + 3]);
    }
    qoi_desc desc{image.width, image.height, channels, QOI_SRGB};
    int length = 0;
    void* encoded = qoi_encode(rgba.data(), &desc, &length);
    std::string file(static_cast<char*>(encoded), static_cast<size_t>(length));
    std::free(encoded);
    return file;
}

// The reference QOI code, independent of ours, both ways: our decoder reads its files,
// and our encoder writes the very bytes it writes.
TEST(QoiCodec, MatchesTheReferenceImplementationBothWays) {
    const PixelBuffer pictures[] = {RandomImage(1, 1, true, 1), RandomImage(33, 17, true, 2),
                                    PhotoLikeImage(61, 40, true, 3), PhotoLikeImage(40, 9, false, 4),
                                    ScreenshotImage(130, 70, 5), SolidImage(200, 3, 9, 9, 9, 200)};
    for (const PixelBuffer& picture : pictures) {
        std::string reference = ReferenceQoi(picture, 4);
        EXPECT_EQ(FirstDifference(images::DecodeQoi(reference), picture), "") << picture.width;
        std::string ours = images::EncodeQoi(picture);
        EXPECT_EQ(ours, reference) << picture.width;
        EXPECT_EQ(FirstDifference(FromReferenceQoi(ours), picture), "") << picture.width;
    }
    PixelBuffer opaque = PhotoLikeImage(20, 20, false, 8);
    EXPECT_EQ(FirstDifference(images::DecodeQoi(ReferenceQoi(opaque, 3)), opaque), "");
}

// ---- BMP ----

std::string BmpFile(const std::string& dib, uint32_t paletteAndMasks) {
    return ByteBuilder().Text("BM").U32(static_cast<uint32_t>(14 + dib.size())).U32(0).U32(14 + 40 + paletteAndMasks).bytes + dib;
}
std::string InfoHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t colours = 0) {
    return ByteBuilder().U32(40).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height)).U16(1).U16(bits)
        .U32(compression).U32(0).U32(2835).U32(2835).U32(colours).U32(0).bytes;
}

TEST(BmpDecoder, ReadsPalettesRunLengthAndBitFields) {
    std::string twoColours = B({10, 20, 30, 0, 200, 210, 220, 0});
    ExpectDecodes(images::DecodeBmp, {
        {"1-bit, bottom-up, rows padded to four bytes",
         BmpFile(InfoHeader(3, 2, 1, 0, 2) + twoColours + B({0xA0, 0, 0, 0, 0x40, 0, 0, 0}), 8),
         Pixels(3, 2, {10, 20, 30, 255, 200, 210, 220, 255, 10, 20, 30, 255,
                       200, 210, 220, 255, 10, 20, 30, 255, 200, 210, 220, 255})},
        {"RLE8: a run, a delta over a transparent gap, an odd literal run with its pad byte",
         BmpFile(InfoHeader(4, 2, 8, 1, 2) + twoColours + B({2, 1, 0, 2, 1, 0, 0, 0, 0, 3, 0, 1, 0, 0, 0, 1}), 8),
         Pixels(4, 2, {10, 20, 30, 255, 200, 210, 220, 255, 10, 20, 30, 255, 0, 0, 0, 0,
                       200, 210, 220, 255, 200, 210, 220, 255, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"RLE4: nibbles alternate; a run past the row end is dropped",
         BmpFile(InfoHeader(3, 1, 4, 2, 2) + twoColours + B({5, 0x01, 0, 1}), 8),
         Pixels(3, 1, {10, 20, 30, 255, 200, 210, 220, 255, 10, 20, 30, 255})},
        {"16-bit 5-6-5 bit fields, top-down",
         BmpFile(InfoHeader(2, -1, 16, 3) + ByteBuilder().U32(0xF800).U32(0x07E0).U32(0x001F).bytes + B({0x1F, 0xF8, 0xE0, 0x07}), 12),
         Pixels(2, 1, {255, 0, 255, 255, 0, 255, 0, 255})},
        {"32-bit plain RGB ignores the fourth byte",
         BmpFile(InfoHeader(1, 1, 32, 0) + B({1, 2, 3, 0}), 0), Pixels(1, 1, {1, 2, 3, 255})},
        {"24-bit", BmpFile(InfoHeader(1, 1, 24, 0) + B({1, 2, 3, 0}), 0), Pixels(1, 1, {1, 2, 3, 255})},
        {"2-bit, four entries", BmpFile(InfoHeader(5, 1, 2, 0, 4) + twoColours + B({1, 1, 1, 0, 9, 9, 9, 0}) + B({0x1B, 0x40, 0, 0}), 16),
         Pixels(5, 1, {10, 20, 30, 255, 200, 210, 220, 255, 1, 1, 1, 255, 9, 9, 9, 255, 200, 210, 220, 255})},
        {"8-bit index past the palette is black", BmpFile(InfoHeader(1, 1, 8, 0, 2) + twoColours + B({7, 0, 0, 0}), 8),
         Pixels(1, 1, {0, 0, 0, 255})},
    });
}

TEST(BmpDecoder, RejectsMalformedAndUnsupportedFilesWithTheirMessage) {
    const std::pair<std::string, std::string> cases[] = {
        {"BA" + BmpFile(InfoHeader(1, 1, 24, 0) + B({1, 2, 3, 0}), 0).substr(2), kDamaged},
        {BmpFile(InfoHeader(1, 1, 24, 0), 0).substr(0, 30), kDamaged},
        {BmpFile(InfoHeader(2, 2, 24, 0) + B({1, 2, 3, 4, 5, 6, 0, 0}), 0), kDamaged},
        {BmpFile(InfoHeader(1, 1, 24, 4) + B({1, 2, 3, 0}), 0), kCantOpen},   // JPEG inside
        {BmpFile(InfoHeader(1, 1, 0, 5) + B({1, 2, 3, 0}), 0), kCantOpen},    // PNG inside
        {BmpFile(InfoHeader(1, 1, 7, 0) + B({1, 2, 3, 0}), 0), kDamaged},
        {BmpFile(InfoHeader(1, 1, 24, 1) + B({1, 2, 3, 0}), 0), kDamaged},    // RLE8 needs 8 bits
        {BmpFile(InfoHeader(1, 1, 16, 3) + ByteBuilder().U32(0xF00F).U32(0).U32(0).bytes + B({1, 2, 0, 0}), 12), kDamaged},
        {BmpFile(InfoHeader(2, 2, 8, 1, 2) + B({0, 0, 0, 0, 0, 0, 0, 0}) + B({2, 1}), 8), kDamaged},  // RLE ends early
        {BmpFile(InfoHeader(0, 1, 24, 0) + B({1, 2, 3, 0}), 0), kImpossible},
        {BmpFile(InfoHeader(-5, 1, 24, 0) + B({1, 2, 3, 0}), 0), kImpossible},
        {BmpFile(InfoHeader(1, INT32_MIN, 24, 0) + B({1, 2, 3, 0}), 0), kImpossible},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(ErrorOf(images::DecodeBmp, file), message);
    const std::pair<std::string, std::string> corpus[] = {
        {"Bad_badbitcount", kDamaged}, {"Bad_clrsUsed", kDamaged}, {"Bad_height", kImpossible},
        {"Bad_reallybig", kImpossible}, {"Bad_shortfile", kDamaged}, {"Bad_unusual_extend_buffer_usage", kDamaged},
        {"Bad_width", kImpossible},
    };
    for (const auto& [name, message] : corpus)
        EXPECT_EQ(ErrorOf(images::DecodeBmp, ReadFile(kCorpus + "malformed/bad-bmp-" + name + ".bmp")), message) << name;
}

// Where ImageMagick's choices differ from ours, the test says so: pixels that run-length
// data skips are transparent for us (ImageMagick paints them); an alpha field that is zero
// everywhere means an opaque image to us (ImageMagick shows nothing); we honour a V5
// header's alpha mask on plain 32-bit RGB (ImageMagick ignores it); ImageMagick widens
// fields narrower than 5 bits by shifting alone (a set 1-bit red is 128 to it, 255 to us)
// and truncates wider ones, so those files agree in their fields' top bits, and the one
// with a 9-bit field is left out. Files ImageMagick can't read go to Pillow, and the two
// neither reads must show the suite's picture as its plainer files do (the RLE24 one with
// its colours coarsened for compression, so only close).
TEST(BmpDecoder, AgreesWithImageMagickOnTheBmpSuite) {
    REQUIRE_TOOL("convert");
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus + "bmp")) {
        std::string path = entry.path().string(), name = entry.path().filename().string();
        auto named = [&](const char* part) { return name.find(part) != std::string::npos; };
        PixelBuffer ours = images::DecodeBmp(ReadFile(path));
        PixelBuffer theirs = MagickDecode("bmp:" + path);
        if (theirs.bgra.empty()) theirs = PillowDecode(path);
        if (named("rle24")) {
            EXPECT_LE(MaxChannelDifference(ours, images::DecodeBmp(ReadFile(kCorpus + "bmp/images-bmp-images-rgb32.bmp"))), 56);
            ++compared;
            continue;
        }
        if (named("oversizepal")) theirs = images::DecodeBmp(ReadFile(kCorpus + "bmp/images-bmp-images-pal8v4.bmp"));
        if (theirs.bgra.empty() || named("rgba16-1924") || named("_Rgb")) continue;
        bool noAlpha = true;
        for (size_t i = 3; i < theirs.bgra.size(); i += 4) noAlpha &= theirs.bgra[i] == 0;
        for (size_t i = 3; i < ours.bgra.size() && i < theirs.bgra.size(); i += 4) {
            if (noAlpha) theirs.bgra[i] = 255;
            if (ours.bgra[i] == 0 && named("rle")) std::fill_n(theirs.bgra.begin() + static_cast<long>(i) - 3, 4, 0);
        }
        int topBits = named("rgb16-231") ? 1 : named("4_G4_B4") ? 4 : 8;
        EXPECT_EQ(FirstDifference(ours, theirs, topBits), "") << name;
        ++compared;
    }
    EXPECT_GE(compared, 28);
}

// ImageMagick widens 4-bit and 1-bit fields by shifting; compare what those fields hold.
int TopBitsAgreed(const std::string& options) {
    return options.find("4444") != std::string::npos ? 4 : options.find("1555") != std::string::npos ? 1 : 8;
}

TEST(BmpDecoder, ReadsWhatImageMagickWrites) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    PixelBuffer picture = PhotoLikeImage(29, 11, true, 9);
    for (std::string options : {"", "-alpha off", "-define bmp:format=bmp3", "-define bmp:format=bmp2",
                                "-type Palette", "-type Palette -compress RLE", "-colors 12 -type Palette -compress RLE",
                                "-type Bilevel", "-define bmp:subtype=RGB565", "-define bmp:subtype=ARGB4444",
                                "-define bmp:subtype=RGB555", "-define bmp:subtype=ARGB1555"}) {
        std::string path = "bmp:" + dir.File("a.bmp");
        ASSERT_TRUE(MagickEncode(picture, path, options)) << options;
        PixelBuffer ours = images::DecodeBmp(ReadFile(dir.File("a.bmp")));
        EXPECT_EQ(FirstDifference(ours, MagickDecode(path), TopBitsAgreed(options)), "") << options;
    }
}

// ---- ICO ----

std::string IconFile(uint16_t type, const std::string& entry) {
    return ByteBuilder().U16(0).U16(type).U16(1).U8(2).U8(2).U8(0).U8(0).U16(1).U16(1).U32(static_cast<uint32_t>(entry.size())).U32(22).bytes + entry;
}

TEST(IconReader, DecodesBitmapEntriesWithTheirMaskAndHandsOverPng) {
    // 2 x 2, 1-bit: colour rows then mask rows, both bottom-up; the mask's set bit is transparent.
    std::string dib = InfoHeader(2, 4, 1, 0, 2) + B({0, 0, 255, 0, 0, 255, 0, 0}) +
                      B({0x40, 0, 0, 0, 0x80, 0, 0, 0}) + B({0x80, 0, 0, 0, 0x00, 0, 0, 0});
    images::IconImage icon = images::FirstIconImage(IconFile(1, dib));
    ASSERT_FALSE(icon.isPng);
    EXPECT_EQ(FirstDifference(icon.pixels, Pixels(2, 2, {0, 255, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 0, 255})), "");

    // 32-bit with alpha ignores the mask; with alpha all zero it takes the mask.
    std::string withAlpha = InfoHeader(1, 2, 32, 0) + B({1, 2, 3, 128}) + B({0x80, 0, 0, 0});
    EXPECT_EQ(FirstDifference(images::FirstIconImage(IconFile(1, withAlpha)).pixels, Pixels(1, 1, {1, 2, 3, 128})), "");
    std::string zeroAlpha = InfoHeader(1, 2, 32, 0) + B({1, 2, 3, 0}) + B({0x00, 0, 0, 0});
    EXPECT_EQ(FirstDifference(images::FirstIconImage(IconFile(2, zeroAlpha)).pixels, Pixels(1, 1, {1, 2, 3, 255})), "");

    images::IconImage png = images::FirstIconImage(IconFile(1, "\x89PNG\r\n\x1a\nrest"));
    EXPECT_TRUE(png.isPng);
    EXPECT_EQ(png.png, "\x89PNG\r\n\x1a\nrest");

    auto decode = [](std::string_view file) { return images::FirstIconImage(file).pixels; };
    const std::pair<std::string, std::string> cases[] = {
        {IconFile(3, dib), kDamaged},
        {IconFile(1, dib).substr(0, 20), kDamaged},
        {IconFile(1, dib).substr(0, 40), kDamaged},               // entry runs past the end
        {IconFile(1, dib.substr(0, dib.size() - 4)), kDamaged},   // mask cut short
        {IconFile(1, InfoHeader(2, 1, 1, 0, 2) + B({0, 0, 0, 0, 0, 0, 0, 0})), kImpossible},
        {ReadFile(kCorpus + "malformed/bad-ico-Bad_smile-incorrect-image-length.ico"), kDamaged},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(ErrorOf(decode, file), message);
}

TEST(IconReader, AgreesWithImageMagickOnRealIcons) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus + "ico")) {
        std::string path = entry.path().string(), name = entry.path().filename().string();
        images::IconImage icon = images::FirstIconImage(ReadFile(path));
        if (icon.isPng) {
            WriteFile(dir.File("entry.png"), icon.png);
            EXPECT_FALSE(MagickDecode("png:" + dir.File("entry.png")).bgra.empty()) << name;
            continue;
        }
        EXPECT_EQ(FirstDifference(icon.pixels, MagickDecode("ico:" + path)), "") << name;
    }
    for (std::string options : {"", "-alpha off", "-colors 16 -type Palette"}) {
        ASSERT_TRUE(MagickEncode(PhotoLikeImage(32, 32, true, 4), "ico:" + dir.File("a.ico"), options));
        images::IconImage icon = images::FirstIconImage(ReadFile(dir.File("a.ico")));
        ASSERT_FALSE(icon.isPng) << options;
        EXPECT_EQ(FirstDifference(icon.pixels, MagickDecode("ico:" + dir.File("a.ico"))), "") << options;
    }
}

// ---- DDS ----

std::string DdsHeader(uint32_t width, uint32_t height, uint32_t pfFlags, uint32_t fourCc, uint32_t bits,
                      std::array<uint32_t, 4> masks) {
    ByteBuilder b;
    b.Text("DDS ").U32(124).U32(0x100F).U32(height).U32(width).U32(0).U32(0).U32(1).Zeros(44);
    b.U32(32).U32(pfFlags).U32(fourCc).U32(bits);
    for (uint32_t m : masks) b.U32(m);
    b.U32(0x1000).Zeros(16);
    return b.bytes;
}
uint32_t Four(const char* t) { return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 | uint32_t(uint8_t(t[3])) << 24; }

TEST(DdsDecoder, DecodesBlockAndUncompressedFormats) {
    // BC1 endpoints red (0xF800) and blue (0x001F); index rows 0,1,2,3 across each texel row.
    std::string bc1Four = B({0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4});
    std::string bc1Three = B({0x1F, 0x00, 0x00, 0xF8, 0xE4, 0xE4, 0xE4, 0xE4});  // c0 < c1: three colours + transparent
    auto row = [](std::initializer_list<uint8_t> px) { return std::vector<uint8_t>(px); };
    ExpectDecodes(images::DecodeDds, {
        {"BC1 four colours, cropped to 2 x 1", DdsHeader(2, 1, 4, Four("DXT1"), 0, {}) + bc1Four,
         Pixels(2, 1, {0, 0, 255, 255, 255, 0, 0, 255})},
        {"BC1 three colours and transparent black", DdsHeader(4, 1, 4, Four("DXT1"), 0, {}) + bc1Three,
         Pixels(4, 1, {255, 0, 0, 255, 0, 0, 255, 255, 128, 0, 128, 255, 0, 0, 0, 0})},
        {"BC1 equal endpoints are three-colour: index 3 is transparent", DdsHeader(2, 1, 4, Four("DXT1"), 0, {}) + B({0x1F, 0, 0x1F, 0, 0x0C, 0, 0, 0}),
         Pixels(2, 1, {255, 0, 0, 255, 0, 0, 0, 0})},
        {"BC2: explicit 4-bit alpha, always four colours", DdsHeader(4, 1, 4, Four("DXT3"), 0, {}) + B({0x0F, 0xF0, 0, 0, 0, 0, 0, 0}) + bc1Three,
         Pixels(4, 1, {255, 0, 0, 255, 0, 0, 255, 0, 170, 0, 85, 0, 85, 0, 170, 255})},
        {"BC3: interpolated alpha, eight-value mode", DdsHeader(4, 1, 4, Four("DXT5"), 0, {}) +
             B({255, 0, 0 | 1 << 3 | 2 << 6, 2 >> 2 | 7 << 1, 0, 0, 0, 0}) + bc1Four,
         Pixels(4, 1, {0, 0, 255, 255, 255, 0, 0, 0, 85, 0, 170, 219, 170, 0, 85, 36})},
        {"BC3: six-value mode has 0 and 255", DdsHeader(2, 1, 4, Four("DXT5"), 0, {}) +
             B({10, 20, 6 | 7 << 3, 0, 0, 0, 0, 0}) + bc1Four,
         Pixels(2, 1, {0, 0, 255, 0, 255, 0, 0, 255})},
        {"uncompressed A8R8G8B8 masks", DdsHeader(1, 1, 0x41, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}) + B({1, 2, 3, 4}),
         Pixels(1, 1, {1, 2, 3, 4})},
        {"X8B8G8R8 without the alpha flag is opaque", DdsHeader(1, 1, 0x40, 0, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}) + B({1, 2, 3, 4}),
         Pixels(1, 1, {3, 2, 1, 255})},
        {"R5G6B5", DdsHeader(1, 1, 0x40, 0, 16, {0xF800, 0x07E0, 0x1F, 0}) + B({0x1F, 0x00}), Pixels(1, 1, {255, 0, 0, 255})},
        {"24-bit R8G8B8", DdsHeader(2, 1, 0x40, 0, 24, {0xFF0000, 0xFF00, 0xFF, 0}) + B({1, 2, 3, 4, 5, 6}),
         Pixels(2, 1, {1, 2, 3, 255, 4, 5, 6, 255})},
        {"luminance with alpha (A8L8)", DdsHeader(1, 1, 0x20001, 0, 16, {0xFF, 0, 0, 0xFF00}) + B({77, 9}), Pixels(1, 1, {77, 77, 77, 9})},
        {"alpha only (A8)", DdsHeader(1, 1, 0x2, 0, 8, {0, 0, 0, 0xFF}) + B({33}), Pixels(1, 1, {0, 0, 0, 33})},
        {"DX10 R8G8B8A8", DdsHeader(1, 1, 4, Four("DX10"), 0, {}) + ByteBuilder().U32(28).U32(3).U32(0).U32(1).U32(0).bytes + B({1, 2, 3, 4}),
         Pixels(1, 1, {3, 2, 1, 4})},
        {"DX10 BC1 sRGB", DdsHeader(1, 1, 4, Four("DX10"), 0, {}) + ByteBuilder().U32(72).U32(3).U32(0).U32(1).U32(0).bytes + bc1Four,
         Pixels(1, 1, {0, 0, 255, 255})},
    });
    (void)row;
}

TEST(DdsDecoder, RejectsMalformedAndUnsupportedFilesWithTheirMessage) {
    std::string bc1 = DdsHeader(8, 8, 4, Four("DXT1"), 0, {});
    const std::pair<std::string, std::string> cases[] = {
        {"DDS", kDamaged},
        {"XDS " + bc1.substr(4) + std::string(32, '\0'), kDamaged},
        {bc1 + std::string(31, '\0'), kDamaged},
        {bc1.substr(0, 100), kDamaged},
        {DdsHeader(1, 1, 4, Four("ATI2"), 0, {}) + std::string(16, '\0'), kCantOpen},
        {DdsHeader(1, 1, 4, Four("DX10"), 0, {}) + ByteBuilder().U32(98).U32(3).U32(0).U32(1).U32(0).bytes + std::string(16, '\0'), kCantOpen},
        {DdsHeader(1, 1, 4, Four("DX10"), 0, {}), kDamaged},
        {DdsHeader(1, 1, 0x40, 0, 12, {0xF00, 0xF0, 0xF, 0}) + B({1, 2}), kDamaged},
        {DdsHeader(0, 1, 4, Four("DXT1"), 0, {}) + std::string(8, '\0'), kImpossible},
        {DdsHeader(70000, 1, 4, Four("DXT1"), 0, {}), kImpossible},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(ErrorOf(images::DecodeDds, file), message);
}

// Block compression is lossy, so both decoders read the same ImageMagick file; endpoint
// interpolation may round one step apart.
TEST(DdsDecoder, AgreesWithImageMagickOnItsFiles) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    const std::pair<std::string, int> cases[] = {{"-define dds:compression=none", 0}, {"-define dds:compression=dxt1", 1},
                                                 {"-define dds:compression=dxt5", 1}, {"-define dds:compression=dxt3", 1},
                                                 {"-alpha off -define dds:compression=none", 0}};
    for (const auto& [options, tolerance] : cases) {
        PixelBuffer picture = PhotoLikeImage(19, 13, options.find("alpha off") == std::string::npos, 6);
        ASSERT_TRUE(MagickEncode(picture, "dds:" + dir.File("a.dds"), "-define dds:mipmaps=0 " + options)) << options;
        PixelBuffer ours = images::DecodeDds(ReadFile(dir.File("a.dds")));
        EXPECT_LE(MaxChannelDifference(ours, MagickDecode("dds:" + dir.File("a.dds"))), tolerance) << options;
    }
}

// ---- EXIF ----

std::string ExifBlock(bool big, uint16_t tag, uint16_t type, uint32_t count, uint16_t value) {
    ByteBuilder b;
    auto u16 = [&](uint32_t v) { big ? b.U16BE(v) : b.U16(v); };
    auto u32 = [&](uint32_t v) { big ? b.U32BE(v) : b.U32(v); };
    b.Text(big ? "MM" : "II");
    u16(42), u32(8), u16(2);
    u16(0x010F), u16(2), u32(4), u32(0);  // an entry before ours
    u16(tag), u16(type), u32(count), u16(value), u16(0);
    u32(0);
    return b.bytes;
}

TEST(ExifReader, ReadsOrientationFromBlocksAndContainers) {
    for (bool big : {false, true})
        for (uint16_t value = 1; value <= 8; ++value) EXPECT_EQ(images::ExifOrientation(ExifBlock(big, 0x0112, 3, 1, value)), value);
    std::string good = ExifBlock(true, 0x0112, 3, 1, 6);
    const std::pair<std::string, int> blocks[] = {
        {ExifBlock(false, 0x0112, 4, 1, 6), 1},   // LONG, not SHORT
        {ExifBlock(false, 0x0112, 3, 0, 6), 1},
        {ExifBlock(false, 0x0112, 3, 1, 9), 1},
        {ExifBlock(false, 0x0112, 3, 1, 0), 1},
        {ExifBlock(false, 0x0113, 3, 1, 6), 1},
        {good.substr(0, good.size() - 10), 1},    // entry cut short
        {"MM\0*" + ByteBuilder().U32BE(9999).bytes, 1},
        {"XX" + good.substr(2), 1},
        {"", 1},
    };
    for (const auto& [block, want] : blocks) EXPECT_EQ(images::ExifOrientation(block), want);

    std::string app1 = "Exif" + std::string(2, '\0') + good;
    std::string jpeg = "\xFF\xD8" + ByteBuilder().U8(0xFF).U8(0xE0).U16BE(6).Text("JFIF").bytes +
                       ByteBuilder().U8(0xFF).U8(0xE1).U16BE(static_cast<uint32_t>(app1.size() + 2)).Text(app1).bytes + "\xFF\xDA";
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + ByteBuilder().U32BE(0).Text("IHDR").U32(0).bytes +
                      ByteBuilder().U32BE(static_cast<uint32_t>(good.size())).Text("eXIf").Text(good).U32(0).bytes;
    auto webp = [](const std::string& payload) {
        std::string chunks = ByteBuilder().Text("VP8X").U32(10).Zeros(10).bytes +
                             ByteBuilder().Text("EXIF").U32(static_cast<uint32_t>(payload.size())).Text(payload).bytes;
        if (payload.size() % 2) chunks += '\0';
        return ByteBuilder().Text("RIFF").U32(static_cast<uint32_t>(chunks.size() + 4)).Text("WEBP").bytes + chunks;
    };
    const std::pair<std::string, int> files[] = {
        {jpeg, 6}, {jpeg.substr(0, 30), 1}, {good, 6}, {png, 6}, {png.substr(0, png.size() - 5), 1},
        {webp(good), 6}, {webp(app1), 6}, {"GIF89a", 1},
    };
    for (const auto& [file, want] : files) EXPECT_EQ(images::FileExifOrientation(file), want) << testing::PrintToString(file.substr(0, 12));

    for (int n = 0; n <= 8; ++n)  // Landscape_0 has no orientation tag
        EXPECT_EQ(images::FileExifOrientation(ReadFile(kCorpus + "orientation/Landscape_" + std::to_string(n) + ".jpg")), n == 0 ? 1 : n);
}

}  // namespace
