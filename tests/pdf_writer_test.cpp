// PDF: the file builder's exact cross-reference table, the standard fonts' text and widths,
// and the document layout, read back through qpdf and poppler's tools.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"
#include "convert/pdf/pdf_text.h"
#include "support/document_support.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

constexpr size_t npos = std::string::npos;

std::string Tool(const std::string& command, const std::string& pdf) {
    CommandResult run = RunCommand(command + " " + ShellQuote(pdf) + (command.starts_with("pdftotext") ? " -" : ""));
    EXPECT_EQ(run.exitCode, 0) << command << ": " << run.output;
    return run.output;
}
std::string Info(const std::string& pdf, const std::string& field) {
    std::smatch m;
    std::string info = Tool("pdfinfo", pdf);
    return std::regex_search(info, m, std::regex("\n" + field + ": *([^\n]*)")) ? m[1].str() : "";
}

// The words pdftotext finds, with their boxes in points (y from the top).
struct Word { int page; double xMin, xMax, yMax; std::string text; };
std::vector<Word> Words(const std::string& pdf) {
    std::string out = Tool("pdftotext -bbox -enc UTF-8", pdf);
    static const std::regex item("<page |<word xMin=\"([\\d.]+)\" yMin=\"[-\\d.]+\" xMax=\"([\\d.]+)\" "
                                 "yMax=\"([\\d.]+)\">([^<]*)<");
    std::vector<Word> words;
    int page = 0;
    for (std::sregex_iterator it(out.begin(), out.end(), item), end; it != end; ++it) {
        const std::smatch& m = *it;
        if (m[1].matched) words.push_back({page, std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), m[4]});
        else ++page;
    }
    return words;
}

PdfFile Lay(const Document& document) {
    ConvertContext context;
    return LayoutPdf(document, kA4Page, context);
}

// The text operators of the laid-out pages but the page numbers (the only 8-point texts).
struct Shown { size_t page; int font; double size, x, y; std::string text; };  // text as written, escaped
std::vector<Shown> Body(const Document& document) {
    PdfFile file = Lay(document);
    static const std::regex op("BT /F(\\d) ([\\d.]+) Tf ([\\d.]+) ([\\d.]+) Td \\((.*)\\) Tj ET\n");
    std::vector<Shown> shown;
    for (size_t p = 0; p < file.Pages().size(); ++p) {
        const std::string& content = file.Pages()[p].content;
        for (std::sregex_iterator it(content.begin(), content.end(), op), end; it != end; ++it) {
            const std::smatch& m = *it;
            if (m[2] != "8.00")
                shown.push_back({p, std::stoi(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), m[5]});
        }
    }
    return shown;
}

}  // namespace

TEST(PdfFile, ExactCrossReferenceAndAJpegPassedThrough) {
    REQUIRE_TOOL("qpdf");
    PdfFile file;
    size_t image = file.AddImage(ReadFile(DataPath("pdf/red-8x8.jpg")), 8, 8);
    size_t first = file.NewPage(595.28, 841.89), second = file.NewPage(100, 50);
    file.PutText(first, PdfFont::kHelvetica, 11, 56, 700, "one");
    file.PutImage(second, image, 0, 0, 100, 50);
    file.PutImage(second, image, 10, 10, 5, 5);  // drawn twice, listed once in the resources
    file.PutImage(second, 1, 0, 0, 1, 1);         // there is no image 1: nothing may refer to it
    std::string pdf = file.Serialize();
    // 1 catalogue, 2 page tree, 3-5 fonts, 6 the image, then page and content of each page.
    EXPECT_EQ(pdf.rfind("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", 0), 0u);
    EXPECT_NE(pdf.find("/Count 2 /Kids [7 0 R 9 0 R ]"), npos);
    EXPECT_NE(pdf.find("/XObject << /Im0 6 0 R >> >> /Contents 10 0 R"), npos);
    // Every entry, 20 bytes long, holds the offset of its object's "n 0 obj" line.
    size_t xref = pdf.find("\nxref\n") + 1;
    std::string table = "xref\n0 11\n0000000000 65535 f \n";
    for (int number = 1; number < 11; ++number)
        table += FormatText("%010zu 00000 n \n", pdf.find("\n" + std::to_string(number) + " 0 obj\n") + 1);
    EXPECT_EQ(pdf.substr(xref), table + "trailer\n<< /Size 11 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
                                    "\n%%EOF\n");

    TempDir folder;
    std::string saved = folder.File("image.pdf");
    WriteFile(saved, file.Serialize());
    EXPECT_NE(Tool("qpdf --check", saved).find("No syntax or stream encoding errors"), npos);
    EXPECT_NE(Tool("pdfimages -list", saved).find("2     0 image       8     8  rgb     3   8  jpeg"), npos);
}

TEST(PdfText, WinAnsiTextEscapesAndWidthsMatchWhatAViewerReads) {
    REQUIRE_TOOL("pdftotext");
    // A CJK character, an emoji (one character) and a lone surrogate each become "?";
    // U+0001 and U+0085 are dropped.
    EXPECT_EQ(ToWinAnsi(u"\u00e9\u20ac\u201c\u201d\u2014\u2022 \u4e2d\U0001F600\xD800x\u0001\u0085\ta\nb"),
              "\xE9\x80\x93\x94\x97\x95 ???x\ta\nb");
    PdfFile file;
    file.PutText(file.NewPage(612, 792), PdfFont::kHelveticaBold, 13, 56, 700.456, "a(b)c\\\x80");
    EXPECT_EQ(file.Pages()[0].content, "BT /F2 13.00 Tf 56.00 700.46 Td (a\\(b\\)c\\\\\\200) Tj ET\n");
    // Then every printable WinAnsi character alone in both proportional fonts: poppler's own
    // copy of the core-font metrics must give the same advance.
    std::vector<std::pair<char, PdfFont>> drawn;
    for (PdfFont font : {PdfFont::kHelvetica, PdfFont::kHelveticaBold}) {
        for (int code = 33; code <= 255; ++code) {
            // No glyph at 0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D; 0xA0 and 0xAD are drawn as space and hyphen.
            if (std::string_view("\x7F\x81\x8D\x8F\x90\x9D\xA0\xAD").find(char(code)) != npos) continue;
            size_t slot = drawn.size() % 13;  // 13 lines, 150 points apart, on a page
            if (slot == 0) file.NewPage(300, 2000);
            drawn.emplace_back(char(code), font);
            file.PutText(file.Pages().size() - 1, font, 100, 10, 1980 - 150 * double(slot), {&drawn.back().first, 1});
        }
    }
    TempDir folder;
    WriteFile(folder.File("widths.pdf"), file.Serialize());
    std::vector<Word> words = Words(folder.File("widths.pdf"));
    ASSERT_EQ(words.size(), drawn.size() + 1);
    EXPECT_EQ(words[0].text, "a(b)c\\\u20ac");
    for (size_t i = 0; i < drawn.size(); ++i)
        EXPECT_NEAR(words[i + 1].xMax - words[i + 1].xMin, TextWidth({&drawn[i].first, 1}, drawn[i].second, 100), 0.01)
            << "code " << int(uint8_t(drawn[i].first)) << " font " << int(drawn[i].second);
}

// The paper follows the user's locale; a locale with a decimal comma must not reach the file.
TEST(PdfWriter, PageSizeFollowsTheLocaleMeasurement) {
    REQUIRE_TOOL("localedef");
    TempDir locales, folder;
    for (std::string name : {"en_US", "de_DE"})
        ASSERT_EQ(RunCommand("localedef -i " + name + " -f UTF-8 " + locales.File(name + ".UTF-8")).exitCode, 0);
    const std::pair<const char*, const char*> cases[] = {
        {"LC_ALL=en_US.UTF-8", "612 x 792 pts (letter)"},
        {"LC_ALL=de_DE.UTF-8", "595.28 x 841.89 pts (A4)"},
        {"LANG=de_DE.UTF-8 LC_MEASUREMENT=en_US.UTF-8", "612 x 792 pts (letter)"},
        {"LANG=en_US.UTF-8", "612 x 792 pts (letter)"},
        {"LC_ALL=C", "595.28 x 841.89 pts (A4)"},
        {"LC_ALL=xx_XX.UTF-8", "595.28 x 841.89 pts (A4)"},  // not installed
    };
    for (const auto& [variables, size] : cases) {
        std::string pdf = folder.File(std::string(variables).substr(0, 10) + ".pdf");
        // glibc keeps a copy of LOCPATH that it never frees: no leak check in sanitizer builds.
        CommandResult run = RunCommand("env -i ASAN_OPTIONS=detect_leaks=0 LOCPATH=" + locales.path() + " " +
                                       variables + " " + QUILL_TOOL_pdf_locale_writer + " " + pdf);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(Info(pdf, "Page size"), size) << variables;
        EXPECT_EQ(ReadFile(pdf).find(','), npos) << "a decimal comma under " << variables;
    }
}

TEST(PdfWriter, PagesAreFilledAndNumberedAtTheFoot) {
    REQUIRE_TOOL("pdftotext");
    TempDir folder;
    WriteFile(folder.File("empty.pdf"), Lay(Document{}).Serialize());
    EXPECT_EQ(Tool("pdftotext", folder.File("empty.pdf")), "1\n\n\f");
    Document document;
    for (int i = 1; i <= 200; ++i) document.blocks.push_back({u"Paragraph " + Utf8ToWide(std::to_string(i))});
    std::string pdf = folder.File("long.pdf");
    WriteFile(pdf, Lay(document).Serialize());
    // A one-line paragraph takes 11 x 1.42 + 11 x 0.4 = 20.02 points; the first line sits
    // 15.62 below 785.89 and the last must stay above the 56-point margin: 36 a page.
    EXPECT_EQ(Info(pdf, "Pages"), "6");
    EXPECT_EQ(Tool("pdftotext -enc UTF-8 -f 2 -l 2", pdf).substr(0, 13), "Paragraph 37\n");
    int numbers = 0;
    for (const auto& word : Words(pdf)) {
        if (word.yMax < 841.89 - 30) continue;
        EXPECT_EQ(word.text, std::to_string(word.page));
        EXPECT_NEAR((word.xMin + word.xMax) / 2, 595.28 / 2, 0.01);
        ++numbers;
    }
    EXPECT_EQ(numbers, 6);
}

TEST(PdfWriter, BreaksAndHeadingsMoveToTheNextPageWithoutEmptyPages) {
    // 28 fillers end page 1 at y = 69.03: a heading's 11.2 above would fit, its 22.72 line not.
    Document document = Doc({{u"Top", 1, false, true}, {u"Body"}, {u"Section", 2}, {u"Small", 3}, {u"Deep", 9}});
    document.blocks.resize(document.blocks.size() + 28, {u"filler"});
    document.blocks.push_back({u"Next page", 2});
    document.blocks.push_back({u"Broken", 0, false, true});
    auto body = Body(document);
    ASSERT_EQ(body.size(), 35u);
    EXPECT_EQ(std::pair(body[0].font, body[0].size), std::pair(2, 22.0));  // Helvetica-Bold
    EXPECT_NEAR(body[0].y, 785.89 - 31.24, 0.011);                 // a break on a fresh page adds none
    EXPECT_NEAR(body[1].y, body[0].y - 5.5 - 15.62, 0.011);         // 22 x 0.25 after the heading
    EXPECT_NEAR(body[2].y, body[1].y - 4.4 - 11.2 - 22.72, 0.011);  // 11 x 0.4 after, 16 x 0.7 before
    EXPECT_NEAR(body[3].y, body[2].y - 4.0 - 9.1 - 18.46, 0.011);
    EXPECT_EQ(body[4].size, 13);  // clamped to level 3
    EXPECT_EQ(std::to_string(body[32].page) + std::to_string(body[33].page) + std::to_string(body[34].page), "012");
    EXPECT_NEAR(body[33].y, 785.89 - 22.72, 0.011);  // no space above at the top of a page
}

TEST(PdfWriter, WrapsAtSpacesCutsLongWordsAndHangsListItems) {
    // Helvetica 10 pt: "word" is 21.67 wide, a space 2.78. Courier 10 pt: 6 a character.
    using Lines = std::vector<std::string>;
    EXPECT_EQ(WrapLine("    word word word word word", PdfFont::kHelvetica, 10, 60),
              (Lines{"    word word", "word word", "word"}));  // indentation only on the first line
    EXPECT_EQ(WrapLine("ab " + std::string(25, 'x'), PdfFont::kCourier, 10, 60),
              (Lines{"ab", std::string(10, 'x'), std::string(10, 'x'), std::string(5, 'x')}));
    EXPECT_EQ(WrapLine("WW", PdfFont::kHelvetica, 100, 10), (Lines{"W", "W"}));  // wider than the line: one each
    EXPECT_EQ(WrapLine("xxxxxxxxxx" + std::string(20, ' '), PdfFont::kCourier, 10, 60).size(), 1u);

    std::u16string words;
    for (int i = 0; i < 30; ++i) words += u"item words ";
    auto body = Body(Doc({{words, 0, true}}));
    ASSERT_GE(body.size(), 3u);
    EXPECT_EQ(body[0].text + " " + std::to_string(body[0].x), "\\225 58.000000");  // the bullet
    EXPECT_EQ(body[1].y, body[0].y);
    for (size_t i = 1; i < body.size(); ++i) {
        EXPECT_EQ(body[i].x, 70) << "continuation lines hang under the text";
        EXPECT_LE(TextWidth(body[i].text, PdfFont::kHelvetica, 11), 595.28 - 112 - 14);
    }
}

TEST(PdfWriter, TextComesBackWithItsWinAnsiCharactersAndWithinTheMargins) {
    REQUIRE_TOOL("pdftotext");
    TempDir folder;
    std::u16string text = u"Caf\u00e9 (menu) costs 5\u20ac \u2014 \u201cquoted\u201d \u2018x\u2019 back\\slash";
    std::string pdf = folder.File("text.pdf");
    WriteFile(pdf, Lay(Doc({{text + u" \u4e2d"}, {u"line one\nline two"}, {std::u16string(400, u'm')},
                            {std::u16string(80, u'\u2014')}})).Serialize());
    std::string read = Tool("pdftotext -enc UTF-8", pdf);
    EXPECT_EQ(read.find(WideToUtf8(text) + " ?\nline one\nline two\n"), 0u) << read;
    std::string ms, dashes, other;
    for (const auto& word : Words(pdf)) {
        EXPECT_GE(word.xMin, 56 - 0.01);
        EXPECT_LE(word.xMax, 595.28 - 56 + 0.01) << word.text;
        (word.text[0] == 'm' ? ms : word.text.starts_with("\u2014\u2014") ? dashes : other) += word.text;
    }
    EXPECT_EQ(ms, std::string(400, 'm'));
    EXPECT_EQ(Utf8ToWide(dashes), std::u16string(80, u'\u2014'));
}

TEST(PdfWriter, PreformattedTextAndTablesAreCourierLines) {
    REQUIRE_TOOL("pdftotext");
    auto code = Body(Doc({{u"int main()\n{\n\treturn 0;"}, {u"a\tbc\td"}, {u""}, {u"Title", 1}}, {}, true));
    ASSERT_EQ(code.size(), 5u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(std::pair(code[i].font, code[i].size), std::pair(3, 8.5));
    EXPECT_EQ(code[2].text + "|" + code[3].text, "    return 0;|a   bc  d");  // tab stops every 4 characters
    EXPECT_NEAR(code[1].y - code[2].y, 11.05, 0.011);  // 8.5 x 1.3, nothing between lines
    EXPECT_NEAR(code[2].y - code[3].y, 11.05, 0.011);  // nor after a block
    EXPECT_NEAR(code[3].y - code[4].y, 11.05 + 15.4 + 31.24, 0.011);  // the empty block keeps its line
    EXPECT_EQ(code[4].font, 2);  // a heading keeps its font

    // Cells are cut to 28 characters (27 and an ellipsis) and padded to their column plus 2;
    // a lone table gets no heading.
    Table table{u"Fruit", {{u"Name", u"Qty", u"Note"}, {u"Apple", u"3"}, {std::u16string(40, u'k'), u"two\nlines"}}};
    auto lone = Body(Doc({}, {table}));
    ASSERT_EQ(lone.size(), 3u);
    EXPECT_EQ(std::pair(lone[0].font, lone[0].x), std::pair(3, 56.0));
    EXPECT_EQ(lone[0].text + "|" + lone[1].text + "|" + lone[2].text,
              "Name" + std::string(26, ' ') + "Qty" + std::string(8, ' ') + "Note|Apple" + std::string(25, ' ') + "3|" +
                  std::string(27, 'k') + "\\205  two lines");
    // Several start on new pages under their names.
    Document several = Doc({{u"Intro"}}, {table, {u"Tools", {{u"Key", u"Value"}}}, {u"Cities", {{u"Paris"}}}});
    TempDir folder;
    WriteFile(folder.File("tables.pdf"), Lay(several).Serialize());
    EXPECT_EQ(Tool("pdftotext -enc UTF-8 -layout", folder.File("tables.pdf")),
              "Intro\n\n\nFruit\nName                           Qty         Note\nApple                          3\n"
              "kkkkkkkkkkkkkkkkkkkkkkkkkkk\u2026   two lines\n\n\n\n\n" + std::string(50, ' ') + "1\n\f"
              "Tools\nKey   Value\n\n\n\n\n              2\n\fCities\nParis\n\n\n\n\n         3\n\f");
}

TEST(PdfWriter, ProgressEvery128ItemsAndCancel) {
    Document document = Doc(std::vector<Block>(300, {u"x"}));
    std::vector<double> reports;
    ConvertContext context;
    context.progress = [&](double value) { reports.push_back(value); };
    EXPECT_TRUE(WritePdf(document, context).starts_with("%PDF-1.4"));
    EXPECT_EQ(reports, (std::vector<double>{0.3, 0.3 + 0.7 * 128 / 300, 0.3 + 0.7 * 256 / 300}));
    std::atomic<bool> cancel{true};
    context.cancel = &cancel;
    EXPECT_THROW(WritePdf(document, context), Cancelled);
}
