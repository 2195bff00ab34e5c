#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "platform/rtf_text.h"
#include "support/document_support.h"
#include "support/test_support.h"

using testing_support::DataPath;
using testing_support::ErrorOf;
using testing_support::Texts;
using Lines = std::vector<std::string>;

TEST(RtfText, ParagraphsLinesTabsAndSymbols) {
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi First\\par Second\\line next\\tab end\\par}"), u"First\rSecond\u000bnext\tend");
    // An escaped line end is a paragraph mark; plain line ends are not text.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 a\\\nb\r\nc}"), u"a\rbc");
    // The space after a control word belongs to it; digits are its parameter.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\b bold\\b0  plain\\fs20x}"), u"bold plainx");
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\{a\\} b\\\\c\\~d\\_e\\-f\\lquote\\rdblquote\\emdash\\bullet}"),
              u"{a} b\\c\u00a0d\u2011ef\u2018\u201d\u2014\u2022");
}

TEST(RtfText, HexEscapesFollowTheCodePageOfDocumentOrFont) {
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi caf\\'e9 \\'80}"), u"caf\u00e9 \u20ac");
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}"), u"\u041f\u0440\u0438");
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\pc \\'82}"), u"\u00e9");   // DOS 437
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\mac \\'8e}"), u"\u00e9");  // Mac Roman
    // Double-byte code pages decode byte pairs (GBK), and 65001 is UTF-8.
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg936 \\'d6\\'d0\\'ce\\'c4}"), u"\u4e2d\u6587");
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg65001 \\'c3\\'a9}"), u"\u00e9");
    // Font 1 is Central European (charset 238), font 2 Cyrillic (204); \plain returns to \deff.
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fcharset0 Times;}{\\f1\\fcharset238 Times CE;}"
                             "{\\f2\\fcharset204 Times Cyr;}}\\'e8 {\\f1 \\'e8} {\\f2 \\'e8}\\f1 \\'9a\\plain \\'e8}"),
              u"\u00e8 \u010d \u0438\u0161\u00e8");
}

TEST(RtfText, UnicodeEscapesSkipTheirFallback) {
    // \uc1 (default): one fallback character, \uc2 two, \uc0 none; a hex escape counts as one.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\u233?t\\u8364\\'80x}"), u"\u00e9t\u20acx");
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\uc2\\u20013\\'d6\\'d0z\\uc0\\u233 x}"), u"\u4e2dz\u00e9x");
    // Negative values are the upper half; two escapes make a surrogate pair.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\u-3913?\\u-10179?\\u-8704?}"), u"\uf0b7\U0001F600");
    // A group end stops the fallback count, and \uc is scoped to its group.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 {\\uc3\\u233 a}bc\\u233 de}"), u"\u00e9bc\u00e9e");
    // Of \upr, only the Unicode copy in \ud is read.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 {\\upr{ansi text}{\\*\\ud{\\u1055?ni}}}}"), u"\u041fni");
}

TEST(RtfText, SkipsEverythingButTheBodyText) {
    std::string rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
        "{\\stylesheet{\\s1 Heading 1;}}{\\info{\\title The title}{\\author Me}}"
        "{\\header Page head\\par}{\\footer Page foot\\par}"
        "{\\*\\generator Writer 1.0;}{\\*\\unknowndest hidden}"
        "Body{\\footnote Note text}"
        " {\\pict\\pngblip 89504e47}{\\*\\shppict{\\pict 00ff}}"
        "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}\\par}";
    EXPECT_EQ(RtfToPlainText(rtf), u"Body link");
    // \bin5 then five raw bytes holding braces, a backslash and a zero byte.
    static constexpr char kBinary[] = "{\\rtf1 a{\\pict\\bin5 {}\\\0x}b}";
    EXPECT_EQ(RtfToPlainText(std::string_view(kBinary, sizeof kBinary - 1)), u"ab");
}

TEST(RtfText, TableRowsAreTabSeparatedParagraphs) {
    EXPECT_EQ(RtfToPlainText("{\\rtf1 Before\\par\\trowd\\cellx100\\cellx200\\pard\\intbl A1\\par more\\cell B1\\cell\\row"
                             "\\pard\\intbl A2\\cell {B2 \\par}\\cell\\row\\pard After\\par}"),
              u"Before\rA1 more\tB1\rA2\tB2\rAfter");
}

TEST(RtfText, DamagedFilesAreRefused) {
    for (const std::string& rtf : std::vector<std::string>{"plain text", "", " {\\rtf1 x}", "{\\rtf1 {unclosed group}", "{\\rtf1 {\\pict\\bin9999 abc}}",
                            "{\\rtf1" + std::string(20000, '{')}) {
        EXPECT_EQ(ErrorOf([&] { RtfToPlainText(rtf); }), "This RTF file is damaged") << rtf.substr(0, 30);
    }
    // Deep but balanced nesting reads, and text after the closing brace is ignored.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 " + std::string(5000, '{') + "deep" + std::string(5000, '}') + "}}}x"), u"deep");
}

TEST(RtfReader, ParagraphsBecomeBodyBlocksWithLineFeeds) {
    Document document = ReadRtfBytes("{\\rtf1 One\\line two\\par\\par Three\\par}");
    EXPECT_EQ(Texts(document), (Lines{"One\ntwo", "", "Three"}));
    for (const auto& block : document.blocks) EXPECT_TRUE(block.level == 0 && !block.listItem);
}

TEST(RtfReader, RealFilesFromAnotherWriter) {
    ConvertContext context;
    Document accent = ReadDocument(DataPath("corpus/documents/rtf/rtf-accent.rtf"), context);
    EXPECT_EQ(Texts(accent), Lines{" le caf\u00e9 o\u00f9 on ne fume pas "});
    EXPECT_EQ(accent.title, u"rtf-accent");
    EXPECT_EQ(Texts(ReadRtf(DataPath("corpus/documents/rtf/rtf-table_simple.rtf"))), (Lines{"", "A\tB\tC\tD", "E\tF\tG\tH"}));
    EXPECT_EQ(Texts(ReadRtf(DataPath("corpus/documents/rtf/rtf-list_legacy.rtf"))),
              (Lines{"1.\tA", "Numbered", "List", "\u00b7\tA", "Bulleted", "List"}));
}
