#include "convert/images/convert_image.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "convert/core/catalog.h"
#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/images/image_encode.h"
#include "convert/pdf/pdf_file.h"
#include "platform/file_io.h"
#include "platform/imaging/decoders.h"
#include "platform/imaging/svg_renderer.h"

#include "convert/images/exif.h"
#include "convert/images/netpbm.h"
#include "convert/images/qoi.h"
#include "convert/images/tga.h"

namespace images {
namespace {

constexpr uint64_t kMaxImageFileBytes = 1ull << 30;  // 1 GiB: the largest image file we read whole
constexpr uint64_t kBytesPerMB = 1ull << 20;
constexpr double kPointsPerPixel = 0.75;              // 96 pixels to the inch, 72 points to the inch
constexpr double kLongestPageSide = 842;              // points: the long side of an A4 page
constexpr int32_t kPdfJpegQuality = 92;

constexpr std::array<std::string_view, 8> kOwnReadExtensions = {"tga", "qoi", "ppm", "pgm", "pbm", "pnm", "pam", "svg"};
constexpr std::array<std::string_view, 24> kRawExtensions = {
    "dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "orf", "rw2", "raf", "pef",
    "srw", "raw", "3fr", "erf", "kdc", "dcr", "mrw", "x3f", "iiq", "mef", "mos"};

bool Contains(const auto& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string ReadImageFile(const std::string& path) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) throw ConvertError("Couldn't open this image", HResultFromErrno(errno));
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || static_cast<uint64_t>(info.st_size) > kMaxImageFileBytes)
        throw ConvertError("This image file is too large");
    std::string bytes;
    if (!ReadExactly(file.get(), static_cast<size_t>(info.st_size), bytes) ||
        bytes.size() != static_cast<size_t>(info.st_size))
        throw ConvertError("Couldn't read this image");
    return bytes;
}

imaging::SourcePtr FromPixels(PixelBuffer pixels) {
    auto bitmap = std::make_shared<imaging::Bitmap>(pixels.width, pixels.height, imaging::PixelFormat::kBgra32);
    if (bitmap->Pixels().size() != pixels.bgra.size()) throw ConvertError("Not enough memory for this image");
    bitmap->Pixels() = std::move(pixels.bgra);
    return bitmap;
}

imaging::SourcePtr OpenOwnRead(const std::string& extension, const std::string& bytes, uint64_t budget) {
    if (extension == "svg") return imaging::RenderSvg(bytes, budget);
    if (extension == "tga") return FromPixels(DecodeTga(bytes));
    if (extension == "qoi") return FromPixels(DecodeQoi(bytes));
    return FromPixels(DecodeNetpbm(bytes));
}

[[noreturn]] void ThrowNoDecoder(const std::string& extension) {
    if (extension == "heic" || extension == "heif")
        throw ConvertError("Install \"HEIF Image Extensions\" from the Microsoft Store to open HEIC",
                           imaging::kComponentNotFound);
    if (extension == "webp")
        throw ConvertError("Install \"WebP Image Extensions\" from the Microsoft Store to open WebP",
                           imaging::kComponentNotFound);
    if (extension == "avif")
        throw ConvertError("Install \"AV1 Video Extension\" from the Microsoft Store to open AVIF",
                           imaging::kComponentNotFound);
    throw ConvertError("Couldn't open this image", imaging::kComponentNotFound);
}

std::string PdfPageOf(const imaging::SourcePtr& source) {
    const uint32_t width = source->Width(), height = source->Height();
    std::string jpeg = EncodeToMemory(source, kJpg, kPdfJpegQuality);
    double longer = kPointsPerPixel * std::max(width, height);
    double scale = std::min(kLongestPageSide / longer, 1.0) * kPointsPerPixel;
    PdfFile pdf;
    size_t image = pdf.AddImage(std::move(jpeg), width, height);
    size_t page = pdf.NewPage(width * scale, height * scale);
    pdf.PutImage(page, image, 0, 0, width * scale, height * scale);
    return pdf.Serialize();
}

}  // namespace

uint64_t DecodeMemoryBudget(const ConvertContext& context) {
    LimitSettings limits = context.limits ? context.limits->Get() : LimitSettings{};
    return limits.RamMB > 0 ? static_cast<uint64_t>(limits.RamMB) * kBytesPerMB : 0;
}

imaging::SourcePtr OpenImage(const std::string& path, const ConvertContext& context) {
    const std::string extension = ExtensionOf(path);
    const uint64_t budget = DecodeMemoryBudget(context);
    auto file = std::make_shared<const std::string>(ReadImageFile(path));
    const std::string& bytes = *file;
    if (Contains(kOwnReadExtensions, extension)) return OpenOwnRead(extension, bytes, budget);

    imaging::DecodeOptions options;
    options.memoryBudget = budget;
    options.keepBytes = file;  // decoders may go on reading rows while the encoder starts
    options.tryRawFirst = Contains(kRawExtensions, extension);
    imaging::DecodedFrame frame;
    if (imaging::DecodeFirstFrame(bytes, options, frame) != imaging::S_OK) ThrowNoDecoder(extension);
    int orientation = frame.orientation == imaging::kOrientationFromExif ? FileExifOrientation(bytes) : frame.orientation;
    return imaging::OrientSource(std::move(frame.source), orientation);
}

}  // namespace images

std::string ConvertImage(const std::string& input, const Target& target, ConvertContext& context) {
    imaging::SourcePtr source = images::OpenImage(input, context);
    context.Report(0.15);
    context.ThrowIfCancelled();
    std::string bytes = target.format == kPdf
                            ? images::PdfPageOf(source)
                            : images::EncodeSource(source, target.format, images::EffectiveQuality(target.option));
    context.ThrowIfCancelled();
    std::string output =
        PublishOutput(FolderOf(input), OutputStem(input, target.suffix), FormatExtension(target.format), bytes);
    context.Report(1.0);
    return output;
}
