#include <gtest/gtest.h>

#include "convert/documents/odf_writer.h"
#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

std::string Content(const std::string& path) { return EntryData(path, "content.xml"); }

std::string OdfText(std::u16string_view text) {
    std::string out;
    AppendOdfText(out, text);
    return out;
}

// The element names directly inside every list, which may only hold list items.
std::string ListChildren(const std::string& content) {
    TempDir folder;
    WriteFile(folder.File("content.xml"), content);
    return RunCommand("xmllint --xpath \"//*[local-name()='list']/*[local-name()!='list-item']\" " +
                      ShellQuote(folder.File("content.xml")))
        .output;
}

}  // namespace

TEST(OdtWriter, MimetypeComesFirstStoredAndThePackageIsWellFormed) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.odt");
    Document document;
    document.blocks = {Paragraph(u"x")};
    WriteOdt(document, path);
    auto entries = LocalEntries(ReadFile(path));
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "mimetype");
    EXPECT_EQ(entries[0].method, 0);
    EXPECT_EQ(entries[0].extraLength, 0);  // readers sniff the type at a fixed offset
    EXPECT_EQ(entries[0].data, "application/vnd.oasis.opendocument.text");
    EXPECT_EQ(entries[1].name, "META-INF/manifest.xml");
    EXPECT_EQ(entries[2].name, "content.xml");
    for (const auto& entry : entries) EXPECT_EQ(entry.method, 0) << entry.name;
    EXPECT_NE(entries[1].data.find("manifest:full-path=\"/\" "
                                   "manifest:media-type=\"application/vnd.oasis.opendocument.text\""),
              std::string::npos);
    EXPECT_EQ(PackageProblems(path), "");
}

TEST(OdtWriter, PandocReadsBackHeadingsListsAndText) {
    REQUIRE_TOOL("pandoc");
    TempDir folder;
    std::string path = folder.File("out.odt");
    Document document;
    document.blocks = {
        Heading(u"Main title", 1),
        Paragraph(u"Intro <b> & \"q\" caf\u00e9 \u20ac \U0001F600 \U00010348 x"),
        Heading(u"Second", 2),
        Paragraph(u"first line\nsecond line"),
        ListItem(u"item one"),
        ListItem(u"item two"),
        Heading(u"Third", 3),
        Heading(u"Too deep", 7),
        Paragraph(u"end"),
    };
    WriteOdt(document, path);
    CommandResult read = PandocBlocks(path, "odt");
    ASSERT_EQ(read.exitCode, 0) << read.output;
    EXPECT_EQ(read.output,
              "H1 Main title\n"
              "P Intro <b> & \"q\" caf\u00e9 \u20ac \U0001F600 \U00010348 x\n"
              "H2 Second\n"
              "P first line\\nsecond line\n"
              "LI item one\n"
              "LI item two\n"
              "H3 Third\n"
              "H3 Too deep\n"
              "P end\n");
}

TEST(OdtWriter, ConsecutiveListItemsFormOneListClosedBeforeTheParagraph) {
    TempDir folder;
    std::string path = folder.File("out.odt");
    Document document;
    document.blocks = {ListItem(u"a"), ListItem(u"b"), ListItem(u"c"), Paragraph(u"after")};
    WriteOdt(document, path);
    EXPECT_NE(Content(path).find(
                  "<office:text><text:list text:style-name=\"bullets\">"
                  "<text:list-item><text:p text:style-name=\"body\">a</text:p></text:list-item>"
                  "<text:list-item><text:p text:style-name=\"body\">b</text:p></text:list-item>"
                  "<text:list-item><text:p text:style-name=\"body\">c</text:p></text:list-item>"
                  "</text:list><text:p text:style-name=\"body\">after</text:p></office:text>"),
              std::string::npos);
}

TEST(OdtWriter, ListsHoldOnlyListItemsEvenWithHeadingsAndPageBreaks) {
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.odt");
    Block headingItem = Heading(u"heading item", 2);
    headingItem.listItem = true;
    Document document;
    document.blocks = {ListItem(u"a"), headingItem, AfterPageBreak(ListItem(u"after break")), ListItem(u"b")};
    WriteOdt(document, path);
    std::string content = Content(path);
    EXPECT_EQ(XmlProblems(content), "");
    EXPECT_EQ(ListChildren(content), "XPath set is empty\n");
    // The break paragraph sits between two lists.
    EXPECT_NE(content.find("</text:list><text:p text:style-name=\"break\"/><text:list text:style-name=\"bullets\">"
                           "<text:list-item><text:p text:style-name=\"body\">after break</text:p>"),
              std::string::npos);
}

TEST(OdtWriter, SpaceRunsTabsAndLineBreaksBecomeElements) {
    EXPECT_EQ(OdfText(u"a   b"), "a <text:s text:c=\"2\"/>b");
    EXPECT_EQ(OdfText(u"a b"), "a b");
    EXPECT_EQ(OdfText(u"a\tb\nc"), "a<text:tab/>b<text:line-break/>c");
    EXPECT_EQ(OdfText(u"x  "), "x <text:s text:c=\"1\"/>");
    EXPECT_EQ(OdfText(u"<&>\"\u0002'"), "&lt;&amp;&gt;&quot;'");
    EXPECT_EQ(OdfText(u"\U0001F600"), "\xF0\x9F\x98\x80");
    // Leading spaces would be dropped by readers, so indentation is written out whole.
    EXPECT_EQ(OdfText(u"    return;"), "<text:s text:c=\"4\"/>return;");
    EXPECT_EQ(OdfText(u" "), "<text:s text:c=\"1\"/>");
    EXPECT_EQ(OdfText(u""), "");
}

TEST(OdtWriter, PreformattedEmptyAndBreakParagraphs) {
    TempDir folder;
    std::string path = folder.File("out.odt");
    Document document;
    document.preformatted = true;
    document.blocks = {Paragraph(u"code"), Paragraph(u""), AfterPageBreak(Paragraph(u"next"))};
    WriteOdt(document, path);
    EXPECT_NE(Content(path).find("<office:text><text:p text:style-name=\"mono\">code</text:p>"
                                 "<text:p text:style-name=\"mono\"></text:p>"
                                 "<text:p text:style-name=\"break\"/><text:p text:style-name=\"mono\">next</text:p>"),
              std::string::npos);
}

TEST(OdtWriter, TablesAreStringCellsPaddedToTheWidestRow) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.odt");
    Document document;
    document.tables = {MakeTable(u"", {{u"h"}, {u"42", u"a  b", u"-0.5"}, {u"x", u"y"}})};
    WriteOdt(document, path);
    CommandResult read = RunPythonScript("read_ods.py", path);
    ASSERT_EQ(read.exitCode, 0) << read.output;
    EXPECT_EQ(read.output,
              "TABLE Sheet1 columns=3\n"
              "1,1 string  'h'\n1,2 string  ''\n1,3 string  ''\n"
              "2,1 string  '42'\n2,2 string  'a  b'\n2,3 string  '-0.5'\n"
              "3,1 string  'x'\n3,2 string  'y'\n3,3 string  ''\n");
    // A single table has no heading; two get one each.
    EXPECT_EQ(CountOf(Content(path), "<text:h"), 0u);
    Document two;
    two.tables = {MakeTable(u"One", {{u"1"}}), MakeTable(u"Two", {{u"2"}})};
    std::string twoPath = folder.File("two.odt");
    WriteOdt(two, twoPath);
    std::string content = Content(twoPath);
    EXPECT_NE(content.find("<text:h text:style-name=\"h2\" text:outline-level=\"2\">One</text:h><table:table "
                           "table:name=\"One\">"),
              std::string::npos);
    EXPECT_NE(content.find("<text:h text:style-name=\"h2\" text:outline-level=\"2\">Two</text:h><table:table "
                           "table:name=\"Two\">"),
              std::string::npos);
}

TEST(OdtWriter, EmptyDocumentAndEmptyTableStayValid) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    REQUIRE_TOOL("pandoc");
    TempDir folder;
    std::string path = folder.File("empty.odt");
    WriteOdt(Document{}, path);
    EXPECT_EQ(PackageProblems(path), "");
    EXPECT_NE(Content(path).find("<office:body><office:text></office:text></office:body>"), std::string::npos);
    EXPECT_EQ(PandocBlocks(path, "odt").exitCode, 0);

    // A table needs a column and a row; an empty one becomes one empty cell.
    std::string tablePath = folder.File("table.odt");
    Document document;
    document.tables = {MakeTable(u"E", {})};
    WriteOdt(document, tablePath);
    EXPECT_NE(Content(tablePath).find("<table:table table:name=\"E\"><table:table-column "
                                      "table:number-columns-repeated=\"1\"/><table:table-row><table:table-cell"),
              std::string::npos);
}
