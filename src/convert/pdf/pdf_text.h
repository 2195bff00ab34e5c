// Text for the standard PDF fonts: conversion to Windows-1252 (the fonts'
// WinAnsiEncoding) and advance widths from the fonts' published metrics.
#pragma once

#include <string>
#include <string_view>

#include "convert/pdf/pdf_file.h"

// One byte per character. Characters without a Windows-1252 code become "?" (a
// surrogate pair is one character); control characters other than tab and line feed
// are dropped, since the standard fonts have no glyph for them.
std::string ToWinAnsi(std::u16string_view text);

// The advance width in thousandths of the font size.
int GlyphWidth(unsigned char byte, PdfFont font);
// The width of WinAnsi bytes set in `font` at `size` points, in points.
double TextWidth(std::string_view winAnsi, PdfFont font, double size);
