// The layout analysis of PDF text over random lines: boxes and texts read from the
// bytes go through page-number removal and lines to blocks, as recognised words and as
// text-layer words in any turn. Nothing may crash, and every block keeps its rules: text
// never empty, a list item never a heading, headings only of level 1 or 2.
#include <cstdlib>

#include "../tests/support/document_support.h"
#include "convert/core/byte_reader.h"
#include "convert/pdf/pdf_text_layout.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckBlocks(const Document& document) {
    for (const auto& block : document.blocks) {
        Check(!block.text.empty());
        Check(block.level >= 0 && block.level <= 2);
        Check(!(block.listItem && block.level != 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in({data, size});
    const double pageHeight = in.U16LE() + 1.0;
    std::vector<TextLine> lines;
    std::vector<pdfengine::LayerWord> words;
    pdfengine::RecognisedLine recognised;
    // Each record: left, top, width, height (16 bits each, signed for the text layer),
    // a flag byte (turn, space after, confidence), a text length and the text's bytes.
    while (in.Remaining() >= 10) {
        const uint16_t left = in.U16LE(), top = in.U16LE(), width = in.U16LE(), height = in.U16LE();
        const uint8_t flags = in.U8(), length = in.U8();
        std::string text;
        for (uint8_t i = 0; i < length && in.Remaining() > 0; ++i) text.push_back(static_cast<char>(in.U8()));
        const std::u16string wide = Utf8ToWide(text);
        lines.push_back(TextLine{wide, double(left), double(top), double(left) + width, double(height)});
        words.push_back(pdfengine::LayerWord{wide, double(int16_t(left)), double(int16_t(top)),
                                             double(int16_t(left)) + width / 8.0, double(int16_t(top)) + height / 8.0,
                                             (flags & 4) != 0, flags & 3});
        recognised.push_back(pdfengine::RecognisedWord{text, int16_t(left), int16_t(top), width, height, float(flags % 101)});
    }

    Document document;
    DropPageNumbers(lines, pageHeight);
    for (const auto& line : lines) Check(!line.text.empty());
    AppendPageBlocks(document, lines, false);
    PageLines layer = LinesFromTextLayer(words, 612, 792, 4.0);
    DropPageNumbers(layer.lines, layer.height);
    AppendPageBlocks(document, layer.lines, true);
    std::vector<TextLine> fromRecognition = LinesFromRecognition({recognised, {}, recognised});
    AppendPageBlocks(document, fromRecognition, true);
    CheckBlocks(document);
    (void)TextLayerCoversPage(words, 612, 792);
    Check(LineCharacters(layer.lines) <= TextLayerCharacters(words));
    return 0;
}
