// HTML and XHTML pages: a tolerant handler over the XML scanner. Block elements end
// paragraphs, h1 to h6 are headings (h4 and deeper read as level 3), li marks list
// items, pre keeps its white space, and tables (nested ones merged into the outer)
// become Tables. Scripts, styles, the head, templates and embedded objects are
// skipped. Never fails on content: damaged markup gives less text.
#include <algorithm>
#include <array>
#include <cstring>

#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"
#include "convert/documents/xml.h"

namespace {

constexpr size_t kLongestName = 16;  // no tag name we act on is longer
constexpr int32_t kDeepestLevel = 3;

constexpr std::string_view kSkipped[] = {"script", "style", "head", "template", "noscript", "svg", "object", "iframe"};

constexpr std::string_view kBlockElements[] = {
    "p",      "div",    "li",     "ul",      "ol",    "blockquote", "pre",   "section", "article", "header",
    "footer", "nav",    "aside",  "main",    "dd",    "dt",         "dl",    "figure",  "figcaption", "hr",
    "h1",     "h2",     "h3",     "h4",      "h5",    "h6",         "body",  "address", "summary", "details",
};

template <size_t N>
bool OneOf(std::string_view name, const std::string_view (&names)[N]) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Appends text with each white-space character made a single space, dropped at the
// start of the buffer and after a space or line feed.
void AppendCollapsed(std::string_view text, std::string& buffer) {
    for (char c : text) {
        if (!IsSpace(c)) {
            buffer.push_back(c);
        } else if (!buffer.empty() && buffer.back() != ' ' && buffer.back() != '\n') {
            buffer.push_back(' ');
        }
    }
}

std::string_view TrimSpacesAndLineFeeds(std::string_view text) {
    size_t start = text.find_first_not_of(" \n");
    if (start == text.npos) return {};
    size_t end = text.find_last_not_of(" \n");
    return text.substr(start, end - start + 1);
}

class HtmlHandler : public XmlHandler {
public:
    HtmlHandler(Document& document, TextSink& sink) : document_(document), sink_(sink) { UpdateCollecting(); }

    void OnTag(std::string_view rawName, std::string_view, bool closing, bool selfClosing) override {
        FlushText();
        std::array<char, kLongestName> lowered{};
        std::string_view name;
        if (rawName.size() <= lowered.size()) {
            for (size_t i = 0; i < rawName.size(); ++i) {
                char c = rawName[i];
                lowered[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            }
            name = std::string_view(lowered.data(), rawName.size());
        }
        Handle(name, closing, selfClosing);
        UpdateCollecting();
    }

    void Finish() {
        FlushText();
        if (tableDepth_ > 0) {  // a table never closed still keeps its rows
            tableDepth_ = 1;
            TableTag("table", true, false);
        }
        FinishParagraph(true);
    }

private:
    void Handle(std::string_view name, bool closing, bool selfClosing) {
        if (OneOf(name, kSkipped)) {
            if (closing) {
                if (!skipped_.empty()) skipped_.pop_back();
            } else if (!selfClosing) {
                skipped_.push_back(name == "head");
            }
            return;
        }
        if (!skipped_.empty()) {
            // The head's end tag may be left out: the body start closes it.
            if (name == "body" && !closing && skipped_.size() == 1 && skipped_[0]) {
                skipped_.clear();
            } else {
                return;
            }
        }
        if (name == "table" && !closing) FinishParagraph(true);
        if (tableDepth_ > 0 || (name == "table" && !closing)) {
            TableTag(name, closing, selfClosing);
            return;
        }
        if (name == "br") {
            pending_.text.push_back('\n');
            return;
        }
        if (OneOf(name, kBlockElements)) FinishParagraph(closing);
        if (name == "pre" && !selfClosing) {
            if (closing) {
                preDepth_ = std::max(preDepth_ - 1, 0);
            } else {
                ++preDepth_;
                afterPreStart_ = true;
            }
        }
        if (closing) return;
        if (name == "li") pending_.listItem = true;
        if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6')
            pending_.level = std::min<int32_t>(name[1] - '0', kDeepestLevel);
    }

    void TableTag(std::string_view name, bool closing, bool selfClosing) {
        if (name == "table") {
            if (!closing) {
                if (tableDepth_++ == 0) table_ = Table{};
                if (!selfClosing) return;
            }
            tableDepth_ = std::max(tableDepth_ - 1, 0);
            if (tableDepth_ > 0) return;
            EndCell();
            EndRow();
            if (!table_.rows.empty()) document_.tables.push_back(std::move(table_));
            table_ = Table{};
        } else if (name == "td" || name == "th") {
            EndCell();
            inCell_ = !closing;
        } else if (name == "tr") {
            EndCell();
            EndRow();
        } else if (name == "br" && inCell_) {
            cell_.push_back('\n');
        }
    }

    void EndCell() {
        if (inCell_) row_.push_back(Utf8ToWide(TrimSpacesAndLineFeeds(cell_)));
        inCell_ = false;
        cell_.clear();
    }

    void EndRow() {
        if (!row_.empty()) table_.rows.push_back(std::move(row_));
        row_.clear();
    }

    // Moves the text the scanner gathered since the last tag to where it belongs.
    void FlushText() {
        std::string_view text = sink_.out;
        if (!text.empty()) {
            if (tableDepth_ > 0) {
                if (preDepth_ > 0)
                    cell_.append(text);
                else
                    AppendCollapsed(text, cell_);
            } else if (preDepth_ > 0) {
                if (afterPreStart_ && text.starts_with("\r\n")) text.remove_prefix(2);
                if (afterPreStart_ && text.starts_with('\n')) text.remove_prefix(1);
                for (char c : text)
                    if (c != '\r') pending_.text.push_back(c);  // blocks never hold carriage returns
            } else {
                AppendCollapsed(text, pending_.text);
            }
            sink_.out.clear();
        }
        afterPreStart_ = false;
    }

    void FinishParagraph(bool forced) {
        if (preDepth_ == 0) {
            std::string_view trimmed = TrimSpacesAndLineFeeds(pending_.text);
            if (trimmed.size() != pending_.text.size()) pending_.text = std::string(trimmed);
        }
        if (!pending_.text.empty()) {
            FinishBlock(document_, pending_);
        } else if (forced) {
            pending_ = PendingBlock{};
        }
    }

    void UpdateCollecting() { sink_.collecting = skipped_.empty() && (tableDepth_ == 0 || inCell_); }

    Document& document_;
    TextSink& sink_;
    std::vector<bool> skipped_;  // open skipped elements; true for a head
    int preDepth_ = 0;
    bool afterPreStart_ = false;  // a line feed right after <pre> is not content
    PendingBlock pending_;

    int tableDepth_ = 0;
    bool inCell_ = false;
    std::string cell_;
    std::vector<std::u16string> row_;
    Table table_;
};

}  // namespace

void ReadHtmlInto(std::string_view html, Document& document) {
    if (html.starts_with("\xEF\xBB\xBF")) html.remove_prefix(3);
    TextSink sink;
    HtmlHandler handler(document, sink);
    ScanXml(html, handler, sink);
    handler.Finish();
}

Document ReadHtml(const std::string& path) {
    std::string html = WideToUtf8(DecodeTextFile(path));
    Document document;
    ReadHtmlInto(html, document);
    return document;
}
