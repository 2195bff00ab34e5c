// The forgiving tag scanner, entity decoding, attribute lookup and escaping.
#include <gtest/gtest.h>

#include <string>

#include "convert/documents/xml.h"

using namespace std::literals;

namespace {

// Tags as "[name]" ("/name" closing, "name/" self-closing), "|raw" added when the raw
// text says more; then all the text.
std::string Scan(std::string_view xml) {
    struct Recorder : XmlHandler {
        std::string tags;
        void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
            std::string shown = (closing ? "/" : "") + std::string(name) + (selfClosing ? "/" : "");
            tags += "[" + shown + (tag == shown ? "" : "|" + std::string(tag)) + "]";
        }
    } recorder;
    TextSink sink{true, ""};
    ScanXml(xml, recorder, sink);
    return recorder.tags + sink.out;
}

}  // namespace

TEST(Xml, DecodeEntities) {
    const std::pair<const char*, const char*> cases[] = {
        {"&amp;amp; &amp;lt;", "&amp; &lt;"},  // one level only
        {"&amp;&lt;&gt;&quot;&apos;&nbsp;&copy;&reg;&mdash;&ndash;&hellip;&lsquo;&rsquo;&ldquo;&rdquo;&bull;&euro;",
         "&<>\"'\u00A0\u00A9\u00AE\u2014\u2013\u2026\u2018\u2019\u201C\u201D\u2022\u20AC"},
        {"&#x41;&#65;&#x6a;&#0065;&#65abc;", "AAjAA"},  // digits up to the first non-digit
        {"&#x7F;&#x80;&#x7FF;&#x800;&#xFFFF;&#x10000;&#x10FFFF;",
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"&#xD800;&#xDFFF;&#x110000;&#x21F600;", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // no character; not U+1F600 either
        {"&#X41;&#0;&#x0;&#;&#x;&#-5;", "&#X41;&#0;&#x0;&#;&#x;&#-5;"},       // upper-case X, zero, no digits
        {"&AMP;&foo;&eacute;&;", "&AMP;&foo;&eacute;&;"},                      // unknown names
        {"&#x0000041;&#x00000041;", "A&#x00000041;"},  // the semicolon at most 10 bytes after the "&"
        {"R&D &lt; 5; &a&amp; &&lt; a& &amp", "R&D < 5; &a& &< a& &amp"},  // a lone "&" hides nothing
    };
    for (const auto& [in, expected] : cases) {
        std::string out = "x";  // appended to
        DecodeEntities(in, out);
        EXPECT_EQ(out, "x"s + expected) << in;
    }
}

TEST(Xml, ScanTagsAndText) {
    std::string dense, opened, openedTags;
    for (int i = 0; i < 5000; ++i) dense += "<>";
    for (int i = 0; i < 3000; ++i) opened += "<a>", openedTags += "[a]";
    const std::pair<std::string, std::string> cases[] = {
        {"<w:t xml:space=\"preserve\"> Hi &amp; </w:t><w:br/><w:br w:type=\"page\" /></>",
         "[w:t|w:t xml:space=\"preserve\"][/w:t][w:br/][w:br/|w:br w:type=\"page\" /][//|/] Hi & "},
        {"<a\tb='1'><c\r\nd><e/><h\n/></f ><x:y>", "[a|a\tb='1'][c|c\r\nd][e/][h/|h\n/][/f|/f ][x:y]"},
        {"<?xml version=\"1.0\"?><!DOCTYPE html><?pi x?><><t>a<![CDATA[hidden]]>b</t>", "[t][/t]ab"},
        {"<![CDATA[a > b]]>c", " b]]>c"},                                // dropped up to its first ">"
        {"a<!-- <b/> > -- -->c<d/>", "[d/]ac"},
        {"a<b/><!-- not closed <c/> text -- >", "[b/]a"},                 // an unclosed comment hides the rest
        {"<a title=\"x>y\">z</a>", "[a|a title=\"x][/a]y\">z"},          // ">" in a value ends the tag
        {"ab<c/>d<e f=\"g\" h", "[c/]abd"},                               // an unended tag ends the scan
        {dense + "<a/>x<b>", "[a/][b]x"},                                 // the densest markup, to its end
        {opened, openedTags},
    };
    for (const auto& [xml, expected] : cases) EXPECT_EQ(Scan(xml), expected) << xml.substr(0, 60);
}

TEST(Xml, GetAttributeTakesTheFirstDoubleQuotedValueAfterASpace) {
    const char* const cases[][3] = {
        {"w:pStyle w:val=\"Heading2\"/", "w:val", "Heading2"},
        {"w:pStyle w:val='Heading2'/", "w:val", ""},  // single quotes do not count
        {"w:pStyle w:val=\"x\"", "val", ""},
        {"a r:id=\"1\" xid=\"2\" id=\"3\"", "id", "3"},
        {"Relationship TargetMode=\"External\" Target=\"a.xml\"", "Target", "a.xml"},
        {"a xw:val=\"1\" w:val \"2\" w:val='3' w:val=\"4\"", "w:val", "4"},
        {"a v=\"x &amp; y\" v=\"z\"", "v", "x &amp; y"},  // raw, first wins
        {"a c=\"\"", "c", ""},
        {"a c=\"open", "c", ""},
    };
    for (const auto& [tag, name, expected] : cases) EXPECT_EQ(GetAttribute(tag, name), expected) << tag;
}

TEST(Xml, EscapeXmlDropsControlCharactersButKeepsTabsAndLineBreaks) {
    EXPECT_EQ(EscapeXml(u"<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;'");
    EXPECT_EQ(EscapeXml(u"a\u0001b\u001Fc\u0000d\te\nf\rg"sv), "abcd\te\nf\rg");
    EXPECT_EQ(EscapeXml(u"Grüße 日本 \U0001F600"), "Grüße 日本 \xF0\x9F\x98\x80");
}
