// Image conversions against ImageMagick (`convert`) and libvips (`vips copy`) on the same
// inputs in one run, each a whole fresh process: our `Quillaven --convert` (which starts
// a worker) with the limits off (CpuPercent 100, LowPriority 0, RamMB 0 in a settings file
// of its own), against the other two writing the same format. Jobs: a 24-megapixel JPEG to
// PNG, a 24-megapixel PNG to JPG (quality 92 everywhere), a 12-megapixel HEIC photo to JPG,
// a 4-megapixel PNG to lossless WebP, a 12-megapixel JPEG to PDF (vips writes no PDF, and
// Debian's ImageMagick refuses to by its security policy: that line shows ours alone).
// The pictures are 8 bits a channel, as cameras and screenshots give them.
// Prints best time, peak memory and output size of each, and the ratios to ours.
//
// Usage: bench_images [runs]      (default 3). Needs convert, vips, heif-enc.
#include <cstdlib>
#include <cstring>

#include "bench_support.h"

using namespace bench;

namespace {

struct Tool {
    Run run;
    uintmax_t bytes = 0;
};

void Line(const char* who, const Tool& tool, const Tool& ours) {
    if (!tool.run.ok) {
        std::printf("    %-12s failed or missing (exit %d)\n", who, tool.run.exitCode);
        return;
    }
    std::printf("    %-12s %7.3f s %8.1f MiB %10.1f KiB", who, tool.run.seconds, MiB(tool.run.peakKiB),
                static_cast<double>(tool.bytes) / 1024.0);
    if (&tool != &ours && ours.run.ok)
        std::printf("   ours takes %.2fx its time, %.2fx its memory, %.3fx its size", ours.run.seconds / tool.run.seconds,
                    static_cast<double>(ours.run.peakKiB) / static_cast<double>(tool.run.peakKiB),
                    static_cast<double>(ours.bytes) / static_cast<double>(tool.bytes));
    std::printf("\n");
}

// Runs argv `runs` times; the output (one file in `folder` besides `keep`) is measured,
// then removed.
Tool Measure(const std::vector<std::string>& argv, int runs, const fs::path& folder, const std::string& keep) {
    Tool tool;
    tool.run = Best(argv, runs, [&] {
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename() != keep) tool.bytes = fs::file_size(entry.path());
        RemoveAllBut(folder, {keep});
    });
    return tool;
}

bool Make(const std::vector<std::string>& argv) {
    if (RunChild(argv).ok) return true;
    std::fprintf(stderr, "could not make an input with %s (is it installed?)\n", argv[0].c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char pattern[] = "/tmp/bench_images-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    fs::path root = pattern;
    fs::create_directories(root / "config" / "quillaven");
    WriteText(root / "config" / "quillaven" / "settings.ini", "CpuPercent=100\nLowPriority=0\nRamMB=0\n");
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);

    // A photograph-like picture: a fractal landscape with fine grain, enlarged from a
    // quarter-size original (drawing plasma at full size takes ImageMagick half a minute).
    fs::path source = root / "source.png";
    if (!Make({"convert", "-size", "3000x2000", "plasma:fractal", "-blur", "0x1", "-resize", "6000x4000!", "-attenuate",
               "0.25", "+noise", "Gaussian", "-depth", "8", source.string()}))
        return 1;
    struct Job {
        const char* label;
        const char* folder;
        const char* input;
        std::vector<std::string> make;  // {in} is the source picture, {out} the input
        const char* target;             // our token
        const char* extension;          // the output's
        const char* magickExtra;        // options ImageMagick needs for the same output
        const char* vipsSuffix;         // nullptr when vips can't write the format
    };
    const Job jobs[] = {
        {"24 MP JPEG -> PNG", "jpeg-png", "photo.jpg", {"convert", "{in}", "-quality", "92", "{out}"}, "png", "png", "", ""},
        {"24 MP PNG -> JPG (quality 92)", "png-jpg", "photo.png", {"cp", "{in}", "{out}"}, "jpg", "jpg", "-quality 92", "[Q=92]"},
        {"12 MP HEIC -> JPG (quality 92)", "heic-jpg", "photo.heic", {"sh", "-c", "convert {in} -resize 4000x3000! /tmp/qv-heic-src.png && heif-enc -q 60 -o {out} /tmp/qv-heic-src.png"},
         "jpg", "jpg", "-quality 92", "[Q=92]"},
        {"4 MP PNG -> lossless WebP", "png-webp", "picture.png", {"convert", "{in}", "-resize", "2400x1600!", "{out}"}, "webp",
         "webp", "-define webp:lossless=true", "[lossless]"},
        {"12 MP JPEG -> PDF", "jpeg-pdf", "photo.jpg", {"convert", "{in}", "-resize", "4000x3000!", "-quality", "92", "{out}"},
         "pdf", "pdf", "", nullptr},
    };
    std::ifstream loadFile("/proc/loadavg");
    std::string load;
    std::getline(loadFile, load);
    std::printf("best of %d runs; our limits off (CpuPercent 100, LowPriority 0); load average %s\n", runs, load.c_str());
    int failures = 0;
    for (const Job& job : jobs) {
        fs::path folder = root / job.folder;
        fs::create_directories(folder);
        fs::path input = folder / job.input;
        std::vector<std::string> make = job.make;
        for (std::string& word : make) {
            for (size_t at; (at = word.find("{in}")) != std::string::npos;) word.replace(at, 4, source.string());
            for (size_t at; (at = word.find("{out}")) != std::string::npos;) word.replace(at, 5, input.string());
        }
        if (!Make(make)) return 1;
        std::printf("%s (input %.1f MiB)\n", job.label, static_cast<double>(fs::file_size(input)) / 1048576.0);
        std::string keep = input.filename().string();
        fs::path output = folder / (std::string("out.") + job.extension);
        Tool ours = Measure({QUILL_PROGRAM, "--convert", input.string(), job.target}, runs, folder, keep);
        std::vector<std::string> magick = {"convert", input.string()};
        for (const char* word = job.magickExtra; *word;) {
            const char* end = std::strchr(word, ' ');
            magick.emplace_back(word, end ? end - word : std::strlen(word));
            word = end ? end + 1 : word + std::strlen(word);
        }
        magick.push_back(output.string());
        Tool im = Measure(magick, runs, folder, keep);
        Line("Quillaven", ours, ours);
        Line("ImageMagick", im, ours);
        if (job.vipsSuffix) Line("vips", Measure({"vips", "copy", input.string(), output.string() + job.vipsSuffix}, runs, folder, keep), ours);
        failures += ours.run.ok ? 0 : 1;
    }
    std::remove("/tmp/qv-heic-src.png");
    fs::remove_all(root);
    return failures == 0 ? 0 : 2;
}
