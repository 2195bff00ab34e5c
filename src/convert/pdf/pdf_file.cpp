// PDF 1.4 serialisation. Object numbers are fixed: 1 catalogue, 2 page tree, 3-5
// the fonts, then one object per image, then per page its page object and content
// stream. Content streams are stored uncompressed.
#include "convert/pdf/pdf_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "convert/core/check.h"

namespace {

constexpr size_t kFirstImageObject = 6;  // after catalogue, page tree and the three fonts
constexpr std::array<std::string_view, 3> kFontNames = {"Helvetica", "Helvetica-Bold", "Courier"};
constexpr size_t kXrefOffsetDigits = 10;  // "%010zu": the fixed width of a cross-reference entry

template <typename Integer>
void AppendInteger(std::string& out, Integer value) {
    std::array<char, 24> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

void AppendPadded(std::string& out, size_t value, size_t digits) {
    std::array<char, 24> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    size_t length = static_cast<size_t>(result.ptr - buffer.data());
    if (length < digits) out.append(digits - length, '0');
    out.append(buffer.data(), length);
}

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '(' || c == ')' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 32 || byte > 126) {
            out.push_back('\\');
            out.push_back(static_cast<char>('0' + (byte >> 6)));
            out.push_back(static_cast<char>('0' + ((byte >> 3) & 7)));
            out.push_back(static_cast<char>('0' + (byte & 7)));
        } else {
            out.push_back(c);
        }
    }
}

// Collects objects and their offsets while the file is written front to back.
class Serializer {
public:
    explicit Serializer(std::string& out) : out_(out) {}
    void Begin(size_t number) {
        QUILL_CHECK(number == offsets_.size() + 1);
        offsets_.push_back(out_.size());
        AppendInteger(out_, number);
        out_.append(" 0 obj\n");
    }
    void End() { out_.append("endobj\n"); }
    void Finish() {
        size_t xref = out_.size();
        out_.append("xref\n0 ");
        AppendInteger(out_, offsets_.size() + 1);
        out_.append("\n0000000000 65535 f \n");
        for (size_t offset : offsets_) {
            AppendPadded(out_, offset, kXrefOffsetDigits);
            out_.append(" 00000 n \n");
        }
        out_.append("trailer\n<< /Size ");
        AppendInteger(out_, offsets_.size() + 1);
        out_.append(" /Root 1 0 R >>\nstartxref\n");
        AppendInteger(out_, xref);
        out_.append("\n%%EOF\n");
    }

private:
    std::string& out_;
    std::vector<size_t> offsets_;
};

}  // namespace

void AppendPdfNumber(std::string& out, double value) {
    if (!std::isfinite(value)) value = 0;
    // Fixed notation of the largest double needs about 310 digits before the point.
    std::array<char, 400> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 2);
    out.append(buffer.data(), result.ptr);
}

size_t PdfFile::NewPage(double width, double height) {
    PdfPage page;
    page.width = width;
    page.height = height;
    pages_.push_back(std::move(page));
    return pages_.size() - 1;
}

size_t PdfFile::AddImage(std::string jpeg, uint32_t width, uint32_t height) {
    images_.push_back(PdfImage{std::move(jpeg), width, height});
    return images_.size() - 1;
}

void PdfFile::AppendContent(size_t page, std::string_view operators) {
    QUILL_CHECK(page < pages_.size());
    if (page < pages_.size()) pages_[page].content.append(operators);
}

void PdfFile::PutText(size_t page, PdfFont font, double size, double x, double y, std::string_view winAnsi) {
    QUILL_CHECK(page < pages_.size());
    if (page >= pages_.size()) return;
    std::string& out = pages_[page].content;
    out.append("BT /F");
    AppendInteger(out, static_cast<int>(font));
    out.push_back(' ');
    AppendPdfNumber(out, size);
    out.append(" Tf ");
    AppendPdfNumber(out, x);
    out.push_back(' ');
    AppendPdfNumber(out, y);
    out.append(" Td (");
    AppendEscaped(out, winAnsi);
    out.append(") Tj ET\n");
}

void PdfFile::PutImage(size_t page, size_t image, double x, double y, double width, double height) {
    // A reference to an image that was never added would make the page unreadable.
    QUILL_CHECK(page < pages_.size() && image < images_.size());
    if (page >= pages_.size() || image >= images_.size()) return;
    PdfPage& target = pages_[page];
    if (std::find(target.images.begin(), target.images.end(), image) == target.images.end())
        target.images.push_back(image);
    std::string& out = target.content;
    out.append("q ");
    AppendPdfNumber(out, width);
    out.append(" 0 0 ");
    AppendPdfNumber(out, height);
    out.push_back(' ');
    AppendPdfNumber(out, x);
    out.push_back(' ');
    AppendPdfNumber(out, y);
    out.append(" cm /Im");
    AppendInteger(out, image);
    out.append(" Do Q\n");
}

std::string PdfFile::Serialize() const {
    std::string out;
    size_t reserve = 4096 + pages_.size() * 400;
    for (const auto& page : pages_) reserve += page.content.size();
    for (const auto& image : images_) reserve += image.jpeg.size() + 200;
    out.reserve(reserve);

    out.append("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    Serializer objects(out);
    const size_t firstPageObject = kFirstImageObject + images_.size();

    objects.Begin(1);
    out.append("<< /Type /Catalog /Pages 2 0 R >>\n");
    objects.End();

    objects.Begin(2);
    out.append("<< /Type /Pages /Count ");
    AppendInteger(out, pages_.size());
    out.append(" /Kids [");
    for (size_t i = 0; i < pages_.size(); ++i) {
        AppendInteger(out, firstPageObject + 2 * i);
        out.append(" 0 R ");
    }
    out.append("] >>\n");
    objects.End();

    for (size_t i = 0; i < kFontNames.size(); ++i) {
        objects.Begin(3 + i);
        out.append("<< /Type /Font /Subtype /Type1 /BaseFont /");
        out.append(kFontNames[i]);
        out.append(" /Encoding /WinAnsiEncoding >>\n");
        objects.End();
    }

    for (size_t i = 0; i < images_.size(); ++i) {
        const PdfImage& image = images_[i];
        objects.Begin(kFirstImageObject + i);
        out.append("<< /Type /XObject /Subtype /Image /Width ");
        AppendInteger(out, image.width);
        out.append(" /Height ");
        AppendInteger(out, image.height);
        out.append(" /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length ");
        AppendInteger(out, image.jpeg.size());
        out.append(" >>\nstream\n");
        out.append(image.jpeg);
        out.append("\nendstream\n");
        objects.End();
    }

    for (size_t i = 0; i < pages_.size(); ++i) {
        const PdfPage& page = pages_[i];
        size_t pageObject = firstPageObject + 2 * i;
        objects.Begin(pageObject);
        out.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ");
        AppendPdfNumber(out, page.width);
        out.push_back(' ');
        AppendPdfNumber(out, page.height);
        out.append("] /Resources << /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R >>");
        if (!page.images.empty()) {
            out.append(" /XObject <<");
            for (size_t image : page.images) {
                out.append(" /Im");
                AppendInteger(out, image);
                out.push_back(' ');
                AppendInteger(out, kFirstImageObject + image);
                out.append(" 0 R");
            }
            out.append(" >>");
        }
        out.append(" >> /Contents ");
        AppendInteger(out, pageObject + 1);
        out.append(" 0 R >>\n");
        objects.End();

        objects.Begin(pageObject + 1);
        out.append("<< /Length ");
        AppendInteger(out, page.content.size());
        out.append(" >>\nstream\n");
        out.append(page.content);
        // The stream's own bytes end where /Length says; the line feed before
        // "endstream" is the end-of-line marker the format asks for.
        out.append("\nendstream\n");
        objects.End();
    }

    objects.Finish();
    return out;
}
