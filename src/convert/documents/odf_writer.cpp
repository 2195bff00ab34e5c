// OpenDocument packages (ODT, ODS) as stored ZIP archives with three entries:
// "mimetype" (first, uncompressed, as readers sniff it), the manifest, content.xml
// and an empty styles.xml.
// Tables keep their shape: the column count is the longest row, short rows are padded.
#include "convert/documents/odf_writer.h"

#include <algorithm>

#include "convert/documents/table_cells.h"
#include "convert/documents/writer_text.h"
#include "convert/documents/zip.h"

namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kContentStart =
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "office:version=\"1.2\"><office:automatic-styles>";
constexpr std::string_view kStylesEnd = "</office:automatic-styles><office:body>";
constexpr std::string_view kContentEnd = "</office:body></office:document-content>";
constexpr size_t kCellMarkup = 110;  // bytes of markup around one cell's text
constexpr size_t kRowMarkup = 40;

}  // namespace

void AppendOdfText(std::string& out, std::u16string_view text) {
    size_t plainStart = 0;
    auto flushPlain = [&](size_t end) {
        if (end > plainStart) AppendXmlText(out, text.substr(plainStart, end - plainStart));
    };
    size_t i = 0;
    while (i < text.size()) {
        char16_t c = text[i];
        if (c != u' ' && c != u'\t' && c != u'\n') {
            ++i;
            continue;
        }
        flushPlain(i);
        if (c == u' ') {
            size_t run = 1;
            while (i + run < text.size() && text[i + run] == u' ') ++run;
            if (i == 0) {
                // Readers drop white space at the start of a paragraph, so leading
                // spaces (indented code) are all written as explicit space elements.
                out += "<text:s text:c=\"";
                AppendDecimal(out, run);
                out += "\"/>";
            } else {
                out += ' ';
                if (run > 1) {
                    out += "<text:s text:c=\"";
                    AppendDecimal(out, run - 1);
                    out += "\"/>";
                }
            }
            i += run;
        } else {
            out += c == u'\t' ? "<text:tab/>" : "<text:line-break/>";
            ++i;
        }
        plainStart = i;
    }
    flushPlain(text.size());
}

size_t OdfTableSizeHint(const Table& table) {
    size_t columns = 1;
    size_t textUnits = 0;
    for (const auto& row : table.rows) {
        columns = std::max(columns, row.size());
        for (const auto& cell : row) textUnits += cell.size();
    }
    return textUnits * 2 + (table.rows.size() + 1) * (kRowMarkup + columns * kCellMarkup) + table.name.size() * 3 +
           200;
}

void AppendOdfTable(std::string& out, const Table& table, size_t index, bool detectNumbers) {
    size_t columns = 0;
    for (const auto& row : table.rows) columns = std::max(columns, row.size());
    // A table needs at least one column and one row to be valid; an empty one
    // becomes a single empty cell.
    columns = std::max<size_t>(columns, 1);
    size_t rowCount = std::max<size_t>(table.rows.size(), 1);

    out += "<table:table table:name=\"";
    if (table.name.empty()) {
        out += "Sheet";
        AppendDecimal(out, index + 1);
    } else {
        AppendXmlText(out, table.name);
    }
    out += "\"><table:table-column table:number-columns-repeated=\"";
    AppendDecimal(out, columns);
    out += "\"/>";
    static const std::vector<std::u16string> kNoCells;
    for (size_t r = 0; r < rowCount; ++r) {
        const auto& row = r < table.rows.size() ? table.rows[r] : kNoCells;
        out += "<table:table-row>";
        for (size_t c = 0; c < columns; ++c) {
            std::u16string_view cell = c < row.size() ? std::u16string_view(row[c]) : std::u16string_view();
            if (detectNumbers && IsFloatText(cell)) {
                out += "<table:table-cell office:value-type=\"float\" office:value=\"";
                AppendXmlText(out, cell);
                out += "\">";
            } else {
                out += "<table:table-cell office:value-type=\"string\" table:style-name=\"cell\">";
            }
            out += "<text:p>";
            AppendOdfText(out, cell);
            out += "</text:p></table:table-cell>";
        }
        out += "</table:table-row>";
    }
    out += "</table:table>";
}

std::string WriteOdfTable(const Table& table, size_t index, bool detectNumbers) {
    std::string out;
    out.reserve(OdfTableSizeHint(table));
    AppendOdfTable(out, table, index, detectNumbers);
    return out;
}

std::string StartOdfContent(std::string_view automaticStyles, size_t bodySizeHint) {
    std::string content;
    content.reserve(kXmlDeclaration.size() + kContentStart.size() + automaticStyles.size() + kStylesEnd.size() +
                    bodySizeHint + kContentEnd.size());
    content += kXmlDeclaration;
    content += kContentStart;
    content += automaticStyles;
    content += kStylesEnd;
    return content;
}

std::string WriteOdfPackage(std::string_view mediaType, std::string& content) {
    content += kContentEnd;

    std::string manifest;
    manifest += kXmlDeclaration;
    manifest +=
        "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
        "manifest:version=\"1.2\"><manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"";
    manifest += mediaType;
    manifest +=
        "\"/><manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
        "<manifest:file-entry manifest:full-path=\"styles.xml\" manifest:media-type=\"text/xml\"/>"
        "</manifest:manifest>";

    // An empty common-styles part: some readers refuse a package without one.
    std::string styles;
    styles += kXmlDeclaration;
    styles +=
        "<office:document-styles xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "office:version=\"1.2\"/>";

    constexpr size_t kEntryOverhead = 200;  // local and central headers with names, per entry
    ZipWriter zip;
    zip.buffer.reserve(mediaType.size() + manifest.size() + content.size() + styles.size() + 4 * kEntryOverhead);
    AddEntry(zip, "mimetype", mediaType);
    AddEntry(zip, "META-INF/manifest.xml", manifest);
    AddEntry(zip, "content.xml", content);
    std::string().swap(content);  // the archive holds it now
    AddEntry(zip, "styles.xml", styles);
    return FinishZip(zip);
}
