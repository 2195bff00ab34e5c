// JSON lists as tables: a top-level array, or the first array-valued member of a
// top-level object, gives one row per item. Objects name columns by their keys (in
// order of first appearance, with a header row); arrays give their items as cells;
// other values give a one-cell row. Nested objects and arrays stay as their JSON
// text in one cell, so nothing here recurses and nesting depth costs no stack.
// Limits: the 64 MiB of the text decoder; 4,000,000 rows; 1,048,576 members or items
// per row (the rest of that element is skipped); 16,777,216 cells in all, counting
// the empty cells that pad object rows to their columns.
#include <unordered_map>

#include "convert/core/errors.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"

namespace {

constexpr size_t kMaxRows = 4000000;        // keeps a list of tiny items from building a huge grid
constexpr size_t kMaxMembers = 0x100000;    // per object or array row, as many columns as a sheet has rows
constexpr size_t kMaxCells = 16777216;      // padding cells cost memory too: ~0.5 GiB of empty strings

[[noreturn]] void Damaged() { throw ConvertError("This JSON file is damaged"); }
[[noreturn]] void TooLarge() { throw ConvertError("This JSON file is too large to convert"); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class JsonTableReader {
public:
    explicit JsonTableReader(std::string_view json) : json_(json) {}

    Table Read(std::u16string name) {
        SkipSpace();
        if (Peek() == '{') FindListMember();
        if (Peek() != '[') throw ConvertError("This JSON isn't a list, so it can't become a table");
        ++position_;
        for (;;) {
            SkipSpace();
            if (AtEnd()) Damaged();  // the list was never closed
            if (Peek() == ']') break;
            if (table_.rows.size() >= kMaxRows) TooLarge();
            ReadItem();
            SkipSpace();
            if (Peek() == ',') {
                ++position_;
            } else if (Peek() == ']') {
                break;
            } else {
                Damaged();
            }
        }
        if (objectSeen_) {
            std::vector<std::u16string> header;
            header.reserve(columns_.size());
            for (const auto& column : columns_) header.push_back(Utf8ToWide(column));
            table_.rows.insert(table_.rows.begin(), std::move(header));
        }
        table_.name = std::move(name);
        return std::move(table_);
    }

private:
    bool AtEnd() const { return position_ >= json_.size(); }
    char Peek() const { return AtEnd() ? '\0' : json_[position_]; }

    void SkipSpace() {
        while (!AtEnd()) {
            char c = json_[position_];
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
            ++position_;
        }
    }

    // A top-level object: the first member whose value is an array is the list.
    void FindListMember() {
        ++position_;
        for (;;) {
            SkipSpace();
            if (AtEnd() || Peek() == '}') break;
            if (Peek() != '"') Damaged();
            std::string key;
            ReadString(key);
            SkipSpace();
            if (Peek() != ':') Damaged();
            ++position_;
            SkipSpace();
            if (Peek() == '[') return;
            size_t before = position_;
            std::string ignored;
            ReadValueText(ignored);
            if (position_ == before) Damaged();
            SkipSpace();
            if (Peek() != ',') break;
            ++position_;
        }
        throw ConvertError("This JSON has no list to turn into a table");
    }

    void ReadItem() {
        size_t before = position_;
        std::vector<std::u16string> row;
        if (Peek() == '{') {
            objectSeen_ = true;
            ReadObjectRow(row);
        } else if (Peek() == '[') {
            ReadArrayRow(row);
        } else {
            std::string text;
            ReadValueText(text);
            AddCells(1);
            row.push_back(Utf8ToWide(text));
        }
        if (position_ == before) Damaged();
        table_.rows.push_back(std::move(row));
    }

    void ReadObjectRow(std::vector<std::u16string>& row) {
        ++position_;
        for (size_t members = 0;; ++members) {
            SkipSpace();
            if (AtEnd()) return;
            if (Peek() == '}') {
                ++position_;
                return;
            }
            if (members == kMaxMembers) {
                SkipToClose();
                return;
            }
            if (Peek() != '"') Damaged();
            std::string key;
            ReadString(key);
            SkipSpace();
            if (Peek() != ':') Damaged();
            ++position_;
            SkipSpace();
            std::string value;
            size_t before = position_;
            ReadValueText(value);
            if (position_ == before) Damaged();
            size_t column = ColumnOf(key);
            if (row.size() <= column) {
                AddCells(column + 1 - row.size());
                row.resize(column + 1);
            }
            row[column] = Utf8ToWide(value);
            SkipSpace();
            if (Peek() == ',') ++position_;
            else if (Peek() != '}') Damaged();
        }
    }

    void ReadArrayRow(std::vector<std::u16string>& row) {
        ++position_;
        for (size_t items = 0;; ++items) {
            SkipSpace();
            if (AtEnd()) return;
            if (Peek() == ']') {
                ++position_;
                return;
            }
            if (items == kMaxMembers) {
                SkipToClose();
                return;
            }
            std::string value;
            size_t before = position_;
            ReadValueText(value);
            if (position_ == before) Damaged();
            AddCells(1);
            row.push_back(Utf8ToWide(value));
            SkipSpace();
            if (Peek() == ',') ++position_;
            else if (Peek() != ']') Damaged();
        }
    }

    size_t ColumnOf(const std::string& key) {
        auto [found, added] = columnIndex_.try_emplace(key, columns_.size());
        if (added) columns_.push_back(key);
        return found->second;
    }

    void AddCells(size_t count) {
        cells_ += count;
        if (cells_ > kMaxCells) TooLarge();
    }

    // The text of a value: a string decoded, an object or array as its JSON text,
    // anything else up to the next delimiter ("null" gives nothing).
    void ReadValueText(std::string& out) {
        char c = Peek();
        if (c == '"') {
            ReadString(out);
        } else if (c == '{' || c == '[') {
            size_t start = position_;
            ++position_;
            SkipToClose();
            out.append(json_.substr(start, position_ - start));
        } else {
            size_t start = position_;
            while (!AtEnd()) {
                char d = json_[position_];
                if (d == ',' || d == '}' || d == ']' || d == ' ' || d == '\t' || d == '\r' || d == '\n') break;
                ++position_;
            }
            std::string_view token = json_.substr(start, position_ - start);
            if (token != "null") out.append(token);
        }
    }

    // From just inside an object or array to just after its closing bracket (or the
    // end of the text), stepping over strings; only a counter tracks the depth.
    void SkipToClose() {
        size_t depth = 1;
        while (!AtEnd()) {
            char c = json_[position_++];
            if (c == '"') {
                SkipStringBody();
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                return;
            }
        }
    }

    void SkipStringBody() {
        while (!AtEnd()) {
            char c = json_[position_++];
            if (c == '\\') {
                if (!AtEnd()) ++position_;
            } else if (c == '"') {
                return;
            }
        }
    }

    // At an opening quote: appends the decoded string as UTF-8 and steps past it.
    void ReadString(std::string& out) {
        ++position_;
        while (!AtEnd()) {
            size_t special = json_.find_first_of("\"\\", position_);
            if (special == json_.npos) special = json_.size();
            out.append(json_.substr(position_, special - position_));
            position_ = special;
            if (AtEnd()) return;
            if (json_[position_++] == '"') return;
            if (AtEnd()) return;
            char escaped = json_[position_++];
            switch (escaped) {
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'u': AppendEscapedUnit(out); break;
            default: out.push_back(escaped); break;  // \" \\ \/ and any other as itself
            }
        }
    }

    // Reads the four hex digits after "\u"; without them the "u" stands for itself.
    bool ReadHexUnit(uint32_t& unit) {
        if (json_.size() - position_ < 4) return false;
        unit = 0;
        for (size_t i = 0; i < 4; ++i) {
            int digit = HexDigit(json_[position_ + i]);
            if (digit < 0) return false;
            unit = unit * 16 + static_cast<uint32_t>(digit);
        }
        position_ += 4;
        return true;
    }

    void AppendEscapedUnit(std::string& out) {
        uint32_t unit;
        if (!ReadHexUnit(unit)) {
            out.push_back('u');
            return;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && json_.substr(position_, 2) == "\\u") {
            size_t saved = position_;
            position_ += 2;
            uint32_t low;
            if (ReadHexUnit(low) && low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return;
            }
            position_ = saved;
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;  // a lone half of a pair
        AppendUtf8(out, unit);
    }

    std::string_view json_;
    size_t position_ = 0;
    Table table_;
    bool objectSeen_ = false;
    std::vector<std::string> columns_;
    std::unordered_map<std::string, size_t> columnIndex_;
    size_t cells_ = 0;
};

}  // namespace

Document ReadJsonContent(std::string_view json, std::u16string name) {
    Document document;
    document.title = name;
    document.tables.push_back(JsonTableReader(json).Read(std::move(name)));
    return document;
}

Document ReadJsonTable(const std::string& path) {
    std::string json = WideToUtf8(DecodeTextFile(path));
    return ReadJsonContent(json, Utf8ToWide(StemOf(path)));
}
