#include <gtest/gtest.h>

#include "support/document_support.h"

using namespace testing_support;

namespace {

std::string Sheet(const std::string& rows) { return "<worksheet><sheetData>" + rows + "</sheetData></worksheet>"; }

}  // namespace

TEST(XlsxReader, SheetsInWorkbookOrderThroughTheirRelationships) {
    const std::string rels = R"(<Relationships><Relationship Id="rId1" Target="worksheets/sheet1.xml"/>)"
                             R"(<Relationship Id="rId2" Target="/xl/worksheets/data.xml"/></Relationships>)";
    // The workbook lists the second sheet first.
    const std::string workbook =
        R"(<workbook><sheets><sheet name="Zahlen &amp; mehr" r:id="rId2"/><sheet name="Erste" r:id="rId1"/></sheets></workbook>)";
    Document document = ReadXlsxArchive(StoredPackage({{"xl/workbook.xml", workbook},
                                                       {"xl/_rels/workbook.xml.rels", rels},
                                                       {"xl/worksheets/sheet1.xml", Sheet(R"(<row><c><v>1</v></c></row>)")},
                                                       {"xl/worksheets/data.xml", Sheet(R"(<row><c><v>2</v></c></row>)")}}));
    ASSERT_EQ(document.tables.size(), 2u);
    EXPECT_EQ(document.tables[0].name, u"Zahlen & mehr");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"2"}}));
    EXPECT_EQ(document.tables[1].name, u"Erste");
}

TEST(XlsxReader, CellsArePlacedByReferenceInsideTheGridAndReadByType) {
    // Shared string 0 carries a phonetic reading, which is not its text; string 1 has two runs.
    const std::string shared = R"(<sst><si><t>漢字</t><rPh sb="0" eb="2"><t>かんじ</t></rPh></si>)"
                               R"(<si><r><t>two </t></r><r><t xml:space="preserve">parts</t></r></si></sst>)";
    // Row 2 starts at B; the row without a number follows it; row 5 starts at C, and its
    // cells without references follow one another.
    const std::string rows =
        R"(<row r="2"><c r="B2"><v>0.50</v></c></row><row><c><v>x</v></c><c><v>y</v></c></row>)"
        R"(<row r="5"><c r="C5" t="s"><v>1</v></c><c t="s"><v>0</v></c><c t="s"><v>7</v></c><c t="b"><v>1</v></c>)"
        R"(<c t="b"><v>0</v></c><c t="inlineStr"><is><t>in &lt;b&gt;</t></is></c><c t="str"><f>A1&amp;B1</f><v>formula</v></c>)"
        R"(<c t="e"><v>#DIV/0!</v></c></row><row r="6"><c r="XFD6"><v>last</v></c><c r="XFE6"><v>beyond</v></c></row>)"
        R"(<row r="1048577"><c r="A1048577"><v>below</v></c></row>)";
    Document document =
        ReadXlsxArchive(StoredPackage({{"xl/sharedStrings.xml", shared}, {"xl/worksheets/sheet1.xml", Sheet(rows)}}));
    EXPECT_EQ(document.tables.at(0).name, u"Sheet1");  // no workbook: the default sheet
    const Rows& got = document.tables[0].rows;
    ASSERT_EQ(got.size(), 6u);  // nothing below row 1,048,576
    EXPECT_EQ(Rows(got.begin(), got.begin() + 5),
              (Rows{{}, {u"", u"0.50"}, {u"x", u"y"}, {},
                    {u"", u"", u"two parts", u"\u6f22\u5b57", u"", u"TRUE", u"FALSE", u"in <b>", u"formula", u"#DIV/0!"}}));
    EXPECT_EQ(got[5].size(), 16384u);  // nothing right of column XFD
    EXPECT_EQ(got[5].back(), u"last");
    // Every row reaching the last column would be 18 million cells.
    const std::string wide = Sheet(Repeat(R"(<row><c r="XFD1"><v>1</v></c></row>)", 1100));
    EXPECT_EQ(ErrorOf([&] { ReadXlsxArchive(StoredPackage({{"xl/worksheets/sheet1.xml", wide}})); }),
              "This spreadsheet is too large to convert");
}

TEST(XlsxReader, OpenpyxlWorkbookReadsIntoTheExpectedTables) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir dir;
    const std::string script = R"(import sys, openpyxl
book = openpyxl.Workbook()
book.active.title = "Übersicht"
for row in [["Name", "Preis", "Aktiv"], ["Äpfel", 1.25, True], ["Birnen", None, False]]: book.active.append(row)
book.active["E5"] = "weit weg"
book.create_sheet("Zweites")["B2"] = 12345678901
book.save(sys.argv[1]))";
    auto made = RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(dir.File("book.xlsx")));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    ConvertContext context;
    Document document = ReadDocument(dir.File("book.xlsx"), context);
    ASSERT_EQ(document.tables.size(), 2u);
    EXPECT_EQ(document.tables[0].name, u"\u00dcbersicht");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"Name", u"Preis", u"Aktiv"}, {u"\u00c4pfel", u"1.25", u"TRUE"},
                                             {u"Birnen", u"", u"FALSE"}, {}, {u"", u"", u"", u"", u"weit weg"}}));
    EXPECT_EQ(document.tables[1].name, u"Zweites");
    EXPECT_EQ(document.tables[1].rows, (Rows{{}, {u"", u"12345678901"}}));
}
