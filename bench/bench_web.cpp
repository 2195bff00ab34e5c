// Web, text and table conversions against the tools a user would pick instead, on the
// same inputs in one run: Markdown to HTML and HTML to EPUB against pandoc, and a 5 MB
// CSV to JSON against pandoc and to XLSX against Python's csv module with openpyxl
// (pandoc writes no spreadsheets). Every conversion, ours included, runs as a fresh
// child process (ours: this program in child mode calling ConvertDocument), so start-up
// and peak memory (wait4's ru_maxrss) are counted alike. Times are the best of a few runs.
//
// Usage: bench_web [runs]      (default 3; the slow CSV runs of the other tools run once)
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "convert/core/catalog.h"
#include "convert/core/process.h"

using namespace bench;

namespace {

constexpr int kSections = 300;            // about 200 pages of Markdown
constexpr size_t kCsvBytes = 5u << 20;    // the CSV size the readers must handle quickly

// Prose from a small vocabulary with some non-ASCII words.
Words MakeWords() {
    return Words({"the", "of", "and", "to", "in", "is", "that", "for", "with", "as", "on", "was", "by", "from", "this",
                  "report", "figure", "quarterly", "revenue", "section", "result", "growth", "market", "value", "table",
                  "Grüße", "Köln", "naïve", "café", "façade", "日本語", "Ωμέγα", "übermäßig", "crème", "brûlée"},
                 7, 12);
}

std::string MarkdownBook() {
    Words words = MakeWords();
    std::string md;
    for (int section = 1; section <= kSections; ++section) {
        md += std::string(static_cast<size_t>(section % 3) + 1, '#') + " Section " + std::to_string(section) + "\n\n";
        for (int paragraph = 0; paragraph < 2; ++paragraph) md += words.Next(110) + "\n\n";
        for (int item = 0; item < 4; ++item) md += "- **" + words.Next(2) + "** " + words.Next(6) + "\n";
        md += "\n";
    }
    return md;
}

std::string Csv() {
    Words words = MakeWords();
    std::string csv = "id,name,city,amount,note\n";
    for (int row = 1; csv.size() < kCsvBytes; ++row)
        csv += std::to_string(row) + "," + words.Next(2) + ",\"" + words.Next(1) + ", " + words.Next(1) + "\"," +
               std::to_string(row * 37 % 100000) + "." + std::to_string(row % 100) + ",\"" + words.Next(5) + "\"\n";
    return csv;
}

void Report(const char* label, const char* tool, const Run& ours, const Run& theirs) {
    if (!ours.ok || !theirs.ok) {
        std::printf("%-16s ours %s | %s %s\n", label, ours.ok ? "ok" : "FAILED", tool, theirs.ok ? "ok" : "failed or missing");
        return;
    }
    std::printf("%-16s ours %7.3f s %7.1f MiB | %-16s %8.3f s %7.1f MiB | %7.1fx faster\n", label, ours.seconds,
                MiB(ours.peakKiB), tool, theirs.seconds, MiB(theirs.peakKiB), theirs.seconds / ours.seconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return ConvertInChild(argv[2], std::atoi(argv[3]));
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string self = ModulePath();
    char pattern[] = "/tmp/bench_web-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    fs::path root = pattern;
    fs::path in = root / "in", out = root / "out";
    fs::create_directories(in);
    fs::create_directories(out);

    WriteText(root / "book.md", MarkdownBook());
    WriteText(root / "table.csv", Csv());
    fs::copy_file(root / "book.md", in / "book.md");
    fs::copy_file(root / "table.csv", in / "table.csv");
    if (!RunChild({"pandoc", "-s", (root / "book.md").string(), "-o", (in / "book.html").string()}).ok) {
        std::fprintf(stderr, "pandoc could not make the HTML input (is it installed?)\n");
        fs::remove_all(root);
        return 1;
    }
    std::printf("inputs: book.md %.0f KiB, book.html %.0f KiB (made by pandoc), table.csv %.1f MiB; best of %d runs\n",
                static_cast<double>(fs::file_size(in / "book.md")) / 1024.0,
                static_cast<double>(fs::file_size(in / "book.html")) / 1024.0,
                static_cast<double>(fs::file_size(in / "table.csv")) / 1048576.0, runs);

    // Inputs for our runs live in their own folder, where our outputs appear beside them.
    auto ours = [&](const char* input, int32_t format) {
        return Best({self, "--child", (in / input).string(), std::to_string(format)}, runs,
                    [&] { RemoveAllBut(in, {"book.md", "table.csv", "book.html"}); });
    };
    auto theirs = [&](const std::vector<std::string>& command, int count) {
        return Best(command, count, [&] {
            fs::remove_all(out);
            fs::create_directories(out);
        });
    };
    std::string md = (in / "book.md").string(), html = (in / "book.html").string(), csv = (in / "table.csv").string();

    Report("Markdown -> HTML", "pandoc", ours("book.md", kHtml), theirs({"pandoc", md, "-o", (out / "o.html").string()}, runs));
    Report("HTML -> EPUB", "pandoc", ours("book.html", kEpub), theirs({"pandoc", html, "-o", (out / "o.epub").string()}, runs));
    Report("CSV -> JSON", "pandoc", ours("table.csv", kJson),
           theirs({"pandoc", "-f", "csv", "-t", "json", csv, "-o", (out / "o.json").string()}, 1));
    fs::path script = root / "to_xlsx.py";
    WriteText(script, "import csv, sys, openpyxl\n"
                      "wb = openpyxl.Workbook(write_only=True)\nws = wb.create_sheet('table')\n"
                      "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                      "    for row in csv.reader(f): ws.append(row)\n"
                      "wb.save(sys.argv[2])\n");
    Report("CSV -> XLSX", "python openpyxl", ours("table.csv", kXlsx),
           theirs({"/usr/bin/python3", script.string(), csv, (out / "o.xlsx").string()}, 1));
    fs::remove_all(root);
    return 0;
}
