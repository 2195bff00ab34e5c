// XLSX output: a stored Office Open XML workbook, one sheet per table, inline strings,
// the first row bold and frozen, plain decimals as numbers. Limits: a sheet holds at
// most 1,048,576 rows and 16,384 columns, the most spreadsheet programs open.
#include <algorithm>

#include "convert/core/errors.h"
#include "convert/documents/table_cells.h"
#include "convert/documents/writer_text.h"
#include "convert/documents/writers.h"
#include "convert/documents/zip.h"

namespace {

constexpr size_t kMaxSheetRows = 1048576;   // rows 1 to 1048576 are addressable
constexpr size_t kMaxSheetColumns = 16384;  // columns A to XFD are addressable

constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr std::string_view kSheetStart =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetViews>"
    "<sheetView workbookViewId=\"0\"><pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" "
    "state=\"frozen\"/></sheetView></sheetViews><sheetData>";
constexpr std::string_view kSheetEnd = "</sheetData></worksheet>";

constexpr std::string_view kPackageRelationships =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"xl/workbook.xml\"/></Relationships>";

constexpr std::string_view kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
    "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

// Column letters of a zero-based column: A to Z, then AA, AB and so on.
void AppendColumnLetters(std::string& out, size_t column) {
    char letters[8];
    size_t count = 0;
    for (size_t n = column + 1; n > 0; n = (n - 1) / 26) letters[count++] = static_cast<char>('A' + (n - 1) % 26);
    while (count > 0) out += letters[--count];
}

std::string WriteSheet(const Table& table) {
    size_t textUnits = 0;
    size_t cells = 0;
    for (const auto& row : table.rows) {
        if (row.size() > kMaxSheetColumns)
            throw ConvertError("This table is too large for a spreadsheet (16384 columns max)");
        cells += row.size();
        for (const auto& cell : row) textUnits += cell.size();
    }
    if (table.rows.size() > kMaxSheetRows)
        throw ConvertError("This table is too large for a spreadsheet (1048576 rows max)");

    std::string out;
    out.reserve(kXmlDeclaration.size() + kSheetStart.size() + textUnits * 2 + cells * 80 +
                table.rows.size() * 24 + kSheetEnd.size());
    out += kXmlDeclaration;
    out += kSheetStart;
    for (size_t r = 0; r < table.rows.size(); ++r) {
        const auto& row = table.rows[r];
        if (row.empty()) continue;
        out += "<row r=\"";
        AppendDecimal(out, r + 1);
        out += "\">";
        bool header = r == 0;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::u16string& cell = row[c];
            if (cell.empty()) continue;
            out += "<c r=\"";
            AppendColumnLetters(out, c);
            AppendDecimal(out, r + 1);
            out += header ? "\" s=\"1\"" : "\"";
            if (!header && IsPlainDecimal(cell)) {
                out += "><v>";
                AppendAsciiUnits(out, cell);  // a plain decimal is ASCII with nothing to escape
                out += "</v></c>";
            } else {
                out += " t=\"inlineStr\"><is><t xml:space=\"preserve\">";
                AppendXmlText(out, cell);
                out += "</t></is></c>";
            }
        }
        out += "</row>";
    }
    out += kSheetEnd;
    return out;
}

}  // namespace

std::string WriteXlsx(const Document& document) {
    if (document.tables.empty()) throw ConvertError("Only tables (like CSV files) can become spreadsheets");
    std::vector<std::u16string> names = SheetNames(document.tables);

    ZipWriter zip;
    std::vector<std::string> sheets;
    sheets.reserve(document.tables.size());
    size_t total = 0;
    for (const auto& table : document.tables) {
        sheets.push_back(WriteSheet(table));
        total += sheets.back().size() + 400;
    }
    zip.buffer.reserve(total + 4096);
    for (size_t n = 1; n <= sheets.size(); ++n) {
        std::string entry = "xl/worksheets/sheet";
        AppendDecimal(entry, n);
        entry += ".xml";
        AddEntry(zip, entry, sheets[n - 1]);
        std::string().swap(sheets[n - 1]);  // the archive holds it now
    }

    std::string part;
    part += kXmlDeclaration;
    part +=
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    for (size_t n = 1; n <= sheets.size(); ++n) {
        part += "<Override PartName=\"/xl/worksheets/sheet";
        AppendDecimal(part, n);
        part += ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    part += "</Types>";
    AddEntry(zip, "[Content_Types].xml", part);

    part.assign(kXmlDeclaration);
    part += kPackageRelationships;
    AddEntry(zip, "_rels/.rels", part);

    part.assign(kXmlDeclaration);
    part +=
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>";
    for (size_t n = 1; n <= sheets.size(); ++n) {
        part += "<sheet name=\"";
        AppendXmlText(part, names[n - 1]);
        part += "\" sheetId=\"";
        AppendDecimal(part, n);
        part += "\" r:id=\"rId";
        AppendDecimal(part, n);
        part += "\"/>";
    }
    part += "</sheets></workbook>";
    AddEntry(zip, "xl/workbook.xml", part);

    part.assign(kXmlDeclaration);
    part += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (size_t n = 1; n <= sheets.size(); ++n) {
        part += "<Relationship Id=\"rId";
        AppendDecimal(part, n);
        part +=
            "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
            "Target=\"worksheets/sheet";
        AppendDecimal(part, n);
        part += ".xml\"/>";
    }
    part +=
        "<Relationship Id=\"rIdStyles\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
        "Target=\"styles.xml\"/></Relationships>";
    AddEntry(zip, "xl/_rels/workbook.xml.rels", part);

    part.assign(kXmlDeclaration);
    part += kStyles;
    AddEntry(zip, "xl/styles.xml", part);
    return FinishZip(zip);
}
