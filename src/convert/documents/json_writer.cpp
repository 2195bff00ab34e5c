// JSON output: a document's one table as a list of objects keyed by its header row,
// or several tables as an object of such lists keyed by table name. Cells that read
// as numbers are written bare, all others as strings, in UTF-8.
#include <algorithm>
#include <charconv>
#include <unordered_map>
#include <unordered_set>

#include "convert/core/errors.h"
#include "convert/documents/table_cells.h"
#include "convert/documents/writer_text.h"
#include "convert/documents/writers.h"

namespace {

std::u16string Decimal(size_t value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(digits, end);
}

void AppendJsonString(std::string& out, std::u16string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    size_t start = 0;
    auto flush = [&](size_t end) {
        if (end > start) AppendUtf8Text(out, text.substr(start, end - start));
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0x20 && c != u'"' && c != u'\\') continue;
        flush(i);
        start = i + 1;
        switch (c) {
        case u'"': out += "\\\""; break;
        case u'\\': out += "\\\\"; break;
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        case u'\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    flush(text.size());
    out += '"';
}

// Keys that stay distinct: a reader keeps only one member of each name, so a repeated
// name gets " (2)", " (3)"... rather than hiding the earlier values.
class UniqueKeys {
public:
    std::u16string Take(std::u16string key) {
        if (taken_.insert(key).second) return key;
        size_t& number = next_.try_emplace(key, 2).first->second;
        for (;; ++number) {
            std::u16string candidate = key + u" (" + Decimal(number) + u")";
            if (taken_.insert(candidate).second) {
                ++number;
                return candidate;
            }
        }
    }

private:
    std::unordered_set<std::u16string> taken_;
    std::unordered_map<std::u16string, size_t> next_;
};

void AppendTableList(std::string& out, const Table& table) {
    if (table.rows.size() <= 1) {
        out += "[]";
        return;
    }
    // Every column of the widest row gets a key, so that no cell is dropped.
    size_t columns = 0;
    for (const auto& row : table.rows) columns = std::max(columns, row.size());
    const auto& header = table.rows.front();
    std::vector<std::string> keys;
    keys.reserve(columns);
    UniqueKeys unique;
    for (size_t c = 0; c < columns; ++c) {
        std::u16string key = c < header.size() ? header[c] : std::u16string();
        if (key.empty()) key = u"column" + Decimal(c + 1);
        std::string encoded;
        AppendJsonString(encoded, unique.Take(std::move(key)));
        encoded += ": ";
        keys.push_back(std::move(encoded));
    }
    out += "[\n";
    for (size_t r = 1; r < table.rows.size(); ++r) {
        const auto& row = table.rows[r];
        out += "  {";
        for (size_t c = 0; c < columns; ++c) {
            if (c > 0) out += ", ";
            out += keys[c];
            std::u16string_view cell = c < row.size() ? std::u16string_view(row[c]) : std::u16string_view();
            // Bare only when JSON itself reads it as a number: "007" or "+5" stay strings.
            if (IsFloatText(cell) && IsJsonNumber(cell)) {
                AppendAsciiUnits(out, cell);
            } else {
                AppendJsonString(out, cell);
            }
        }
        out += r + 1 < table.rows.size() ? "},\n" : "}\n";
    }
    out += ']';
}

size_t EstimatedSize(const Table& table) {
    size_t columns = 0;
    size_t units = 0;
    for (const auto& row : table.rows) {
        columns = std::max(columns, row.size());
        for (const auto& cell : row) units += cell.size() + 4;
    }
    size_t keyUnits = 0;
    if (!table.rows.empty())
        for (const auto& cell : table.rows.front()) keyUnits += cell.size() + 4;
    keyUnits += columns * 12;
    return units * 3 / 2 + table.rows.size() * (keyUnits + 8);
}

}  // namespace

std::string WriteJson(const Document& document) {
    if (document.tables.empty()) throw ConvertError("This file has no table to export");
    std::string out;
    size_t estimate = 16;
    for (const auto& table : document.tables) estimate += EstimatedSize(table) + 32;
    out.reserve(estimate);
    if (document.tables.size() == 1) {
        AppendTableList(out, document.tables.front());
    } else {
        out += '{';
        UniqueKeys unique;
        for (size_t index = 0; index < document.tables.size(); ++index) {
            out += index == 0 ? "\n  " : ",\n  ";
            std::u16string name = document.tables[index].name;
            if (name.empty()) name = u"Sheet" + Decimal(index + 1);  // as the spreadsheet writers name it
            AppendJsonString(out, unique.Take(std::move(name)));
            out += ": ";
            AppendTableList(out, document.tables[index]);
        }
        out += "\n}";
    }
    return out;
}
