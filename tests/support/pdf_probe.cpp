#include "support/pdf_probe.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/test_support.h"

namespace testing_support {

namespace {

std::string Run(const std::string& command) {
    CommandResult result = RunCommand(command);
    EXPECT_EQ(result.exitCode, 0) << command << ": " << result.output;
    return result.output;
}

}  // namespace

std::vector<PdfWord> ProbeWords(const std::string& pdf) {
    std::string output = Run("pdftotext -bbox -enc UTF-8 " + ShellQuote(pdf) + " -");
    static const std::regex item("<page |<word xMin=\"([-\\d.]+)\" yMin=\"([-\\d.]+)\" xMax=\"([-\\d.]+)\" "
                                 "yMax=\"([-\\d.]+)\">([^<]*)</word>");
    std::vector<PdfWord> words;
    int page = 0;
    for (std::sregex_iterator it(output.begin(), output.end(), item), end; it != end; ++it) {
        const std::smatch& m = *it;
        if (!m[1].matched) {
            ++page;
            continue;
        }
        words.push_back({page, std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), m[5]});
    }
    return words;
}

std::string PdfText(const std::string& pdf, int first, int last) {
    std::string range = "-f " + std::to_string(first) + (last > 0 ? " -l " + std::to_string(last) : "");
    return Run("pdftotext -enc UTF-8 " + range + " " + ShellQuote(pdf) + " -");
}

std::string PdfInfoField(const std::string& pdf, const std::string& field) {
    std::string output = Run("pdfinfo " + ShellQuote(pdf));
    std::smatch m;
    if (!std::regex_search(output, m, std::regex("(^|\n)" + field + ": *([^\n]*)"))) return {};
    return m[2];
}

std::string QpdfProblems(const std::string& pdf) {
    CommandResult result = RunCommand("qpdf --check " + ShellQuote(pdf));
    bool clean = result.exitCode == 0 && result.output.find("No syntax or stream encoding errors") != std::string::npos;
    return clean ? std::string() : result.output + " (qpdf exit " + std::to_string(result.exitCode) + ")";
}

}  // namespace testing_support
