// Delimited text (CSV, TSV and the semicolon lists of some locales): the delimiter is
// whichever of comma, semicolon and tab the first line holds most of (comma first on a
// tie or when none occurs), whatever the extension. Double quotes may enclose any part
// of a cell, with doubled quotes inside; quoted parts may hold delimiters and line
// breaks. Blank lines give no rows. Limit: the 64 MiB of the text decoder.
#include <array>

#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"

namespace {

char16_t ChooseDelimiter(std::u16string_view text) {
    std::u16string_view firstLine = text.substr(0, text.find(u'\n'));
    constexpr std::array<char16_t, 3> kCandidates = {u',', u';', u'\t'};  // in tie-break order
    char16_t best = u',';
    size_t bestCount = 0;
    for (char16_t candidate : kCandidates) {
        size_t count = 0;
        for (char16_t c : firstLine) count += c == candidate;
        if (count > bestCount) {
            best = candidate;
            bestCount = count;
        }
    }
    return best;
}

}  // namespace

Document ReadDelimitedContent(std::u16string_view text, std::u16string name) {
    const char16_t delimiter = ChooseDelimiter(text);
    Table table;
    table.name = std::move(name);
    std::vector<std::u16string> row;
    std::u16string cell;
    bool rowStarted = false;
    bool quoted = false;

    auto endRow = [&] {
        if (rowStarted || !cell.empty()) {
            row.push_back(std::move(cell));
            table.rows.push_back(std::move(row));
        }
        row.clear();
        cell.clear();
        rowStarted = false;
    };

    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (quoted) {
            if (c != u'"') {
                cell.push_back(c);
            } else if (i + 1 < text.size() && text[i + 1] == u'"') {
                cell.push_back(u'"');
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == u'"') {
            quoted = true;
            rowStarted = true;
        } else if (c == delimiter) {
            row.push_back(std::move(cell));
            cell.clear();
            rowStarted = true;
        } else if (c == u'\n') {
            endRow();
        } else if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            endRow();
        } else {
            cell.push_back(c);
        }
    }
    endRow();

    Document document;
    document.tables.push_back(std::move(table));
    return document;
}

Document ReadDelimited(const std::string& path) {
    return ReadDelimitedContent(DecodeTextFile(path), Utf8ToWide(StemOf(path)));
}
