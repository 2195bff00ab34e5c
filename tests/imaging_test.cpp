// The imaging layer on its own: pixel-format conversions, the flip-rotator, the
// flatten-onto-white source, content sniffing, and the header checks every decoder makes
// before it allocates (impossible sizes, decompression bombs against the RAM limit).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "convert/core/errors.h"
#include "convert/images/image_encode.h"
#include "convert/images/on_white_source.h"
#include "platform/imaging/decoders.h"
#include "platform/imaging/encoders.h"

using namespace imaging;

namespace {

std::vector<uint8_t> Convert(PixelFormat from, std::vector<uint8_t> source, PixelFormat to,
                             std::vector<uint32_t> palette = {}) {
    size_t count = source.size() / BytesPerPixel(from);
    std::vector<uint8_t> out(count * BytesPerPixel(to));
    EXPECT_TRUE(ConvertRow(from, palette, source.data(), to, out.data(), count));
    return out;
}

template <typename T>
std::vector<uint8_t> Bytes(std::initializer_list<T> values) {
    std::vector<uint8_t> out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

std::shared_ptr<Bitmap> MakeBitmap(uint32_t width, uint32_t height, PixelFormat format, std::vector<uint8_t> pixels) {
    auto bitmap = std::make_shared<Bitmap>(width, height, format);
    EXPECT_EQ(bitmap->Pixels().size(), pixels.size());
    bitmap->Pixels() = std::move(pixels);
    return bitmap;
}

std::vector<uint8_t> ReadAll(BitmapSource& source) {
    std::vector<uint8_t> out(static_cast<size_t>(source.Width()) * source.Height() * BytesPerPixel(source.Format()));
    EXPECT_EQ(source.CopyPixels(nullptr, source.Width() * BytesPerPixel(source.Format()), out.size(), out.data()), S_OK);
    return out;
}

HRESULT DecodeStatus(std::string_view bytes, const DecodeOptions& options, std::string& message,
                     DecodedFrame* decoded = nullptr) {
    DecodedFrame frame;
    try {
        return DecodeFirstFrame(bytes, options, decoded ? *decoded : frame);
    } catch (const ConvertError& error) {
        message = error.message;
        return E_FAIL;
    }
}

void PutU32BE(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendChunk(std::string& png, const char* type, const std::string& data) {
    PutU32BE(png, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    PutU32BE(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// An 8-bit grey PNG of the given size whose pixels are all 0, compressed with zlib: a
// large image in a small file, the shape of a decompression bomb.
std::string GreyPng(uint32_t width, uint32_t height, bool withData) {
    std::string png("\x89PNG\r\n\x1A\n", 8), header;
    PutU32BE(header, width);
    PutU32BE(header, height);
    header += std::string("\x08\x00\x00\x00\x00", 5);  // depth 8, grey, deflate, filter 0, no interlace
    AppendChunk(png, "IHDR", header);
    if (withData) {
        std::string raw(static_cast<size_t>(width + 1) * height, '\0');
        uLongf size = compressBound(static_cast<uLong>(raw.size()));
        std::string packed(size, '\0');
        compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), 9);
        packed.resize(size);
        AppendChunk(png, "IDAT", packed);
    }
    AppendChunk(png, "IEND", "");
    return png;
}

}  // namespace

TEST(PixelFormats, RowConversionsMatchTheirDefinitions) {
    struct Case {
        const char* name;
        PixelFormat from;
        std::vector<uint8_t> source;
        PixelFormat to;
        std::vector<uint8_t> expected;
        std::vector<uint32_t> palette;
    };
    const Case cases[] = {
        {"premultiply rounds to nearest", PixelFormat::kBgra32, {200, 100, 51, 128, 9, 9, 9, 0}, PixelFormat::kPbgra32,
         {100, 50, 26, 128, 0, 0, 0, 0}, {}},
        {"unpremultiply", PixelFormat::kPbgra32, {100, 50, 26, 128, 5, 5, 5, 0}, PixelFormat::kBgra32,
         {199, 100, 52, 128, 0, 0, 0, 0}, {}},
        {"BGR gains opaque alpha", PixelFormat::kBgr24, {1, 2, 3}, PixelFormat::kBgra32, {1, 2, 3, 255}, {}},
        {"alpha dropped to BGR", PixelFormat::kBgra32, {1, 2, 3, 4}, PixelFormat::kBgr24, {1, 2, 3}, {}},
        {"grey spreads to three channels", PixelFormat::kGray8, {77}, PixelFormat::kBgra32, {77, 77, 77, 255}, {}},
        {"luma of BT.601", PixelFormat::kBgra32, {0, 0, 255, 255, 255, 0, 0, 255}, PixelFormat::kGray8, {77, 29}, {}},
        {"16-bit grey rounds to 8", PixelFormat::kGray16, Bytes<uint16_t>({0x8080, 0x807F}), PixelFormat::kBgr24,
         {128, 128, 128, 128, 128, 128}, {}},
        {"RGB48 swaps to BGR", PixelFormat::kRgb48, Bytes<uint16_t>({65535, 0, 257}), PixelFormat::kBgr24, {1, 0, 255}, {}},
        {"8-bit widens by 257", PixelFormat::kBgra32, {1, 2, 3, 255}, PixelFormat::kRgba64,
         Bytes<uint16_t>({771, 514, 257, 65535}), {}},
        {"CMYK no ink is white, full K black", PixelFormat::kCmyk32, {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0},
         PixelFormat::kBgr24, {255, 255, 255, 0, 0, 0, 255, 255, 0}, {}},
        {"palette lookup, out of range transparent", PixelFormat::kIndexed8, {1, 7}, PixelFormat::kBgra32,
         {0x33, 0x22, 0x11, 0x80, 0, 0, 0, 0}, {0xFF000000u, 0x80112233u}},
        {"half 1.0 and linear 0.5 in sRGB", PixelFormat::kRgbaHalf, Bytes<uint16_t>({0x3C00, 0x3800, 0, 0x3C00}),
         PixelFormat::kBgra32, {0, 188, 255, 255}, {}},
        {"float out of range clamps", PixelFormat::kRgbaFloat, Bytes<float>({-1.0f, 2.0f, 0.0f, 0.25f}),
         PixelFormat::kBgra32, {0, 255, 0, 64}, {}},
        {"white through scRGB float and back", PixelFormat::kBgr24, {255, 255, 255}, PixelFormat::kRgbaFloat,
         Bytes<float>({1.0f, 1.0f, 1.0f, 1.0f}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Convert(c.from, c.source, c.to, c.palette), c.expected);
    }
    uint8_t index = 0, out = 0;
    EXPECT_FALSE(ConvertRow(PixelFormat::kBgra32, {}, &index, PixelFormat::kIndexed8, &out, 0));
}

TEST(PixelFormats, TransparencyPerFormat) {
    for (PixelFormat format : {PixelFormat::kBgra32, PixelFormat::kPbgra32, PixelFormat::kIndexed8, PixelFormat::kRgba64,
                               PixelFormat::kRgbaHalf, PixelFormat::kRgbaFloat})
        EXPECT_TRUE(SupportsTransparency(format));
    for (PixelFormat format : {PixelFormat::kBgr24, PixelFormat::kGray8, PixelFormat::kGray16, PixelFormat::kRgb48,
                               PixelFormat::kCmyk32})
        EXPECT_FALSE(SupportsTransparency(format));
}

// A 3 x 2 image of pixels 'a'..'f' (one grey byte each) turned by every orientation:
//   a b c
//   d e f
TEST(FlipRotator, EveryOrientationTurnsTheStoredImageUpright) {
    struct Case {
        int orientation;
        uint32_t width, height;
        const char* expected;  // rows top-down
    };
    const Case cases[] = {
        {1, 3, 2, "abcdef"}, {2, 3, 2, "cbafed"}, {3, 3, 2, "fedcba"}, {4, 3, 2, "defabc"},
        {5, 2, 3, "adbecf"}, {6, 2, 3, "daebfc"}, {7, 2, 3, "fcebda"}, {8, 2, 3, "cfbead"},
        {0, 3, 2, "abcdef"}, {9, 3, 2, "abcdef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        auto stored = MakeBitmap(3, 2, PixelFormat::kGray8, {'a', 'b', 'c', 'd', 'e', 'f'});
        SourcePtr turned = OrientSource(stored, c.orientation);
        ASSERT_EQ(turned->Width(), c.width);
        ASSERT_EQ(turned->Height(), c.height);
        std::vector<uint8_t> pixels = ReadAll(*turned);
        EXPECT_EQ(std::string(pixels.begin(), pixels.end()), c.expected);
        // A sub-rectangle reads the same pixels as the whole.
        uint8_t corner = 0;
        Rect last{static_cast<int32_t>(c.width) - 1, static_cast<int32_t>(c.height) - 1, 1, 1};
        EXPECT_EQ(turned->CopyPixels(&last, 1, 1, &corner), S_OK);
        EXPECT_EQ(corner, static_cast<uint8_t>(c.expected[5]));
    }
}

TEST(OnWhiteSource, ChannelPlusWhiteMinusAlphaAndTheCopyRules) {
    // Premultiplied: transparent, half-covered red, opaque blue, and a channel above its alpha.
    auto inner = MakeBitmap(4, 1, PixelFormat::kPbgra32, {0, 0, 0, 0, 0, 0, 128, 128, 200, 0, 0, 255, 90, 0, 0, 40});
    images::OnWhiteSource white(inner);
    EXPECT_EQ(white.Format(), PixelFormat::kBgr24);
    std::vector<uint8_t> out(12, 7);
    ASSERT_EQ(white.CopyPixels(nullptr, 12, out.size(), out.data()), S_OK);
    EXPECT_EQ(out, (std::vector<uint8_t>{255, 255, 255, 127, 127, 255, 200, 0, 0, 255, 215, 215}));

    Rect empty{0, 0, 0, 1};
    EXPECT_EQ(white.CopyPixels(&empty, 0, 0, nullptr), S_OK);
    EXPECT_EQ(white.CopyPixels(nullptr, 12, 11, out.data()), E_INVALIDARG);
    std::vector<uint32_t> palette;
    EXPECT_EQ(white.CopyPalette(palette), kPaletteUnavailable);

    // The inner source's failure comes back unchanged.
    struct Failing final : BitmapSource {
        uint32_t Width() const override { return 2; }
        uint32_t Height() const override { return 2; }
        Resolution GetResolution() const override { return {}; }
        PixelFormat Format() const override { return PixelFormat::kPbgra32; }
        HRESULT CopyPixels(const Rect*, uint32_t, size_t, uint8_t*) override { return kBadImage; }
    };
    images::OnWhiteSource failing(std::make_shared<Failing>());
    EXPECT_EQ(failing.CopyPixels(nullptr, 6, 12, out.data()), kBadImage);
}

TEST(OnWhiteSource, FlattenKeepsOpaqueSourcesAndWhitensTransparentOnes) {
    auto grey = MakeBitmap(1, 1, PixelFormat::kGray8, {40});
    SourcePtr flat = images::FlattenOntoWhite(grey);
    EXPECT_EQ(flat->Format(), PixelFormat::kBgr24);
    EXPECT_EQ(ReadAll(*flat), (std::vector<uint8_t>{40, 40, 40}));
    auto clear = MakeBitmap(2, 1, PixelFormat::kBgra32, {10, 20, 30, 0, 10, 20, 30, 255});
    EXPECT_EQ(ReadAll(*images::FlattenOntoWhite(clear)), (std::vector<uint8_t>{255, 255, 255, 10, 20, 30}));
}

TEST(BitmapSource, CopyChecksTheRectangleAndBuffer) {
    auto bitmap = MakeBitmap(3, 2, PixelFormat::kBgr24, std::vector<uint8_t>(18, 1));
    std::vector<uint8_t> out(18);
    struct Case {
        Rect rect;
        uint32_t stride;
        size_t size;
        HRESULT expected;
    };
    const Case cases[] = {
        {{0, 0, 3, 2}, 9, 18, S_OK},           {{0, 0, 3, 2}, 8, 18, E_INVALIDARG},
        {{0, 0, 3, 2}, 9, 17, E_INVALIDARG},   {{1, 1, 2, 1}, 6, 6, S_OK},
        {{2, 0, 2, 1}, 6, 6, E_INVALIDARG},    {{-1, 0, 1, 1}, 3, 3, E_INVALIDARG},
        {{0, 0, 0, 5}, 0, 0, S_OK},            {{0, 1, 3, 2}, 9, 18, E_INVALIDARG},
    };
    for (const Case& c : cases) EXPECT_EQ(bitmap->CopyPixels(&c.rect, c.stride, c.size, out.data()), c.expected);
}

TEST(Decoders, ContainerIsChosenByContent) {
    using namespace std::string_view_literals;
    struct Case {
        std::string_view bytes;
        Container expected;
    };
    const Case cases[] = {
        {"\xFF\xD8\xFF\xE0"sv, Container::kJpeg},
        {"\x89PNG\r\n\x1A\n"sv, Container::kPng},
        {"GIF89a"sv, Container::kGif},
        {"GIF87a"sv, Container::kGif},
        {"GIF90a"sv, Container::kUnknown},
        {"BM\0\0"sv, Container::kBmp},
        {"\0\0\1\0\1\0"sv, Container::kIco},
        {"\0\0\2\0\1\0"sv, Container::kIco},
        {"II*\0"sv, Container::kTiff},
        {"MM\0*"sv, Container::kTiff},
        {"II\xBC\x01"sv, Container::kJxr},
        {"RIFF\0\0\0\0WEBPVP8L"sv, Container::kWebp},
        {"RIFF\0\0\0\0WAVEfmt "sv, Container::kUnknown},
        {"\0\0\0\x18" "ftypheic\0\0\0\0mif1heic"sv, Container::kHeif},
        {"\0\0\0\x1C" "ftypavif\0\0\0\0avifmif1miaf"sv, Container::kHeif},
        {"\0\0\0\x14" "ftypmp42\0\0\0\0isom"sv, Container::kUnknown},
        {"\xFF\x0A"sv, Container::kJxl},
        {"\0\0\0\x0CJXL \r\n\x87\n"sv, Container::kJxl},
        {"DDS \x7C"sv, Container::kDds},
        {"hello"sv, Container::kUnknown},
        {""sv, Container::kUnknown},
    };
    for (const Case& c : cases) EXPECT_EQ(SniffContainer(c.bytes), c.expected) << c.bytes;
}

TEST(Decoders, HeadersAreCheckedBeforeAnyPixelIsAllocated) {
    DecodeOptions small;
    small.memoryBudget = 64ull << 20;
    struct Case {
        const char* name;
        std::string bytes;
        DecodeOptions options;
        const char* message;
    };
    // A VP8L header: signature, 14-bit width and height minus one, no pixel data.
    auto webpHeader = [](uint32_t width, uint32_t height) {
        std::string vp8l = "\x2F";
        uint32_t bits = (width - 1) | ((height - 1) << 14);
        for (int i = 0; i < 4; ++i) vp8l += static_cast<char>((bits >> (8 * i)) & 0xFF);
        vp8l += std::string(16, '\0');
        std::string out = "RIFF";
        uint32_t riff = static_cast<uint32_t>(12 + vp8l.size());
        for (int i = 0; i < 4; ++i) out += static_cast<char>((riff >> (8 * i)) & 0xFF);
        out += "WEBPVP8L";
        uint32_t size = static_cast<uint32_t>(vp8l.size());
        for (int i = 0; i < 4; ++i) out += static_cast<char>((size >> (8 * i)) & 0xFF);
        return out + vp8l;
    };
    // A GIF whose logical screen is `width` x `height` and whose first image is 1 x 1.
    auto gifHeader = [](uint16_t width, uint16_t height) {
        std::string gif = "GIF89a";
        gif += static_cast<char>(width & 0xFF);
        gif += static_cast<char>(width >> 8);
        gif += static_cast<char>(height & 0xFF);
        gif += static_cast<char>(height >> 8);
        gif += std::string("\x80\0\0\0\0\0\xFF\xFF\xFF", 9);           // global table of two colours
        gif += std::string("\x2C\0\0\0\0\1\0\1\0\0\x02\x02\x44\x01\0;", 16);  // one pixel, LZW minimum 2
        return gif;
    };
    const Case cases[] = {
        {"PNG 60000 x 60000: past the pixel limit", GreyPng(60000, 60000, false), {}, "This image reports an impossible size"},
        {"PNG wider than 65535", GreyPng(70000, 1, false), {}, "This image reports an impossible size"},
        {"PNG bomb under a small RAM limit", GreyPng(6000, 6000, true), small,
         "Needed more memory than the RAM limit in Settings allows"},
        {"WebP 16384 x 16384: past the pixel limit", webpHeader(16384, 16384), {}, "This image reports an impossible size"},
        {"GIF screen within a small RAM limit is fine but 65535 square is not", gifHeader(65535, 65535), {},
         "This image reports an impossible size"},
        {"truncated PNG", GreyPng(50, 50, true).substr(0, 60), {}, "Couldn't open this image"},
        {"GIF without an image", std::string("GIF89a\x01\0\x01\0\0\0\0;", 14), {}, "This image has no readable frames"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string message;
        EXPECT_EQ(DecodeStatus(c.bytes, c.options, message), E_FAIL);
        EXPECT_EQ(message, c.message);
    }
    std::string message;
    EXPECT_EQ(DecodeStatus("not an image at all", {}, message), kComponentNotFound);
    EXPECT_EQ(DecodeStatus(gifHeader(1, 1), {}, message), S_OK) << message;
}

TEST(Encoders, EveryLibraryEncoderRoundTripsThroughItsDecoder) {
    // 5 x 3 BGRA with varied alpha, written and read back by the imaging layer itself.
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 15; ++i) pixels.insert(pixels.end(), {uint8_t(i * 17), uint8_t(255 - i * 9), uint8_t(i * 5), uint8_t(i == 3 ? 0 : 255 - i)});
    auto source = MakeBitmap(5, 3, PixelFormat::kBgra32, pixels);
    struct Case {
        Container container;
        EncoderOptions options;
        bool lossless;
    };
    const Case cases[] = {
        {Container::kPng, {}, true},
        {Container::kTiff, {-1, true}, true},
        {Container::kTiff, {-1, false}, true},
        {Container::kJxr, {1.0f, false}, false},
        {Container::kJpeg, {0.95f, false}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.container));
        std::unique_ptr<FrameEncoder> encoder = CreateEncoder(c.container, c.options);
        ASSERT_TRUE(encoder);
        ASSERT_TRUE(encoder->SetSize(5, 3));
        SourcePtr input = source;
        PixelFormat accepted = encoder->SetPixelFormat(PixelFormat::kBgra32);
        if (accepted != PixelFormat::kBgra32) input = ConvertFormat(images::FlattenOntoWhite(source), accepted);
        ASSERT_EQ(encoder->WriteSource(*input), S_OK);
        std::string bytes;
        ASSERT_EQ(encoder->Commit(bytes), S_OK);
        EXPECT_EQ(SniffContainer(bytes), c.container);
        DecodedFrame frame;
        std::string message;
        ASSERT_EQ(DecodeStatus(bytes, {}, message, &frame), S_OK) << message;
        ASSERT_EQ(frame.source->Width(), 5u);
        ASSERT_EQ(frame.source->Height(), 3u);
        std::vector<uint8_t> back = ReadAll(*ConvertFormat(frame.source, PixelFormat::kBgra32));
        std::vector<uint8_t> expected = c.lossless ? pixels : ReadAll(*ConvertFormat(input, PixelFormat::kBgra32));
        int worst = 0;
        for (size_t i = 0; i < back.size(); ++i) worst = std::max(worst, std::abs(back[i] - expected[i]));
        EXPECT_LE(worst, c.lossless ? 0 : 24);
    }
}
