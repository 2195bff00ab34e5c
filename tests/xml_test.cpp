// The forgiving tag scanner, entity decoding, attribute lookup and escaping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/documents/xml.h"

using namespace std::literals;

namespace {

using Strings = std::vector<std::string>;

std::string Decode(std::string_view bytes) {
    std::string out;
    DecodeEntities(bytes, out);
    return out;
}

// Each tag as "/" (closing), the name, "/" (self-closing), and its raw text after "|".
// Text is collected everywhere, or only inside <t> when `runsOnly`, as readers do.
struct Scanned {
    Strings tags;
    std::string text;
};

Scanned Scan(std::string_view xml, bool runsOnly = false) {
    struct Recorder : XmlHandler {
        Scanned scanned;
        TextSink* sink = nullptr;
        bool runsOnly = false;
        void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
            scanned.tags.push_back((closing ? "/" : "") + std::string(name) + (selfClosing ? "/" : "") + "|" + std::string(tag));
            if (runsOnly && name == "t" && !selfClosing) sink->collecting = !closing;
        }
    } recorder;
    TextSink sink;
    sink.collecting = !runsOnly;
    recorder.sink = &sink;
    recorder.runsOnly = runsOnly;
    ScanXml(xml, recorder, sink);
    recorder.scanned.text = sink.out;
    return recorder.scanned;
}

}  // namespace

TEST(XmlEntities, NamedEntitiesDecodeOneLevelOnly) {
    EXPECT_EQ(Decode("&amp;amp; &amp;lt;"), "&amp; &lt;");
    EXPECT_EQ(Decode("&amp;&lt;&gt;&quot;&apos;&nbsp;&copy;&reg;&mdash;&ndash;&hellip;&lsquo;&rsquo;&ldquo;&rdquo;&bull;&euro;"),
              "&<>\"'\u00A0\u00A9\u00AE\u2014\u2013\u2026\u2018\u2019\u201C\u201D\u2022\u20AC");
}

TEST(XmlEntities, NumericReferences) {
    EXPECT_EQ(Decode("&#x41;&#65;&#x6a;&#0065;&#65abc;&#x42zz;"), "AAjAAB");  // lower-case x only; leading digits
    EXPECT_EQ(Decode("&#x7F;&#x80;&#x7FF;&#x800;&#xFFFF;&#x10000;&#128512;"),
              "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF0\x9F\x98\x80");
    EXPECT_EQ(Decode("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
}

// References to no character have no UTF-8 form; masked into four bytes, &#x21F600;
// would alias U+1F600, so they become the replacement character.
TEST(XmlEntities, SurrogatesAndValuesPastUnicodeBecomeReplacementCharacter) {
    EXPECT_EQ(Decode("&#xD800;&#xDFFF;&#x110000;&#x21F600;&#xFFFFFFF;"), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(XmlEntities, WhatIsNotAnEntityStaysAsWritten) {
    for (const char* kept : {"&#X41;", "&#0;", "&#x0;", "&#;", "&#x;", "&#-5;", "&AMP;", "&foo;", "&eacute;", "&;",
                             "Tom & Jerry", "a&", "&amp"})
        EXPECT_EQ(Decode(kept), kept);
    // The semicolon may be 10 bytes after the "&", not 11.
    EXPECT_EQ(Decode("&#x0000041;"), "A");
    EXPECT_EQ(Decode("&#x00000041;"), "&#x00000041;");
    // A literal "&" does not hide what follows it.
    EXPECT_EQ(Decode("R&D costs &lt; 5; &a&amp; &&lt;"), "R&D costs < 5; &a& &<");
}

TEST(XmlEntities, AppendsToWhatIsThere) {
    std::string out = "x";
    DecodeEntities("&gt;y", out);
    EXPECT_EQ(out, "x>y");
}

TEST(XmlScan, TagsWithNamesAndFlags) {
    Scanned scanned = Scan("<w:t xml:space=\"preserve\"> Hi &amp; </w:t><w:br/><w:br w:type=\"page\" /></>");
    EXPECT_EQ(scanned.tags, (Strings{"w:t|w:t xml:space=\"preserve\"", "/w:t|/w:t", "w:br/|w:br/",
                                     "w:br/|w:br w:type=\"page\" /", "//|/"}));
    EXPECT_EQ(scanned.text, " Hi & ");
}

TEST(XmlScan, NameEndsAtWhitespaceOrSlash) {
    Strings names;
    for (const auto& tag : Scan("<a\tb='1'><c\r\nd><e/><h\n/></f ><x:y>").tags) names.push_back(tag.substr(0, tag.find('|')));
    EXPECT_EQ(names, (Strings{"a", "c", "e/", "h/", "/f", "x:y"}));
}

TEST(XmlScan, TextIsCollectedOnlyWhileTheHandlerSaysSo) {
    EXPECT_EQ(Scan("<p>skip<t>A &amp; B</t>skip<t>C</t>tail</p>", true).text, "A & BC");
    EXPECT_EQ(Scan("<a/>tail &lt;").text, "tail <");
    EXPECT_EQ(Scan("").text, "");
}

TEST(XmlScan, DeclarationsInstructionsDoctypeAndCdataProduceNothing) {
    Scanned scanned = Scan("<?xml version=\"1.0\"?><!DOCTYPE html><?pi x?><><t>a<![CDATA[hidden]]>b</t>");
    EXPECT_EQ(scanned.tags, (Strings{"t|t", "/t|/t"}));
    EXPECT_EQ(scanned.text, "ab");
    // A CDATA section is dropped only up to its first ">".
    EXPECT_EQ(Scan("<![CDATA[a > b]]>c").text, " b]]>c");
}

TEST(XmlScan, CommentsHideTheirTagsAndAnUnclosedOneHidesTheRest) {
    Scanned closed = Scan("a<!-- <b/> > -- -->c<d/>");
    EXPECT_EQ(closed.text, "ac");
    EXPECT_EQ(closed.tags, (Strings{"d/|d/"}));
    Scanned open = Scan("a<b/><!-- not closed <c/> text -- >");
    EXPECT_EQ(open.text, "a");
    EXPECT_EQ(open.tags, (Strings{"b/|b/"}));
}

TEST(XmlScan, GreaterThanInsideAttributeValueEndsTheTagEarly) {
    Scanned scanned = Scan("<a title=\"x>y\">z</a>");
    EXPECT_EQ(scanned.tags, (Strings{"a|a title=\"x", "/a|/a"}));
    EXPECT_EQ(scanned.text, "y\">z");
}

TEST(XmlScan, TagWithoutGreaterThanEndsTheScan) {
    Scanned scanned = Scan("ab<c/>d<e f=\"g\" h");
    EXPECT_EQ(scanned.text, "abd");
    EXPECT_EQ(scanned.tags.size(), 1u);
}

// The scan stops after as many constructs as the text has bytes; a construct takes at
// least two bytes, so even the densest markup is scanned to its very end.
TEST(XmlScan, DensestMarkupIsScannedToTheEnd) {
    std::string xml;
    for (int i = 0; i < 5000; ++i) xml += "<>";
    Scanned scanned = Scan(xml + "<a/>x<b>");
    EXPECT_EQ(scanned.tags, (Strings{"a/|a/", "b|b"}));
    EXPECT_EQ(scanned.text, "x");
    std::string tags;
    for (int i = 0; i < 3000; ++i) tags += "<a>";
    EXPECT_EQ(Scan(tags).tags.size(), 3000u);
}

TEST(XmlAttribute, DoubleQuotedValueAfterASpaceOnly) {
    EXPECT_EQ(GetAttribute("w:pStyle w:val=\"Heading2\"/", "w:val"), "Heading2");
    EXPECT_EQ(GetAttribute("w:pStyle w:val='Heading2'/", "w:val"), "");
    EXPECT_EQ(GetAttribute("w:pStyle w:val=\"x\"", "val"), "");
    EXPECT_EQ(GetAttribute("a r:id=\"1\" xid=\"2\" id=\"3\"", "id"), "3");
    EXPECT_EQ(GetAttribute("Relationship TargetMode=\"External\" Target=\"a.xml\"", "Target"), "a.xml");
    EXPECT_EQ(GetAttribute("a xw:val=\"1\" w:val \"2\" w:val='3' w:val=\"4\"", "w:val"), "4");
}

TEST(XmlAttribute, ValueIsRawFirstMatchWinsAndMissingGivesEmpty) {
    EXPECT_EQ(GetAttribute("a v=\"x &amp; y\" v=\"z\"", "v"), "x &amp; y");
    for (const char* tag : {"a b=\"1\"", "a c=\"\"", "a c=\"open", ""}) EXPECT_EQ(GetAttribute(tag, "c"), "") << tag;
}

TEST(XmlEscape, MarkupEscapedControlsDroppedTabsAndLineBreaksKept) {
    EXPECT_EQ(EscapeXml(u"<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;'");
    EXPECT_EQ(EscapeXml(u"a\u0001b\u001Fc\u0000d\te\nf\rg"sv), "abcd\te\nf\rg");
    EXPECT_EQ(EscapeXml(u"Grüße 日本 \U0001F600"), "Grüße 日本 \xF0\x9F\x98\x80");
}
