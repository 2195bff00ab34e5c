// The converter entry points that the dispatch calls, one per family of inputs.
#pragma once

#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/context.h"

std::string ConvertImage(const std::string& input, const Target& target, ConvertContext& context);
std::string ConvertMedia(const std::string& input, const Target& target, ConvertContext& context);
std::string ConvertDocument(const std::string& input, const Target& target, ConvertContext& context);
std::vector<std::string> ConvertPdfPages(const std::string& input, const Target& target, ConvertContext& context);
