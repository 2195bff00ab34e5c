#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

Document Html(std::string_view html) {
    Document document;
    ReadHtmlInto(html, document);
    return document;
}

std::vector<std::u16string> Texts(const Document& document) {
    std::vector<std::u16string> texts;
    for (const auto& block : document.blocks) texts.push_back(block.text);
    return texts;
}

using Rows = std::vector<std::vector<std::u16string>>;

}  // namespace

TEST(HtmlReader, HeadScriptsAndStylesNeverReachTheDocument) {
    Document document = Html("<html><head><title>Page title</title><style>p{color:red}</style></head>"
                             "<body><script>var x = 1;</script><p>Visible</p><noscript>no</noscript>"
                             "<template><p>later</p></template><svg><text>drawn</text></svg></body></html>");
    EXPECT_EQ(Texts(document), std::vector<std::u16string>{u"Visible"});
    EXPECT_TRUE(document.title.empty());
}

TEST(HtmlReader, BodyStartClosesAHeadLeftOpen) {
    // The head's end tag is optional in HTML.
    Document document = Html("<head><title>T</title><body><p>Text</p>");
    EXPECT_EQ(Texts(document), std::vector<std::u16string>{u"Text"});
}

TEST(HtmlReader, HeadingsAndListItems) {
    Document document = Html("<h1>One</h1><H4>Four</H4><ul><li>First</li><li><p>Second</p></li></ul><p>After</p>");
    ASSERT_EQ(document.blocks.size(), 5u);
    EXPECT_EQ(document.blocks[0].level, 1);
    EXPECT_EQ(document.blocks[1].text, u"Four");
    EXPECT_EQ(document.blocks[1].level, 3);
    EXPECT_TRUE(document.blocks[2].listItem);
    EXPECT_EQ(document.blocks[2].text, u"First");
    EXPECT_TRUE(document.blocks[3].listItem);
    EXPECT_EQ(document.blocks[3].text, u"Second");
    EXPECT_FALSE(document.blocks[4].listItem);
    EXPECT_EQ(document.blocks[4].level, 0);
}

TEST(HtmlReader, HeadingLevelEndsWithItsElement) {
    Document document = Html("<h2>Title</h2>loose text<div>boxed</div>");
    ASSERT_EQ(document.blocks.size(), 3u);
    EXPECT_EQ(document.blocks[0].level, 2);
    EXPECT_EQ(document.blocks[1].text, u"loose text");
    EXPECT_EQ(document.blocks[1].level, 0);
    EXPECT_EQ(document.blocks[2].level, 0);
}

TEST(HtmlReader, WhiteSpaceCollapsesAndBreaksAreLineFeeds) {
    Document document = Html("<p>  one\n\t two  <b>bold</b>\r\n three <br>\n  four&nbsp;&amp; five </p>");
    EXPECT_EQ(Texts(document), std::vector<std::u16string>{u"one two bold three \nfour\u00a0& five"});
}

TEST(HtmlReader, PreKeepsSpacesAndLinesButNoCarriageReturns) {
    Document document = Html("<p>before</p><pre>\r\n  indented\r\n\tline  two\n</pre><p>after</p>");
    EXPECT_EQ(Texts(document), (std::vector<std::u16string>{u"before", u"  indented\n\tline  two\n", u"after"}));
}

TEST(HtmlReader, EmptyElementsGiveNoBlocks) {
    EXPECT_TRUE(Html("<div><p> </p><p></p></div>").blocks.empty());
}

TEST(HtmlReader, TableWithHeaderAndDataCells) {
    Document document = Html("<p>Intro</p><table><caption>lost</caption>"
                             "<tr><th>Name</th><th> Age </th></tr> stray "
                             "<tr><td>Ann<br>Lee</td><td></td></tr></table><p>Outro</p>");
    EXPECT_EQ(Texts(document), (std::vector<std::u16string>{u"Intro", u"Outro"}));
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_TRUE(document.tables[0].name.empty());
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"Name", u"Age"}, {u"Ann\nLee", u""}}));
}

TEST(HtmlReader, NestedTableCellsJoinTheOuterTable) {
    Document document = Html("<table><tr><td>a</td><td><table><tr><td>x</td></tr></table></td></tr></table>");
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"a", u""}, {u"x"}}));
}

TEST(HtmlReader, UnclosedCellsAndTablesKeepTheirText) {
    Document document = Html("<table><tr><td>one<td>two<tr><td>three");
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"one", u"two"}, {u"three"}}));
}

TEST(HtmlReader, TableWithoutRowsIsDropped) {
    EXPECT_TRUE(Html("<table>text only</table>").tables.empty());
}

TEST(HtmlReader, ReadWebSendsPagesToTheHtmlReader) {
    TempDir dir;
    // A Windows-1252 page (0xE9 is not UTF-8) goes through the text decoder first.
    WriteFile(dir.File("page.htm"), "<p>caf\xE9</p>");
    Document document = ReadWeb(dir.File("page.htm"), "htm");
    EXPECT_EQ(Texts(document), std::vector<std::u16string>{u"caf\u00e9"});
}

TEST(HtmlReader, UnclosedCommentHidesTheRest) {
    EXPECT_EQ(Texts(Html("<p>seen</p><!-- <p>hidden</p>")), std::vector<std::u16string>{u"seen"});
}
