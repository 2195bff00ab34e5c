#include <gtest/gtest.h>

#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

std::string ReadBack(const std::string& path) {
    CommandResult read = RunPythonScript("read_xlsx.py", path);
    EXPECT_EQ(read.exitCode, 0) << read.output;
    return read.output;
}

std::string FailureOf(const Document& document, const std::string& path) {
    try {
        WriteXlsx(document, path);
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no failure";
}

}  // namespace

TEST(XlsxWriter, PackageHoldsItsPartsInOrderAndIsWellFormed) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    Document document;
    document.tables = {MakeTable(u"A", {{u"x"}}), MakeTable(u"B", {{u"y"}})};
    WriteXlsx(document, path);
    std::vector<std::string> names;
    for (const auto& entry : LocalEntries(ReadFile(path))) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.method, 0);
        EXPECT_TRUE(entry.data.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml",
                                               "[Content_Types].xml", "_rels/.rels", "xl/workbook.xml",
                                               "xl/_rels/workbook.xml.rels", "xl/styles.xml"}));
    EXPECT_EQ(PackageProblems(path), "");
}

TEST(XlsxWriter, HeaderIsBoldTextAndLaterPlainDecimalsAreNumbers) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    Document document;
    document.blocks = {Paragraph(u"ignored")};
    document.tables = {MakeTable(u"Numbers", {
                                                 {u"42", u"name", u"", u"-0.5"},
                                                 {u"42", u"007", u"1e5", u"1."},
                                                 {u"-0.5", u"0", u"12.25", u"1234567890123456"},
                                                 {},
                                                 {u"", u"", u"last"},
                                             })};
    WriteXlsx(document, path);
    EXPECT_EQ(ReadBack(path),
              "SHEET Numbers freeze=A2\n"
              "A1 s bold '42'\n"
              "B1 s bold 'name'\n"
              "D1 s bold '-0.5'\n"
              "A2 n plain 42\n"
              "B2 s plain '007'\n"
              "C2 s plain '1e5'\n"
              "D2 s plain '1.'\n"
              "A3 n plain -0.5\n"
              "B3 n plain 0\n"
              "C3 n plain 12.25\n"
              "D3 s plain '1234567890123456'\n"
              "C5 s plain 'last'\n");
}

TEST(XlsxWriter, TextKeepsMarkupCharactersSpacesAndAllOfUnicode) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    Document document;
    document.tables = {MakeTable(u"T", {{u"h"},
                                        {u"<a href=\"x\">&amp;</a>"},
                                        {u"  two  spaces  "},
                                        {u"caf\u00e9 \u20ac \U0001F600 \u4e2d"},
                                        {u"line\nbreak\ttab"},
                                        {u"bell\u0007gone"}})};
    WriteXlsx(document, path);
    EXPECT_EQ(ReadBack(path),
              "SHEET T freeze=A2\n"
              "A1 s bold 'h'\n"
              "A2 s plain '<a href=\"x\">&amp;</a>'\n"
              "A3 s plain '  two  spaces  '\n"
              "A4 s plain 'caf\u00e9 \u20ac \U0001F600 \u4e2d'\n"
              "A5 s plain 'line\\nbreak\\ttab'\n"
              "A6 s plain 'bellgone'\n");
}

TEST(XlsxWriter, EveryTableIsASheetWithACleanUniqueName) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    Document document;
    document.tables = {MakeTable(u"Q1: a/b", {{u"1"}}), MakeTable(u"q1 AB", {{u"2"}}), MakeTable(u"", {{u"3"}}),
                       MakeTable(u"Q1 ab", {{u"4"}}), MakeTable(u"<&>", {{u"5"}})};
    WriteXlsx(document, path);
    EXPECT_EQ(ReadBack(path),
              "SHEET Q1 ab freeze=A2\nA1 s bold '1'\n"
              "SHEET q1 AB (2) freeze=A2\nA1 s bold '2'\n"
              "SHEET Sheet3 freeze=A2\nA1 s bold '3'\n"
              "SHEET Q1 ab (3) freeze=A2\nA1 s bold '4'\n"
              "SHEET <&> freeze=A2\nA1 s bold '5'\n");
}

TEST(XlsxWriter, ColumnsBeyondZUseTwoAndThreeLetters) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    std::vector<std::u16string> header(16384);
    header[25] = u"z";
    header[26] = u"aa";
    header[701] = u"zz";
    header[702] = u"aaa";
    header[16383] = u"last";
    Document document;
    document.tables = {MakeTable(u"Wide", {header})};
    WriteXlsx(document, path);
    EXPECT_EQ(ReadBack(path),
              "SHEET Wide freeze=A2\nZ1 s bold 'z'\nAA1 s bold 'aa'\nZZ1 s bold 'zz'\nAAA1 s bold 'aaa'\n"
              "XFD1 s bold 'last'\n");
}

TEST(XlsxWriter, RefusesDocumentsWithoutTablesAndTablesTooLargeForASheet) {
    TempDir folder;
    Document text;
    text.blocks = {Paragraph(u"just text")};
    EXPECT_EQ(FailureOf(text, folder.File("a.xlsx")), "Only tables (like CSV files) can become spreadsheets");

    Document wide;
    wide.tables = {MakeTable(u"W", {std::vector<std::u16string>(16385)})};
    EXPECT_EQ(FailureOf(wide, folder.File("b.xlsx")), "This table is too large for a spreadsheet (16384 columns max)");

    Document tall;
    tall.tables = {MakeTable(u"ok", {{u"x"}}), MakeTable(u"T", {})};
    tall.tables[1].rows.resize(1048577);
    EXPECT_EQ(FailureOf(tall, folder.File("c.xlsx")), "This table is too large for a spreadsheet (1048576 rows max)");
    EXPECT_EQ(ListFolder(folder.path()), "");  // nothing was written
}

TEST(XlsxWriter, EmptyTableGivesAnEmptyValidSheet) {
    REQUIRE_TOOL("/usr/bin/python3");
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    Document document;
    document.tables = {MakeTable(u"Empty", {})};
    WriteXlsx(document, path);
    EXPECT_EQ(PackageProblems(path), "");
    EXPECT_EQ(ReadBack(path), "SHEET Empty freeze=A2\n");
}
