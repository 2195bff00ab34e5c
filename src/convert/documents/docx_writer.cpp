// DOCX output: a stored Office Open XML package with the main document and a fixed
// style sheet (Calibri 11 pt, Title and three heading styles). Headings are clamped to
// three levels; tables follow all blocks with thin grey borders and a bold first row.
#include <algorithm>

#include "convert/documents/writer_text.h"
#include "convert/documents/writers.h"
#include "convert/documents/zip.h"

namespace {

constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr std::string_view kContentTypes =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/word/document.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
    "<Override PartName=\"/word/styles.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>"
    "</Types>";

constexpr std::string_view kPackageRelationships =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"word/document.xml\"/></Relationships>";

constexpr std::string_view kDocumentRelationships =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
    "Target=\"styles.xml\"/></Relationships>";

#define QUILL_HEADING_STYLE(id, name, before, after, outline, size)                                   \
    "<w:style w:type=\"paragraph\" w:styleId=\"" id "\"><w:name w:val=\"" name "\"/>"                 \
    "<w:basedOn w:val=\"Normal\"/><w:next w:val=\"Normal\"/><w:qFormat/>"                            \
    "<w:pPr><w:keepNext/><w:spacing w:before=\"" before "\" w:after=\"" after "\"/>"                 \
    "<w:outlineLvl w:val=\"" outline "\"/></w:pPr><w:rPr><w:b/><w:sz w:val=\"" size "\"/></w:rPr></w:style>"

constexpr std::string_view kStyles =
    "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
    "<w:docDefaults><w:rPrDefault><w:rPr>"
    "<w:rFonts w:ascii=\"Calibri\" w:hAnsi=\"Calibri\" w:eastAsia=\"Calibri\" w:cs=\"Calibri\"/>"
    "<w:sz w:val=\"22\"/><w:szCs w:val=\"22\"/></w:rPr></w:rPrDefault>"
    "<w:pPrDefault><w:pPr><w:spacing w:after=\"160\" w:line=\"264\" w:lineRule=\"auto\"/></w:pPr></w:pPrDefault>"
    "</w:docDefaults>"
    "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/><w:qFormat/>"
    "</w:style>"
    "<w:style w:type=\"paragraph\" w:styleId=\"Title\"><w:name w:val=\"Title\"/>"
    "<w:basedOn w:val=\"Normal\"/><w:next w:val=\"Normal\"/><w:qFormat/>"
    "<w:pPr><w:spacing w:after=\"240\"/></w:pPr><w:rPr><w:b/><w:sz w:val=\"48\"/></w:rPr></w:style>"
    QUILL_HEADING_STYLE("Heading1", "heading 1", "360", "120", "0", "36")
    QUILL_HEADING_STYLE("Heading2", "heading 2", "280", "80", "1", "30")
    QUILL_HEADING_STYLE("Heading3", "heading 3", "200", "60", "2", "26")
    "</w:styles>";

#undef QUILL_HEADING_STYLE

constexpr std::string_view kDocumentStart =
    "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
constexpr std::string_view kDocumentEnd =
    "<w:sectPr><w:pgMar w:top=\"1134\" w:right=\"1134\" w:bottom=\"1134\" w:left=\"1134\" w:header=\"708\" "
    "w:footer=\"708\" w:gutter=\"0\"/></w:sectPr></w:body></w:document>";

// Level 1 is the document's title; the "Heading1" style exists for users who restyle.
constexpr std::string_view kHeadingStyles[] = {"Title", "Heading2", "Heading3"};

constexpr std::string_view kMonospaceRun =
    "<w:rPr><w:rFonts w:ascii=\"Consolas\" w:hAnsi=\"Consolas\"/><w:sz w:val=\"19\"/></w:rPr>";
constexpr std::string_view kBoldRun = "<w:rPr><w:b/></w:rPr>";

constexpr std::string_view kTableStart =
    "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/><w:tblBorders>"
    "<w:top w:val=\"single\" w:sz=\"4\" w:color=\"BFBFBF\"/>"
    "<w:left w:val=\"single\" w:sz=\"4\" w:color=\"BFBFBF\"/>"
    "<w:bottom w:val=\"single\" w:sz=\"4\" w:color=\"BFBFBF\"/>"
    "<w:right w:val=\"single\" w:sz=\"4\" w:color=\"BFBFBF\"/>"
    "<w:insideH w:val=\"single\" w:sz=\"4\" w:color=\"BFBFBF\"/>"
    "<w:insideV w:val=\"single\" w:sz=\"4\" w:color=\"BFBFBF\"/>"
    "</w:tblBorders></w:tblPr>";
constexpr size_t kTableWidth = 9600;     // twips across all columns: the text width of a page
constexpr size_t kMinColumnWidth = 600;  // narrower cells are unreadable

// The text as runs: plain pieces, tabs and line breaks, each run with the given properties.
void AppendRuns(std::string& out, std::u16string_view text, std::string_view runProperties) {
    size_t start = 0;
    auto flushPiece = [&](size_t end) {
        if (end == start) return;
        out += "<w:r>";
        out += runProperties;
        out += "<w:t xml:space=\"preserve\">";
        AppendXmlText(out, text.substr(start, end - start));
        out += "</w:t></w:r>";
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\t' && text[i] != u'\n') continue;
        flushPiece(i);
        out += "<w:r>";
        out += runProperties;
        out += text[i] == u'\t' ? "<w:tab/>" : "<w:br/>";
        out += "</w:r>";
        start = i + 1;
    }
    flushPiece(text.size());
}

void AppendTable(std::string& out, const Table& table) {
    size_t columns = 0;
    for (const auto& row : table.rows) columns = std::max(columns, row.size());
    // A table without cells is not a valid table; there is nothing to show anyway.
    if (columns == 0) return;
    out += kTableStart;
    // The grid is a required part of a table: readers take the column count from it.
    out += "<w:tblGrid>";
    std::string gridColumn = "<w:gridCol w:w=\"";
    AppendDecimal(gridColumn, std::max(kTableWidth / columns, kMinColumnWidth));
    gridColumn += "\"/>";
    for (size_t c = 0; c < columns; ++c) out += gridColumn;
    out += "</w:tblGrid>";
    for (size_t r = 0; r < table.rows.size(); ++r) {
        const auto& row = table.rows[r];
        out += "<w:tr>";
        for (size_t c = 0; c < columns; ++c) {
            out += "<w:tc><w:p><w:pPr><w:spacing w:after=\"0\"/></w:pPr>";
            if (c < row.size()) AppendRuns(out, row[c], r == 0 ? kBoldRun : std::string_view());
            out += "</w:p></w:tc>";
        }
        out += "</w:tr>";
    }
    out += "</w:tbl><w:p/>";
}

std::string Part(std::string_view content) {
    std::string part;
    part.reserve(kXmlDeclaration.size() + content.size());
    part += kXmlDeclaration;
    part += content;
    return part;
}

}  // namespace

std::string WriteDocx(const Document& document) {
    size_t textUnits = 0;
    for (const auto& block : document.blocks) textUnits += block.text.size();
    for (const auto& table : document.tables)
        for (const auto& row : table.rows)
            for (const auto& cell : row) textUnits += cell.size() + 120;

    std::string body;
    body.reserve(kXmlDeclaration.size() + kDocumentStart.size() + textUnits * 2 + document.blocks.size() * 120 +
                 kDocumentEnd.size());
    body += kXmlDeclaration;
    body += kDocumentStart;
    for (const auto& block : document.blocks) {
        body += "<w:p>";
        bool heading = block.level >= 1;
        if (heading) {
            body += "<w:pPr><w:pStyle w:val=\"";
            body += kHeadingStyles[std::min(block.level, 3) - 1];
            body += "\"/></w:pPr>";
        } else if (document.preformatted) {
            body += "<w:pPr><w:spacing w:after=\"0\"/></w:pPr>";
        }
        if (block.breakBefore) body += "<w:r><w:br w:type=\"page\"/></w:r>";
        // Only body text is monospace; headings keep their own style.
        std::string_view runProperties = document.preformatted && !heading ? kMonospaceRun : std::string_view();
        if (block.listItem) AppendRuns(body, u"\u2022\t", runProperties);
        AppendRuns(body, block.text, runProperties);
        body += "</w:p>";
    }
    bool namedTables = document.tables.size() >= 2;
    for (const auto& table : document.tables) {
        if (namedTables) {
            body += "<w:p><w:pPr><w:pStyle w:val=\"Heading2\"/></w:pPr>";
            AppendRuns(body, table.name, {});
            body += "</w:p>";
        }
        AppendTable(body, table);
    }
    body += kDocumentEnd;

    std::string contentTypes = Part(kContentTypes);
    std::string packageRelationships = Part(kPackageRelationships);
    std::string documentRelationships = Part(kDocumentRelationships);
    std::string styles = Part(kStyles);
    constexpr size_t kEntryOverhead = 200;  // local and central headers with names, per entry
    ZipWriter zip;
    zip.buffer.reserve(contentTypes.size() + packageRelationships.size() + documentRelationships.size() +
                       styles.size() + body.size() + 5 * kEntryOverhead);
    AddEntry(zip, "[Content_Types].xml", contentTypes);
    AddEntry(zip, "_rels/.rels", packageRelationships);
    AddEntry(zip, "word/_rels/document.xml.rels", documentRelationships);
    AddEntry(zip, "word/styles.xml", styles);
    AddEntry(zip, "word/document.xml", body);
    return FinishZip(zip);
}
