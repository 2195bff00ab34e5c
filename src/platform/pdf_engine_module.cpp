// The module behind pdf_engine.h: poppler's own document, rendering and text classes,
// and tesseract for recognition. Built as quillaven-pdf.so and linked against nothing
// of the program, so it may only use what it is handed.
//
// poppler's document classes rather than its small C++ wrapper, because only they let a
// render be bounded: every few drawing operators a check stops the page when the user
// cancels or the time limit passes, and an image whose declared size would take minutes
// to scale fails the page at once instead of being drawn.
//
// Neither library may print: a worker's standard output is its protocol pipe. poppler's
// error hook, tesseract's debug file and leptonica's message level are set to silence
// before any document or recogniser exists.
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <TextOutputDev.h>
#include <goo/GooString.h>
#include <leptonica/allheaders.h>
#include <splash/SplashBitmap.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <chrono>
#include <cstring>

#include "platform/pdf_engine.h"

namespace pdfengine {
namespace {

constexpr double kMaxImagePixels = 400e6;   // a larger image takes minutes to scale and is never real
constexpr auto kPageTimeLimit = std::chrono::seconds(120);  // far past any real page; the rest is a runaway

void IgnorePopplerMessage(ErrorCategory, Goffset, const char*) {}

bool CancelRequested(void* cancel, int) {
    return cancel && static_cast<const std::atomic<bool>*>(cancel)->load(std::memory_order_relaxed);
}

// What stops a page: the cancel flag, the time limit, or an image too large to draw.
struct PageGuard {
    const std::atomic<bool>* cancel = nullptr;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kPageTimeLimit;
    bool refused = false;

    bool Stop() const {
        return refused || (cancel && cancel->load(std::memory_order_relaxed)) ||
               std::chrono::steady_clock::now() > deadline;
    }
    static bool Check(void* guard) { return static_cast<PageGuard*>(guard)->Stop(); }
    bool Allow(int width, int height) {
        if (double(width) * double(height) > kMaxImagePixels) refused = true;
        return !refused;
    }
};

// The image operators refuse what the guard refuses; the page then stops at the next check.
class GuardedSplash final : public SplashOutputDev {
public:
    GuardedSplash(SplashColorPtr paper, PageGuard& guard)
        : SplashOutputDev(splashModeXBGR8, 4, false, paper, true, splashThinLineDefault), guard_(guard) {}

    void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert, bool interpolate,
                       bool inlineImg) override {
        if (guard_.Allow(width, height))
            SplashOutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate, inlineImg);
    }
    void setSoftMaskFromImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                                  bool inlineImg, double* baseMatrix) override {
        if (guard_.Allow(width, height))
            SplashOutputDev::setSoftMaskFromImageMask(state, ref, str, width, height, invert, inlineImg, baseMatrix);
    }
    void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                   bool interpolate, const int* maskColors, bool inlineImg) override {
        if (guard_.Allow(width, height))
            SplashOutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors, inlineImg);
    }
    void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                         bool interpolate, Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert,
                         bool maskInterpolate) override {
        if (guard_.Allow(width, height) && guard_.Allow(maskWidth, maskHeight))
            SplashOutputDev::drawMaskedImage(state, ref, str, width, height, colorMap, interpolate, maskStr, maskWidth,
                                             maskHeight, maskInvert, maskInterpolate);
    }
    void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                             int maskHeight, GfxImageColorMap* maskColorMap, bool maskInterpolate) override {
        if (guard_.Allow(width, height) && guard_.Allow(maskWidth, maskHeight))
            SplashOutputDev::drawSoftMaskedImage(state, ref, str, width, height, colorMap, interpolate, maskStr,
                                                 maskWidth, maskHeight, maskColorMap, maskInterpolate);
    }

private:
    PageGuard& guard_;
};

// Text needs no image data: an inline image is left for the content parser to skip
// rather than read byte by byte, however large it claims to be.
class TextOnly final : public TextOutputDev {
public:
    TextOnly() : TextOutputDev(nullptr, false, 0, false, false) {}
    void drawImageMask(GfxState*, Object*, Stream*, int, int, bool, bool, bool) override {}
    void drawImage(GfxState*, Object*, Stream*, int, int, GfxImageColorMap*, bool, const int*, bool) override {}
    void drawMaskedImage(GfxState*, Object*, Stream*, int, int, GfxImageColorMap*, bool, Stream*, int, int, bool,
                         bool) override {}
    void drawSoftMaskedImage(GfxState*, Object*, Stream*, int, int, GfxImageColorMap*, bool, Stream*, int, int,
                             GfxImageColorMap*, bool) override {}
};

void AppendUtf16(std::u16string& out, Unicode c) {
    if (c >= 0x110000 || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

class PopplerDocument final : public PdfDocument {
public:
    explicit PopplerDocument(std::unique_ptr<PDFDoc> document) : document_(std::move(document)) {}

    int PageCount() const override { return document_->getNumPages(); }

    bool PageSize(int index, double& width, double& height) override {
        if (index < 0 || index >= document_->getNumPages() || !document_->getPage(index + 1)) return false;
        width = document_->getPageCropWidth(index + 1);
        height = document_->getPageCropHeight(index + 1);
        int turn = document_->getPageRotate(index + 1);
        if (turn == 90 || turn == 270) std::swap(width, height);
        return true;
    }

    Status Render(int index, double dpi, uint32_t width, uint32_t height, uint8_t* pixels,
                  const std::atomic<bool>* cancel) override {
        if (index < 0 || index >= document_->getNumPages() || !document_->getPage(index + 1)) return Status::kFailed;
        PageGuard guard;
        guard.cancel = cancel;
        SplashColor paper = {0xFF, 0xFF, 0xFF, 0xFF};
        GuardedSplash splash(paper, guard);
        // The same smoothing a viewer and the usual rasterisers use; hinting stays off
        // so that glyph shapes do not depend on the size.
        splash.setFontAntialias(true);
        splash.setVectorAntialias(true);
        splash.setFreeTypeHinting(false, false);
        splash.startDoc(document_.get());
        document_->displayPageSlice(&splash, index + 1, dpi, dpi, 0, false, true, false, 0, 0, static_cast<int>(width),
                                    static_cast<int>(height), &PageGuard::Check, &guard);
        if (cancel && cancel->load()) return Status::kCancelled;
        SplashBitmap* bitmap = splash.getBitmap();
        if (guard.Stop() || !bitmap || bitmap->getWidth() != static_cast<int>(width) ||
            bitmap->getHeight() != static_cast<int>(height))
            return Status::kFailed;
        // XBGR8 words in host order are B, G, R, X bytes on a little-endian machine; X
        // is the opaque paper's 255.
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        const uint8_t* source = bitmap->getDataPtr();
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(pixels + rowBytes * y, source + static_cast<size_t>(bitmap->getRowSize()) * y, rowBytes);
        return Status::kOk;
    }

    std::vector<LayerWord> Words(int index) override {
        std::vector<LayerWord> words;
        if (index < 0 || index >= document_->getNumPages() || !document_->getPage(index + 1)) return words;
        PageGuard guard;
        TextOnly text;
        // 72 dpi: the boxes come out in points, from the top-left corner of the page as shown.
        document_->displayPageSlice(&text, index + 1, 72, 72, 0, false, false, false, -1, -1, -1, -1,
                                    &PageGuard::Check, &guard);
        std::unique_ptr<TextWordList> list = text.makeWordList();
        if (!list) return words;
        for (int i = 0; i < list->getLength(); ++i) {
            const TextWord* source = list->get(i);
            LayerWord word;
            for (int c = 0; c < source->getLength(); ++c) AppendUtf16(word.text, *source->getChar(c));
            source->getBBox(&word.left, &word.top, &word.right, &word.bottom);
            word.spaceAfter = source->hasSpaceAfter();
            word.turn = source->getRotation();
            words.push_back(std::move(word));
        }
        return words;
    }

private:
    std::unique_ptr<PDFDoc> document_;
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
        setErrorCallback(&IgnorePopplerMessage);
        globalParams = std::make_unique<GlobalParams>();
        globalParams->setErrQuiet(true);
        setMsgSeverity(L_SEVERITY_NONE);
    }

    OpenResult Open(const std::string& path, std::unique_ptr<PdfDocument>& result) override {
        auto document = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
        if (!document->isOk()) return document->getErrorCode() == errEncrypted ? OpenResult::kLocked : OpenResult::kUnreadable;
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
