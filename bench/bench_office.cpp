// Office conversions against pandoc on the same inputs in one run: a generated DOCX of
// about 200 pages converted to ODT, and a generated 200-slide PPTX converted to DOCX.
// Both sides run as fresh child processes (ours: this program re-started in child mode),
// so each one's peak resident memory is its own (wait4's ru_maxrss). Times are the best
// of a few runs. The inputs are made by pandoc from generated Markdown, so they are a
// real producer's files.
//
// Usage: bench_office [runs]      (default 3)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
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

constexpr int kPages = 200;
constexpr int kSlides = 200;
constexpr int kExitUnavailable = 3;  // the child's conversion failed with a ConvertError

struct Measure {
    bool ok = false;
    double seconds = 0;
    long maxRssKiB = 0;
};

// Runs argv as a child with its output discarded; wall time and peak memory from wait4.
Measure RunChild(const std::vector<std::string>& argv, int* exitCode = nullptr) {
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
    Measure measure;
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) < 0) return measure;
    measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.maxRssKiB = usage.ru_maxrss;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (exitCode) *exitCode = code;
    measure.ok = code == 0;
    return measure;
}

// Best time and highest peak memory over `runs`, removing outputs between runs.
Measure Repeat(const std::vector<std::string>& argv, const fs::path& folder, const fs::path& input, int runs,
               int* exitCode) {
    Measure best;
    for (int run = 0; run < runs; ++run) {
        Measure measure = RunChild(argv, exitCode);
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path() != input) fs::remove_all(entry.path());
        if (!measure.ok) return measure;
        if (!best.ok || measure.seconds < best.seconds) best.seconds = measure.seconds;
        if (measure.maxRssKiB > best.maxRssKiB) best.maxRssKiB = measure.maxRssKiB;
        best.ok = true;
    }
    return best;
}

double MiB(double kib) { return kib / 1024.0; }
double KiB(uintmax_t bytes) { return static_cast<double>(bytes) / 1024.0; }

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Words drawn from a small vocabulary by a fixed pseudo-random sequence, so that the text
// compresses like prose rather than like one repeated sentence.
class Words {
public:
    std::string Next(int count) {
        static const char* const kVocabulary[] = {
            "the", "of", "and", "a", "to", "in", "is", "you", "that", "it", "he", "was", "for", "on", "are", "as",
            "with", "his", "they", "at", "be", "this", "have", "from", "or", "one", "had", "by", "word", "but",
            "not", "what", "all", "were", "we", "when", "your", "can", "said", "there", "use", "an", "each",
            "which", "she", "do", "how", "their", "if", "will", "up", "other", "about", "out", "many", "then",
            "them", "these", "so", "some", "her", "would", "make", "like", "him", "into", "time", "has", "look",
            "two", "more", "write", "go", "see", "number", "no", "way", "could", "people", "my", "than", "first",
            "water", "been", "call", "who", "oil", "its", "now", "find", "long", "down", "day", "did", "get",
            "come", "made", "may", "part", "Grüße", "Köln", "naïve", "café", "façade", "日本語", "テキスト", "Ωμέγα",
            "conversion", "document", "paragraph", "heading", "quarterly", "revenue", "analysis", "report"};
        std::string text;
        for (int i = 0; i < count; ++i) {
            state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
            text += kVocabulary[(state_ >> 33) % std::size(kVocabulary)];
            text += (i + 1) % 14 == 0 ? ". " : " ";
        }
        return text;
    }

private:
    uint64_t state_ = 42;
};

// About 200 pages: per page a heading, three paragraphs of 130 words, a short bulleted
// list, and every fifth page a small table. Levels cycle 1 to 3; text includes non-ASCII.
std::string LongDocument() {
    Words words;
    std::string md;
    for (int page = 1; page <= kPages; ++page) {
        md += std::string(static_cast<size_t>(page % 3) + 1, '#') + " Section " + std::to_string(page) + ": " +
              words.Next(4) + "\n\n";
        for (int paragraph = 0; paragraph < 3; ++paragraph) md += words.Next(130) + "\n\n";
        for (int item = 1; item <= 4; ++item) md += "- " + words.Next(8) + "\n";
        md += "\n";
        if (page % 5 == 0) {
            md += "| Name | Value | Note |\n|---|---|---|\n";
            for (int row = 0; row < 6; ++row)
                md += "| " + words.Next(2) + " | " + std::to_string(row * page) + " | " + words.Next(3) + " |\n";
            md += "\n";
        }
    }
    return md;
}

std::string ManySlides() {
    Words words;
    std::string md;
    for (int slide = 1; slide <= kSlides; ++slide) {
        md += "# " + std::to_string(slide) + ". " + words.Next(5) + "\n\n";
        for (int point = 1; point <= 5; ++point) md += "- " + words.Next(10) + " 😀\n";
        md += "\n";
    }
    return md;
}

bool Pandoc(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"pandoc"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunChild(argv).ok;
}

// Child mode: one conversion (or, with "read", only the reading) in a fresh process.
int Child(const std::string& mode, const std::string& input, int32_t format) {
    try {
        ConvertContext context;
        if (mode == "read") {
            Document document = ReadDocument(input, context);
            return document.blocks.empty() ? 1 : 0;
        }
        ConvertDocument(input, Target{format, 0, ""}, context);
        return 0;
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return kExitUnavailable;
    }
}

void Report(const char* label, const Measure& ours, const Measure& theirs) {
    std::printf("%-34s ours %8.3f s %8.1f MiB | pandoc %8.3f s %8.1f MiB | %6.1fx faster, %5.1fx less memory\n", label,
                ours.seconds, MiB(static_cast<double>(ours.maxRssKiB)), theirs.seconds, MiB(static_cast<double>(theirs.maxRssKiB)),
                theirs.seconds / ours.seconds, static_cast<double>(theirs.maxRssKiB) / static_cast<double>(ours.maxRssKiB));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], argv[3], std::atoi(argv[4]));
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string self = ModulePath();

    char pattern[] = "/tmp/bench_office-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    fs::path root = pattern;
    fs::create_directories(root / "docx");
    fs::create_directories(root / "pptx");
    WriteText(root / "long.md", LongDocument());
    WriteText(root / "slides.md", ManySlides());
    fs::path docx = root / "docx" / "long.docx";
    fs::path pptx = root / "pptx" / "slides.pptx";
    if (!Pandoc({"-f", "markdown", "-o", docx.string(), (root / "long.md").string()}) ||
        !Pandoc({"-f", "markdown", "-t", "pptx", "-o", pptx.string(), (root / "slides.md").string()})) {
        std::fprintf(stderr, "pandoc could not make the inputs (is it installed?)\n");
        fs::remove_all(root);
        return 1;
    }
    std::printf("inputs: %s (%.0f KiB, %d pages of text), %s (%.0f KiB, %d slides); best of %d runs\n",
                docx.filename().c_str(), KiB(fs::file_size(docx)), kPages, pptx.filename().c_str(),
                KiB(fs::file_size(pptx)), kSlides, runs);

    struct Case {
        const char* label;
        fs::path input;
        int32_t format;
        const char* extension;
    };
    int failures = 0;
    for (const Case& test : {Case{"DOCX -> ODT", docx, kOdt, "odt"}, Case{"PPTX -> DOCX", pptx, kDocx, "docx"}}) {
        fs::path folder = test.input.parent_path();
        int code = 0;
        Measure ours = Repeat({self, "--child", "convert", test.input.string(), std::to_string(test.format)}, folder,
                              test.input, runs, &code);
        Measure pandoc = Repeat({"pandoc", test.input.string(), "-o", (folder / "pandoc-out.").string() + test.extension},
                                folder, test.input, runs, nullptr);
        if (ours.ok && pandoc.ok) {
            Report(test.label, ours, pandoc);
        } else {
            if (!ours.ok)
                std::printf("%-34s ours: conversion failed (exit %d; the writer may not be built yet)\n", test.label, code);
            if (!pandoc.ok) std::printf("%-34s pandoc cannot do this conversion (this version cannot read the input)\n", test.label);
            if (ours.ok) std::printf("%-34s ours %8.3f s %8.1f MiB\n", test.label, ours.seconds, MiB(static_cast<double>(ours.maxRssKiB)));
            ++failures;
        }
        // Reading alone, against pandoc reading the same file into its own document tree
        // (written as JSON to /dev/null): the share of the work the readers do.
        Measure oursRead = Repeat({self, "--child", "read", test.input.string(), "0"}, folder, test.input, runs, nullptr);
        Measure pandocRead = Repeat({"pandoc", test.input.string(), "-t", "json", "-o", "/dev/null"}, folder, test.input,
                                    runs, nullptr);
        std::string label = std::string(test.label).substr(0, 4) + " read only";
        if (oursRead.ok && pandocRead.ok)
            Report(label.c_str(), oursRead, pandocRead);
        else if (oursRead.ok)
            std::printf("%-34s ours %8.3f s %8.1f MiB | pandoc cannot read it\n", label.c_str(), oursRead.seconds,
                        MiB(static_cast<double>(oursRead.maxRssKiB)));
    }
    fs::remove_all(root);
    return failures == 0 ? 0 : 2;
}
