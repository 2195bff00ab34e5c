// In-memory forms of the web, text and table readers: the EPUB reader reads its
// chapters as HTML, and the fuzz harnesses and tests hand bytes rather than files.
// Each throws the same ConvertError messages as its file-reading counterpart.
#pragma once

#include <string>
#include <string_view>

#include "convert/documents/document.h"
#include "convert/documents/zip.h"

Document ReadPlainTextContent(std::u16string_view text, bool markdown, bool preformatted);
// Appends the blocks and tables of one HTML page (UTF-8) to `document`.
void ReadHtmlInto(std::string_view html, Document& document);
Document ReadEpubArchive(const ZipArchive& archive);
Document ReadRtfBytes(std::string_view rtf);

Document ReadDelimitedContent(std::u16string_view text, std::u16string name);
Document ReadJsonContent(std::string_view json, std::u16string name);
Document ReadXlsxArchive(const ZipArchive& archive);
Document ReadOdsArchive(const ZipArchive& archive);
