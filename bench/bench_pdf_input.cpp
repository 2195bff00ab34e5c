// PDF input against the tools a user would pick instead, on the same inputs in one run:
// - a generated 50-page text PDF (our own writer's) rendered at the page-image
//   resolution, against pdftoppm at the same resolution: PNG pages through the program,
//   and the rendering alone (our renderer in a child process against pdftoppm -ppm);
// - the same PDF to TXT (its text layer) through the program, against pdftotext;
// - a 5-page scan (those pages as 150-dpi images wrapped by img2pdf) to TXT through the
//   program, against the tesseract command line on the same pages at the resolution our
//   recogniser is given (288 dpi).
// Our program runs through a worker with the limits off (CpuPercent 100, LowPriority 0
// in a settings file of its own).
//
// Usage: bench_pdf_input [runs]      (default 3)
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "convert/core/catalog.h"
#include "convert/core/process.h"
#include "convert/core/text.h"
#include "convert/pdf/pdf_layout.h"
#include "convert/pdf/pdf_render.h"

using namespace bench;

namespace {

constexpr int kTextPages = 50;
constexpr int kScannedPages = 5;

Document LongDocument() {
    Words words({"the", "survey", "counted", "birds", "near", "river", "banks", "during", "dry", "season", "valley", "north",
                 "marsh", "herons", "returned", "early", "kingfishers", "nested", "older", "numbers", "match", "previous",
                 "year", "closely", "weather", "calm", "level", "counts", "compared", "without", "correction", "and", "of"},
                7, 12);
    Document document;
    auto pages = [&document] {
        ConvertContext context;
        return LayoutPdf(document, kLetterPage, context).Pages().size();
    };
    while (pages() < kTextPages) {
        document.blocks.push_back(Block{Utf8ToWide("Section " + std::to_string(document.blocks.size())), 2, false, false});
        for (int i = 0; i < 3; ++i) document.blocks.push_back(Block{Utf8ToWide(words.Next(90)), 0, false, false});
        for (int i = 0; i < 3; ++i) document.blocks.push_back(Block{Utf8ToWide(words.Next(6)), 0, true, false});
    }
    while (pages() > kTextPages) document.blocks.pop_back();
    return document;
}

// Child mode: every page rendered at its page-image size, nothing written.
int RenderAll(const std::string& input) {
    try {
        ConvertContext context;
        LoadedPdf pdf(input);
        for (int page = 0; page < pdf.PageCount(); ++page) pdf.Render(page, ExportRenderSize(pdf.Size(page)), context);
        return 0;
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return kExitConvertError;
    }
}

void Report(const char* label, const Run& ours, const char* tool, const Run& theirs, double budget) {
    if (!ours.ok || !theirs.ok) {
        std::printf("%-34s ours %s (exit %d) | %s %s\n", label, ours.ok ? "ok" : "FAILED", ours.exitCode, tool,
                    theirs.ok ? "ok" : "failed or missing");
        return;
    }
    // Wall time is what the budget is about; processor time tells the two apart when
    // other work loads the machine (our worker runs below normal priority).
    double ratio = ours.seconds / theirs.seconds, cpuRatio = ours.cpuSeconds / theirs.cpuSeconds;
    std::printf("%-32s ours %7.3f s (cpu %6.3f s) %6.1f MiB | %-9s %7.3f s (cpu %6.3f s) %6.1f MiB | %5.2fx its time, "
                "%5.2fx its cpu (budget %.1fx) %s\n",
                label, ours.seconds, ours.cpuSeconds, MiB(ours.peakKiB), tool, theirs.seconds, theirs.cpuSeconds,
                MiB(theirs.peakKiB), ratio, cpuRatio, budget, ratio <= budget ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--render") == 0) return RenderAll(argv[2]);
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string self = ModulePath();
    const std::string program = (fs::path(self).parent_path().parent_path() / "Quillaven").string();

    char pattern[] = "/tmp/bench_pdf_input-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path root = pattern;
    for (const char* folder : {"config/quillaven", "text", "scan", "theirs"}) fs::create_directories(root / folder);
    WriteText(root / "config/quillaven/settings.ini", "CpuPercent=100\nLowPriority=0\n");
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);

    const fs::path text = root / "text" / "report.pdf", scan = root / "scan" / "scan.pdf";
    {
        ConvertContext context;
        WriteText(text, LayoutPdf(LongDocument(), kLetterPage, context).Serialize());
    }
    std::vector<std::string> img2pdf = {"img2pdf", "-o", scan.string()};
    bool made = RunChild({"pdftoppm", "-r", "150", "-png", "-f", "1", "-l", std::to_string(kScannedPages), text.string(),
                          (root / "theirs" / "scan").string()})
                    .ok;
    for (int page = 1; page <= kScannedPages; ++page)
        img2pdf.push_back((root / "theirs" / FormatText("scan-%02d.png", page)  /* pdftoppm pads to the digits of 50 */).string());
    made = made && RunChild(img2pdf).ok;
    // The tesseract command line gets the scan at the resolution our recogniser works at.
    made = made && RunChild({"pdftoppm", "-r", "288", "-png", scan.string(), (root / "theirs" / "page").string()}).ok;
    std::string list;
    for (int page = 1; page <= kScannedPages; ++page) list += (root / "theirs" / FormatText("page-%d.png", page)).string() + "\n";
    WriteText(root / "theirs" / "pages.txt", list);
    if (!made) {
        std::fprintf(stderr, "pdftoppm or img2pdf could not make the inputs (are they installed?)\n");
        fs::remove_all(root);
        return 1;
    }
    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("load average %.2f %.2f %.2f on %ld processors\n", load[0], load[1], load[2], ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("inputs: report.pdf (%d pages of text, our writer's), scan.pdf (%d pages at 150 dpi, img2pdf); "
                "best of %d runs; limits off\n",
                kTextPages, kScannedPages, runs);

    auto cleanUp = [&] {
        RemoveAllBut(root / "text", {"report.pdf"});
        RemoveAllBut(root / "scan", {"scan.pdf"});
        fs::remove_all(root / "theirs" / "out");
        fs::create_directories(root / "theirs" / "out");
    };
    cleanUp();
    const std::string out = (root / "theirs" / "out").string();
    // Letter pages are 816 DIPs wide: the page-image rule renders them at twice that, 192 dpi.
    Report("50 pages to PNG", Best({program, "--convert", text.string(), "png"}, runs, cleanUp), "pdftoppm",
           Best({"pdftoppm", "-r", "192", "-png", text.string(), out + "/page"}, runs, cleanUp), 1.2);
    Report("50 pages rendered (no encoding)", Best({self, "--render", text.string()}, runs, cleanUp), "pdftoppm",
           Best({"pdftoppm", "-r", "192", text.string(), out + "/page"}, runs, cleanUp), 1.2);
    Report("50-page text PDF to TXT", Best({program, "--convert", text.string(), "txt"}, runs, cleanUp), "pdftotext",
           Best({"pdftotext", text.string(), out + "/report.txt"}, runs, cleanUp), 3.0);
    Report("5-page scan to TXT", Best({program, "--convert", scan.string(), "txt"}, runs, cleanUp), "tesseract",
           Best({"tesseract", (root / "theirs" / "pages.txt").string(), out + "/scan"}, runs, cleanUp), 1.2);
    fs::remove_all(root);
    return 0;
}
