// Plain text and Markdown: every line is one block, blank lines included. Markdown
// keeps only what the model can hold: "#" headings (deeper than three read as three),
// "- " and "* " list items, and bold and code markers are dropped; all other
// Markdown stays literal text.
#include <algorithm>

#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"

namespace {

constexpr size_t kMaxHeadingMarks = 6;  // "#######" is not a heading
constexpr int32_t kDeepestLevel = 3;    // the model's lowest heading level

// Markdown allows more than one space after a heading or list marker ("-   item");
// that space is layout, not text.
void SkipMarkerSpace(std::u16string_view& line) {
    while (!line.empty() && (line.front() == u' ' || line.front() == u'\t')) line.remove_prefix(1);
}

Block MarkdownBlock(std::u16string_view line) {
    Block block;
    size_t marks = 0;
    while (marks < line.size() && line[marks] == u'#') ++marks;
    if (marks >= 1 && marks <= kMaxHeadingMarks && marks < line.size() && line[marks] == u' ') {
        block.level = std::min<int32_t>(static_cast<int32_t>(marks), kDeepestLevel);
        line.remove_prefix(marks + 1);
        SkipMarkerSpace(line);
    } else if (line.starts_with(u"- ") || line.starts_with(u"* ")) {
        block.listItem = true;
        line.remove_prefix(2);
        SkipMarkerSpace(line);
    }
    std::u16string text = EraseAll<char16_t>(line, u"**");
    text = EraseAll<char16_t>(text, u"__");
    block.text = EraseAll<char16_t>(text, u"`");
    return block;
}

}  // namespace

Document ReadPlainTextContent(std::u16string_view text, bool markdown, bool preformatted) {
    Document document;
    document.preformatted = preformatted;
    size_t start = 0;
    while (start < text.size()) {
        // A line ends at a line feed, a carriage return and line feed, or a lone carriage
        // return (old Mac files); blocks never hold carriage returns.
        size_t end = text.find_first_of(u"\r\n", start);
        size_t next;
        if (end == text.npos) {
            end = text.size();
            next = end;
        } else if (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') {
            next = end + 2;
        } else {
            next = end + 1;
        }
        std::u16string_view line = text.substr(start, end - start);
        if (markdown) {
            document.blocks.push_back(MarkdownBlock(line));
        } else {
            Block block;
            block.text = line;
            document.blocks.push_back(std::move(block));
        }
        start = next;
    }
    return document;
}

Document ReadPlainText(const std::string& path, bool markdown, bool preformatted) {
    return ReadPlainTextContent(DecodeTextFile(path), markdown, preformatted);
}
