#include <gtest/gtest.h>

#include "platform/rtf_text.h"
#include "support/document_support.h"

using namespace testing_support;

TEST(RtfText, ControlWordsEscapesAndCodePages) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"{\\rtf1\\ansi First\\par Second\\line next\\tab end\\par}", u"First\rSecond\u000bnext\tend"},
        {"{\\rtf1 a\\\nb\r\nc}", u"a\rbc"},  // an escaped line end is a paragraph mark; a plain one is not text
        {"{\\rtf1 \\b bold\\b0  plain\\fs20x}", u"bold plainx"},  // a word's space and digits belong to it
        {"{\\rtf1 \\{a\\} b\\\\c\\~d\\_e\\-f\\lquote\\rdblquote\\emdash\\bullet}",
         u"{a} b\\c\u00a0d\u2011ef\u2018\u201d\u2014\u2022"},
        // \'hh is a byte in the code page of the document or of the font.
        {"{\\rtf1\\ansi caf\\'e9 \\'80}", u"caf\u00e9 \u20ac"},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}", u"\u041f\u0440\u0438"},
        {"{\\rtf1\\pc \\'82}", u"\u00e9"},                  // DOS 437
        {"{\\rtf1\\mac \\'8e}", u"\u00e9"},                                    // Mac Roman
        {"{\\rtf1\\ansi\\ansicpg936 \\'d6\\'d0\\'ce\\'c4}", u"\u4e2d\u6587"},  // GBK decodes byte pairs
        {"{\\rtf1\\ansi\\ansicpg65001 \\'c3\\'a9}", u"\u00e9"},
        // Font 1 is Central European (charset 238), font 2 Cyrillic (204); \plain returns to \deff.
        {"{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fcharset0 T;}{\\f1\\fcharset238 T CE;}{\\f2\\fcharset204 T Cyr;}}"
         "\\'e8 {\\f1 \\'e8} {\\f2 \\'e8}\\f1 \\'9a\\plain \\'e8}",
         u"\u00e8 \u010d \u0438\u0161\u00e8"},
        // \uN is followed by \ucN fallback characters (default 1; a hex escape is one); negative N is the upper half.
        {"{\\rtf1 \\u233?t\\u8364\\'80x}", u"\u00e9t\u20acx"},
        {"{\\rtf1 \\uc2\\u20013\\'d6\\'d0z\\uc0\\u233 x}", u"\u4e2dz\u00e9x"},
        {"{\\rtf1 \\u-3913?\\u-10179?\\u-8704?}", u"\uf0b7\U0001F600"},
        {"{\\rtf1 {\\uc3\\u233 a}bc\\u233 de}", u"\u00e9bc\u00e9e"},  // a group end stops the count; \uc is scoped
        {"{\\rtf1 {\\upr{ansi text}{\\*\\ud{\\u1055?ni}}}}", u"\u041fni"},  // of \upr, only the Unicode copy
        // Cells end with tabs, rows with paragraph marks; a cell's paragraphs run together.
        {"{\\rtf1 Before\\par\\trowd\\cellx100\\pard\\intbl A1\\par more\\cell B1\\cell\\row"
         "\\pard\\intbl A2\\cell {B2 \\par}\\cell\\row\\pard After\\par}",
         u"Before\rA1 more\tB1\rA2\tB2\rAfter"},
        // \bin5, then five raw bytes holding braces, a backslash and a zero byte.
        {std::string("{\\rtf1 a{\\pict\\bin5 {}\\\0x}b}", 28), u"ab"},
        // Of all the destinations, \* ones included, only a field's result is text.
        {"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}{\\stylesheet{\\s1 Heading 1;}}"
         "{\\info{\\title The title}{\\author Me}}{\\header Page head\\par}{\\footer Page foot\\par}{\\*\\generator W 1.0;}"
         "{\\*\\unknown hidden}Body{\\footnote Note text} {\\pict\\pngblip 89504e47}{\\*\\shppict{\\pict 00ff}}"
         "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}\\par}",
         u"Body link"},
        {"{\\rtf1 " + std::string(5000, '{') + "deep" + std::string(5000, '}') + "}}}x", u"deep"},  // after the end: nothing
    };
    for (const auto& [rtf, text] : cases) EXPECT_EQ(RtfToPlainText(rtf), text) << rtf.substr(0, 60);
}

TEST(RtfText, DamagedFilesAreRefused) {
    const std::string damaged[] = {"plain text", "", " {\\rtf1 x}", "{\\rtf1 {unclosed group}", "{\\rtf1 {\\pict\\bin9999 abc}}",
                                   "{\\rtf1" + std::string(20000, '{')};  // nested 20,000 deep
    for (const auto& rtf : damaged) EXPECT_EQ(ErrorOf([&] { RtfToPlainText(rtf); }), "This RTF file is damaged") << rtf;
}

TEST(RtfReader, ParagraphsBecomeBlocksAndRealFilesRead) {
    EXPECT_EQ(Blocks(ReadRtfBytes("{\\rtf1 One\\line two\\par\\par Three\\par}")), (Lines{"One\ntwo", "", "Three"}));
    const std::pair<const char*, Lines> files[] = {
        {"rtf-accent.rtf", {" le caf\u00e9 o\u00f9 on ne fume pas "}},
        {"rtf-table_simple.rtf", {"", "A\tB\tC\tD", "E\tF\tG\tH"}},
        {"rtf-list_legacy.rtf", {"1.\tA", "Numbered", "List", "\u00b7\tA", "Bulleted", "List"}},
    };
    for (const auto& [name, blocks] : files)
        EXPECT_EQ(Blocks(ReadRtf(DataPath(std::string("corpus/documents/rtf/") + name))), blocks) << name;
}
