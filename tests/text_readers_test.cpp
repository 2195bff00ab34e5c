#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "convert/core/errors.h"
#include "convert/documents/document_files.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteFile;

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

std::vector<std::u16string> Texts(const Document& document) {
    std::vector<std::u16string> texts;
    for (const auto& block : document.blocks) texts.push_back(block.text);
    return texts;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no error";
}

// A sparse file of `size` zero bytes: cheap to make whatever its size.
void MakeSparseFile(const std::string& path, off_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

}  // namespace

TEST(TextDecoder, ByteOrderMarksChooseTheEncoding) {
    // "Aé€" as UTF-8 without a mark, UTF-8 with EF BB BF, UTF-16 LE (FF FE) and BE (FE FF).
    const std::u16string expected = u"A\u00e9\u20ac";
    EXPECT_EQ(Decode("A\xC3\xA9\xE2\x82\xAC"), expected);
    EXPECT_EQ(Decode("\xEF\xBB\xBF" "A\xC3\xA9\xE2\x82\xAC"), expected);
    EXPECT_EQ(Decode(std::string("\xFF\xFE" "A\0\xE9\0\xAC\x20", 8)), expected);
    EXPECT_EQ(Decode(std::string("\xFE\xFF" "\0A\0\xE9\x20\xAC", 8)), expected);
}

TEST(TextDecoder, Utf16DropsAnOddLastByteAndKeepsSurrogatePairs) {
    // LE mark, U+1F600 as D83D DE00, then one stray byte.
    EXPECT_EQ(Decode(std::string("\xFF\xFE\x3D\xD8\x00\xDE\x41", 7)), u"\U0001F600");
    // BE mark and a single byte after it: nothing.
    EXPECT_EQ(Decode("\xFE\xFF\x41"), u"");
}

TEST(TextDecoder, InvalidUtf8IsReadAsWindows1252) {
    // 0xE9 alone is not UTF-8: the whole file is 1252, where 0x80 is the euro sign.
    EXPECT_EQ(Decode("caf\xE9 \x80 \x9C"), u"caf\u00e9 \u20ac \u0153");
    // One bad byte anywhere switches the whole file, valid sequences included.
    EXPECT_EQ(Decode("\xC3\xA9 \xFF"), u"\u00c3\u00a9 \u00ff");
    // The five holes of 1252 keep their C1 values.
    EXPECT_EQ(Decode("\x81\x8D"), u"\u0081\u008d");
}

TEST(TextDecoder, StrictUtf8RejectsOverlongsSurrogatesAndTruncation) {
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong three-byte form
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // encoded surrogate D800
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\x80"));              // stray continuation byte
}

TEST(TextDecoder, EmptyFileIsEmptyText) { EXPECT_EQ(Decode(""), u""); }

TEST(TextDecoder, SizeLimitIsInclusive) {
    TempDir dir;
    MakeSparseFile(dir.File("exact.txt"), static_cast<off_t>(kTextFileLimit));
    EXPECT_EQ(DecodeTextFile(dir.File("exact.txt")).size(), kTextFileLimit);
    MakeSparseFile(dir.File("over.txt"), static_cast<off_t>(kTextFileLimit + 1));
    EXPECT_EQ(ErrorOf([&] { ReadPlainText(dir.File("over.txt"), false, false); }), "This file is too large to convert");
    EXPECT_EQ(ErrorOf([&] { ReadPlainText(dir.File("missing.txt"), false, false); }), "Couldn't open the file");
}

TEST(PlainText, EveryLineIsOneBlockWithoutCarriageReturns) {
    Document document = ReadText("one\r\n\r\ntwo  \r\nthree");
    EXPECT_EQ(Texts(document), (std::vector<std::u16string>{u"one", u"", u"two  ", u"three"}));
    for (const auto& block : document.blocks) {
        EXPECT_EQ(block.level, 0);
        EXPECT_FALSE(block.listItem);
    }
    EXPECT_FALSE(document.preformatted);
}

TEST(PlainText, FinalLineFeedAddsNoEmptyBlock) {
    EXPECT_EQ(Texts(ReadText("a\nb\n")), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(Texts(ReadText("a\n\n")), (std::vector<std::u16string>{u"a", u""}));
    EXPECT_TRUE(ReadText("").blocks.empty());
}

TEST(PlainText, LoneCarriageReturnsEndLines) {
    EXPECT_EQ(Texts(ReadText("old\rmac\r")), (std::vector<std::u16string>{u"old", u"mac"}));
}

TEST(PlainText, PlainModeLeavesMarkdownAlone) {
    EXPECT_EQ(Texts(ReadText("# Title\n- item **b**")), (std::vector<std::u16string>{u"# Title", u"- item **b**"}));
}

TEST(PlainText, PreformattedFlagIsPassedThrough) {
    TempDir dir;
    WriteFile(dir.File("code.cpp"), "int main() {\n\treturn 0;\n}\n");
    Document document = ReadPlainText(dir.File("code.cpp"), false, true);
    EXPECT_TRUE(document.preformatted);
    EXPECT_EQ(Texts(document), (std::vector<std::u16string>{u"int main() {", u"\treturn 0;", u"}"}));
}

TEST(Markdown, HeadingsNeedOneToSixMarksAndASpace) {
    Document document = ReadText("# One\n## Two\n### Three\n#### Four\n###### Six\n####### Seven\n#NoSpace\n", true);
    std::vector<std::pair<std::u16string, int32_t>> got;
    for (const auto& block : document.blocks) got.emplace_back(block.text, block.level);
    EXPECT_EQ(got, (std::vector<std::pair<std::u16string, int32_t>>{{u"One", 1},
                                                                    {u"Two", 2},
                                                                    {u"Three", 3},
                                                                    {u"Four", 3},
                                                                    {u"Six", 3},
                                                                    {u"####### Seven", 0},
                                                                    {u"#NoSpace", 0}}));
}

TEST(Markdown, DashAndStarItemsAreListItems) {
    Document document = ReadText("- dash\n* star\n-nospace\n1. numbered\n-   spaced\n#   Spaced\n", true);
    ASSERT_EQ(document.blocks.size(), 6u);
    // Extra space after a marker is layout, not text.
    EXPECT_TRUE(document.blocks[4].listItem);
    EXPECT_EQ(document.blocks[4].text, u"spaced");
    EXPECT_EQ(document.blocks[5].level, 1);
    EXPECT_EQ(document.blocks[5].text, u"Spaced");
    EXPECT_TRUE(document.blocks[0].listItem);
    EXPECT_EQ(document.blocks[0].text, u"dash");
    EXPECT_TRUE(document.blocks[1].listItem);
    EXPECT_EQ(document.blocks[1].text, u"star");
    EXPECT_FALSE(document.blocks[2].listItem);
    EXPECT_EQ(document.blocks[2].text, u"-nospace");
    EXPECT_FALSE(document.blocks[3].listItem);
    EXPECT_EQ(document.blocks[3].text, u"1. numbered");
}

TEST(Markdown, BoldAndCodeMarkersGoSingleEmphasisStays) {
    Document document = ReadText("**bold** and __strong__ with `code` but *em* and _em_\n"
                                 "* **item** text\n"
                                 "## `code` heading\n",
                                 true);
    ASSERT_EQ(document.blocks.size(), 3u);
    EXPECT_EQ(document.blocks[0].text, u"bold and strong with code but *em* and _em_");
    EXPECT_TRUE(document.blocks[1].listItem);
    EXPECT_EQ(document.blocks[1].text, u"item text");
    EXPECT_EQ(document.blocks[2].text, u"code heading");
    EXPECT_EQ(document.blocks[2].level, 2);
}

TEST(Markdown, ReadDocumentPicksModesByExtension) {
    TempDir dir;
    ConvertContext context;
    WriteFile(dir.File("notes.MD"), "# Head\n");
    WriteFile(dir.File("notes.txt"), "# Head\n");
    WriteFile(dir.File("notes.log"), "# Head\n");
    Document markdown = ReadDocument(dir.File("notes.MD"), context);
    EXPECT_EQ(markdown.blocks.at(0).level, 1);
    EXPECT_EQ(markdown.title, u"notes");
    Document text = ReadDocument(dir.File("notes.txt"), context);
    EXPECT_EQ(text.blocks.at(0).text, u"# Head");
    EXPECT_FALSE(text.preformatted);
    EXPECT_TRUE(ReadDocument(dir.File("notes.log"), context).preformatted);
}

TEST(PlainText, BinaryGarbageReadsAsText) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    Document document = ReadText(garbage);
    EXPECT_FALSE(document.blocks.empty());
    for (const auto& block : document.blocks) EXPECT_EQ(block.text.find(u'\r'), std::u16string::npos);
}
