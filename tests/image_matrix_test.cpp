// Every image input the catalog knows, made by independent producers (ImageMagick, cwebp,
// heif-enc, cjxl, JxrEncApp; camera RAW names over TIFF content, since no tool here writes
// sensor data), converted to every target the catalog offers it and to PDF. The whole
// cross product runs in-process; every extension and every target also runs once through
// the command line, so through a sandboxed worker. Outputs are read back by ImageMagick,
// JxrDecApp and pdfinfo.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "convert/core/paths.h"
#include "support/pipeline_support.h"

using namespace testing_support;

namespace {


constexpr uint32_t kWidth = 24, kHeight = 16;

void Shell(const std::string& command) {
    CommandResult result = RunCommand(command);
    ASSERT_EQ(result.exitCode, 0) << command << "\n" << result.output;
}

// A QOI file written chunk by chunk (every pixel as an RGBA chunk), independent of our encoder.
std::string QoiOf(const images::PixelBuffer& pixels) {
    std::string out = "qoif";
    for (uint32_t value : {pixels.width, pixels.height})
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
    out += std::string("\x04\x00", 2);
    for (size_t i = 0; i < pixels.bgra.size(); i += 4)
        out += {'\xFF', char(pixels.bgra[i + 2]), char(pixels.bgra[i + 1]), char(pixels.bgra[i]), char(pixels.bgra[i + 3])};
    return out + std::string(7, '\0') + "\x01";
}

std::map<std::string, std::string> MakeInputs(const TempDir& dir) {
    std::string png = dir.File("source.png"), bmp = dir.File("source.bmp");
    images::PixelBuffer pixels = RandomPixels(kWidth, kHeight, true, 17);
    std::string rgba = dir.File("source.rgba");
    std::string raw;
    for (size_t i = 0; i < pixels.bgra.size(); i += 4)
        raw += {char(pixels.bgra[i + 2]), char(pixels.bgra[i + 1]), char(pixels.bgra[i]), char(pixels.bgra[i + 3])};
    WriteFile(rgba, raw);
    Shell("convert -size " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -depth 8 " +
          ShellQuote("rgba:" + rgba) + " " + ShellQuote(png));
    Shell("convert " + ShellQuote(png) + " -alpha off " + ShellQuote(bmp));
    std::map<std::string, std::string> makers = {
        {"png", "cp {png} {out}"}, {"jpg", "convert {png} {out}"}, {"jpeg", "convert {png} jpg:{out}"},
        {"jpe", "convert {png} jpg:{out}"}, {"jfif", "convert {png} jpg:{out}"}, {"gif", "convert {png} {out}"},
        {"tif", "convert {png} {out}"}, {"tiff", "convert {png} {out}"}, {"webp", "cwebp -quiet {png} -o {out}"},
        {"heic", "heif-enc -q 60 -o {out} {png}"}, {"heif", "heif-enc -q 60 -o {out} {png}"},
        {"avif", "convert {png} avif:{out}"}, {"jxl", "cjxl --quiet {png} {out}"},
        {"jxr", "JxrEncApp -i {bmp} -o {out}"}, {"wdp", "JxrEncApp -i {bmp} -o {out}"},
        {"svg", "printf '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"24\" height=\"16\"><rect width=\"12\" height=\"16\" fill=\"red\"/></svg>' > {out}"},
        {"bmp", "cp {bmp} {out}"}, {"dib", "cp {bmp} {out}"}, {"ico", "convert {png} ico:{out}"},
        {"cur", "convert {png} cur:{out}"}, {"dds", "convert {png} dds:{out}"}, {"tga", "convert {png} tga:{out}"},
        {"ppm", "convert {png} ppm:{out}"}, {"pgm", "convert {png} pgm:{out}"}, {"pbm", "convert {png} pbm:{out}"},
        {"pnm", "convert {png} pnm:{out}"}, {"pam", "convert {png} pam:{out}"},
    };
    std::map<std::string, std::string> inputs;
    for (const std::string& extension : AllExtensions()) {
        if (KindOfExtension(extension) != kImageKind) continue;
        std::string out = dir.File("input." + extension);
        if (extension == "qoi") {
            WriteFile(out, QoiOf(pixels));
        } else {
            auto maker = makers.find(extension);
            // Camera RAW names: TIFF content, which libraw declines and libtiff reads.
            std::string command = maker != makers.end() ? maker->second : "convert {png} tiff:{out}";
            for (auto [key, value] : {std::pair{"{png}", png}, std::pair{"{bmp}", bmp}, std::pair{"{out}", out}})
                for (size_t at; (at = command.find(key)) != std::string::npos;)
                    command.replace(at, std::string(key).size(), ShellQuote(value));
            Shell(command);
        }
        inputs[extension] = out;
    }
    return inputs;
}

void CollectFormats(const MenuEntry& entry, std::set<int32_t>& formats) {
    if (entry.format != 0) formats.insert(entry.format);
    for (const auto& child : entry.children) CollectFormats(child, formats);
}

// Whether an output is what its format says, read back by an independent reader.
void CheckOutput(const std::string& output, int32_t format, std::vector<std::string>& forMagick) {
    std::string bytes = ReadFile(output);
    switch (format) {
    case kPdf: EXPECT_NE(RunCommand("pdfinfo " + ShellQuote(output)).output.find("Pages:           1"), std::string::npos); break;
    case kSvg: EXPECT_EQ(bytes.substr(0, 40), "<svg xmlns=\"http://www.w3.org/2000/svg\" "); break;
    case kQoi: EXPECT_EQ(bytes.substr(0, 4), "qoif"); break;
    case kJxr: {
        std::string decoded = output + ".tif";
        EXPECT_EQ(RunCommand("JxrDecApp -i " + ShellQuote(output) + " -o " + ShellQuote(decoded)).exitCode, 0);
        forMagick.push_back(decoded);
        break;
    }
    default: forMagick.push_back(output); break;
    }
}

}  // namespace

TEST(ImageMatrix, EveryImageInputConvertsToEveryOfferedTarget) {
    for (const char* tool : {"convert", "identify", "cwebp", "heif-enc", "cjxl", "JxrEncApp", "JxrDecApp", "pdfinfo"})
        REQUIRE_TOOL(tool);
    TempDir dir;
    std::map<std::string, std::string> inputs = MakeInputs(dir);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(inputs.size(), 52u);

    std::set<int32_t> targetsSeen;
    std::vector<std::string> forMagick;
    size_t conversions = 0;
    for (const auto& [extension, input] : inputs) {
        std::set<int32_t> formats;
        CollectFormats(BuildTargetMenu({input}), formats);
        EXPECT_EQ(formats.count(kPdf), 1u) << extension;
        for (int32_t format : formats) {
            SCOPED_TRACE(extension + " to " + std::string(FormatName(format)));
            Conversion result = ConvertInProcess(input, format);
            ASSERT_EQ(result.message, "");
            EXPECT_EQ(FolderOf(result.output), dir.path());
            EXPECT_EQ(ExtensionOf(result.output), FormatExtension(format));
            CheckOutput(result.output, format, forMagick);
            targetsSeen.insert(format);
            ++conversions;
        }
    }
    // One batch for ImageMagick: every raster output decodes.
    std::string identify = "identify";
    for (const std::string& path : forMagick) identify += " " + ShellQuote(path);
    CommandResult identified = RunCommand(identify + " 2>&1 >/dev/null");
    EXPECT_EQ(identified.exitCode, 0) << identified.output;
    EXPECT_GT(conversions, 500u);

    // Through the command line and a worker: every input once, every target once.
    std::string first = inputs.at("png");
    std::vector<std::pair<std::string, int32_t>> runs;
    for (const auto& [extension, input] : inputs) runs.emplace_back(input, kPng);
    for (int32_t format : targetsSeen) runs.emplace_back(first, format);
    for (const auto& [input, format] : runs) {
        SCOPED_TRACE(FileNameOf(input) + " to " + std::string(FormatName(format)) + " through a worker");
        CommandResult result =
            RunCommand(ShellQuote(QUILL_PROGRAM) + " --convert " + ShellQuote(input) + " " + std::string(FormatName(format)));
        ASSERT_EQ(result.exitCode, 0) << result.output;
        std::string output = result.output.substr(0, result.output.find('\n'));
        EXPECT_EQ(ExtensionOf(output), FormatExtension(format));
        EXPECT_GT(ReadFile(output).size(), 30u);
    }
}
