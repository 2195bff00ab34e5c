// PDF input: loading a PDF, its page sizes, and rendering pages into pixel buffers,
// through the PDF engine module. Page sizes are device-independent pixels (points x
// 96 / 72) of the page as shown; the render sizes follow the two scale rules below.
//
// Limits: 1 to 2000 pages; page images at most 4000 pixels on the longer side and at
// most twice the page's own size; pages for recognition at most 10000 pixels on the
// longer side, three times the page's size and 40 million pixels in all; no render is
// started whose memory would not fit under the RAM limit in Settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/core/context.h"
#include "convert/images/pixel_buffer.h"
#include "platform/pdf_engine.h"

inline constexpr int kMaxPdfPages = 2000;
inline constexpr double kPointsToDips = 96.0 / 72.0;

struct PageSize {
    double width = 0, height = 0;  // DIPs
};

// The pixels a page is rendered to and the factor from DIPs to those pixels.
struct RenderSize {
    uint32_t width = 0, height = 0;
    double scale = 0;
};

// Page images: scale = min(4000 / longer side, 2); each side truncated, at least 1.
RenderSize ExportRenderSize(PageSize page);
// Recognition: scale = min(10000 / longer side, 3), lowered further until the page
// holds at most 40 million pixels; each side truncated, at least 1.
RenderSize RecognitionRenderSize(PageSize page);

// Bytes of memory a render of `pixels` needs at its peak: the renderer's bitmap and its
// copy, our buffer, and what the encoder or recogniser builds from it, plus the libraries'
// own working set. Throws std::bad_alloc, which the worker reports as the RAM limit's
// message, when that exceeds the RAM limit of `context`.
void CheckRenderMemory(uint64_t pixels, const ConvertContext& context);

class LoadedPdf {
public:
    // Loads the PDF. Throws ConvertError "Couldn't open this PDF (it may be password
    // protected)", "This PDF has no pages", "This PDF has too many pages (2000 max)",
    // and "Windows couldn't process this PDF" when the PDF engine is missing.
    explicit LoadedPdf(const std::string& path);

    int PageCount() const { return pages_; }
    // Throws ConvertError "Windows couldn't process this PDF" for an unreadable page.
    PageSize Size(int index) const;
    // The page rendered on white into straight-alpha BGRA. Throws ConvertError "Windows
    // couldn't process this PDF" when rendering fails or runs away, std::bad_alloc past
    // the RAM limit, Cancelled when the context's cancel flag is set meanwhile.
    images::PixelBuffer Render(int index, const RenderSize& size, const ConvertContext& context) const;
    std::vector<pdfengine::LayerWord> Words(int index) const;

private:
    std::unique_ptr<pdfengine::PdfDocument> document_;
    int pages_ = 0;
};

// The message of any PDF engine failure that no step turns into its own.
[[noreturn]] void ThrowPdfEngineFailure();
