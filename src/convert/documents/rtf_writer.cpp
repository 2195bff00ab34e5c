// RTF output: plain ASCII with Calibri body text and Consolas for preformatted
// documents. Characters outside ASCII are \uN escapes of their UTF-16 code units (a
// character beyond the Basic Multilingual Plane gives two), with "?" as the fallback.
// Tables follow all blocks, one grid of equal columns (at least 600 twips each).
#include <algorithm>
#include <charconv>

#include "convert/documents/writers.h"

namespace {

constexpr std::string_view kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss Calibri;}{\\f1\\fmodern Consolas;}}\n"
    "\\viewkind4\\fs22\n";
constexpr std::string_view kHeadingSizes[] = {"\\fs52", "\\fs32", "\\fs26"};
constexpr int kTableWidth = 9600;      // twips across all columns: the text width of a page
constexpr int kMinColumnWidth = 600;   // narrower cells are unreadable

void AppendInteger(std::string& out, long long value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendRtfText(std::string& out, std::u16string_view text) {
    for (char16_t c : text) {
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == u'\n') {
            out += "\\line ";
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c < 0x20) {
            // other control characters have no meaning in a paragraph
        } else if (c >= 0x80) {
            out += "\\u";
            AppendInteger(out, static_cast<int16_t>(c));  // RTF takes the unit as a signed 16-bit value
            out += '?';
        } else {
            out += static_cast<char>(c);
        }
    }
}

void AppendTable(std::string& out, const Table& table) {
    size_t columns = 0;
    for (const auto& row : table.rows) columns = std::max(columns, row.size());
    if (columns == 0) return;
    long long width = std::max<long long>(kTableWidth / static_cast<long long>(columns), kMinColumnWidth);
    for (size_t r = 0; r < table.rows.size(); ++r) {
        const auto& row = table.rows[r];
        out += "\\trowd\\trgaph100";
        for (size_t c = 1; c <= columns; ++c) {
            out += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx";
            AppendInteger(out, static_cast<long long>(c) * width);
        }
        for (size_t c = 0; c < columns; ++c) {
            out += r == 0 ? "\\pard\\intbl\\b " : "\\pard\\intbl ";
            if (c < row.size()) AppendRtfText(out, row[c]);
            if (r == 0) out += "\\b0";
            out += "\\cell";
        }
        out += "\\row\n";
    }
    out += "\\pard\\par\n";
}

}  // namespace

std::string WriteRtf(const Document& document) {
    size_t textUnits = 0;
    for (const auto& block : document.blocks) textUnits += block.text.size();
    for (const auto& table : document.tables)
        for (const auto& row : table.rows)
            for (const auto& cell : row) textUnits += cell.size() + 90;
    std::string out;
    out.reserve(kHeader.size() + textUnits * 2 + document.blocks.size() * 40 + 16);
    out += kHeader;
    std::string_view bodyFont = document.preformatted ? "\\f1\\fs19 " : "\\f0\\fs22 ";
    for (const auto& block : document.blocks) {
        if (block.breakBefore) out += "\\page\n";
        if (block.level >= 1) {
            out += "\\pard\\sb240\\sa120\\f0\\b";
            out += kHeadingSizes[std::min(block.level, 3) - 1];
            out += ' ';
            AppendRtfText(out, block.text);
            out += "\\b0\\par\n";
        } else if (block.listItem) {
            out += "\\pard\\fi-280\\li360\\sa60";
            out += bodyFont;
            out += "\\u8226?\\tab ";
            AppendRtfText(out, block.text);
            out += "\\par\n";
        } else {
            out += document.preformatted ? "\\pard\\sa0" : "\\pard\\sa160";
            out += bodyFont;
            AppendRtfText(out, block.text);
            out += "\\par\n";
        }
    }
    bool namedTables = document.tables.size() >= 2;
    for (const auto& table : document.tables) {
        if (namedTables) {
            out += "\\pard\\sb240\\sa120\\b\\fs28 ";
            AppendRtfText(out, table.name);
            out += "\\b0\\par\n";
        }
        out += "\\f0\\fs20 ";
        AppendTable(out, table);
    }
    out += '}';
    return out;
}
