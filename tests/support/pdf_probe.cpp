#include "support/pdf_probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace testing_support {

namespace {

double Attribute(const std::string& line, const std::string& name) {
    size_t at = line.find(" " + name + "=\"");
    if (at == std::string::npos) return -1;
    return std::strtod(line.c_str() + at + name.size() + 3, nullptr);
}

std::string DecodeXmlText(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [from, to] : entities) {
        std::string key(from);
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
            text.replace(at, key.size(), to);
    }
    return text;
}

}  // namespace

PdfLayoutProbe ProbeWords(const std::string& pdf) {
    PdfLayoutProbe probe;
    CommandResult result = RunCommand("pdftotext -bbox -enc UTF-8 " + ShellQuote(pdf) + " -");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("<page ") != std::string::npos) {
            probe.pages.push_back({Attribute(line, "width"), Attribute(line, "height")});
        } else if (line.find("<word ") != std::string::npos) {
            PdfWord word;
            word.page = static_cast<int>(probe.pages.size());
            word.xMin = Attribute(line, "xMin");
            word.yMin = Attribute(line, "yMin");
            word.xMax = Attribute(line, "xMax");
            word.yMax = Attribute(line, "yMax");
            size_t open = line.find('>');
            size_t close = line.rfind("</word>");
            if (open != std::string::npos && close != std::string::npos && close > open)
                word.text = DecodeXmlText(line.substr(open + 1, close - open - 1));
            probe.words.push_back(std::move(word));
        }
    }
    return probe;
}

std::string PdfText(const std::string& pdf, int first, int last) {
    std::string command = "pdftotext -enc UTF-8 -f " + std::to_string(first);
    if (last > 0) command += " -l " + std::to_string(last);
    CommandResult result = RunCommand(command + " " + ShellQuote(pdf) + " -");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.output;
}

std::string PdfInfoField(const std::string& pdf, const std::string& field) {
    CommandResult result = RunCommand("pdfinfo " + ShellQuote(pdf));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(field + ":", 0) != 0) continue;
        std::string value = line.substr(field.size() + 1);
        size_t start = value.find_first_not_of(' ');
        return start == std::string::npos ? std::string() : value.substr(start);
    }
    return {};
}

std::string QpdfProblems(const std::string& pdf) {
    CommandResult result = RunCommand("qpdf --check " + ShellQuote(pdf));
    if (result.exitCode == 0 && result.output.find("No syntax or stream encoding errors") != std::string::npos)
        return {};
    return result.output.empty() ? "qpdf failed" : result.output;
}

}  // namespace testing_support
