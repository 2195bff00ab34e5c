// Files written by an independent producer (pandoc) from one Markdown source, read
// back by our readers into the blocks and table the source describes.
#include <gtest/gtest.h>

#include "convert/core/catalog.h"
#include "convert/core/converters.h"
#include "convert/core/text.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/package_builder.h"
#include "support/test_support.h"

using testing_support::DataPath;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr std::string_view kSource = R"(# Café Überblick

Erster Absatz mit **fett** und Umlauten: äöü ß — “Zitat”.

## Liste

- Äpfel
- Birnen

### Tabelle

| Name | Wert |
|------|------|
| Ä    | 1    |
| ß    | 2    |

Schluss.
)";

const std::u16string kParagraph = u"Erster Absatz mit fett und Umlauten: \u00e4\u00f6\u00fc \u00df \u2014 \u201cZitat\u201d.";

struct Expected {
    std::u16string text;
    int32_t level;
    bool listItem;
};

// Produces `name` from the Markdown source with pandoc and reads it with ReadDocument.
Document ProduceAndRead(TempDir& dir, const std::string& name, const std::string& pandocArguments) {
    WriteFile(dir.File("source.md"), kSource);
    auto result = RunCommand("pandoc " + ShellQuote(dir.File("source.md")) + " " + pandocArguments + " -o " +
                             ShellQuote(dir.File(name)));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    ConvertContext context;
    return ReadDocument(dir.File(name), context);
}

std::vector<Block> NonEmpty(const Document& document) {
    std::vector<Block> blocks;
    for (const auto& block : document.blocks)
        if (!block.text.empty()) blocks.push_back(block);
    return blocks;
}

void ExpectBlocks(const std::vector<Block>& blocks, const std::vector<Expected>& expected) {
    ASSERT_EQ(blocks.size(), expected.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(WideToUtf8(blocks[i].text), WideToUtf8(expected[i].text)) << "block " << i;
        EXPECT_EQ(blocks[i].level, expected[i].level) << "block " << i;
        EXPECT_EQ(blocks[i].listItem, expected[i].listItem) << "block " << i;
    }
}

using testing_support::Rows;
const Rows kTableRows = {{u"Name", u"Wert"}, {u"\u00c4", u"1"}, {u"\u00df", u"2"}};

}  // namespace

TEST(WebInterop, PandocHtmlReadsIntoBlocksAndATable) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    Document document = ProduceAndRead(dir, "page.html", "-s --metadata pagetitle=Ignored");
    ExpectBlocks(NonEmpty(document), {{u"Caf\u00e9 \u00dcberblick", 1, false},
                                      {kParagraph, 0, false},
                                      {u"Liste", 2, false},
                                      {u"\u00c4pfel", 0, true},
                                      {u"Birnen", 0, true},
                                      {u"Tabelle", 3, false},
                                      {u"Schluss.", 0, false}});
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].rows, kTableRows);
    EXPECT_EQ(document.title, u"page");  // the head's title is not read
}

TEST(WebInterop, PandocMarkdownReadsItsHeadingsAndLists) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    Document document = ProduceAndRead(dir, "notes.md", "-t markdown");
    std::vector<Block> blocks = NonEmpty(document);
    ASSERT_GE(blocks.size(), 6u);
    ExpectBlocks(std::vector<Block>(blocks.begin(), blocks.begin() + 6),
                 {{u"Caf\u00e9 \u00dcberblick", 1, false},
                  {u"Erster Absatz mit fett und Umlauten: \u00e4\u00f6\u00fc \u00df --- \"Zitat\".", 0, false},
                  {u"Liste", 2, false},
                  {u"\u00c4pfel", 0, true},
                  {u"Birnen", 0, true},
                  {u"Tabelle", 3, false}});
    EXPECT_EQ(WideToUtf8(blocks.back().text), "Schluss.");
    EXPECT_TRUE(document.tables.empty());  // Markdown tables stay text
}

TEST(WebInterop, PandocRtfReadsIntoParagraphsAndTabbedRows) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    Document document = ProduceAndRead(dir, "letter.rtf", "-s");
    ExpectBlocks(NonEmpty(document), {{u"Caf\u00e9 \u00dcberblick", 0, false},
                                      {kParagraph, 0, false},
                                      {u"Liste", 0, false},
                                      {u"\u2022\t\u00c4pfel", 0, false},
                                      {u"\u2022\tBirnen", 0, false},
                                      {u"Tabelle", 0, false},
                                      {u"Name\tWert", 0, false},
                                      {u"\u00c4\t1", 0, false},
                                      {u"\u00df\t2", 0, false},
                                      {u"Schluss.", 0, false}});
}

// The corpus's RTF files give the paragraphs of pandoc's plain text, less its footnotes.
TEST(WebInterop, CorpusRtfMatchesPandocPlainText) {
    REQUIRE_TOOL("pandoc");
    for (const char* name : {"accent", "footnote", "heading", "link"}) {
        std::string path = DataPath(std::string("corpus/documents/rtf/rtf-") + name + ".rtf");
        auto plain = RunCommand("pandoc --wrap=none -t plain " + ShellQuote(path));
        ASSERT_EQ(plain.exitCode, 0) << plain.output;
        std::vector<std::string> expected, got;
        for (auto line : Split<char>(plain.output, '\n')) {
            if (line.empty() || line.starts_with("[")) continue;  // pandoc lists the footnotes we skip
            for (const char* mark : {"[1]", "[2]"})
                if (size_t at = line.find(mark); at != std::string::npos) line.erase(at, 3);
            expected.push_back(line);
        }
        for (const auto& block : ReadRtf(path).blocks) {
            std::string text = WideToUtf8(block.text);
            size_t start = text.find_first_not_of(' ');
            if (start != std::string::npos) got.push_back(text.substr(start, text.find_last_not_of(' ') - start + 1));
        }
        EXPECT_EQ(got, expected) << name;
    }
}

// Whole conversions: bad inputs fail with their reader's message and leave nothing
// beside the input; good ones reach the writer.
TEST(WebConversions, BadInputsFailCleanlyWithoutOutput) {
    struct Case {
        const char* name;
        std::string bytes;
        int32_t format;
        const char* message;
    };
    std::string garbage = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 2048; ++i) garbage.push_back(static_cast<char>(i * 97 + 3));
    std::string odsRows;
    for (int i = 0; i < 4; ++i)
        odsRows += R"(<table:table-row table:number-rows-repeated="1000000"><table:table-cell table:number-columns-repeated="1024"><text:p>x</text:p></table:table-cell></table:table-row>)";
    const std::string container = R"(<container><rootfile full-path="content.opf"/></container>)";
    const std::string opf = R"(<package><manifest><item id="a" href="../../etc/passwd"/><item id="b" href="content.opf"/></manifest>)"
                            R"(<spine><itemref idref="a"/><itemref idref="b"/></spine></package>)";
    TempDir dir;
    testing_support::WritePackage(dir.File("spine.epub"), {{"META-INF/container.xml", container}, {"content.opf", opf}});
    testing_support::WritePackage(dir.File("rows.ods"), {{"content.xml", "<table:table table:name=\"S\">" + odsRows + "</table:table>"}});
    std::vector<Case> cases = {
        {"garbage.json", garbage, kCsv, "This JSON isn't a list, so it can't become a table"},
        {"deep.json", std::string(1000000, '['), kXlsx, "This JSON file is damaged"},
        {"open.rtf", "{\\rtf1 {\\b unbalanced", kHtml, "This RTF file is damaged"},
        {"bin.rtf", "{\\rtf1 {\\pict\\bin1000000 ab}}", kTxt, "This RTF file is damaged"},
        {"spine.epub", "", kMd, "This EPUB book has no readable text"},
        {"rows.ods", "", kCsv, "This spreadsheet is too large to convert"},
    };
    for (const auto& test : cases) {
        if (!test.bytes.empty()) WriteFile(dir.File(test.name), test.bytes);
        std::string before = testing_support::ListFolder(dir.path());
        ConvertContext context;
        std::string message = testing_support::ErrorOf([&] { ConvertDocument(dir.File(test.name), Target{test.format, 0, ""}, context); });
        EXPECT_EQ(message, test.message) << test.name;
        EXPECT_EQ(testing_support::ListFolder(dir.path()), before) << test.name;
    }
    // Garbage named .txt or .csv is text: it converts.
    WriteFile(dir.File("noise.csv"), garbage);
    ConvertContext context;
    EXPECT_TRUE(testing_support::FileExists(ConvertDocument(dir.File("noise.csv"), Target{kJson, 0, ""}, context)));
}
