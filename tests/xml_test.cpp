#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/documents/xml.h"

namespace {

std::string Decode(std::string_view bytes) {
    std::string out;
    DecodeEntities(bytes, out);
    return out;
}

// Records every tag as "name|raw tag|C|S" (C = closing, S = self-closing, "-" otherwise) and
// collects text only between <t> and </t>, as the office readers do with their run elements.
class Recorder : public XmlHandler {
public:
    explicit Recorder(TextSink& sink) : sink_(sink) {}
    void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
        tags.push_back(std::string(name) + "|" + std::string(tag) + "|" + (closing ? "C" : "-") +
                       (selfClosing ? "S" : "-"));
        if (name == "t" && !selfClosing) sink_.collecting = !closing;
    }
    std::vector<std::string> tags;

private:
    TextSink& sink_;
};

struct Scan {
    std::vector<std::string> tags;
    std::string text;
};

// Scans with text collected only inside <t>.
Scan ScanRuns(std::string_view xml) {
    TextSink sink;
    Recorder recorder(sink);
    ScanXml(xml, recorder, sink);
    return {recorder.tags, sink.out};
}

// Scans with text collected everywhere.
Scan ScanAll(std::string_view xml) {
    TextSink sink;
    sink.collecting = true;
    class Always : public XmlHandler {
    public:
        void OnTag(std::string_view name, std::string_view, bool closing, bool selfClosing) override {
            tags.push_back(std::string(closing ? "/" : "") + std::string(name) + (selfClosing ? "/" : ""));
        }
        std::vector<std::string> tags;
    } always;
    ScanXml(xml, always, sink);
    return {always.tags, sink.out};
}

using Tags = std::vector<std::string>;
using namespace std::literals;

}  // namespace

// --- entities -------------------------------------------------------------------------

TEST(XmlEntities, DecodeOneLevelOnly) {
    EXPECT_EQ(Decode("&amp;amp;"), "&amp;");
    EXPECT_EQ(Decode("&amp;lt;"), "&lt;");
}

TEST(XmlEntities, EveryNamedEntity) {
    EXPECT_EQ(Decode("&amp;&lt;&gt;&quot;&apos;"), "&<>\"'");
    EXPECT_EQ(Decode("&nbsp;&copy;&reg;"), "\u00A0\u00A9\u00AE");
    EXPECT_EQ(Decode("&mdash;&ndash;&hellip;"), "\u2014\u2013\u2026");
    EXPECT_EQ(Decode("&lsquo;&rsquo;&ldquo;&rdquo;&bull;&euro;"), "\u2018\u2019\u201C\u201D\u2022\u20AC");
}

TEST(XmlEntities, NamesAreCaseSensitiveAndUnknownNamesStay) {
    EXPECT_EQ(Decode("&AMP;"), "&AMP;");
    EXPECT_EQ(Decode("&eacute; &foo; &;"), "&eacute; &foo; &;");
}

TEST(XmlEntities, HexWithLowerCaseXAndDecimalGiveTheLetter) {
    EXPECT_EQ(Decode("&#x41;&#65;&#x6a;&#x6A;"), "AAjj");
}

TEST(XmlEntities, UpperCaseXZeroAndMissingDigitsStayAsWritten) {
    EXPECT_EQ(Decode("&#X41;"), "&#X41;");
    EXPECT_EQ(Decode("&#0;"), "&#0;");
    EXPECT_EQ(Decode("&#x0;"), "&#x0;");
    EXPECT_EQ(Decode("&#;&#x;&#-5;"), "&#;&#x;&#-5;");
}

TEST(XmlEntities, NumericReferenceTakesTheLeadingDigits) {
    EXPECT_EQ(Decode("&#65abc;"), "A");
    EXPECT_EQ(Decode("&#x42zz;"), "B");
    EXPECT_EQ(Decode("&#0065;"), "A");
}

TEST(XmlEntities, NumericReferenceIsWrittenInOneToFourBytes) {
    EXPECT_EQ(Decode("&#x7F;"), "\x7F");
    EXPECT_EQ(Decode("&#x80;"), "\xC2\x80");
    EXPECT_EQ(Decode("&#x7FF;"), "\xDF\xBF");
    EXPECT_EQ(Decode("&#x800;"), "\xE0\xA0\x80");
    EXPECT_EQ(Decode("&#xFFFF;"), "\xEF\xBF\xBF");
    EXPECT_EQ(Decode("&#x10000;"), "\xF0\x90\x80\x80");
    EXPECT_EQ(Decode("&#128512;"), "\xF0\x9F\x98\x80");  // U+1F600
}

// A reference to something that is no character cannot be written as UTF-8; masking it
// into four bytes would turn &#x21F600; into U+1F600, so it becomes the replacement character.
TEST(XmlEntities, SurrogatesAndValuesPastUnicodeBecomeReplacementCharacter) {
    EXPECT_EQ(Decode("&#xD800;"), "\uFFFD");
    EXPECT_EQ(Decode("&#xDFFF;"), "\uFFFD");
    EXPECT_EQ(Decode("&#x110000;"), "\uFFFD");
    EXPECT_EQ(Decode("&#x21F600;"), "\uFFFD");
    EXPECT_EQ(Decode("&#xFFFFFFF;"), "\uFFFD");
    EXPECT_EQ(Decode("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
}

TEST(XmlEntities, AmpersandWithoutSemicolonStays) {
    EXPECT_EQ(Decode("Tom & Jerry"), "Tom & Jerry");
    EXPECT_EQ(Decode("a&"), "a&");
    EXPECT_EQ(Decode("&amp"), "&amp");
}

TEST(XmlEntities, SemicolonTenBytesAwayIsReadElevenIsNot) {
    // "&" at 0, ";" at 10: the reference is read.
    EXPECT_EQ(Decode("&#x0000041;"), "A");
    // "&" at 0, ";" at 11: the "&" is plain text.
    EXPECT_EQ(Decode("&#x00000041;"), "&#x00000041;");
    // A far semicolon does not swallow a later reference.
    EXPECT_EQ(Decode("R&D costs &lt; 5;"), "R&D costs < 5;");
}

TEST(XmlEntities, LiteralAmpersandDoesNotHideTheNextEntity) {
    EXPECT_EQ(Decode("&a&amp;"), "&a&");
    EXPECT_EQ(Decode("&&lt;"), "&<");
}

TEST(XmlEntities, AppendsToWhatIsThere) {
    std::string out = "x";
    DecodeEntities("&gt;y", out);
    EXPECT_EQ(out, "x>y");
}

// --- tags ----------------------------------------------------------------------------

TEST(XmlScan, RunTextWithAttributeAndItsEndTag) {
    Scan scan = ScanRuns("<t xml:space=\"preserve\"> Hi </t>");
    EXPECT_EQ(scan.tags, (Tags{"t|t xml:space=\"preserve\"|--", "t|/t|C-"}));
    EXPECT_EQ(scan.text, " Hi ");
}

TEST(XmlScan, WordRunTagIsNamedWithItsPrefix) {
    TextSink sink;
    Recorder recorder(sink);
    ScanXml("<w:t xml:space=\"preserve\">a</w:t>", recorder, sink);
    EXPECT_EQ(recorder.tags, (Tags{"w:t|w:t xml:space=\"preserve\"|--", "w:t|/w:t|C-"}));
}

TEST(XmlScan, SelfClosingTagIsReportedOnce) {
    EXPECT_EQ(ScanRuns("<w:br/>").tags, (Tags{"w:br|w:br/|-S"}));
    EXPECT_EQ(ScanRuns("<w:br w:type=\"page\" />").tags, (Tags{"w:br|w:br w:type=\"page\" /|-S"}));
}

TEST(XmlScan, NameEndsAtWhitespaceOrSlash) {
    EXPECT_EQ(ScanAll("<a\tb='1'><c\r\nd><e/><f g><h\n/>").tags, (Tags{"a", "c", "e/", "f", "h/"}));
    EXPECT_EQ(ScanAll("</a ><x:y>").tags, (Tags{"/a", "x:y"}));
}

TEST(XmlScan, TextIsCollectedOnlyWhileTheHandlerSaysSo) {
    Scan scan = ScanRuns("<p>skip<t>A &amp; B</t>skip<t>C</t>tail</p>");
    EXPECT_EQ(scan.text, "A & BC");
}

TEST(XmlScan, TextAfterTheLastTagAndWithoutTags) {
    EXPECT_EQ(ScanAll("<a/>tail &lt;").text, "tail <");
    EXPECT_EQ(ScanAll("just text").text, "just text");
    EXPECT_EQ(ScanAll("").text, "");
}

TEST(XmlScan, DeclarationsInstructionsAndDoctypeProduceNothing) {
    Scan scan = ScanAll("<?xml version=\"1.0\"?><!DOCTYPE html><?pi data?><><a>x</a>");
    EXPECT_EQ(scan.tags, (Tags{"a", "/a"}));
    EXPECT_EQ(scan.text, "x");
}

TEST(XmlScan, CdataGivesNoText) {
    Scan scan = ScanAll("<t>a<![CDATA[hidden text]]>b</t>");
    EXPECT_EQ(scan.text, "ab");
    EXPECT_EQ(scan.tags, (Tags{"t", "/t"}));
}

TEST(XmlScan, CdataIsDroppedOnlyUpToItsFirstGreaterThan) {
    EXPECT_EQ(ScanAll("<![CDATA[a > b]]>c").text, " b]]>c");
}

TEST(XmlScan, CommentsAreSkippedWithTheTagsInside) {
    Scan scan = ScanAll("a<!-- <b/> > -- -->c<d/>");
    EXPECT_EQ(scan.text, "ac");
    EXPECT_EQ(scan.tags, (Tags{"d/"}));
}

TEST(XmlScan, UnclosedCommentHidesTheRest) {
    Scan scan = ScanAll("a<b/><!-- not closed <c/> text -- >");
    EXPECT_EQ(scan.text, "a");
    EXPECT_EQ(scan.tags, (Tags{"b/"}));
}

TEST(XmlScan, GreaterThanInsideAttributeValueEndsTheTagEarly) {
    Scan scan = ScanAll("<a title=\"x>y\">z</a>");
    EXPECT_EQ(scan.tags, (Tags{"a", "/a"}));
    EXPECT_EQ(scan.text, "y\">z");
    // The raw tag text is cut at that ">" too.
    EXPECT_EQ(ScanRuns("<a title=\"x>y\">").tags, (Tags{"a|a title=\"x|--"}));
}

TEST(XmlScan, TagWithoutGreaterThanEndsTheScan) {
    Scan scan = ScanAll("ab<c/>d<e f=\"g\" h");
    EXPECT_EQ(scan.text, "abd");
    EXPECT_EQ(scan.tags, (Tags{"c/"}));
}

TEST(XmlScan, LoneSlashTagIsClosingAndSelfClosingWithEmptyName) {
    EXPECT_EQ(ScanRuns("</>").tags, (Tags{"|/|CS"}));
}

// The scan counts its constructs and stops at the text's length in bytes; a construct takes
// at least two bytes, so even the densest markup must be scanned to its very end.
TEST(XmlScan, DensestMarkupIsScannedToTheEnd) {
    std::string xml;
    for (int i = 0; i < 5000; ++i) xml += "<>";
    xml += "<a/>x<b>";
    Scan scan = ScanAll(xml);
    EXPECT_EQ(scan.tags, (Tags{"a/", "b"}));
    EXPECT_EQ(scan.text, "x");

    std::string tags;
    for (int i = 0; i < 3000; ++i) tags += "<a>";
    EXPECT_EQ(ScanAll(tags).tags.size(), 3000u);
}

// --- attributes ------------------------------------------------------------------------

TEST(XmlAttribute, DoubleQuotedValueAfterASpace) {
    EXPECT_EQ(GetAttribute("w:pStyle w:val=\"Heading2\"/", "w:val"), "Heading2");
    EXPECT_EQ(GetAttribute("p:sldId id=\"256\" r:id=\"rId2\"", "r:id"), "rId2");
}

TEST(XmlAttribute, SingleQuotesGiveEmpty) {
    EXPECT_EQ(GetAttribute("w:pStyle w:val='Heading2'/", "w:val"), "");
}

TEST(XmlAttribute, NameMustMatchWholeAfterASpace) {
    // "val" is not "w:val", and "id" is not found inside "r:id" or "xid".
    EXPECT_EQ(GetAttribute("w:pStyle w:val=\"x\"", "val"), "");
    EXPECT_EQ(GetAttribute("a r:id=\"1\" xid=\"2\"", "id"), "");
    EXPECT_EQ(GetAttribute("Relationship TargetMode=\"External\" Target=\"a.xml\"", "Target"), "a.xml");
    // Near misses before the real attribute are passed over.
    EXPECT_EQ(GetAttribute("a xw:val=\"1\" w:val \"2\" w:val='3' w:val=\"4\"", "w:val"), "4");
}

TEST(XmlAttribute, ValueIsRawAndFirstMatchWins) {
    EXPECT_EQ(GetAttribute("a v=\"x &amp; y\" v=\"z\"", "v"), "x &amp; y");
}

TEST(XmlAttribute, MissingEmptyOrUnclosedGiveEmpty) {
    EXPECT_EQ(GetAttribute("a b=\"1\"", "c"), "");
    EXPECT_EQ(GetAttribute("a c=\"\"", "c"), "");
    EXPECT_EQ(GetAttribute("a c=\"open", "c"), "");
    EXPECT_EQ(GetAttribute("", "c"), "");
}

// --- escaping --------------------------------------------------------------------------

TEST(XmlEscape, MarkupCharactersAreEscapedButNotTheApostrophe) {
    EXPECT_EQ(EscapeXml(u"<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;'");
}

TEST(XmlEscape, DropsControlCharactersButKeepsTabAndLineBreaks) {
    EXPECT_EQ(EscapeXml(u"a\u0001b\u001Fc\u0000d"sv), "abcd");
    EXPECT_EQ(EscapeXml(u"a\tb\nc\rd"), "a\tb\nc\rd");
}

TEST(XmlEscape, OutputIsUtf8) {
    EXPECT_EQ(EscapeXml(u"Grüße 日本 \U0001F600"), "Grüße 日本 \xF0\x9F\x98\x80");
}
