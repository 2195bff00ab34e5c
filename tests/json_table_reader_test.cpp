#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/test_support.h"

using testing_support::Rows;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

Rows RowsOf(std::string_view json) { return ReadJsonContent(json, u"data").tables.at(0).rows; }

std::string ErrorOf(std::string_view json) {
    return testing_support::ErrorOf([&] { ReadJsonContent(json, u"data"); });
}

}  // namespace

TEST(JsonTableReader, ObjectKeysBecomeColumnsInOrderOfFirstAppearance) {
    EXPECT_EQ(RowsOf(R"([{"a": 1, "b": 2}, {"b": 3, "c": 4}])"),
              (Rows{{u"a", u"b", u"c"}, {u"1", u"2"}, {u"", u"3", u"4"}}));
}

TEST(JsonTableReader, ArraysAndScalarsAreRowsAsWell) {
    EXPECT_EQ(RowsOf(R"([[1, "two", 3.50], "solo", 7, [], true])"),
              (Rows{{u"1", u"two", u"3.50"}, {u"solo"}, {u"7"}, {}, {u"true"}}));
}

TEST(JsonTableReader, CellTextOfEachKindOfValue) {
    EXPECT_EQ(RowsOf(R"([{"n": null, "t": true, "f": false, "x": -1.5e3,
                          "o": {"k": [1, "]}"]}, "l": [ 1 , 2 ]}])"),
              (Rows{{u"n", u"t", u"f", u"x", u"o", u"l"},
                    {u"", u"true", u"false", u"-1.5e3", uR"({"k": [1, "]}"]})", u"[ 1 , 2 ]"}}));
}

TEST(JsonTableReader, StringEscapes) {
    EXPECT_EQ(RowsOf(R"(["a\"b\\c\/d\n\t\r\b\f", "\u00e9\u20AC", "\ud83d\ude00", "\ud800x", "\q\u12"])"),
              (Rows{{u"a\"b\\c/d\n\t\r\b\f"}, {u"\u00e9\u20ac"}, {u"\U0001F600"}, {u"\ufffdx"}, {u"qu12"}}));
}

TEST(JsonTableReader, FirstListMemberOfAnObjectIsUsed) {
    EXPECT_EQ(RowsOf(R"({"count": 2, "meta": {"x": [9]}, "items": [[1], [2]], "more": [[3]]})"),
              (Rows{{u"1"}, {u"2"}}));
    EXPECT_EQ(ErrorOf(R"({"count": 2, "name": "x"})"), "This JSON has no list to turn into a table");
    EXPECT_EQ(ErrorOf("{}"), "This JSON has no list to turn into a table");
    EXPECT_EQ(ErrorOf(R"({"a" 1})"), "This JSON file is damaged");
}

TEST(JsonTableReader, NonListsAreRefused) {
    const std::string notList = "This JSON isn't a list, so it can't become a table";
    EXPECT_EQ(ErrorOf("42"), notList);
    EXPECT_EQ(ErrorOf("\"text\""), notList);
    EXPECT_EQ(ErrorOf(""), notList);
    EXPECT_EQ(ErrorOf(R"({"a": 1, "b": 2} [1])"), "This JSON has no list to turn into a table");
}

TEST(JsonTableReader, DamagedListsAreRefused) {
    const std::string damaged = "This JSON file is damaged";
    EXPECT_EQ(ErrorOf("[1 2]"), damaged);
    EXPECT_EQ(ErrorOf("[1, 2"), damaged);
    EXPECT_EQ(ErrorOf("[}]"), damaged);  // an item that makes no progress
    EXPECT_EQ(ErrorOf(R"([{"a" 1}])"), damaged);
    EXPECT_EQ(ErrorOf(R"([{"a": }])"), damaged);
    EXPECT_EQ(ErrorOf(R"([{1: 2}])"), damaged);
    EXPECT_EQ(ErrorOf(R"([[1 2]])"), damaged);
    EXPECT_EQ(ErrorOf(R"(["open)"), damaged);
}

TEST(JsonTableReader, DeepNestingNeedsNoStack) {
    const size_t depth = 2000000;
    std::string deep = "[" + std::string(depth, '[') + std::string(depth, ']') + "]";
    Rows rows = RowsOf(deep);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 1u);
    EXPECT_EQ(rows[0][0].size(), 2 * depth - 2);
    EXPECT_EQ(ErrorOf("[" + std::string(depth, '{')), "This JSON file is damaged");
    EXPECT_EQ(ErrorOf("{\"a\":" + std::string(depth, '{')), "This JSON has no list to turn into a table");
}

TEST(JsonTableReader, RowAndCellBounds) {
    std::string many = "[";
    for (size_t i = 0; i <= 4000000; ++i) many += "0,";
    many.back() = ']';
    EXPECT_EQ(ErrorOf(many), "This JSON file is too large to convert");

    // One row of more than 1,048,576 items keeps the first 1,048,576 and skips the rest.
    std::string wide = "[[";
    for (size_t i = 0; i < 0x100000 + 5; ++i) wide += "1,";
    wide.back() = ']';
    wide += ", [2]]";
    Rows rows = RowsOf(wide);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].size(), 0x100000u);
    EXPECT_EQ(rows[1], std::vector<std::u16string>{u"2"});

    // Padding counts: one object with 5,000 keys, then rows using only the last key
    // would need 5,000 cells each.
    std::string padded = "[{";
    for (int i = 0; i < 5000; ++i) padded += "\"k" + std::to_string(i) + "\":0,";
    padded.back() = '}';
    for (int i = 0; i < 4000; ++i) padded += ",{\"k4999\":1}";
    padded += "]";
    EXPECT_EQ(ErrorOf(padded), "This JSON file is too large to convert");
}

TEST(JsonTableReader, FileNameGivesTitleAndTableName) {
    TempDir dir;
    // UTF-8 with a mark, then a list of one object.
    WriteFile(dir.File("people.json"), "\xEF\xBB\xBF[{\"name\": \"Zo\xC3\xAB\"}]");
    Document document = ReadJsonTable(dir.File("people.json"));
    EXPECT_EQ(document.title, u"people");
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].name, u"people");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"name"}, {u"Zo\u00eb"}}));
    EXPECT_TRUE(document.blocks.empty());
}

TEST(JsonTableReader, BinaryGarbageFailsCleanly) {
    TempDir dir;
    std::string garbage = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>(i * 37));
    WriteFile(dir.File("image.json"), garbage);
    EXPECT_THROW(ReadJsonTable(dir.File("image.json")), ConvertError);
}
