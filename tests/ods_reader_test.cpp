#include <gtest/gtest.h>

#include "support/document_support.h"

using namespace testing_support;

namespace {

const std::string kTooLarge = "This spreadsheet is too large to convert";

Document Ods(const std::string& tables) {
    return ReadOdsArchive(StoredPackage({{"content.xml", "<office:spreadsheet>" + tables + "</office:spreadsheet>"}}));
}

std::string Sheet(const std::string& rows) { return R"(<table:table table:name="S">)" + rows + "</table:table>"; }

std::string Row(const std::string& cells, int repeat = 1) {
    return R"(<table:table-row table:number-rows-repeated=")" + std::to_string(repeat) + "\">" + cells + "</table:table-row>";
}

std::string Cell(const std::string& text, int repeat = 1) {
    return R"(<table:table-cell table:number-columns-repeated=")" + std::to_string(repeat) + "\">" +
           (text.empty() ? "" : "<text:p>" + text + "</text:p>") + "</table:table-cell>";
}

}  // namespace

TEST(OdsReader, SheetsCellsAndParagraphs) {
    Document document = Ods(
        R"(<table:table table:name="Erste &amp; Beste"><table:table-row><table:table-cell office:value-type="string">)"
        R"(<text:p>a<text:s text:c="3"/>b<text:tab/>c</text:p><text:p>second<text:line-break/>line</text:p></table:table-cell>)"
        R"(<table:table-cell><text:p>x<text:s/>y</text:p><office:annotation><text:p>n</text:p></office:annotation>)"
        R"(</table:table-cell>)"
        R"(<table:table-cell office:value-type="float" office:value="42.5"/><table:table-cell office:boolean-value="true"/>)"
        R"(<table:table-cell office:value="3"><text:p>3.00</text:p></table:table-cell></table:table-row></table:table>)"
        R"(<table:table table:name="Leer"/>)");
    ASSERT_EQ(document.tables.size(), 2u);
    EXPECT_EQ(document.tables[0].name, u"Erste & Beste");
    // A cell without a paragraph shows its value.
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"a   b\tc\nsecond\nline", u"x y", u"42.5", u"true", u"3.00"}}));
    EXPECT_EQ(document.tables[1].name, u"Leer");
    EXPECT_TRUE(document.tables[1].rows.empty());
}

TEST(OdsReader, RepeatsAreCappedAndEmptyOnesWrittenOnlyBeforeContent) {
    const std::string content = Cell("", 2) + Cell("c") + "<table:covered-table-cell/>" + Cell("r", 2) + Cell("", 16384);
    Document document = Ods(Sheet(Row(Cell("", 5), 5000) + Row("", 3) + Row(content) + Row(Cell("v", 3000), 1000000) +
                                  Row(Cell("", 1024), 1048000)));
    const Rows& rows = document.tables.at(0).rows;
    ASSERT_EQ(rows.size(), 1024u + 1 + 1024);  // 1024 of the 5,003 empty rows, the row, a million rows capped at 1024
    EXPECT_TRUE(rows[1023].empty());
    EXPECT_EQ(rows[1024], (std::vector<std::u16string>{u"", u"", u"c", u"", u"r", u"r"}));
    EXPECT_EQ(rows[1025], std::vector<std::u16string>(1024, u"v"));
    EXPECT_EQ(rows.back(), rows[1025]);
}

TEST(OdsReader, RefusedWithTheirMessages) {
    EXPECT_EQ(ErrorOf([] { ReadOdsArchive(StoredPackage({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}})); }),
              "This doesn't look like an OpenDocument file");
    EXPECT_EQ(ErrorOf([] { Ods(""); }), "This spreadsheet has no sheets");
    // Four times 1024 rows of 1024 cells is over four million.
    EXPECT_EQ(ErrorOf([] { Ods(Sheet(Repeat(Row(Cell("x", 1024), 1000000), 4))); }), kTooLarge);
    // 1 MB of text across 1024 columns, or 200 KB down 1024 rows, but not 200 KB down 100.
    EXPECT_EQ(ErrorOf([] { Ods(Sheet(Row(Cell(std::string(1 << 20, 'a'), 1024)))); }), kTooLarge);
    EXPECT_EQ(ErrorOf([] { Ods(Sheet(Row(Cell(std::string(200000, 'a')), 1024))); }), kTooLarge);
    EXPECT_EQ(Ods(Sheet(Row(Cell(std::string(200000, 'a')), 100))).tables.at(0).rows.size(), 100u);
}

TEST(OdsReader, OdfpySpreadsheetReadsIntoTheExpectedTable) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir dir;
    const std::string script = R"(import sys
from odf.opendocument import OpenDocumentSpreadsheet
from odf.table import Table, TableRow, TableCell
from odf.text import P
document = OpenDocumentSpreadsheet()
table = Table(name="Übersicht")
document.spreadsheet.addElement(table)
def cell(row, text=None, **attributes):
    row.addElement(TableCell(**attributes))
    if text: row.lastChild.addElement(P(text=text))
first, second = TableRow(), TableRow(numberrowsrepeated=3)
cell(first, "Äpfel"), cell(first, "3", valuetype="float", value="3"), cell(first, "WAHR", valuetype="boolean", booleanvalue="true")
cell(second, numbercolumnsrepeated=2), cell(second, "rep", numbercolumnsrepeated=2), cell(second, numbercolumnsrepeated=1000)
table.addElement(first), table.addElement(second)
document.save(sys.argv[1]))";
    auto made = RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(dir.File("sheet.ods")));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    ConvertContext context;
    Document document = ReadDocument(dir.File("sheet.ods"), context);
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].name, u"\u00dcbersicht");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"\u00c4pfel", u"3", u"WAHR"}, {u"", u"", u"rep", u"rep"},
                                             {u"", u"", u"rep", u"rep"}, {u"", u"", u"rep", u"rep"}}));
}
