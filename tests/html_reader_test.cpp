// Web pages and the EPUB books made of them.
#include <gtest/gtest.h>

#include "support/document_support.h"

using namespace testing_support;

namespace {

Document Html(std::string_view html) {
    Document document;
    ReadHtmlInto(html, document);
    return document;
}

using Parts = std::vector<std::pair<std::string_view, std::string_view>>;
const std::string kContainer = R"(<container><rootfiles><rootfile full-path="OEBPS/content.opf"/></rootfiles></container>)";

// A package document listing the items (id, href) and reading the `spine` ids in order.
std::string Opf(const std::vector<std::pair<std::string, std::string>>& items, const std::vector<std::string>& spine,
                const std::string& title = "") {
    std::string opf = "<package><metadata><dc:title>" + title + "</dc:title><dc:title>Other</dc:title></metadata><manifest>";
    for (const auto& [id, href] : items) opf += "<item id=\"" + id + "\" href=\"" + href + "\"/>";
    opf += "</manifest><spine>";
    for (const auto& id : spine) opf += "<itemref idref=\"" + id + "\"/>";
    return opf + "</spine></package>";
}

std::string EpubError(const Parts& parts) { return ErrorOf([&] { ReadEpubArchive(StoredPackage(parts)); }); }

}  // namespace

TEST(HtmlReader, HeadScriptsStylesAndEmbeddedContentAreSkipped) {
    EXPECT_EQ(Blocks(Html("<html><head><title>Page</title><style>p{}</style></head><body><script>x()</script><p>Seen</p>"
                          "<noscript>no</noscript><template><p>later</p></template><svg><text>drawn</text></svg>")),
              Lines{"Seen"});
    EXPECT_EQ(Blocks(Html("<head><title>T</title><body><p>Text</p>")), Lines{"Text"});  // the body start ends the head
}

TEST(HtmlReader, BlockElementsHeadingsListItemsAndWhiteSpace) {
    EXPECT_EQ(Blocks(Html("<h1>One</h1><H4>Four</H4><ul><li>First</li><li><p>Second</p></li></ul>loose<div>After</div>")),
              (Lines{"<h1>One", "<h3>Four", "<li>First", "<li>Second", "loose", "After"}));
    EXPECT_EQ(Blocks(Html("<p>  one\n\t two  <b>bold</b>\r\n three <br>\n  four&nbsp;&amp; five </p><div><p> </p></div>")),
              Lines{"one two bold three \nfour\u00a0& five"});
    // pre keeps spaces and line feeds, less the one after its start tag, and never a carriage return.
    EXPECT_EQ(Blocks(Html("<p>before</p><pre>\r\n  indented\r\n\tline  two\n</pre><pre>\nnext</pre><p>after</p>")),
              (Lines{"before", "  indented\n\tline  two\n", "next", "after"}));
}

TEST(HtmlReader, TablesBecomeTables) {
    Document document = Html("<p>Intro</p><table><caption>lost</caption><tr><th>Name</th><th> Age </th></tr> stray "
                             "<tr><td>Ann<br>Lee</td><td></td></tr></table><p>Outro</p>");
    EXPECT_EQ(Blocks(document), (Lines{"Intro", "Outro"}));
    EXPECT_EQ(document.tables.at(0).rows, (Rows{{u"Name", u"Age"}, {u"Ann\nLee", u""}}));
    // Nested tables join the outer one; cells and tables left open keep their text.
    EXPECT_EQ(Html("<table><tr><td>a<td><table><tr><td>x</table></table>").tables.at(0).rows, (Rows{{u"a", u""}, {u"x"}}));
    EXPECT_EQ(Html("<table><tr><td>one<td>two<tr><td>three").tables.at(0).rows, (Rows{{u"one", u"two"}, {u"three"}}));
    EXPECT_TRUE(Html("<table>text only</table>").tables.empty());
}

TEST(EpubReader, SpineOrderResolvedHrefsChapterBreaksAndTitle) {
    const std::string opf = Opf({{"c", "../Shared/c.xhtml"}, {"a", "Text/my%20chapter.xhtml#start"}, {"none", "none.xhtml"},
                                 {"b", "./Text/../Text/sub/./b.xhtml"}, {"img", "cover.xhtml"}},
                                {"nosuchid", "img", "a", "none", "b", "c"}, "  Die &amp; Welt\n");
    Document document = ReadEpubArchive(StoredPackage({{"META-INF/container.xml", kContainer},
                                                       {"OEBPS/content.opf", opf},
                                                       {"OEBPS/cover.xhtml", "<div><img src=\"cover.jpg\"/></div>"},
                                                       {"OEBPS/Text/my chapter.xhtml", "<h1>One</h1><p>First</p>"},
                                                       {"OEBPS/Text/sub/b.xhtml", "<h2>Two</h2>"},
                                                       {"Shared/c.xhtml", "<p>Three</p><table><tr><td>cell</td></tr></table>"}}));
    // A chapter without text (the cover) brings no page break.
    EXPECT_EQ(Blocks(document), (Lines{"<h1>One", "First", "<page><h2>Two", "<page>Three"}));
    EXPECT_EQ(document.tables.at(0).rows, (Rows{{u"cell"}}));
    EXPECT_EQ(document.title, u"Die & Welt");  // the first title, trimmed
}

TEST(EpubReader, SpineStaysInThePackageAndMissingPartsAreRefused) {
    const std::string opf = Opf({{"up", "../../../../etc/passwd"}, {"self", "content.opf"}, {"ch", "ch.xhtml"}},
                                {"up", "self", "ch", "ch", "ch"}, "Title");
    Parts parts = {{"META-INF/container.xml", kContainer}, {"OEBPS/content.opf", opf}, {"OEBPS/ch.xhtml", "<p>once</p>"}};
    EXPECT_EQ(Blocks(ReadEpubArchive(StoredPackage(parts))), Lines{"once"});
    parts.pop_back();
    EXPECT_EQ(EpubError(parts), "This EPUB book has no readable text");
    EXPECT_EQ(EpubError({{"mimetype", "application/epub+zip"}}), "This doesn't look like an EPUB book");
    EXPECT_EQ(EpubError({{"META-INF/container.xml", kContainer}}), "This EPUB book is damaged");
    EXPECT_EQ(EpubError({{"META-INF/container.xml", "<container/>"}}), "This EPUB book is damaged");
}
