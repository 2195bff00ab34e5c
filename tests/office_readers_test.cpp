// The office readers on whole packages: packages built here, packages written by an
// independent producer (pandoc), real files from word processors, and damaged packages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/context.h"
#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/readers.h"
#include "convert/documents/xml.h"
#include "convert/documents/zip.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

// Spaces and line ends around a text go; tabs stay, as they separate table cells.
std::string Trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \r\n");
    if (first == text.npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \r\n") - first + 1));
}

// Each block as "^" (break before), "hN:" (heading level), "*" (list item) and its text;
// `visible` leaves out empty blocks and trims the others, as a reader of the output sees them.
Lines Describe(const Document& document, bool visible = false) {
    Lines lines;
    for (const Block& block : document.blocks) {
        std::string text = WideToUtf8(block.text);
        if (visible && (text = Trim(text)).empty()) continue;
        std::string line = block.breakBefore ? "^" : "";
        if (block.level != 0) line += "h" + std::to_string(block.level) + ":";
        lines.push_back(line + (block.listItem ? "*" : "") + text);
    }
    return lines;
}

std::string Package(const TempDir& dir, std::string_view name, const std::vector<std::pair<std::string, std::string>>& entries) {
    ZipWriter writer;
    for (const auto& [entry, bytes] : entries) AddEntry(writer, entry, bytes);
    FinishZip(writer, dir.File(name));
    return dir.File(name);
}

Document Read(const std::string& path) {
    ConvertContext context;
    return ReadDocument(path, context);
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "(no error)";
}

std::string ReadError(const std::string& path) {
    return ErrorOf([&] { Read(path); });
}

std::string Corpus(std::string_view relative) { return DataPath("corpus/documents/" + std::string(relative)); }

std::string WordXml(std::string_view text) { return "<w:document><w:body><w:p><w:r><w:t>" + std::string(text) + "</w:t></w:r></w:p></w:body></w:document>"; }

std::string SlideXml(std::string_view title) {
    return "<p:sld><p:cSld><p:spTree>" +
           (title.empty() ? "" : "<p:sp><p:txBody><a:p><a:r><a:t>" + std::string(title) + "</a:t></a:r></a:p></p:txBody></p:sp>") +
           "</p:spTree></p:cSld></p:sld>";
}

// A presentation part listing rId<n> for each n, and relationships rId1.. for the targets.
std::string PresentationXml(const std::vector<int>& ids) {
    std::string xml = "<p:presentation><p:sldIdLst>";
    for (int id : ids) xml += "<p:sldId id=\"" + std::to_string(255 + id) + "\" r:id=\"rId" + std::to_string(id) + "\"/>";
    return xml + "</p:sldIdLst></p:presentation>";
}

std::string RelationshipsXml(const Lines& targets) {
    std::string xml = "<Relationships>";
    for (size_t i = 0; i < targets.size(); ++i)
        xml += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Target=\"" + targets[i] + "\"/>";
    return xml + "</Relationships>";
}

// Byte surgery on a package. A central-directory record: signature, method at 10,
// compressed size at 20, name length at 28, local header offset at 42, name at 46.
// A local header: name length at 26, extra length at 28, 30 bytes before the name.
uint32_t Le16(const std::string& bytes, size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; }
uint32_t Le32(const std::string& bytes, size_t at) { return Le16(bytes, at) | Le16(bytes, at + 2) << 16; }

size_t CentralRecord(const std::string& zip, std::string_view name) {
    for (size_t at = zip.find("PK\x01\x02"); at != zip.npos; at = zip.find("PK\x01\x02", at + 1))
        if (Le16(zip, at + 28) == name.size() && zip.compare(at + 46, name.size(), name) == 0) return at;
    ADD_FAILURE() << "no central record for " << name;
    return 0;
}

size_t LocalHeader(const std::string& zip, std::string_view name) { return Le32(zip, CentralRecord(zip, name) + 42); }

size_t DataStart(const std::string& zip, std::string_view name) {
    size_t local = LocalHeader(zip, name);
    return local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
}

// What pandoc reads from a file, in the form of Describe(visible): pandoc writes HTML,
// which our scanner takes apart into headings (levels above 3 shown as 3, as our model
// stores them), paragraphs, list items and table rows of tab-separated cells. Footnote
// sections at the end are left out.
Lines PandocView(const std::string& path) {
    struct View : XmlHandler {
        TextSink sink;
        Lines lines, cells;
        std::string prefix;
        int items = 0;
        bool open = false, inCell = false, ended = false;
        void Begin(std::string kind) {
            End();
            prefix = std::move(kind);
            sink.out.clear();
            sink.collecting = open = true;
        }
        void End() {
            if (open) lines.push_back(prefix + Trim(sink.out));
            sink.collecting = open = false;
        }
        void OnTag(std::string_view name, std::string_view, bool closing, bool) override {
            if (name == "section") ended = true;
            if (ended) return;
            if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
                closing ? End() : Begin("h" + std::to_string(std::min(name[1] - '0', 3)) + ":");
            } else if (name == "p" && items == 0 && !inCell) {
                closing ? End() : Begin("");
            } else if (name == "li") {
                End();
                items += closing ? -1 : 1;
                if (!closing) Begin("*");
            } else if (name == "td" || name == "th") {
                if (closing) cells.push_back(Trim(sink.out));
                sink.out.clear();
                sink.collecting = inCell = !closing;
            } else if (name == "tr" && closing) {
                std::string row;
                for (size_t i = 0; i < cells.size(); ++i) row += (i ? "\t" : "") + cells[i];
                lines.push_back(row);
                cells.clear();
            }
        }
    } view;
    CommandResult result = RunCommand("pandoc -t html --wrap=none " + ShellQuote(path));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    ScanXml(result.output, view, view.sink);
    return view.lines;
}

std::string PandocMake(const TempDir& dir, std::string_view markdown, std::string_view name, std::string_view format) {
    WriteFile(dir.File("source.md"), markdown);
    CommandResult result = RunCommand("pandoc -f markdown -t " + std::string(format) + " -o " + ShellQuote(dir.File(name)) +
                                      " " + ShellQuote(dir.File("source.md")));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return dir.File(name);
}

}  // namespace

TEST(WordReader, ReadsOnlyTheBodyPartAndTakesTheStemAsTitle) {
    TempDir dir;
    for (const char* name : {"a.docx", "Report.v2.DOCM"}) {
        Document document = Read(Package(dir, name, {{"word/styles.xml", WordXml("from styles")},
                                                     {"word/footnotes.xml", WordXml("a footnote")},
                                                     {"word/document.xml", WordXml("Body")}}));
        EXPECT_EQ(Describe(document), (Lines{"Body"}));
        EXPECT_EQ(WideToUtf8(document.title), std::string(name).substr(0, std::string(name).rfind('.')));
        EXPECT_TRUE(document.tables.empty());
    }
}

TEST(WordReader, PackageWithoutBodyPartIsNotAWordDocument) {
    TempDir dir;
    // Names are matched exactly: a differently cased body part does not count.
    EXPECT_EQ(ReadError(Package(dir, "a.docx", {{"Word/Document.xml", WordXml("x")}})), "This doesn't look like a Word document");
    EXPECT_EQ(ReadError(Package(dir, "b.docx", {})), "This doesn't look like a Word document");
}

TEST(OpenDocumentReader, TextDocumentsAndPresentations) {
    TempDir dir;
    std::string text = Package(dir, "a.odt", {{"mimetype", "application/vnd.oasis.opendocument.text"},
                                              {"styles.xml", "<office:master-styles><text:p>footer</text:p></office:master-styles>"},
                                              {"content.xml", "<office:text><text:h>T</text:h><text:p>p</text:p></office:text>"}});
    EXPECT_EQ(Describe(Read(text)), (Lines{"h1:T", "p"}));
    std::string title = "<draw:frame presentation:class=\"title\"><draw:text-box><text:p>";
    std::string slides = Package(dir, "b.odp", {{"content.xml", "<office:presentation><draw:page>" + title + "One</text:p>"
                                                                "</draw:text-box></draw:frame></draw:page><draw:page>" +
                                                                    title + "Two</text:p></draw:text-box></draw:frame></draw:page>"}});
    EXPECT_EQ(Describe(Read(slides)), (Lines{"h2:One", "^h2:Two"}));
    EXPECT_EQ(ReadError(Package(dir, "c.odp", {{"Content.xml", "<office:document-content/>"}})),
              "This doesn't look like an OpenDocument file");
}

TEST(PowerPointReader, SlideOrderComesFromThePresentationNotTheNames) {
    TempDir dir;
    std::string path = Package(dir, "a.pptx", {{"ppt/slides/slide1.xml", SlideXml("One")},
                                               {"ppt/slides/slide2.xml", SlideXml("Two")},
                                               {"ppt/slides/slide3.xml", SlideXml("Three")},
                                               {"ppt/_rels/presentation.xml.rels",
                                                RelationshipsXml({"slides/slide1.xml", "slides/slide2.xml", "/ppt/slides/slide3.xml"})},
                                               {"ppt/presentation.xml", PresentationXml({3, 1, 2})}});
    EXPECT_EQ(Describe(Read(path)), (Lines{"h2:Three", "^h2:One", "^h2:Two"}));
}

TEST(PowerPointReader, NumberedSlidesAreProbedWhenNoListedSlideResolves) {
    TempDir dir;
    // No presentation part: probing stops at the first missing number, so slide 4 is never reached.
    EXPECT_EQ(Describe(Read(Package(dir, "a.pptx", {{"ppt/slides/slide2.xml", SlideXml("Two")},
                                                    {"ppt/slides/slide1.xml", SlideXml("One")},
                                                    {"ppt/slides/slide4.xml", SlideXml("Four")}}))),
              (Lines{"h2:One", "^h2:Two"}));
    // A presentation part whose relationships are missing.
    EXPECT_EQ(Describe(Read(Package(dir, "b.pptx", {{"ppt/presentation.xml", PresentationXml({1})},
                                                    {"ppt/slides/slide1.xml", SlideXml("")}}))),
              (Lines{"h2:Slide 1"}));
}

TEST(PowerPointReader, PresentationWithoutSlidesFails) {
    TempDir dir;
    EXPECT_EQ(ReadError(Package(dir, "a.pptx", {{"ppt/presentation.xml", PresentationXml({})},
                                                {"ppt/_rels/presentation.xml.rels", RelationshipsXml({"slides/slide1.xml"})},
                                                {"ppt/slides/slide0.xml", SlideXml("zero")},
                                                {"ppt/slides/Slide1.xml", SlideXml("cased")}})),
              "This presentation has no slides");
    EXPECT_EQ(ReadError(Package(dir, "b.pptx", {})), "This presentation has no slides");
}

TEST(PowerPointReader, UnreadableSlideIsSkippedButKeepsItsNumber) {
    TempDir dir;
    std::string path = Package(dir, "a.pptx", {{"ppt/slides/slide1.xml", SlideXml("First")},
                                               {"ppt/slides/slide2.xml", SlideXml("Damaged")},
                                               {"ppt/slides/slide3.xml", SlideXml("")},
                                               {"ppt/_rels/presentation.xml.rels",
                                                RelationshipsXml({"slides/slide1.xml", "slides/slide2.xml",
                                                                  "slides/slide3.xml", "slides/missing.xml"})},
                                               {"ppt/presentation.xml", PresentationXml({1, 4, 2, 3})}});
    std::string bytes = ReadFile(path);
    bytes[LocalHeader(bytes, "ppt/slides/slide2.xml")] = 'X';  // its local header loses its signature
    std::filesystem::remove(path);
    WriteFile(path, bytes);
    // Listed: slide1, a missing part, slide2 (unreadable), slide3 (no text): numbers 1 to 4.
    EXPECT_EQ(Describe(Read(path)), (Lines{"h2:First", "^h2:Slide 4"}));
}

TEST(OfficeReaders, FilesThatAreNoPackage) {
    TempDir dir;
    for (const char* name : {"a.docx", "a.docm", "a.odt", "a.odp", "a.pptx"}) {
        WriteFile(dir.File(name), "");
        EXPECT_EQ(ReadError(dir.File(name)), "This isn't a valid document") << name;
        EXPECT_EQ(ReadError(dir.File(std::string("gone") + name)), "Couldn't open the document") << name;
    }
    WriteFile(dir.File("xml.docx"), "<w:document><w:body><w:p><w:r><w:t>plain XML</w:t></w:r></w:p></w:body></w:document>");
    EXPECT_EQ(ReadError(dir.File("xml.docx")), "This isn't a valid document");
    for (const char* name : {"docx/docx-headers.docx", "odt/odt-odt-headers.odt", "pptx/pptx-speaker-notes-output.pptx"}) {
        std::string bytes = ReadFile(Corpus(name));
        std::string cut = dir.File(std::string("cut") + std::filesystem::path(name).extension().string());
        std::filesystem::remove(cut);
        WriteFile(cut, bytes.substr(0, bytes.size() / 2));
        EXPECT_EQ(ReadError(cut), "This isn't a valid document") << name;
    }
}

TEST(OfficeReaders, DamagedPackagesFailWithTheirMessage) {
    TempDir dir;
    std::string word = ReadFile(Corpus("docx/docx-headers.docx"));
    std::string directory = word, deflate = word;
    directory[CentralRecord(word, "word/document.xml")] = 'X';
    ASSERT_EQ(Le16(word, CentralRecord(word, "word/document.xml") + 10), 8u);  // deflated
    deflate[DataStart(word, "word/document.xml")] = 0x07;                      // a final block of the reserved type
    std::string odt = ReadFile(Corpus("odt/odt-odt-headers.odt"));
    size_t content = CentralRecord(odt, "content.xml");
    ASSERT_EQ(Le16(odt, content + 10), 8u);
    odt.replace(content + 20, 4, std::string("\x10\0\0\0", 4));  // 16 bytes: the stream ends early
    WriteFile(dir.File("a.docx"), directory);
    WriteFile(dir.File("b.docx"), deflate);
    WriteFile(dir.File("c.odt"), odt);
    EXPECT_EQ(ReadError(dir.File("a.docx")), "The document is corrupted");
    EXPECT_EQ(ReadError(dir.File("b.docx")), "The document is corrupted");
    EXPECT_EQ(ReadError(dir.File("c.odt")), "The document is truncated");
}

TEST(OfficeReaders, FailedConversionLeavesNoOutputAndTheInputUnchanged) {
    TempDir dir;
    std::string bytes = ReadFile(Corpus("pptx/pptx-speaker-notes-output.pptx"));
    bytes.resize(bytes.size() - 100);  // the end record is gone
    WriteFile(dir.File("talk.pptx"), bytes);
    ConvertContext context;
    for (int32_t format : {kDocx, kOdt, kTxt, kPdf}) {
        EXPECT_EQ(ErrorOf([&] { ConvertDocument(dir.File("talk.pptx"), Target{format, 0, ""}, context); }),
                  "This isn't a valid document");
        EXPECT_EQ(ListFolder(dir.path()), "talk.pptx");
    }
    EXPECT_EQ(ReadFile(dir.File("talk.pptx")), bytes);
}

TEST(OfficeReadersWithPandoc, WordAndOpenDocumentFilesMatchWhatWasWritten) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    std::string markdown = "# Grüße, 日本語, emoji 😀\n\nBody with *emphasis*, `code` and a [link](http://example.com).\n\n"
                           "## Second level\n\n- first item\n- second: ünïcödé\n- third 😀\n\n### Third level\n\n"
                           "| Name | Größe | Note |\n|---|---|---|\n| a | 1 | x |\n| 日本 | 2 | y z |\n\nClosing.\n";
    Lines expected = {"h1:Grüße, 日本語, emoji 😀", "Body with emphasis, code and a link.", "h2:Second level", "*first item",
                      "*second: ünïcödé", "*third 😀", "h3:Third level", "Name\tGröße\tNote", "a\t1\tx", "日本\t2\ty z", "Closing."};
    EXPECT_EQ(Describe(Read(PandocMake(dir, markdown, "made.docx", "docx"))), expected);
    EXPECT_EQ(Describe(Read(PandocMake(dir, markdown, "made.odt", "odt"))), expected);
}

TEST(OfficeReadersWithPandoc, PresentationSlideTitlesAndOrder) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    std::string markdown = "# First slide\n\n- point one\n- point two\n\n# Zweite Folie: Grüße\n\nSome text 😀\n\n"
                           "# Third\n\nBody three\n\n::: notes\nspeaker notes here\n:::\n\n# 日本語\n\n# Last\n";
    EXPECT_EQ(Describe(Read(PandocMake(dir, markdown, "made.pptx", "pptx"))),
              (Lines{"h2:First slide", "point one", "point two", "^h2:Zweite Folie: Grüße", "Some text 😀", "^h2:Third",
                     "Body three", "^h2:日本語", "^h2:Last"}));
}

TEST(OfficeReadersOnRealFiles, EveryFileReads) {
    size_t files = 0;
    for (const char* folder : {"docx", "odt", "pptx"}) {
        for (const auto& entry : std::filesystem::directory_iterator(Corpus(folder))) {
            std::string name = entry.path().filename().string();
            Document document;
            EXPECT_EQ(ErrorOf([&] { document = Read(entry.path().string()); }), "(no error)") << name;
            ++files;
            // Only a picture, or text hidden by a field: nothing to read, as pandoc agrees. The
            // ns0 file names its WordprocessingML elements with another prefix; element names are
            // matched with their usual prefixes, not resolved, so it reads as empty.
            bool textless = name == "odt-odt-image.odt" || name == "odt-odt-imageRelative.odt" ||
                            name == "odt-odt-hiddenTextByVariable.odt" || name == "docx-ns0-reference.docx";
            EXPECT_EQ(Describe(document, true).empty(), textless) << name;
        }
    }
    EXPECT_GE(files, 70u);
}

TEST(OfficeReadersOnRealFiles, TextHeadingsListsAndTablesAsPandocReadsThem) {
    REQUIRE_TOOL("pandoc");
    for (const char* name : {"odt/odt-odt-headers.odt", "odt/odt-odt-unicode.odt", "odt/odt-odt-bold.odt",
                             "odt/odt-odt-sourceText.odt", "odt/odt-odt-simpleTable.odt", "docx/docx-comments.docx",
                             "docx/docx-track_changes_insertion.docx", "docx/docx-lists-compact.docx",
                             "docx/docx-unused_anchors.docx", "docx/docx-enumerated_headings.docx",
                             "docx/docx-table_one_row.docx", "docx/docx-sdt_elements.docx"})
        EXPECT_EQ(Describe(Read(Corpus(name)), true), PandocView(Corpus(name))) << name;
}

TEST(OfficeReadersOnRealFiles, WhereWeDifferFromPandoc) {
    REQUIRE_TOOL("pandoc");
    // The seventh heading's style is not defined in the file's styles part, which pandoc
    // reads and we do not: its identifier "Heading7" still makes it a heading here.
    Lines headers = PandocView(Corpus("docx/docx-headers.docx"));
    ASSERT_EQ(headers.size(), 13u);
    headers[11] = "h3:" + headers[11];
    EXPECT_EQ(Describe(Read(Corpus("docx/docx-headers.docx")), true), headers);
    // pandoc shows tabs as spaces; the model keeps them.
    EXPECT_EQ(PandocView(Corpus("docx/docx-tabs.docx")), (Lines{"Some text separated by a tab.", "Tab-indented text."}));
    EXPECT_EQ(Describe(Read(Corpus("docx/docx-tabs.docx"))), (Lines{"Some text separated\tby a tab.", "\tTab-indented text."}));
    EXPECT_EQ(Describe(Read(Corpus("odt/odt-odt-tab.odt"))), (Lines{"Three tabs between A and B will be converted to one Space: A\t\t\tB."}));
    // pandoc keeps notes as a numbered reference and an end note; notes are not read here.
    EXPECT_EQ(PandocView(Corpus("odt/odt-odt-footnote.odt")), (Lines{"Some text1 with a footnote."}));
    EXPECT_EQ(Describe(Read(Corpus("odt/odt-odt-footnote.odt"))), (Lines{"Some text with a footnote."}));
    EXPECT_EQ(Describe(Read(Corpus("odt/odt-odt-endnote.odt"))), (Lines{"Some text with an endnote."}));
    // This pandoc leaves out the header row (the file's "table:table-header-rows" holds A, B
    // and C); the body rows agree, empty cells included.
    Lines table = PandocView(Corpus("odt/odt-odt-simpleTableWithHeader.odt"));
    table.insert(table.begin(), "A\tB\tC");
    EXPECT_EQ(Describe(Read(Corpus("odt/odt-odt-simpleTableWithHeader.odt")), true), table);
}

TEST(OfficeReadersOnRealFiles, Presentations) {
    // Checked against the slide parts themselves (unzip -p), as this pandoc cannot read them.
    EXPECT_EQ(Describe(Read(Corpus("pptx/pptx-speaker-notes-output.pptx"))),
              (Lines{"h2:Here is a slide.", "^h2:A page with no speaker notes", "^h2:A page with two notes.",
                     "^h2:Strip links and footnotes."}));
    Lines background = Describe(Read(Corpus("pptx/pptx-background-image-output.pptx")));
    ASSERT_EQ(background.size(), 12u);
    EXPECT_EQ(background.front(), "h2:Section Header (with background image)");
    EXPECT_EQ(background[1], "^h2:Slide 1");      // a title that reads "Slide 1"
    EXPECT_EQ(background.back(), "^h2:Slide 6");  // the sixth slide has no text
}
