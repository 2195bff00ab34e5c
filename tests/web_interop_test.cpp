// Files an independent producer (pandoc) writes from one Markdown source read back into
// the blocks and table that source describes; whole conversions of bad inputs fail with
// their reader's message and leave nothing behind.
#include <tuple>

#include <gtest/gtest.h>

#include "convert/core/catalog.h"
#include "convert/core/converters.h"
#include "support/document_support.h"

using namespace testing_support;

TEST(WebInterop, PandocOutputsReadIntoTheSourcesBlocksAndTable) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    WriteFile(dir.File("source.md"), R"(# Café Überblick

Mit **fett**: äöü ß — “Zitat”.

## Liste

- Äpfel
- Birnen

| Name | Wert |
|------|------|
| Ä    | 1    |
| ß    | 2    |
)");
    const std::string heading = "Caf\u00e9 \u00dcberblick", apples = "\u00c4pfel";
    const std::string paragraph = "Mit fett: \u00e4\u00f6\u00fc \u00df \u2014 \u201cZitat\u201d.";
    // File, pandoc's arguments, the blocks with text, whether the source's table is read as one, the title.
    const std::tuple<const char*, const char*, Lines, bool, std::u16string> cases[] = {
        {"page.html", "-s --metadata pagetitle=Ignored",
         {"<h1>" + heading, paragraph, "<h2>Liste", "<li>" + apples, "<li>Birnen"}, true, u"page"},
        // The book's title page and its one chapter.
        {"book.epub", "--metadata title=Buch",
         {"<h1>Buch", "<page><h1>" + heading, paragraph, "<h2>Liste", "<li>" + apples, "<li>Birnen"}, true, u"Buch"},
        {"letter.rtf", "-s",
         {heading, paragraph, "Liste", "\u2022\t" + apples, "\u2022\tBirnen", "Name\tWert", "\u00c4\t1", "\u00df\t2"},
         false, u"letter"},
        // Markdown tables stay text.
        {"notes.md", "-t markdown",
         {"<h1>" + heading, "Mit fett: \u00e4\u00f6\u00fc \u00df --- \"Zitat\".", "<h2>Liste", "<li>" + apples, "<li>Birnen",
          "  Name   Wert", "  ------ ------", "  \u00c4      1", "  \u00df      2"}, false, u"notes"},
    };
    for (const auto& [file, arguments, blocks, table, title] : cases) {
        const std::string path = dir.File(file);
        auto made = RunCommand("pandoc " + ShellQuote(dir.File("source.md")) + " " + arguments + " -o " + ShellQuote(path));
        ASSERT_EQ(made.exitCode, 0) << made.output;
        ConvertContext context;
        Document document = ReadDocument(path, context);
        Lines withText = Blocks(document);
        std::erase(withText, "");
        EXPECT_EQ(withText, blocks) << file;
        EXPECT_EQ(document.title, title) << file;  // a page's head title is not the document's
        ASSERT_EQ(document.tables.size(), table ? 1u : 0u) << file;
        if (table) {
            EXPECT_EQ(document.tables[0].rows, (Rows{{u"Name", u"Wert"}, {u"\u00c4", u"1"}, {u"\u00df", u"2"}}));
        }
    }
}

TEST(WebConversions, BadInputsFailWithTheirMessageAndLeaveNothing) {
    std::string garbage = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 2048; ++i) garbage.push_back(static_cast<char>(i * 97 + 3));
    TempDir dir;
    WriteFile(dir.File("garbage.json"), garbage);
    WriteFile(dir.File("open.rtf"), "{\\rtf1 {\\b unbalanced");
    const std::string before = ListFolder(dir.path());
    ConvertContext context;
    EXPECT_EQ(ErrorOf([&] { ConvertDocument(dir.File("garbage.json"), Target{kCsv, 0, ""}, context); }),
              "This JSON isn't a list, so it can't become a table");
    EXPECT_EQ(ErrorOf([&] { ConvertDocument(dir.File("open.rtf"), Target{kHtml, 0, ""}, context); }), "This RTF file is damaged");
    EXPECT_EQ(ListFolder(dir.path()), before);
    // Garbage named .txt or .csv is text: it converts, into no more lines or cells than it has bytes.
    for (const char* name : {"noise.txt", "noise.csv"}) {
        WriteFile(dir.File(name), garbage);
        Document document = ReadDocument(dir.File(name), context);
        size_t units = document.blocks.size();
        for (const auto& table : document.tables)
            for (const auto& row : table.rows) units += row.size();
        EXPECT_LE(units, garbage.size()) << name;
        EXPECT_TRUE(FileExists(ConvertDocument(dir.File(name), Target{kHtml, 0, ""}, context))) << name;
    }
}
