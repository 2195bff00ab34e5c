// The document writers. Each returns the bytes of the whole output file, which the
// caller publishes, and throws ConvertError when the document cannot be written.
#pragma once

#include <string>

#include "convert/core/context.h"
#include "convert/documents/document.h"

std::string WriteDocx(const Document& document);
std::string WriteOdt(const Document& document);
std::string WriteRtf(const Document& document);

std::string WriteXlsx(const Document& document);
std::string WriteOds(const Document& document);
std::string WriteCsv(const Document& document);
std::string WriteTsv(const Document& document);
std::string WriteJson(const Document& document);

std::string WritePdf(const Document& document, ConvertContext& context);

std::string WriteHtml(const Document& document);
std::string WriteEpub(const Document& document);
std::string WriteMarkdown(const Document& document);
std::string WriteText(const Document& document);
