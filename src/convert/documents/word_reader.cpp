// Word documents (docx, docm): only the body part "word/document.xml" is read, with the
// forgiving tag scanner. Kept: paragraphs, heading levels from the paragraph style
// identifiers ("Title", "Heading1".."Heading9"; styles.xml is not read), bulleted-list
// membership, tabs, line breaks; each table row becomes one block of tab-separated cells.
// Dropped: formatting, images, comments, notes, headers, footers, deleted revisions and
// the fallback copies of drawings that newer producers add for older readers.
// Limits: none of its own; the package and the part are bounded by the ZIP reader.
#include "convert/core/text.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/readers.h"
#include "convert/documents/zip.h"

namespace {

constexpr std::string_view kBodyPart = "word/document.xml";
constexpr std::string_view kHeadingPrefix = "Heading";  // "Heading1".."Heading9", case-sensitive
// Hyphens that Word stores as elements rather than characters.
constexpr char32_t kNonBreakingHyphen = 0x2011;
constexpr char32_t kSoftHyphen = 0x00AD;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class WordHandler : public XmlHandler {
public:
    WordHandler(Document& document, TextSink& sink) : document_(document), sink_(sink) {}

    void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
        if (fallback_.Skips(name, closing, selfClosing, sink_)) return;
        if (closing)
            OnEnd(name);
        else
            OnStart(name, tag, selfClosing);
    }

    // The last paragraph may lack its end tag in a damaged part.
    void Finish() {
        if (!sink_.out.empty()) FinishSinkBlock(document_, pending_, sink_);
    }

private:
    void OnStart(std::string_view name, std::string_view tag, bool selfClosing) {
        if (name == "w:p") {
            if (selfClosing && cellDepth_ == 0) FinishSinkBlock(document_, pending_, sink_);
        } else if (name == "w:t") {
            if (!selfClosing) sink_.collecting = true;
        } else if (name == "w:pPr") {
            if (!selfClosing) inParagraphProperties_ = true;
        } else if (name == "w:tab") {
            // Inside paragraph properties "w:tab" defines a tab stop, not a tab character.
            if (!inParagraphProperties_) sink_.out.push_back('\t');
        } else if (name == "w:br" || name == "w:cr") {
            // Page and column breaks inside a run are line breaks too.
            sink_.out.push_back('\n');
        } else if (name == "w:noBreakHyphen") {
            AppendUtf8(sink_.out, kNonBreakingHyphen);
        } else if (name == "w:softHyphen") {
            AppendUtf8(sink_.out, kSoftHyphen);
        } else if (name == "w:numPr") {
            pending_.listItem = true;
        } else if (name == "w:tc") {
            if (!selfClosing) ++cellDepth_;
        } else if (name == "w:pStyle") {
            ApplyStyle(GetAttribute(tag, "w:val"));
        }
    }

    void OnEnd(std::string_view name) {
        if (name == "w:p") {
            // The paragraphs of a table cell run together inside the row's block.
            if (cellDepth_ == 0)
                FinishSinkBlock(document_, pending_, sink_);
            else
                sink_.out.push_back(' ');
        } else if (name == "w:t") {
            sink_.collecting = false;
        } else if (name == "w:pPr") {
            inParagraphProperties_ = false;
        } else if (name == "w:tc") {
            // A stray end tag must not leave the depth negative: later paragraphs would
            // then never end.
            if (cellDepth_ > 0) --cellDepth_;
            std::string& text = sink_.out;
            while (!text.empty() && text.back() == ' ') text.pop_back();
            text.push_back('\t');
        } else if (name == "w:tr") {
            std::string& text = sink_.out;
            if (!text.empty() && text.back() == '\t') text.pop_back();
            if (cellDepth_ > 0) {
                // A nested table's row ends inside an outer cell: it merges into that
                // cell's text instead of cutting the outer row in two.
                text.push_back(' ');
                return;
            }
            // A row is a body block even when a cell's paragraph had a heading or list style.
            pending_.level = 0;
            pending_.listItem = false;
            FinishSinkBlock(document_, pending_, sink_);
        }
    }

    void ApplyStyle(std::string_view style) {
        if (style == "Title") {
            pending_.level = 1;
        } else if (style.size() >= kHeadingPrefix.size() + 1 && style.starts_with(kHeadingPrefix) &&
                   IsDigit(style[kHeadingPrefix.size()])) {
            int digit = style[kHeadingPrefix.size()] - '0';
            pending_.level = digit < 1 ? 1 : digit > 3 ? 3 : digit;
        }
    }

    Document& document_;
    TextSink& sink_;
    PendingBlock pending_;  // its text lives in sink_.out until the block is finished
    int cellDepth_ = 0;
    FallbackSkipper fallback_;
    bool inParagraphProperties_ = false;
};

}  // namespace

void ReadWordBody(std::string_view xml, Document& document) {
    TextSink sink;
    WordHandler handler(document, sink);
    ScanXml(xml, handler, sink);
    handler.Finish();
}

Document ReadWordPackage(const ZipArchive& archive) {
    std::string xml = ReadEntryOrFail(archive, kBodyPart, "This doesn't look like a Word document");
    Document document;
    ReadWordBody(xml, document);
    return document;
}

Document ReadWord(const std::string& path) { return ReadWordPackage(OpenZip(path)); }
