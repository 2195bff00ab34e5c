#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/package_builder.h"
#include "support/test_support.h"

using testing_support::PackageArchive;
using testing_support::PackageParts;
using testing_support::Rows;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId2" Type="worksheet" Target="/xl/worksheets/data.xml"/>)"
    R"(<Relationship Id="rId3" Type="styles" Target="styles.xml"/></Relationships>)";

// The workbook lists the second sheet first: workbook order, not file order, decides.
const std::string kWorkbook = R"(<workbook><sheets><sheet name="Zahlen &amp; mehr" sheetId="2" r:id="rId2"/>)"
                              R"(<sheet name="Erste" sheetId="1" r:id="rId1"/></sheets></workbook>)";

std::string Sheet(const std::string& rows) { return "<worksheet><sheetData>" + rows + "</sheetData></worksheet>"; }

Document Read(const PackageParts& parts) { return ReadXlsxArchive(PackageArchive(parts)); }

}  // namespace

TEST(XlsxReader, SheetsInWorkbookOrderWithTheirNames) {
    Document document = Read({{"xl/workbook.xml", kWorkbook},
                              {"xl/_rels/workbook.xml.rels", kRels},
                              {"xl/worksheets/sheet1.xml", Sheet(R"(<row r="1"><c r="A1"><v>1</v></c></row>)")},
                              {"xl/worksheets/data.xml", Sheet(R"(<row r="1"><c r="A1"><v>2</v></c></row>)")}});
    ASSERT_EQ(document.tables.size(), 2u);
    EXPECT_EQ(document.tables[0].name, u"Zahlen & mehr");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"2"}}));
    EXPECT_EQ(document.tables[1].name, u"Erste");
    EXPECT_TRUE(document.blocks.empty());
}

TEST(XlsxReader, CellReferencesPlaceCellsWithGapsFilled) {
    // C5 holds shared string 2; B2 a number as written; row 3 has no "r" and follows row 2.
    const std::string shared = R"(<sst><si><t>zero</t></si><si><t>one</t></si>)"
                               R"(<si><r><t>two </t></r><r><t xml:space="preserve">parts</t></r></si></sst>)";
    Document document = Read({{"xl/sharedStrings.xml", shared},
                              {"xl/worksheets/sheet1.xml", Sheet(R"(<row r="2"><c r="B2"><v>0.50</v></c></row>)"
                                                                 R"(<row><c><v>x</v></c><c><v>y</v></c></row>)"
                                                                 R"(<row r="5"><c r="C5" t="s"><v>2</v></c></row>)")}});
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].name, u"Sheet1");  // no workbook: the default sheet
    EXPECT_EQ(document.tables[0].rows, (Rows{{}, {u"", u"0.50"}, {u"x", u"y"}, {}, {u"", u"", u"two parts"}}));
}

TEST(XlsxReader, CellTypes) {
    const std::string shared = R"(<sst><si><t>漢字</t><rPh sb="0" eb="2"><t>かんじ</t></rPh></si></sst>)";
    Document document = Read({{"xl/sharedStrings.xml", shared},
                              {"xl/worksheets/sheet1.xml",
                               Sheet(R"(<row r="1"><c r="A1" t="b"><v>1</v></c><c r="B1" t="b"><v>0</v></c>)"
                                     R"(<c r="C1" t="s"><v>0</v></c><c r="D1" t="s"><v>7</v></c>)"
                                     R"(<c r="E1" t="inlineStr"><is><t>inline &lt;b&gt;</t></is></c>)"
                                     R"(<c r="F1" t="str"><f>A1&amp;B1</f><v>formula text</v></c>)"
                                     R"(<c r="G1" t="e"><v>#DIV/0!</v></c><c r="H1" s="3"/></row>)")}});
    EXPECT_EQ(document.tables.at(0).rows,
              (Rows{{u"TRUE", u"FALSE", u"\u6f22\u5b57", u"", u"inline <b>", u"formula text", u"#DIV/0!", u""}}));
}

TEST(XlsxReader, CellsOutsideTheGridAreIgnored) {
    Document document = Read({{"xl/worksheets/sheet1.xml",
                               Sheet(R"(<row r="1"><c r="XFD1"><v>last</v></c><c r="XFE1"><v>beyond</v></c></row>)"
                                     R"(<row r="1048577"><c r="A1048577"><v>below</v></c></row>)")}});
    const auto& rows = document.tables.at(0).rows;
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 16384u);
    EXPECT_EQ(rows[0].back(), u"last");
}

TEST(XlsxReader, PaddingIsBounded) {
    // Every row reaches the last column: 1,100 rows would be 18 million cells.
    std::string rows;
    for (int r = 1; r <= 1100; ++r) rows += "<row><c r=\"XFD" + std::to_string(r) + "\"><v>1</v></c></row>";
    EXPECT_EQ(testing_support::ErrorOf([&] { Read({{"xl/worksheets/sheet1.xml", Sheet(rows)}}); }),
              "This spreadsheet is too large to convert");
}

TEST(XlsxReader, WorkbookWithoutReadableSheetsHasNoTables) {
    EXPECT_TRUE(Read({{"xl/workbook.xml", kWorkbook}, {"xl/_rels/workbook.xml.rels", kRels}}).tables.empty());
    EXPECT_TRUE(Read({{"[Content_Types].xml", "<Types/>"}}).tables.empty());
}

TEST(XlsxReader, OpenpyxlWorkbookReadsIntoTheExpectedTables) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir dir;
    WriteFile(dir.File("make.py"), R"(import sys, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Übersicht"
ws.append(["Name", "Menge", "Preis", "Aktiv"])
ws.append(["Äpfel", 3, 1.25, True])
ws.append(["Birnen", None, -0.5, False])
ws["F6"] = "weit weg"
ws2 = wb.create_sheet("Zweites Blatt")
ws2["B2"] = "nur B2"
ws2["A3"] = 12345678901
wb.create_sheet("Leer")
wb.save(sys.argv[1])
)");
    auto result = RunCommand("/usr/bin/python3 " + ShellQuote(dir.File("make.py")) + " " + ShellQuote(dir.File("book.xlsx")));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ConvertContext context;
    Document document = ReadDocument(dir.File("book.xlsx"), context);
    ASSERT_EQ(document.tables.size(), 3u);
    EXPECT_EQ(document.tables[0].name, u"\u00dcbersicht");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"Name", u"Menge", u"Preis", u"Aktiv"},
                                             {u"\u00c4pfel", u"3", u"1.25", u"TRUE"},
                                             {u"Birnen", u"", u"-0.5", u"FALSE"},
                                             {},
                                             {},
                                             {u"", u"", u"", u"", u"", u"weit weg"}}));
    EXPECT_EQ(document.tables[1].name, u"Zweites Blatt");
    EXPECT_EQ(document.tables[1].rows, (Rows{{}, {u"", u"nur B2"}, {u"12345678901"}}));
    EXPECT_EQ(document.tables[2].name, u"Leer");
    EXPECT_TRUE(document.tables[2].rows.empty());
    EXPECT_EQ(document.title, u"book");
}
