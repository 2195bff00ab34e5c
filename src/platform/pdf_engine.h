// The PDF and text-recognition services behind PDF input: poppler loads documents,
// renders pages and reads their text layers; tesseract recognises text in rendered
// pages. Both live in a module of their own (quillaven-pdf.so) that is opened on
// first use, so that the host and the workers converting anything else never map
// these libraries. The interface passes only plain values; the conversion rules,
// limits and messages stay in the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pdfengine {

// A word of a page's text layer, in points from the top-left corner of the page as
// it is shown (crop box, page rotation applied).
struct LayerWord {
    std::u16string text;
    double left = 0, top = 0, right = 0, bottom = 0;
    bool spaceAfter = false;  // the producer put a space between this word and the next
    int turn = 0;             // quarter turns clockwise of its reading direction: 0 reads left to right
};

// A recognised word in pixels of the image it was found in.
struct RecognisedWord {
    std::string text;  // UTF-8
    int32_t left = 0, top = 0, width = 0, height = 0;
    float confidence = 0;  // 0..100
};
using RecognisedLine = std::vector<RecognisedWord>;

enum class Status { kOk, kFailed, kCancelled };

class PdfDocument {
public:
    virtual ~PdfDocument() = default;
    virtual int PageCount() const = 0;
    // The page's crop box in points, width and height swapped for a quarter turn.
    // False when the page cannot be read.
    virtual bool PageSize(int index, double& width, double& height) = 0;
    // Renders the whole page at `dpi` (the same both ways) into `width` x `height`
    // pixels, top-down rows of B, G, R, A bytes with premultiplied alpha, on white.
    // Stops with kCancelled when `cancel` is set during the render, and fails on a page
    // that runs past the time limit or draws an image of an impossible size.
    virtual Status Render(int index, double dpi, uint32_t width, uint32_t height, uint8_t* pixels,
                          const std::atomic<bool>* cancel) = 0;
    // The words of the page's text layer in reading order.
    virtual std::vector<LayerWord> Words(int index) = 0;
};

class Recogniser {
public:
    virtual ~Recogniser() = default;
    // Recognises a top-down B, G, R, A image at `dpi`; lines in the order the page
    // layout analysis finds them. `cancel` is polled while recognition runs.
    virtual Status Recognise(const uint8_t* pixels, uint32_t width, uint32_t height, int dpi,
                             const std::atomic<bool>* cancel, std::vector<RecognisedLine>& lines) = 0;
};

enum class OpenResult { kOpened, kUnreadable, kLocked };

class Engine {
public:
    virtual ~Engine() = default;
    virtual OpenResult Open(const std::string& path, std::unique_ptr<PdfDocument>& document) = 0;
    // A recogniser for one tesseract language (its data file name without
    // ".traineddata") from `dataFolder`; null when the data cannot be loaded.
    virtual std::unique_ptr<Recogniser> CreateRecogniser(const std::string& dataFolder, const std::string& language) = 0;
};

// The module's one exported function, looked up by this name.
inline constexpr const char* kEntryPoint = "QuillavenPdfEngine";
using EntryPoint = Engine* (*)();

// The engine of the module, loaded once per process; null when the module or its
// libraries are missing.
Engine* LoadEngine();

}  // namespace pdfengine
