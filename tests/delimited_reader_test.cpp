#include <chrono>

#include <gtest/gtest.h>

#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "support/document_support.h"
#include "support/test_support.h"

using testing_support::Rows;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

Rows RowsOf(std::u16string_view text) {
    Document document = ReadDelimitedContent(text, u"t");
    EXPECT_EQ(document.tables.size(), 1u);
    EXPECT_TRUE(document.blocks.empty());
    return document.tables.at(0).rows;
}

}  // namespace

TEST(DelimitedReader, DelimiterIsTheMostFrequentInTheFirstLine) {
    // Two semicolons beat one comma.
    EXPECT_EQ(RowsOf(u"a;b,c;d\n1;2,3;4"), (Rows{{u"a", u"b,c", u"d"}, {u"1", u"2,3", u"4"}}));
    // Tabs win even in a file named .csv.
    EXPECT_EQ(RowsOf(u"a\tb\tc,d\n"), (Rows{{u"a", u"b", u"c,d"}}));
    // A tie goes to the earlier of comma, semicolon, tab.
    EXPECT_EQ(RowsOf(u"a;b,c\tx\n"), (Rows{{u"a;b", u"c\tx"}}));
    // No delimiter in the first line: comma, even when later lines hold semicolons.
    EXPECT_EQ(RowsOf(u"header\n1,2;3"), (Rows{{u"header"}, {u"1", u"2;3"}}));
}

TEST(DelimitedReader, QuotedCellsHoldDelimitersLineBreaksAndQuotes) {
    EXPECT_EQ(RowsOf(u"\"a,b\",\"line\none\",\"say \"\"hi\"\"\"\r\nx,y,z"),
              (Rows{{u"a,b", u"line\none", u"say \"hi\""}, {u"x", u"y", u"z"}}));
    // A quote may open anywhere in a cell.
    EXPECT_EQ(RowsOf(u"ab\"c,d\"e,f"), (Rows{{u"abc,de", u"f"}}));
    // An unclosed quote runs to the end of the text.
    EXPECT_EQ(RowsOf(u"a,\"b\nc"), (Rows{{u"a", u"b\nc"}}));
}

TEST(DelimitedReader, RowEndsAndBlankLines) {
    // CR LF, lone CR and LF all end rows; blank lines give none; no final line break needed.
    EXPECT_EQ(RowsOf(u"a,b\r\n\r\nc,d\re,f\n\nlast"), (Rows{{u"a", u"b"}, {u"c", u"d"}, {u"e", u"f"}, {u"last"}}));
    // A line of two quotes or of a lone delimiter is a row of empty cells.
    EXPECT_EQ(RowsOf(u"\"\"\n,\n"), (Rows{{u""}, {u"", u""}}));
    // Rows keep their own lengths.
    EXPECT_EQ(RowsOf(u"a,b,c\n1\n"), (Rows{{u"a", u"b", u"c"}, {u"1"}}));
    EXPECT_TRUE(RowsOf(u"").empty());
}

TEST(DelimitedReader, FileIsDecodedAndNamedAfterItsStem) {
    TempDir dir;
    // UTF-16 LE with a mark: "n,é\n".
    WriteFile(dir.File("prices.2024.tsv"), std::string("\xFF\xFEn\0,\0\xE9\0\n\0", 10));
    ConvertContext context;
    Document document = ReadDocument(dir.File("prices.2024.tsv"), context);
    ASSERT_EQ(document.tables.size(), 1u);
    EXPECT_EQ(document.tables[0].name, u"prices.2024");
    EXPECT_EQ(document.title, u"prices.2024");
    EXPECT_EQ(document.tables[0].rows, (Rows{{u"n", u"\u00e9"}}));
}

TEST(DelimitedReader, BinaryGarbageGivesABoundedTable) {
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 65536; ++i) garbage.push_back(static_cast<char>((i * 7919 + 13) >> 3));
    WriteFile(dir.File("junk.csv"), garbage);
    Document document = ReadDelimited(dir.File("junk.csv"));
    size_t cells = 0;
    for (const auto& row : document.tables.at(0).rows) cells += row.size();
    EXPECT_LE(cells, garbage.size());
}

TEST(DelimitedReader, FiveMegabytesReadInWellUnderASecond) {
    std::u16string text;
    text.reserve(5u << 20);
    text += u"id,name,note,amount\n";
    for (int i = 0; text.size() < (5u << 20); ++i)
        text += u"12345,\"Surname, Given\",\"multi\nline\",3.14159\n";
    auto start = std::chrono::steady_clock::now();
    Document document = ReadDelimitedContent(text, u"big");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(document.tables.at(0).rows.size(), 100000u);
    EXPECT_EQ(document.tables[0].rows[1][2], u"multi\nline");
    EXPECT_LT(seconds, 0.5);
}
