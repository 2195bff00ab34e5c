// PDF input against independent producers and tools: page counts and sizes as pdfinfo
// reports them, pixels as pdftoppm renders them, text as pdftotext reads it; scanned
// pages (pdftoppm's images wrapped by img2pdf, or by ImageMagick and tiff2pdf) read
// like the text layer; the page folder, the page budget, bad inputs and cancellation.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <regex>
#include <sstream>

#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"
#include "convert/pdf/pdf_pages.h"
#include "convert/pdf/pdf_render.h"
#include "support/document_support.h"

using namespace testing_support;

namespace {

// The document every producer starts from: short last lines keep paragraphs apart.
Document SourceDocument() {
    Document document;
    auto add = [&](const char* text, int32_t level = 0, bool item = false, bool pageBreak = false) {
        document.blocks.push_back(Block{Utf8ToWide(text), level, item, pageBreak});
    };
    add("Quillaven field report", 1);
    add("The survey covered three valleys during the dry season and counted every bird that "
        "nested near the river banks, from the first light of the morning until the evening.");
    add("Findings", 2);
    add("Herons returned to the northern marsh", 0, true);
    add("Kingfishers nested in older banks", 0, true);
    add("Swallows arrived two weeks early", 0, true);
    add("These numbers match the survey of the previous year closely.");
    add("Second part", 1, false, true);
    add("Weather stayed calm and the river kept its usual level, so the counts of both years "
        "can be compared without any correction.");
    add("Closing words on the last page.", 0, false, true);
    return document;
}

std::string Shell(const std::string& command) {
    CommandResult result = RunCommand(command);
    EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.output;
    return result.output;
}

// Inputs made once for the whole suite.
struct Inputs {
    TempDir dir;
    std::string text, rewritten, rotated, scanned, scannedTiff, blankScan;
    std::vector<std::string> debian;  // PDFs that Debian packages ship as documentation
};

Inputs& Made() {
    static Inputs* inputs = [] {
        auto* made = new Inputs;
        const TempDir& dir = made->dir;
        made->text = dir.File("report.pdf");
        ConvertContext context;
        WriteFile(made->text, LayoutPdf(SourceDocument(), kLetterPage, context).Serialize());
        made->rewritten = dir.File("rewritten.pdf");
        Shell("qpdf --object-streams=generate " + ShellQuote(made->text) + " " + ShellQuote(made->rewritten));
        made->rotated = dir.File("rotated.pdf");
        Shell("qpdf --rotate=+90:2 " + ShellQuote(made->text) + " " + ShellQuote(made->rotated));
        // Scans: the text PDF's pages as 150-dpi images, wrapped without a text layer.
        Shell("pdftoppm -r 150 -png " + ShellQuote(made->text) + " " + ShellQuote(dir.File("scan")));
        made->scanned = dir.File("scanned.pdf");
        Shell("img2pdf " + ShellQuote(dir.File("scan-1.png")) + " " + ShellQuote(dir.File("scan-2.png")) + " " +
            ShellQuote(dir.File("scan-3.png")) + " -o " + ShellQuote(made->scanned));
        Shell("convert " + ShellQuote(dir.File("scan-1.png")) + " -units PixelsPerInch -density 150 -compress lzw " +
            ShellQuote(dir.File("scan.tif")));
        made->scannedTiff = dir.File("scanned-tiff.pdf");
        Shell("tiff2pdf -o " + ShellQuote(made->scannedTiff) + " " + ShellQuote(dir.File("scan.tif")));
        Shell("convert -size 1275x1650 xc:white -attenuate 0.3 +noise Gaussian -units PixelsPerInch -density 150 " +
            ShellQuote(dir.File("blank.png")));
        made->blankScan = dir.File("blank.pdf");
        Shell("img2pdf " + ShellQuote(dir.File("blank.png")) + " -o " + ShellQuote(made->blankScan));
        for (const char* path : {"/usr/share/doc/libtasn1-doc/libtasn1.pdf",
                                 "/usr/share/doc/libimage-exiftool-perl/html/MIE1.1-20070121.pdf",
                                 "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"})
            made->debian.push_back(path);
        return made;
    }();
    return *inputs;
}

#define REQUIRE_PDF_TOOLS()                                                              \
    for (const char* tool : {"qpdf", "pdftoppm", "pdfinfo", "pdftotext", "img2pdf", "convert", "tiff2pdf"}) \
        REQUIRE_TOOL(tool)

// pdfinfo's page sizes (points, unrotated) and rotations.
struct InfoPage {
    double width, height;
    int rotation;
};
std::vector<InfoPage> PdfInfoPages(const std::string& pdf) {
    std::string info = Shell("pdfinfo -f 1 -l 9999 " + ShellQuote(pdf));
    std::vector<InfoPage> pages;
    static const std::regex size("Page +\\d+ size: +([\\d.]+) x ([\\d.]+) pts[^\n]*\nPage +\\d+ rot: +(\\d+)");
    for (std::sregex_iterator it(info.begin(), info.end(), size), end; it != end; ++it)
        pages.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stoi((*it)[3])});
    return pages;
}

// A binary PPM's RGB bytes; empty when it isn't one.
std::string PpmPixels(const std::string& ppm, uint32_t& width, uint32_t& height) {
    std::smatch m;
    static const std::regex header("^P6\\s+(\\d+)\\s+(\\d+)\\s+255\\s");
    if (!std::regex_search(ppm, m, header)) return "";
    width = static_cast<uint32_t>(std::stoul(m[1]));
    height = static_cast<uint32_t>(std::stoul(m[2]));
    return ppm.substr(static_cast<size_t>(m.length(0)));
}

// The test's stand-in for an image encoder: a PPM of the page, which pdftoppm also writes.
std::string EncodePpm(const images::PixelBuffer& page) {
    std::string out = "P6\n" + std::to_string(page.width) + " " + std::to_string(page.height) + "\n255\n";
    for (size_t i = 0; i < page.bgra.size(); i += 4) {
        out.push_back(static_cast<char>(page.bgra[i + 2]));
        out.push_back(static_cast<char>(page.bgra[i + 1]));
        out.push_back(static_cast<char>(page.bgra[i]));
    }
    return out;
}

// The words of a document's blocks, or of pdftotext's output, in order.
std::vector<std::string> WordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}
std::string TextOfBlocks(const Document& document) {
    std::string text;
    for (const auto& block : document.blocks) text += WideToUtf8(block.text) + "\n";
    return text;
}

}  // namespace

TEST(PdfInput, PagesRenderToPdfinfoSizesAndPdftoppmPixels) {
    REQUIRE_PDF_TOOLS();
    Inputs& in = Made();
    ASSERT_FALSE(HasFailure());
    std::vector<std::string> files = {in.text, in.rewritten, in.rotated, in.scanned, in.scannedTiff};
    for (const auto& path : in.debian)
        if (FileExists(path)) files.push_back(path);
    ASSERT_GE(files.size(), 6u) << "no PDF documentation of Debian packages installed (scripts/install-deps)";

    ConvertContext context;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        LoadedPdf pdf(file);
        std::vector<InfoPage> info = PdfInfoPages(file);
        ASSERT_EQ(pdf.PageCount(), static_cast<int>(info.size()));
        for (int page = 0; page < pdf.PageCount(); ++page) {
            const InfoPage& expected = info[static_cast<size_t>(page)];
            const bool turned = expected.rotation == 90 || expected.rotation == 270;
            PageSize size = pdf.Size(page);
            EXPECT_NEAR(size.width, (turned ? expected.height : expected.width) * 96 / 72, 0.01) << page;
            EXPECT_NEAR(size.height, (turned ? expected.width : expected.height) * 96 / 72, 0.01) << page;
            if (page >= 2) continue;  // pixels of the first two pages are enough

            RenderSize render = ExportRenderSize(size);
            images::PixelBuffer ours = pdf.Render(page, render, context);
            const std::string dpi = FormatText("%.6f", render.scale * 96);
            Shell(FormatText("pdftoppm -r %s -f %d -l %d -x 0 -y 0 -W %u -H %u -singlefile ", dpi.c_str(), page + 1,
                           page + 1, render.width, render.height) +
                ShellQuote(file) + " " + ShellQuote(in.dir.File("reference")));
            uint32_t width = 0, height = 0;
            std::string reference = PpmPixels(ReadFile(in.dir.File("reference.ppm")), width, height);
            ASSERT_EQ(width, render.width);
            ASSERT_EQ(height, render.height);
            ASSERT_EQ(ours.width, render.width);
            ASSERT_EQ(ours.height, render.height);
            // Same renderer, same settings: allow a few pixels of rounding, nothing more.
            size_t differing = 0;
            for (size_t p = 0; p < size_t(width) * height; ++p) {
                for (size_t c = 0; c < 3; ++c) {
                    int theirs = static_cast<uint8_t>(reference[p * 3 + c]), mine = ours.bgra[p * 4 + 2 - c];
                    if (std::abs(theirs - mine) > 8) {
                        ++differing;
                        break;
                    }
                }
                EXPECT_EQ(ours.bgra[p * 4 + 3], 255);
            }
            EXPECT_LE(differing, size_t(width) * height / 1000) << "page " << page;
        }
    }
}

TEST(PdfInput, RenderSizesFollowTheScaleRules) {
    struct Case {
        PageSize page;
        uint32_t exportWidth, exportHeight, recogniseWidth, recogniseHeight;
    };
    const Case cases[] = {
        {{816, 1056}, 1632, 2112, 2448, 3168},          // Letter: twice, three times
        {{793.7066, 1122.52}, 1587, 2245, 2381, 3367},  // A4: sides truncated
        {{1056, 816}, 2112, 1632, 3168, 2448},
        {{3000, 1000}, 4000, 1333, 9000, 3000},         // the longer side caps the image at 4000
        {{19200, 19200}, 4000, 4000, 6324, 6324},       // 200 x 200 inches: 40 million pixels at most
        {{0.2, 0.2}, 1, 1, 1, 1},                       // never below one pixel
    };
    for (const Case& c : cases) {
        RenderSize exported = ExportRenderSize(c.page), recognised = RecognitionRenderSize(c.page);
        EXPECT_EQ(exported.width, c.exportWidth) << c.page.width;
        EXPECT_EQ(exported.height, c.exportHeight) << c.page.width;
        EXPECT_EQ(recognised.width, c.recogniseWidth) << c.page.width;
        EXPECT_EQ(recognised.height, c.recogniseHeight) << c.page.width;
        EXPECT_LE(double(recognised.width) * recognised.height, 40e6);
    }
}

TEST(PdfInput, OnePageIsOneFileManyPagesOneFolder) {
    REQUIRE_PDF_TOOLS();
    TempDir dir;
    PdfFile single, three;
    single.NewPage(200, 100);
    for (int i = 0; i < 3; ++i) three.NewPage(100, 200);
    WriteFile(dir.File("one.pdf"), single.Serialize());
    WriteFile(dir.File("Report.pdf"), three.Serialize());

    std::vector<double> progress;
    ConvertContext context;
    context.progress = [&](double value) { progress.push_back(value); };
    const Target png{kPng, 0, "ignored suffix"}, jpg{kJpg, 80, ""};
    EXPECT_EQ(ExportPdfPages(dir.File("one.pdf"), png, context, EncodePpm), (std::vector<std::string>{dir.File("one.png")}));
    EXPECT_EQ(ExportPdfPages(dir.File("one.pdf"), jpg, context, EncodePpm), (std::vector<std::string>{dir.File("one.jpg")}));
    EXPECT_EQ(ExportPdfPages(dir.File("one.pdf"), png, context, EncodePpm),
              (std::vector<std::string>{dir.File("one (2).png")}));
    EXPECT_EQ(progress, (std::vector<double>{1, 1, 1}));
    uint32_t width = 0, height = 0;
    // 200 x 100 points are 266.67 x 133.33 DIPs, rendered at twice that size, truncated.
    EXPECT_EQ(PpmPixels(ReadFile(dir.File("one.png")), width, height), std::string(533 * 266 * 3, '\xFF'));
    EXPECT_EQ(width, 533u);
    EXPECT_EQ(height, 266u);

    progress.clear();
    EXPECT_EQ(ExportPdfPages(dir.File("Report.pdf"), png, context, EncodePpm),
              (std::vector<std::string>{dir.File("Report pages")}));
    EXPECT_EQ(ListFolder(dir.File("Report pages")), "Page 001.png|Page 002.png|Page 003.png");
    EXPECT_EQ(progress, (std::vector<double>{1.0 / 3, 2.0 / 3, 1}));
    EXPECT_EQ(ExportPdfPages(dir.File("Report.pdf"), jpg, context, EncodePpm),
              (std::vector<std::string>{dir.File("Report pages (2)")}));
    EXPECT_EQ(ListFolder(dir.File("Report pages (2)")), "Page 001.jpg|Page 002.jpg|Page 003.jpg");
    EXPECT_EQ(ListFolder(dir.path()), "Report pages|Report pages (2)|Report.pdf|one (2).png|one.jpg|one.pdf|one.png");
}

TEST(PdfInput, PagesBecomeRealImagesThroughAWorker) {
    REQUIRE_PDF_TOOLS();
    REQUIRE_TOOL("identify");
    TempDir dir;
    PdfFile single;
    single.NewPage(200, 100);
    WriteFile(dir.File("one.pdf"), single.Serialize());
    WriteFile(dir.File("Report.pdf"), ReadFile(Made().text));
    const int pages = static_cast<int>(PdfInfoPages(dir.File("Report.pdf")).size());
    ASSERT_GE(pages, 2);

    struct Case {
        const char* input;
        const char* target;
        std::string output, magick;  // the path printed, and identify's format and size of its first image
    };
    const Case cases[] = {
        {"one.pdf", "jpg", dir.File("one.jpg"), "JPEG 533x266"},
        {"one.pdf", "png", dir.File("one.png"), "PNG 533x266"},
        {"Report.pdf", "png", dir.File("Report pages"), "PNG 1587x2245"},  // A4 or Letter: the writer's locale
        {"one.pdf", "bmp", dir.File("one.bmp"), "BMP3 533x266"},  // 24-bit: a page has no transparency
    };
    for (const Case& c : cases) {
        CommandResult result = RunCommand(ShellQuote(QUILL_PROGRAM) + " --convert " + ShellQuote(dir.File(c.input)) + " " +
                                          c.target + " 2>&1");
        ASSERT_EQ(result.exitCode, 0) << c.input << " " << c.target << ": " << result.output;
        EXPECT_EQ(result.output, c.output + "\n");
        std::string first = c.output;
        if (std::string(c.input) == "Report.pdf") {
            std::string listing;
            for (int page = 1; page <= pages; ++page) listing += (page > 1 ? "|" : "") + FormatText("Page %03d.png", page);
            EXPECT_EQ(ListFolder(c.output), listing);
            first = JoinPath(c.output, "Page 001.png");
        }
        std::string identified = Shell("identify -format '%m %wx%h' " + ShellQuote(first));
        if (std::string(c.input) == "Report.pdf") {
            EXPECT_TRUE(identified == "PNG 1587x2245" || identified == "PNG 1632x2112") << identified;
        } else {
            EXPECT_EQ(identified, c.magick);
        }
    }
}

TEST(PdfInput, CancelBetweenPagesLeavesNothingBehind) {
    TempDir dir;
    PdfFile ten;
    for (int i = 0; i < 10; ++i) ten.NewPage(50, 50);
    WriteFile(dir.File("ten.pdf"), ten.Serialize());
    std::atomic<bool> cancel{false};
    int encoded = 0;
    ConvertContext context;
    context.cancel = &cancel;
    auto encodeThenCancelAtFive = [&](const images::PixelBuffer& page) {
        if (++encoded == 5) cancel = true;  // while page 5 is being made
        return EncodePpm(page);
    };
    EXPECT_THROW(ExportPdfPages(dir.File("ten.pdf"), Target{kPng, 0, ""}, context, encodeThenCancelAtFive), Cancelled);
    EXPECT_EQ(encoded, 5);  // noticed before page 6
    EXPECT_EQ(ListFolder(dir.path()), "ten.pdf");

    // A failing write removes the pages already written just the same.
    cancel = false;
    encoded = 0;
    auto failAtThree = [&](const images::PixelBuffer& page) {
        if (++encoded == 3) throw ConvertError("Couldn't encode the page");
        return EncodePpm(page);
    };
    EXPECT_EQ(ErrorOf([&] { ExportPdfPages(dir.File("ten.pdf"), Target{kPng, 0, ""}, context, failAtThree); }),
              "Couldn't encode the page");
    EXPECT_EQ(ListFolder(dir.path()), "ten.pdf");
}

TEST(PdfInput, BadInputsFailWithTheirMessageAndLeaveNothing) {
    REQUIRE_PDF_TOOLS();
    Inputs& in = Made();
    TempDir dir;
    const std::string text = ReadFile(in.text);
    PdfFile none, budget;
    WriteFile(dir.File("zero.pdf"),
              "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
              "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n");
    WriteFile(dir.File("empty.pdf"), "");
    WriteFile(dir.File("words.pdf"), "This is not a PDF at all.\n");
    WriteFile(dir.File("truncated.pdf"), text.substr(0, 300));
    for (int i = 0; i < kMaxPdfPages + 1; ++i) budget.NewPage(10, 10);
    WriteFile(dir.File("pages2001.pdf"), budget.Serialize());
    Shell("qpdf --encrypt secret owner 256 -- " + ShellQuote(in.text) + " " + ShellQuote(dir.File("locked.pdf")));
    // An object stream that claims a hundred million objects, and one whose offsets run off its end.
    WriteFile(dir.File("objstm.pdf"),
              "%PDF-1.5\n1 0 obj << /Type /ObjStm /N 100000000 /First 99999999 /Length 10 >>\nstream\n1 0 2 5 3 9\n"
              "endstream\nendobj\ntrailer << /Root 2 0 R /Size 4 >>\n%%EOF\n");
    // An image declaring 100000 x 100000 pixels would take minutes to scale: the page fails.
    WriteFile(dir.File("image.pdf"), ReadFile(std::string(QUILL_SOURCE_DIR) + "/fuzz/corpus/fuzz_pdf_reader/image_huge.pdf"));
    const std::pair<const char*, const char*> cases[] = {
        {"zero.pdf", "This PDF has no pages"},
        {"image.pdf", "Windows couldn't process this PDF"},
        {"empty.pdf", "Couldn't open this PDF (it may be password protected)"},
        {"words.pdf", "Couldn't open this PDF (it may be password protected)"},
        {"truncated.pdf", "Couldn't open this PDF (it may be password protected)"},
        {"locked.pdf", "Couldn't open this PDF (it may be password protected)"},
        {"objstm.pdf", "Couldn't open this PDF (it may be password protected)"},
        {"pages2001.pdf", "This PDF has too many pages (2000 max)"},
    };
    const std::string before = ListFolder(dir.path());
    for (const auto& [name, message] : cases) {
        ConvertContext context;
        EXPECT_EQ(ErrorOf([&] { ReadPdfText(dir.File(name), context); }), message) << name;
        EXPECT_EQ(ErrorOf([&] { ExportPdfPages(dir.File(name), Target{kPng, 0, ""}, context, EncodePpm); }), message)
            << name;
    }
    EXPECT_EQ(ListFolder(dir.path()), before);

    // 2000 pages are within the budget; an owner password alone locks nothing.
    PdfFile most;
    for (int i = 0; i < kMaxPdfPages; ++i) most.NewPage(10, 10);
    WriteFile(dir.File("pages2000.pdf"), most.Serialize());
    EXPECT_EQ(LoadedPdf(dir.File("pages2000.pdf")).PageCount(), kMaxPdfPages);
    Shell("qpdf --encrypt '' owner 256 -- " + ShellQuote(in.text) + " " + ShellQuote(dir.File("owner.pdf")));
    ConvertContext context;
    EXPECT_EQ(Blocks(ReadPdfText(dir.File("owner.pdf"), context)), Blocks(ReadPdfText(in.text, context)));
}

TEST(PdfInput, RenderingPastTheRamLimitFailsBeforeItStarts) {
    TempDir dir;
    PdfFile poster;
    size_t page = poster.NewPage(14400, 14400);  // 200 x 200 inches
    poster.PutText(page, PdfFont::kHelvetica, 400, 1000, 7000, "Poster");
    WriteFile(dir.File("poster.pdf"), poster.Serialize());
    LiveLimits limits;
    ConvertContext context;
    context.limits = &limits;
    LoadedPdf pdf(dir.File("poster.pdf"));
    // 4000 x 4000 pixels need 16 x 16 million bytes and the libraries' 96 MiB.
    LimitSettings settings;
    settings.RamMB = 340;
    limits.Set(settings);
    EXPECT_THROW(pdf.Render(0, ExportRenderSize(pdf.Size(0)), context), std::bad_alloc);
    settings.RamMB = 400;
    limits.Set(settings);
    EXPECT_EQ(pdf.Render(0, ExportRenderSize(pdf.Size(0)), context).width, 4000u);
    settings.RamMB = 0;  // no limit
    limits.Set(settings);
    std::atomic<bool> cancel{true};  // the render itself watches the flag
    ConvertContext cancelled;
    cancelled.cancel = &cancel;
    EXPECT_THROW(pdf.Render(0, ExportRenderSize(pdf.Size(0)), cancelled), Cancelled);
    EXPECT_NO_THROW(CheckRenderMemory(uint64_t(1) << 40, context));
    // A single word is too thin a text layer to stand for the page, so the page is
    // recognised, at 40 million pixels at most.
    EXPECT_EQ(Blocks(ReadPdfText(dir.File("poster.pdf"), context)), (Lines{"Poster"}));
}

TEST(PdfTextReader, TextLayerGivesTheDocumentBackWordForWord) {
    REQUIRE_PDF_TOOLS();
    Inputs& in = Made();
    const Lines expected = {"<h1>Quillaven field report",
                            "The survey covered three valleys during the dry season and counted every bird that "
                            "nested near the river banks, from the first light of the morning until the evening.",
                            "<h2>Findings",
                            "<li>Herons returned to the northern marsh",
                            "<li>Kingfishers nested in older banks",
                            "<li>Swallows arrived two weeks early",
                            "These numbers match the survey of the previous year closely.",
                            "<page><h1>Second part",
                            "Weather stayed calm and the river kept its usual level, so the counts of both years "
                            "can be compared without any correction.",
                            "<page>Closing words on the last page."};
    std::vector<double> progress;
    ConvertContext context;
    context.progress = [&](double value) { progress.push_back(value); };
    for (const std::string& file : {in.text, in.rewritten, in.rotated}) {
        progress.clear();
        Document document = ReadPdfText(file, context);
        EXPECT_EQ(Blocks(document), expected) << file;
        EXPECT_EQ(WideToUtf8(document.title), StemOf(file));
        EXPECT_EQ(progress, (std::vector<double>{0.05 + 0.25 * 1 / 3, 0.05 + 0.25 * 2 / 3, 0.05 + 0.25 * 3 / 3})) << file;
    }
    // pdftotext reads the same words, plus a page number on each page and the bullets.
    std::vector<std::string> theirs = WordsOf(Shell("pdftotext " + ShellQuote(in.text) + " -"));
    std::erase_if(theirs, [](const std::string& word) { return word == "1" || word == "2" || word == "3" || word == "\xE2\x80\xA2"; });
    EXPECT_EQ(WordsOf(TextOfBlocks(ReadPdfText(in.text, context))), theirs);
}

TEST(PdfTextReader, ScannedPagesReadLikeTheTextLayer) {
    REQUIRE_PDF_TOOLS();
    Inputs& in = Made();
    ConvertContext context;
    const Lines fromText = Blocks(ReadPdfText(in.text, context));
    EXPECT_EQ(Blocks(ReadPdfText(in.scanned, context)), fromText);
    // ImageMagick's TIFF through tiff2pdf: the first page alone.
    const Lines firstPage(fromText.begin(), fromText.begin() + 7);
    EXPECT_EQ(Blocks(ReadPdfText(in.scannedTiff, context)), firstPage);
    // A stamp set as text on a scan is too thin a text layer: the page is still recognised.
    TempDir dir;
    PdfFile stamp;
    stamp.PutText(stamp.NewPage(612, 792), PdfFont::kHelveticaBold, 14, 380, 400, "RECEIVED ON 12 MARCH");
    WriteFile(dir.File("stamp.pdf"), stamp.Serialize());
    Shell("qpdf " + ShellQuote(in.scannedTiff) + " --overlay " + ShellQuote(dir.File("stamp.pdf")) + " -- " +
          ShellQuote(dir.File("stamped.pdf")));
    Lines stamped = Blocks(ReadPdfText(dir.File("stamped.pdf"), context));
    ASSERT_GE(stamped.size(), firstPage.size());
    EXPECT_EQ(Lines(stamped.begin(), stamped.begin() + 3), Lines(firstPage.begin(), firstPage.begin() + 3));
    EXPECT_NE(std::find(stamped.begin(), stamped.end(), "<li>Swallows arrived two weeks early"), stamped.end());
    EXPECT_EQ(ErrorOf([&] { ReadPdfText(in.blankScan, context); }), "No text was found in this PDF");

    // Cancelling during the second page stops the reader there.
    std::atomic<bool> cancel{false};
    ConvertContext cancelling;
    cancelling.cancel = &cancel;
    cancelling.progress = [&](double) { cancel = true; };
    EXPECT_THROW(ReadPdfText(in.scanned, cancelling), Cancelled);
}

TEST(PdfTextReader, RecognitionLanguageComesFromTheLocale) {
    REQUIRE_PDF_TOOLS();
    Inputs& in = Made();
    TempDir dir, noData;
    struct Environment {
        const char* name;
        std::string saved;
        bool had;
    };
    std::vector<Environment> saved;
    for (const char* name : {"TESSDATA_PREFIX", "LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
        const char* value = std::getenv(name);
        saved.push_back({name, value ? value : "", value != nullptr});
    }
    auto restore = [&] {
        for (const auto& e : saved) e.had ? ::setenv(e.name, e.saved.c_str(), 1) : ::unsetenv(e.name);
    };
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) ::unsetenv(name);

    // No language data: a scan cannot be read, a PDF with text still converts.
    ::setenv("TESSDATA_PREFIX", noData.path().c_str(), 1);
    ConvertContext context;
    EXPECT_EQ(ErrorOf([&] { ReadPdfText(in.scanned, context); }),
              "Windows has no text recognition language installed (Settings > Time & language > Language)");
    EXPECT_EQ(Blocks(ReadPdfText(in.text, context)).size(), 10u);

    // German text scanned, read under a German locale with German data installed.
    ::unsetenv("TESSDATA_PREFIX");
    ::setenv("LANG", "de_DE.UTF-8", 1);
    Document german;
    german.blocks.push_back(Block{u"Gr\u00FC\u00DFe aus der sch\u00F6nen Stra\u00DFe", 0, false, false});
    PdfFile file = LayoutPdf(german, kA4Page, context);
    WriteFile(dir.File("de.pdf"), file.Serialize());
    Shell("pdftoppm -r 150 -png -singlefile " + ShellQuote(dir.File("de.pdf")) + " " + ShellQuote(dir.File("de")));
    Shell("img2pdf " + ShellQuote(dir.File("de.png")) + " -o " + ShellQuote(dir.File("de-scan.pdf")));
    EXPECT_EQ(Blocks(ReadPdfText(dir.File("de-scan.pdf"), context)),
              (Lines{"Gr\xC3\xBC\xC3\x9F" "e aus der sch\xC3\xB6nen Stra\xC3\x9F" "e"}));
    restore();
}
