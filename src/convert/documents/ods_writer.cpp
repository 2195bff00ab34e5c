// ODS output: an OpenDocument spreadsheet package, one sheet per table, cells that
// read as floating-point numbers written as float cells (their text kept as written).
#include "convert/core/errors.h"
#include "convert/documents/odf_writer.h"
#include "convert/documents/writers.h"

namespace {

constexpr std::string_view kSpreadsheetMediaType = "application/vnd.oasis.opendocument.spreadsheet";

}  // namespace

void WriteOds(const Document& document, const std::string& path) {
    if (document.tables.empty()) throw ConvertError("This file has no table to export");
    std::string body = "<office:spreadsheet>";
    for (size_t index = 0; index < document.tables.size(); ++index)
        body += WriteOdfTable(document.tables[index], index, true);
    body += "</office:spreadsheet>";
    WriteOdfPackage(path, kSpreadsheetMediaType, "", body);
}
