// Our RTF reader: the plain text of a Rich Text Format document, as the document
// readers need it. Paragraphs are separated by carriage returns (no mark after the
// last one), \line is U+000B, \tab and \cell are tabs and each table row is one
// paragraph. Text comes from \uN (with \ucN fallback skipping), \'hh in the code page
// of the document or of the current font, and plain characters. Font and colour
// tables, the style sheet, document information, pictures, objects' data, field
// instructions, headers, footers, footnotes, annotations and every ignorable {\*...}
// destination are skipped.
// Limits: group nesting deeper than 10,000 is treated as damage; the text is never
// longer than the input.
#pragma once

#include <string>
#include <string_view>

// Throws ConvertError "This RTF file is damaged" when the bytes do not start with
// "{\rtf", a group is left open at the end, nesting is absurdly deep, or \bin runs
// past the end.
std::u16string RtfToPlainText(std::string_view rtf);
