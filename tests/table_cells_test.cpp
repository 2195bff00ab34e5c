#include <gtest/gtest.h>

#include "convert/documents/table_cells.h"
#include "support/package_checks.h"

using namespace testing_support;

TEST(TableCells, PlainDecimalsAreWhatASpreadsheetKeepsExactly) {
    for (const char16_t* number : {u"0", u"-0", u"12.25", u"-0.5", u"0.5", u"42", u"123456789012345", u".5",
                                   u"-.5", u"10"})
        EXPECT_TRUE(IsPlainDecimal(number)) << std::string(number, number + std::char_traits<char16_t>::length(number));
    for (const char16_t* text : {u"", u"-", u".", u"1.", u"007", u"-01", u"00.5", u"1e5", u"+5", u"1.2.3",
                                 u"1234567890123456", u" 5", u"5 ", u"1,5", u"--1", u"\uFF11", u"0x1A"})
        EXPECT_FALSE(IsPlainDecimal(text)) << std::string(text, text + std::char_traits<char16_t>::length(text));
}

TEST(TableCells, FloatTextsAreWholeCLocaleNumbers) {
    for (const char16_t* number : {u"1e5", u"-0.5", u"+5", u".5", u"5.", u"007", u"1E-3", u"-1.5e+10", u"0",
                                   u"123456789012345678901234567890", u"1e999"})
        EXPECT_TRUE(IsFloatText(number)) << std::string(number, number + std::char_traits<char16_t>::length(number));
    for (const char16_t* text : {u"", u"0x1A", u"0X1A", u"inf", u"-INF", u"nan", u"NaN", u"infinity", u" 5", u"5 ",
                                 u"1e", u"1e+", u"e5", u".", u"+", u"-", u"1.2.3", u"1,5", u"1_000", u"\uFF11",
                                 u"1234567890123456789012345678901", u"12abc", u"--5"})
        EXPECT_FALSE(IsFloatText(text)) << std::string(text, text + std::char_traits<char16_t>::length(text));
}

TEST(TableCells, JsonNumbersFollowJsonGrammar) {
    for (const char16_t* number : {u"0", u"-0", u"1e5", u"1E+5", u"-0.5", u"12.25", u"1e999"})
        EXPECT_TRUE(IsJsonNumber(number));
    for (const char16_t* text : {u"", u"+5", u".5", u"5.", u"007", u"-", u"1e", u"1.e5", u"01.5"})
        EXPECT_FALSE(IsJsonNumber(text));
}

TEST(TableCells, SheetNamesDropForbiddenCharactersAndFillEmptyOnes) {
    std::vector<Table> tables = {MakeTable(u"Q1: sales/costs", {}), MakeTable(u"[*?]", {}), MakeTable(u"", {}),
                                 MakeTable(u"a\\b", {}), MakeTable(u"tab\there\u0001", {}), MakeTable(u"\uFFFF", {})};
    EXPECT_EQ(SheetNames(tables),
              (std::vector<std::u16string>{u"Q1 salescosts", u"Sheet2", u"Sheet3", u"ab", u"tabhere", u"Sheet6"}));
}

TEST(TableCells, SheetNamesAreCutTo31UnitsWithoutSplittingACharacter) {
    std::u16string longName(40, u'x');
    std::u16string pairAtTheCut = std::u16string(30, u'y') + u"\U0001F600z";
    auto names = SheetNames({MakeTable(longName, {}), MakeTable(pairAtTheCut, {})});
    EXPECT_EQ(names[0], std::u16string(31, u'x'));
    EXPECT_EQ(names[1], std::u16string(30, u'y'));
}

TEST(TableCells, SheetNamesNeverBeginOrEndWithAnApostrophe) {
    auto names = SheetNames({MakeTable(u"'quoted'", {}), MakeTable(u"'''", {}),
                             MakeTable(std::u16string(30, u'a') + u"'b", {})});
    EXPECT_EQ(names, (std::vector<std::u16string>{u"quoted", u"Sheet2", std::u16string(30, u'a')}));
}

TEST(TableCells, RepeatedSheetNamesAreNumberedIgnoringCase) {
    std::vector<Table> tables = {MakeTable(u"Data", {}), MakeTable(u"data", {}), MakeTable(u"DATA", {}),
                                 MakeTable(u"Data (2)", {}), MakeTable(u"Sheet5", {}), MakeTable(u"", {}),
                                 MakeTable(std::u16string(31, u'z'), {}), MakeTable(std::u16string(31, u'z'), {})};
    EXPECT_EQ(SheetNames(tables),
              (std::vector<std::u16string>{u"Data", u"data (2)", u"DATA (3)", u"Data (2) (2)", u"Sheet5",
                                           u"Sheet6", std::u16string(31, u'z'), std::u16string(27, u'z') + u" (2)"}));
    // An unnamed table whose "Sheet" + number is taken gets numbered too.
    auto clash = SheetNames({MakeTable(u"Sheet2", {}), MakeTable(u"", {})});
    EXPECT_EQ(clash, (std::vector<std::u16string>{u"Sheet2", u"Sheet2 (2)"}));
}
