// ODS output: an OpenDocument spreadsheet package, one sheet per table, cells that
// read as floating-point numbers written as float cells (their text kept as written).
#include "convert/core/errors.h"
#include "convert/documents/odf_writer.h"
#include "convert/documents/writers.h"

namespace {

constexpr std::string_view kSpreadsheetMediaType = "application/vnd.oasis.opendocument.spreadsheet";

}  // namespace

std::string WriteOds(const Document& document) {
    if (document.tables.empty()) throw ConvertError("This file has no table to export");
    size_t sizeHint = 64;
    for (const auto& table : document.tables) sizeHint += OdfTableSizeHint(table);
    // Spreadsheets have no automatic styles: the "cell" style that string cells name
    // belongs to text documents.
    std::string content = StartOdfContent("", sizeHint);
    content += "<office:spreadsheet>";
    for (size_t index = 0; index < document.tables.size(); ++index)
        AppendOdfTable(content, document.tables[index], index, true);
    content += "</office:spreadsheet>";
    return WriteOdfPackage(kSpreadsheetMediaType, content);
}
