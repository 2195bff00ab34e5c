#include "convert/pdf/pdf_render.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "convert/core/errors.h"

namespace {

constexpr double kExportMaxSide = 4000;        // page images stay a size every viewer opens
constexpr double kExportMaxScale = 2.0;        // more than twice the page adds no detail to text
constexpr double kRecogniserMaxSide = 10000;   // the recogniser's largest image dimension
constexpr double kRecognitionMaxScale = 3.0;   // 288 pixels per inch: past that recognition gains nothing
constexpr double kRecognitionMaxPixels = 40e6;  // a poster-sized page is recognised in seconds, not minutes
constexpr uint64_t kBytesPerRenderedPixel = 16;  // renderer bitmap, its copy, our buffer, encoder or recogniser copy
constexpr uint64_t kLibraryWorkingSet = 96ull << 20;  // poppler's document and fonts, the recogniser's model

RenderSize Fit(PageSize page, double scale) {
    auto side = [scale](double dips) {
        double pixels = std::floor(dips * scale);
        return static_cast<uint32_t>(std::clamp(pixels, 1.0, static_cast<double>(images::kMaxImageSide)));
    };
    return RenderSize{side(page.width), side(page.height), scale};
}

}  // namespace

RenderSize ExportRenderSize(PageSize page) {
    double longer = std::max(page.width, page.height);
    return Fit(page, std::min(kExportMaxSide / longer, kExportMaxScale));
}

RenderSize RecognitionRenderSize(PageSize page) {
    double longer = std::max(page.width, page.height);
    double scale = std::min(kRecogniserMaxSide / longer, kRecognitionMaxScale);
    double area = page.width * page.height * scale * scale;
    if (area > kRecognitionMaxPixels) scale *= std::sqrt(kRecognitionMaxPixels / area);
    return Fit(page, scale);
}

void CheckRenderMemory(uint64_t pixels, const ConvertContext& context) {
    if (!context.limits) return;
    int32_t ramMB = context.limits->Get().RamMB;
    if (ramMB < 1) return;
    if (pixels * kBytesPerRenderedPixel + kLibraryWorkingSet > (static_cast<uint64_t>(ramMB) << 20))
        throw std::bad_alloc();
}

void ThrowPdfEngineFailure() { throw ConvertError("Windows couldn't process this PDF"); }

LoadedPdf::LoadedPdf(const std::string& path) {
    pdfengine::Engine* engine = pdfengine::LoadEngine();
    if (!engine) ThrowPdfEngineFailure();
    if (engine->Open(path, document_) != pdfengine::OpenResult::kOpened)
        throw ConvertError("Couldn't open this PDF (it may be password protected)");
    pages_ = document_->PageCount();
    if (pages_ <= 0) throw ConvertError("This PDF has no pages");
    if (pages_ > kMaxPdfPages) throw ConvertError("This PDF has too many pages (2000 max)");
}

PageSize LoadedPdf::Size(int index) const {
    double width = 0, height = 0;
    if (!document_->PageSize(index, width, height)) ThrowPdfEngineFailure();
    // A page without area (or with a box of absurd numbers) cannot be rendered.
    if (!(width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height))) ThrowPdfEngineFailure();
    return PageSize{width * kPointsToDips, height * kPointsToDips};
}

images::PixelBuffer LoadedPdf::Render(int index, const RenderSize& size, const ConvertContext& context) const {
    const uint64_t pixels = static_cast<uint64_t>(size.width) * size.height;
    CheckRenderMemory(pixels, context);
    images::PixelBuffer buffer;
    buffer.width = size.width;
    buffer.height = size.height;
    buffer.bgra.resize(pixels * 4);
    // DIPs are 1/96 inch, so the scale from DIPs to pixels is the resolution over 96.
    switch (document_->Render(index, size.scale * 96.0, size.width, size.height, buffer.bgra.data(), context.cancel)) {
    case pdfengine::Status::kOk: break;
    case pdfengine::Status::kCancelled: throw Cancelled();
    case pdfengine::Status::kFailed: ThrowPdfEngineFailure();
    }
    // The renderer's pixels are premultiplied; ours carry straight alpha. The paper is
    // opaque, so this only matters should a page ever come back translucent.
    for (size_t i = 0; i < buffer.bgra.size(); i += 4) {
        uint8_t alpha = buffer.bgra[i + 3];
        if (alpha == 255) continue;
        for (size_t c = 0; c < 3; ++c)
            buffer.bgra[i + c] =
                alpha == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (buffer.bgra[i + c] * 255u + alpha / 2u) / alpha));
    }
    return buffer;
}

std::vector<pdfengine::LayerWord> LoadedPdf::Words(int index) const { return document_->Words(index); }
