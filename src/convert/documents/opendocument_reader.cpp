// OpenDocument text documents and presentations (odt, odp): only "content.xml" is read,
// with the forgiving tag scanner. Kept: paragraphs, headings with their outline level,
// bulleted-list membership, tabs, line breaks, runs of spaces, slide boundaries and slide
// titles; each table row becomes one block of tab-separated cells. Dropped: comments,
// tracked-change records, speaker notes, footnotes and endnotes, styles, images.
// Limits: runs of spaces written as a count expand to at most the part's own size plus
// 64 KiB in all; the package and the part are bounded by the ZIP reader.
#include <charconv>
#include <cstdint>
#include <limits>

#include "convert/documents/office_parts.h"
#include "convert/documents/readers.h"
#include "convert/documents/zip.h"

namespace {

constexpr std::string_view kContentPart = "content.xml";

// "text:c" is a count in a few bytes of markup; without a budget a tiny package could
// ask for gigabytes of spaces.
constexpr size_t kSpaceAllowance = 64 << 10;

// Elements whose text is not part of the running text: comments, change records (the
// deleted paragraphs live there), speaker notes, and notes with their citation marks.
bool IsSkippedElement(std::string_view name) {
    return name == "office:annotation" || name == "text:tracked-changes" || name == "presentation:notes" ||
           name == "text:note";
}

// A decimal attribute value: optional minus sign and leading digits, saturating; 0 when
// there are no digits.
int64_t ReadDecimal(std::string_view text) {
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        return text.starts_with('-') ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    if (error != std::errc()) return 0;
    return value;
}

class OpenDocumentHandler : public XmlHandler {
public:
    OpenDocumentHandler(Document& document, TextSink& sink, size_t spaceBudget)
        : document_(document), sink_(sink), spaceBudget_(spaceBudget) {}

    void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
        OnElement(name, tag, closing, selfClosing);
        sink_.collecting = paragraphDepth_ > 0 && skipDepth_ == 0;
    }

private:
    void OnElement(std::string_view name, std::string_view tag, bool closing, bool selfClosing) {
        if (IsSkippedElement(name)) {
            if (selfClosing) return;
            if (!closing)
                ++skipDepth_;
            else if (skipDepth_ > 0)
                --skipDepth_;
            return;
        }
        // Paragraphs inside skipped elements would only add empty blocks.
        if (skipDepth_ > 0) return;

        if (name == "draw:page") {
            // The first slide gets no break.
            if (!closing) pageBreakPending_ = !document_.blocks.empty();
        } else if (name == "draw:frame") {
            inTitleFrame_ = !closing && !selfClosing && GetAttribute(tag, "presentation:class") == "title";
        } else if (name == "text:list-item") {
            if (!selfClosing) Step(listDepth_, closing);
        } else if (name == "text:p" || name == "text:h") {
            if (selfClosing)
                EmptyParagraph();
            else if (!closing)
                StartParagraph(name == "text:h", tag);
            else
                EndParagraph();
        } else if (name == "table:table-row") {
            if (!selfClosing && !closing)
                StartRow();
            else if (closing)
                EndRow();
        } else if (name == "table:table-cell" || name == "table:covered-table-cell") {
            // Cells hidden under a span keep their place too, so columns line up row by row.
            if (selfClosing)
                sink_.out.push_back('\t');  // an empty cell keeps its place in the row
            else if (!closing)
                ++cellDepth_;
            else
                EndCell();
        } else if (paragraphDepth_ > 0 && !closing) {
            if (name == "text:tab")
                sink_.out.push_back('\t');
            else if (name == "text:line-break")
                sink_.out.push_back('\n');
            else if (name == "text:s")
                AppendSpaces(ReadDecimal(GetAttribute(tag, "text:c")));
        }
    }

    static void Step(int& depth, bool closing) {
        if (!closing)
            ++depth;
        else if (depth > 0)
            --depth;
    }

    void EmptyParagraph() {
        // Inside an open paragraph a nested empty one adds nothing, as nested text merges.
        if (paragraphDepth_ > 0 || cellDepth_ > 0) return;
        document_.blocks.emplace_back();
    }

    void StartParagraph(bool heading, std::string_view tag) {
        if (paragraphDepth_++ > 0 || cellDepth_ > 0) return;  // nested or in a table row
        sink_.out.clear();
        pending_ = PendingBlock{};
        pending_.listItem = listDepth_ > 0;
        if (heading) {
            int64_t level = ReadDecimal(GetAttribute(tag, "text:outline-level"));
            pending_.level = level < 1 ? 1 : level > 3 ? 3 : static_cast<int32_t>(level);
        }
        if (inTitleFrame_) pending_.level = 2;  // a slide title
        TakePageBreak();
    }

    void EndParagraph() {
        if (paragraphDepth_ == 0) return;
        if (--paragraphDepth_ > 0) return;
        // The paragraphs of a table cell run together inside the row's block.
        if (cellDepth_ > 0)
            sink_.out.push_back(' ');
        else
            FinishSinkBlock(document_, pending_, sink_);
    }

    void StartRow() {
        if (cellDepth_ > 0 || paragraphDepth_ > 0) return;  // a nested table merges into its cell
        sink_.out.clear();
        pending_ = PendingBlock{};
        TakePageBreak();
    }

    void EndCell() {
        if (cellDepth_ > 0) --cellDepth_;
        std::string& text = sink_.out;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        text.push_back('\t');
    }

    void EndRow() {
        std::string& text = sink_.out;
        if (!text.empty() && text.back() == '\t') text.pop_back();
        if (cellDepth_ > 0 || paragraphDepth_ > 0) {
            text.push_back(' ');
            return;
        }
        FinishSinkBlock(document_, pending_, sink_);
    }

    void TakePageBreak() {
        pending_.breakBefore = pageBreakPending_;
        pageBreakPending_ = false;
    }

    void AppendSpaces(int64_t count) {
        size_t spaces = count < 1 ? 1 : static_cast<size_t>(count);
        if (spaces > spaceBudget_) spaces = spaceBudget_;
        spaceBudget_ -= spaces;
        sink_.out.append(spaces, ' ');
    }

    Document& document_;
    TextSink& sink_;
    PendingBlock pending_;  // its text lives in sink_.out until the block is finished
    size_t spaceBudget_;
    int skipDepth_ = 0;
    int listDepth_ = 0;
    int paragraphDepth_ = 0;
    int cellDepth_ = 0;
    bool inTitleFrame_ = false;
    bool pageBreakPending_ = false;
};

}  // namespace

void ReadOpenDocumentContent(std::string_view xml, Document& document) {
    TextSink sink;
    OpenDocumentHandler handler(document, sink, xml.size() + kSpaceAllowance);
    ScanXml(xml, handler, sink);
}

Document ReadOpenDocumentPackage(const ZipArchive& archive) {
    std::string xml = ReadEntryOrFail(archive, kContentPart, "This doesn't look like an OpenDocument file");
    Document document;
    ReadOpenDocumentContent(xml, document);
    return document;
}

Document ReadOpenDocument(const std::string& path) { return ReadOpenDocumentPackage(OpenZip(path)); }
