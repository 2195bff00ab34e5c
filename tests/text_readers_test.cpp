// The text decoder and the readers over it: plain text, Markdown, delimited text, JSON.
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "support/document_support.h"

using namespace testing_support;

TEST(TextDecoder, MarksChooseTheEncodingElseUtf8ElseWindows1252) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"A\u00e9\u20ac\U0001F600"},                  // UTF-8 without a mark
        {"\xEF\xBB\xBF" "A\xC3\xA9", u"A\u00e9"},                                                 // UTF-8 with one
        {std::string("\xFF\xFE" "A\0\xAC\x20\x3D\xD8\x00\xDE\x41", 11), u"A\u20ac\U0001F600"},  // UTF-16 LE; odd byte dropped
        {std::string("\xFE\xFF" "\0A\x20\xAC", 6), u"A\u20ac"},                                  // UTF-16 BE
        {"caf\xE9 \x80\x81", u"caf\u00e9 \u20ac\u0081"},  // not UTF-8: 1252, whose holes keep their C1 values
        {"\xC3\xA9\xC0\xAF", u"\u00c3\u00a9\u00c0\u00af"},  // one bad sequence (an overlong "/") decides for the whole file
        {"\xE0\x80\xAF", u"\u00e0\u20ac\u00af"},             // overlong three-byte form
        {"\xED\xA0\x80", u"\u00ed\u00a0\u20ac"},             // encoded surrogate
        {"\xF4\x90\x80\x80", u"\u00f4\u0090\u20ac\u20ac"},   // past U+10FFFF
        {"\xE2\x82", u"\u00e2\u201a"},                       // cut short
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeTextBytes(bytes), text) << bytes;
}

TEST(TextDecoder, SixtyFourMebibytesAreReadButNotOneByteMore) {
    TempDir dir;
    const std::string path = dir.File("big.txt");
    WriteFile(path, "");
    std::filesystem::resize_file(path, 64u << 20);  // sparse: cheap at any size
    EXPECT_EQ(DecodeTextFile(path).size(), 64u << 20);
    std::filesystem::resize_file(path, (64u << 20) + 1);
    EXPECT_EQ(ErrorOf([&] { ReadPlainText(path, false, false); }), "This file is too large to convert");
}

TEST(PlainText, LinesAreBlocksAndMarkdownKeepsHeadingsAndListItems) {
    const std::tuple<const char*, bool, Lines> cases[] = {  // text, read as Markdown, blocks
        // CR LF, then an old Mac CR; a final line feed ends the last line rather than starting one.
        {"one\r\n\r\ntwo  \rthree\n\n", false, {"one", "", "two  ", "three", ""}},
        {"", false, {}},
        {"# Title\n- item **b**", false, {"# Title", "- item **b**"}},
        {"# One\n### Three\n#### Four\n###### Six\n####### Seven\n#NoSpace\n#   Spaced", true,
         {"<h1>One", "<h3>Three", "<h3>Four", "<h3>Six", "####### Seven", "#NoSpace", "<h1>Spaced"}},
        {"- dash\n* **star** `code`\n-   spaced\n-nospace\n1. numbered\n__strong__ but *em* and _em_", true,
         {"<li>dash", "<li>star code", "<li>spaced", "-nospace", "1. numbered", "strong but *em* and _em_"}},
    };
    for (const auto& [text, markdown, blocks] : cases)
        EXPECT_EQ(Blocks(ReadPlainTextContent(Utf8ToWide(text), markdown, false)), blocks) << text;
}

TEST(DelimitedReader, DelimiterQuotesAndRowEnds) {
    const std::pair<std::u16string, Rows> cases[] = {
        {u"a;b,c;d\n1;2,3;4", {{u"a", u"b,c", u"d"}, {u"1", u"2,3", u"4"}}},  // two semicolons beat one comma
        {u"a\tb\tc,d\n", {{u"a", u"b", u"c,d"}}},
        {u"a;b,c\tx\n", {{u"a;b", u"c\tx"}}},        // a tie goes to comma, then semicolon
        {u"header\n1,2;3", {{u"header"}, {u"1", u"2;3"}}},  // only the first line counts; none there: comma
        {u"\"a,b\",\"line\none\",\"say \"\"hi, you\"\"\"\r\nx", {{u"a,b", u"line\none", u"say \"hi, you\""}, {u"x"}}},
        {u"ab\"c,d\"e,f", {{u"abc,de", u"f"}}},  // a quote may open anywhere in a cell
        {u"a,\"b\nc", {{u"a", u"b\nc"}}},        // an unclosed quote runs to the end
        {u"a,b\r\n\r\nc\rd\n\nlast", {{u"a", u"b"}, {u"c"}, {u"d"}, {u"last"}}},  // blank lines give no rows
        {u"\"\"\n,\n", {{u""}, {u"", u""}}},
        {u"", {}},
    };
    for (const auto& [text, rows] : cases) EXPECT_EQ(ReadDelimitedContent(text, u"t").tables.at(0).rows, rows);
}

TEST(TextFiles, AreDecodedAndReadByExtension) {
    TempDir dir;
    ConvertContext context;
    const std::tuple<const char*, const char*, const char*> cases[] = {  // file, bytes, first block
        {"a.MD", "# x", "<h1>x"}, {"a.txt", "# x", "# x"}, {"a.log", "# x", "# x, preformatted"},
        {"page.htm", "<p>caf\xE9</p><!-- <p>hidden</p>", "caf\u00e9"},  // Windows-1252: 0xE9 is not UTF-8
    };
    for (const auto& [name, bytes, expected] : cases) {
        WriteFile(dir.File(name), bytes);
        Document document = ReadDocument(dir.File(name), context);
        EXPECT_EQ(Blocks(document).at(0) + (document.preformatted ? ", preformatted" : ""), expected);
    }
    WriteFile(dir.File("prices.2024.tsv"), std::string("\xFF\xFEn\0,\0\xE9\0\n\0", 10));  // UTF-16 LE "n,é\n"
    Document delimited = ReadDelimited(dir.File("prices.2024.tsv"));
    EXPECT_EQ(delimited.tables.at(0).name, u"prices.2024");
    EXPECT_EQ(delimited.tables[0].rows, (Rows{{u"n", u"\u00e9"}}));
    WriteFile(dir.File("people.json"), "\xEF\xBB\xBF[{\"name\": \"Zo\xC3\xAB\"}]");  // UTF-8 with a mark
    Document json = ReadJsonTable(dir.File("people.json"));
    EXPECT_EQ(json.tables.at(0).name, u"people");
    EXPECT_EQ(json.tables[0].rows, (Rows{{u"name"}, {u"Zo\u00eb"}}));
}

namespace {

const std::string kNotList = "This JSON isn't a list, so it can't become a table";
const std::string kNoList = "This JSON has no list to turn into a table";
const std::string kDamaged = "This JSON file is damaged";
const std::string kTooLarge = "This JSON file is too large to convert";

Rows JsonRows(std::string_view json) { return ReadJsonContent(json, u"t").tables.at(0).rows; }
std::string JsonError(std::string_view json) { return ErrorOf([&] { ReadJsonContent(json, u"t"); }); }

}  // namespace

TEST(JsonTableReader, ListItemsBecomeRows) {
    const std::pair<std::string, Rows> cases[] = {
        // Object keys name columns in order of first appearance, under a header row.
        {R"([{"a": 1, "b": 2}, {"b": 3, "c": 4}])", {{u"a", u"b", u"c"}, {u"1", u"2"}, {u"", u"3", u"4"}}},
        {R"([[1, "two", 3.50], "solo", [], true])", {{u"1", u"two", u"3.50"}, {u"solo"}, {}, {u"true"}}},
        // Values as written; nested ones keep their JSON text.
        {R"([{"n": null, "f": false, "x": -1.5e3, "o": {"k": [1, "]}"]}, "l": [ 1 , 2 ]}])",
         {{u"n", u"f", u"x", u"o", u"l"}, {u"", u"false", u"-1.5e3", uR"({"k": [1, "]}"]})", u"[ 1 , 2 ]"}}},
        {R"(["a\"b\\c\/d\n\t\r\b\f", "\u00e9\u20AC", "\ud83d\ude00", "\ud800x", "\q\u12"])",
         {{u"a\"b\\c/d\n\t\r\b\f"}, {u"\u00e9\u20ac"}, {u"\U0001F600"}, {u"\ufffdx"}, {u"qu12"}}},
        // In an object, the first member holding a list.
        {R"({"count": 2, "meta": {"x": [9]}, "items": [[1], [2]], "more": [[3]]})", {{u"1"}, {u"2"}}},
    };
    for (const auto& [json, rows] : cases) EXPECT_EQ(JsonRows(json), rows) << json;
}

TEST(JsonTableReader, NonListsAndDamageAreRefused) {
    const std::pair<std::string, std::string> cases[] = {
        {"42", kNotList},         {"", kNotList},           {R"({"count": 2})", kNoList},   {R"({"a": 1} [1])", kNoList},
        {R"({"a" 1})", kDamaged}, {"[1 2]", kDamaged},      {"[1, 2", kDamaged},           {"[}]", kDamaged},
        {R"([{"a": }])", kDamaged}, {R"([{1: 2}])", kDamaged}, {R"([[1 2]])", kDamaged},  {R"(["open)", kDamaged},
    };
    for (const auto& [json, message] : cases) EXPECT_EQ(JsonError(json), message) << json;
}

TEST(JsonTableReader, DepthRowsAndCellsAreBounded) {
    const size_t depth = 2000000;  // far deeper than any call stack could follow
    EXPECT_EQ(JsonRows("[" + std::string(depth, '[') + std::string(depth, ']') + "]").at(0).at(0).size(), 2 * depth - 2);
    EXPECT_EQ(JsonError("[" + std::string(depth, '{')), kDamaged);
    EXPECT_EQ(JsonError("{\"a\":" + std::string(depth, '{')), kNoList);
    EXPECT_EQ(JsonError("[" + Repeat("0,", 4000000) + "0]"), kTooLarge);
    // A row of more than 1,048,576 items keeps the first 1,048,576.
    Rows rows = JsonRows("[[" + Repeat("1,", 0x100004) + "1], [2]]");
    EXPECT_EQ(rows.at(0).size(), 0x100000u);
    EXPECT_EQ(rows.at(1), std::vector<std::u16string>{u"2"});
    // Padding counts: after an object of 5,000 keys, 4,000 rows of 5,000 cells each.
    std::string keys;
    for (int i = 0; i < 5000; ++i) keys += "\"k" + std::to_string(i) + "\":0,";
    EXPECT_EQ(JsonError("[{" + keys + "\"z\":0}" + Repeat(",{\"z\":1}", 4000) + "]"), kTooLarge);
}
