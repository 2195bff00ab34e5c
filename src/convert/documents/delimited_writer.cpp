// CSV and TSV output of a document's first table, UTF-8, rows ending in CR LF. CSV
// starts with a byte-order mark (spreadsheet programs then read it as UTF-8) and
// quotes cells holding separators or quotes; TSV turns tabs and line ends into spaces.
#include "convert/core/errors.h"
#include "convert/documents/writer_text.h"
#include "convert/documents/writers.h"

namespace {

size_t TextUnits(const Table& table) {
    size_t units = 0;
    for (const auto& row : table.rows) units += row.size() + 2;
    for (const auto& row : table.rows)
        for (const auto& cell : row) units += cell.size();
    return units;
}

bool NeedsQuotes(std::u16string_view cell) {
    return cell.find_first_of(u",\"\r\n") != cell.npos;
}

}  // namespace

std::string WriteCsv(const Document& document) {
    if (document.tables.empty()) throw ConvertError("This file has no table to export");
    const Table& table = document.tables.front();
    std::string out;
    out.reserve(TextUnits(table) * 3 / 2 + 3);
    out += "\xEF\xBB\xBF";
    std::u16string quoted;
    for (const auto& row : table.rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) out += ',';
            const std::u16string& cell = row[c];
            if (!NeedsQuotes(cell)) {
                AppendUtf8Text(out, cell);
                continue;
            }
            quoted.assign(1, u'"');
            for (char16_t ch : cell) {
                if (ch == u'"') quoted += u'"';
                quoted += ch;
            }
            quoted += u'"';
            AppendUtf8Text(out, quoted);
        }
        out += "\r\n";
    }
    return out;
}

std::string WriteTsv(const Document& document) {
    if (document.tables.empty()) throw ConvertError("This file has no table to export");
    const Table& table = document.tables.front();
    std::string out;
    out.reserve(TextUnits(table) * 3 / 2);
    std::u16string flat;
    for (const auto& row : table.rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) out += '\t';
            const std::u16string& cell = row[c];
            if (cell.find_first_of(u"\t\r\n") == cell.npos) {
                AppendUtf8Text(out, cell);
                continue;
            }
            flat = cell;
            for (char16_t& ch : flat)
                if (ch == u'\t' || ch == u'\r' || ch == u'\n') ch = u' ';
            AppendUtf8Text(out, flat);
        }
        out += "\r\n";
    }
    return out;
}
