// Windows-1252 conversion and the advance widths of Helvetica and Helvetica-Bold
// for the codes 32 to 255 (Adobe's core-font metrics, in WinAnsiEncoding order);
// Courier is 600 for every code. Codes without a glyph count 556.
#include "convert/pdf/pdf_text.h"

#include <array>

#include "platform/code_pages.h"

namespace {

constexpr int kDefaultWidth = 556;  // codes the fonts have no glyph for
constexpr int kCourierWidth = 600;  // Courier is monospaced
constexpr unsigned char kFirstMeasured = 32;

constexpr std::array<short, 224> kHelvetica = {
     278,  278,  355,  556,  556,  889,  667,  191,  333,  333,  389,  584,  278,  333,  278,  278,  // 32-47
     556,  556,  556,  556,  556,  556,  556,  556,  556,  556,  278,  278,  584,  584,  584,  556,  // 48-63
    1015,  667,  667,  722,  722,  667,  611,  778,  722,  278,  500,  667,  556,  833,  722,  778,  // 64-79
     667,  778,  722,  667,  611,  722,  667,  944,  667,  667,  611,  278,  278,  278,  469,  556,  // 80-95
     333,  556,  556,  500,  556,  556,  278,  556,  556,  222,  222,  500,  222,  833,  556,  556,  // 96-111
     556,  556,  333,  500,  278,  556,  500,  722,  500,  500,  500,  334,  260,  334,  584,  556,  // 112-127
     556,  556,  222,  556,  333, 1000,  556,  556,  333, 1000,  667,  333, 1000,  556,  611,  556,  // 128-143
     556,  222,  222,  333,  333,  350,  556, 1000,  333, 1000,  500,  333,  944,  556,  500,  667,  // 144-159
     278,  333,  556,  556,  556,  556,  260,  556,  333,  737,  370,  556,  584,  333,  737,  333,  // 160-175
     400,  584,  333,  333,  333,  556,  537,  278,  333,  333,  365,  556,  834,  834,  834,  611,  // 176-191
     667,  667,  667,  667,  667,  667, 1000,  722,  667,  667,  667,  667,  278,  278,  278,  278,  // 192-207
     722,  722,  778,  778,  778,  778,  778,  584,  778,  722,  722,  722,  722,  667,  667,  611,  // 208-223
     556,  556,  556,  556,  556,  556,  889,  500,  556,  556,  556,  556,  278,  278,  278,  278,  // 224-239
     556,  556,  556,  556,  556,  556,  556,  584,  611,  556,  556,  556,  556,  500,  556,  500,  // 240-255
};

constexpr std::array<short, 224> kHelveticaBold = {
     278,  333,  474,  556,  556,  889,  722,  238,  333,  333,  389,  584,  278,  333,  278,  278,  // 32-47
     556,  556,  556,  556,  556,  556,  556,  556,  556,  556,  333,  333,  584,  584,  584,  611,  // 48-63
     975,  722,  722,  722,  722,  667,  611,  778,  722,  278,  556,  722,  611,  833,  722,  778,  // 64-79
     667,  778,  722,  667,  611,  722,  667,  944,  667,  667,  611,  333,  278,  333,  584,  556,  // 80-95
     333,  556,  611,  556,  611,  556,  333,  611,  611,  278,  278,  556,  278,  889,  611,  611,  // 96-111
     611,  611,  389,  556,  333,  611,  556,  778,  556,  556,  500,  389,  280,  389,  584,  556,  // 112-127
     556,  556,  278,  556,  500, 1000,  556,  556,  333, 1000,  667,  333, 1000,  556,  611,  556,  // 128-143
     556,  278,  278,  500,  500,  350,  556, 1000,  333, 1000,  556,  333,  944,  556,  500,  667,  // 144-159
     278,  333,  556,  556,  556,  556,  280,  556,  333,  737,  370,  556,  584,  333,  737,  333,  // 160-175
     400,  584,  333,  333,  333,  611,  556,  278,  333,  333,  365,  556,  834,  834,  834,  611,  // 176-191
     722,  722,  722,  722,  722,  722, 1000,  722,  667,  667,  667,  667,  278,  278,  278,  278,  // 192-207
     722,  722,  778,  778,  778,  778,  778,  584,  778,  722,  722,  722,  722,  667,  667,  611,  // 208-223
     556,  556,  556,  556,  556,  556,  889,  556,  556,  556,  556,  556,  278,  278,  278,  278,  // 224-239
     611,  611,  611,  611,  611,  611,  611,  584,  611,  611,  611,  611,  611,  556,  611,  556,  // 240-255
};

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string ToWinAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\t' || c == u'\n' || (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (c < 0xA0) continue;  // C0 and C1 controls and DEL: nothing to draw
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
        uint8_t mapped = WindowsLatin1Byte(c);
        out.push_back(mapped ? static_cast<char>(mapped) : '?');
    }
    return out;
}

int GlyphWidth(unsigned char byte, PdfFont font) {
    if (font == PdfFont::kCourier) return kCourierWidth;
    if (byte < kFirstMeasured) return kDefaultWidth;
    const auto& table = font == PdfFont::kHelveticaBold ? kHelveticaBold : kHelvetica;
    return table[byte - kFirstMeasured];
}

double TextWidth(std::string_view winAnsi, PdfFont font, double size) {
    long units = 0;
    for (char c : winAnsi) units += GlyphWidth(static_cast<unsigned char>(c), font);
    return static_cast<double>(units) * size / 1000.0;
}
