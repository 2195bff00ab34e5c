// Reading our PDFs back through poppler's and qpdf's command-line tools, for tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct PdfWord {
    int page = 0;  // from 1
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;  // points, y from the top of the page
    std::string text;  // UTF-8; "&", "<", ">", quotes still as entities
};

// Every word with its box (pdftotext -bbox).
std::vector<PdfWord> ProbeWords(const std::string& pdf);
// The text of pages first..last (0: to the end), UTF-8.
std::string PdfText(const std::string& pdf, int first = 1, int last = 0);
// The value of one pdfinfo field ("Pages", "Page size"); empty when missing.
std::string PdfInfoField(const std::string& pdf, const std::string& field);
// What qpdf --check complains about; empty when the file passes.
std::string QpdfProblems(const std::string& pdf);

}  // namespace testing_support
