#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "convert/core/errors.h"
#include "convert/pdf/pdf_file.h"
#include "convert/pdf/pdf_text.h"
#include "support/pdf_probe.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// Every cross-reference entry must point exactly at its "n 0 obj" line.
void ExpectExactCrossReference(const std::string& pdf) {
    size_t startxref = pdf.rfind("startxref\n");
    ASSERT_NE(startxref, std::string::npos);
    size_t xref = std::strtoull(pdf.c_str() + startxref + 10, nullptr, 10);
    ASSERT_EQ(pdf.compare(xref, 5, "xref\n"), 0) << "startxref does not point at the table";
    std::istringstream table(pdf.substr(xref + 5));
    size_t first = 0, count = 0;
    table >> first >> count;
    ASSERT_EQ(first, 0u);
    std::string line;
    std::getline(table, line);
    std::getline(table, line);
    EXPECT_EQ(line, "0000000000 65535 f ");
    for (size_t number = 1; number < count; ++number) {
        ASSERT_TRUE(std::getline(table, line));
        ASSERT_EQ(line.size(), 19u) << line;  // "%010zu 00000 n " before the line feed
        EXPECT_EQ(line.substr(10), " 00000 n ");
        size_t offset = std::strtoull(line.c_str(), nullptr, 10);
        std::string header = std::to_string(number) + " 0 obj\n";
        EXPECT_EQ(pdf.compare(offset, header.size(), header), 0) << "object " << number;
    }
    std::getline(table, line);
    EXPECT_EQ(line, "trailer");
    std::getline(table, line);
    EXPECT_EQ(line, "<< /Size " + std::to_string(count) + " /Root 1 0 R >>");
}

}  // namespace

TEST(PdfFile, ExactCrossReferenceAndAJpegPassedThrough) {
    REQUIRE_TOOL("qpdf");
    REQUIRE_TOOL("pdfimages");
    TempDir dir;
    PdfFile file;
    size_t image = file.AddImage(ReadFile(DataPath("pdf/red-8x8.jpg")), 8, 8);
    size_t first = file.NewPage(595.28, 841.89);
    size_t second = file.NewPage(100, 50);
    file.PutText(first, PdfFont::kHelvetica, 11, 56, 700, "one");
    file.PutImage(second, image, 0, 0, 100, 50);
    file.PutImage(second, image, 10, 10, 5, 5);  // drawn twice, listed once in the resources
    std::string pdf = file.Serialize();
    ExpectExactCrossReference(pdf);
    // 1 catalogue, 2 page tree, 3-5 fonts, 6 the image, then page + content for each page.
    EXPECT_EQ(pdf.rfind("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", 0), 0u);
    EXPECT_NE(pdf.find("<< /Size 11 /Root 1 0 R >>"), std::string::npos);
    EXPECT_NE(pdf.find("/Count 2 /Kids [7 0 R 9 0 R ]"), std::string::npos);
    EXPECT_NE(pdf.find("/XObject << /Im0 6 0 R >> >> /Contents 10 0 R"), std::string::npos);

    file.Save(dir.File("image.pdf"));
    EXPECT_EQ(QpdfProblems(dir.File("image.pdf")), "");
    CommandResult list = RunCommand("pdfimages -list " + ShellQuote(dir.File("image.pdf")));
    EXPECT_NE(list.output.find("2     0 image       8     8  rgb     3   8  jpeg"), std::string::npos) << list.output;
}

TEST(PdfFile, ContentOperatorsUseTwoDecimalsAndEscapeStrings) {
    PdfFile file;
    size_t page = file.NewPage(612, 792);
    // "(", ")" and backslash are escaped; the euro (0x80) and a line feed become octal.
    file.PutText(page, PdfFont::kHelveticaBold, 13, 56, 700.456, std::string("a(b)c\\\x80\n", 8));
    file.PutImage(page, 0, 1, 2, 3, 4);  // no image 0: must not reference a missing object
    EXPECT_EQ(file.Pages()[page].content, "BT /F2 13.00 Tf 56.00 700.46 Td (a\\(b\\)c\\\\\\200\\012) Tj ET\n");
    EXPECT_TRUE(file.Pages()[page].images.empty());
}

TEST(PdfFile, SaveNeverReplacesAFileAndReportsCreationFailures) {
    TempDir dir;
    WriteFile(dir.File("taken.pdf"), "mine");
    PdfFile file;
    file.NewPage(612, 792);
    try {
        file.Save(dir.File("taken.pdf"));
        FAIL() << "an existing file was replaced";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "Couldn't create the PDF file");
        EXPECT_EQ(static_cast<uint32_t>(error.code), 0x80070000u | EEXIST);
    }
    EXPECT_EQ(ReadFile(dir.File("taken.pdf")), "mine");
    EXPECT_THROW(file.Save(dir.File("missing/out.pdf")), ConvertError);
}

TEST(PdfText, WinAnsiConversionOfTypographyAndUnmappedCharacters) {
    // é, €, curly quotes, em dash, bullet; a CJK character and an emoji (a surrogate
    // pair) each become one "?"; a lone surrogate too; U+0001 and U+0085 are dropped.
    std::u16string text = u"\u00e9\u20ac\u201c\u201d\u2014\u2022 \u4e2d\U0001F600\xD800x\u0001\u0085\ta\nb";
    EXPECT_EQ(ToWinAnsi(text), std::string("\xE9\x80\x93\x94\x97\x95 ???x\ta\nb"));
}

TEST(PdfText, WidthsMatchWhatAViewerMeasures) {
    REQUIRE_TOOL("pdftotext");
    // Every printable WinAnsi character is drawn alone in both proportional fonts;
    // poppler's own copy of the core-font metrics must give the same advance.
    TempDir dir;
    PdfFile file;
    std::vector<std::pair<unsigned char, PdfFont>> drawn;
    size_t page = 0;
    double y = 0;
    for (PdfFont font : {PdfFont::kHelvetica, PdfFont::kHelveticaBold}) {
        for (int code = 33; code <= 255; ++code) {
            // 0x81, 0x8D, 0x8F, 0x90, 0x9D have no character; 0xA0 and 0xAD draw as spaces/hyphens.
            if (code == 127 || code == 0x81 || code == 0x8D || code == 0x8F || code == 0x90 || code == 0x9D ||
                code == 0xA0 || code == 0xAD)
                continue;
            if (y < 40) {
                page = file.NewPage(300, 2000);
                y = 1980;
            }
            std::string glyph(1, static_cast<char>(code));
            file.PutText(page, font, 100, 10, y, glyph);
            drawn.emplace_back(static_cast<unsigned char>(code), font);
            y -= 150;
        }
    }
    file.Save(dir.File("widths.pdf"));
    std::vector<PdfWord> words = ProbeWords(dir.File("widths.pdf"));
    ASSERT_EQ(words.size(), drawn.size());
    for (size_t i = 0; i < drawn.size(); ++i) {
        double expected = TextWidth(std::string(1, static_cast<char>(drawn[i].first)), drawn[i].second, 100);
        EXPECT_NEAR(words[i].xMax - words[i].xMin, expected, 0.01)
            << "code " << int(drawn[i].first) << " font " << int(drawn[i].second);
    }
    EXPECT_DOUBLE_EQ(TextWidth("iW\xE9", PdfFont::kCourier, 10), 18.0);
}
