// PDF writer benchmark: a generated 300-page text document (the same every run) is
// laid out and written as PDF. Prints pages per second, the peak memory of a child
// process that does only that conversion (the budget is 64 MiB), and, since pandoc
// needs a separate PDF engine, compares our HTML and Markdown writers with pandoc
// writing the same document (pandoc to PDF too when an engine is installed).
//
// Usage: bench_pdf [--runs N]; bench_pdf --child <pdf|document> <out.pdf> is the
// child mode used for the memory figure.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"

namespace {

constexpr size_t kTargetPages = 300;
constexpr size_t kParagraphs = 3968;  // gives 300 A4 pages with the generator below
constexpr long kMemoryBudgetKiB = 64 * 1024;

using Clock = std::chrono::steady_clock;

// A small fixed generator, so the document is the same on every machine and run.
class Words {
public:
    std::u16string Next() {
        static const char16_t* const kWords[] = {
            u"the",      u"converter", u"writes",  u"pages",   u"of",     u"text",     u"with",   u"a",
            u"number",   u"on",        u"each",    u"margin",  u"and",    u"headings", u"in",     u"bold",
            u"document", u"layout",    u"wraps",   u"long",    u"lines",  u"between",  u"words", u"caf\u00e9",
            u"r\u00e9sum\u00e9", u"\u2014", u"(notes)", u"quality", u"paper", u"letter", u"metric", u"fonts"};
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return kWords[(state_ >> 33) % std::size(kWords)];
    }
    size_t Below(size_t limit) {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<size_t>((state_ >> 33) % limit);
    }

private:
    uint64_t state_ = 0x5EED;
};

Document MakeDocument() {
    Document document;
    document.title = u"Benchmark";
    Words words;
    for (size_t i = 0; i < kParagraphs; ++i) {
        Block block;
        if (i % 12 == 0) {
            block.level = 1 + static_cast<int32_t>(words.Below(3));
            for (size_t w = 0; w < 4; ++w) block.text += (w ? u" " : u"") + words.Next();
        } else {
            block.listItem = i % 12 >= 9;
            size_t count = block.listItem ? 12 : 30 + words.Below(60);
            for (size_t w = 0; w < count; ++w) block.text += (w ? u" " : u"") + words.Next();
        }
        document.blocks.push_back(std::move(block));
    }
    return document;
}

// Our writers' bytes reach the disk the way a conversion's do.
void Publish(const std::string& path, std::string_view bytes) {
    PublishOutput(FolderOf(path), StemOf(path), ExtensionOf(path), bytes);
}

size_t FileSize(const std::string& path) {
    std::error_code ignored;
    return static_cast<size_t>(std::filesystem::file_size(path, ignored));
}

int ChildMain(const std::string& what, const std::string& out) {
    Document document = MakeDocument();
    if (what == "document") return document.blocks.empty() ? 1 : 0;
    ConvertContext context;
    try {
        Publish(out, LayoutPdf(document, kA4Page, context).Serialize());
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 1;
    }
    return 0;
}

// Runs this program in child mode and returns the child's peak resident size in KiB.
long ChildPeakKiB(const std::string& what, const std::string& out) {
    std::filesystem::remove(out);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/proc/self/exe", "bench_pdf", "--child", what.c_str(), out.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

template <typename Work>
double BestOf(int runs, Work work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        work();
        best = std::min(best, Seconds(start));
    }
    return best;
}

bool HaveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Best wall time of a shell command over `runs` runs, or a negative value when it fails.
double BestCommand(int runs, const std::string& command) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
        best = std::min(best, Seconds(start));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return ChildMain(argv[2], argv[3]);
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));

    std::string folder = (std::filesystem::temp_directory_path() / ("bench_pdf-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(folder);
    const std::string pdf = folder + "/bench.pdf";

    Document document = MakeDocument();
    ConvertContext context;
    size_t pages = LayoutPdf(document, kA4Page, context).Pages().size();
    size_t characters = 0;
    for (const Block& block : document.blocks) characters += block.text.size();
    std::printf("document: %zu blocks, %zu characters, %zu A4 pages (target %zu)\n", document.blocks.size(),
                characters, pages, kTargetPages);

    double layout = BestOf(runs, [&] { LayoutPdf(document, kA4Page, context); });
    double whole = BestOf(runs, [&] {
        std::filesystem::remove(pdf);
        Publish(pdf, LayoutPdf(document, kA4Page, context).Serialize());
    });
    std::printf("PDF: layout %.1f ms, layout + serialise + write %.1f ms (best of %d), %zu bytes\n", layout * 1e3,
                whole * 1e3, runs, FileSize(pdf));
    std::printf("PDF: %.0f pages per second\n", static_cast<double>(pages) / whole);

    long documentOnly = ChildPeakKiB("document", pdf);
    long withPdf = ChildPeakKiB("pdf", pdf);
    std::printf("peak memory of a child process: %.1f MiB building the document alone, %.1f MiB with the PDF "
                "written (budget %ld MiB): %s\n",
                static_cast<double>(documentOnly) / 1024, static_cast<double>(withPdf) / 1024, kMemoryBudgetKiB / 1024,
                withPdf > 0 && withPdf < kMemoryBudgetKiB ? "within budget" : "OVER BUDGET");

    // pandoc cannot write PDF without an engine; use one when installed.
    const std::string markdown = folder + "/bench.md";
    Publish(markdown, WriteMarkdown(document));
    for (const char* engine : {"wkhtmltopdf", "weasyprint", "pdflatex", "xelatex", "lualatex", "tectonic", "typst"}) {
        if (!HaveTool("pandoc") || !HaveTool(engine)) continue;
        double theirs = BestCommand(1, "pandoc -f markdown -o " + folder + "/pandoc.pdf --pdf-engine=" + engine + " " +
                                           markdown);
        if (theirs > 0)
            std::printf("pandoc with %s to PDF: %.1f ms; ours is %.1fx faster\n", engine, theirs * 1e3, theirs / whole);
        break;
    }

    auto compare = [&](const char* label, std::string (*writer)(const Document&), const char* format,
                       const char* extension) {
        std::string ours = folder + "/ours." + extension;
        double ourTime = BestOf(runs, [&] {
            std::filesystem::remove(ours);
            Publish(ours, writer(document));
        });
        double theirTime = HaveTool("pandoc") ? BestCommand(runs, std::string("pandoc -f markdown -t ") + format +
                                                                      " -o " + folder + "/pandoc." + extension + " " +
                                                                      markdown)
                                              : -1;
        if (theirTime > 0)
            std::printf("%s: ours %.1f ms, pandoc (from the same text as Markdown) %.1f ms: ours %.0fx faster\n", label,
                        ourTime * 1e3, theirTime * 1e3, theirTime / ourTime);
        else
            std::printf("%s: ours %.1f ms (pandoc not available)\n", label, ourTime * 1e3);
    };
    compare("HTML", WriteHtml, "html5", "html");
    compare("Markdown", WriteMarkdown, "markdown", "md");
    compare("EPUB", WriteEpub, "epub3", "epub");

    std::filesystem::remove_all(folder);
    return withPdf > 0 && withPdf < kMemoryBudgetKiB ? 0 : 1;
}
