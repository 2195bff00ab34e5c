// HTML output: one self-contained UTF-8 page with an inline style sheet and a
// security policy that lets it load nothing. Headings are clamped to h1-h3.
#include <algorithm>
#include <charconv>

#include "convert/documents/html_body.h"
#include "convert/documents/writers.h"
#include "convert/documents/xml.h"

const std::string_view kDocumentCss =
    "body{font:16px/1.6 system-ui,-apple-system,\"Segoe UI\",sans-serif;max-width:46rem;margin:3rem auto;"
    "padding:0 1.25rem;color:#1d1f24}\n"
    "h1,h2,h3{line-height:1.25}hr{border:0;border-top:1px solid #e3e5e8;margin:2.5rem 0}\n"
    "pre{font:14px/1.5 Consolas,ui-monospace,monospace;white-space:pre-wrap}\n"
    "table{border-collapse:collapse;margin:1rem 0;font-size:14px}td,th{border:1px solid #d6d9df;"
    "padding:.3rem .7rem;text-align:left;vertical-align:top}th{background:#f3f4f6}\n";

namespace {

constexpr int32_t kDeepestHeading = 3;

void AppendDecimal(std::string& out, size_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

}  // namespace

std::string EscapeXmlText(std::u16string_view text) {
    if (text.find_first_of(u"\uFFFE\uFFFF") == text.npos) return EscapeXml(text);
    std::u16string kept;
    kept.reserve(text.size());
    for (char16_t c : text)
        if (c != 0xFFFE && c != 0xFFFF) kept.push_back(c);
    return EscapeXml(kept);
}

std::string HtmlInline(std::u16string_view text) {
    std::string escaped = EscapeXmlText(text);
    std::string out;
    out.reserve(escaped.size());
    for (char c : escaped) {
        if (c == '\n')
            out.append("<br/>");
        else if (c == '\t')
            out.append("&#8195;");
        else
            out.push_back(c);
    }
    return out;
}

std::string HtmlBody(const Document& document) {
    std::string out;
    if (document.preformatted) {
        out.append("<pre>");
        for (const Block& block : document.blocks) {
            out.append(EscapeXmlText(block.text));
            out.push_back('\n');
        }
        out.append("</pre>\n");
    } else {
        bool listOpen = false;
        for (size_t i = 0; i < document.blocks.size(); ++i) {
            const Block& block = document.blocks[i];
            // A rule may not stand inside a list: a break closes the list, the item reopens it.
            if (listOpen && (!block.listItem || block.breakBefore)) {
                out.append("</ul>\n");
                listOpen = false;
            }
            if (block.breakBefore) out.append("<hr/>\n");
            if (block.level >= 1) {
                char h = static_cast<char>('0' + std::min(block.level, kDeepestHeading));
                out.append("<h").push_back(h);
                out.append(" id=\"p");
                AppendDecimal(out, i);
                out.append("\">").append(HtmlInline(block.text)).append("</h").push_back(h);
                out.append(">\n");
            } else if (block.listItem) {
                if (!listOpen) out.append("<ul>\n");
                listOpen = true;
                out.append("<li>").append(HtmlInline(block.text)).append("</li>\n");
            } else if (!block.text.empty()) {
                out.append("<p>").append(HtmlInline(block.text)).append("</p>\n");
            }
        }
        if (listOpen) out.append("</ul>\n");
    }
    bool named = document.tables.size() >= 2;
    for (const Table& table : document.tables) {
        if (named) out.append("<h2>").append(EscapeXmlText(table.name)).append("</h2>\n");
        out.append("<table>\n");
        for (size_t r = 0; r < table.rows.size(); ++r) {
            const char* tag = r == 0 ? "th" : "td";
            out.append("<tr>");
            for (const auto& cell : table.rows[r]) {
                out.append("<").append(tag).append(">");
                out.append(HtmlInline(cell));
                out.append("</").append(tag).append(">");
            }
            out.append("</tr>\n");
        }
        out.append("</table>\n");
    }
    return out;
}

std::string WriteHtml(const Document& document) {
    std::string page =
        "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    page.append(EscapeXmlText(document.title));
    page.append("</title>\n<style>\n");
    page.append(kDocumentCss);
    page.append("</style>\n</head>\n<body>\n");
    page.append(HtmlBody(document));
    page.append("</body>\n</html>\n");
    return page;
}
