// The HTML shared by the HTML page and the EPUB chapter: one body generator, so
// that a heading's anchor is the same in both.
#pragma once

#include <string>
#include <string_view>

#include "convert/documents/document.h"

// The style sheet of both outputs, four lines.
extern const std::string_view kDocumentCss;

// Escaped text with line breaks as "<br/>" and tabs as em spaces ("&#8195;").
std::string HtmlInline(std::u16string_view text);
// The blocks and tables as XHTML-compatible HTML; heading i of `blocks` has the id "p<i>".
std::string HtmlBody(const Document& document);
// EscapeXml without the two code units XML forbids outright (U+FFFE, U+FFFF).
std::string EscapeXmlText(std::u16string_view text);
