// The office readers' tag handlers, driven with small XML parts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/core/text.h"
#include "convert/documents/office_parts.h"

namespace {

using Lines = std::vector<std::string>;

// Each block as "^" (break before), "hN:" (heading level), "*" (list item) and its text.
Lines Describe(const Document& document) {
    Lines lines;
    for (const Block& block : document.blocks) {
        std::string line = block.breakBefore ? "^" : "";
        if (block.level != 0) line += "h" + std::to_string(block.level) + ":";
        lines.push_back(line + (block.listItem ? "*" : "") + WideToUtf8(block.text));
    }
    return lines;
}

Lines Word(std::string_view body) {
    Document document;
    ReadWordBody("<?xml version=\"1.0\"?><w:document><w:body>" + std::string(body) + "<w:sectPr/></w:body></w:document>",
                 document);
    return Describe(document);
}

std::string P(std::string_view text, std::string_view style = "") {
    std::string properties = style.empty() ? "" : "<w:pPr><w:pStyle w:val=\"" + std::string(style) + "\"/></w:pPr>";
    return "<w:p>" + properties + "<w:r><w:t>" + std::string(text) + "</w:t></w:r></w:p>";
}

std::string Tc(std::string_view content) { return "<w:tc><w:tcPr/>" + std::string(content) + "</w:tc>"; }

Lines Odf(std::string_view body) {
    Document document;
    ReadOpenDocumentContent("<office:document-content><office:body>" + std::string(body) + "</office:body>", document);
    return Describe(document);
}

std::string Cell(std::string_view content) { return "<table:table-cell>" + std::string(content) + "</table:table-cell>"; }

// Slides in order; each is the inside of its shape tree.
Lines Slides(const Lines& slides) {
    Document document;
    for (size_t i = 0; i < slides.size(); ++i)
        ReadSlide("<p:sld><p:cSld><p:spTree>" + slides[i] + "</p:spTree></p:cSld></p:sld>", i, document);
    return Describe(document);
}

std::string A(std::string_view text) { return "<a:p><a:r><a:rPr lang=\"en\"/><a:t>" + std::string(text) + "</a:t></a:r></a:p>"; }

}  // namespace

TEST(WordBody, RunTextOnlyOneBlockPerParagraph) {
    // Field codes and deleted text live outside "w:t"; insertions are ordinary runs.
    EXPECT_EQ(Word("<w:p><w:r><w:t>Grüße</w:t></w:r><w:r><w:t xml:space=\"preserve\"> &amp; 日本 😀</w:t></w:r>"
                   "<w:r><w:instrText> PAGE </w:instrText></w:r><w:del><w:r><w:delText>gone</w:delText></w:r></w:del>"
                   "<w:ins><w:r><w:t>!</w:t></w:r></w:ins></w:p>" + P("Second")),
              (Lines{"Grüße & 日本 😀!", "Second"}));
}

TEST(WordBody, HeadingLevelsFromStyleIdentifiers) {
    EXPECT_EQ(Word(P("t", "Title") + P("a", "Heading1") + P("b", "Heading2") + P("c", "Heading3") + P("d", "Heading5") +
                   P("e", "Heading0") + P("f", "Heading10") + P("g", "Heading2Char") + P("body")),
              (Lines{"h1:t", "h1:a", "h2:b", "h3:c", "h3:d", "h1:e", "h1:f", "h2:g", "body"}));
    EXPECT_EQ(Word(P("a", "heading1") + P("b", "Heading") + P("c", "HeadingX") + P("d", "title") +
                   "<w:p><w:pPr><w:pStyle w:val='Heading1'/></w:pPr><w:r><w:t>e</w:t></w:r></w:p>"),
              (Lines{"a", "b", "c", "d", "e"}));
}

TEST(WordBody, EmptyParagraphsGiveEmptyBlocks) {
    EXPECT_EQ(Word("<w:p/><w:p></w:p><w:p><w:pPr><w:jc w:val=\"center\"/></w:pPr></w:p>"), (Lines{"", "", ""}));
}

TEST(WordBody, TabsBreaksAndHyphens) {
    // A tab inside paragraph properties is a tab stop; page breaks inside runs are line breaks.
    EXPECT_EQ(Word("<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr><w:r><w:t>a</w:t><w:tab/>"
                   "<w:t>b</w:t><w:br/><w:t>c</w:t><w:br w:type=\"page\"/><w:cr/><w:t>e</w:t><w:noBreakHyphen/>"
                   "<w:t>mail co</w:t><w:softHyphen/><w:t>op</w:t></w:r></w:p>"),
              (Lines{"a\tb\nc\n\ne\u2011mail co\u00ADop"}));
}

TEST(WordBody, NumberedParagraphsAreListItems) {
    std::string item = "<w:p><w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"1\"/></w:numPr></w:pPr>"
                       "<w:r><w:t>item</w:t></w:r></w:p>";
    EXPECT_EQ(Word(item + item + P("after")), (Lines{"*item", "*item", "after"}));
}

TEST(WordBody, TableRowsBecomeTabSeparatedBodyBlocks) {
    // Paragraphs of a cell run together; trailing spaces go; a row is a body block even when
    // a cell's paragraph has a heading or list style.
    std::string styled = "<w:p><w:pPr><w:pStyle w:val=\"Heading1\"/><w:numPr/></w:pPr><w:r><w:t>h</w:t></w:r></w:p>";
    EXPECT_EQ(Word(P("before") + "<w:tbl><w:tblPr/><w:tr>" + Tc(P("a")) + Tc(P("one") + P("two ") + "<w:p/>") + Tc(P("c")) +
                   "</w:tr><w:tr>" + Tc(P("d")) + Tc(P("")) + Tc(styled) + "</w:tr></w:tbl>" + P("after")),
              (Lines{"before", "a\tone two\tc", "d\t\th", "after"}));
}

TEST(WordBody, NestedTableMergesIntoItsOuterCell) {
    std::string inner = "<w:tbl><w:tr>" + Tc(P("i1")) + Tc(P("i2")) + "</w:tr><w:tr>" + Tc(P("i3")) + "</w:tr></w:tbl>";
    EXPECT_EQ(Word("<w:tbl><w:tr>" + Tc(P("A") + inner + "<w:p/>") + Tc(P("B")) + "</w:tr></w:tbl>"),
              (Lines{"A i1\ti2 i3\tB"}));
}

TEST(WordBody, FallbackCopyOfATextBoxIsNotReadTwice) {
    std::string box = "<w:txbxContent>" + P("boxed") + "</w:txbxContent>";
    EXPECT_EQ(Word("<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing>" + box +
                   "</w:drawing></mc:Choice><mc:Fallback><w:pict>" + box +
                   "</w:pict></mc:Fallback></mc:AlternateContent></w:r><w:r><w:t>after</w:t></w:r></w:p>"),
              (Lines{"boxed", "after"}));
}

TEST(WordBody, DamagedMarkupGivesLessTextNotAnError) {
    // A stray cell end must not keep later paragraphs from ending.
    EXPECT_EQ(Word("</w:tc>" + P("a") + P("b") + "<!-- never closed" + P("c")), (Lines{"\ta", "b"}));
    Document cut, empty;
    ReadWordBody("<w:body><w:p><w:r><w:t>cut off", cut);
    EXPECT_EQ(Describe(cut), (Lines{"cut off"}));  // the last paragraph is kept when it has text
    ReadWordBody("<w:body><w:p><w:pPr><w:numPr/>", empty);
    EXPECT_TRUE(empty.blocks.empty());
}

TEST(OpenDocumentContent, ParagraphsAndHeadingLevels) {
    EXPECT_EQ(Odf("<text:h>a</text:h><text:h text:outline-level=\"0\">b</text:h><text:h text:outline-level=\"2\">c</text:h>"
                  "<text:h text:outline-level=\"6\">d</text:h><text:h text:outline-level=\"-2\">e</text:h>"
                  "<text:h text:outline-level=\"99999999999999999999\">f</text:h>"
                  "<text:p text:style-name=\"P1\">Some <text:span>bold</text:span> &amp; more</text:p>"),
              (Lines{"h1:a", "h1:b", "h2:c", "h3:d", "h1:e", "h3:f", "Some bold & more"}));
}

TEST(OpenDocumentContent, SpacesTabsAndLineBreaksInsideParagraphsOnly) {
    EXPECT_EQ(Odf("<text:s text:c=\"5\"/><text:tab/><text:p>a<text:s text:c=\"3\"/>b<text:s/>c<text:s text:c=\"0\"/>d"
                  "<text:s text:c=\"-4\"/>e<text:tab/>f<text:line-break/>g</text:p>"),
              (Lines{"a   b c d e\tf\ng"}));
}

TEST(OpenDocumentContent, HugeSpaceCountIsBounded) {
    Document document;
    std::string xml = "<text:p>a<text:s text:c=\"2000000000\"/>b</text:p>";
    ReadOpenDocumentContent(xml, document);
    ASSERT_EQ(document.blocks.size(), 1u);
    EXPECT_LE(document.blocks[0].text.size(), xml.size() + (64u << 10) + 2);
    EXPECT_GE(document.blocks[0].text.size(), 1000u);
}

TEST(OpenDocumentContent, ListItemsEmptyParagraphsAndNestedParagraphs) {
    EXPECT_EQ(Odf("<text:list><text:list-item><text:p>one</text:p><text:list><text:list-item><text:p>nested</text:p>"
                  "</text:list-item></text:list></text:list-item><text:list-header><text:p>header</text:p>"
                  "</text:list-header></text:list><text:p/><text:p></text:p><text:h/>"
                  "<text:p>a<draw:frame><draw:text-box><text:p>caption</text:p><text:p/></draw:text-box></draw:frame>b</text:p>"),
              (Lines{"*one", "*nested", "header", "", "", "", "acaptionb"}));
}

TEST(OpenDocumentContent, CommentsChangeRecordsAndNotesAddNothing) {
    EXPECT_EQ(Odf("<text:tracked-changes><text:changed-region><text:deletion><text:p>deleted</text:p></text:deletion>"
                  "</text:changed-region></text:tracked-changes><text:p>Text<office:annotation><text:p>comment</text:p>"
                  "</office:annotation> with<text:note><text:note-citation>1</text:note-citation><text:note-body>"
                  "<text:p>Footnote</text:p></text:note-body></text:note> notes.</text:p>"),
              (Lines{"Text with notes."}));
}

TEST(OpenDocumentContent, PresentationSlidesAndTitles) {
    std::string title = "<draw:frame presentation:class=\"title\"><draw:text-box><text:p>";
    std::string close = "</text:p></draw:text-box></draw:frame>";
    EXPECT_EQ(Odf("<text:p>intro</text:p><office:presentation><draw:page>" + title + "First" + close +
                  "<draw:frame presentation:class=\"outline\"><draw:text-box><text:list><text:list-item><text:p>point"
                  "</text:p></text:list-item></text:list></draw:text-box></draw:frame><presentation:notes><text:p>notes"
                  "</text:p></presentation:notes></draw:page><draw:page><draw:frame presentation:class=\"subtitle\">"
                  "<draw:text-box><text:p>sub" + close + title + "Second" + close + "</draw:page><draw:page>"
                  "<draw:frame presentation:class=\"title\"/></draw:page><draw:page><draw:custom-shape><text:p>shape"
                  "</text:p></draw:custom-shape></draw:page></office:presentation>"),
              (Lines{"intro", "^h2:First", "*point", "^sub", "h2:Second", "^shape"}));
}

TEST(OpenDocumentContent, TableRowsBecomeTabSeparatedBlocks) {
    // Empty and covered cells keep their places; paragraphs of a cell run together.
    std::string table = "<table:table><table:table-header-rows><table:table-row>" + Cell("<text:p>H1</text:p>") +
                        Cell("<text:p>H2</text:p><text:p>more </text:p>") + "<table:table-cell/></table:table-row>"
                        "</table:table-header-rows><table:table-row>" + Cell("<text:h>wide</text:h>") +
                        "<table:covered-table-cell/>" + Cell("<text:list><text:list-item><text:p>c</text:p>"
                        "</text:list-item></text:list>") + "</table:table-row></table:table>";
    EXPECT_EQ(Odf("<text:p>before</text:p>" + table + "<text:p>after</text:p>"),
              (Lines{"before", "H1\tH2 more\t", "wide\t\tc", "after"}));
}

TEST(OpenDocumentContent, NestedTableMergesAndASlideTableTakesTheBreak) {
    std::string inner = "<table:table><table:table-row>" + Cell("<text:p>i1</text:p>") + Cell("<text:p>i2</text:p>") +
                        "</table:table-row></table:table>";
    EXPECT_EQ(Odf("<draw:page><text:p>a</text:p></draw:page><draw:page><table:table><table:table-row>" +
                  Cell("<text:p>A</text:p>" + inner) + Cell("<text:p>B</text:p>") + "</table:table-row></table:table></draw:page>"),
              (Lines{"a", "^A i1\ti2\tB"}));
}

TEST(OpenDocumentContent, DamagedMarkupGivesLessText) {
    EXPECT_EQ(Odf("<text:p>a</text:p></text:p></text:list-item></office:annotation><text:p>b</text:p>"
                  "<text:p>never closed"),
              (Lines{"a", "b"}));
}

TEST(PowerPointSlide, FirstNonBlankParagraphIsTheTitle) {
    std::string blank = "<a:p/><a:p><a:r><a:t> \t</a:t></a:r><a:br/></a:p>";
    EXPECT_EQ(Slides({"<p:sp><p:nvSpPr><p:cNvPr name=\"x\">descr</p:cNvPr></p:nvSpPr><p:txBody>" + blank + A("Title") +
                          "</p:txBody></p:sp><p:sp><p:txBody>" + A("one") + A("two") + "</p:txBody></p:sp>",
                      A("Next")}),
              (Lines{"h2:Title", "one", "two", "^h2:Next"}));
}

TEST(PowerPointSlide, LineBreaksFieldsAndEntities) {
    EXPECT_EQ(Slides({"<a:p><a:r><a:t>a &amp; b</a:t></a:r><a:br><a:rPr/></a:br><a:r><a:t>c</a:t></a:r>"
                      "<a:fld type=\"slidenum\"><a:t>7</a:t></a:fld></a:p>"}),
              (Lines{"h2:a & b\nc7"}));
}

TEST(PowerPointSlide, SlideWithoutTextGetsItsNumber) {
    // Text whose paragraph never ends does not count.
    EXPECT_EQ(Slides({A("One") + A("body"), "<p:pic/>", A("Three"), "<a:p><a:t>never ended"}),
              (Lines{"h2:One", "body", "^h2:Slide 2", "^h2:Three", "^h2:Slide 4"}));
    EXPECT_EQ(Slides({""}), (Lines{"h2:Slide 1"}));
}

TEST(PowerPointSlide, FallbackCopyIsNotReadTwice) {
    EXPECT_EQ(Slides({"<mc:AlternateContent><mc:Choice Requires=\"a14\">" + A("eq") + "</mc:Choice><mc:Fallback>" + A("eq") +
                      "</mc:Fallback></mc:AlternateContent>" + A("after")}),
              (Lines{"h2:eq", "after"}));
}

TEST(PowerPointSlides, OrderComesFromThePresentationPart) {
    std::string relationships = "<Relationships><Relationship Id=\"rId1\" Target=\"slideMasters/slideMaster1.xml\"/>"
                                "<Relationship Id=\"rId2\" Type=\"slide\" Target=\"slides/slide1.xml\"/>"
                                "<Relationship Id=\"rId3\" Target=\"slides/slide2.xml\"/>"
                                "<Relationship Id=\"rId4\" Target=\"/ppt/slides/slide3.xml\"/>"
                                "<Relationship Id=\"rId5\" Target=\"slides/slide1.xml\"/></Relationships>";
    // Unknown ids are passed over; a slide listed again is read once.
    std::string presentation = "<p:presentation><p:sldMasterIdLst><p:sldMasterId r:id=\"rId1\"/></p:sldMasterIdLst>"
                               "<p:sldIdLst><p:sldId id=\"258\" r:id=\"rId4\"/><p:sldId id=\"256\" r:id=\"rId2\"/>"
                               "<p:sldId id=\"259\" r:id=\"rId9\"/><p:sldId id=\"257\" r:id=\"rId3\"/>"
                               "<p:sldId id=\"260\" r:id=\"rId5\"/></p:sldIdLst></p:presentation>";
    EXPECT_EQ(ListSlides(presentation, relationships),
              (Lines{"ppt/slides/slide3.xml", "ppt/slides/slide1.xml", "ppt/slides/slide2.xml"}));
    EXPECT_TRUE(ListSlides(presentation, "").empty());
    EXPECT_TRUE(ListSlides("", relationships).empty());
}
