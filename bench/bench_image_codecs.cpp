// Our own image encoders against the tools a user would pick instead, in one run:
// - lossless WebP: megapixels per second and file size of our encoder against cwebp
//   -lossless -z 0 (its fastest lossless preset), on a real photograph, a large
//   photograph-like picture and a screenshot. Speed is processor time, ours for the
//   encode alone and cwebp's whole process (wait4's user + system time; reading a PAM
//   costs it little), because wall time on a shared machine measures the neighbours;
// - QOI: encode and decode megapixels per second against the format's reference code
//   (qoi.h), in the same process. ImageMagick 6 (Debian 12's) has no QOI coder, so the
//   reference implementation is the one to measure against.
// Times are the best of a few rounds of processor time: the machine is shared.
#define QOI_IMPLEMENTATION
#include <qoi.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "convert/core/errors.h"
#include "convert/images/netpbm.h"
#include "convert/images/qoi.h"
#include "convert/images/webp_lossless.h"

namespace fs = std::filesystem;
using images::PixelBuffer;

namespace {

constexpr int kRounds = 5;

double ProcessorSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double BestSeconds(const std::function<void()>& work) {
    double best = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        double start = ProcessorSeconds();
        work();
        best = std::min(best, ProcessorSeconds() - start);
    }
    return best;
}

// Runs a tool with its output discarded; its processor time, or a negative value on failure.
double ChildProcessorSeconds(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        FILE* null = std::fopen("/dev/null", "w");
        ::dup2(::fileno(null), STDOUT_FILENO);
        ::dup2(::fileno(null), STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Run(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
        ::pclose(pipe);
    }
    return output;
}

// A screenshot-like picture: window panels, text-like strokes, few colours.
PixelBuffer Screenshot(uint32_t width, uint32_t height) {
    PixelBuffer image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4, 0xF0)};
    const uint8_t colours[5][3] = {{255, 255, 255}, {43, 87, 154}, {230, 230, 230}, {30, 30, 30}, {250, 200, 60}};
    uint32_t state = 12345;
    auto next = [&](uint32_t below) { return (state = state * 1103515245u + 12345u) / 65536u % below; };
    for (int panel = 0; panel < 40; ++panel) {
        uint32_t x0 = next(width), y0 = next(height), x1 = std::min(width, x0 + 40 + next(width / 2)),
                 y1 = std::min(height, y0 + 20 + next(height / 2));
        const uint8_t* c = colours[next(5)];
        for (uint32_t y = y0; y < y1; ++y)
            for (uint32_t x = x0; x < x1; ++x) {
                bool ink = (y - y0) % 14 > 3 && (y - y0) % 14 < 12 && (x * 5 + y * 3 + static_cast<uint32_t>(panel)) % 13 < 4 && x > x0 + 6;
                const uint8_t* use = ink ? colours[3] : c;
                uint8_t* p = image.bgra.data() + (static_cast<size_t>(y) * width + x) * 4;
                p[0] = use[2], p[1] = use[1], p[2] = use[0];
            }
    }
    for (size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 255;
    return image;
}

std::string Pam(const PixelBuffer& image) {
    std::string out = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " + std::to_string(image.height) +
                      "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (size_t i = 0; i < image.bgra.size(); i += 4)
        out += {static_cast<char>(image.bgra[i + 2]), static_cast<char>(image.bgra[i + 1]), static_cast<char>(image.bgra[i]),
                static_cast<char>(image.bgra[i + 3])};
    return out;
}

void WebpLine(const std::string& name, const fs::path& pam, const fs::path& work) {
    PixelBuffer image = images::DecodeNetpbm(Read(pam));
    double megapixels = static_cast<double>(image.width) * image.height / 1e6;
    std::string ours;
    double ourSeconds = BestSeconds([&] { ours = images::EncodeWebpLossless(image); });
    double theirSeconds = 1e9;
    uintmax_t theirSize = 0;
    for (int i = 0; i < kRounds; ++i) {
        fs::path out = work / "cwebp.webp";
        double seconds = ChildProcessorSeconds({"cwebp", "-quiet", "-lossless", "-z", "0", pam.string(), "-o", out.string()});
        if (seconds < 0) {
            std::printf("%-28s cwebp failed (package webp)\n", name.c_str());
            return;
        }
        theirSeconds = std::min(theirSeconds, seconds);
        theirSize = fs::file_size(out);
    }
    std::printf("%-28s %5.1f MP  ours %7.1f MP/s %9zu B | cwebp -z 0 %7.1f MP/s %9ju B | size x%.2f, speed x%.2f\n",
                name.c_str(), megapixels, megapixels / ourSeconds, ours.size(), megapixels / std::max(theirSeconds, 1e-4),
                theirSize, static_cast<double>(ours.size()) / static_cast<double>(theirSize),
                std::max(theirSeconds, 1e-4) / ourSeconds);
}

void QoiLine(const std::string& name, const PixelBuffer& image) {
    double megapixels = static_cast<double>(image.width) * image.height / 1e6;
    std::string rgba(image.bgra.size(), '\0');
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = static_cast<char>(image.bgra[i + 2]), rgba[i + 1] = static_cast<char>(image.bgra[i + 1]);
        rgba[i + 2] = static_cast<char>(image.bgra[i]), rgba[i + 3] = static_cast<char>(image.bgra[i + 3]);
    }
    std::string ours;
    double ourEncode = BestSeconds([&] { ours = images::EncodeQoi(image); });
    double ourDecode = BestSeconds([&] { images::DecodeQoi(ours); });
    qoi_desc desc{image.width, image.height, 4, QOI_SRGB};
    int length = 0;
    double theirEncode = BestSeconds([&] { std::free(qoi_encode(rgba.data(), &desc, &length)); });
    void* encoded = qoi_encode(rgba.data(), &desc, &length);
    double theirDecode = BestSeconds([&] {
        qoi_desc out;
        std::free(qoi_decode(encoded, length, &out, 4));
    });
    std::free(encoded);
    std::printf("%-28s %5.1f MP  encode ours %6.0f MP/s, reference %6.0f MP/s | decode ours %6.0f MP/s, reference %6.0f MP/s | %s size\n",
                name.c_str(), megapixels, megapixels / ourEncode, megapixels / theirEncode, megapixels / ourDecode,
                megapixels / theirDecode, ours.size() == static_cast<size_t>(length) ? "same" : "different");
}

}  // namespace

int main() {
    fs::path work = fs::temp_directory_path() / "quillaven-bench-image-codecs";
    fs::remove_all(work);
    fs::create_directories(work);
    fs::path photo = work / "photo.pam", plasma = work / "plasma.pam", screen = work / "screenshot.pam";
    std::string corpusPhoto = std::string(QUILL_SOURCE_DIR) + "/../../shared/corpus/images/jpg/images-jpg-progressive-cat.jpg";
    if (!fs::exists(corpusPhoto)) corpusPhoto = "/work/shared/corpus/images/jpg/images-jpg-progressive-cat.jpg";
    if (!Run("convert '" + corpusPhoto + "' -alpha off pam:'" + photo.string() + "'").empty() || !fs::exists(photo) ||
        !Run("convert -seed 7 -size 2400x1600 plasma:fractal -blur 0x1.5 -attenuate 0.4 +noise Gaussian -alpha off pam:'" +
             plasma.string() + "'").empty()) {
        std::printf("ImageMagick's convert is needed to make the photographs (package imagemagick)\n");
        return 1;
    }
    std::ofstream(screen, std::ios::binary) << Pam(Screenshot(1920, 1080));
    try {
        std::printf("Lossless WebP (best of %d)\n", kRounds);
        WebpLine("photo 320x240 (real)", photo, work);
        WebpLine("photo-like 2400x1600", plasma, work);
        WebpLine("screenshot 1920x1080", screen, work);
        std::printf("QOI (best of %d); ImageMagick 6 has no QOI coder, so against the reference qoi.h\n", kRounds);
        QoiLine("photo-like 2400x1600", images::DecodeNetpbm(Read(plasma)));
        QoiLine("screenshot 1920x1080", images::DecodeNetpbm(Read(screen)));
    } catch (const ConvertError& error) {
        std::printf("failed: %s\n", error.message.c_str());
        return 1;
    }
    fs::remove_all(work);
    return 0;
}
