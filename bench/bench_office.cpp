// Office conversions against pandoc on the same inputs in one run: a generated DOCX of
// about 200 pages converted to ODT, and a generated 200-slide PPTX converted to DOCX.
// The inputs are made by pandoc from generated Markdown, so they are a real producer's
// files. pandoc cannot read PPTX; for that case it converts the same slides made as a
// DOCX (title and bullets per slide) to DOCX: the nearest conversion it can do of the
// same content out of the same kind of package.
//
// Usage: bench_office [runs]      (default 3)
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "convert/core/catalog.h"
#include "convert/core/process.h"
#include "convert/documents/readers.h"

using namespace bench;

namespace {

constexpr int kPages = 200;
constexpr int kSlides = 200;

Words MakeWords() {
    return Words({"the", "of", "and", "a", "to", "in", "is", "you", "that", "it", "he", "was", "for", "on", "are", "as",
                  "with", "his", "they", "at", "be", "this", "have", "from", "or", "one", "had", "by", "word", "but",
                  "not", "what", "all", "were", "we", "when", "your", "can", "said", "there", "use", "an", "each",
                  "which", "she", "do", "how", "their", "if", "will", "up", "other", "about", "out", "many", "then",
                  "them", "these", "so", "some", "her", "would", "make", "like", "him", "into", "time", "has", "look",
                  "two", "more", "write", "go", "see", "number", "no", "way", "could", "people", "my", "than", "first",
                  "water", "been", "call", "who", "oil", "its", "now", "find", "long", "down", "day", "did", "get",
                  "come", "made", "may", "part", "Grüße", "Köln", "naïve", "café", "façade", "日本語", "テキスト", "Ωμέγα",
                  "conversion", "document", "paragraph", "heading", "quarterly", "revenue", "analysis", "report"},
                 42, 14);
}

// About 200 pages: per page a heading, three paragraphs of 130 words, a short bulleted
// list, and every fifth page a small table. Levels cycle 1 to 3; text includes non-ASCII.
std::string LongDocument() {
    Words words = MakeWords();
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
    Words words = MakeWords();
    std::string md;
    for (int slide = 1; slide <= kSlides; ++slide) {
        md += "# " + std::to_string(slide) + ". " + words.Next(5) + "\n\n";
        for (int point = 1; point <= 5; ++point) md += "- " + words.Next(10) + " 😀\n";
        md += "\n";
    }
    return md;
}

// Child mode: one conversion, or with "read" only the reading, in a fresh process.
int Child(const std::string& mode, const std::string& input, int32_t format) {
    if (mode != "read") return ConvertInChild(input, format);
    try {
        ConvertContext context;
        return ReadDocument(input, context).blocks.empty() ? 1 : 0;
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return kExitConvertError;
    }
}

void Report(const std::string& label, const Run& ours, const Run& theirs) {
    if (!ours.ok || !theirs.ok) {
        std::printf("%-36s ours %s (exit %d) | pandoc %s\n", label.c_str(), ours.ok ? "ok" : "FAILED", ours.exitCode,
                    theirs.ok ? "ok" : "failed or missing");
        return;
    }
    std::printf("%-36s ours %8.3f s %8.1f MiB | pandoc %8.3f s %8.1f MiB | %6.1fx faster, %5.1fx less memory\n", label.c_str(),
                ours.seconds, MiB(ours.peakKiB), theirs.seconds, MiB(theirs.peakKiB), theirs.seconds / ours.seconds,
                static_cast<double>(theirs.peakKiB) / static_cast<double>(ours.peakKiB));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], argv[3], std::atoi(argv[4]));
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string self = ModulePath();

    char pattern[] = "/tmp/bench_office-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    fs::path root = pattern;
    for (const char* folder : {"docx", "pptx", "stand-in"}) fs::create_directories(root / folder);
    WriteText(root / "long.md", LongDocument());
    WriteText(root / "slides.md", ManySlides());
    fs::path docx = root / "docx" / "long.docx", pptx = root / "pptx" / "slides.pptx";
    fs::path slidesDocx = root / "stand-in" / "slides.docx";
    auto pandoc = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "pandoc");
        return RunChild(arguments).ok;
    };
    if (!pandoc({"-f", "markdown", "-o", docx.string(), (root / "long.md").string()}) ||
        !pandoc({"-f", "markdown", "-t", "pptx", "-o", pptx.string(), (root / "slides.md").string()}) ||
        !pandoc({"-f", "markdown", "-o", slidesDocx.string(), (root / "slides.md").string()})) {
        std::fprintf(stderr, "pandoc could not make the inputs (is it installed?)\n");
        fs::remove_all(root);
        return 1;
    }
    std::printf("inputs: long.docx (%.0f KiB, %d pages of text), slides.pptx (%.0f KiB, %d slides), the same slides as "
                "slides.docx (%.0f KiB) for pandoc; best of %d runs\n",
                static_cast<double>(fs::file_size(docx)) / 1024.0, kPages, static_cast<double>(fs::file_size(pptx)) / 1024.0,
                kSlides, static_cast<double>(fs::file_size(slidesDocx)) / 1024.0, runs);

    struct Case {
        const char* label;
        fs::path input;        // ours
        fs::path pandocInput;  // the same content in a format pandoc reads
        int32_t format;
        const char* extension;
    };
    int failures = 0;
    for (const Case& test : {Case{"DOCX -> ODT", docx, docx, kOdt, "odt"},
                             Case{"PPTX -> DOCX (pandoc: DOCX -> DOCX)", pptx, slidesDocx, kDocx, "docx"}}) {
        auto cleanUp = [&] {
            RemoveAllBut(test.input.parent_path(), {test.input.filename().string()});
            RemoveAllBut(test.pandocInput.parent_path(), {test.pandocInput.filename().string()});
        };
        fs::path theirOutput = test.pandocInput.parent_path() / (std::string("pandoc-out.") + test.extension);
        Run ours = Best({self, "--child", "convert", test.input.string(), std::to_string(test.format)}, runs, cleanUp);
        Run theirs = Best({"pandoc", test.pandocInput.string(), "-o", theirOutput.string()}, runs, cleanUp);
        Report(test.label, ours, theirs);
        failures += ours.ok && theirs.ok ? 0 : 1;
        // Reading alone, against pandoc reading the same content into its own document
        // tree (written as JSON to /dev/null): the share of the work the readers do.
        Run oursRead = Best({self, "--child", "read", test.input.string(), "0"}, runs, cleanUp);
        Run theirsRead = Best({"pandoc", test.pandocInput.string(), "-t", "json", "-o", "/dev/null"}, runs, cleanUp);
        Report(std::string(test.label).substr(0, 4) + " read only", oursRead, theirsRead);
    }
    fs::remove_all(root);
    return failures == 0 ? 0 : 2;
}
