// The office readers below their public entry points: one XML part into blocks, and
// whole packages already in memory. The readers use these themselves; tests and fuzz
// harnesses drive them directly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "convert/documents/document.h"
#include "convert/documents/xml.h"

struct ZipArchive;

// A Word body part ("word/document.xml") appended to `document` as blocks.
void ReadWordBody(std::string_view xml, Document& document);

// An OpenDocument content part ("content.xml"), text document or presentation.
void ReadOpenDocumentContent(std::string_view xml, Document& document);

// One slide's blocks; `slideIndex` counts from 0 over the whole slide list. A slide
// without text still gives its "Slide N" heading.
void ReadSlide(std::string_view xml, size_t slideIndex, Document& document);

// Package paths of the slides in presentation order, from the presentation part and
// its relationships part (either may be empty).
std::vector<std::string> ListSlides(std::string_view presentationXml, std::string_view relationshipsXml);

// The readers on packages already opened; the public readers open the file first.
Document ReadWordPackage(const ZipArchive& archive);
Document ReadOpenDocumentPackage(const ZipArchive& archive);
Document ReadPowerPointPackage(const ZipArchive& archive);

// Markup-compatibility fallbacks repeat what the preferred branch holds (text boxes come
// twice, once as DrawingML and once as VML), so only the preferred branch is read.
class FallbackSkipper {
public:
    // True when the tag is a fallback boundary or lies inside a fallback: the handler
    // must ignore it. Entering a fallback stops text collection.
    bool Skips(std::string_view name, bool closing, bool selfClosing, TextSink& sink) {
        if (name == "mc:Fallback") {
            if (selfClosing) return true;
            if (!closing) {
                ++depth_;
                sink.collecting = false;
            } else if (depth_ > 0) {
                --depth_;
            }
            return true;
        }
        return depth_ > 0;
    }

private:
    int depth_ = 0;
};

// The readers collect a block's text straight into the scanner's sink; this hands it to
// FinishBlock and leaves the sink empty for the next block.
inline void FinishSinkBlock(Document& document, PendingBlock& pending, TextSink& sink) {
    pending.text = std::move(sink.out);
    sink.out.clear();
    FinishBlock(document, pending);
}
