// One input file through its converter: the input check, the kind and the dispatch.
#pragma once

#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/context.h"

// Throws ConvertError when the path is not a plain local file.
void ValidateInput(const std::string& path);

// The paths of the files produced, in order. Throws ConvertError or Cancelled.
std::vector<std::string> ConvertFile(const std::string& input, const Target& target, ConvertContext& context);
