#include <gtest/gtest.h>

#include "convert/core/text.h"

TEST(Text, Utf8Utf16AndFormatting) {
    std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5 \xF0\x9F\x98\x80";
    EXPECT_EQ(Utf8ToWide(text), u"Grüße 日 \U0001F600");
    EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
    // Broken sequences become replacement characters.
    EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");          // cut short at the end
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD");         // an overlong "/" is not a slash
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80x"), u"\uFFFDx");   // an encoded surrogate
    EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    std::string longText(1022, 'a');
    EXPECT_EQ(FormatText("%s\xC3\xBC", longText.c_str()), longText);  // a cut never splits a character
    EXPECT_EQ(FormatText("%s (%d)", "Holiday", 2), "Holiday (2)");
}
