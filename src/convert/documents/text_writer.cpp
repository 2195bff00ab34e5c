// Plain text output: UTF-8 without a byte-order mark, CR LF line ends, list items
// marked with a bullet, tables as tab-separated rows.
#include "convert/core/text.h"
#include "convert/documents/writers.h"

namespace {

void AppendLines(std::u16string& out, std::u16string_view text) {
    for (char16_t c : text) {
        if (c == u'\n')
            out.append(u"\r\n");
        else
            out.push_back(c);
    }
}

// A table keeps one row per line: line breaks inside a cell or a name become spaces.
void AppendOneLine(std::u16string& out, std::u16string_view text) {
    for (char16_t c : text) out.push_back(c == u'\n' ? u' ' : c);
}

}  // namespace

std::string WriteText(const Document& document) {
    std::u16string out;
    for (const Block& block : document.blocks) {
        if (block.breakBefore) out.append(u"\r\n");
        if (block.listItem) out.append(u"\u2022 ");
        AppendLines(out, block.text);
        out.append(u"\r\n");
    }
    bool named = document.tables.size() >= 2;
    for (const Table& table : document.tables) {
        if (named) {
            AppendOneLine(out, table.name);
            out.append(u"\r\n");
        }
        for (const auto& row : table.rows) {
            for (size_t c = 0; c < row.size(); ++c) {
                if (c > 0) out.push_back(u'\t');
                AppendOneLine(out, row[c]);
            }
            out.append(u"\r\n");
        }
        out.append(u"\r\n");
    }
    return WideToUtf8(out);
}
