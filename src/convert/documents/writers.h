// The document writers. Each creates its output file (never replacing one) and
// throws ConvertError on failure.
#pragma once

#include <string>

#include "convert/core/context.h"
#include "convert/documents/document.h"

void WriteDocx(const Document& document, const std::string& path);
void WriteOdt(const Document& document, const std::string& path);
void WriteRtf(const Document& document, const std::string& path);

void WriteXlsx(const Document& document, const std::string& path);
void WriteOds(const Document& document, const std::string& path);
void WriteCsv(const Document& document, const std::string& path);
void WriteTsv(const Document& document, const std::string& path);
void WriteJson(const Document& document, const std::string& path);

void WritePdf(const Document& document, const std::string& path, ConvertContext& context);

void WriteHtml(const Document& document, const std::string& path);
void WriteEpub(const Document& document, const std::string& path);
void WriteMarkdown(const Document& document, const std::string& path);
void WriteText(const Document& document, const std::string& path);
