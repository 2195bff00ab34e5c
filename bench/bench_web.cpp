// Web, text and table conversions against the tools a user would pick instead, on the
// same inputs in one run: Markdown to HTML and HTML to EPUB against pandoc, and a 5 MB
// CSV to JSON against pandoc and to XLSX against Python's csv module with openpyxl
// (pandoc writes no spreadsheets). Every conversion, ours included, runs as a fresh
// child process (ours: this program in child mode calling ConvertDocument), so start-up
// and peak memory (wait4's ru_maxrss) are counted alike. Times are the best of a few runs.
//
// Usage: bench_web [runs]      (default 3; the slow CSV runs of the other tools run once)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/context.h"
#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/process.h"
#include "convert/documents/readers.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSections = 300;            // about 200 pages of Markdown
constexpr size_t kCsvBytes = 5u << 20;    // the CSV size the readers must handle quickly

struct Run {
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

Run RunChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    Run run;
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) < 0) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// Best time over `runs`; outputs are removed between runs so names never pile up.
Run Best(const std::vector<std::string>& argv, const fs::path& outputs, int runs) {
    Run best;
    for (int i = 0; i < runs; ++i) {
        Run run = RunChild(argv);
        fs::remove_all(outputs);
        fs::create_directories(outputs);
        if (!run.ok) return run;
        if (!best.ok || run.seconds < best.seconds) best.seconds = run.seconds;
        best.peakKiB = std::max(best.peakKiB, run.peakKiB);
        best.ok = true;
    }
    return best;
}

// Prose from a fixed pseudo-random walk over a small vocabulary with some non-ASCII words.
class Words {
public:
    std::string Next(int count) {
        static const char* const kWords[] = {
            "the", "of", "and", "to", "in", "is", "that", "for", "with", "as", "on", "was", "by", "from", "this",
            "report", "figure", "quarterly", "revenue", "section", "result", "growth", "market", "value", "table",
            "Grüße", "Köln", "naïve", "café", "façade", "日本語", "Ωμέγα", "übermäßig", "crème", "brûlée"};
        std::string text;
        for (int i = 0; i < count; ++i) {
            state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
            text += kWords[(state_ >> 33) % std::size(kWords)];
            text += (i + 1) % 12 == 0 ? ". " : " ";
        }
        return text;
    }

private:
    uint64_t state_ = 7;
};

std::string MarkdownBook() {
    Words words;
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
    Words words;
    std::string csv = "id,name,city,amount,note\n";
    for (int row = 1; csv.size() < kCsvBytes; ++row)
        csv += std::to_string(row) + "," + words.Next(2) + ",\"" + words.Next(1) + ", " + words.Next(1) + "\"," +
               std::to_string(row * 37 % 100000) + "." + std::to_string(row % 100) + ",\"" + words.Next(5) + "\"\n";
    return csv;
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int Child(const std::string& input, int32_t format) {
    try {
        ConvertContext context;
        ConvertDocument(input, Target{format, 0, ""}, context);
        return 0;
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 3;
    }
}

void Report(const char* label, const char* tool, const Run& ours, const Run& theirs) {
    if (!ours.ok || !theirs.ok) {
        std::printf("%-16s ours %s | %s %s\n", label, ours.ok ? "ok" : "FAILED", tool, theirs.ok ? "ok" : "failed or missing");
        return;
    }
    std::printf("%-16s ours %7.3f s %7.1f MiB | %-16s %8.3f s %7.1f MiB | %7.1fx faster\n", label, ours.seconds,
                static_cast<double>(ours.peakKiB) / 1024.0, tool, theirs.seconds, static_cast<double>(theirs.peakKiB) / 1024.0,
                theirs.seconds / ours.seconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], std::atoi(argv[3]));
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string self = ModulePath();
    char pattern[] = "/tmp/bench_web-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    fs::path root = pattern;
    fs::path in = root / "in", out = root / "out";
    fs::create_directories(in);
    fs::create_directories(out);

    Write(root / "book.md", MarkdownBook());
    Write(root / "table.csv", Csv());
    // Inputs for our runs live in their own folder, where our outputs appear beside them.
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

    auto ours = [&](const char* input, int32_t format) {
        Run best;
        for (int i = 0; i < runs; ++i) {
            Run run = RunChild({self, "--child", (in / input).string(), std::to_string(format)});
            for (const auto& entry : fs::directory_iterator(in))
                if (entry.path().filename() != "book.md" && entry.path().filename() != "table.csv" &&
                    entry.path().filename() != "book.html")
                    fs::remove(entry.path());
            if (!run.ok) return run;
            if (!best.ok || run.seconds < best.seconds) best.seconds = run.seconds;
            best.peakKiB = std::max(best.peakKiB, run.peakKiB);
            best.ok = true;
        }
        return best;
    };
    std::string md = (in / "book.md").string(), html = (in / "book.html").string(), csv = (in / "table.csv").string();

    Report("Markdown -> HTML", "pandoc", ours("book.md", kHtml), Best({"pandoc", md, "-o", (out / "o.html").string()}, out, runs));
    Report("HTML -> EPUB", "pandoc", ours("book.html", kEpub), Best({"pandoc", html, "-o", (out / "o.epub").string()}, out, runs));
    Report("CSV -> JSON", "pandoc", ours("table.csv", kJson),
           Best({"pandoc", "-f", "csv", "-t", "json", csv, "-o", (out / "o.json").string()}, out, 1));
    fs::path script = root / "to_xlsx.py";
    Write(script, "import csv, sys, openpyxl\n"
                  "wb = openpyxl.Workbook(write_only=True)\nws = wb.create_sheet('table')\n"
                  "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                  "    for row in csv.reader(f): ws.append(row)\n"
                  "wb.save(sys.argv[2])\n");
    Report("CSV -> XLSX", "python openpyxl", ours("table.csv", kXlsx),
           Best({"/usr/bin/python3", script.string(), csv, (out / "o.xlsx").string()}, out, 1));
    fs::remove_all(root);
    return 0;
}
