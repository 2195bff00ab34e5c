#include <gtest/gtest.h>

#include "convert/core/errors.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "platform/rtf_text.h"
#include "support/test_support.h"

using testing_support::DataPath;

namespace {

std::vector<std::u16string> Texts(const Document& document) {
    std::vector<std::u16string> texts;
    for (const auto& block : document.blocks) texts.push_back(block.text);
    return texts;
}

std::string ErrorOf(std::string_view rtf) {
    try {
        RtfToPlainText(rtf);
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no error";
}

}  // namespace

TEST(RtfText, ParagraphsLinesAndTabs) {
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi First\\par Second\\line next\\tab end\\par}"),
              u"First\rSecond\u000bnext\tend");
    // An escaped line end is a paragraph mark; plain line ends are not text.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 a\\\nb\r\nc}"), u"a\rbc");
}

TEST(RtfText, ControlWordDelimitersAndSymbols) {
    // The space after a control word belongs to it; a digit run is its parameter.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\b bold\\b0  plain\\fs20x}"), u"bold plainx");
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\{braces\\} back\\\\slash\\~nb\\_hy\\-phen}"),
              u"{braces} back\\slash\u00a0nb\u2011hyphen");
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\lquote a\\rquote \\ldblquote b\\rdblquote \\emdash\\endash\\bullet}"),
              u"\u2018a\u2019\u201cb\u201d\u2014\u2013\u2022");
}

TEST(RtfText, HexEscapesFollowTheDocumentCodePage) {
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi caf\\'e9 \\'80}"), u"caf\u00e9 \u20ac");
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}"), u"\u041f\u0440\u0438");
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg1253 \\'e1}"), u"\u03b1");
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\pc \\'82}"), u"\u00e9");    // DOS 437
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\mac \\'8e}"), u"\u00e9");   // Mac Roman
    // Double-byte code pages decode byte pairs: GBK "中文".
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg936 \\'d6\\'d0\\'ce\\'c4}"), u"\u4e2d\u6587");
    // UTF-8 declared as a code page.
    EXPECT_EQ(RtfToPlainText("{\\rtf1\\ansi\\ansicpg65001 \\'c3\\'a9}"), u"\u00e9");
}

TEST(RtfText, FontCharsetsOverrideTheDocumentCodePage) {
    // Font 1 is Central European (charset 238 = 1250), font 2 Cyrillic (204 = 1251).
    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fcharset0 Times;}{\\f1\\fcharset238 Times CE;}"
                      "{\\f2\\fcharset204 Times Cyr;}}"
                      "\\'e8 {\\f1 \\'e8} {\\f2 \\'e8}\\f1 \\'9a\\plain \\'e8}";
    EXPECT_EQ(RtfToPlainText(rtf), u"\u00e8 \u010d \u0438\u0161\u00e8");
}

TEST(RtfText, UnicodeEscapesSkipTheirFallback) {
    // \uc1 (default): one fallback character; \uc2: two; \uc0: none.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\u233?t\\u8364\\'80x}"), u"\u00e9t\u20acx");
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\uc2\\u20013\\'d6\\'d0z}"), u"\u4e2dz");
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\uc0\\u233 x}"), u"\u00e9x");
    // Negative values are the upper half; two escapes make a surrogate pair.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 \\u-3913?\\u-10179?\\u-8704?}"), u"\uf0b7\U0001F600");
    // A group end stops the fallback count, and \uc is scoped to its group.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 {\\uc3\\u233 a}bc\\u233 de}"), u"\u00e9bc\u00e9e");
}

TEST(RtfText, SkipsTablesPicturesHeadersFootnotesAndIgnorableDestinations) {
    std::string rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
        "{\\stylesheet{\\s1 Heading 1;}}{\\info{\\title The title}{\\author Me}}"
        "{\\header Page head\\par}{\\footer Page foot\\par}"
        "{\\*\\generator Writer 1.0;}{\\*\\unknowndest hidden}"
        "Body{\\footnote Note text}"
        " {\\pict\\pngblip 89504e47}{\\*\\shppict{\\pict 00ff}}"
        "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}\\par}";
    EXPECT_EQ(RtfToPlainText(rtf), u"Body link");
}

TEST(RtfText, BinaryDataIsSkippedEvenWithBraces) {
    // \bin5 then five raw bytes holding braces, a backslash and a zero byte.
    static constexpr char kRtf[] = "{\\rtf1 a{\\pict\\bin5 {}\\\0x}b}";
    EXPECT_EQ(RtfToPlainText(std::string_view(kRtf, sizeof kRtf - 1)), u"ab");
}

TEST(RtfText, TableRowsAreTabSeparatedParagraphs) {
    std::string rtf = "{\\rtf1 Before\\par"
                      "\\trowd\\cellx100\\cellx200\\pard\\intbl A1\\par more\\cell B1\\cell\\row"
                      "\\pard\\intbl A2\\cell B2\\cell\\row\\pard After\\par}";
    EXPECT_EQ(RtfToPlainText(rtf), u"Before\rA1 more\tB1\rA2\tB2\rAfter");
    // A cell's own closing \par leaves no space before the tab.
    EXPECT_EQ(RtfToPlainText("{\\rtf1 {\\intbl{x\\par}\\cell{y \\par}\\cell}\\row}"), u"x\ty");
}

TEST(RtfText, UnicodeOnlyCopyOfUprIsRead) {
    EXPECT_EQ(RtfToPlainText("{\\rtf1 {\\upr{ansi text}{\\*\\ud{\\u1055?ni}}}}"), u"\u041fni");
}

TEST(RtfText, DamagedFilesAreRefused) {
    const std::string damaged = "This RTF file is damaged";
    EXPECT_EQ(ErrorOf("plain text"), damaged);
    EXPECT_EQ(ErrorOf(""), damaged);
    EXPECT_EQ(ErrorOf(" {\\rtf1 x}"), damaged);
    EXPECT_EQ(ErrorOf("{\\rtf1 {unclosed group}"), damaged);
    EXPECT_EQ(ErrorOf("{\\rtf1 {\\pict\\bin9999 abc}}"), damaged);
    EXPECT_EQ(ErrorOf(std::string(20000, '{').insert(0, "{\\rtf1")), damaged);
    // Text after the document's closing brace is ignored.
    EXPECT_EQ(ErrorOf("{\\rtf1 ok}}}trailing"), "no error");
}

TEST(RtfText, DeepButBalancedNestingReads) {
    std::string rtf = "{\\rtf1 " + std::string(5000, '{') + "deep" + std::string(5000, '}') + "}";
    EXPECT_EQ(RtfToPlainText(rtf), u"deep");
}

TEST(RtfReader, ParagraphsBecomeBodyBlocksWithLineFeeds) {
    Document document = ReadRtfBytes("{\\rtf1 One\\line two\\par\\par Three\\par}");
    EXPECT_EQ(Texts(document), (std::vector<std::u16string>{u"One\ntwo", u"", u"Three"}));
    for (const auto& block : document.blocks) {
        EXPECT_EQ(block.level, 0);
        EXPECT_FALSE(block.listItem);
    }
}

TEST(RtfReader, RealFilesFromAnotherWriter) {
    ConvertContext context;
    Document accent = ReadDocument(DataPath("corpus/documents/rtf/rtf-accent.rtf"), context);
    EXPECT_EQ(Texts(accent), std::vector<std::u16string>{u" le caf\u00e9 o\u00f9 on ne fume pas "});
    EXPECT_EQ(accent.title, u"rtf-accent");

    Document table = ReadRtf(DataPath("corpus/documents/rtf/rtf-table_simple.rtf"));
    EXPECT_EQ(Texts(table), (std::vector<std::u16string>{u"", u"A\tB\tC\tD", u"E\tF\tG\tH"}));

    Document footnote = ReadRtf(DataPath("corpus/documents/rtf/rtf-footnote.rtf"));
    ASSERT_EQ(footnote.blocks.size(), 1u);
    EXPECT_NE(footnote.blocks[0].text.find(u"Mead's landmark study has been amply annotated. It was"), std::u16string::npos);
    EXPECT_EQ(footnote.blocks[0].text.find(u"Sahlins"), std::u16string::npos);  // footnotes are skipped

    Document link = ReadRtf(DataPath("corpus/documents/rtf/rtf-link.rtf"));
    EXPECT_EQ(Texts(link), std::vector<std::u16string>{u"pandoc"});

    Document heading = ReadRtf(DataPath("corpus/documents/rtf/rtf-heading.rtf"));
    std::vector<std::u16string> nonEmpty;
    for (const auto& text : Texts(heading))
        if (!text.empty()) nonEmpty.push_back(text);
    EXPECT_EQ(nonEmpty, (std::vector<std::u16string>{u"Heading 1", u"Heading 2", u"Heading 3", u"Paragraph"}));
}
