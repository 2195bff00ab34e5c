// PDF pages to images: one image beside the input for a one-page PDF, else the folder
// "<stem> pages" holding "Page 001.<ext>" and on, filled out of sight and published
// whole, so that a failure or cancellation leaves nothing behind.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/context.h"
#include "convert/images/pixel_buffer.h"

// Encodes one rendered page as the target's file format.
using PageEncoder = std::function<std::string(const images::PixelBuffer&)>;

// Renders every page with the page-image scale rule and writes it through `encode`;
// returns the one file or the folder. Throws the load messages of LoadedPdf,
// "Couldn't create the output folder", "Couldn't create the output file",
// "Couldn't write the output file (disk full?)", or Cancelled between pages.
std::vector<std::string> ExportPdfPages(const std::string& input, const Target& target, ConvertContext& context,
                                        const PageEncoder& encode);
