// Excel workbooks (XLSX, XLSM): one Table per worksheet in workbook order, cells as
// the text they hold: shared strings (without phonetic hints), inline strings,
// numbers and formula results as written, booleans as TRUE or FALSE. Cells are placed
// by their references, with empty cells filling the gaps.
// Limits: cells at row 1,048,576 or column 16,384 and beyond are ignored (Excel's own
// grid); at most 16,777,216 cells, padding included, in the whole workbook.
#include <unordered_map>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/xml.h"

namespace {

constexpr int64_t kMaxRows = 0x100000;        // Excel's last row is 1,048,576
constexpr int64_t kMaxColumns = 16384;        // Excel's last column is XFD
constexpr size_t kMaxCells = 16777216;        // a tiny compressed sheet could otherwise claim gigabytes

// Some writers give the spreadsheet elements a prefix ("x:c"); the name after it decides.
std::string_view LocalName(std::string_view name) {
    size_t colon = name.find(':');
    return colon == name.npos ? name : name.substr(colon + 1);
}

std::string DecodedAttribute(std::string_view tag, std::string_view name) {
    std::string value;
    DecodeEntities(GetAttribute(tag, name), value);
    return value;
}

// A target relative to "xl/", or from the package root when it starts with "/";
// "." and ".." segments are resolved.
std::string ResolveTarget(std::string_view target) {
    std::string joined = target.starts_with('/') ? std::string(target.substr(1)) : "xl/" + std::string(target);
    std::vector<std::string> segments;
    for (auto& segment : Split<char>(joined, '/')) {
        if (segment.empty() || segment == ".") continue;
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
            continue;
        }
        segments.push_back(std::move(segment));
    }
    std::string path;
    for (const auto& segment : segments) path += (path.empty() ? "" : "/") + segment;
    return path;
}

class SharedStringsHandler : public XmlHandler {
public:
    explicit SharedStringsHandler(TextSink& sink) : sink_(sink) {}

    void OnTag(std::string_view rawName, std::string_view, bool closing, bool selfClosing) override {
        std::string_view name = LocalName(rawName);
        if (name == "si") {
            if (!closing) sink_.out.clear();
            if (closing || selfClosing) strings.push_back(Utf8ToWide(sink_.out));
            sink_.collecting = false;
        } else if (name == "rPh") {
            if (closing)
                phoneticDepth_ = phoneticDepth_ > 0 ? phoneticDepth_ - 1 : 0;
            else if (!selfClosing)
                ++phoneticDepth_;
        } else if (name == "t") {
            sink_.collecting = !closing && !selfClosing && phoneticDepth_ == 0;
        }
    }

    std::vector<std::u16string> strings;

private:
    TextSink& sink_;
    int phoneticDepth_ = 0;
};

class RelationshipsHandler : public XmlHandler {
public:
    void OnTag(std::string_view name, std::string_view tag, bool closing, bool) override {
        if (!closing && LocalName(name) == "Relationship")
            targets.try_emplace(DecodedAttribute(tag, "Id"), ResolveTarget(DecodedAttribute(tag, "Target")));
    }
    std::unordered_map<std::string, std::string> targets;
};

struct SheetEntry {
    std::u16string name;
    std::string path;
};

class WorkbookHandler : public XmlHandler {
public:
    explicit WorkbookHandler(const std::unordered_map<std::string, std::string>& targets) : targets_(targets) {}

    void OnTag(std::string_view name, std::string_view tag, bool closing, bool) override {
        if (closing || LocalName(name) != "sheet") return;
        auto target = targets_.find(DecodedAttribute(tag, "r:id"));
        sheets.push_back({Utf8ToWide(DecodedAttribute(tag, "name")), target == targets_.end() ? "" : target->second});
    }
    std::vector<SheetEntry> sheets;

private:
    const std::unordered_map<std::string, std::string>& targets_;
};

class CellHandler : public XmlHandler {
public:
    CellHandler(TextSink& sink, const std::vector<std::u16string>& shared, Table& table, size_t& cells)
        : sink_(sink), shared_(shared), table_(table), cells_(cells) {}

    void OnTag(std::string_view rawName, std::string_view tag, bool closing, bool selfClosing) override {
        std::string_view name = LocalName(rawName);
        if (name == "row" && !closing) {
            int64_t number = ParseDecimal(GetAttribute(tag, "r"));
            row_ = number > 0 ? number - 1 : row_ + 1;
            column_ = -1;
        } else if (name == "c") {
            if (!closing) StartCell(tag);
            if (closing || selfClosing) EndCell();
        } else if (name == "v") {
            sink_.collecting = inCell_ && !closing && !selfClosing;
        } else if (name == "is") {
            inInlineString_ = !closing && !selfClosing;
        } else if (name == "t" && inInlineString_) {
            sink_.collecting = inCell_ && !closing && !selfClosing;
        }
    }

private:
    // A positive decimal number, saturating; 0 when there is none.
    static int64_t ParseDecimal(std::string_view text) {
        int64_t value = 0;
        for (char c : text) {
            if (c < '0' || c > '9') break;
            value = std::min<int64_t>(value * 10 + (c - '0'), kMaxRows * 16);
        }
        return value;
    }

    void StartCell(std::string_view tag) {
        std::string_view reference = GetAttribute(tag, "r");
        if (!reference.empty()) {
            int64_t column = 0;
            size_t letters = 0;
            while (letters < reference.size() && reference[letters] >= 'A' && reference[letters] <= 'Z') {
                column = std::min<int64_t>(column * 26 + (reference[letters] - 'A' + 1), kMaxColumns * 26);
                ++letters;
            }
            column_ = column - 1;
        } else {
            column_ += 1;
        }
        type_ = GetAttribute(tag, "t");
        sink_.out.clear();
        inCell_ = true;
    }

    void EndCell() {
        sink_.collecting = false;
        inCell_ = false;
        inInlineString_ = false;
        if (row_ < 0 || row_ >= kMaxRows || column_ < 0 || column_ >= kMaxColumns) return;
        std::u16string text;
        if (type_ == "s") {
            int64_t index = ParseDecimal(sink_.out);
            bool digits = !sink_.out.empty() && sink_.out.find_first_not_of("0123456789") == std::string::npos;
            if (digits && index < static_cast<int64_t>(shared_.size())) text = shared_[static_cast<size_t>(index)];
        } else if (type_ == "b") {
            text = sink_.out == "1" ? u"TRUE" : u"FALSE";
        } else {
            text = Utf8ToWide(sink_.out);
        }
        auto row = static_cast<size_t>(row_);
        auto column = static_cast<size_t>(column_);
        if (table_.rows.size() <= row) table_.rows.resize(row + 1);
        auto& cells = table_.rows[row];
        if (cells.size() <= column) {
            cells_ += column + 1 - cells.size();
            if (cells_ > kMaxCells) throw ConvertError("This spreadsheet is too large to convert");
            cells.resize(column + 1);
        }
        cells[column] = std::move(text);
    }

    TextSink& sink_;
    const std::vector<std::u16string>& shared_;
    Table& table_;
    size_t& cells_;
    int64_t row_ = -1;
    int64_t column_ = -1;
    std::string type_;
    bool inCell_ = false;
    bool inInlineString_ = false;
};

}  // namespace

Document ReadXlsxArchive(const ZipArchive& archive) {
    std::string part;
    std::vector<std::u16string> shared;
    if (ReadEntry(archive, "xl/sharedStrings.xml", part)) {
        TextSink sink;
        SharedStringsHandler handler(sink);
        ScanXml(part, handler, sink);
        shared = std::move(handler.strings);
    }

    RelationshipsHandler relationships;
    part.clear();
    if (ReadEntry(archive, "xl/_rels/workbook.xml.rels", part)) {
        TextSink ignored;
        ScanXml(part, relationships, ignored);
    }
    WorkbookHandler workbook(relationships.targets);
    part.clear();
    if (ReadEntry(archive, "xl/workbook.xml", part)) {
        TextSink ignored;
        ScanXml(part, workbook, ignored);
    }
    if (workbook.sheets.empty()) workbook.sheets.push_back({u"Sheet1", "xl/worksheets/sheet1.xml"});

    Document document;
    size_t cells = 0;
    for (const auto& sheet : workbook.sheets) {
        part.clear();
        if (sheet.path.empty() || !ReadEntry(archive, sheet.path, part)) continue;
        Table table;
        table.name = sheet.name;
        TextSink sink;
        CellHandler handler(sink, shared, table, cells);
        ScanXml(part, handler, sink);
        document.tables.push_back(std::move(table));
    }
    return document;
}

Document ReadXlsx(const std::string& path) { return ReadXlsxArchive(OpenZip(path)); }
