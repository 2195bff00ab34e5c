#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/test_support.h"

using testing_support::Rows;
using testing_support::Texts;
using Lines = std::vector<std::string>;

namespace {

Document Html(std::string_view html) {
    Document document;
    ReadHtmlInto(html, document);
    return document;
}

}  // namespace

TEST(HtmlReader, HeadScriptsAndStylesNeverReachTheDocument) {
    Document document = Html("<html><head><title>Page title</title><style>p{color:red}</style></head>"
                             "<body><script>var x = 1;</script><p>Visible</p><noscript>no</noscript>"
                             "<template><p>later</p></template><svg><text>drawn</text></svg></body></html>");
    EXPECT_EQ(Texts(document), Lines{"Visible"});
    EXPECT_TRUE(document.title.empty());
    // The head's end tag is optional in HTML: the body start closes it.
    EXPECT_EQ(Texts(Html("<head><title>T</title><body><p>Text</p>")), Lines{"Text"});
}

TEST(HtmlReader, HeadingsAndListItemsLastUntilTheirEndTag) {
    Document document = Html("<h1>One</h1><H4>Four</H4><ul><li>First</li><li><p>Second</p></li></ul>loose<p>After</p>");
    EXPECT_EQ(Texts(document), (Lines{"One", "Four", "First", "Second", "loose", "After"}));
    std::vector<std::pair<int32_t, bool>> kinds;
    for (const auto& block : document.blocks) kinds.emplace_back(block.level, block.listItem);
    EXPECT_EQ(kinds, (std::vector<std::pair<int32_t, bool>>{{1, false}, {3, false}, {0, true}, {0, true}, {0, false}, {0, false}}));
}

TEST(HtmlReader, WhiteSpaceCollapsesAndBreaksAreLineFeeds) {
    EXPECT_EQ(Texts(Html("<p>  one\n\t two  <b>bold</b>\r\n three <br>\n  four&nbsp;&amp; five </p><div><p> </p></div>")),
              Lines{"one two bold three \nfour\u00a0& five"});
}

TEST(HtmlReader, PreKeepsSpacesAndLinesButNoCarriageReturns) {
    EXPECT_EQ(Texts(Html("<p>before</p><pre>\r\n  indented\r\n\tline  two\n</pre><p>after</p>")),
              (Lines{"before", "  indented\n\tline  two\n", "after"}));
}

TEST(HtmlReader, TablesBecomeTables) {
    Document document = Html("<p>Intro</p><table><caption>lost</caption>"
                             "<tr><th>Name</th><th> Age </th></tr> stray "
                             "<tr><td>Ann<br>Lee</td><td></td></tr></table><p>Outro</p>");
    EXPECT_EQ(Texts(document), (Lines{"Intro", "Outro"}));
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"Name", u"Age"}, {u"Ann\nLee", u""}}));
    // Nested tables join the outer one; cells and tables left open keep their text.
    EXPECT_EQ(Html("<table><tr><td>a</td><td><table><tr><td>x</td></tr></table></td></tr></table>").tables.at(0).rows,
              (Rows{{u"a", u""}, {u"x"}}));
    EXPECT_EQ(Html("<table><tr><td>one<td>two<tr><td>three").tables.at(0).rows, (Rows{{u"one", u"two"}, {u"three"}}));
    EXPECT_TRUE(Html("<table>text only</table>").tables.empty());
}

TEST(HtmlReader, ReadWebDecodesPagesFirst) {
    testing_support::TempDir dir;
    // A Windows-1252 page (0xE9 is not UTF-8).
    testing_support::WriteFile(dir.File("page.htm"), "<p>caf\xE9</p><!-- <p>hidden</p>");
    EXPECT_EQ(Texts(ReadWeb(dir.File("page.htm"), "htm")), Lines{"caf\u00e9"});
}
