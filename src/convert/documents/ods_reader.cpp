// OpenDocument spreadsheets: one Table per table:table of content.xml. Cell text is
// the text of its paragraphs (one line each), with text:s, text:tab and
// text:line-break expanded; a cell that has no paragraph shows its office value.
// Repeated rows and cells are written out, but empty ones only when content follows
// them, so the endless empty tail of a sheet costs nothing.
// Limits: every repeat count (and text:c) is capped at 1024; above 4,000,000 written
// cells and rows, or 128 Mi characters of written text, the file is refused.
#include <algorithm>
#include <charconv>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/xml.h"

namespace {

constexpr uint64_t kMaxRepeat = 1024;          // a repeat beyond this is formatting, not data
constexpr uint64_t kMaxMaterialised = 4000000;  // cells and rows written out, in the whole file
constexpr uint64_t kMaxTextUnits = 0x8000000;    // repeats of a long cell must not multiply memory either

std::string DecodedAttribute(std::string_view tag, std::string_view name) {
    std::string value;
    DecodeEntities(GetAttribute(tag, name), value);
    return value;
}

// A decimal attribute, capped; `fallback` when missing, unreadable or below `minimum`.
uint64_t CountAttribute(std::string_view tag, std::string_view name, uint64_t fallback, uint64_t minimum, uint64_t cap) {
    std::string_view text = GetAttribute(tag, name);
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end == text.data()) return fallback;
    if (error == std::errc::result_out_of_range) value = cap;
    if (value < minimum) return fallback;
    return std::min(value, cap);
}

class OdsHandler : public XmlHandler {
public:
    OdsHandler(Document& document, TextSink& sink) : document_(document), sink_(sink) {}

    void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
        if (name == "office:annotation") {  // comments are not cell text
            if (closing)
                annotationDepth_ = annotationDepth_ > 0 ? annotationDepth_ - 1 : 0;
            else if (!selfClosing)
                ++annotationDepth_;
        } else if (name == "table:table") {
            if (!closing) StartTable(tag);
            if (closing || selfClosing) EndTable();
        } else if (name == "table:table-row") {
            if (!closing) StartRow(tag);
            if (closing || selfClosing) EndRow();
        } else if (name == "table:table-cell" || name == "table:covered-table-cell") {
            if (!closing) StartCell(tag);
            if (closing || selfClosing) EndCell();
        } else if (inCell_ && annotationDepth_ == 0) {
            ParagraphTag(name, tag, closing, selfClosing);
        }
        sink_.collecting = inCell_ && paragraphDepth_ > 0 && annotationDepth_ == 0;
    }

private:
    void ParagraphTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) {
        if (name == "text:p" || name == "text:h") {
            if (closing) {
                paragraphDepth_ = std::max(paragraphDepth_ - 1, 0);
                return;
            }
            if (paragraphs_++ > 0) sink_.out.push_back('\n');
            if (!selfClosing) ++paragraphDepth_;
            return;
        }
        if (closing || paragraphDepth_ == 0) return;
        if (name == "text:s") {
            sink_.out.append(CountAttribute(tag, "text:c", 1, 1, kMaxRepeat), ' ');
        } else if (name == "text:tab") {
            sink_.out.push_back('\t');
        } else if (name == "text:line-break") {
            sink_.out.push_back('\n');
        }
    }

    void StartTable(std::string_view tag) {
        if (inTable_) {  // a table inside a cell: its text joins that cell
            ++nestedTables_;
            return;
        }
        inTable_ = true;
        table_ = Table{};
        table_.name = Utf8ToWide(DecodedAttribute(tag, "table:name"));
        pendingEmptyRows_ = 0;
    }

    void EndTable() {
        if (nestedTables_ > 0) {
            --nestedTables_;
            return;
        }
        if (!inTable_) return;
        inTable_ = false;
        document_.tables.push_back(std::move(table_));
        table_ = Table{};
    }

    void StartRow(std::string_view tag) {
        if (nestedTables_ > 0) return;
        rowRepeat_ = CountAttribute(tag, "table:number-rows-repeated", 1, 1, kMaxRepeat);
        row_.clear();
        rowTextUnits_ = 0;
        pendingEmptyCells_ = 0;
    }

    void EndRow() {
        if (!inTable_ || nestedTables_ > 0) return;
        if (row_.empty()) {
            pendingEmptyRows_ += rowRepeat_;
            return;
        }
        uint64_t emptyRows = std::min(pendingEmptyRows_, kMaxRepeat);
        pendingEmptyRows_ = 0;
        Count(emptyRows, 0);
        table_.rows.resize(table_.rows.size() + emptyRows);
        // The first copy's cells were counted as they were written.
        Count(rowRepeat_ + (rowRepeat_ - 1) * row_.size(), (rowRepeat_ - 1) * rowTextUnits_);
        for (uint64_t i = 1; i < rowRepeat_; ++i) table_.rows.push_back(row_);
        table_.rows.push_back(std::move(row_));
        row_.clear();
        rowTextUnits_ = 0;
    }

    void StartCell(std::string_view tag) {
        if (nestedTables_ > 0) return;
        cellRepeat_ = CountAttribute(tag, "table:number-columns-repeated", 1, 1, kMaxRepeat);
        sink_.out.clear();
        paragraphs_ = 0;
        paragraphDepth_ = 0;
        inCell_ = true;
        // Shown when the cell has no paragraph of its own.
        value_ = DecodedAttribute(tag, "office:value");
        for (const char* attribute : {"office:date-value", "office:time-value", "office:boolean-value", "office:string-value"})
            if (value_.empty()) value_ = DecodedAttribute(tag, attribute);
    }

    void EndCell() {
        if (!inCell_ || nestedTables_ > 0) return;
        inCell_ = false;
        paragraphDepth_ = 0;
        std::string& text = sink_.out;
        if (paragraphs_ == 0) text = value_;
        if (text.empty()) {
            pendingEmptyCells_ += cellRepeat_;
            return;
        }
        std::u16string cell = Utf8ToWide(text);
        Count(pendingEmptyCells_ + cellRepeat_, cellRepeat_ * cell.size());
        rowTextUnits_ += cellRepeat_ * cell.size();
        row_.resize(row_.size() + pendingEmptyCells_);
        pendingEmptyCells_ = 0;
        for (uint64_t i = 0; i < cellRepeat_; ++i) row_.push_back(cell);
        text.clear();
    }

    void Count(uint64_t materialised, uint64_t textUnits) {
        materialised_ += materialised;
        textUnits_ += textUnits;
        if (materialised_ > kMaxMaterialised || textUnits_ > kMaxTextUnits) throw ConvertError("This spreadsheet is too large to convert");
    }

    Document& document_;
    TextSink& sink_;
    bool inTable_ = false;
    Table table_;
    uint64_t pendingEmptyRows_ = 0;
    uint64_t rowRepeat_ = 1;
    std::vector<std::u16string> row_;
    uint64_t pendingEmptyCells_ = 0;
    uint64_t cellRepeat_ = 1;
    bool inCell_ = false;
    int paragraphs_ = 0;
    int paragraphDepth_ = 0;
    int annotationDepth_ = 0;
    std::string value_;
    uint64_t rowTextUnits_ = 0;
    int nestedTables_ = 0;
    uint64_t materialised_ = 0;
    uint64_t textUnits_ = 0;
};

}  // namespace

Document ReadOdsArchive(const ZipArchive& archive) {
    std::string content = ReadEntryOrFail(archive, "content.xml", "This doesn't look like an OpenDocument file");
    Document document;
    TextSink sink;
    OdsHandler handler(document, sink);
    ScanXml(content, handler, sink);
    if (document.tables.empty()) throw ConvertError("This spreadsheet has no sheets");
    return document;
}

Document ReadOds(const std::string& path) { return ReadOdsArchive(OpenZip(path)); }
