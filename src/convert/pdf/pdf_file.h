// A small PDF 1.4 file builder: pages with plain-text content streams, the three
// standard Type 1 fonts (Helvetica /F1, Helvetica-Bold /F2, Courier /F3) in
// WinAnsiEncoding, and JPEG images passed through with /DCTDecode. The whole file
// is built in memory and written once with an exact cross-reference table.
// Limits: 32-bit image dimensions; byte offsets up to 10 digits (the xref format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct PdfPage {
    double width = 0;   // points
    double height = 0;  // points
    std::string content;       // the content stream, ASCII text
    std::vector<size_t> images;  // indices into PdfFile's images, each once, in order of first use
};

struct PdfImage {
    std::string jpeg;  // the complete JPEG file
    uint32_t width = 0;
    uint32_t height = 0;
};

enum class PdfFont { kHelvetica = 1, kHelveticaBold = 2, kCourier = 3 };

class PdfFile {
public:
    // Appends a page with an empty content stream and returns its index.
    size_t NewPage(double width, double height);
    // Keeps the JPEG bytes for pages to draw; returns the image's index.
    size_t AddImage(std::string jpeg, uint32_t width, uint32_t height);

    // Draws WinAnsi bytes with a standard font; (x, y) is the baseline start in points.
    void PutText(size_t page, PdfFont font, double size, double x, double y, std::string_view winAnsi);
    // Draws an added image scaled to width x height points with its lower left corner at (x, y).
    void PutImage(size_t page, size_t image, double x, double y, double width, double height);

    // The complete file.
    std::string Serialize() const;

    const std::vector<PdfPage>& Pages() const { return pages_; }
    // Appends raw operators (already formatted) to a page's content stream.
    void AppendContent(size_t page, std::string_view operators);

private:
    std::vector<PdfPage> pages_;
    std::vector<PdfImage> images_;
};

// A number as content streams and dictionaries carry it: fixed, two decimals,
// independent of the process locale. Non-finite values are written as 0.
void AppendPdfNumber(std::string& out, double value);
