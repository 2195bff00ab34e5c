#include <chrono>

#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/package_builder.h"
#include "support/test_support.h"

using testing_support::PackageArchive;
using testing_support::Rows;
using testing_support::RunCommand;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::WritePackage;

namespace {

std::string Content(const std::string& tables) {
    return R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content><office:body><office:spreadsheet>)" + tables +
           "</office:spreadsheet></office:body></office:document-content>";
}

Document Read(const std::string& tables) { return ReadOdsArchive(PackageArchive({{"content.xml", Content(tables)}})); }

std::string ErrorOf(const testing_support::PackageParts& parts) {
    return testing_support::ErrorOf([&] { ReadOdsArchive(PackageArchive(parts)); });
}

}  // namespace

TEST(OdsReader, SheetsCellsAndParagraphs) {
    Document document = Read(
        R"(<table:table table:name="Erste &amp; Beste"><table:table-row>)"
        R"(<table:table-cell office:value-type="string"><text:p>a<text:s text:c="3"/>b<text:tab/>c</text:p><text:p>second<text:line-break/>line</text:p></table:table-cell>)"
        R"(<table:table-cell><text:p>x<text:s/>y</text:p><office:annotation><text:p>a comment</text:p></office:annotation></table:table-cell>)"
        R"(</table:table-row></table:table><table:table table:name="Leer"/>)");
    ASSERT_EQ(document.tables.size(), 2u);
    EXPECT_EQ(document.tables[0].name, u"Erste & Beste");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"a   b\tc\nsecond\nline", u"x y"}}));
    EXPECT_EQ(document.tables[1].name, u"Leer");
    EXPECT_TRUE(document.tables[1].rows.empty());
    EXPECT_TRUE(document.blocks.empty());
}

TEST(OdsReader, EmptyCellsAndRowsAreWrittenOnlyBeforeContent) {
    Document document = Read(
        R"(<table:table table:name="S">)"
        R"(<table:table-row table:number-rows-repeated="2"><table:table-cell table:number-columns-repeated="5"/></table:table-row>)"
        R"(<table:table-row><table:table-cell table:number-columns-repeated="2"/><table:table-cell><text:p>c</text:p></table:table-cell>)"
        R"(<table:covered-table-cell/><table:table-cell table:number-columns-repeated="2"><text:p>r</text:p></table:table-cell>)"
        R"(<table:table-cell table:number-columns-repeated="16384"/></table:table-row>)"
        R"(<table:table-row table:number-rows-repeated="1048000"><table:table-cell table:number-columns-repeated="1024"/></table:table-row>)"
        R"(</table:table>)");
    EXPECT_EQ(document.tables.at(0).rows, (Rows{{}, {}, {u"", u"", u"c", u"", u"r", u"r"}}));
}

TEST(OdsReader, RepeatsAreCappedAt1024) {
    Document document = Read(
        R"(<table:table table:name="S"><table:table-row table:number-rows-repeated="5000"/>)"
        R"(<table:table-row table:number-rows-repeated="1000000"><table:table-cell table:number-columns-repeated="3000"><text:p>v</text:p></table:table-cell></table:table-row>)"
        R"(</table:table>)");
    const auto& rows = document.tables.at(0).rows;
    ASSERT_EQ(rows.size(), 2048u);  // 1024 pending empty rows, then 1024 copies
    EXPECT_TRUE(rows[1023].empty());
    EXPECT_EQ(rows[1024].size(), 1024u);
    EXPECT_EQ(rows.back(), rows[1024]);
}

TEST(OdsReader, AMillionRepeatedRowsStayBoundedAndFast) {
    auto start = std::chrono::steady_clock::now();
    std::string rows;
    for (int i = 0; i < 4; ++i)  // four million cells and more
        rows += R"(<table:table-row table:number-rows-repeated="1000000"><table:table-cell table:number-columns-repeated="1024"><text:p>x</text:p></table:table-cell></table:table-row>)";
    testing_support::PackageParts parts = {{"content.xml", Content(R"(<table:table table:name="S">)" + rows + "</table:table>")}};
    EXPECT_EQ(ErrorOf(parts), "This spreadsheet is too large to convert");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    // One such row is fine: 1024 rows of 1024 cells.
    Document document = Read(R"(<table:table table:name="S">)" + rows.substr(0, rows.size() / 4) + "</table:table>");
    EXPECT_EQ(document.tables.at(0).rows.size(), 1024u);
}

TEST(OdsReader, LongTextRepeatedIsBounded) {
    auto sheet = [](const std::string& rowRepeat, const std::string& cellRepeat, size_t textBytes) {
        return Content(R"(<table:table table:name="S"><table:table-row table:number-rows-repeated=")" + rowRepeat +
                       R"("><table:table-cell table:number-columns-repeated=")" + cellRepeat + R"("><text:p>)" +
                       std::string(textBytes, 'a') + "</text:p></table:table-cell></table:table-row></table:table>");
    };
    const std::string tooLarge = "This spreadsheet is too large to convert";
    // 1 MB of text repeated across 1024 columns, or 200 KB down 1024 rows.
    EXPECT_EQ(ErrorOf({{"content.xml", sheet("1", "1024", 1 << 20)}}), tooLarge);
    EXPECT_EQ(ErrorOf({{"content.xml", sheet("1024", "1", 200000)}}), tooLarge);
    EXPECT_EQ(ErrorOf({{"content.xml", sheet("100", "1", 200000)}}), "no error");
}

TEST(OdsReader, CellsWithoutParagraphsShowTheirValue) {
    Document document = Read(
        R"(<table:table table:name="S"><table:table-row>)"
        R"(<table:table-cell office:value-type="float" office:value="42.5"/>)"
        R"(<table:table-cell office:value-type="boolean" office:boolean-value="true"/>)"
        R"(<table:table-cell office:value-type="float" office:value="3"><text:p>3.00</text:p></table:table-cell>)"
        R"(</table:table-row></table:table>)");
    EXPECT_EQ(document.tables.at(0).rows, (Rows{{u"42.5", u"true", u"3.00"}}));
}

TEST(OdsReader, MissingContentAndNoSheetsAreRefused) {
    EXPECT_EQ(ErrorOf({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}}),
              "This doesn't look like an OpenDocument file");
    EXPECT_EQ(ErrorOf({{"content.xml", Content("")}}), "This spreadsheet has no sheets");
}

TEST(OdsReader, OdfpySpreadsheetReadsIntoTheExpectedTables) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir dir;
    WriteFile(dir.File("make.py"), R"(import sys
from odf.opendocument import OpenDocumentSpreadsheet
from odf.table import Table, TableRow, TableCell
from odf.text import P
doc = OpenDocumentSpreadsheet()
def cell(text=None, repeat=1, **kw):
    c = TableCell(numbercolumnsrepeated=repeat, **kw) if repeat > 1 else TableCell(**kw)
    if text is not None:
        c.addElement(P(text=text))
    return c
t = Table(name="Übersicht")
r = TableRow(); [r.addElement(cell(x)) for x in ["Name", "Menge", "Aktiv"]]; t.addElement(r)
r = TableRow(); r.addElement(cell("Äpfel")); r.addElement(cell("3", valuetype="float", value="3"))
r.addElement(cell("WAHR", valuetype="boolean", booleanvalue="true")); t.addElement(r)
r = TableRow(); r.addElement(cell("Birnen")); r.addElement(cell()); r.addElement(cell("FALSCH", valuetype="boolean", booleanvalue="false"))
r.addElement(cell(repeat=1000)); t.addElement(r)
r = TableRow(numberrowsrepeated=3); r.addElement(cell(repeat=50)); t.addElement(r)
r = TableRow(numberrowsrepeated=2); r.addElement(cell(repeat=2)); r.addElement(cell("rep", repeat=2)); t.addElement(r)
r = TableRow(numberrowsrepeated=100000); r.addElement(cell(repeat=1024)); t.addElement(r)
doc.spreadsheet.addElement(t)
t2 = Table(name="Zweites")
r = TableRow(); r.addElement(cell("1.5", valuetype="float", value="1.5")); t2.addElement(r)
doc.spreadsheet.addElement(t2)
doc.save(sys.argv[1])
)");
    auto result = RunCommand("/usr/bin/python3 " + ShellQuote(dir.File("make.py")) + " " + ShellQuote(dir.File("sheet.ods")));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ConvertContext context;
    Document document = ReadDocument(dir.File("sheet.ods"), context);
    ASSERT_EQ(document.tables.size(), 2u);
    EXPECT_EQ(document.tables[0].name, u"\u00dcbersicht");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"Name", u"Menge", u"Aktiv"},
                                             {u"\u00c4pfel", u"3", u"WAHR"},
                                             {u"Birnen", u"", u"FALSCH"},
                                             {},
                                             {},
                                             {},
                                             {u"", u"", u"rep", u"rep"},
                                             {u"", u"", u"rep", u"rep"}}));
    EXPECT_EQ(document.tables[1].name, u"Zweites");
    EXPECT_EQ(document.tables[1].rows, (Rows{{u"1.5"}}));
    EXPECT_EQ(document.title, u"sheet");
}
