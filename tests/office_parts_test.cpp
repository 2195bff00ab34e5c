// The office readers' tag handlers, driven with small XML parts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/core/text.h"
#include "convert/documents/office_parts.h"

namespace {

// One block as "^" (break before) "hN:" (heading level) "*" (list item) and the text.
std::vector<std::string> Describe(const Document& document) {
    std::vector<std::string> described;
    for (const Block& block : document.blocks) {
        std::string line;
        if (block.breakBefore) line += "^";
        if (block.level != 0) line += "h" + std::to_string(block.level) + ":";
        if (block.listItem) line += "*";
        line += WideToUtf8(block.text);
        described.push_back(line);
    }
    return described;
}

using Lines = std::vector<std::string>;

std::string WordBody(std::string_view body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
           std::string(body) + "<w:sectPr><w:pgSz w:w=\"12240\"/></w:sectPr></w:body></w:document>";
}

Lines Word(std::string_view body) {
    Document document;
    ReadWordBody(WordBody(body), document);
    EXPECT_TRUE(document.title.empty());
    EXPECT_TRUE(document.tables.empty());
    return Describe(document);
}

std::string Paragraph(std::string_view style, std::string_view text) {
    std::string properties = style.empty() ? "" : "<w:pPr><w:pStyle w:val=\"" + std::string(style) + "\"/></w:pPr>";
    return "<w:p>" + properties + "<w:r><w:t>" + std::string(text) + "</w:t></w:r></w:p>";
}

std::string Cell(std::string_view text) { return "<w:tc><w:tcPr><w:tcW w:w=\"100\"/></w:tcPr>" + Paragraph("", text) + "</w:tc>"; }

Lines Odf(std::string_view body) {
    Document document;
    ReadOpenDocumentContent(
        "<?xml version=\"1.0\"?><office:document-content><office:body>" + std::string(body) +
            "</office:body></office:document-content>",
        document);
    EXPECT_TRUE(document.title.empty());
    EXPECT_TRUE(document.tables.empty());
    return Describe(document);
}

std::string Slide(std::string_view shapes) {
    return "<?xml version=\"1.0\"?><p:sld><p:cSld><p:spTree>" + std::string(shapes) + "</p:spTree></p:cSld></p:sld>";
}

std::string Shape(std::string_view paragraphs) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Title 1\"/></p:nvSpPr><p:txBody><a:bodyPr/>" +
           std::string(paragraphs) + "</p:txBody></p:sp>";
}

std::string SlideParagraph(std::string_view text) {
    return "<a:p><a:r><a:rPr lang=\"en-US\"/><a:t>" + std::string(text) + "</a:t></a:r></a:p>";
}

}  // namespace

// --- Word -----------------------------------------------------------------------------

TEST(WordBody, RunsJoinIntoOneBlockPerParagraph) {
    EXPECT_EQ(Word("<w:p><w:r><w:t>Hello</w:t></w:r><w:r><w:t xml:space=\"preserve\"> world &amp; all</w:t></w:r></w:p>"
                   "<w:p><w:r><w:t>Second</w:t></w:r></w:p>"),
              (Lines{"Hello world & all", "Second"}));
}

TEST(WordBody, OnlyRunTextIsRead) {
    // Field codes and deleted text live outside "w:t"; insertions are ordinary runs.
    EXPECT_EQ(Word("<w:p><w:r><w:instrText> PAGE </w:instrText></w:r>"
                   "<w:del w:id=\"1\"><w:r><w:delText>gone</w:delText></w:r></w:del>"
                   "<w:ins w:id=\"2\"><w:r><w:t>kept</w:t></w:r></w:ins>"
                   "<w:r><w:rPr><w:b/></w:rPr><w:t>!</w:t></w:r></w:p>"),
              (Lines{"kept!"}));
}

TEST(WordBody, NonAsciiTextBecomesUtf16) {
    Document document;
    ReadWordBody(WordBody(Paragraph("", "Grüße, 日本語, \xF0\x9F\x98\x80")), document);
    ASSERT_EQ(document.blocks.size(), 1u);
    EXPECT_EQ(document.blocks[0].text, u"Grüße, 日本語, \U0001F600");
}

TEST(WordBody, HeadingLevelsFromStyleIdentifiers) {
    EXPECT_EQ(Word(Paragraph("Title", "t") + Paragraph("Heading1", "a") + Paragraph("Heading2", "b") +
                   Paragraph("Heading3", "c") + Paragraph("Heading5", "d") + Paragraph("Heading9", "e") +
                   Paragraph("Heading0", "f") + Paragraph("Heading10", "g") + Paragraph("Heading2Char", "h")),
              (Lines{"h1:t", "h1:a", "h2:b", "h3:c", "h3:d", "h3:e", "h1:f", "h1:g", "h2:h"}));
}

TEST(WordBody, OtherStylesStayBodyParagraphs) {
    EXPECT_EQ(Word(Paragraph("heading1", "a") + Paragraph("Heading", "b") + Paragraph("HeadingX", "c") +
                   Paragraph("Subtitle", "d") + Paragraph("title", "e") + Paragraph("Überschrift1", "f")),
              (Lines{"a", "b", "c", "d", "e", "f"}));
}

TEST(WordBody, StyleInSingleQuotesIsNotSeen) {
    EXPECT_EQ(Word("<w:p><w:pPr><w:pStyle w:val='Heading1'/></w:pPr><w:r><w:t>x</w:t></w:r></w:p>"), (Lines{"x"}));
}

TEST(WordBody, HeadingLevelDoesNotLeakIntoTheNextParagraph) {
    EXPECT_EQ(Word(Paragraph("Heading2", "h") + Paragraph("", "body")), (Lines{"h2:h", "body"}));
}

TEST(WordBody, EmptyParagraphsGiveEmptyBlocks) {
    EXPECT_EQ(Word("<w:p/><w:p></w:p><w:p><w:pPr><w:jc w:val=\"center\"/></w:pPr></w:p>"), (Lines{"", "", ""}));
}

TEST(WordBody, TabsInRunsButNotTabStops) {
    EXPECT_EQ(Word("<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>"
                   "<w:r><w:t>a</w:t><w:tab/><w:t>b</w:t></w:r></w:p>"),
              (Lines{"a\tb"}));
}

TEST(WordBody, BreaksOfEveryTypeAreLineBreaks) {
    EXPECT_EQ(Word("<w:p><w:r><w:t>a</w:t><w:br/><w:t>b</w:t><w:br w:type=\"page\"/><w:t>c</w:t>"
                   "<w:cr/><w:t>d</w:t><w:br w:type=\"column\"/></w:r></w:p>"),
              (Lines{"a\nb\nc\nd\n"}));
}

TEST(WordBody, HyphenElementsBecomeCharacters) {
    EXPECT_EQ(Word("<w:p><w:r><w:t>e</w:t><w:noBreakHyphen/><w:t>mail co</w:t><w:softHyphen/><w:t>operate</w:t></w:r></w:p>"),
              (Lines{"e\u2011mail co\u00ADoperate"}));
}

TEST(WordBody, NumberedParagraphsAreListItems) {
    std::string item = "<w:p><w:pPr><w:pStyle w:val=\"ListParagraph\"/><w:numPr><w:ilvl w:val=\"0\"/>"
                       "<w:numId w:val=\"1\"/></w:numPr></w:pPr><w:r><w:t>item</w:t></w:r></w:p>";
    EXPECT_EQ(Word(item + item + Paragraph("", "after")), (Lines{"*item", "*item", "after"}));
}

TEST(WordBody, TableRowsBecomeTabSeparatedBodyBlocks) {
    std::string table = "<w:tbl><w:tblPr/><w:tblGrid><w:gridCol/></w:tblGrid>"
                        "<w:tr>" + Cell("a") + Cell("b") + Cell("c") + "</w:tr>"
                        "<w:tr>" + Cell("d") + Cell("") + Cell("f") + "</w:tr></w:tbl>";
    EXPECT_EQ(Word(Paragraph("", "before") + table + Paragraph("", "after")),
              (Lines{"before", "a\tb\tc", "d\t\tf", "after"}));
}

TEST(WordBody, ParagraphsOfACellRunTogether) {
    std::string cell = "<w:tc>" + Paragraph("", "one") + Paragraph("", "two ") + "<w:p/></w:tc>";
    EXPECT_EQ(Word("<w:tbl><w:tr>" + cell + Cell("x") + "</w:tr></w:tbl>"), (Lines{"one two\tx"}));
}

TEST(WordBody, RowIsABodyBlockWhateverItsCellsStyles) {
    std::string cell = "<w:tc><w:p><w:pPr><w:pStyle w:val=\"Heading1\"/><w:numPr/></w:pPr>"
                       "<w:r><w:t>h</w:t></w:r></w:p></w:tc>";
    EXPECT_EQ(Word("<w:tbl><w:tr>" + cell + Cell("x") + "</w:tr></w:tbl>"), (Lines{"h\tx"}));
}

TEST(WordBody, NestedTableMergesIntoItsOuterCell) {
    std::string inner = "<w:tbl><w:tr>" + Cell("i1") + Cell("i2") + "</w:tr><w:tr>" + Cell("i3") + "</w:tr></w:tbl>";
    std::string outer = "<w:tbl><w:tr><w:tc>" + Paragraph("", "A") + inner + "<w:p/></w:tc>" + Cell("B") +
                        "</w:tr></w:tbl>";
    EXPECT_EQ(Word(outer), (Lines{"A i1\ti2 i3\tB"}));
}

TEST(WordBody, StrayCellEndDoesNotSwallowLaterParagraphs) {
    EXPECT_EQ(Word("</w:tc>" + Paragraph("", "a") + Paragraph("", "b")), (Lines{"\ta", "b"}));
}

TEST(WordBody, UnfinishedLastParagraphIsKeptWhenItHasText) {
    Document document;
    ReadWordBody("<w:body><w:p><w:r><w:t>cut off", document);
    EXPECT_EQ(Describe(document), (Lines{"cut off"}));
    Document empty;
    ReadWordBody("<w:body><w:p><w:pPr><w:numPr/>", empty);
    EXPECT_TRUE(empty.blocks.empty());
}

TEST(WordBody, FallbackCopyOfATextBoxIsNotReadTwice) {
    std::string box = "<w:txbxContent>" + Paragraph("", "boxed") + "</w:txbxContent>";
    EXPECT_EQ(Word("<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing>" + box +
                   "</w:drawing></mc:Choice><mc:Fallback><w:pict>" + box +
                   "</w:pict></mc:Fallback></mc:AlternateContent></w:r><w:r><w:t>after</w:t></w:r></w:p>"),
              (Lines{"boxed", "after"}));
}

TEST(WordBody, DamagedMarkupGivesLessTextNotAnError) {
    EXPECT_EQ(Word("<w:p><w:r><w:t>a</w:t></w:r></w:p><!-- never closed" + Paragraph("", "b")), (Lines{"a"}));
    Document document;
    ReadWordBody("", document);
    EXPECT_TRUE(document.blocks.empty());
}

// --- OpenDocument ---------------------------------------------------------------------

TEST(OpenDocumentContent, ParagraphsHeadingsAndSpans) {
    EXPECT_EQ(Odf("<office:text><text:h text:style-name=\"H1\" text:outline-level=\"2\">Head</text:h>"
                  "<text:p text:style-name=\"P1\">Some <text:span text:style-name=\"T1\">bold</text:span> &amp; more</text:p>"
                  "</office:text>"),
              (Lines{"h2:Head", "Some bold & more"}));
}

TEST(OpenDocumentContent, OutlineLevelMissingZeroOrDeepIsClamped) {
    EXPECT_EQ(Odf("<text:h>a</text:h><text:h text:outline-level=\"0\">b</text:h><text:h text:outline-level=\"3\">c</text:h>"
                  "<text:h text:outline-level=\"6\">d</text:h><text:h text:outline-level=\"-2\">e</text:h>"
                  "<text:h text:outline-level=\"x\">f</text:h><text:h text:outline-level=\"99999999999999999999\">g</text:h>"),
              (Lines{"h1:a", "h1:b", "h3:c", "h3:d", "h1:e", "h1:f", "h3:g"}));
}

TEST(OpenDocumentContent, SpacesTabsAndLineBreaks) {
    EXPECT_EQ(Odf("<text:p>a<text:s text:c=\"3\"/>b<text:s/>c<text:s text:c=\"0\"/>d<text:s text:c=\"-4\"/>e</text:p>"
                  "<text:p>x<text:tab/>y<text:line-break/>z</text:p>"),
              (Lines{"a   b c d e", "x\ty\nz"}));
}

TEST(OpenDocumentContent, SpacesOutsideParagraphsAreIgnored) {
    EXPECT_EQ(Odf("<text:s text:c=\"5\"/><text:tab/><text:p>a</text:p>"), (Lines{"a"}));
}

TEST(OpenDocumentContent, HugeSpaceCountIsBounded) {
    Document document;
    std::string xml = "<text:p>a<text:s text:c=\"2000000000\"/>b</text:p>";
    ReadOpenDocumentContent(xml, document);
    ASSERT_EQ(document.blocks.size(), 1u);
    EXPECT_LE(document.blocks[0].text.size(), xml.size() + (64u << 10) + 2);
    EXPECT_GE(document.blocks[0].text.size(), 1000u);
    EXPECT_EQ(document.blocks[0].text.back(), u'b');
}

TEST(OpenDocumentContent, ListItemsAtAnyDepth) {
    EXPECT_EQ(Odf("<text:list><text:list-item><text:p>one</text:p><text:list><text:list-item><text:p>nested</text:p>"
                  "</text:list-item></text:list></text:list-item><text:list-header><text:p>header</text:p>"
                  "</text:list-header></text:list><text:p>after</text:p>"),
              (Lines{"*one", "*nested", "header", "after"}));
}

TEST(OpenDocumentContent, EmptyAndSelfClosingParagraphsGiveEmptyBlocks) {
    EXPECT_EQ(Odf("<text:p/><text:p></text:p><text:h/>"), (Lines{"", "", ""}));
}

TEST(OpenDocumentContent, CommentsChangeRecordsAndNotesAddNothing) {
    EXPECT_EQ(Odf("<office:text><text:tracked-changes><text:changed-region><text:deletion><office:change-info>"
                  "<dc:creator>Someone</dc:creator></office:change-info><text:p>deleted</text:p></text:deletion>"
                  "</text:changed-region></text:tracked-changes>"
                  "<text:p>Text<office:annotation><dc:creator>R</dc:creator><text:p>comment</text:p></office:annotation>"
                  " with<text:note text:note-class=\"footnote\"><text:note-citation>1</text:note-citation>"
                  "<text:note-body><text:p>Footnote</text:p></text:note-body></text:note> notes.</text:p>"
                  "<text:p>x<text:change-start text:change-id=\"c1\"/>inserted<text:change-end text:change-id=\"c1\"/></text:p>"
                  "</office:text>"),
              (Lines{"Text with notes.", "xinserted"}));
}

TEST(OpenDocumentContent, PresentationSlidesAndTitles) {
    std::string page1 = "<draw:page draw:name=\"page1\">"
                        "<draw:frame presentation:class=\"title\"><draw:text-box><text:p>First</text:p></draw:text-box></draw:frame>"
                        "<draw:frame presentation:class=\"outline\"><draw:text-box><text:list><text:list-item><text:p>point</text:p>"
                        "</text:list-item></text:list></draw:text-box></draw:frame>"
                        "<presentation:notes><draw:frame><draw:text-box><text:p>speaker notes</text:p></draw:text-box>"
                        "</draw:frame></presentation:notes></draw:page>";
    std::string page2 = "<draw:page><draw:frame presentation:class=\"subtitle\"><draw:text-box><text:p>sub</text:p>"
                        "</draw:text-box></draw:frame><draw:frame presentation:class=\"title\"><draw:text-box>"
                        "<text:p>Second</text:p></draw:text-box></draw:frame></draw:page>";
    std::string page3 = "<draw:page><draw:frame presentation:class=\"title\"/></draw:page><draw:page>"
                        "<draw:custom-shape><text:p>shape</text:p></draw:custom-shape></draw:page>";
    EXPECT_EQ(Odf("<office:presentation>" + page1 + page2 + page3 + "</office:presentation>"),
              (Lines{"h2:First", "*point", "^sub", "h2:Second", "^shape"}));
}

TEST(OpenDocumentContent, FirstPageAfterEarlierTextGetsABreak) {
    EXPECT_EQ(Odf("<text:p>intro</text:p><draw:page><text:p>p</text:p></draw:page>"), (Lines{"intro", "^p"}));
}

TEST(OpenDocumentContent, TableRowsBecomeTabSeparatedBlocks) {
    std::string table = "<table:table table:name=\"T\"><table:table-column table:number-columns-repeated=\"3\"/>"
                        "<table:table-header-rows><table:table-row><table:table-cell><text:p>H1</text:p></table:table-cell>"
                        "<table:table-cell><text:p>H2</text:p><text:p>more </text:p></table:table-cell>"
                        "<table:table-cell/></table:table-row></table:table-header-rows>"
                        "<table:table-row><table:table-cell table:number-columns-spanned=\"2\"><text:h>wide</text:h>"
                        "</table:table-cell><table:covered-table-cell/><table:table-cell><text:list><text:list-item>"
                        "<text:p>c</text:p></text:list-item></text:list></table:table-cell></table:table-row></table:table>";
    EXPECT_EQ(Odf("<text:p>before</text:p>" + table + "<text:p>after</text:p>"),
              (Lines{"before", "H1\tH2 more\t", "wide\t\tc", "after"}));
}

TEST(OpenDocumentContent, NestedTableMergesIntoItsOuterCell) {
    std::string inner = "<table:table><table:table-row><table:table-cell><text:p>i1</text:p></table:table-cell>"
                        "<table:table-cell><text:p>i2</text:p></table:table-cell></table:table-row></table:table>";
    EXPECT_EQ(Odf("<table:table><table:table-row><table:table-cell><text:p>A</text:p>" + inner +
                  "</table:table-cell><table:table-cell><text:p>B</text:p></table:table-cell></table:table-row></table:table>"),
              (Lines{"A i1\ti2\tB"}));
}

TEST(OpenDocumentContent, SlideWithATableTakesTheBreak) {
    EXPECT_EQ(Odf("<draw:page><text:p>a</text:p></draw:page><draw:page><draw:frame><table:table><table:table-row>"
                  "<table:table-cell><text:p>x</text:p></table:table-cell></table:table-row></table:table>"
                  "</draw:frame></draw:page>"),
              (Lines{"a", "^x"}));
}

TEST(OpenDocumentContent, ParagraphInsideAParagraphMerges) {
    EXPECT_EQ(Odf("<text:p>a<draw:frame><draw:text-box><text:p>caption</text:p><text:p/></draw:text-box></draw:frame>b</text:p>"),
              (Lines{"acaptionb"}));
}

TEST(OpenDocumentContent, DamagedMarkupGivesLessText) {
    EXPECT_EQ(Odf("<text:p>a</text:p></text:p></text:list-item></office:annotation><text:p>b</text:p>"), (Lines{"a", "b"}));
    Document document;
    ReadOpenDocumentContent("<text:p>never closed", document);
    EXPECT_TRUE(document.blocks.empty());
}

// --- PowerPoint -----------------------------------------------------------------------

TEST(PowerPointSlide, FirstParagraphIsTheTitleTheRestBody) {
    Document document;
    ReadSlide(Slide(Shape(SlideParagraph("Title")) + Shape(SlideParagraph("one") + SlideParagraph("two"))), 0, document);
    ReadSlide(Slide(Shape(SlideParagraph("Next"))), 1, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:Title", "one", "two", "^h2:Next"}));
}

TEST(PowerPointSlide, BlankParagraphsAreSkippedAndDoNotTakeTheTitle) {
    Document document;
    ReadSlide(Slide(Shape("<a:p/><a:p><a:r><a:t> \t</a:t></a:r><a:br/></a:p>" + SlideParagraph("Real"))), 3, document);
    EXPECT_EQ(Describe(document), (Lines{"^h2:Real"}));
}

TEST(PowerPointSlide, LineBreaksAndRunsAndEntities) {
    Document document;
    ReadSlide(Slide(Shape("<a:p><a:r><a:t>a &amp; b</a:t></a:r><a:br><a:rPr/></a:br><a:r><a:t>c</a:t></a:r>"
                          "<a:fld type=\"slidenum\"><a:t>7</a:t></a:fld></a:p>")),
              0, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:a & b\nc7"}));
}

TEST(PowerPointSlide, TextOutsideRunTextIsIgnored) {
    Document document;
    ReadSlide(Slide("<p:sp><p:nvSpPr><p:cNvPr name=\"x\">descr</p:cNvPr></p:nvSpPr><p:txBody>" + SlideParagraph("t") +
                    "</p:txBody></p:sp>"),
              0, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:t"}));
}

TEST(PowerPointSlide, ThreeSlidesWithAnEmptyMiddleOne) {
    Document document;
    ReadSlide(Slide(Shape(SlideParagraph("One")) + Shape(SlideParagraph("body"))), 0, document);
    ReadSlide(Slide("<p:pic/>"), 1, document);
    ReadSlide(Slide(Shape(SlideParagraph("Three"))), 2, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:One", "body", "^h2:Slide 2", "^h2:Three"}));
}

TEST(PowerPointSlide, EmptyFirstSlideHasNoBreak) {
    Document document;
    ReadSlide("", 0, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:Slide 1"}));
}

TEST(PowerPointSlide, FallbackCopyIsNotReadTwice) {
    Document document;
    ReadSlide(Slide("<mc:AlternateContent><mc:Choice Requires=\"a14\">" + Shape(SlideParagraph("eq")) +
                    "</mc:Choice><mc:Fallback>" + Shape(SlideParagraph("eq")) + "</mc:Fallback></mc:AlternateContent>" +
                    Shape(SlideParagraph("after"))),
              0, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:eq", "after"}));
}

TEST(PowerPointSlide, TextWithoutParagraphEndIsDropped) {
    Document document;
    ReadSlide("<a:p><a:t>never ended", 0, document);
    EXPECT_EQ(Describe(document), (Lines{"h2:Slide 1"}));
}

TEST(PowerPointSlides, OrderComesFromThePresentationPart) {
    std::string relationships =
        "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\".../slideMaster\" Target=\"slideMasters/slideMaster1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\".../slide\" Target=\"slides/slide1.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\".../slide\" Target=\"slides/slide2.xml\"/>"
        "<Relationship Id=\"rId4\" Type=\".../slide\" Target=\"/ppt/slides/slide3.xml\"/>"
        "</Relationships>";
    std::string presentation = "<p:presentation><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/>"
                               "</p:sldMasterIdLst><p:sldIdLst><p:sldId id=\"258\" r:id=\"rId4\"/>"
                               "<p:sldId id=\"256\" r:id=\"rId2\"/><p:sldId id=\"259\" r:id=\"rId9\"/>"
                               "<p:sldId id=\"257\" r:id=\"rId3\"/></p:sldIdLst></p:presentation>";
    EXPECT_EQ(ListSlides(presentation, relationships),
              (std::vector<std::string>{"ppt/slides/slide3.xml", "ppt/slides/slide1.xml", "ppt/slides/slide2.xml"}));
}

TEST(PowerPointSlides, NothingResolvableGivesAnEmptyList) {
    EXPECT_TRUE(ListSlides("<p:sldId id=\"256\" r:id=\"rId2\"/>", "").empty());
    EXPECT_TRUE(ListSlides("", "<Relationship Id=\"rId2\" Target=\"slides/slide1.xml\"/>").empty());
}

TEST(PowerPointSlides, SlideListedTwiceIsReadOnce) {
    std::string relationships = "<Relationship Id=\"rId2\" Target=\"slides/slide1.xml\"/>"
                                "<Relationship Id=\"rId3\" Target=\"slides/slide1.xml\"/>"
                                "<Relationship Id=\"rId4\" Target=\"slides/slide2.xml\"/>";
    EXPECT_EQ(ListSlides("<p:sldId r:id=\"rId2\"/><p:sldId r:id=\"rId4\"/><p:sldId r:id=\"rId3\"/><p:sldId r:id=\"rId2\"/>",
                         relationships),
              (std::vector<std::string>{"ppt/slides/slide1.xml", "ppt/slides/slide2.xml"}));
}
