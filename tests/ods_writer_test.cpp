#include <gtest/gtest.h>

#include "convert/documents/odf_writer.h"
#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

std::string ReadBack(const std::string& path) {
    CommandResult read = RunPythonScript("read_ods.py", path);
    EXPECT_EQ(read.exitCode, 0) << read.output;
    return read.output;
}

}  // namespace

TEST(OdsWriter, MimetypeComesFirstStoredAndThePackageIsWellFormed) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    TempDir folder;
    std::string path = folder.File("out.ods");
    Document document;
    document.tables = {MakeTable(u"T", {{u"a"}})};
    WriteOds(document, path);
    auto entries = LocalEntries(ReadFile(path));
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].name, "mimetype");
    EXPECT_EQ(entries[0].method, 0);
    EXPECT_EQ(entries[0].extraLength, 0);
    EXPECT_EQ(entries[0].data, "application/vnd.oasis.opendocument.spreadsheet");
    EXPECT_NE(EntryData(path, "content.xml")
                  .find("<office:automatic-styles></office:automatic-styles><office:body><office:spreadsheet>"),
              std::string::npos);
    EXPECT_EQ(PackageProblems(path), "");
}

TEST(OdsWriter, FloatTextsBecomeFloatCellsWithTheirTextKept) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.ods");
    Document document;
    document.tables = {MakeTable(u"Numbers", {{u"42", u"1e5", u"-0.5", u"0x1A"},
                                             {u"inf", u"nan", u" 5", u"007"},
                                             {u"+5", u".5", u"1,5", u"1e"}})};
    WriteOds(document, path);
    // Unlike a workbook's header, the first row is tested like any other.
    EXPECT_EQ(ReadBack(path),
              "TABLE Numbers columns=4\n"
              "1,1 float 42 '42'\n1,2 float 1e5 '1e5'\n1,3 float -0.5 '-0.5'\n1,4 string  '0x1A'\n"
              "2,1 string  'inf'\n2,2 string  'nan'\n2,3 string  ' 5'\n2,4 float 007 '007'\n"
              "3,1 float +5 '+5'\n3,2 float .5 '.5'\n3,3 string  '1,5'\n3,4 string  '1e'\n");
}

TEST(OdsWriter, EveryTableIsASheetPaddedToItsWidestRow) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.ods");
    Document document;
    document.blocks = {Paragraph(u"ignored")};
    document.tables = {MakeTable(u"First <&>", {{u"a"}, {u"b", u"c  d", u"e\tf\ng"}}), MakeTable(u"", {{u"x"}}),
                       MakeTable(u"", {{u"caf\u00e9 \U0001F600"}})};
    WriteOds(document, path);
    EXPECT_EQ(ReadBack(path),
              "TABLE First <&> columns=3\n"
              "1,1 string  'a'\n1,2 string  ''\n1,3 string  ''\n"
              "2,1 string  'b'\n2,2 string  'c  d'\n2,3 string  'e\\tf\\ng'\n"
              "TABLE Sheet2 columns=1\n1,1 string  'x'\n"
              "TABLE Sheet3 columns=1\n1,1 string  'caf\u00e9 \U0001F600'\n");
}

TEST(OdsWriter, TableElementMatchesTheFixedLayout) {
    Table table = MakeTable(u"T", {{u"1", u"a b"}, {u"x"}});
    EXPECT_EQ(WriteOdfTable(table, 0, true),
              "<table:table table:name=\"T\"><table:table-column table:number-columns-repeated=\"2\"/>"
              "<table:table-row>"
              "<table:table-cell office:value-type=\"float\" office:value=\"1\"><text:p>1</text:p></table:table-cell>"
              "<table:table-cell office:value-type=\"string\" table:style-name=\"cell\"><text:p>a b</text:p>"
              "</table:table-cell></table:table-row>"
              "<table:table-row>"
              "<table:table-cell office:value-type=\"string\" table:style-name=\"cell\"><text:p>x</text:p>"
              "</table:table-cell>"
              "<table:table-cell office:value-type=\"string\" table:style-name=\"cell\"><text:p></text:p>"
              "</table:table-cell></table:table-row></table:table>");
    EXPECT_EQ(WriteOdfTable(table, 0, false).find("float"), std::string::npos);
    EXPECT_NE(WriteOdfTable(MakeTable(u"", {}), 6, false).find("table:name=\"Sheet7\""), std::string::npos);
}

TEST(OdsWriter, DocumentWithoutTablesIsRefused) {
    TempDir folder;
    Document document;
    document.blocks = {Paragraph(u"text")};
    try {
        WriteOds(document, folder.File("out.ods"));
        FAIL() << "wrote a spreadsheet without a table";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "This file has no table to export");
    }
    EXPECT_EQ(ListFolder(folder.path()), "");
}
