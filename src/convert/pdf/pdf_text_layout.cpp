#include "convert/pdf/pdf_text_layout.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "convert/core/text.h"

namespace {

constexpr double kContinueGap = 0.75;         // a wider gap than 3/4 of a median line ends the paragraph
constexpr double kOverlapGap = -1.0;          // lines overlapping by more than a median line are not one paragraph
constexpr double kMinHeightRatio = 0.8;       // a line of another size is another paragraph ...
constexpr double kMaxHeightRatio = 1.25;      // ... below 4/5 or above 5/4 of the paragraph's tallest line
constexpr double kShortLineShare = 0.7;       // a line ending before 70 % of the widest right edge ends its paragraph
constexpr double kFirstHeadingRatio = 1.7;    // one or two lines this much taller than the median: heading 1
constexpr double kSecondHeadingRatio = 1.3;   // ... or this much: heading 2
constexpr size_t kMaxHeadingLines = 2;        // three lines or more are body text at any size
constexpr double kPageNumberZone = 0.9;       // page numbers sit in the bottom tenth of the page
constexpr size_t kMaxPageNumberLength = 4;    // up to page 9999
constexpr double kLineOverlap = 0.5;          // words sharing less than half their height are on different lines
constexpr double kStepBack = 0.5;             // a word starting this many heights left of the last one starts a line
constexpr double kWordGap = 0.15;             // a gap of this many heights between words is a space
constexpr size_t kMinLayerCharacters = 32;    // more than a stamp, a date or a page number
constexpr double kMinLayerCoverage = 0.02;    // words cover at least 2 % of the page, as three lines of text do
constexpr size_t kMaxUnmappedShare = 10;      // at most one character in ten maps to nothing

constexpr std::array<std::u16string_view, 7> kBulletMarkers = {u"\u2022 ", u"\u25E6 ", u"\u25AA ", u"\u00B7 ",
                                                               u"- ",      u"\u2013 ", u"* "};

// Lower-case letters of the Latin, Greek and Cyrillic blocks, which is where a word
// broken by a hyphen continues in the languages that hyphenate.
bool IsLowerCaseLetter(char16_t c) {
    if (c >= u'a' && c <= u'z') return true;
    if (c == 0x00B5 || (c >= 0x00DF && c <= 0x00FF && c != 0x00F7)) return true;
    if (c >= 0x0100 && c <= 0x017F) {
        // Latin Extended-A pairs capital and small letter; the pairing flips after U+0138
        // and again after U+0178, and U+0138, U+0149 and U+017F stand alone in lower case.
        if (c == 0x0138 || c == 0x0149 || c == 0x017F) return true;
        bool oddIsSmall = c < 0x0139 || (c > 0x0149 && c < 0x0179);
        return (c % 2 == 1) == oddIsSmall;
    }
    if (c >= 0x03AC && c <= 0x03CE) return true;  // Greek small letters
    if (c >= 0x0430 && c <= 0x045F) return true;  // Cyrillic small letters
    return false;
}

bool IsPageNumber(const TextLine& line, double pageHeight) {
    if (line.text.empty() || line.text.size() > kMaxPageNumberLength) return false;
    if (!std::all_of(line.text.begin(), line.text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
        return false;
    return line.top > kPageNumberZone * pageHeight;
}

// Characters of a text-layer word that map to real text, and those that map to nothing.
struct CharacterCount {
    size_t mapped = 0, unmapped = 0;
};

CharacterCount CountCharacters(std::u16string_view text) {
    CharacterCount count;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        bool privateUse = (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xDB80 && c <= 0xDBFF);  // BMP, planes 15-16
        if (c == 0xFFFD || privateUse) {
            ++count.unmapped;
        } else if (c > u' ' && c != 0x7F && !(c >= 0xDC00 && c <= 0xDFFF)) {
            ++count.mapped;
        }
        if (c >= 0xD800 && c <= 0xDBFF) ++i;  // the pair's second half was counted with it
    }
    return count;
}

struct Paragraph {
    std::u16string text;
    double largestHeight = 0;
    size_t lines = 0;
    bool listItem = false;
};

}  // namespace

std::vector<TextLine> LinesFromRecognition(const std::vector<pdfengine::RecognisedLine>& lines) {
    std::vector<TextLine> result;
    for (const auto& words : lines) {
        TextLine line;
        bool any = false;
        for (const auto& word : words) {
            if (word.confidence < kMinWordConfidence) continue;
            // The recogniser may return a word of spaces alone; it is no text.
            const size_t start = word.text.find_first_not_of(" \t"), end = word.text.find_last_not_of(" \t");
            if (start == std::string::npos) continue;
            double left = word.left, top = word.top, right = double(word.left) + word.width;
            if (any) {
                line.text += u' ';
                line.left = std::min(line.left, left);
                line.top = std::min(line.top, top);
                line.right = std::max(line.right, right);
                line.height = std::max(line.height, double(word.height));
            } else {
                line.left = left, line.top = top, line.right = right, line.height = word.height;
                any = true;
            }
            line.text += Utf8ToWide(std::string_view(word.text).substr(start, end - start + 1));
        }
        if (any) result.push_back(std::move(line));
    }
    return result;
}

PageLines LinesFromTextLayer(const std::vector<pdfengine::LayerWord>& allWords, double pageWidth, double pageHeight,
                             double pixelsPerPoint) {
    // Text turned with its page (or set sideways on it) is read in its own frame, so that
    // its lines run left to right as on a page that was never turned: the turn that most
    // characters share decides, and words of other turns become lines of their own.
    size_t perTurn[4] = {};
    for (const auto& word : allWords) perTurn[word.turn & 3] += CountCharacters(word.text).mapped;
    const int turn = static_cast<int>(std::max_element(perTurn, perTurn + 4) - perTurn);
    const bool sideways = turn == 1 || turn == 3;
    const double frameHeight = sideways ? pageWidth : pageHeight;

    PageLines result;
    result.height = frameHeight * pixelsPerPoint;
    std::vector<pdfengine::LayerWord> words;
    for (const auto& word : allWords) {
        if (CountCharacters(word.text).mapped == 0 && word.text.find_first_not_of(u' ') == std::u16string::npos)
            continue;
        pdfengine::LayerWord framed = word;
        // Turn 1 reads downwards with its first line at the right, 2 upside down, 3 upwards
        // with its first line at the left.
        switch (turn) {
        case 1: framed.left = word.top, framed.right = word.bottom, framed.top = pageWidth - word.right,
                framed.bottom = pageWidth - word.left; break;
        case 2: framed.left = pageWidth - word.right, framed.right = pageWidth - word.left,
                framed.top = pageHeight - word.bottom, framed.bottom = pageHeight - word.top; break;
        case 3: framed.left = pageHeight - word.bottom, framed.right = pageHeight - word.top, framed.top = word.left,
                framed.bottom = word.right; break;
        default: break;
        }
        framed.turn = (word.turn & 3) == turn ? 0 : 1;
        words.push_back(std::move(framed));
    }

    std::vector<TextLine>& lines = result.lines;
    const pdfengine::LayerWord* previous = nullptr;
    for (const auto& word : words) {
        const double height = std::max(0.0, word.bottom - word.top);
        bool newLine = previous == nullptr || word.turn != 0 || previous->turn != 0;
        if (!newLine) {
            const double previousHeight = std::max(0.0, previous->bottom - previous->top);
            const double overlap = std::min(word.bottom, previous->bottom) - std::max(word.top, previous->top);
            newLine = overlap < kLineOverlap * std::min(height, previousHeight) ||
                      word.left < previous->right - kStepBack * std::max(height, previousHeight);
        }
        const double left = word.left * pixelsPerPoint, top = word.top * pixelsPerPoint;
        const double right = word.right * pixelsPerPoint, pixelHeight = height * pixelsPerPoint;
        if (newLine) {
            lines.push_back(TextLine{word.text, left, top, right, pixelHeight});
        } else {
            TextLine& line = lines.back();
            const double gap = word.left - previous->right;
            const double taller = std::max(height, previous->bottom - previous->top);
            if (previous->spaceAfter || gap > kWordGap * taller) line.text += u' ';
            line.text += word.text;
            line.left = std::min(line.left, left);
            line.top = std::min(line.top, top);
            line.right = std::max(line.right, right);
            line.height = std::max(line.height, pixelHeight);
        }
        previous = &word;
    }
    return result;
}

bool TextLayerCoversPage(const std::vector<pdfengine::LayerWord>& words, double pageWidth, double pageHeight) {
    CharacterCount total;
    double covered = 0;
    for (const auto& word : words) {
        CharacterCount count = CountCharacters(word.text);
        total.mapped += count.mapped;
        total.unmapped += count.unmapped;
        if (count.mapped > 0) covered += std::max(0.0, word.right - word.left) * std::max(0.0, word.bottom - word.top);
    }
    return total.mapped >= kMinLayerCharacters && total.unmapped * kMaxUnmappedShare <= total.mapped + total.unmapped &&
           covered >= kMinLayerCoverage * pageWidth * pageHeight;
}

size_t TextLayerCharacters(const std::vector<pdfengine::LayerWord>& words) {
    size_t count = 0;
    for (const auto& word : words) count += CountCharacters(word.text).mapped;
    return count;
}

size_t LineCharacters(const std::vector<TextLine>& lines) {
    size_t count = 0;
    for (const auto& line : lines) count += CountCharacters(line.text).mapped;
    return count;
}

void DropPageNumbers(std::vector<TextLine>& lines, double pageHeight) {
    std::erase_if(lines, [&](const TextLine& line) { return line.text.empty() || IsPageNumber(line, pageHeight); });
}

void AppendPageBlocks(Document& document, const std::vector<TextLine>& lines, bool breakBefore) {
    if (lines.empty()) return;
    std::vector<double> heights;
    double widest = 0;
    for (const auto& line : lines) {
        heights.push_back(line.height);
        widest = std::max(widest, line.right);
    }
    std::sort(heights.begin(), heights.end());
    const double median = std::max(heights[heights.size() / 2], 1.0);
    const double shortLine = kShortLineShare * widest;

    const size_t firstBlock = document.blocks.size();
    auto finish = [&](Paragraph& paragraph) {
        if (paragraph.text.empty()) return;
        Block block;
        if (paragraph.lines <= kMaxHeadingLines && !paragraph.listItem) {
            if (paragraph.largestHeight >= kFirstHeadingRatio * median)
                block.level = 1;
            else if (paragraph.largestHeight >= kSecondHeadingRatio * median)
                block.level = 2;
        }
        block.text = std::move(paragraph.text);
        block.listItem = paragraph.listItem;
        document.blocks.push_back(std::move(block));
    };

    Paragraph current;
    bool open = false;
    const TextLine* previous = nullptr;
    for (const auto& line : lines) {
        std::u16string_view text = line.text;
        bool listItem = false;
        for (std::u16string_view marker : kBulletMarkers) {
            if (text.starts_with(marker)) {
                text.remove_prefix(marker.size());
                listItem = true;
                break;
            }
        }
        bool continues = false;
        if (open && !listItem && previous) {
            const double gap = line.top - (previous->top + previous->height);
            const double ratio = line.height / std::max(current.largestHeight, 1.0);
            continues = gap <= kContinueGap * median && gap >= kOverlapGap * median && ratio >= kMinHeightRatio &&
                        ratio <= kMaxHeightRatio && previous->right >= shortLine;
        }
        if (continues) {
            if (!current.text.empty() && current.text.back() == u'-' && !text.empty() && IsLowerCaseLetter(text.front())) {
                current.text.pop_back();
            } else {
                current.text += u' ';
            }
            current.text += text;
            ++current.lines;
            current.largestHeight = std::max(current.largestHeight, line.height);
        } else {
            if (open) finish(current);
            current = Paragraph{std::u16string(text), line.height, 1, listItem};
            open = true;
        }
        previous = &line;
    }
    if (open) finish(current);
    if (breakBefore && document.blocks.size() > firstBlock) document.blocks[firstBlock].breakBefore = true;
}
