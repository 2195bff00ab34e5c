// ODT output: an OpenDocument text package with fixed automatic styles (title and two
// heading sizes, body, monospace, page break, table cell, bullet list). Headings are
// clamped to three levels; tables follow all blocks, every cell written as a string.
#include <algorithm>

#include "convert/documents/odf_writer.h"
#include "convert/documents/writers.h"

namespace {

constexpr std::string_view kTextMediaType = "application/vnd.oasis.opendocument.text";

constexpr std::string_view kTextStyles =
    "<style:style style:name=\"title\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:margin-bottom=\"0.25cm\"/>"
    "<style:text-properties fo:font-size=\"24pt\" fo:font-weight=\"bold\"/></style:style>"
    "<style:style style:name=\"h2\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:margin-top=\"0.4cm\" fo:margin-bottom=\"0.2cm\"/>"
    "<style:text-properties fo:font-size=\"16pt\" fo:font-weight=\"bold\"/></style:style>"
    "<style:style style:name=\"h3\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:margin-top=\"0.3cm\" fo:margin-bottom=\"0.15cm\"/>"
    "<style:text-properties fo:font-size=\"13pt\" fo:font-weight=\"bold\"/></style:style>"
    "<style:style style:name=\"body\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:margin-bottom=\"0.2cm\"/></style:style>"
    "<style:style style:name=\"mono\" style:family=\"paragraph\">"
    "<style:text-properties style:font-name=\"Consolas\" fo:font-family=\"Consolas\" fo:font-size=\"9.5pt\"/>"
    "</style:style>"
    "<style:style style:name=\"break\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:break-before=\"page\"/></style:style>"
    "<style:style style:name=\"cell\" style:family=\"table-cell\">"
    "<style:table-cell-properties fo:padding=\"0.1cm\" fo:border=\"0.5pt solid #bfbfbf\"/></style:style>"
    "<text:list-style style:name=\"bullets\">"
    "<text:list-level-style-bullet text:level=\"1\" text:bullet-char=\"\xE2\x80\xA2\">"
    "<style:list-level-properties text:space-before=\"0.4cm\" text:min-label-width=\"0.5cm\"/>"
    "</text:list-level-style-bullet></text:list-style>";

constexpr std::string_view kHeadingStyles[] = {"title", "h2", "h3"};

}  // namespace

std::string WriteOdt(const Document& document) {
    size_t textUnits = 0;
    for (const auto& block : document.blocks) textUnits += block.text.size();
    size_t sizeHint = textUnits * 2 + document.blocks.size() * 80 + 64;
    for (const auto& table : document.tables) sizeHint += OdfTableSizeHint(table) + table.name.size() * 3 + 80;
    std::string body = StartOdfContent(kTextStyles, sizeHint);
    body += "<office:text>";
    bool listOpen = false;
    for (const auto& block : document.blocks) {
        // A page boundary also ends a list, so that the break paragraph never sits
        // directly inside a list, where only list items may be.
        if (listOpen && (!block.listItem || block.breakBefore)) {
            body += "</text:list>";
            listOpen = false;
        }
        if (block.breakBefore) body += "<text:p text:style-name=\"break\"/>";
        if (block.listItem) {
            if (!listOpen) body += "<text:list text:style-name=\"bullets\">";
            listOpen = true;
            body += "<text:list-item>";
        }
        if (block.level >= 1) {
            int level = std::min(block.level, 3);
            body += "<text:h text:style-name=\"";
            body += kHeadingStyles[level - 1];
            body += "\" text:outline-level=\"";
            body += static_cast<char>('0' + level);
            body += "\">";
            AppendOdfText(body, block.text);
            body += "</text:h>";
        } else {
            body += document.preformatted ? "<text:p text:style-name=\"mono\">" : "<text:p text:style-name=\"body\">";
            AppendOdfText(body, block.text);
            body += "</text:p>";
        }
        if (block.listItem) body += "</text:list-item>";
    }
    if (listOpen) body += "</text:list>";

    bool namedTables = document.tables.size() >= 2;
    for (size_t index = 0; index < document.tables.size(); ++index) {
        const Table& table = document.tables[index];
        if (namedTables) {
            body += "<text:h text:style-name=\"h2\" text:outline-level=\"2\">";
            AppendOdfText(body, table.name);
            body += "</text:h>";
        }
        AppendOdfTable(body, table, index, false);
    }
    body += "</office:text>";
    return WriteOdfPackage(kTextMediaType, body);
}
