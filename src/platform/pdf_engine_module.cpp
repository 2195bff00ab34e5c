// The module behind pdf_engine.h: poppler (through its C++ interface) for loading,
// rendering and text layers, tesseract for recognition. Built as quillaven-pdf.so
// and linked against nothing of the program, so it may only use what it is handed.
//
// Neither library may print: a worker's standard output is its protocol pipe. poppler's
// error hook, tesseract's debug file and leptonica's message level are set to silence
// before any document or recogniser exists.
#include <leptonica/allheaders.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <cstring>

#include "platform/pdf_engine.h"

namespace pdfengine {
namespace {

void IgnorePopplerMessage(const std::string&, void*) {}

bool CancelRequested(void* cancel, int) {
    return cancel && static_cast<const std::atomic<bool>*>(cancel)->load(std::memory_order_relaxed);
}

class PopplerDocument final : public PdfDocument {
public:
    explicit PopplerDocument(std::unique_ptr<poppler::document> document) : document_(std::move(document)) {}

    int PageCount() const override { return document_->pages(); }

    bool PageSize(int index, double& width, double& height) override {
        std::unique_ptr<poppler::page> page(document_->create_page(index));
        if (!page) return false;
        poppler::rectf box = page->page_rect(poppler::crop_box);
        width = box.width();
        height = box.height();
        auto turn = page->orientation();
        if (turn == poppler::page::landscape || turn == poppler::page::seascape) std::swap(width, height);
        return true;
    }

    Status Render(int index, double dpi, uint32_t width, uint32_t height, uint8_t* pixels) override {
        std::unique_ptr<poppler::page> page(document_->create_page(index));
        if (!page) return Status::kFailed;
        poppler::page_renderer renderer;
        // The same smoothing a viewer and the usual rasterisers use; hinting stays off
        // so that glyph shapes do not depend on the size.
        renderer.set_render_hints(poppler::page_renderer::antialiasing | poppler::page_renderer::text_antialiasing);
        renderer.set_image_format(poppler::image::format_argb32);
        poppler::image image = renderer.render_page(page.get(), dpi, dpi, 0, 0, static_cast<int>(width),
                                                    static_cast<int>(height));
        if (!image.is_valid() || image.width() != static_cast<int>(width) ||
            image.height() != static_cast<int>(height) || image.format() != poppler::image::format_argb32)
            return Status::kFailed;
        // ARGB32 words in host order are B, G, R, A bytes on a little-endian machine.
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        const char* source = image.const_data();
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(pixels + rowBytes * y, source + static_cast<size_t>(image.bytes_per_row()) * y, rowBytes);
        return Status::kOk;
    }

    std::vector<LayerWord> Words(int index) override {
        std::vector<LayerWord> words;
        std::unique_ptr<poppler::page> page(document_->create_page(index));
        if (!page) return words;
        for (const poppler::text_box& box : page->text_list()) {
            LayerWord word;
            poppler::ustring text = box.text();
            word.text.assign(text.begin(), text.end());
            poppler::rectf rect = box.bbox();
            word.left = rect.left();
            word.top = rect.top();
            word.right = rect.right();
            word.bottom = rect.bottom();
            word.spaceAfter = box.has_space_after();
            word.turn = box.rotation();
            words.push_back(std::move(word));
        }
        return words;
    }

private:
    std::unique_ptr<poppler::document> document_;
};

class TesseractRecogniser final : public Recogniser {
public:
    bool Init(const std::string& dataFolder, const std::string& language) {
        // Set before Init, so that even a failing load prints nothing.
        api_.SetVariable("debug_file", "/dev/null");
        if (api_.Init(dataFolder.c_str(), language.c_str()) != 0) return false;
        // Automatic segmentation keeps columns apart, as the recogniser's own command does.
        api_.SetPageSegMode(tesseract::PSM_AUTO);
        return true;
    }

    Status Recognise(const uint8_t* pixels, uint32_t width, uint32_t height, int dpi, const std::atomic<bool>* cancel,
                     std::vector<RecognisedLine>& lines) override {
        // Grey is what recognition works on; converting here keeps one byte per pixel
        // in the recogniser's copy instead of four.
        std::vector<uint8_t> grey(static_cast<size_t>(width) * height);
        for (size_t i = 0; i < grey.size(); ++i) {
            const uint8_t* p = pixels + i * 4;
            grey[i] = static_cast<uint8_t>((p[0] * 29u + p[1] * 150u + p[2] * 77u + 128u) >> 8);
        }
        api_.SetImage(grey.data(), static_cast<int>(width), static_cast<int>(height), 1, static_cast<int>(width));
        api_.SetSourceResolution(dpi);
        tesseract::ETEXT_DESC monitor;
        monitor.cancel = &CancelRequested;
        monitor.cancel_this = const_cast<std::atomic<bool>*>(cancel);
        int failed = api_.Recognize(&monitor);
        if (cancel && cancel->load()) return Status::kCancelled;
        if (failed != 0) return Status::kFailed;

        std::unique_ptr<tesseract::ResultIterator> it(api_.GetIterator());
        if (!it) return Status::kOk;
        bool lineStarts = true;
        do {
            if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) lineStarts = true;
            if (it->Empty(tesseract::RIL_WORD)) continue;
            std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
            int left, top, right, bottom;
            if (!text || !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom)) continue;
            if (lineStarts || lines.empty()) lines.emplace_back();
            lineStarts = false;
            lines.back().push_back(RecognisedWord{text.get(), left, top, right - left, bottom - top,
                                                  it->Confidence(tesseract::RIL_WORD)});
        } while (it->Next(tesseract::RIL_WORD));
        api_.Clear();
        return Status::kOk;
    }

private:
    tesseract::TessBaseAPI api_;
};

class ModuleEngine final : public Engine {
public:
    ModuleEngine() {
        poppler::set_debug_error_function(&IgnorePopplerMessage, nullptr);
        setMsgSeverity(L_SEVERITY_NONE);
    }

    OpenResult Open(const std::string& path, std::unique_ptr<PdfDocument>& result) override {
        std::unique_ptr<poppler::document> document(poppler::document::load_from_file(path));
        if (!document) return OpenResult::kUnreadable;
        if (document->is_locked()) return OpenResult::kLocked;
        result = std::make_unique<PopplerDocument>(std::move(document));
        return OpenResult::kOpened;
    }

    std::unique_ptr<Recogniser> CreateRecogniser(const std::string& dataFolder, const std::string& language) override {
        auto recogniser = std::make_unique<TesseractRecogniser>();
        if (!recogniser->Init(dataFolder, language)) return nullptr;
        return recogniser;
    }
};

}  // namespace
}  // namespace pdfengine

extern "C" __attribute__((visibility("default"))) pdfengine::Engine* QuillavenPdfEngine() {
    static pdfengine::ModuleEngine engine;
    return &engine;
}
