// Reading our PDFs back through poppler's command-line tools, for tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct PdfWord {
    int page = 0;  // from 1
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;  // points, y from the top of the page
    std::string text;  // UTF-8, XML entities decoded
};

struct PdfPageBox {
    double width = 0, height = 0;
};

struct PdfLayoutProbe {
    std::vector<PdfPageBox> pages;
    std::vector<PdfWord> words;
};

// pdftotext -bbox: every word with its box. Fails the test when the tool fails.
PdfLayoutProbe ProbeWords(const std::string& pdf);
// pdftotext of pages first..last (0 means "to the end"), UTF-8.
std::string PdfText(const std::string& pdf, int first = 1, int last = 0);
// The value of one pdfinfo line ("Pages", "Page size"), trimmed; empty when missing.
std::string PdfInfoField(const std::string& pdf, const std::string& field);
// qpdf --check output; empty when the file passes.
std::string QpdfProblems(const std::string& pdf);

}  // namespace testing_support
