// The image pipeline end to end: what we write decodes, with ImageMagick, pdfinfo and
// libheif's tools, to the pixels and sizes we meant; photos come out upright; transparency
// is kept or laid on white as each format needs; bad files end with their message and
// leave nothing behind; SVG input never reaches outside its file.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "convert/core/paths.h"
#include "convert/images/image_encode.h"
#include "convert/images/svg_wrapper.h"
#include "platform/imaging/svg_renderer.h"
#include "support/pipeline_support.h"

using namespace testing_support;

namespace {


// Every message a bad image file may end with.
const std::set<std::string> kBadImageMessages = {
    "Couldn't open this image",
    "This image reports an impossible size",
    "This image has no readable frames",
    "This image is damaged or cut short",
    "This kind of TGA isn't supported",
    "This SVG couldn't be read",
    "Needed more memory than the RAM limit in Settings allows",
    "Install \"HEIF Image Extensions\" from the Microsoft Store to open HEIC",
    "Install \"WebP Image Extensions\" from the Microsoft Store to open WebP",
    "Install \"AV1 Video Extension\" from the Microsoft Store to open AVIF",
};

std::string WriteInput(const TempDir& dir, const std::string& name, const images::PixelBuffer& pixels) {
    std::string path = dir.File(name);
    WriteFile(path, images::EncodeImage(pixels, kPng, 0));
    return path;
}

void Shell(const std::string& command) {
    CommandResult result = RunCommand(command);
    ASSERT_EQ(result.exitCode, 0) << command << "\n" << result.output;
}

}  // namespace

TEST(ImagePipeline, LosslessOutputsDecodeToExactlyOurPixels) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    struct Size {
        uint32_t width, height;
    };
    const Size sizes[] = {{1, 1}, {7, 5}, {4097, 3}, {31, 33}};
    std::vector<int32_t> formats = {kPng, kTiff, kBmp};
    uint32_t seed = 1;
    for (const Size& size : sizes) {
        for (bool alpha : {false, true}) {
            images::PixelBuffer pixels = RandomPixels(size.width, size.height, alpha, seed++);
            std::string input = WriteInput(dir, "in.png", pixels);
            for (int32_t format : formats) {
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + (alpha ? " alpha " : " ") +
                             std::string(FormatName(format)));
                Conversion result = ConvertInProcess(input, format);
                ASSERT_EQ(result.message, "");
                uint32_t width = 0, height = 0;
                std::vector<uint8_t> decoded = MagickBgra(result.output, width, height);
                EXPECT_EQ(width, size.width);
                EXPECT_EQ(height, size.height);
                // BMP has no alpha here: the write step lays it on white first.
                std::vector<uint8_t> expected = format == kBmp ? OnWhite(pixels.bgra) : pixels.bgra;
                EXPECT_EQ(LargestDifference(decoded, expected), 0);
                std::filesystem::remove(result.output);
            }
            std::filesystem::remove(input);
        }
    }
}

// Big enough for the PNG writer to deflate in several bands on several threads, as a
// photograph (noise) and as drawings (stripes; identical rows of halving values, where
// each band's first row is filtered against the row before it, from another band).
TEST(ImagePipeline, LargePngsDeflatedInBandsDecodeExactly) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    images::PixelBuffer noise = RandomPixels(1201, 999, true, 21);
    images::PixelBuffer stripes = noise;
    for (size_t i = 0; i < stripes.bgra.size(); ++i) stripes.bgra[i] = static_cast<uint8_t>((i / 4 % 1201) / 40 * 37 + i % 4);
    images::PixelBuffer halving = noise;
    for (size_t i = 0; i < halving.bgra.size(); ++i) halving.bgra[i] = static_cast<uint8_t>(255 >> (i / 4 % 1201 % 8));
    for (const images::PixelBuffer* pixels : {&noise, &stripes, &halving}) {
        std::string input = WriteInput(dir, "big.png", *pixels);
        Conversion result = ConvertInProcess(input, kPng);
        ASSERT_EQ(result.message, "");
        uint32_t width = 0, height = 0;
        EXPECT_EQ(LargestDifference(MagickBgra(result.output, width, height), pixels->bgra), 0);
        std::filesystem::remove(input);
        std::filesystem::remove(result.output);
    }
}

TEST(ImagePipeline, TransparencyIsKeptOrLaidOnWhitePerFormat) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    // Flat colours that lossy codecs keep: the first row fully transparent, a half-covered
    // band, the rest opaque.
    images::PixelBuffer pixels{16, 16, {}};
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x)
            pixels.bgra.insert(pixels.bgra.end(), {uint8_t(x < 8 ? 200 : 30), 90, uint8_t(x < 8 ? 40 : 220),
                                                   uint8_t(y == 0 ? 0 : y < 8 ? 128 : 255)});
    std::string input = WriteInput(dir, "clear.png", pixels);
    struct Case {
        int32_t format;
        bool keepsAlpha;
        int tolerance;
    };
    std::vector<Case> cases = {{kJpg, false, 12}, {kPng, true, 0}, {kTiff, true, 0}};
    if (Capabilities().heifEncoder) cases.push_back({kHeic, false, 40});
    cases.insert(cases.end(), {{kBmp, false, 0}, {kGif, true, 255}});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(FormatName(c.format)));
        Conversion result = ConvertInProcess(input, c.format, 100);
        ASSERT_EQ(result.message, "");
        uint32_t width = 0, height = 0;
        std::vector<uint8_t> decoded = MagickBgra(result.output, width, height);
        ASSERT_EQ(decoded.size(), pixels.bgra.size());
        for (size_t i = 0; i < 16 * 4; i += 4) {
            if (c.keepsAlpha) {
                EXPECT_EQ(decoded[i + 3], 0) << i;
            } else {
                EXPECT_GE(std::min({decoded[i], decoded[i + 1], decoded[i + 2]}), 255 - std::max(c.tolerance, 8)) << i;
                EXPECT_EQ(decoded[i + 3], 255);
            }
        }
        if (c.tolerance < 255) {
            EXPECT_LE(LargestDifference(decoded, c.keepsAlpha ? pixels.bgra : OnWhite(pixels.bgra)), c.tolerance);
        }
    }
}

TEST(ImagePipeline, QualityAndPdfPageFollowTheirRules) {
    for (const char* tool : {"identify", "pdfinfo"}) REQUIRE_TOOL(tool);
    TempDir dir;
    std::string photo = WriteInput(dir, "photo.png", RandomPixels(64, 48, false, 5));
    struct QualityCase {
        int32_t option;
        const char* expected;
    };
    for (const QualityCase& c : {QualityCase{0, "92"}, QualityCase{-3, "92"}, QualityCase{150, "100"}, QualityCase{65, "65"}}) {
        Conversion result = ConvertInProcess(photo, kJpg, c.option);
        ASSERT_EQ(result.message, "");
        EXPECT_EQ(RunCommand("identify -format %Q " + ShellQuote(result.output)).output, c.expected) << c.option;
        std::filesystem::remove(result.output);
    }
    struct PageCase {
        uint32_t width, height;
        const char* size;
    };
    for (const PageCase& c : {PageCase{2000, 1000, "842 x 421 pts"}, PageCase{400, 300, "300 x 225 pts"},
                              PageCase{300, 1200, "210.5 x 842 pts"}}) {
        std::string input = WriteInput(dir, "page.png", RandomPixels(c.width, c.height, true, 7));
        Conversion result = ConvertInProcess(input, kPdf);
        ASSERT_EQ(result.message, "");
        EXPECT_NE(RunCommand("pdfinfo " + ShellQuote(result.output)).output.find(c.size), std::string::npos) << c.size;
        std::filesystem::remove(input);
    }
}

TEST(ImagePipeline, PhotosComeOutUprightForEveryOrientation) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    for (int orientation = 0; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        std::string name = "Landscape_" + std::to_string(orientation) + ".jpg";
        std::string input = dir.File(name);
        std::filesystem::copy_file(DataPath("corpus/images") + "/orientation/" + name, input);
        Conversion result = ConvertInProcess(input, kPng);
        ASSERT_EQ(result.message, "");
        std::string reference = dir.File("reference.png");
        Shell("convert " + ShellQuote(input) + " -auto-orient " + ShellQuote(reference));
        uint32_t w1, h1, w2, h2;
        std::vector<uint8_t> ours = MagickBgra(result.output, w1, h1), theirs = MagickBgra(reference, w2, h2);
        EXPECT_EQ(w1, w2);
        EXPECT_EQ(h1, h2);
        EXPECT_LE(LargestDifference(ours, theirs), 2);
    }
}

TEST(ImagePipeline, FirstFrameOfAnAnimationOnItsCanvas) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    for (const char* name : {"images-gif-anim-any-disposal.gif", "images-gif-anim-interlaced.gif"}) {
        SCOPED_TRACE(name);
        std::string input = dir.File(name);
        std::filesystem::copy_file(DataPath("corpus/images") + "/gif/" + name, input);
        Conversion result = ConvertInProcess(input, kPng);
        ASSERT_EQ(result.message, "");
        std::string reference = dir.File("first.png");
        Shell("convert " + ShellQuote(input + "[0]") + " -coalesce " + ShellQuote(reference));
        uint32_t w1, h1, w2, h2;
        EXPECT_EQ(LargestDifference(MagickBgra(result.output, w1, h1), MagickBgra(reference, w2, h2)), 0);
    }
}

TEST(ImagePipeline, EveryCorpusImageConvertsOrFailsWithItsMessage) {
    REQUIRE_TOOL("identify");
    TempDir dir, outputs;
    size_t converted = 0, refused = 0;
    std::string identify = "identify";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(DataPath("corpus/images") + "")) {
        std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || KindOf(name) != kImageKind) continue;
        // The producer's own "TODO" files are valid ones its decoder can't read yet.
        bool malformed = entry.path().parent_path().filename() == "malformed" && name.find("TODO") == std::string::npos;
        SCOPED_TRACE(name);
        std::string input = dir.File(name);
        std::filesystem::copy_file(entry.path(), input);
        Conversion result = ConvertInProcess(input, kPng);
        if (result.output.empty()) {
            EXPECT_EQ(kBadImageMessages.count(result.message), 1u) << result.message;
            ++refused;
        } else {
            EXPECT_FALSE(malformed) << "a malformed file converted";
            std::string kept = outputs.File(std::to_string(converted++) + ".png");
            std::filesystem::rename(result.output, kept);
            identify += " " + ShellQuote(kept);
        }
        EXPECT_EQ(ListFolder(dir.path()), name) << "nothing but the input may be left";
        std::filesystem::remove(input);
    }
    EXPECT_EQ(RunCommand(identify + " >/dev/null").exitCode, 0) << "every output must decode";
    EXPECT_GT(converted, 50u);
    EXPECT_GT(refused, 0u);
}

TEST(ImagePipeline, DamagedFilesOfEveryFormatFailCleanly) {
    for (const char* tool : {"convert", "cwebp", "heif-enc", "cjxl", "JxrEncApp"}) REQUIRE_TOOL(tool);
    TempDir source;
    std::string png = WriteInput(source, "source.png", RandomPixels(96, 64, true, 3));
    std::string bmp = source.File("source.bmp");
    Shell("convert " + ShellQuote(png) + " -alpha off " + ShellQuote(bmp));
    std::vector<std::pair<std::string, std::string>> makers = {
        {"jpg", "convert {in} {out}"},        {"gif", "convert {in} {out}"},
        {"tif", "convert {in} {out}"},        {"webp", "cwebp -quiet {in} -o {out}"},
        {"heic", "heif-enc -q 50 -o {out} {in}"}, {"avif", "convert {in} {out}"},
        {"jxl", "cjxl --quiet {in} {out}"},   {"jxr", "JxrEncApp -i {bmpin} -o {out}"},
        {"png", "cp {in} {out}"},             {"svg", "echo '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"><rect width=\"9\" height=\"9\"/></svg>' > {out}"},
    };
    makers.insert(makers.end(), {{"bmp", "cp {bmpin} {out}"}, {"ico", "convert {in} -resize 32x32 {out}"},
                                     {"dds", "convert {in} {out}"}, {"tga", "convert {in} {out}"},
                                     {"ppm", "convert {in} {out}"}, {"pam", "convert {in} {out}"}});
    for (const auto& [extension, maker] : makers) {
        SCOPED_TRACE(extension);
        std::string whole = source.File("whole." + extension);
        std::string command = maker;
        for (auto [key, value] : {std::pair{"{in}", png}, std::pair{"{bmpin}", bmp}, std::pair{"{out}", whole}})
            for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, std::string(key).size(), ShellQuote(value));
        Shell(command);
        std::string bytes = ReadFile(whole);
        ASSERT_GT(bytes.size(), 40u);
        {
            TempDir dir;
            std::string input = dir.File("good." + extension);
            WriteFile(input, bytes);
            EXPECT_EQ(ConvertInProcess(input, kPng).message, "") << "the whole file must convert";
        }
        for (size_t keep : {bytes.size() / 2, size_t{24}}) {
            TempDir dir;
            std::string input = dir.File("cut." + extension);
            WriteFile(input, bytes.substr(0, keep));
            Conversion result = ConvertInProcess(input, kJpg);
            EXPECT_EQ(result.output, "") << keep;
            EXPECT_EQ(kBadImageMessages.count(result.message), 1u) << keep << ": " << result.message;
            EXPECT_EQ(ListFolder(dir.path()), "cut." + extension) << "nothing may be left beside the input";
        }
    }
}

TEST(ImagePipeline, ContentDecidesAndTheNameOnlyChoosesTheMessage) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    std::string png = images::EncodeImage(RandomPixels(3, 2, false, 1), kPng, 0);
    const Case cases[] = {
        {"photo.heic", "not an image", "Install \"HEIF Image Extensions\" from the Microsoft Store to open HEIC"},
        {"photo.heif", "not an image", "Install \"HEIF Image Extensions\" from the Microsoft Store to open HEIC"},
        {"photo.webp", "not an image", "Install \"WebP Image Extensions\" from the Microsoft Store to open WebP"},
        {"photo.avif", "not an image", "Install \"AV1 Video Extension\" from the Microsoft Store to open AVIF"},
        {"photo.png", "not an image", "Couldn't open this image"},
        {"camera.nef", "a RAW name over plain text", "Couldn't open this image"},
        {"camera.x3f", "FOVb and nothing after", "Couldn't open this image"},
        {"named.jpg", png, ""},
        {"camera.cr2", png, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string input = dir.File(c.name);
        WriteFile(input, c.bytes);
        Conversion result = ConvertInProcess(input, kPng);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.output.empty(), *c.message != '\0');
        std::filesystem::remove(input);
        if (!result.output.empty()) std::filesystem::remove(result.output);
    }
}

TEST(ImagePipeline, RawNamedTiffFallsBackToTheTiffDecoder) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    std::string png = WriteInput(dir, "in.png", RandomPixels(10, 6, false, 8));
    std::string dng = dir.File("scan.dng");
    Shell("convert " + ShellQuote(png) + " -compress none " + ShellQuote("tiff:" + dng));
    Conversion result = ConvertInProcess(dng, kPng);
    ASSERT_EQ(result.message, "");
    uint32_t width, height;
    EXPECT_EQ(MagickBgra(result.output, width, height).size(), 10u * 6 * 4);
}

TEST(Svg, IntrinsicSizeAndRenderScale) {
    struct Case {
        const char* root;
        uint32_t width, height;
    };
    const Case cases[] = {
        {"width=\"100\" height=\"50\"", 1024, 512},
        {"width=\"100px\" height=\"50px\"", 1024, 512},
        {"width=\"50%\" height=\"20\" viewBox=\"0 0 30 60\"", 512, 1024},
        {"width=\"2cm\" height=\"1cm\" viewBox=\"0 0 40 10\"", 1024, 256},
        {"", 1024, 1024},
        {"viewBox=\"0 0 20000 10000\"", 8192, 4096},
        {"width=\"3000\" height=\"2000\"", 3000, 2000},
        {"width=\"0\" height=\"10\" viewBox=\"0 0 1 1\"", 1024, 1024},
        {"viewBox=\"0 0 100000 1\"", 8192, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        std::string svg = std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" ") + c.root + "/>";
        uint32_t width = 0, height = 0;
        double scale = 0;
        imaging::SvgRenderedSize(imaging::SvgIntrinsicSize(svg), width, height, scale);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
    }
    EXPECT_THROW(imaging::SvgIntrinsicSize("<svg"), ConvertError);
}

TEST(Svg, RendersTransparentAndNeverLoadsAnythingOutsideTheFile) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    WriteFile(dir.File("red.png"), images::EncodeImage({1, 1, {0, 0, 255, 255}}, kPng, 0));
    // A listening socket that must never see a connection.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/red.png";
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                      "width=\"40\" height=\"10\">"
                      "<image x=\"0\" width=\"10\" height=\"10\" href=\"red.png\"/>"
                      "<image x=\"10\" width=\"10\" height=\"10\" xlink:href=\"file://" + dir.File("red.png") + "\"/>"
                      "<image x=\"20\" width=\"10\" height=\"10\" href=\"" + url + "\"/>"
                      "<rect x=\"30\" width=\"10\" height=\"10\" fill=\"#00ff00\"/></svg>";
    std::string input = dir.File("refs.svg");
    WriteFile(input, svg);
    Conversion result = ConvertInProcess(input, kPng);
    ASSERT_EQ(result.message, "");
    uint32_t width, height;
    std::vector<uint8_t> pixels = MagickBgra(result.output, width, height);
    ASSERT_EQ(width, 1024u);
    ASSERT_EQ(height, 256u);
    auto at = [&](uint32_t x, uint32_t y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; };
    for (uint32_t x : {128u, 384u, 640u}) EXPECT_EQ(at(x, 128)[3], 0) << x << ": something outside the file was drawn";
    EXPECT_EQ(at(896, 128)[1], 255);
    EXPECT_EQ(at(896, 128)[3], 255);
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "the renderer reached the network";
    ::close(listener);

    Conversion jpeg = ConvertInProcess(input, kJpg, 100);
    ASSERT_EQ(jpeg.message, "");
    pixels = MagickBgra(jpeg.output, width, height);
    EXPECT_GE(std::min({at(10, 10)[0], at(10, 10)[1], at(10, 10)[2]}), 250) << "transparent areas come out white";
}

TEST(Svg, EntityExpansionIsRefusedQuickly) {
    TempDir dir;
    std::string svg = "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n<!ENTITY a \"ha\">\n";
    for (char name = 'b'; name <= 'k'; ++name) {
        svg += std::string("<!ENTITY ") + name + " \"";
        for (int i = 0; i < 10; ++i) svg += std::string("&") + static_cast<char>(name - 1) + ";";
        svg += "\">\n";
    }
    svg += "]>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><text>&k;</text></svg>\n";
    std::string input = dir.File("laughs.svg");
    WriteFile(input, svg);
    auto start = std::chrono::steady_clock::now();
    Conversion result = ConvertInProcess(input, kPng);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(result.message, "This SVG couldn't be read");
    EXPECT_EQ(ListFolder(dir.path()), "laughs.svg");
}

TEST(Svg, OutputWrapsThePngInADataUri) {
    REQUIRE_TOOL("convert");
    TempDir dir;
    images::PixelBuffer pixels = RandomPixels(2, 3, true, 11);
    std::string input = WriteInput(dir, "tiny.png", pixels);
    Conversion result = ConvertInProcess(input, kSvg);
    ASSERT_EQ(result.message, "");
    std::string text = ReadFile(result.output);
    const std::string head = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2\" height=\"3\" viewBox=\"0 0 2 3\">\n"
                             "<image width=\"2\" height=\"3\" href=\"data:image/png;base64,";
    ASSERT_EQ(text.substr(0, head.size()), head);
    ASSERT_EQ(text.substr(text.size() - 11), "\"/>\n</svg>\n");
    std::string base64 = text.substr(head.size(), text.size() - head.size() - 11);
    WriteFile(dir.File("uri.txt"), base64);
    Shell("base64 -d " + ShellQuote(dir.File("uri.txt")) + " > " + ShellQuote(dir.File("uri.png")));
    uint32_t width, height;
    EXPECT_EQ(LargestDifference(MagickBgra(dir.File("uri.png"), width, height), pixels.bgra), 0);

    struct Case {
        std::string_view in, out;
    };
    for (const Case& c : {Case{"", ""}, Case{"f", "Zg=="}, Case{"fo", "Zm8="}, Case{"foo", "Zm9v"},
                          Case{"foob", "Zm9vYg=="}, Case{"\xFF\xFE\xFD", "//79"}})
        EXPECT_EQ(images::Base64(c.in), c.out);
}

TEST(ImagePipeline, ConvertsThroughASandboxedWorker) {
    TempDir dir;
    std::string png = WriteInput(dir, "worker.png", RandomPixels(33, 21, true, 4));
    std::string svg = dir.File("drawing.svg");
    WriteFile(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 4 2\"><circle cx=\"1\" cy=\"1\" r=\"1\"/></svg>");
    struct Case {
        std::string input;
        const char* format;
        const char* extension;
    };
    std::vector<Case> cases = {{png, "JPG", "jpg"}, {png, "TIFF", "tiff"}, {svg, "PNG", "png"}, {png, "PDF", "pdf"}};
    if (Capabilities().heifEncoder) cases.push_back({png, "HEIC", "heic"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        CommandResult result = RunCommand(ShellQuote(QUILL_PROGRAM) + " --convert " + ShellQuote(c.input) + " " + c.format);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        std::string output = result.output.substr(0, result.output.find('\n'));
        EXPECT_EQ(ExtensionOf(output), c.extension);
        EXPECT_GT(ReadFile(output).size(), 100u);
    }
}

TEST(ImagePipeline, CodecLibrariesNeverPrintIntoTheWorkerProtocol) {
    TempDir dir;
    // Files that make jxrlib (on standard output) and libjxl (on standard error) talk.
    std::vector<std::string> inputs;
    for (const char* name : {"flipped_valid.jxr", "cut_half_valid.jxl", "valid.jxr"}) {
        std::string input = dir.File(name);
        std::filesystem::copy_file(std::string(QUILL_SOURCE_DIR) + "/fuzz/corpus/fuzz_image_decode/" + name, input);
        inputs.push_back(input);
    }
    std::string request = "PNG 0 -\n";
    for (const std::string& input : inputs) request += input + "\n";
    request += "\nlimits 100 70 1536 0 2 1 0\n";
    WriteFile(dir.File("request"), request);
    // The host keeps the worker's input open while it works (its end means "cancel").
    const std::string host =
        "import subprocess,sys\n"
        "p=subprocess.Popen([sys.argv[1],'--worker'],stdin=subprocess.PIPE,stdout=subprocess.PIPE)\n"
        "p.stdin.write(open(sys.argv[2],'rb').read()); p.stdin.flush()\n"
        "sys.stdout.write(p.stdout.read().decode()); sys.exit(p.wait())\n";
    CommandResult result = RunCommand("python3 -c " + ShellQuote(host) + " " + ShellQuote(QUILL_PROGRAM) + " " +
                                      ShellQuote(dir.File("request")));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    size_t lines = 0;
    for (size_t start = 0; start < result.output.size(); ++lines) {
        size_t end = result.output.find('\n', start);
        std::string line = result.output.substr(start, end - start);
        std::string keyword = line.substr(0, line.find(' '));
        EXPECT_TRUE(keyword == "file" || keyword == "progress" || keyword == "output" || keyword == "done" ||
                    keyword == "error")
            << "not a protocol line: " << line;
        start = end == std::string::npos ? result.output.size() : end + 1;
    }
    EXPECT_GE(lines, 6u);
    EXPECT_NE(result.output.find("done 2"), std::string::npos) << result.output;
}
