// OpenDocument pieces shared by the text (ODT) and spreadsheet (ODS) writers: the
// package, the encoding of paragraph text, and the table element.
#pragma once

#include <string>
#include <string_view>

#include "convert/documents/document.h"

// Appends text as OpenDocument paragraph content: space runs as <text:s>, tabs,
// line breaks, and everything else escaped.
void AppendOdfText(std::string& out, std::u16string_view text);

// The <table:table> element of one table; `index` names an unnamed table ("Sheet" + index + 1).
// With `detectNumbers`, cells that read as floating-point numbers become float cells.
std::string WriteOdfTable(const Table& table, size_t index, bool detectNumbers);

// Writes a stored OpenDocument package: "mimetype" first, the manifest, then
// content.xml holding the automatic styles and the body, then an empty styles.xml.
void WriteOdfPackage(const std::string& path, std::string_view mediaType, std::string_view automaticStyles,
                     std::string_view body);
