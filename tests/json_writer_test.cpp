#include <gtest/gtest.h>

#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

std::string Written(const Document& document) {
    TempDir folder;
    std::string path = folder.File("out.json");
    WriteJson(document, path);
    return ReadFile(path);
}

// What Python's json module reads, printed back compactly with ASCII escapes; a
// parse error fails the test.
std::string PythonValue(const std::string& json) {
    TempDir folder;
    WriteFile(folder.File("in.json"), json);
    WriteFile(folder.File("read.py"),
              "import json, sys\n"
              "with open(sys.argv[1], encoding='utf-8') as f:\n"
              "    print(json.dumps(json.load(f), separators=(',', ':')))\n");
    CommandResult read =
        RunCommand("/usr/bin/python3 " + ShellQuote(folder.File("read.py")) + " " + ShellQuote(folder.File("in.json")));
    EXPECT_EQ(read.exitCode, 0) << read.output;
    return read.output;
}

Document OneTable(std::vector<std::vector<std::u16string>> rows) {
    Document document;
    document.tables = {MakeTable(u"T", std::move(rows))};
    return document;
}

}  // namespace

TEST(JsonWriter, OneTableIsAListOfObjectsInTheFixedLayout) {
    Document document = OneTable({{u"name", u"age"}, {u"Ann", u"42"}, {u"Bob"}});
    EXPECT_EQ(Written(document),
              "[\n"
              "  {\"name\": \"Ann\", \"age\": 42},\n"
              "  {\"name\": \"Bob\", \"age\": \"\"}\n"
              "]");
}

TEST(JsonWriter, SeveralTablesAreAnObjectKeyedByName) {
    REQUIRE_TOOL("/usr/bin/python3");
    Document document;
    document.blocks = {Paragraph(u"ignored")};
    document.tables = {MakeTable(u"People", {{u"n"}, {u"1"}}), MakeTable(u"Empty", {}),
                       MakeTable(u"Header only", {{u"h"}})};
    std::string json = Written(document);
    EXPECT_EQ(json,
              "{\n"
              "  \"People\": [\n"
              "  {\"n\": 1}\n"
              "],\n"
              "  \"Empty\": [],\n"
              "  \"Header only\": []\n"
              "}");
    EXPECT_EQ(PythonValue(json), "{\"People\":[{\"n\":1}],\"Empty\":[],\"Header only\":[]}\n");
}

TEST(JsonWriter, NumbersAreBareOnlyWhenJsonReadsThemAsNumbers) {
    REQUIRE_TOOL("/usr/bin/python3");
    Document document = OneTable({{u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j"},
                                  {u"1e5", u"-0.5", u"0", u"0x1A", u"inf", u"nan", u" 5", u"007", u"+5", u".5"}});
    std::string json = Written(document);
    EXPECT_NE(json.find("{\"a\": 1e5, \"b\": -0.5, \"c\": 0, \"d\": \"0x1A\", \"e\": \"inf\", \"f\": \"nan\", "
                        "\"g\": \" 5\", \"h\": \"007\", \"i\": \"+5\", \"j\": \".5\"}"),
              std::string::npos);
    EXPECT_EQ(PythonValue(json),
              "[{\"a\":100000.0,\"b\":-0.5,\"c\":0,\"d\":\"0x1A\",\"e\":\"inf\",\"f\":\"nan\",\"g\":\" 5\","
              "\"h\":\"007\",\"i\":\"+5\",\"j\":\".5\"}]\n");
}

TEST(JsonWriter, StringsEscapeQuotesBackslashesAndControlCharacters) {
    REQUIRE_TOOL("/usr/bin/python3");
    Document document = OneTable({{u"k\"ey"}, {u"q\" b\\ n\n r\r t\t \u0001\u001F caf\u00e9 \U0001F600 \u2028"}});
    std::string json = Written(document);
    EXPECT_EQ(json,
              "[\n  {\"k\\\"ey\": \"q\\\" b\\\\ n\\n r\\r t\\t \\u0001\\u001f caf\xC3\xA9 \xF0\x9F\x98\x80 "
              "\xE2\x80\xA8\"}\n]");
    EXPECT_EQ(PythonValue(json),
              "[{\"k\\\"ey\":\"q\\\" b\\\\ n\\n r\\r t\\t \\u0001\\u001f caf\\u00e9 \\ud83d\\ude00 \\u2028\"}]\n");
}

TEST(JsonWriter, EmptyOrMissingHeaderCellsAreNamedByColumn) {
    REQUIRE_TOOL("/usr/bin/python3");
    // The second header cell is empty and the header is shorter than the widest row.
    Document document = OneTable({{u"a", u""}, {u"1", u"2", u"3"}, {}});
    EXPECT_EQ(PythonValue(Written(document)),
              "[{\"a\":1,\"column2\":2,\"column3\":3},{\"a\":\"\",\"column2\":\"\",\"column3\":\"\"}]\n");
}

TEST(JsonWriter, RepeatedNamesAreNumberedSoNoValueIsHidden) {
    REQUIRE_TOOL("/usr/bin/python3");
    Document document = OneTable({{u"x", u"x", u"x (2)", u"column4", u""}, {u"1", u"2", u"3", u"4", u"5"}});
    EXPECT_EQ(PythonValue(Written(document)),
              "[{\"x\":1,\"x (2)\":2,\"x (2) (2)\":3,\"column4\":4,\"column5\":5}]\n");

    Document tables;
    tables.tables = {MakeTable(u"", {{u"a"}, {u"1"}}), MakeTable(u"", {{u"b"}, {u"2"}}),
                     MakeTable(u"Same", {{u"c"}, {u"3"}}), MakeTable(u"Same", {{u"d"}, {u"4"}})};
    EXPECT_EQ(PythonValue(Written(tables)),
              "{\"Sheet1\":[{\"a\":1}],\"Sheet2\":[{\"b\":2}],\"Same\":[{\"c\":3}],\"Same (2)\":[{\"d\":4}]}\n");
}

TEST(JsonWriter, DocumentWithoutTablesIsRefused) {
    TempDir folder;
    Document document;
    document.blocks = {Paragraph(u"text")};
    try {
        WriteJson(document, folder.File("out.json"));
        FAIL() << "wrote JSON without a table";
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.message, "This file has no table to export");
    }
    EXPECT_EQ(ListFolder(folder.path()), "");
}
