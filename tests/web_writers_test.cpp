// HTML, Markdown, plain text and EPUB: the exact markup, pandoc's reading and the EPUB package.
#include <gtest/gtest.h>

#include <ctime>
#include <iomanip>
#include <regex>

#include "convert/documents/html_body.h"
#include "convert/documents/writers.h"
#include "platform/system_services.h"
#include "support/document_support.h"
#include "support/package_checks.h"

using namespace testing_support;

TEST(HtmlWriter, BodyAndPageTemplate) {
    EXPECT_EQ(HtmlInline(u"a<b>&\"c\" it's\td\ne\u0001\uFFFF"), "a&lt;b&gt;&amp;&quot;c&quot; it's&#8195;d<br/>e");
    // A rule may not stand inside a list; empty paragraphs are left out, empty headings kept.
    EXPECT_EQ(HtmlBody(Doc({{u"Intro"}, {u"a", 0, true}, {u"b", 0, true, true}, {u""}, {u"", 1}, {u"Deep", 7}})),
              "<p>Intro</p>\n<ul>\n<li>a</li>\n</ul>\n<hr/>\n<ul>\n<li>b</li>\n</ul>\n"
              "<h1 id=\"p4\"></h1>\n<h3 id=\"p5\">Deep</h3>\n");
    EXPECT_EQ(HtmlBody(Doc({{u"if (a < b)\n\treturn;"}, {u""}, {u"Title", 1}},
                           {{u"One", {{u"h1", u"h2"}, {u"y\nz"}}}, {u"A&B", {}}}, true)),
              "<pre>if (a &lt; b)\n\treturn;\n\nTitle\n</pre>\n<h2>One</h2>\n<table>\n<tr><th>h1</th><th>h2</th></tr>\n"
              "<tr><td>y<br/>z</td></tr>\n</table>\n<h2>A&amp;B</h2>\n<table>\n</table>\n");
    EXPECT_EQ(Written(WriteHtml, Document{u"Q&A <draft>", {{u"Hello"}}, {}}),
              "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta http-equiv=\""
              "Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n<meta name="
              "\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Q&amp;A &lt;draft&gt;</title>\n"
              "<style>\n" + std::string(kDocumentCss) + "</style>\n</head>\n<body>\n<p>Hello</p>\n</body>\n</html>\n");
}

TEST(MarkdownWriter, EscapesBlockStartersAndFencesPreformattedText) {
    REQUIRE_TOOL("pandoc");
    EXPECT_EQ(Written(WriteMarkdown, Doc({{u"#hash"}, {u"1. a number stays"}, {u"# Heading *raw*", 2},
                                          {u"-dash", 0, true}, {u"next page", 0, true, true}, {u"after list"},
                                          {u"", 0, false, true}, {u"line one\n> quoted"}, {u"clamped", 12}},
                                         {{u"Sheet 1", {{u"a|b", u"c"}, {u"two\nlines"}}}, {u"Empty", {{}, {}}}})),
              "\\#hash\n\n1. a number stays\n\n## # Heading *raw*\n\n- \\-dash\n\n---\n\n- next page\n\n"
              "after list\n\n---\n\nline one  \n\\> quoted\n\n###### clamped\n\n"
              "## Sheet 1\n\n| a\\|b | c |\n| --- | --- |\n| two lines |  |\n\n");
    // The fence is longer than any run of backquotes opening a line, so the text cannot end it.
    TempDir folder;
    WriteFile(folder.File("code.md"), WriteMarkdown(Doc({{u"# not a heading"}, {u"```"}, {u"  ````"}, {u"\tend"}}, {}, true)));
    EXPECT_EQ(RunCommand("pandoc -t plain " + ShellQuote(folder.File("code.md"))).output,
              "    # not a heading\n    ```\n      ````\n        end\n");
}

TEST(TextWriter, LinesBulletsBreaksAndTables) {
    EXPECT_EQ(Written(WriteText, Doc({{u"Title", 1}, {u"item", 0, true}, {u"two\nlines"}, {u""},
                                      {u"on", 0, false, true}},
                                     {{u"First", {{u"a", u"b"}, {u"c\nd"}}}, {u"Second", {{u"e"}}}})),
              "Title\r\n\xE2\x80\xA2 item\r\ntwo\r\nlines\r\n\r\n\r\non\r\nFirst\r\na\tb\r\nc d\r\n\r\n"
              "Second\r\ne\r\n\r\n");
    EXPECT_EQ(Written(WriteText, Doc({}, {{u"Unnamed when alone", {{u"x"}}}})), "x\r\n\r\n");
}

TEST(WebWriters, PandocReadsTheSameBlocksFromHtmlMarkdownAndEpub) {
    REQUIRE_TOOL("pandoc");
    Document document = Sampler();
    // Markdown leaves inline markup as it is and has six heading levels.
    document.blocks[1].text = u"Intro & \"q\" 'a' caf\u00e9 \u20ac \U0001F600 x";
    document.blocks[8].level = 3;
    TempDir folder;
    WriteFile(folder.File("out.html"), WriteHtml(document));
    WriteFile(folder.File("out.md"), WriteMarkdown(document));
    WriteFile(folder.File("out.epub"), WriteEpub(document));
    std::string blocks = "H1 Main title\nP Intro & \"q\" 'a' caf\u00e9 \u20ac \U0001F600 x\nH2 Second\n"
                         "P first line\\nsecond line\nLI item one\n<HorizontalRule>\nLI item two\nH3 Third\n"
                         "H3 Too deep\n<HorizontalRule>\nP after the break\nROW Name|Qty\nROW pear|3\nROW fig|\n";
    EXPECT_EQ(PandocBlocks(folder.File("out.md")), blocks);
    EXPECT_EQ(PandocBlocks(folder.File("out.html")), "TITLE Sampler\n" + blocks);
    EXPECT_EQ(PandocBlocks(folder.File("out.epub")), "TITLE Sampler\n" + blocks);
}

TEST(EpubWriter, StoredPackageWithRandomIdentifierTimeAndNavigation) {
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("a.epub"), untitled = folder.File("b.epub");
    WriteFile(path, WriteEpub(Sampler()));
    WriteFile(untitled, WriteEpub(Doc({{u"just text"}, {u"", 2}})));
    EXPECT_EQ(EntryNames(path), (std::vector<std::string>{"mimetype", "META-INF/container.xml", "OEBPS/content.opf",
                                                          "OEBPS/nav.xhtml", "OEBPS/text.xhtml"}));
    EXPECT_EQ(EntryData(path, "mimetype"), "application/epub+zip");
    EXPECT_EQ(PackageProblems(path) + PackageProblems(untitled), "");

    std::string opf = EntryData(path, "OEBPS/content.opf");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(opf, match,
                                  std::regex("<dc:identifier id=\"id\">urn:uuid:([0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                             "[89ab][0-9a-f]{3}-[0-9a-f]{12})</dc:identifier><dc:title>Sampler</dc:"
                                             "title><dc:language>en</dc:language><meta property=\"dcterms:modified\">"
                                             "([^<]*)Z</meta>")))
        << opf;
    std::tm written{};
    std::istringstream(match[2]) >> std::get_time(&written, "%Y-%m-%dT%H:%M:%S");
    EXPECT_LE(std::abs(timegm(&written) - std::time(nullptr)), 60) << match[2] << " is not the current UTC time";
    uint8_t ones[16];
    std::fill(std::begin(ones), std::end(ones), uint8_t{0xFF});
    EXPECT_EQ(FormatUuidV4(ones), "ffffffff-ffff-4fff-bfff-ffffffffffff");  // version and variant bits
    // Another book, another identifier; without a title it is "Untitled", and without
    // headings (empty ones do not count) its navigation links the only chapter.
    EXPECT_EQ(EntryData(untitled, "OEBPS/content.opf").find(match[1]), std::string::npos);
    EXPECT_NE(EntryData(untitled, "OEBPS/content.opf").find("<dc:title>Untitled</dc:title>"), std::string::npos);
    EXPECT_NE(EntryData(untitled, "OEBPS/nav.xhtml")
                  .find("<title>Untitled</title></head><body><nav epub:type=\"toc\"><h1>Untitled</h1>"
                        "<ol><li><a href=\"text.xhtml\">Untitled</a></li></ol>"),
              std::string::npos);
    EXPECT_NE(EntryData(path, "OEBPS/nav.xhtml")
                  .find("<ol><li><a href=\"text.xhtml#p0\">Main title</a></li><li><a href=\"text.xhtml#p2\">Second"
                        "</a></li><li><a href=\"text.xhtml#p7\">Third</a></li><li><a href=\"text.xhtml#p8\">Too deep"
                        "</a></li></ol>"),
              std::string::npos);
}
