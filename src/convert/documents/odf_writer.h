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
// The same element appended to `out`.
void AppendOdfTable(std::string& out, const Table& table, size_t index, bool detectNumbers);
// Roughly how many bytes AppendOdfTable adds, for reserving.
size_t OdfTableSizeHint(const Table& table);

// content.xml up to its body: the declaration, the document element and the automatic
// styles; the writer appends the body to it.
std::string StartOdfContent(std::string_view automaticStyles, size_t bodySizeHint);
// Closes content.xml and builds the stored package: "mimetype" first, the manifest,
// content.xml and an empty styles.xml; returns the package's bytes.
std::string WriteOdfPackage(std::string_view mediaType, std::string& content);
