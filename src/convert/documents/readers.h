// The document readers, each turning one input format into a Document.
// All throw ConvertError with their own messages.
#pragma once

#include <string>

#include "convert/core/context.h"
#include "convert/documents/document.h"

Document ReadWord(const std::string& path);
Document ReadOpenDocument(const std::string& path);  // text documents and presentations
Document ReadPowerPoint(const std::string& path);

Document ReadWeb(const std::string& path, const std::string& extension);  // HTML, EPUB and ODS
Document ReadHtml(const std::string& path);
Document ReadEpub(const std::string& path);
Document ReadPlainText(const std::string& path, bool markdown, bool preformatted);
Document ReadRtf(const std::string& path);

Document ReadDelimited(const std::string& path);
Document ReadJsonTable(const std::string& path);
Document ReadXlsx(const std::string& path);
Document ReadOds(const std::string& path);

// Text recognised from a PDF's pages; the only reader that sees the context.
Document ReadPdfText(const std::string& path, ConvertContext& context);

// Picks the reader by the input's extension and fills an empty title with the stem.
Document ReadDocument(const std::string& path, ConvertContext& context);
