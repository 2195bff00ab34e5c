#include <gtest/gtest.h>

#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

// Headings of every level, a list, line breaks and text that needs escaping.
Document SampleDocument() {
    Document document;
    document.blocks = {
        Heading(u"Main title", 1),
        Paragraph(u"Intro <b> & \"q\" 'a' caf\u00e9 \u20ac \U0001F600 x"),
        Heading(u"Second", 2),
        Paragraph(u"first line\nsecond line"),
        ListItem(u"item one"),
        ListItem(u"item two"),
        Heading(u"Third", 3),
        Heading(u"Too deep", 5),
        AfterPageBreak(Paragraph(u"after the break")),
    };
    return document;
}

std::string DocumentXml(const std::string& path) { return EntryData(path, "word/document.xml"); }

}  // namespace

TEST(DocxWriter, PackageHoldsItsPartsInOrderStoredAndWellFormed) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.docx");
    WriteDocx(SampleDocument(), path);

    std::vector<std::string> names;
    for (const auto& entry : LocalEntries(ReadFile(path))) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.method, 0) << entry.name;
        EXPECT_TRUE(entry.data.starts_with(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"))
            << entry.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels", "word/_rels/document.xml.rels",
                                               "word/styles.xml", "word/document.xml"}));
    EXPECT_EQ(PackageProblems(path), "");
}

TEST(DocxWriter, PandocReadsBackHeadingsParagraphsAndText) {
    REQUIRE_TOOL("pandoc");
    TempDir folder;
    std::string path = folder.File("out.docx");
    WriteDocx(SampleDocument(), path);
    CommandResult read = PandocBlocks(path, "docx");
    ASSERT_EQ(read.exitCode, 0) << read.output;
    // Level 1 is the document's Title style, which pandoc takes as the title; level 5
    // is clamped to 3; list items carry their bullet and tab (pandoc reads the tab as a space).
    EXPECT_EQ(read.output,
              "TITLE Main title\n"
              "P Intro <b> & \"q\" 'a' caf\u00e9 \u20ac \U0001F600 x\n"
              "H2 Second\n"
              "P first line\\nsecond line\n"
              "P \u2022 item one\n"
              "P \u2022 item two\n"
              "H3 Third\n"
              "H3 Too deep\n"
              "P after the break\n");
}

TEST(DocxWriter, TabsLineBreaksAndPageBreaksBecomeTheirOwnRuns) {
    TempDir folder;
    std::string path = folder.File("out.docx");
    Document document;
    document.blocks = {AfterPageBreak(Paragraph(u"a\tb\nc"))};
    WriteDocx(document, path);
    EXPECT_NE(DocumentXml(path).find(
                  "<w:p><w:r><w:br w:type=\"page\"/></w:r>"
                  "<w:r><w:t xml:space=\"preserve\">a</w:t></w:r><w:r><w:tab/></w:r>"
                  "<w:r><w:t xml:space=\"preserve\">b</w:t></w:r><w:r><w:br/></w:r>"
                  "<w:r><w:t xml:space=\"preserve\">c</w:t></w:r></w:p>"),
              std::string::npos);
}

TEST(DocxWriter, EmptyDocumentAndEmptyParagraphsStayValid) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string empty = folder.File("empty.docx");
    WriteDocx(Document{}, empty);
    EXPECT_EQ(PackageProblems(empty), "");
    EXPECT_NE(DocumentXml(empty).find("<w:body><w:sectPr>"), std::string::npos);

    std::string blanks = folder.File("blanks.docx");
    Document document;
    document.blocks = {Paragraph(u""), Paragraph(u"x"), Paragraph(u"")};
    WriteDocx(document, blanks);
    EXPECT_EQ(CountOf(DocumentXml(blanks), "<w:p></w:p>"), 2u);
}

TEST(DocxWriter, ControlCharactersAreDroppedAndMarkupEscaped) {
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.docx");
    Document document;
    // U+FFFE and U+FFFF are not characters in XML either.
    document.blocks = {Paragraph(u"a\u0001\u001F\uFFFE\uFFFFb</w:t>&amp;")};
    WriteDocx(document, path);
    std::string xml = DocumentXml(path);
    EXPECT_NE(xml.find(">ab&lt;/w:t&gt;&amp;amp;</w:t>"), std::string::npos);
    EXPECT_EQ(XmlProblems(xml), "");
}

TEST(DocxWriter, PreformattedBodyIsConsolasWithoutSpaceAfter) {
    TempDir folder;
    std::string path = folder.File("out.docx");
    Document document;
    document.preformatted = true;
    document.blocks = {Paragraph(u"int x;"), Heading(u"H", 2)};
    WriteDocx(document, path);
    std::string xml = DocumentXml(path);
    EXPECT_NE(xml.find("<w:p><w:pPr><w:spacing w:after=\"0\"/></w:pPr><w:r><w:rPr><w:rFonts w:ascii=\"Consolas\" "
                       "w:hAnsi=\"Consolas\"/><w:sz w:val=\"19\"/></w:rPr><w:t xml:space=\"preserve\">int x;</w:t>"),
              std::string::npos);
    // The heading keeps its own style and font.
    EXPECT_NE(xml.find("<w:pStyle w:val=\"Heading2\"/></w:pPr><w:r><w:t xml:space=\"preserve\">H</w:t>"),
              std::string::npos);
}

TEST(DocxWriter, TablesArePaddedWithABoldFirstRowAndNamedWhenSeveral) {
    REQUIRE_TOOL("pandoc");
    TempDir folder;
    Document one;
    one.blocks = {Paragraph(u"before")};
    one.tables = {MakeTable(u"Only", {{u"h1"}, {u"a", u"b", u"c"}, {u"d", u"e"}})};
    std::string onePath = folder.File("one.docx");
    WriteDocx(one, onePath);
    CommandResult read = PandocBlocks(onePath, "docx");
    ASSERT_EQ(read.exitCode, 0) << read.output;
    EXPECT_EQ(read.output, "P before\nROW h1||\nROW a|b|c\nROW d|e|\n");
    std::string xml = DocumentXml(onePath);
    EXPECT_EQ(CountOf(xml, "<w:gridCol w:w=\"3200\"/>"), 3u);
    EXPECT_EQ(CountOf(xml, "<w:tc>"), 9u);
    EXPECT_EQ(CountOf(xml, "<w:rPr><w:b/></w:rPr><w:t xml:space=\"preserve\">h1</w:t>"), 1u);
    EXPECT_EQ(CountOf(xml, "<w:b/>"), 1u);  // only the header row is bold

    Document two;
    two.tables = {MakeTable(u"First", {{u"x"}}), MakeTable(u"Second", {{u"y"}})};
    std::string twoPath = folder.File("two.docx");
    WriteDocx(two, twoPath);
    read = PandocBlocks(twoPath, "docx");
    ASSERT_EQ(read.exitCode, 0) << read.output;
    EXPECT_EQ(read.output, "H2 First\nROW x\nH2 Second\nROW y\n");
}

TEST(DocxWriter, TableWithoutCellsIsLeftOut) {
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.docx");
    Document document;
    document.tables = {MakeTable(u"A", {{}, {}}), MakeTable(u"B", {})};
    WriteDocx(document, path);
    std::string xml = DocumentXml(path);
    EXPECT_EQ(CountOf(xml, "<w:tbl>"), 0u);
    EXPECT_EQ(CountOf(xml, "Heading2"), 2u);
    EXPECT_EQ(XmlProblems(xml), "");
}
