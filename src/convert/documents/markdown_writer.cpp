// Markdown output (CommonMark-style): ATX headings, "-" bullets, hard line breaks,
// pipe tables, a fenced block for preformatted documents. Only the characters that
// would start a block are escaped at the start of a line.
#include <algorithm>

#include "convert/core/text.h"
#include "convert/documents/writers.h"

namespace {

constexpr int32_t kDeepestHeading = 6;  // Markdown has no heading below "######"
constexpr std::u16string_view kBlockStarters = u"#->+*|`";
constexpr size_t kMinimumFence = 3;

// Escapes the block starters at the start of every line (each line of a block starts
// a Markdown line after its hard break) and turns line breaks into hard breaks.
std::u16string EscapeMarkdown(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + 8);
    bool lineStart = true;
    for (char16_t c : text) {
        if (c == u'\n') {
            out.append(u"  \n");
            lineStart = true;
            continue;
        }
        if (lineStart && kBlockStarters.find(c) != kBlockStarters.npos) out.push_back(u'\\');
        out.push_back(c);
        lineStart = false;
    }
    return out;
}

std::u16string OneLine(std::u16string_view text) {
    std::u16string out(text);
    std::replace(out.begin(), out.end(), u'\n', u' ');
    return out;
}

// A fence longer than any run of backquotes that opens a line of the text, so the
// text cannot close the block early.
std::u16string Fence(const Document& document) {
    size_t longest = 0;
    for (const Block& block : document.blocks) {
        size_t run = 0;
        bool lineStart = true;
        for (char16_t c : block.text) {
            if (c == u'\n') {
                lineStart = true;
                run = 0;
                continue;
            }
            if (lineStart && c == u'`') {
                longest = std::max(longest, ++run);
                continue;
            }
            if (lineStart && c == u' ' && run == 0) continue;  // up to indentation, still a fence
            lineStart = false;
        }
    }
    return std::u16string(std::max(kMinimumFence, longest + 1), u'`');
}

void AppendTable(std::u16string& out, const Table& table, bool named) {
    size_t columns = 0;
    for (const auto& row : table.rows) columns = std::max(columns, row.size());
    if (columns == 0) return;
    if (named) out.append(u"## ").append(OneLine(table.name)).append(u"\n\n");
    for (size_t r = 0; r < table.rows.size(); ++r) {
        out.push_back(u'|');
        for (size_t c = 0; c < columns; ++c) {
            out.push_back(u' ');
            if (c < table.rows[r].size()) {
                for (char16_t ch : table.rows[r][c]) {
                    if (ch == u'|')
                        out.append(u"\\|");
                    else
                        out.push_back(ch == u'\n' ? u' ' : ch);
                }
            }
            out.append(u" |");
        }
        out.push_back(u'\n');
        if (r == 0) {
            out.push_back(u'|');
            for (size_t c = 0; c < columns; ++c) out.append(u" --- |");
            out.push_back(u'\n');
        }
    }
    out.push_back(u'\n');
}

}  // namespace

std::string WriteMarkdown(const Document& document) {
    std::u16string out;
    if (document.preformatted) {
        std::u16string fence = Fence(document);
        out.append(fence).push_back(u'\n');
        for (const Block& block : document.blocks) out.append(block.text).push_back(u'\n');
        out.append(fence).append(u"\n\n");
    } else {
        bool inList = false;
        for (const Block& block : document.blocks) {
            // A line that follows a list item without a blank line would continue it, and
            // a "---" right under one would turn the item into a heading.
            if (inList && (!block.listItem || block.breakBefore)) {
                out.push_back(u'\n');
                inList = false;
            }
            if (block.breakBefore) out.append(u"---\n\n");
            if (block.text.empty()) continue;
            if (block.level >= 1) {
                out.append(static_cast<size_t>(std::min(block.level, kDeepestHeading)), u'#');
                out.push_back(u' ');
                out.append(OneLine(block.text)).append(u"\n\n");
            } else if (block.listItem) {
                out.append(u"- ").append(EscapeMarkdown(block.text)).push_back(u'\n');
                inList = true;
            } else {
                out.append(EscapeMarkdown(block.text)).append(u"\n\n");
            }
        }
        if (inList) out.push_back(u'\n');
    }
    bool named = document.tables.size() >= 2;
    for (const Table& table : document.tables) AppendTable(out, table, named);
    return WideToUtf8(out);
}
