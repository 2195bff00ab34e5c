// The Word, OpenDocument and PowerPoint readers: their tag handlers on small XML parts,
// then whole packages built here, written by pandoc, real files, and damaged ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/context.h"
#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/readers.h"
#include "convert/documents/zip.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;
using Entries = std::vector<std::pair<std::string, std::string>>;
using Cases = std::vector<std::pair<std::string, Lines>>;  // XML, then the blocks it gives

// Each block as "^" (break before), "hN:" (heading level), "*" (list item) and its text.
Lines Describe(const Document& document) {
    Lines lines;
    for (const Block& block : document.blocks)
        lines.push_back((block.breakBefore ? "^" : "") + (block.level ? "h" + std::to_string(block.level) + ":" : "") +
                        (block.listItem ? "*" : "") + WideToUtf8(block.text));
    return lines;
}

template <typename Read>
void Check(const Cases& cases, Read read) {
    for (const auto& [xml, expected] : cases) {
        Document document;
        read(xml, document);
        EXPECT_EQ(Describe(document), expected) << xml;
    }
}

std::string P(std::string_view text, std::string_view style = "") {
    std::string properties = style.empty() ? "" : "<w:pPr><w:pStyle w:val=\"" + std::string(style) + "\"/></w:pPr>";
    return "<w:p>" + properties + "<w:r><w:t>" + std::string(text) + "</w:t></w:r></w:p>";
}
std::string Tc(std::string_view content) { return "<w:tc><w:tcPr/>" + std::string(content) + "</w:tc>"; }
std::string Cell(std::string_view text) { return "<table:table-cell><text:p>" + std::string(text) + "</text:p></table:table-cell>"; }
std::string A(std::string_view text) { return "<a:p><a:r><a:rPr lang=\"en\"/><a:t>" + std::string(text) + "</a:t></a:r></a:p>"; }
std::string Slide(std::string_view title) {
    return "<p:sld><p:cSld><p:spTree><p:sp><p:txBody>" + A(title) + "</p:txBody></p:sp></p:spTree></p:cSld></p:sld>";
}

std::string Package(const TempDir& dir, std::string_view name, const Entries& entries) {
    ZipWriter writer;
    for (const auto& [entry, bytes] : entries) AddEntry(writer, entry, bytes);
    WriteFile(dir.File(name), FinishZip(writer));
    return dir.File(name);
}

// `more` and a presentation part listing rId<n> for each n, with relationships rId1.. to the targets.
Entries Presentation(const std::vector<int>& ids, const Lines& targets, Entries more = {}) {
    std::string list, relationships;
    for (int id : ids) list += "<p:sldId id=\"" + std::to_string(255 + id) + "\" r:id=\"rId" + std::to_string(id) + "\"/>";
    for (size_t i = 0; i < targets.size(); ++i)
        relationships += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Target=\"" + targets[i] + "\"/>";
    more.push_back({"ppt/presentation.xml", "<p:presentation><p:sldIdLst>" + list + "</p:sldIdLst></p:presentation>"});
    more.push_back({"ppt/_rels/presentation.xml.rels", "<Relationships>" + relationships + "</Relationships>"});
    return more;
}

Lines Read(const std::string& path) {
    ConvertContext context;
    return Describe(ReadDocument(path, context));
}
std::string ConvertFailure(const std::string& path) {
    try {
        ConvertContext context;
        ConvertDocument(path, Target{kDocx, 0, ""}, context);
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "(no error)";
}
std::string Corpus(std::string_view relative) { return DataPath("corpus/documents/" + std::string(relative)); }

}  // namespace

TEST(OfficeParts, WordBody) {
    std::string styled = "<w:p><w:pPr><w:pStyle w:val=\"Heading1\"/><w:numPr/></w:pPr><w:r><w:t>h</w:t></w:r></w:p>";
    std::string inner = "<w:tbl><w:tr>" + Tc(P("i1")) + Tc(P("i2")) + "</w:tr><w:tr>" + Tc(P("i3")) + "</w:tr></w:tbl>";
    std::string box = "<w:txbxContent>" + P("boxed") + "</w:txbxContent>";
    Check({// Field codes and deleted text lie outside "w:t"; insertions are ordinary runs.
           {"<w:p><w:r><w:t>Grüße</w:t></w:r><w:r><w:t xml:space=\"preserve\"> &amp; 日本 😀</w:t></w:r><w:r><w:instrText> PAGE "
            "</w:instrText></w:r><w:del><w:r><w:delText>gone</w:delText></w:r></w:del><w:ins><w:r><w:t>!</w:t></w:r></w:ins></w:p>" +
                P("2"),
            {"Grüße & 日本 😀!", "2"}},
           {P("t", "Title") + P("a", "Heading1") + P("b", "Heading2") + P("c", "Heading3") + P("d", "Heading5") + P("e", "Heading0") +
                P("f", "Heading10") + P("g", "Heading2Char") + P("h", "heading1") + P("i", "Heading") + P("j", "HeadingX") +
                P("k", "title") + "<w:p><w:pPr><w:pStyle w:val='Heading1'/></w:pPr><w:r><w:t>l</w:t></w:r></w:p>",
            {"h1:t", "h1:a", "h2:b", "h3:c", "h3:d", "h1:e", "h1:f", "h2:g", "h", "i", "j", "k", "l"}},
           {"<w:p/><w:p></w:p><w:p><w:pPr><w:jc w:val=\"center\"/></w:pPr></w:p>", {"", "", ""}},
           // A tab in the paragraph properties is a tab stop; a page break in a run is a line break.
           {"<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr><w:r><w:t>a</w:t><w:tab/><w:t>b</w:t>"
            "<w:br/><w:t>c</w:t><w:br w:type=\"page\"/><w:cr/><w:t>e</w:t><w:noBreakHyphen/><w:t>co</w:t><w:softHyphen/></w:r></w:p>",
            {"a\tb\nc\n\ne\u2011co\u00AD"}},
           // A cell's paragraphs run together, trailing spaces go, and a row is a body block.
           {P("before") + "<w:tbl><w:tblPr/><w:tr>" + Tc(P("a")) + Tc(P("one") + P("two ") + "<w:p/>") + Tc(P("c")) + "</w:tr><w:tr>" +
                Tc(P("d")) + Tc(P("")) + Tc(styled) + "</w:tr></w:tbl>" + P("after"),
            {"before", "a\tone two\tc", "d\t\th", "after"}},
           {"<w:tbl><w:tr>" + Tc(P("A") + inner + "<w:p/>") + Tc(P("B")) + "</w:tr></w:tbl>", {"A i1\ti2 i3\tB"}},
           {"<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing>" + box + "</w:drawing></mc:Choice><mc:Fallback>"
            "<w:pict>" + box + "</w:pict></mc:Fallback></mc:AlternateContent></w:r><w:r><w:t>after</w:t></w:r></w:p>",
            {"boxed", "after"}},
           // Damage gives less text: a stray cell end does not stop later paragraphs ending.
           {"</w:tc>" + P("a") + P("b") + "<!-- never closed" + P("c"), {"\ta", "b"}},
           {"<w:body><w:p><w:r><w:t>cut off", {"cut off"}},
           {"<w:body><w:p><w:pPr><w:numPr/>", {}}},
          ReadWordBody);
}

TEST(OfficeParts, OpenDocumentContent) {
    std::string title = "<draw:frame presentation:class=\"title\"><draw:text-box><text:p>";
    std::string close = "</text:p></draw:text-box></draw:frame>";
    std::string inner = "<table:table><table:table-row>" + Cell("i1") + Cell("i2") + "</table:table-row></table:table>";
    Check({{"<text:h>a</text:h><text:h text:outline-level=\"0\">b</text:h><text:h text:outline-level=\"2\">c</text:h><text:h "
            "text:outline-level=\"6\">d</text:h><text:h text:outline-level=\"-2\">e</text:h><text:h text:outline-level=\"99999999999"
            "999999999\">f</text:h><text:p>x <text:span>y</text:span> &amp;</text:p>",
            {"h1:a", "h1:b", "h2:c", "h3:d", "h1:e", "h3:f", "x y &"}},
           {"<text:s text:c=\"5\"/><text:tab/><text:p>a<text:s text:c=\"3\"/>b<text:s/>c<text:s text:c=\"0\"/>d"
            "<text:s text:c=\"-4\"/>e<text:tab/>f<text:line-break/>g</text:p>",
            {"a   b c d e\tf\ng"}},
           {"<text:list><text:list-item><text:p>one</text:p><text:list><text:list-item><text:p>nested</text:p></text:list-item>"
            "</text:list></text:list-item><text:list-header><text:p>head</text:p></text:list-header></text:list><text:p/><text:h/>"
            "<text:p>a<draw:frame><draw:text-box><text:p>caption</text:p><text:p/></draw:text-box></draw:frame>b</text:p>",
            {"*one", "*nested", "head", "", "", "acaptionb"}},
           // Change records, comments and notes add nothing.
           {"<text:tracked-changes><text:changed-region><text:deletion><text:p>deleted</text:p></text:deletion></text:changed-region>"
            "</text:tracked-changes><text:p>Text<office:annotation><text:p>comment</text:p></office:annotation> with<text:note>"
            "<text:note-citation>1</text:note-citation><text:note-body><text:p>Note</text:p></text:note-body></text:note>.</text:p>",
            {"Text with."}},
           {"<text:p>intro</text:p><office:presentation><draw:page>" + title + "First" + close + "<draw:frame presentation:class="
            "\"outline\"><draw:text-box><text:list><text:list-item><text:p>point</text:p></text:list-item></text:list></draw:text-box>"
            "</draw:frame><presentation:notes><text:p>notes</text:p></presentation:notes></draw:page><draw:page><draw:frame "
            "presentation:class=\"subtitle\"><draw:text-box><text:p>sub" + close + title + "Second" + close + "</draw:page><draw:page>"
            "<draw:frame presentation:class=\"title\"/></draw:page><draw:page><draw:custom-shape><text:p>shape</text:p>"
            "</draw:custom-shape></draw:page></office:presentation>",
            {"intro", "^h2:First", "*point", "^sub", "h2:Second", "^shape"}},
           // Empty and covered cells keep their places; a cell's paragraphs run together.
           {"<text:p>before</text:p><table:table><table:table-header-rows><table:table-row>" + Cell("H1") + "<table:table-cell>"
            "<text:p>H2</text:p><text:p>more </text:p></table:table-cell><table:table-cell/></table:table-row></table:table-header-rows>"
            "<table:table-row><table:table-cell><text:h>wide</text:h></table:table-cell><table:covered-table-cell/><table:table-cell>"
            "<text:list><text:list-item><text:p>c</text:p></text:list-item></text:list></table:table-cell></table:table-row>"
            "</table:table><text:p>after</text:p>",
            {"before", "H1\tH2 more\t", "wide\t\tc", "after"}},
           {"<draw:page><text:p>a</text:p></draw:page><draw:page><table:table><table:table-row><table:table-cell><text:p>A</text:p>" +
                inner + "</table:table-cell>" + Cell("B") + "</table:table-row></table:table></draw:page>",
            {"a", "^A i1\ti2\tB"}},
           {"<text:p>a</text:p></text:p></text:list-item></office:annotation><text:p>b</text:p><text:p>never closed", {"a", "b"}}},
          ReadOpenDocumentContent);
    Document huge;  // a space count is bounded
    ReadOpenDocumentContent("<text:p>a<text:s text:c=\"2000000000\"/>b</text:p>", huge);
    ASSERT_EQ(huge.blocks.size(), 1u);
    EXPECT_TRUE(huge.blocks[0].text.size() > 1000 && huge.blocks[0].text.size() < 70000) << huge.blocks[0].text.size();
}

TEST(OfficeParts, PowerPointSlides) {
    auto slides = [](const std::string& xml, Document& document) {  // slides separated by "|"
        size_t index = 0;
        for (size_t start = 0, end; start <= xml.size(); start = end + 1, ++index) {
            end = std::min(xml.find('|', start), xml.size());
            ReadSlide("<p:sld><p:cSld><p:spTree>" + xml.substr(start, end - start) + "</p:spTree></p:cSld></p:sld>", index, document);
        }
    };
    Check({// The first paragraph that is not blank is the title.
           {"<p:sp><p:nvSpPr><p:cNvPr name=\"x\">descr</p:cNvPr></p:nvSpPr><p:txBody><a:p/><a:p><a:r><a:t> \t</a:t></a:r><a:br/>"
            "</a:p>" + A("Title") + "</p:txBody></p:sp><p:sp><p:txBody>" + A("one") + A("two") + "</p:txBody></p:sp>|" + A("Next"),
            {"h2:Title", "one", "two", "^h2:Next"}},
           {"<a:p><a:r><a:t>a &amp; b</a:t></a:r><a:br><a:rPr/></a:br><a:r><a:t>c</a:t></a:r><a:fld type=\"slidenum\"><a:t>7</a:t>"
            "</a:fld></a:p>",
            {"h2:a & b\nc7"}},
           // A slide without text (text in a paragraph that never ends does not count) gets its number.
           {A("One") + A("body") + "|<p:pic/>|" + A("Three") + "|<a:p><a:t>never ended",
            {"h2:One", "body", "^h2:Slide 2", "^h2:Three", "^h2:Slide 4"}},
           {"", {"h2:Slide 1"}},
           {"<mc:AlternateContent><mc:Choice Requires=\"a14\">" + A("eq") + "</mc:Choice><mc:Fallback>" + A("eq") +
                "</mc:Fallback></mc:AlternateContent>" + A("after"),
            {"h2:eq", "after"}}},
          slides);
    // A master is no slide, unknown ids are passed over and a slide listed again is read once.
    Entries parts = Presentation({4, 2, 9, 3, 5}, {"slideMasters/slideMaster1.xml", "slides/slide1.xml", "slides/slide2.xml",
                                                   "/ppt/slides/slide3.xml", "slides/slide1.xml"});
    std::string presentation = "<p:sldMasterIdLst><p:sldMasterId r:id=\"rId1\"/></p:sldMasterIdLst>" + parts[0].second;
    EXPECT_EQ(ListSlides(presentation, parts[1].second),
              (Lines{"ppt/slides/slide3.xml", "ppt/slides/slide1.xml", "ppt/slides/slide2.xml"}));
    EXPECT_TRUE(ListSlides(presentation, "").empty());
    EXPECT_TRUE(ListSlides("", parts[1].second).empty());
}

TEST(OfficeReaders, PackagesBuiltHere) {
    TempDir dir;
    std::string body = "<w:document><w:body>" + P("Body") + "</w:body></w:document>";
    EXPECT_EQ(Read(Package(dir, "a.docm", {{"word/styles.xml", P("styles")}, {"word/document.xml", body}})), (Lines{"Body"}));
    Entries slides = {{"ppt/slides/slide1.xml", Slide("One")}, {"ppt/slides/slide2.xml", Slide("Two")},
                      {"ppt/slides/slide3.xml", Slide("Three")}, {"ppt/slides/slide5.xml", Slide("Five")}};
    // The order is the presentation's, not the names'.
    Lines three = {"slides/slide1.xml", "slides/slide2.xml", "/ppt/slides/slide3.xml"};
    EXPECT_EQ(Read(Package(dir, "a.pptx", Presentation({3, 1, 2}, three, slides))), (Lines{"h2:Three", "^h2:One", "^h2:Two"}));
    // With no presentation part, or none of its slides found, the numbered parts are
    // probed up to the first missing number.
    EXPECT_EQ(Read(Package(dir, "b.pptx", slides)), (Lines{"h2:One", "^h2:Two", "^h2:Three"}));
    EXPECT_EQ(Read(Package(dir, "c.pptx", Presentation({1}, {}, slides))), (Lines{"h2:One", "^h2:Two", "^h2:Three"}));
    // A listed slide that cannot be read keeps its number.
    slides[2].second = "<p:sld/>";
    EXPECT_EQ(Read(Package(dir, "d.pptx", Presentation({1, 4, 3}, {"slides/slide1.xml", "", "slides/slide3.xml", "gone.xml"}, slides))),
              (Lines{"h2:One", "^h2:Slide 3"}));
}

TEST(OfficeReaders, BadInputFailsWithItsMessageAndLeavesNoOutput) {
    TempDir made;
    int count = 0;
    auto package = [&](const Entries& entries) { return ReadFile(Package(made, std::to_string(++count) + ".zip", entries)); };
    std::string pptx = ReadFile(Corpus("pptx/pptx-speaker-notes-output.pptx"));
    std::string word = ReadFile(Corpus("docx/docx-headers.docx")), directory = word, deflate = word;
    size_t local = word.find("word/document.xml") - 30, central = word.rfind("word/document.xml") - 46;
    ASSERT_TRUE(word.compare(local, 4, "PK\x03\x04") == 0 && word[local + 8] == 8);  // a local header, deflated
    directory[central] = 'X';  // its central record loses its signature
    deflate[local + 30 + 17 + (uint8_t(word[local + 28]) | uint8_t(word[local + 29]) << 8)] = 0x07;  // data: a reserved block type
    const std::tuple<const char*, std::string, const char*> cases[] = {
        {"empty.docx", "", "This isn't a valid document"},
        {"cut.pptx", pptx.substr(0, pptx.size() - 100), "This isn't a valid document"},  // the end record is gone
        {"directory.docx", directory, "The document is corrupted"},
        {"deflate.docx", deflate, "The document is corrupted"},
        {"nobody.docx", package({{"Word/Document.xml", P("x")}}), "This doesn't look like a Word document"},  // names match exactly
        {"a.odp", package({{"Content.xml", "<office:document-content/>"}}), "This doesn't look like an OpenDocument file"},
        {"a.pptx", package(Presentation({}, {"slides/slide1.xml"}, {{"ppt/slides/slide0.xml", ""}, {"ppt/slides/Slide1.xml", ""}})),
         "This presentation has no slides"},
    };
    for (const auto& [name, bytes, message] : cases) {
        TempDir dir;
        WriteFile(dir.File(name), bytes);
        EXPECT_EQ(ConvertFailure(dir.File(name)), message) << name;
        EXPECT_EQ(ListFolder(dir.path()), name);
        EXPECT_TRUE(ReadFile(dir.File(name)) == bytes) << name;
    }
    EXPECT_EQ(ConvertFailure(made.File("gone.docx")), "Couldn't open the document");
}

TEST(OfficeReaders, PandocMadeWordAndOpenDocumentFilesReadBack) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    WriteFile(dir.File("in.md"), "# Grüße, 日本語 😀\n\nBody with *emphasis*, `code` and a [link](http://example.com).\n\n"
                                 "## Second level\n\n- first item\n- ünïcödé\n\n### Third level\n\n"
                                 "| Name | Größe | Note |\n|---|---|---|\n| a | 1 | x |\n| 日本 | 2 | y z |\n\nClosing.\n");
    for (const char* format : {"docx", "odt"}) {
        std::string out = dir.File(std::string("made.") + format);
        ASSERT_EQ(RunCommand("pandoc -f markdown -o " + ShellQuote(out) + " " + ShellQuote(dir.File("in.md"))).exitCode, 0);
        EXPECT_EQ(Read(out), (Lines{"h1:Grüße, 日本語 😀", "Body with emphasis, code and a link.", "h2:Second level", "*first item",
                                              "*ünïcödé", "h3:Third level", "Name\tGröße\tNote", "a\t1\tx", "日本\t2\ty z", "Closing."}))
            << format;
    }
}

TEST(OfficeReaders, RealFiles) {
    size_t files = 0;
    for (const char* folder : {"docx", "odt", "pptx"})
        for (const auto& entry : std::filesystem::directory_iterator(Corpus(folder))) {
            std::string name = entry.path().filename().string(), text;
            ConvertContext context;
            Document document;
            ASSERT_NO_THROW(document = ReadDocument(entry.path().string(), context)) << name;
            for (const Block& block : document.blocks) text += WideToUtf8(block.text);
            // Only a picture, or text hidden by a field; the ns0 file gives its elements a
            // prefix we do not match (prefixes are not resolved).
            bool textless = name == "odt-odt-image.odt" || name == "odt-odt-imageRelative.odt" ||
                            name == "odt-odt-hiddenTextByVariable.odt" || name == "docx-ns0-reference.docx";
            EXPECT_EQ(text.find_first_not_of(" \t\r\n") == std::string::npos, textless) << name;
            ++files;
        }
    EXPECT_GE(files, 70u);
    Lines background = Read(Corpus("pptx/pptx-background-image-output.pptx"));
    ASSERT_EQ(background.size(), 12u);
    EXPECT_EQ(background.back(), "^h2:Slide 6");  // the sixth slide has no text
}
