// The table writers (XLSX, ODS, JSON, CSV and TSV) as openpyxl, odfpy and Python's json and csv
// modules read them back, their exact layouts and refusals, and how cells and sheets are named.
#include <gtest/gtest.h>

#include "convert/core/text.h"
#include "convert/documents/table_cells.h"
#include "convert/documents/writers.h"
#include "support/document_support.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

// The file, and what Python's json module reads from it, printed back compactly with ASCII escapes.
std::pair<std::string, std::string> JsonWritten(const Document& document) {
    TempDir folder;
    WriteFile(folder.File("out.json"), WriteJson(document));
    return {ReadFile(folder.File("out.json")),
            Python("import json, sys\nprint(json.dumps(json.load(open(sys.argv[1], encoding='utf-8')), "
                   "separators=(',', ':')))",
                   folder.File("out.json"))};
}

}  // namespace

// Each check holds for the texts before "#" and fails for those after it; "|" separates texts.
TEST(TableCells, NumberTests) {
    using Check = bool (*)(std::u16string_view);
    const std::pair<Check, std::u16string_view> checks[] = {
        {IsPlainDecimal, u"0|-0|12.25|-0.5|42|123456789012345|.5|-.5|10#|-|.|1.|007|-01|00.5|1e5|+5|1.2.3|"
                         u"1234567890123456| 5|5 |1,5|--1|\uFF11|0x1A"},
        {IsFloatText, u"1e5|-0.5|+5|.5|5.|007|1E-3|-1.5e+10|0|123456789012345678901234567890|1e999#|0x1A|inf|"
                      u"-INF|nan|infinity| 5|5 |1e|1e+|e5|.|+|-|1.2.3|1,5|1_000|\uFF11|1234567890123456789012345678901|"
                      u"12abc|--5"},
        {IsJsonNumber, u"0|-0|1e5|1E+5|-0.5|12.25|1e999#|+5|.5|5.|007|-|1e|1.e5|01.5"}};
    for (auto [check, rest] : checks) {
        for (bool expected = true; !rest.empty();) {
            size_t end = std::min(rest.find_first_of(u"|#"), rest.size());
            EXPECT_EQ(check(rest.substr(0, end)), expected) << WideToUtf8(rest.substr(0, end));
            if (end < rest.size() && rest[end] == u'#') expected = false;
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
}

TEST(TableCells, SheetNamesAreCleanShortAndUniqueIgnoringCase) {
    auto sheets = [](const std::vector<std::u16string>& names) {
        std::vector<Table> tables;
        for (const auto& name : names) tables.push_back({name, {}});
        return SheetNames(tables);
    };
    using Names = std::vector<std::u16string>;
    std::u16string z31(31, u'z');
    // Forbidden characters and controls go; an empty name is "Sheet" + its number.
    EXPECT_EQ(sheets({u"Q1: sales/costs", u"[*?]", u"", u"a\\b", u"tab\there\u0001", u"\uFFFF"}),
              (Names{u"Q1 salescosts", u"Sheet2", u"Sheet3", u"ab", u"tabhere", u"Sheet6"}));
    // At most 31 units, never splitting a surrogate pair, never starting or ending with "'".
    EXPECT_EQ(sheets({std::u16string(40, u'x'), std::u16string(30, u'y') + u"\U0001F600z", u"'quoted'", u"'''",
                      std::u16string(30, u'a') + u"'b"}),
              (Names{std::u16string(31, u'x'), std::u16string(30, u'y'), u"quoted", u"Sheet4",
                     std::u16string(30, u'a')}));
    EXPECT_EQ(sheets({u"Data", u"data", u"DATA", u"Data (2)", u"Sheet5", u"", z31, z31}),
              (Names{u"Data", u"data (2)", u"DATA (3)", u"Data (2) (2)", u"Sheet5", u"Sheet6", z31,
                     std::u16string(27, u'z') + u" (2)"}));
    EXPECT_EQ(sheets({u"Sheet2", u""}), (Names{u"Sheet2", u"Sheet2 (2)"}));
}

TEST(XlsxWriter, OpenpyxlReadsBoldFrozenHeadersNumbersTextAndSheetNames) {
    REQUIRE_TOOL("/usr/bin/python3");
    std::vector<std::u16string> wide(16384);
    wide[25] = u"z", wide[26] = u"aa", wide[701] = u"zz", wide[702] = u"aaa", wide[16383] = u"last";
    Document document = Doc({{u"ignored"}},
                            {{u"Q1: a/b", {{u"42", u"name", u"", u"-0.5"},
                                           {u"42", u"007", u"1e5", u"1."},
                                           {u"-0.5", u"0", u"12.25", u"1234567890123456"},
                                           {},
                                           {u"<a href=\"x\">&amp;</a>", u"  two  spaces  ", u"caf\u00e9 \U0001F600",
                                            u"line\nbreak\ttab\u0007"}}},
                             {u"q1 AB", {wide}},
                             {u"", {}},
                             {u"<&>", {{u"x"}}}});
    TempDir folder;
    std::string path = folder.File("out.xlsx");
    WriteFile(path, WriteXlsx(document));
    EXPECT_EQ(EntryNames(path), (std::vector<std::string>{"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml",
                                               "xl/worksheets/sheet3.xml", "xl/worksheets/sheet4.xml",
                                               "[Content_Types].xml", "_rels/.rels", "xl/workbook.xml",
                                               "xl/_rels/workbook.xml.rels", "xl/styles.xml"}));
    EXPECT_EQ(PackageProblems(path), "");
    EXPECT_EQ(Python("read_xlsx.py", path),
              "SHEET Q1 ab freeze=A2\n"
              "A1 s bold '42'\nB1 s bold 'name'\nD1 s bold '-0.5'\n"
              "A2 n plain 42\nB2 s plain '007'\nC2 s plain '1e5'\nD2 s plain '1.'\n"
              "A3 n plain -0.5\nB3 n plain 0\nC3 n plain 12.25\nD3 s plain '1234567890123456'\n"
              "A5 s plain '<a href=\"x\">&amp;</a>'\nB5 s plain '  two  spaces  '\n"
              "C5 s plain 'caf\u00e9 \U0001F600'\nD5 s plain 'line\\nbreak\\ttab'\n"
              "SHEET q1 AB (2) freeze=A2\n"
              "Z1 s bold 'z'\nAA1 s bold 'aa'\nZZ1 s bold 'zz'\nAAA1 s bold 'aaa'\nXFD1 s bold 'last'\n"
              "SHEET Sheet3 freeze=A2\n"
              "SHEET <&> freeze=A2\nA1 s bold 'x'\n");
}

TEST(TableWriters, RefuseWhatTheyCannotWrite) {
    Document text = Doc({{u"just text"}}), wide = Doc({}, {{u"W", {std::vector<std::u16string>(16385)}}});
    Document tall = Doc({}, {{u"ok", {{u"x"}}}, {u"T", {}}});
    tall.tables[1].rows.resize(1048577);
    const std::tuple<Writer, const Document*, std::string> cases[] = {
        {WriteXlsx, &text, "Only tables (like CSV files) can become spreadsheets"},
        {WriteXlsx, &wide, "This table is too large for a spreadsheet (16384 columns max)"},
        {WriteXlsx, &tall, "This table is too large for a spreadsheet (1048576 rows max)"},
        {WriteOds, &text, "This file has no table to export"},
        {WriteJson, &text, "This file has no table to export"},
        {WriteCsv, &text, "This file has no table to export"},
        {WriteTsv, &text, "This file has no table to export"},
    };
    for (const auto& [writer, document, message] : cases)
        EXPECT_EQ(ErrorOf([&] { writer(*document); }), message);
}

TEST(OdsWriter, OdfpyReadsFloatTextsAsNumbersAndEveryTableAsAPaddedSheet) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.ods");
    WriteFile(path, WriteOds(Doc({{u"ignored"}}, {{u"Numbers <&>", {{u"42", u"1e5", u"-0.5", u"0x1A"},
                                                    {u"inf", u"nan", u" 5", u"007"},
                                                    {u"+5", u".5", u"1,5", u"1e"},
                                                    {u"c  d", u"e\tf\ng"}}},
                                  {u"", {{u"caf\u00e9 \U0001F600"}}}})));
    EXPECT_EQ(EntryNames(path), (std::vector<std::string>{"mimetype", "META-INF/manifest.xml", "content.xml",
                                                          "styles.xml"}));
    EXPECT_EQ(EntryData(path, "mimetype"), "application/vnd.oasis.opendocument.spreadsheet");
    EXPECT_EQ(PackageProblems(path), "");
    // Unlike a workbook's header, the first row is tested like any other.
    EXPECT_EQ(Python("read_ods.py", path),
              "TABLE Numbers <&> columns=4\n"
              "1,1 float 42 '42'\n1,2 float 1e5 '1e5'\n1,3 float -0.5 '-0.5'\n1,4 string  '0x1A'\n"
              "2,1 string  'inf'\n2,2 string  'nan'\n2,3 string  ' 5'\n2,4 float 007 '007'\n"
              "3,1 float +5 '+5'\n3,2 float .5 '.5'\n3,3 string  '1,5'\n3,4 string  '1e'\n"
              "4,1 string  'c  d'\n4,2 string  'e\\tf\\ng'\n4,3 string  ''\n4,4 string  ''\n"
              "TABLE Sheet2 columns=1\n1,1 string  'caf\u00e9 \U0001F600'\n");
}

TEST(JsonWriter, OneTableIsAListAndSeveralAnObjectInTheFixedLayout) {
    REQUIRE_TOOL("/usr/bin/python3");
    EXPECT_EQ(JsonWritten(Doc({}, {{u"T", {{u"name", u"age"}, {u"Ann", u"42"}, {u"Bob"}}}})).first,
              "[\n  {\"name\": \"Ann\", \"age\": 42},\n  {\"name\": \"Bob\", \"age\": \"\"}\n]");
    auto [json, read] = JsonWritten(Doc({{u"ignored"}}, {{u"People", {{u"n"}, {u"1"}}}, {u"Empty", {}},
                                                     {u"Header only", {{u"h"}}}, {u"", {{u"a"}}}, {u"People", {}}}));
    EXPECT_EQ(json, "{\n  \"People\": [\n  {\"n\": 1}\n],\n  \"Empty\": [],\n  \"Header only\": [],\n"
                    "  \"Sheet4\": [],\n  \"People (2)\": []\n}");
    EXPECT_EQ(read, "{\"People\":[{\"n\":1}],\"Empty\":[],\"Header only\":[],\"Sheet4\":[],\"People (2)\":[]}\n");
}

TEST(JsonWriter, NamesNumbersAndEscapesReadBackAsWritten) {
    REQUIRE_TOOL("/usr/bin/python3");
    // Numbers are bare only in JSON's own grammar; empty, missing and repeated names get numbered.
    auto [json, read] = JsonWritten(Doc({}, {{u"T", {{u"x", u"x", u"x (2)", u"", u"k\"ey"},
                                                 {u"1e5", u"-0.5", u"0", u"007", u"q\" b\\ n\n r\r t\t \u0001\u001F"},
                                                 {u"+5", u".5", u"0x1A", u"nan", u"\U0001F600\u2028", u"6"}}}}));
    EXPECT_NE(json.find("\"k\\\"ey\": \"q\\\" b\\\\ n\\n r\\r t\\t \\u0001\\u001f\""), std::string::npos);
    EXPECT_NE(json.find("\"k\\\"ey\": \"\xF0\x9F\x98\x80\xE2\x80\xA8\""), std::string::npos);  // as UTF-8
    EXPECT_EQ(read, "[{\"x\":100000.0,\"x (2)\":-0.5,\"x (2) (2)\":0,\"column4\":\"007\","
                    "\"k\\\"ey\":\"q\\\" b\\\\ n\\n r\\r t\\t \\u0001\\u001f\",\"column6\":\"\"},"
                    "{\"x\":\"+5\",\"x (2)\":\".5\",\"x (2) (2)\":\"0x1A\",\"column4\":\"nan\","
                    "\"k\\\"ey\":\"\\ud83d\\ude00\\u2028\",\"column6\":6}]\n");
}

TEST(DelimitedWriters, CsvQuotesAndTsvFlattensOnlyTheFirstTable) {
    REQUIRE_TOOL("/usr/bin/python3");
    Document document = Doc({{u"ignored"}}, {{u"first", {{u"plain", u"a,b"},
                                                         {u"say \"hi\"", u"line\nbreak"},
                                                         {u"cr\rhere", u"tab\there"},
                                                         {u"caf\u00e9 \U0001F600"},
                                                         {},
                                                         {u"", u" spaced "}}},
                                             {u"second", {{u"never"}}}});
    TempDir folder;
    WriteFile(folder.File("out.csv"), WriteCsv(document));
    WriteFile(folder.File("out.tsv"), WriteTsv(document));
    EXPECT_EQ(ReadFile(folder.File("out.csv")),
              "\xEF\xBB\xBFplain,\"a,b\"\r\n\"say \"\"hi\"\"\",\"line\nbreak\"\r\n\"cr\rhere\",tab\there\r\n"
              "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n\r\n, spaced \r\n");
    EXPECT_EQ(ReadFile(folder.File("out.tsv")),
              "plain\ta,b\r\nsay \"hi\"\tline break\r\ncr here\ttab here\r\ncaf\xC3\xA9 \xF0\x9F\x98\x80\r\n\r\n"
              "\t spaced \r\n");
    EXPECT_EQ(Python("import csv, json, sys\n"
                     "print(json.dumps(list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8-sig')))))",
                     folder.File("out.csv")),
              "[[\"plain\", \"a,b\"], [\"say \\\"hi\\\"\", \"line\\nbreak\"], [\"cr\\rhere\", \"tab\\there\"], "
              "[\"caf\\u00e9 \\ud83d\\ude00\"], [], [\"\", \" spaced \"]]\n");

    WriteFile(folder.File("empty.csv"), WriteCsv(Doc({}, {{u"", {}}})));
    WriteFile(folder.File("empty.tsv"), WriteTsv(Doc({}, {{u"", {}}})));
    EXPECT_EQ(ReadFile(folder.File("empty.csv")) + ReadFile(folder.File("empty.tsv")), "\xEF\xBB\xBF");
}
