// From the lines found on a PDF page to document blocks: the lines come from the
// page's text layer or from recognition, in pixels of the page rendered for
// recognition, and a small layout analysis rebuilds paragraphs, headings, list items
// and page breaks from their boxes.
#pragma once

#include <string>
#include <vector>

#include "convert/documents/document.h"
#include "platform/pdf_engine.h"

struct TextLine {
    std::u16string text;
    double left = 0, top = 0, right = 0, height = 0;  // pixels of the rendered page
};

// Recognised words below this confidence (0..100) are dropped: the recogniser reads
// specks and paper texture as text of low confidence, and a blank scan must give none.
inline constexpr float kMinWordConfidence = 40;

// Each recognised line's kept words joined by single spaces; its box from those words
// (left and top the smallest, right the largest right edge, height the largest height).
// Lines left without words are dropped.
std::vector<TextLine> LinesFromRecognition(const std::vector<pdfengine::RecognisedLine>& lines);

// A page's lines and the height of the page in their frame, in pixels.
struct PageLines {
    std::vector<TextLine> lines;
    double height = 0;
};

// The text layer's words grouped into lines (a word that steps back to the left or
// leaves the line's height starts a new one), scaled from points to pixels. Words join
// with a space where the producer put one or where a gap separates them. Text that
// most characters read turned (a page turned with its text) is read in its own frame.
// The page's size is in points as shown.
PageLines LinesFromTextLayer(const std::vector<pdfengine::LayerWord>& words, double pageWidth, double pageHeight,
                             double pixelsPerPoint);

// Whether a page's text layer stands for the page: enough mapped characters, few that
// map to nothing (U+FFFD, private use), and words covering a real share of the page.
// A scan carrying only a stamp or a page number as text is recognised instead.
bool TextLayerCoversPage(const std::vector<pdfengine::LayerWord>& words, double pageWidth, double pageHeight);
// Characters of real text (neither spaces nor mapped to nothing) in a text layer's
// words, and in lines.
size_t TextLayerCharacters(const std::vector<pdfengine::LayerWord>& words);
size_t LineCharacters(const std::vector<TextLine>& lines);

// Drops empty lines and page numbers: 1 to 4 decimal digits whose top lies below 90 %
// of the rendered page's height.
void DropPageNumbers(std::vector<TextLine>& lines, double pageHeight);

// Turns one page's lines into blocks appended to `document`. With `breakBefore`, the
// first block this page adds starts a new page.
void AppendPageBlocks(Document& document, const std::vector<TextLine>& lines, bool breakBefore);
