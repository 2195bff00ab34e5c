#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "convert/documents/document_files.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"
#include "support/document_support.h"
#include "support/test_support.h"

using testing_support::ErrorOf;
using testing_support::TempDir;
using testing_support::Texts;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

namespace {

std::u16string Decode(std::string_view bytes) {
    TempDir dir;
    WriteFile(dir.File("a.txt"), bytes);
    return DecodeTextFile(dir.File("a.txt"));
}

Document ReadText(std::string_view bytes, bool markdown = false) {
    TempDir dir;
    WriteFile(dir.File("a.txt"), bytes);
    return ReadPlainText(dir.File("a.txt"), markdown, false);
}

}  // namespace

TEST(TextDecoder, ByteOrderMarksChooseTheEncoding) {
    // "Aé€" as UTF-8 without a mark, UTF-8 with EF BB BF, UTF-16 LE (FF FE) and BE (FE FF).
    const std::u16string expected = u"A\u00e9\u20ac";
    EXPECT_EQ(Decode("A\xC3\xA9\xE2\x82\xAC"), expected);
    EXPECT_EQ(Decode("\xEF\xBB\xBF" "A\xC3\xA9\xE2\x82\xAC"), expected);
    EXPECT_EQ(Decode(std::string("\xFF\xFE" "A\0\xE9\0\xAC\x20", 8)), expected);
    EXPECT_EQ(Decode(std::string("\xFE\xFF" "\0A\0\xE9\x20\xAC", 8)), expected);
    // An odd last byte is dropped; surrogate pairs pass through.
    EXPECT_EQ(Decode(std::string("\xFF\xFE\x3D\xD8\x00\xDE\x41", 7)), u"\U0001F600");
    EXPECT_EQ(Decode(""), u"");
}

TEST(TextDecoder, InvalidUtf8IsReadAsWindows1252) {
    // 0xE9 alone is not UTF-8: the whole file is 1252, where 0x80 is the euro sign.
    EXPECT_EQ(Decode("caf\xE9 \x80 \x9C"), u"caf\u00e9 \u20ac \u0153");
    // One bad byte anywhere switches the whole file; the holes of 1252 keep their C1 values.
    EXPECT_EQ(Decode("\xC3\xA9 \xFF\x81"), u"\u00c3\u00a9 \u00ff\u0081");
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong three-byte form
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // encoded surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
    EXPECT_TRUE(IsValidUtf8("\xC3\xA9\xF0\x9F\x98\x80"));
}

TEST(TextDecoder, SizeLimitIsInclusive) {
    TempDir dir;
    for (uint64_t size : {kTextFileLimit, kTextFileLimit + 1}) {
        int fd = ::open(dir.File("big.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);  // sparse: cheap at any size
        ::close(fd);
        if (size == kTextFileLimit)
            EXPECT_EQ(DecodeTextFile(dir.File("big.txt")).size(), kTextFileLimit);
        else
            EXPECT_EQ(ErrorOf([&] { ReadPlainText(dir.File("big.txt"), false, false); }), "This file is too large to convert");
    }
    EXPECT_EQ(ErrorOf([&] { ReadPlainText(dir.File("missing.txt"), false, false); }), "Couldn't open the file");
}

TEST(PlainText, EveryLineIsOneBlockWithoutCarriageReturns) {
    EXPECT_EQ(Texts(ReadText("one\r\n\r\ntwo  \r\nthree")), (Lines{"one", "", "two  ", "three"}));
    // A final line feed ends the last line rather than starting an empty one.
    EXPECT_EQ(Texts(ReadText("a\n\n")), (Lines{"a", ""}));
    EXPECT_TRUE(ReadText("").blocks.empty());
    // Old Mac files end lines with a lone carriage return.
    EXPECT_EQ(Texts(ReadText("old\rmac\r")), (Lines{"old", "mac"}));
    // Plain mode leaves Markdown alone.
    Document plain = ReadText("# Title\n- item **b**");
    EXPECT_EQ(Texts(plain), (Lines{"# Title", "- item **b**"}));
    EXPECT_EQ(plain.blocks[0].level, 0);
    EXPECT_FALSE(plain.blocks[1].listItem);
}

TEST(PlainText, ExtensionsChooseModeAndPreformatting) {
    TempDir dir;
    ConvertContext context;
    for (const char* name : {"notes.MD", "notes.txt", "notes.cpp"}) WriteFile(dir.File(name), "# Head\n\tx\n");
    Document markdown = ReadDocument(dir.File("notes.MD"), context);
    EXPECT_EQ(markdown.blocks.at(0).level, 1);
    EXPECT_EQ(markdown.title, u"notes");
    Document text = ReadDocument(dir.File("notes.txt"), context);
    EXPECT_EQ(Texts(text), (Lines{"# Head", "\tx"}));
    EXPECT_FALSE(text.preformatted);
    EXPECT_TRUE(ReadDocument(dir.File("notes.cpp"), context).preformatted);
}

TEST(Markdown, HeadingsNeedOneToSixMarksAndASpace) {
    Document document = ReadText("# One\n### Three\n#### Four\n###### Six\n####### Seven\n#NoSpace\n#   Spaced\n", true);
    std::vector<std::pair<std::string, int32_t>> got;
    for (const auto& block : document.blocks) got.emplace_back(WideToUtf8(block.text), block.level);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int32_t>>{
                       {"One", 1}, {"Three", 3}, {"Four", 3}, {"Six", 3}, {"####### Seven", 0}, {"#NoSpace", 0}, {"Spaced", 1}}));
}

TEST(Markdown, ListItemsAndDroppedMarkers) {
    Document document = ReadText("- dash\n* **star** `code`\n-   spaced\n-nospace\n1. numbered\n"
                                 "__strong__ but *em* and _em_\n",
                                 true);
    EXPECT_EQ(Texts(document), (Lines{"dash", "star code", "spaced", "-nospace", "1. numbered", "strong but *em* and _em_"}));
    std::vector<bool> items;
    for (const auto& block : document.blocks) items.push_back(block.listItem);
    EXPECT_EQ(items, (std::vector<bool>{true, true, true, false, false, false}));
}

TEST(PlainText, BinaryGarbageReadsAsText) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    Document document = ReadText(garbage);
    EXPECT_FALSE(document.blocks.empty());
    for (const auto& block : document.blocks) EXPECT_EQ(block.text.find(u'\r'), std::u16string::npos);
}
