#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/package_builder.h"
#include "support/test_support.h"

using testing_support::DataPath;
using testing_support::PackageArchive;
using testing_support::PackageParts;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using testing_support::Rows;
using testing_support::TempDir;
using testing_support::Texts;
using testing_support::WritePackage;

namespace {

const std::string kContainer =
    R"(<?xml version="1.0"?><container><rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>)";

// A package document with the given manifest items and spine idrefs.
std::string Package(const std::vector<std::pair<std::string, std::string>>& items, const std::vector<std::string>& spine,
                    const std::string& title = "  Die &amp; Welt\n") {
    std::string opf = R"(<?xml version="1.0"?><package><metadata><dc:title id="t">)" + title +
                      "</dc:title><dc:title>Second title</dc:title></metadata><manifest>";
    for (const auto& [id, href] : items) opf += "<item id=\"" + id + "\" href=\"" + href + "\" media-type=\"application/xhtml+xml\"/>";
    opf += "</manifest><spine>";
    for (const auto& idref : spine) opf += "<itemref idref=\"" + idref + "\"/>";
    return opf + "</spine></package>";
}

std::string Chapter(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><head><title>Chapter</title></head><body>" + body +
           "</body></html>";
}

std::string ErrorOf(const PackageParts& parts) {
    return testing_support::ErrorOf([&] { ReadEpubArchive(PackageArchive(parts)); });
}

}  // namespace

TEST(EpubReader, SpineOrderWithPageBreaksBetweenChapters) {
    Document document = ReadEpubArchive(PackageArchive({
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml", kContainer},
        {"OEBPS/content.opf", Package({{"c3", "c3.xhtml"}, {"c1", "c1.xhtml"}, {"c2", "c2.xhtml"}}, {"c1", "c2", "c3"})},
        {"OEBPS/c1.xhtml", Chapter("<h1>One</h1><p>First text</p>")},
        {"OEBPS/c2.xhtml", Chapter("<p>Second</p>")},
        {"OEBPS/c3.xhtml", Chapter("<h2>Three</h2>")},
    }));
    EXPECT_EQ(Texts(document), (std::vector<std::string>{"One", "First text", "Second", "Three"}));
    EXPECT_FALSE(document.blocks[0].breakBefore);
    EXPECT_FALSE(document.blocks[1].breakBefore);
    EXPECT_TRUE(document.blocks[2].breakBefore);
    EXPECT_TRUE(document.blocks[3].breakBefore);
    EXPECT_EQ(document.blocks[3].level, 2);
    // The first dc:title, trimmed, with its entities decoded.
    EXPECT_EQ(document.title, u"Die & Welt");
}

TEST(EpubReader, HrefsArePercentDecodedAndResolved) {
    Document document = ReadEpubArchive(PackageArchive({
        {"META-INF/container.xml", kContainer},
        {"OEBPS/content.opf",
         Package({{"a", "Text/my%20chapter.xhtml#start"}, {"b", "./Text/../Text/sub/./b.xhtml"}, {"c", "../Shared/c.xhtml"}},
                 {"a", "b", "c"})},
        {"OEBPS/Text/my chapter.xhtml", Chapter("<p>spaced</p>")},
        {"OEBPS/Text/sub/b.xhtml", Chapter("<p>dotted</p>")},
        {"Shared/c.xhtml", Chapter("<p>above</p>")},
    }));
    EXPECT_EQ(Texts(document), (std::vector<std::string>{"spaced", "dotted", "above"}));
}

TEST(EpubReader, UnknownIdsMissingEntriesAndChaptersWithoutTextAreSkipped) {
    Document document = ReadEpubArchive(PackageArchive({
        {"META-INF/container.xml", kContainer},
        {"OEBPS/content.opf", Package({{"cover", "cover.xhtml"}, {"gone", "gone.xhtml"}, {"text", "text.xhtml"}},
                                      {"nosuchid", "cover", "gone", "text"})},
        {"OEBPS/cover.xhtml", Chapter("<div><img src=\"cover.jpg\"/></div>")},
        {"OEBPS/text.xhtml", Chapter("<p>Only text</p><table><tr><td>cell</td></tr></table>")},
    }));
    EXPECT_EQ(Texts(document), std::vector<std::string>{"Only text"});
    EXPECT_FALSE(document.blocks[0].breakBefore);  // nothing came before it
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"cell"}}));
}

TEST(EpubReader, SpineCannotLeaveThePackageRepeatOrReadItself) {
    // Outside the package, the package document itself, and one chapter listed three times.
    Document document = ReadEpubArchive(PackageArchive({
        {"META-INF/container.xml", kContainer},
        {"OEBPS/content.opf", Package({{"up", "../../../../etc/passwd"}, {"self", "content.opf"}, {"ch", "ch.xhtml"}},
                                      {"up", "self", "ch", "ch", "ch"})},
        {"OEBPS/ch.xhtml", Chapter("<p>once</p>")},
    }));
    EXPECT_EQ(Texts(document), std::vector<std::string>{"once"});
    EXPECT_EQ(ErrorOf({{"META-INF/container.xml", kContainer},
                       {"OEBPS/content.opf", Package({{"self", "content.opf"}, {"up", "../../x"}}, {"self", "up"})}}),
              "This EPUB book has no readable text");
}

TEST(EpubReader, MissingPartsHaveTheirOwnMessages) {
    EXPECT_EQ(ErrorOf({{"mimetype", "application/epub+zip"}}), "This doesn't look like an EPUB book");
    EXPECT_EQ(ErrorOf({{"META-INF/container.xml", kContainer}}), "This EPUB book is damaged");
    EXPECT_EQ(ErrorOf({{"META-INF/container.xml", "<container/>"}}), "This EPUB book is damaged");
    EXPECT_EQ(ErrorOf({{"META-INF/container.xml", kContainer},
                       {"OEBPS/content.opf", Package({{"c", "c.xhtml"}}, {"c"})},
                       {"OEBPS/c.xhtml", Chapter("<p> </p><script>hidden()</script>")}}),
              "This EPUB book has no readable text");
}

TEST(EpubReader, ReadWebOpensBooksAndAnEmptyTitleBecomesTheStem) {
    TempDir dir;
    WritePackage(dir.File("novel.epub"), {{"META-INF/container.xml", kContainer},
                                          {"OEBPS/content.opf", Package({{"c", "c.xhtml"}}, {"c"}, "")},
                                          {"OEBPS/c.xhtml", Chapter("<p>Hello</p>")}});
    EXPECT_EQ(Texts(ReadWeb(dir.File("novel.epub"), "epub")), std::vector<std::string>{"Hello"});
    ConvertContext context;
    EXPECT_EQ(ReadDocument(dir.File("novel.epub"), context).title, u"novel");
    testing_support::WriteFile(dir.File("fake.epub"), "not a zip at all, just some text");
    EXPECT_THROW(ReadEpub(dir.File("fake.epub")), ConvertError);
}

TEST(EpubReader, PandocBookReadsIntoChaptersAndATable) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    testing_support::WriteFile(dir.File("book.md"), "---\ntitle: Grüße aus Köln\n---\n\n# Erstes Kapitel\n\nText mit äöü.\n\n"
                                                    "- Punkt eins\n- Punkt zwei\n\n# Zweites Kapitel\n\n"
                                                    "| A | B |\n|---|---|\n| 1 | ß |\n");
    auto result = RunCommand("pandoc " + ShellQuote(dir.File("book.md")) + " -o " + ShellQuote(dir.File("book.epub")));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    Document document = ReadEpub(dir.File("book.epub"));
    EXPECT_EQ(document.title, u"Gr\u00fc\u00dfe aus K\u00f6ln");
    std::vector<Block> blocks;
    for (const auto& block : document.blocks) blocks.push_back(block);
    auto find = [&](std::u16string_view text) -> const Block* {
        for (const auto& block : blocks)
            if (block.text == text) return &block;
        return nullptr;
    };
    const Block* first = find(u"Erstes Kapitel");
    const Block* second = find(u"Zweites Kapitel");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->level, 1);
    EXPECT_TRUE(second->breakBefore);  // each chapter is its own spine document
    ASSERT_TRUE(find(u"Text mit \u00e4\u00f6\u00fc."));
    ASSERT_TRUE(find(u"Punkt zwei"));
    EXPECT_TRUE(find(u"Punkt zwei")->listItem);
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"A", u"B"}, {u"1", u"\u00df"}}));
}

// Every paragraph of prose that we read from the corpus books is in pandoc's reading
// too (headings and lists differ: pandoc leaves out the books' navigation documents).
TEST(EpubReader, CorpusBooksMatchPandocPlainText) {
    REQUIRE_TOOL("pandoc");
    for (const char* name : {"epub2_cover", "epub2_picture", "formatting", "img_no_cover"}) {
        std::string path = DataPath(std::string("corpus/documents/epub/epub-") + name + ".epub");
        auto plain = RunCommand("pandoc --wrap=none -t plain " + ShellQuote(path));
        ASSERT_EQ(plain.exitCode, 0) << plain.output;
        Document document = ReadEpub(path);
        ASSERT_FALSE(document.blocks.empty()) << name;
        for (const auto& block : document.blocks) {
            std::string text = WideToUtf8(block.text);
            if (block.level != 0 || block.listItem || text.find('\n') != std::string::npos) continue;
            EXPECT_NE(plain.output.find(text), std::string::npos) << name << ": " << text;
        }
    }
}
