#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/html_body.h"
#include "convert/documents/writers.h"
#include "platform/system_services.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

Block Para(std::u16string text, int32_t level = 0, bool listItem = false, bool breakBefore = false) {
    return Block{std::move(text), level, listItem, breakBefore};
}

Table MakeTable(std::u16string name, std::vector<std::vector<std::u16string>> rows) {
    return Table{std::move(name), std::move(rows)};
}

// A document with every kind of block the writers tell apart.
Document Sampler() {
    Document document;
    document.title = u"Sampler";
    document.blocks = {Para(u"Intro paragraph"),
                       Para(u"Second heading", 2),
                       Para(u"apple", 0, true),
                       Para(u"banana", 0, true),
                       Para(u"cherry", 0, true, true),
                       Para(u"After the list"),
                       Para(u""),
                       Para(u"Part two", 1, false, true),
                       Para(u"Deep heading", 3),
                       Para(u"first line\nsecond line")};
    document.tables.push_back(MakeTable(u"", {{u"Name", u"Qty"}, {u"pear", u"3"}, {u"fig", u"12"}}));
    return document;
}

std::string Pandoc(const std::string& path, const std::string& from, const std::string& to) {
    CommandResult result = RunCommand("pandoc -f " + from + " -t " + to + " " + ShellQuote(path));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.output;
}

// One entry of a package, extracted by an independent reader.
std::string ReadZipEntry(const std::string& epub, const std::string& name) {
    CommandResult result = RunCommand("unzip -p " + ShellQuote(epub) + " " + ShellQuote(name) + " 2>/dev/null");
    EXPECT_EQ(result.exitCode, 0) << name;
    return result.output;
}

}  // namespace

TEST(HtmlInline, EscapesMarkupAndShowsBreaksAndTabs) {
    EXPECT_EQ(HtmlInline(u"a<b>&\"c\" it's\td\ne\u0001\uFFFF"),
              "a&lt;b&gt;&amp;&quot;c&quot; it's&#8195;d<br/>e");
}

TEST(HtmlBody, BlocksBecomeHeadingsListsAndParagraphs) {
    Document document;
    document.blocks = {Para(u"Intro"),
                       Para(u"Second", 2),
                       Para(u"a", 0, true),
                       Para(u"b", 0, true),
                       Para(u"after"),
                       Para(u""),  // empty body paragraphs are skipped
                       Para(u"", 1),  // an empty heading is kept
                       Para(u"Broken", 0, false, true),
                       Para(u"Deepest", 7),
                       Para(u"c", 0, true),
                       Para(u"d", 0, true, true)};
    EXPECT_EQ(HtmlBody(document),
              "<p>Intro</p>\n"
              "<h2 id=\"p1\">Second</h2>\n"
              "<ul>\n<li>a</li>\n<li>b</li>\n</ul>\n"
              "<p>after</p>\n"
              "<h1 id=\"p6\"></h1>\n"
              "<hr/>\n<p>Broken</p>\n"
              "<h3 id=\"p8\">Deepest</h3>\n"
              "<ul>\n<li>c</li>\n</ul>\n"
              "<hr/>\n<ul>\n<li>d</li>\n</ul>\n");
}

TEST(HtmlBody, PreformattedDocumentsAndTables) {
    Document document;
    document.preformatted = true;
    document.blocks = {Para(u"if (a < b)\n\treturn;"), Para(u""), Para(u"Title", 1)};
    document.tables.push_back(MakeTable(u"One", {{u"h1", u"h2"}, {u"x"}, {u"y\nz", u"w", u"extra"}}));
    document.tables.push_back(MakeTable(u"A&B", {}));
    EXPECT_EQ(HtmlBody(document),
              "<pre>if (a &lt; b)\n\treturn;\n\nTitle\n</pre>\n"
              "<h2>One</h2>\n<table>\n"
              "<tr><th>h1</th><th>h2</th></tr>\n"
              "<tr><td>x</td></tr>\n"
              "<tr><td>y<br/>z</td><td>w</td><td>extra</td></tr>\n"
              "</table>\n"
              "<h2>A&amp;B</h2>\n<table>\n</table>\n");
}

TEST(HtmlWriter, PageTemplateAroundTheBody) {
    TempDir dir;
    Document document;
    document.title = u"Q&A <draft>";
    document.blocks = {Para(u"Hello")};
    WriteHtml(document, dir.File("page.html"));
    std::string page = ReadFile(dir.File("page.html"));
    EXPECT_EQ(page.rfind("<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                         "style-src 'unsafe-inline'\">\n<meta name=\"viewport\" content=\"width=device-width, "
                         "initial-scale=1\">\n<title>Q&amp;A &lt;draft&gt;</title>\n<style>\n",
                         0),
              0u);
    EXPECT_NE(page.find(std::string("\n<style>\n") + std::string(kDocumentCss) + "</style>\n</head>\n<body>\n"
                        "<p>Hello</p>\n</body>\n</html>\n"),
              std::string::npos);
}

TEST(MarkdownWriter, BlocksEscapesAndTables) {
    TempDir dir;
    Document document;
    document.blocks = {Para(u"#hash is not a heading"),
                       Para(u"1. a number stays"),
                       Para(u"# Heading *raw*", 2),
                       Para(u"-dash", 0, true),
                       Para(u"plain", 0, true),
                       Para(u"next page", 0, true, true),
                       Para(u"after list"),
                       Para(u"", 0, false, true),
                       Para(u"line one\n> quoted"),
                       Para(u"clamped", 12)};
    document.tables.push_back(MakeTable(u"Sheet 1", {{u"a|b", u"c"}, {u"two\nlines"}}));
    document.tables.push_back(MakeTable(u"Empty", {{}, {}}));
    document.tables.push_back(MakeTable(u"Last", {{u"z"}}));
    WriteMarkdown(document, dir.File("out.md"));
    EXPECT_EQ(ReadFile(dir.File("out.md")),
              "\\#hash is not a heading\n\n"
              "1. a number stays\n\n"
              "## # Heading *raw*\n\n"
              "- \\-dash\n"
              "- plain\n\n"
              "---\n\n"
              "- next page\n\n"
              "after list\n\n"
              "---\n\n"
              "line one  \n\\> quoted\n\n"
              "###### clamped\n\n"
              "## Sheet 1\n\n"
              "| a\\|b | c |\n| --- | --- |\n| two lines |  |\n\n"
              "## Last\n\n"
              "| z |\n| --- |\n\n");
}

TEST(MarkdownWriter, PreformattedTextIsFencedSoThatItCannotEscape) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    Document document;
    document.preformatted = true;
    document.blocks = {Para(u"# not a heading"), Para(u"```"), Para(u"  ````  inner"), Para(u"\tend")};
    WriteMarkdown(document, dir.File("code.md"));
    std::string markdown = ReadFile(dir.File("code.md"));
    EXPECT_EQ(markdown.rfind("`````\n# not a heading\n", 0), 0u) << markdown;
    EXPECT_EQ(Pandoc(dir.File("code.md"), "markdown", "plain"), "    # not a heading\n    ```\n      ````  inner\n        end\n");
}

TEST(TextWriter, LinesBulletsBreaksAndTables) {
    TempDir dir;
    Document document;
    document.blocks = {Para(u"Title", 1), Para(u"item", 0, true), Para(u"two\nlines"), Para(u""),
                       Para(u"after break", 0, false, true)};
    document.tables.push_back(MakeTable(u"First", {{u"a", u"b"}, {u"c\nd"}}));
    document.tables.push_back(MakeTable(u"Second", {{u"e"}}));
    WriteText(document, dir.File("out.txt"));
    EXPECT_EQ(ReadFile(dir.File("out.txt")),
              "Title\r\n\xE2\x80\xA2 item\r\ntwo\r\nlines\r\n\r\n\r\nafter break\r\n"
              "First\r\na\tb\r\nc d\r\n\r\n"
              "Second\r\ne\r\n\r\n");

    Document single;
    single.tables.push_back(MakeTable(u"Ignored", {{u"x"}}));
    WriteText(single, dir.File("single.txt"));
    EXPECT_EQ(ReadFile(dir.File("single.txt")), "x\r\n\r\n");
}

TEST(WebWriters, NeverReplaceAnExistingFile) {
    TempDir dir;
    Document document = Sampler();
    using Writer = void (*)(const Document&, const std::string&);
    for (Writer writer : {Writer(WriteHtml), Writer(WriteEpub), Writer(WriteMarkdown), Writer(WriteText)}) {
        WriteFile(dir.File("taken"), "mine");
        try {
            writer(document, dir.File("taken"));
            ADD_FAILURE() << "an existing file was replaced";
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.message, "Couldn't create the output file");
        }
        EXPECT_EQ(ReadFile(dir.File("taken")), "mine");
    }
}

TEST(WebWriters, PandocReadsTheSameBlocksFromHtmlAndMarkdown) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    Document document = Sampler();
    WriteHtml(document, dir.File("sampler.html"));
    WriteMarkdown(document, dir.File("sampler.md"));
    std::string fromHtml = Pandoc(dir.File("sampler.html"), "html", "gfm");
    std::string fromMarkdown = Pandoc(dir.File("sampler.md"), "markdown", "gfm");
    EXPECT_EQ(fromHtml, fromMarkdown);
    EXPECT_EQ(fromMarkdown,
              "Intro paragraph\n\n"
              "## Second heading\n\n"
              "-   apple\n-   banana\n\n"
              "------------------------------------------------------------------------\n\n"
              "-   cherry\n\n"
              "After the list\n\n"
              "------------------------------------------------------------------------\n\n"
              "# Part two\n\n"
              "### Deep heading\n\n"
              "first line  \nsecond line\n\n"
              "| Name | Qty |\n|------|-----|\n| pear | 3   |\n| fig  | 12  |\n");
}

TEST(EpubWriter, PackageIsAValidStoredZipWithWellFormedParts) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    TempDir dir;
    Document document = Sampler();
    document.blocks.push_back(Para(u"Odd \uFFFE char & <tag>"));
    WriteEpub(document, dir.File("book.epub"));
    std::string epub = ReadFile(dir.File("book.epub"));
    // The first local header is "mimetype", stored (method 0), its bytes uncompressed.
    ASSERT_GT(epub.size(), 58u);
    EXPECT_EQ(epub.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(epub[8], '\0');
    EXPECT_EQ(epub.substr(30, 28), "mimetypeapplication/epub+zip");

    CommandResult test = RunCommand("unzip -t " + ShellQuote(dir.File("book.epub")));
    EXPECT_EQ(test.exitCode, 0) << test.output;
    CommandResult names = RunCommand("unzip -Z1 " + ShellQuote(dir.File("book.epub")));
    EXPECT_EQ(names.output, "mimetype\nMETA-INF/container.xml\nOEBPS/content.opf\nOEBPS/nav.xhtml\nOEBPS/text.xhtml\n");

    for (const char* part : {"META-INF/container.xml", "OEBPS/content.opf", "OEBPS/nav.xhtml", "OEBPS/text.xhtml"}) {
        std::string file = dir.File(std::string(part).substr(std::string(part).find('/') + 1));
        WriteFile(file, ReadZipEntry(dir.File("book.epub"), part));
        CommandResult lint = RunCommand("xmllint --noout " + ShellQuote(file));
        EXPECT_EQ(lint.exitCode, 0) << part << ": " << lint.output;
        EXPECT_EQ(ReadFile(file).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u) << part;
    }
}

TEST(EpubWriter, IdentifierModificationTimeAndNavigation) {
    REQUIRE_TOOL("unzip");
    TempDir dir;
    Document document = Sampler();
    WriteEpub(document, dir.File("a.epub"));
    WriteEpub(document, dir.File("b.epub"));
    std::string opf = ReadZipEntry(dir.File("a.epub"), "OEBPS/content.opf");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(opf, match,
                                  std::regex("<dc:identifier id=\"id\">urn:uuid:([0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                             "[89ab][0-9a-f]{3}-[0-9a-f]{12})</dc:identifier>")))
        << opf;
    std::string first = match[1];
    std::string other = ReadZipEntry(dir.File("b.epub"), "OEBPS/content.opf");
    EXPECT_EQ(other.find(first), std::string::npos) << "two books share an identifier";

    ASSERT_TRUE(std::regex_search(opf, match,
                                  std::regex("<meta property=\"dcterms:modified\">(\\d{4})-(\\d\\d)-(\\d\\d)T"
                                             "(\\d\\d):(\\d\\d):(\\d\\d)Z</meta>")));
    std::tm written{};
    written.tm_year = std::stoi(match[1]) - 1900;
    written.tm_mon = std::stoi(match[2]) - 1;
    written.tm_mday = std::stoi(match[3]);
    written.tm_hour = std::stoi(match[4]);
    written.tm_min = std::stoi(match[5]);
    written.tm_sec = std::stoi(match[6]);
    EXPECT_LE(std::abs(static_cast<long>(timegm(&written) - std::time(nullptr))), 60) << "not the current UTC time";
    EXPECT_NE(opf.find("<dc:title>Sampler</dc:title><dc:language>en</dc:language>"), std::string::npos);

    // Headings with text, by block index: "Second heading" (1), "Part two" (7), "Deep heading" (8).
    std::string nav = ReadZipEntry(dir.File("a.epub"), "OEBPS/nav.xhtml");
    EXPECT_NE(nav.find("<ol><li><a href=\"text.xhtml#p1\">Second heading</a></li>"
                       "<li><a href=\"text.xhtml#p7\">Part two</a></li>"
                       "<li><a href=\"text.xhtml#p8\">Deep heading</a></li></ol>"),
              std::string::npos)
        << nav;
    std::string text = ReadZipEntry(dir.File("a.epub"), "OEBPS/text.xhtml");
    EXPECT_NE(text.find("<h2 id=\"p1\">Second heading</h2>"), std::string::npos);
    EXPECT_NE(text.find("<head><title>Sampler</title><style>body{font:16px/1.6"), std::string::npos);
}

TEST(EpubWriter, UntitledBookWithoutHeadingsLinksItsOnlyChapter) {
    REQUIRE_TOOL("unzip");
    TempDir dir;
    Document document;
    document.blocks = {Para(u"just text"), Para(u"", 2)};  // an empty heading is not listed
    WriteEpub(document, dir.File("untitled.epub"));
    std::string nav = ReadZipEntry(dir.File("untitled.epub"), "OEBPS/nav.xhtml");
    EXPECT_NE(nav.find("<title>Untitled</title>"), std::string::npos);
    EXPECT_NE(nav.find("<h1>Untitled</h1><ol><li><a href=\"text.xhtml\">Untitled</a></li></ol>"), std::string::npos)
        << nav;
    EXPECT_NE(ReadZipEntry(dir.File("untitled.epub"), "OEBPS/content.opf").find("<dc:title>Untitled</dc:title>"),
              std::string::npos);
    EXPECT_NE(ReadZipEntry(dir.File("untitled.epub"), "OEBPS/text.xhtml").find("<title>Untitled</title>"),
              std::string::npos);
}

TEST(EpubWriter, PandocReadsTheTextBack) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    Document document = Sampler();
    document.blocks.push_back(Para(u"Caf\u00e9 \u2014 \u201cquoted\u201d \u20ac5 \U0001F600"));
    WriteEpub(document, dir.File("book.epub"));
    WriteMarkdown(document, dir.File("book.md"));
    std::string fromEpub = Pandoc(dir.File("book.epub"), "epub", "plain");
    EXPECT_EQ(fromEpub, Pandoc(dir.File("book.md"), "markdown", "plain"));
    EXPECT_NE(fromEpub.find("Caf\u00e9 \u2014 \u201cquoted\u201d \u20ac5 \U0001F600"), std::string::npos) << fromEpub;
    EXPECT_NE(fromEpub.find("Deep heading"), std::string::npos);
}

TEST(SystemServices, UuidTextCarriesVersionAndVariant) {
    uint8_t ones[16];
    std::fill(std::begin(ones), std::end(ones), uint8_t{0xFF});
    EXPECT_EQ(FormatUuidV4(ones), "ffffffff-ffff-4fff-bfff-ffffffffffff");
    uint8_t zeros[16] = {};
    EXPECT_EQ(FormatUuidV4(zeros), "00000000-0000-4000-8000-000000000000");
    ASSERT_TRUE(RandomUuid().has_value());
    EXPECT_NE(*RandomUuid(), *RandomUuid());
}
