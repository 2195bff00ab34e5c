// The PDF text reader: each page's lines come from its text layer when that stands for
// the page, otherwise from recognising the rendered page, and the layout analysis turns
// them into blocks. The recogniser is made only when a page needs it, so that a PDF
// with text converts also where no recognition language is installed.
#include <memory>
#include <optional>

#include "convert/core/errors.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/readers.h"
#include "convert/pdf/pdf_render.h"
#include "convert/pdf/pdf_text_layout.h"
#include "convert/pdf/recognition_language.h"

namespace {

constexpr double kProgressStart = 0.05;  // reading begins here; the writer takes what is left after 0.3
constexpr double kProgressShare = 0.25;
constexpr size_t kRecognitionWins = 2;  // recognised text replaces a thin layer when over twice as long

class LazyRecogniser {
public:
    // The recogniser, made on first use; null when no language data is installed.
    pdfengine::Recogniser* Get() {
        if (!tried_) {
            tried_ = true;
            const std::string folder = RecognitionDataFolder();
            if (std::optional<std::string> language = ChooseRecognitionLanguage(LocaleSettingsFromEnvironment(), folder)) {
                pdfengine::Engine* engine = pdfengine::LoadEngine();
                if (!engine) ThrowPdfEngineFailure();
                recogniser_ = engine->CreateRecogniser(folder, *language);
            }
        }
        return recogniser_.get();
    }

private:
    bool tried_ = false;
    std::unique_ptr<pdfengine::Recogniser> recogniser_;
};

std::vector<TextLine> RecognisePage(const LoadedPdf& pdf, int index, const RenderSize& size, pdfengine::Recogniser& recogniser,
                                    const ConvertContext& context) {
    images::PixelBuffer page = pdf.Render(index, size, context);
    std::vector<pdfengine::RecognisedLine> lines;
    // The recogniser is told the resolution the page was rendered at, so that it
    // judges text sizes in points rather than guessing.
    const int dpi = static_cast<int>(size.scale * 96.0 + 0.5);
    switch (recogniser.Recognise(page.bgra.data(), page.width, page.height, dpi, context.cancel, lines)) {
    case pdfengine::Status::kOk: break;
    case pdfengine::Status::kCancelled: throw Cancelled();
    case pdfengine::Status::kFailed: ThrowPdfEngineFailure();
    }
    return LinesFromRecognition(lines);
}

}  // namespace

Document ReadPdfText(const std::string& path, ConvertContext& context) {
    LoadedPdf pdf(path);
    const int pages = pdf.PageCount();
    LazyRecogniser recogniser;
    Document document;
    for (int p = 0; p < pages; ++p) {
        context.ThrowIfCancelled();
        const PageSize size = pdf.Size(p);
        const RenderSize render = RecognitionRenderSize(size);
        std::vector<pdfengine::LayerWord> words = pdf.Words(p);
        const double pixelsPerPoint = render.scale * kPointsToDips;
        const double widthPt = size.width / kPointsToDips, heightPt = size.height / kPointsToDips;
        PageLines page{{}, double(render.height)};
        std::vector<TextLine>& lines = page.lines;
        if (TextLayerCoversPage(words, widthPt, heightPt)) {
            page = LinesFromTextLayer(words, widthPt, heightPt, pixelsPerPoint);
        } else {
            const size_t layerCharacters = TextLayerCharacters(words);
            if (pdfengine::Recogniser* engine = recogniser.Get()) {
                lines = RecognisePage(pdf, p, render, *engine, context);
            } else if (layerCharacters == 0) {
                throw ConvertError(
                    "Windows has no text recognition language installed (Settings > Time & language > Language)");
            }
            // A thin text layer still wins unless recognition found clearly more: a scan that
            // carries a stamp or a page number as text is read from its pixels, while a sparse
            // page of real text keeps its exact words.
            if (layerCharacters > 0 && LineCharacters(lines) <= kRecognitionWins * layerCharacters)
                page = LinesFromTextLayer(words, widthPt, heightPt, pixelsPerPoint);
        }
        DropPageNumbers(lines, page.height);
        AppendPageBlocks(document, lines, p > 0);
        context.Report(kProgressStart + kProgressShare * (p + 1) / pages);
    }
    if (document.blocks.empty()) throw ConvertError("No text was found in this PDF");
    document.title = Utf8ToWide(StemOf(path));
    return document;
}
