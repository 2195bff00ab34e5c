#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"
#include "convert/pdf/pdf_text.h"
#include "support/pdf_probe.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

Block Para(std::u16string text, int32_t level = 0, bool listItem = false, bool breakBefore = false) {
    return Block{std::move(text), level, listItem, breakBefore};
}

// One text-showing operator of a content stream, read back.
struct Shown {
    size_t page = 0;
    int font = 0;
    double size = 0, x = 0, y = 0;
    std::string text;  // WinAnsi bytes, escapes undone
};

std::vector<Shown> ShownText(const PdfFile& file) {
    static const std::regex op("BT /F(\\d) ([\\d.]+) Tf ([\\d.-]+) ([\\d.-]+) Td \\((.*)\\) Tj ET\n");
    static const std::regex escape("\\\\([0-7]{3}|.)");
    std::vector<Shown> shown;
    for (size_t p = 0; p < file.Pages().size(); ++p) {
        const std::string& content = file.Pages()[p].content;
        for (std::sregex_iterator it(content.begin(), content.end(), op), end; it != end; ++it) {
            const std::smatch& m = *it;
            Shown item{p, std::stoi(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), {}};
            std::string raw = m[5];
            size_t copied = 0;
            for (std::sregex_iterator e(raw.begin(), raw.end(), escape), none; e != none; ++e) {
                item.text.append(raw, copied, static_cast<size_t>(e->position()) - copied);
                std::string code = (*e)[1];
                item.text.push_back(code.size() == 3 ? static_cast<char>(std::stoi(code, nullptr, 8)) : code[0]);
                copied = static_cast<size_t>(e->position() + e->length());
            }
            item.text.append(raw, copied);
            shown.push_back(std::move(item));
        }
    }
    return shown;
}

// The shown texts other than page numbers (which are the only 8-point texts).
std::vector<Shown> BodyText(const PdfFile& file) {
    std::vector<Shown> body;
    for (auto& item : ShownText(file))
        if (item.size != 8) body.push_back(item);
    return body;
}

PdfFile Lay(const Document& document, PdfPageSize size = kA4Page) {
    ConvertContext context;
    return LayoutPdf(document, size, context);
}

std::string SavePdf(const Document& document, const TempDir& dir, const std::string& name,
                    PdfPageSize size = kA4Page) {
    std::string path = dir.File(name);
    Lay(document, size).Save(path);
    return path;
}

}  // namespace

TEST(PdfLayout, EmptyDocumentIsOneNumberedPage) {
    REQUIRE_TOOL("qpdf");
    TempDir dir;
    std::string pdf = SavePdf(Document{}, dir, "empty.pdf");
    EXPECT_EQ(QpdfProblems(pdf), "");
    EXPECT_EQ(PdfInfoField(pdf, "Pages"), "1");
    std::vector<PdfWord> words = ProbeWords(pdf);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].text, "1");
}

// The locale decides the paper; a locale with a decimal comma must not leak into the file.
class PdfLocale : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        locales_ = new TempDir;
        for (const char* name : {"en_US", "de_DE"}) {
            std::string command = "localedef -i " + std::string(name) + " -f UTF-8 " +
                                  ShellQuote(locales_->File(std::string(name) + ".UTF-8"));
            built_ = RunCommand(command).exitCode == 0 && built_;
        }
    }
    static void TearDownTestSuite() {
        delete locales_;
        locales_ = nullptr;
    }
    // Runs the writer tool with only the given locale variables and returns pdfinfo's page size.
    std::string PageSizeUnder(const std::string& variables) {
        std::string out = dir_.File("out" + std::to_string(++runs_) + ".pdf");
        // glibc keeps a copy of LOCPATH that it never frees; only tests set LOCPATH, so
        // a sanitizer build's leak check is switched off for this child.
        CommandResult run = RunCommand("env -i ASAN_OPTIONS=detect_leaks=0 LOCPATH=" + ShellQuote(locales_->path()) +
                                       " " + variables + " " +
                                       ShellQuote(QUILL_TOOL_pdf_locale_writer) + " " + ShellQuote(out));
        EXPECT_EQ(run.exitCode, 0) << run.output;
        std::string bytes = ReadFile(out);
        EXPECT_NE(bytes.find("/MediaBox [0 0 "), std::string::npos);
        EXPECT_EQ(bytes.find(','), std::string::npos) << "a decimal comma reached the file";
        EXPECT_EQ(QpdfProblems(out), "");
        return PdfInfoField(out, "Page size");
    }
    static TempDir* locales_;
    static bool built_;
    TempDir dir_;
    int runs_ = 0;
};
TempDir* PdfLocale::locales_ = nullptr;
bool PdfLocale::built_ = true;

TEST_F(PdfLocale, UsMeasurementGivesLetterAndMetricGivesA4) {
    REQUIRE_TOOL("localedef");
    REQUIRE_TOOL("qpdf");
    ASSERT_TRUE(built_) << "localedef could not build en_US and de_DE";
    EXPECT_DOUBLE_EQ(PageSizeForMeasurement(2).width, 612);  // glibc: 2 is US, 1 metric
    EXPECT_DOUBLE_EQ(PageSizeForMeasurement(1).width, 595.28);
    EXPECT_EQ(PageSizeUnder("LC_ALL=en_US.UTF-8"), "612 x 792 pts (letter)");
    EXPECT_EQ(PageSizeUnder("LC_ALL=de_DE.UTF-8"), "595.28 x 841.89 pts (A4)");
    // LC_MEASUREMENT alone decides over LANG; LANG alone decides when nothing else is set.
    EXPECT_EQ(PageSizeUnder("LANG=de_DE.UTF-8 LC_MEASUREMENT=en_US.UTF-8"), "612 x 792 pts (letter)");
    EXPECT_EQ(PageSizeUnder("LANG=en_US.UTF-8"), "612 x 792 pts (letter)");
    EXPECT_EQ(PageSizeUnder("LC_ALL=C"), "595.28 x 841.89 pts (A4)");
    EXPECT_EQ(PageSizeUnder("LC_ALL=xx_XX.UTF-8"), "595.28 x 841.89 pts (A4)");  // not installed
}

TEST(PdfLayout, LongDocumentsPaginateWithNumberedPages) {
    REQUIRE_TOOL("pdftotext");
    TempDir dir;
    Document document;
    for (int i = 1; i <= 200; ++i) document.blocks.push_back(Para(u"Paragraph " + Utf8ToWide(std::to_string(i))));
    std::string pdf = SavePdf(document, dir, "long.pdf");
    // A single-line paragraph takes 11 x 1.42 + 11 x 0.4 = 20.02 points; the first line
    // of a page sits 15.62 below 785.89 and the last must stay above the 56-point margin:
    // 36 paragraphs per page, so 200 paragraphs fill 6 pages.
    EXPECT_EQ(PdfInfoField(pdf, "Pages"), "6");
    EXPECT_EQ(PdfText(pdf, 2, 2).rfind("Paragraph 37\n", 0), 0u) << PdfText(pdf, 2, 2);
    EXPECT_NE(PdfText(pdf, 6, 6).find("Paragraph 200\n"), std::string::npos);

    std::vector<PdfWord> words = ProbeWords(pdf);
    for (int page = 1; page <= 6; ++page) {
        int numbers = 0;
        for (const auto& word : words) {
            if (word.page != page || word.text != std::to_string(page) || word.yMax < 841.89 - 30) continue;
            ++numbers;
            EXPECT_NEAR((word.xMin + word.xMax) / 2, 595.28 / 2, 0.01);
        }
        EXPECT_EQ(numbers, 1) << "page " << page;
    }
}

TEST(PdfLayout, PageBreaksNeverMakeAnEmptyPage) {
    Document document;
    document.blocks.push_back(Para(u"First", 0, false, true));  // already on a fresh page
    document.blocks.push_back(Para(u"Second", 0, false, true));
    document.blocks.push_back(Para(u"Third"));
    PdfFile file = Lay(document);
    ASSERT_EQ(file.Pages().size(), 2u);
    auto body = BodyText(file);
    ASSERT_EQ(body.size(), 3u);
    EXPECT_EQ(body[0].page, 0u);
    EXPECT_EQ(body[1].page, 1u);
    EXPECT_EQ(body[2].page, 1u);
    EXPECT_NEAR(body[1].y, 841.89 - 56 - 15.62, 0.011);  // top of the new page
}

TEST(PdfLayout, HeadingsGetSpaceAboveExceptAtTheTopOfAPage) {
    Document document;
    document.blocks.push_back(Para(u"Top", 1));
    document.blocks.push_back(Para(u"Body"));
    document.blocks.push_back(Para(u"Section", 2));
    document.blocks.push_back(Para(u"Small", 3));
    document.blocks.push_back(Para(u"Deep", 9));  // clamped to level 3
    // 28 fillers end page 1 at y = 69.03; the heading's 11.2 above would still leave
    // room, but its line of 22.72 does not fit, so it moves to the next page.
    for (int i = 0; i < 28; ++i) document.blocks.push_back(Para(u"filler"));
    document.blocks.push_back(Para(u"Next page", 2));
    auto body = BodyText(Lay(document));
    ASSERT_EQ(body.size(), 34u);
    EXPECT_EQ(body[32].page, 0u);
    EXPECT_EQ(body[0].font, 2);
    EXPECT_DOUBLE_EQ(body[0].size, 22);
    EXPECT_NEAR(body[0].y, 785.89 - 31.24, 0.011);
    EXPECT_NEAR(body[1].y, body[0].y - 5.5 - 15.62, 0.011);          // 22 x 0.25 after the heading
    EXPECT_NEAR(body[2].y, body[1].y - 4.4 - 11.2 - 22.72, 0.011);   // 11 x 0.4 after, 16 x 0.7 before
    EXPECT_NEAR(body[3].y, body[2].y - 4.0 - 9.1 - 18.46, 0.011);
    EXPECT_DOUBLE_EQ(body[4].size, 13);
    const Shown& last = body.back();
    EXPECT_EQ(last.text, "Next page");
    EXPECT_EQ(last.page, 1u);
    EXPECT_NEAR(last.y, 785.89 - 22.72, 0.011);  // no space above at the top of a page
}

TEST(PdfLayout, ListItemsHaveABulletAndAnIndentedHangingText) {
    Document document;
    std::u16string longItem;
    for (int i = 0; i < 30; ++i) longItem += u"item words ";
    document.blocks.push_back(Para(longItem, 0, true));
    auto body = BodyText(Lay(document));
    ASSERT_GE(body.size(), 3u);
    EXPECT_EQ(body[0].text, "\x95");
    EXPECT_DOUBLE_EQ(body[0].x, 58);
    EXPECT_DOUBLE_EQ(body[1].x, 70);
    EXPECT_DOUBLE_EQ(body[1].y, body[0].y);
    for (size_t i = 2; i < body.size(); ++i) {
        EXPECT_DOUBLE_EQ(body[i].x, 70) << "continuation lines hang under the text";
        EXPECT_NE(body[i].text, "\x95");
        EXPECT_LE(TextWidth(body[i].text, PdfFont::kHelvetica, 11), 595.28 - 112 - 14);
    }
}

TEST(PdfLayout, WrapKeepsIndentationOnlyOnTheFirstLineAndCutsLongWords) {
    // Helvetica 10 pt: "word" is 21.67 wide, a space 2.78.
    auto lines = WrapLine("    word word word word word", PdfFont::kHelvetica, 10, 60);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "    word word");
    EXPECT_EQ(lines[1], "word word");
    EXPECT_EQ(lines[2], "word");

    EXPECT_EQ(WrapLine("", PdfFont::kHelvetica, 10, 60), std::vector<std::string>{""});
    EXPECT_EQ(WrapLine("   ", PdfFont::kHelvetica, 10, 60), std::vector<std::string>{"   "});

    // Courier 10 pt is 6 points a character: 25 characters at width 60 make 10 + 10 + 5.
    auto cut = WrapLine("ab " + std::string(25, 'x'), PdfFont::kCourier, 10, 60);
    ASSERT_EQ(cut.size(), 4u);
    EXPECT_EQ(cut[0], "ab");
    EXPECT_EQ(cut[1], std::string(10, 'x'));
    EXPECT_EQ(cut[3], std::string(5, 'x'));

    // A character wider than the whole width still makes progress, one per line.
    EXPECT_EQ(WrapLine("WW", PdfFont::kHelvetica, 100, 10).size(), 2u);
    // Spaces that overflow at the end of a line add no empty line.
    EXPECT_EQ(WrapLine("xxxxxxxxxx" + std::string(20, ' '), PdfFont::kCourier, 10, 60).size(), 1u);
}

TEST(PdfLayout, LongWordsAndWideCharactersStayInsideTheMargins) {
    REQUIRE_TOOL("pdftotext");
    TempDir dir;
    Document document;
    std::u16string word(400, u'm');
    std::u16string dashes(80, u'\u2014');
    document.blocks.push_back(Para(word));
    document.blocks.push_back(Para(dashes));
    std::string pdf = SavePdf(document, dir, "wide.pdf");
    std::string joinedM, joinedDashes;
    for (const auto& w : ProbeWords(pdf)) {
        if (w.text == "1") continue;
        EXPECT_GE(w.xMin, 56 - 0.01);
        EXPECT_LE(w.xMax, 595.28 - 56 + 0.01) << w.text;
        (w.text[0] == 'm' ? joinedM : joinedDashes) += w.text;
    }
    EXPECT_EQ(joinedM, std::string(400, 'm'));
    EXPECT_EQ(Utf8ToWide(joinedDashes), dashes);
}

TEST(PdfLayout, TextRoundTripsThroughWinAnsi) {
    REQUIRE_TOOL("pdftotext");
    TempDir dir;
    Document document;
    document.blocks.push_back(Para(u"Caf\u00e9 (menu) costs 5\u20ac \u2014 \u201cquoted\u201d \u2018x\u2019 \u4e2d\u6587 back\\slash"));
    document.blocks.push_back(Para(u"line one\nline two"));
    std::string text = PdfText(SavePdf(document, dir, "text.pdf"));
    EXPECT_NE(text.find("Caf\u00e9 (menu) costs 5\u20ac \u2014 \u201cquoted\u201d \u2018x\u2019 ?? back\\slash"), std::string::npos)
        << text;
    EXPECT_NE(text.find("line one\nline two"), std::string::npos);
}

TEST(PdfLayout, PreformattedTextIsCourierLineByLineWithTabStops) {
    Document document;
    document.preformatted = true;
    document.blocks.push_back(Para(u"int main()\n{\n\treturn 0;"));
    document.blocks.push_back(Para(u"a\tbc\td"));
    document.blocks.push_back(Para(u""));
    document.blocks.push_back(Para(u"Title", 1));
    auto body = BodyText(Lay(document));
    ASSERT_EQ(body.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(body[i].font, 3);
        EXPECT_DOUBLE_EQ(body[i].size, 8.5);
    }
    EXPECT_EQ(body[2].text, "    return 0;");
    EXPECT_EQ(body[3].text, "a   bc  d");
    EXPECT_NEAR(body[1].y - body[2].y, 11.05, 0.011);  // 8.5 x 1.3, nothing between lines
    EXPECT_NEAR(body[2].y - body[3].y, 11.05, 0.011);  // nothing after a block either
    // The empty block keeps its line; the heading keeps its heading font.
    EXPECT_NEAR(body[3].y - body[4].y, 11.05 + 15.4 + 31.24, 0.011);
    EXPECT_EQ(body[4].font, 2);
}

TEST(PdfLayout, TableRowsAreCutPaddedMonospaceText) {
    Table table;
    table.rows = {{u"Name", u"Qty", u"Note"},
                  {u"Apple", u"3"},
                  {std::u16string(40, u'k'), u"two\nlines", u"last"}};
    auto rows = MonospaceTableRows(table);
    ASSERT_EQ(rows.size(), 3u);
    // Column widths: 28 (the cut cell), 9, 4; two spaces between columns.
    EXPECT_EQ(rows[0], "Name" + std::string(26, ' ') + "Qty" + std::string(8, ' ') + "Note");
    EXPECT_EQ(rows[1], "Apple" + std::string(25, ' ') + "3");
    EXPECT_EQ(rows[2], std::string(27, 'k') + "\x85  two lines  last");

    Document document;
    document.tables.push_back(table);
    auto body = BodyText(Lay(document));
    ASSERT_EQ(body.size(), 3u);
    for (const auto& row : body) {
        EXPECT_EQ(row.font, 3);
        EXPECT_DOUBLE_EQ(row.x, 56);
    }
}

TEST(PdfLayout, SeveralTablesStartOnNewPagesUnderTheirNames) {
    REQUIRE_TOOL("pdftotext");
    TempDir dir;
    Document document;
    document.blocks.push_back(Para(u"Intro"));
    for (const char16_t* name : {u"Fruit", u"Tools", u"Cities"}) {
        Table table;
        table.name = name;
        table.rows = {{u"Key", u"Value"}, {std::u16string(name) + u" row", u"1"}};
        document.tables.push_back(table);
    }
    std::string pdf = SavePdf(document, dir, "tables.pdf");
    EXPECT_EQ(PdfInfoField(pdf, "Pages"), "3");
    EXPECT_EQ(PdfText(pdf, 1, 1).rfind("Intro\n\nFruit\n", 0), 0u) << PdfText(pdf, 1, 1);
    EXPECT_EQ(PdfText(pdf, 2, 2).rfind("Tools\n", 0), 0u) << PdfText(pdf, 2, 2);
    EXPECT_EQ(PdfText(pdf, 3, 3).rfind("Cities\n", 0), 0u);
    auto body = BodyText(Lay(document));
    EXPECT_EQ(body[1].text, "Fruit");
    EXPECT_EQ(body[1].font, 2);
    EXPECT_DOUBLE_EQ(body[1].size, 16);

    Document single;
    single.tables.push_back(document.tables[0]);
    EXPECT_EQ(BodyText(Lay(single))[0].text, "Key        Value") << "a lone table gets no heading";
}

TEST(PdfLayout, CancelStopsBeforeAnyFileAndProgressClimbsEvery128Items) {
    TempDir dir;
    Document document;
    for (int i = 0; i < 300; ++i) document.blocks.push_back(Para(u"x"));
    std::vector<double> reports;
    ConvertContext context;
    context.progress = [&](double value) { reports.push_back(value); };
    WritePdf(document, dir.File("ok.pdf"), context);
    ASSERT_EQ(reports.size(), 3u);  // items 0, 128 and 256
    EXPECT_DOUBLE_EQ(reports[0], 0.3);
    EXPECT_NEAR(reports[1], 0.3 + 0.7 * 128 / 300, 1e-12);
    EXPECT_NEAR(reports[2], 0.3 + 0.7 * 256 / 300, 1e-12);

    std::atomic<bool> cancel{true};
    context.cancel = &cancel;
    EXPECT_THROW(WritePdf(document, dir.File("cancelled.pdf"), context), Cancelled);
    EXPECT_FALSE(FileExists(dir.File("cancelled.pdf")));
}

TEST(PdfLayout, VariedDocumentsAlwaysPassQpdf) {
    REQUIRE_TOOL("qpdf");
    TempDir dir;
    const std::u16string pieces[] = {u"word", u" ", u"  ", u"\n", u"\t", u"(", u")", u"\\", u"\u00e9", u"\u20ac",
                                     u"\u4e2d", u"\xD83D", u"\U0001F600", u"\u0001", u"\r", u"%", u"endstream"};
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        Document document;
        document.preformatted = seed % 3 == 0;
        int blocks = static_cast<int>(random() % 400);
        for (int b = 0; b < blocks; ++b) {
            Block block;
            int length = static_cast<int>(random() % 60);
            for (int k = 0; k < length; ++k) block.text += pieces[random() % std::size(pieces)];
            block.level = static_cast<int32_t>(random() % 6) - 1;
            block.listItem = random() % 4 == 0;
            block.breakBefore = random() % 10 == 0;
            document.blocks.push_back(block);
        }
        for (unsigned t = 0; t < seed % 4; ++t) {
            Table table;
            table.name = u"T(" + std::u16string(1, static_cast<char16_t>(u'a' + t)) + u")";
            for (int r = 0; r < static_cast<int>(random() % 30); ++r) {
                table.rows.emplace_back();
                for (int c = 0; c < static_cast<int>(random() % 6); ++c)
                    table.rows.back().push_back(std::u16string(random() % 40, u'c'));
            }
            document.tables.push_back(table);
        }
        std::string pdf = SavePdf(document, dir, "varied" + std::to_string(seed) + ".pdf",
                                  seed % 2 ? kA4Page : kLetterPage);
        EXPECT_EQ(QpdfProblems(pdf), "") << "seed " << seed;
    }
}
