// The document layout of the PDF writer: a Document becomes pages of wrapped text
// in the standard fonts, with a page number on every page and tables set as
// monospace text. WritePdf (writers.h) is this layout on the locale's paper size.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/core/context.h"
#include "convert/documents/document.h"
#include "convert/pdf/pdf_file.h"

struct PdfPageSize {
    double width = 0;
    double height = 0;
};
inline constexpr PdfPageSize kA4Page{595.28, 841.89};
inline constexpr PdfPageSize kLetterPage{612, 792};

// glibc's measurement code: 2 means US units (Letter); anything else is A4.
PdfPageSize PageSizeForMeasurement(int measurement);
// The paper of the user's locale (LC_ALL, LC_MEASUREMENT or LANG), read without
// changing the process's own locale.
PdfPageSize LocalePageSize();

// Splits one line of WinAnsi bytes into lines no wider than `width` points.
std::vector<std::string> WrapLine(std::string_view line, PdfFont font, double size, double width);

// The rows of a table as monospace lines: cells cut to 28 characters, padded to
// their column's width plus two spaces.
std::vector<std::string> MonospaceTableRows(const Table& table);

// Lays the document out on pages of `page` size. Checks the cancel flag and
// reports progress (0.3 to 1) once every 128 layout items.
PdfFile LayoutPdf(const Document& document, PdfPageSize page, ConvertContext& context);
