// The layout analysis of PDF text: lines to paragraphs, headings and list items,
// page numbers, lines from recognised words and from a text layer, when a text layer
// stands for its page, and the choice of recognition language.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/core/text.h"
#include "convert/pdf/pdf_text_layout.h"
#include "convert/pdf/recognition_language.h"
#include "support/document_support.h"

using namespace testing_support;

namespace {

// A line of body text 15 pixels high at the given top, running to the right margin.
TextLine Body(const char* text, double top, double right = 600, double height = 15) {
    return TextLine{Utf8ToWide(text), 50, top, right, height};
}

Lines Analyse(std::vector<TextLine> lines, double pageHeight = 1000) {
    Document document;
    DropPageNumbers(lines, pageHeight);
    AppendPageBlocks(document, lines, false);
    return Blocks(document);
}

pdfengine::LayerWord Word(const char* text, double left, double top, double right, double bottom, bool space = true) {
    return pdfengine::LayerWord{Utf8ToWide(text), left, top, right, bottom, space, 0};
}

}  // namespace

TEST(PdfTextLayout, LinesBecomeParagraphsHeadingsAndListItems) {
    struct Case {
        const char* name;
        std::vector<TextLine> lines;
        Lines blocks;
    };
    const Case cases[] = {
        {"lines 5 px apart join; a 20 px gap (over 0.75 x 15) starts a paragraph",
         {Body("one", 100), Body("two", 120), Body("three", 155)},
         {"one two", "three"}},
        {"a gap of exactly 0.75 x median still joins, a hair more does not",
         {Body("one", 100), Body("two", 126.25), Body("three", 152.51)},
         {"one two", "three"}},
        {"the median is the upper middle of an even count: 20 is no heading over 10 and 20",
         {Body("Big", 100, 600, 20), Body("small", 300, 600, 10)},
         {"Big", "small"}},
        {"a line overlapping the last by more than the median starts anew; by the median it joins",
         {Body("one", 100), Body("two", 99.9), Body("three", 99.9)},
         {"one", "two three"}},
        {"a line ending before 70 % of the widest right edge ends its paragraph",
         {Body("short", 100, 419), Body("next", 120), Body("long", 140, 420), Body("joined", 160)},
         {"short", "next long joined"}},
        {"median 15: 30 px is heading 1, 21 px heading 2, 19 px body; the tallest line counts",
         {Body("Title", 100, 600, 30), Body("Sub", 200, 600, 21), Body("Plain", 300, 600, 19), Body("a", 400),
          Body("b", 500), Body("c", 600), Body("d", 700)},
         {"<h1>Title", "<h2>Sub", "Plain", "a", "b", "c", "d"}},
        {"lines outside 0.8..1.25 of the paragraph's tallest line start anew",
         {Body("big", 100, 600, 20), Body("small", 122, 600, 15.9), Body("same", 140, 600, 16), Body("x", 300),
          Body("y", 400), Body("z", 500), Body("w", 600)},
         {"<h2>big", "small same", "x", "y", "z", "w"}},
        {"two tall lines make a heading, three are body text",
         {Body("Big", 100, 600, 30), Body("Head", 132, 600, 30), Body("A", 300, 600, 30), Body("B", 332, 600, 30),
          Body("C", 364, 600, 30), Body("m", 500), Body("n", 600), Body("o", 700), Body("p", 800), Body("q", 900),
          Body("r", 950)},
         {"<h1>Big Head", "A B C", "m", "n", "o", "p", "q", "r"}},
        {"every marker makes a list item without the marker; never a heading; items don't join",
         {Body("\xE2\x80\xA2 bullet", 100, 600, 30), Body("\xE2\x97\xA6 white", 120), Body("\xE2\x96\xAA square", 140),
          Body("\xC2\xB7 middle", 160), Body("- dash", 180), Body("\xE2\x80\x93 en", 200), Body("* star", 220),
          Body("wrapped", 240), Body("-not", 300), Body("x", 400), Body("y", 500)},
         {"<li>bullet", "<li>white", "<li>square", "<li>middle", "<li>dash", "<li>en", "<li>star wrapped", "-not", "x",
          "y"}},
        {"a hyphen joins only before a lower-case letter, also a Latin-1 or Latin Extended one",
         {Body("exam-", 100), Body("ple and-", 120), Body("Ple then-", 140), Body("\xC3\xBC" "ber and-", 160),
          Body("\xC5\x82\xC3\xB3" "d\xC5\xBA or-", 180), Body("\xC5\x81" "ódź", 200)},
         {"example and- Ple thenüber andłódź or- Łódź"}},
        {"a list line holding only its marker gives no block",
         {Body("- ", 100), Body("x", 300)},
         {"x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Analyse(c.lines), c.blocks) << c.name;
}

TEST(PdfTextLayout, PageNumbersAtTheBottomAreDropped) {
    // Rendered page 1000 pixels high: the bottom zone starts below 900.
    EXPECT_EQ(Analyse({Body("Text", 100, 300), Body("12", 950, 80)}), (Lines{"Text"}));
    EXPECT_EQ(Analyse({Body("Text", 100, 300), Body("12", 500, 80)}), (Lines{"Text", "12"}));
    EXPECT_EQ(Analyse({Body("Text", 100, 300), Body("12", 900, 80)}), (Lines{"Text", "12"}));  // on the line
    EXPECT_EQ(Analyse({Body("Text", 100, 300), Body("9999", 950, 80), Body("12345", 970, 80)}),
              (Lines{"Text", "12345"}));
    EXPECT_EQ(Analyse({Body("Text", 100, 300), Body("12a", 950, 80), Body("", 500)}), (Lines{"Text", "12a"}));
}

TEST(PdfTextLayout, PageBreakComesBeforeTheFirstBlockOfALaterPage) {
    Document document;
    AppendPageBlocks(document, {Body("first", 100, 300)}, false);
    AppendPageBlocks(document, {}, true);  // an empty page adds nothing, not even its break
    AppendPageBlocks(document, {Body("second", 100, 300), Body("third", 300, 300)}, true);
    EXPECT_EQ(Blocks(document), (Lines{"first", "<page>second", "third"}));
}

TEST(PdfTextLayout, RecognisedLinesKeepConfidentWordsAndTheirBox) {
    using pdfengine::RecognisedWord;
    std::vector<pdfengine::RecognisedLine> recognised = {
        {RecognisedWord{"Hello", 10, 20, 50, 12, 96}, RecognisedWord{"~", 70, 18, 5, 30, 12},
         RecognisedWord{"w\xC3\xB6rld", 90, 15, 60, 14, 40}},
        {RecognisedWord{".,", 0, 0, 3, 3, 39.9f}},
        {},
    };
    std::vector<TextLine> lines = LinesFromRecognition(recognised);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(WideToUtf8(lines[0].text), "Hello w\xC3\xB6rld");
    EXPECT_EQ(lines[0].left, 10);
    EXPECT_EQ(lines[0].top, 15);
    EXPECT_EQ(lines[0].right, 150);
    EXPECT_EQ(lines[0].height, 14);
}

TEST(PdfTextLayout, TextLayerWordsGroupIntoLinesInPixels) {
    std::vector<pdfengine::LayerWord> words = {
        Word("The", 72, 100, 90, 111),
        Word("quick", 92, 100, 120, 111, false),  // no space: the next word is glued unless a gap says otherwise
        Word(",", 120.2, 100, 122, 111, false),
        Word("fox", 140, 101, 160, 110, false),  // a gap wider than 0.15 x height is a space
        Word("next", 72, 114, 95, 125),          // steps back left: a new line
        Word("sup", 96, 112, 104, 118),          // overlaps the line by more than half its height
        Word("  ", 200, 114, 210, 125),          // spaces alone are no word
        Word("far", 300, 130, 320, 141),         // below: a new line
    };
    words.push_back(pdfengine::LayerWord{u"up", 330, 130, 341, 150, false, 3});  // turned text: a line of its own
    PageLines page = LinesFromTextLayer(words, 612, 792, 2.0);
    EXPECT_EQ(page.height, 1584);
    const std::vector<TextLine>& lines = page.lines;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(WideToUtf8(lines[0].text), "The quick, fox");
    EXPECT_EQ(WideToUtf8(lines[1].text), "next sup");
    EXPECT_EQ(WideToUtf8(lines[2].text), "far");
    EXPECT_EQ(WideToUtf8(lines[3].text), "up");
    EXPECT_EQ(lines[0].left, 144);
    EXPECT_EQ(lines[0].top, 200);
    EXPECT_EQ(lines[0].right, 320);
    EXPECT_EQ(lines[0].height, 22);
    EXPECT_EQ(lines[1].top, 224);
    EXPECT_EQ(lines[1].height, 22);
}

TEST(PdfTextLayout, TurnedTextIsReadInItsOwnFrame) {
    // Two lines set on a portrait page of 600 x 800 points, then seen turned: each turn
    // must give back the unturned lines, boxes and page height.
    const std::vector<pdfengine::LayerWord> upright = {Word("first", 100, 100, 140, 110), Word("line", 145, 100, 170, 110),
                                                       Word("second", 100, 200, 150, 210)};
    struct Turned {
        int turn;
        double width, height;  // the page as shown
    };
    for (const Turned& t : {Turned{0, 600, 800}, Turned{1, 800, 600}, Turned{2, 600, 800}, Turned{3, 800, 600}}) {
        std::vector<pdfengine::LayerWord> words;
        for (pdfengine::LayerWord word : upright) {
            pdfengine::LayerWord shown = word;
            if (t.turn == 1)  // turned a quarter clockwise: what was at the top is at the right
                shown.left = 800 - word.bottom, shown.right = 800 - word.top, shown.top = word.left, shown.bottom = word.right;
            if (t.turn == 2)
                shown.left = 600 - word.right, shown.right = 600 - word.left, shown.top = 800 - word.bottom,
                shown.bottom = 800 - word.top;
            if (t.turn == 3)
                shown.left = word.top, shown.right = word.bottom, shown.top = 600 - word.right, shown.bottom = 600 - word.left;
            shown.turn = t.turn;
            words.push_back(shown);
        }
        words.push_back(Word("x", 1, 1, 2, 2));  // one character of another turn loses the vote
        words.back().turn = (t.turn + 1) % 4;
        PageLines page = LinesFromTextLayer(words, t.width, t.height, 1.0);
        ASSERT_EQ(page.lines.size(), 3u) << t.turn;
        EXPECT_EQ(WideToUtf8(page.lines[0].text), "first line") << t.turn;
        EXPECT_EQ(WideToUtf8(page.lines[1].text), "second") << t.turn;
        EXPECT_EQ(page.lines[0].left, 100) << t.turn;
        EXPECT_EQ(page.lines[0].top, 100) << t.turn;
        EXPECT_EQ(page.lines[0].right, 170) << t.turn;
        EXPECT_EQ(page.lines[1].top, 200) << t.turn;
        EXPECT_EQ(page.height, 800) << t.turn;
    }
}

TEST(PdfTextLayout, TextLayerStandsForThePageOnlyWithRealText) {
    // A 612 x 792 page: 2 % of it is 9,694 square points.
    auto line = [](const char* text, double width, double height) {
        return std::vector<pdfengine::LayerWord>{Word(text, 50, 50, 50 + width, 50 + height)};
    };
    const std::string forty(40, 'a');
    struct Case {
        const char* name;
        std::vector<pdfengine::LayerWord> words;
        bool covers;
        size_t characters;
    };
    const Case cases[] = {
        {"a page of text", line(forty.c_str(), 500, 20), true, 40},
        {"enough text on too little of the page", line(forty.c_str(), 400, 20), false, 40},
        {"31 characters of a stamp", line(std::string(31, 'x').c_str(), 900, 20), false, 31},
        {"a page number", line("12", 20, 10), false, 2},
        {"a few glyphs that map to nothing",
         line((forty + "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD").c_str(), 500, 20), true, 40},
        {"more than one in ten unmapped",
         line((std::string(36, 'a') + "\xEF\xBF\xBD\xEF\xBF\xBD\xEE\x80\x80\xF3\xB0\x80\x80\xEF\xBF\xBD").c_str(), 500,
              20),
         false, 36},
        {"only private-use glyphs", line("\xEE\x80\x80\xEE\x80\x81", 500, 20), false, 0},
        {"no words", {}, false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextLayerCoversPage(c.words, 612, 792), c.covers) << c.name;
        EXPECT_EQ(TextLayerCharacters(c.words), c.characters) << c.name;
    }
}

TEST(RecognitionLanguage, LocalesMapToDataNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"de_DE.UTF-8", "deu"},  {"en_US", "eng"},        {"pt_BR.utf8", "por"}, {"nb_NO", "nor"},
        {"zh_CN.UTF-8", "chi_sim"}, {"zh_TW", "chi_tra"}, {"zh_HK.Big5", "chi_tra"}, {"zh", "chi_sim"},
        {"sr_RS@latin", "srp_latn"}, {"sr_RS", "srp"},   {"uz_UZ.UTF-8@cyrillic", "uzb_cyrl"}, {"FR_fr", "fra"},
        {"C", ""},                {"POSIX", ""},         {"C.UTF-8", ""},       {"xx_YY", ""}, {"", ""},
    };
    for (const auto& [locale, name] : cases) EXPECT_EQ(RecognitionDataName(locale), name) << locale;

    EXPECT_EQ(PreferredRecognitionLanguages({"fr:de_AT:fr_CA", "", "", "en_GB.UTF-8"}),
              (std::vector<std::string>{"fra", "deu", "eng"}));
    // LC_ALL wins over LC_MESSAGES over LANG; LANGUAGE is ignored under the C locale.
    EXPECT_EQ(PreferredRecognitionLanguages({"", "it_IT", "de_DE", "es_ES"}), (std::vector<std::string>{"ita"}));
    EXPECT_EQ(PreferredRecognitionLanguages({"", "", "de_DE", "es_ES"}), (std::vector<std::string>{"deu"}));
    EXPECT_EQ(PreferredRecognitionLanguages({"de", "C.UTF-8", "", ""}), (std::vector<std::string>{}));
}

TEST(RecognitionLanguage, FirstInstalledPreferenceElseEnglishElseNone) {
    TempDir data;
    const LocaleSettings german{"", "", "", "de_DE.UTF-8"}, polish{"pl:de", "", "", "pl_PL"};
    EXPECT_EQ(ChooseRecognitionLanguage(german, data.path()), std::nullopt);
    WriteFile(data.File("eng.traineddata"), "x");
    EXPECT_EQ(ChooseRecognitionLanguage(german, data.path()), "eng");
    WriteFile(data.File("deu.traineddata"), "x");
    EXPECT_EQ(ChooseRecognitionLanguage(german, data.path()), "deu");
    EXPECT_EQ(ChooseRecognitionLanguage(polish, data.path()), "deu");
    ASSERT_EQ(::mkdir(data.File("pol.traineddata").c_str(), 0700), 0);  // a folder is no data
    EXPECT_EQ(ChooseRecognitionLanguage(polish, data.path()), "deu");
}
