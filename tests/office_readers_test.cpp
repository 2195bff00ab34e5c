// The office readers on whole packages: packages built here, packages written by an
// independent producer (pandoc), and real files from word processors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert/core/catalog.h"
#include "convert/core/converters.h"
#include "convert/core/context.h"
#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/document.h"
#include "convert/documents/readers.h"
#include "convert/documents/xml.h"
#include "convert/documents/zip.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;
using Entries = std::vector<std::pair<std::string, std::string>>;

// One block as "^" (break before) "hN:" (heading level) "*" (list item) and the text.
std::string Describe(const Block& block) {
    std::string line;
    if (block.breakBefore) line += "^";
    if (block.level != 0) line += "h" + std::to_string(block.level) + ":";
    if (block.listItem) line += "*";
    return line + WideToUtf8(block.text);
}

Lines Describe(const Document& document) {
    Lines lines;
    for (const Block& block : document.blocks) lines.push_back(Describe(block));
    return lines;
}

// Spaces and line ends around a text go; tabs stay, as they separate table cells.
std::string Trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \r\n");
    if (first == text.npos) return {};
    size_t last = text.find_last_not_of(" \r\n");
    return std::string(text.substr(first, last - first + 1));
}

// Non-empty blocks with their text trimmed, as a reader of the output would see them.
Lines Visible(const Document& document) {
    Lines lines;
    for (Block block : document.blocks) {
        std::string text = Trim(WideToUtf8(block.text));
        if (text.empty()) continue;
        block.text = Utf8ToWide(text);
        lines.push_back(Describe(block));
    }
    return lines;
}

std::string WritePackage(const TempDir& dir, std::string_view name, const Entries& entries) {
    ZipWriter writer;
    for (const auto& [entryName, bytes] : entries) AddEntry(writer, entryName, bytes);
    std::string path = dir.File(name);
    FinishZip(writer, path);
    return path;
}

// The message of the ConvertError that `read` throws, or a note that it threw none.
std::string ErrorOf(const std::function<void()>& read) {
    try {
        read();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "(no error)";
}

Document Read(const std::string& path) {
    ConvertContext context;
    return ReadDocument(path, context);
}

std::string ReadError(const std::string& path) {
    return ErrorOf([&] { Read(path); });
}

std::string WordXml(std::string_view body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document xmlns:w=\"x\"><w:body>" +
           std::string(body) + "</w:body></w:document>";
}

std::string WordParagraph(std::string_view text) { return "<w:p><w:r><w:t>" + std::string(text) + "</w:t></w:r></w:p>"; }

std::string SlideXml(std::string_view title) {
    std::string body = title.empty() ? "" : "<p:sp><p:txBody><a:p><a:r><a:t>" + std::string(title) + "</a:t></a:r></a:p></p:txBody></p:sp>";
    return "<?xml version=\"1.0\"?><p:sld><p:cSld><p:spTree>" + body + "</p:spTree></p:cSld></p:sld>";
}

std::string Relationships(const Lines& targets) {
    std::string xml = "<?xml version=\"1.0\"?><Relationships>";
    for (size_t i = 0; i < targets.size(); ++i)
        xml += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Type=\"t\" Target=\"" + targets[i] + "\"/>";
    return xml + "</Relationships>";
}

std::string Presentation(const Lines& ids) {
    std::string xml = "<?xml version=\"1.0\"?><p:presentation><p:sldIdLst>";
    for (size_t i = 0; i < ids.size(); ++i)
        xml += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"" + ids[i] + "\"/>";
    return xml + "</p:sldIdLst></p:presentation>";
}

// --- byte surgery on packages, to damage one entry on purpose ---

uint32_t Le16(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
}
uint32_t Le32(const std::string& bytes, size_t at) { return Le16(bytes, at) | Le16(bytes, at + 2) << 16; }
void PutLe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Offset of the central-directory record of `name` (signature, then 42 bytes to the offset
// of its local header, name length at 28 and the name at 46).
size_t CentralRecord(const std::string& zip, std::string_view name) {
    for (size_t at = zip.find("PK\x01\x02"); at != zip.npos; at = zip.find("PK\x01\x02", at + 1)) {
        if (at + 46 > zip.size()) break;
        size_t length = Le16(zip, at + 28);
        if (zip.compare(at + 46, length, name) == 0 && length == name.size()) return at;
    }
    ADD_FAILURE() << "no central record for " << name;
    return 0;
}

size_t LocalHeader(const std::string& zip, std::string_view name) { return Le32(zip, CentralRecord(zip, name) + 42); }

// Where the entry's data starts: after the 30-byte local header, its name and extra field.
size_t DataStart(const std::string& zip, std::string_view name) {
    size_t local = LocalHeader(zip, name);
    return local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
}

std::string Corpus(std::string_view relative) { return DataPath("corpus/documents/" + std::string(relative)); }

// What pandoc reads from a file, in the form of Describe: it writes HTML, which our scanner
// takes apart into headings (levels above 3 shown as 3, as our model stores them), body
// paragraphs, list items and table rows with tab-separated cells.
class PandocHtmlView : public XmlHandler {
public:
    explicit PandocHtmlView(TextSink& sink) : sink_(sink) {}
    void OnTag(std::string_view name, std::string_view, bool closing, bool selfClosing) override {
        if (name == "section") {
            if (!closing) ended_ = true;  // footnotes at the end
            return;
        }
        if (ended_) return;
        if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
            if (!closing)
                Begin("h" + std::to_string(std::min(name[1] - '0', 3)) + ":");
            else
                End();
        } else if (name == "p") {
            if (itemDepth_ > 0 || inCell_) return;
            if (!closing)
                Begin("");
            else
                End();
        } else if (name == "li") {
            End();
            if (!closing) {
                ++itemDepth_;
                Begin("*");
            } else {
                --itemDepth_;
            }
        } else if (name == "td" || name == "th") {
            if (!closing) {
                inCell_ = true;
                sink_.out.clear();
                sink_.collecting = true;
            } else {
                cells_.push_back(Trim(sink_.out));
                inCell_ = false;
                sink_.collecting = false;
            }
        } else if (name == "tr" && closing) {
            std::string row;
            for (size_t i = 0; i < cells_.size(); ++i) row += (i ? "\t" : "") + cells_[i];
            lines.push_back(row);
            cells_.clear();
        } else if (name == "br" && (selfClosing || !closing)) {
            if (sink_.collecting) sink_.out.push_back('\n');
        }
    }
    Lines lines;

private:
    void Begin(std::string prefix) {
        End();
        prefix_ = std::move(prefix);
        sink_.out.clear();
        sink_.collecting = open_ = true;
    }
    void End() {
        if (!open_) return;
        lines.push_back(prefix_ + Trim(sink_.out));
        sink_.out.clear();
        sink_.collecting = open_ = false;
    }
    TextSink& sink_;
    std::string prefix_;
    Lines cells_;
    int itemDepth_ = 0;
    bool inCell_ = false;
    bool open_ = false;
    bool ended_ = false;
};

Lines PandocView(const std::string& path) {
    CommandResult result = RunCommand("pandoc -t html --wrap=none " + ShellQuote(path));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    TextSink sink;
    PandocHtmlView view(sink);
    ScanXml(result.output, view, sink);
    return view.lines;
}

// A Markdown file turned into `format` by pandoc.
std::string PandocMake(const TempDir& dir, std::string_view markdown, std::string_view name, std::string_view format) {
    std::string source = dir.File("source.md");
    WriteFile(source, markdown);
    std::string path = dir.File(name);
    CommandResult result =
        RunCommand("pandoc -f markdown -t " + std::string(format) + " -o " + ShellQuote(path) + " " + ShellQuote(source));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return path;
}

constexpr std::string_view kMarkdown =
    "# Grüße, 日本語, emoji 😀\n\n"
    "Body paragraph with *emphasis*, `code` and a [link](http://example.com).\n\n"
    "## Second level\n\n"
    "- first item\n- second item: ünïcödé\n- third item 😀\n\n"
    "### Third level\n\n"
    "| Name | Größe | Note |\n|------|-------|------|\n| a | 1 | x |\n| 日本 | 2 | y z |\n\n"
    "Closing paragraph.\n";

const Lines kMarkdownBlocks = {
    "h1:Grüße, 日本語, emoji 😀",
    "Body paragraph with emphasis, code and a link.",
    "h2:Second level",
    "*first item",
    "*second item: ünïcödé",
    "*third item 😀",
    "h3:Third level",
    "Name\tGröße\tNote",
    "a\t1\tx",
    "日本\t2\ty z",
    "Closing paragraph.",
};

}  // namespace

// --- packages built here ------------------------------------------------------------------

TEST(WordReader, ReadsOnlyTheBodyPart) {
    TempDir dir;
    std::string path = WritePackage(dir, "a.docx",
                                    {{"[Content_Types].xml", "<Types/>"},
                                     {"word/styles.xml", WordXml(WordParagraph("from styles"))},
                                     {"word/footnotes.xml", WordXml(WordParagraph("a footnote"))},
                                     {"word/document.xml", WordXml(WordParagraph("Body"))}});
    Document document = ReadWord(path);
    EXPECT_EQ(Describe(document), (Lines{"Body"}));
    EXPECT_TRUE(document.title.empty());
    EXPECT_TRUE(document.tables.empty());
}

TEST(WordReader, MacroEnabledDocumentsReadTheSameAndTakeTheStemAsTitle) {
    TempDir dir;
    std::string path = WritePackage(dir, "Report.v2.DOCM", {{"word/document.xml", WordXml(WordParagraph("x"))}});
    Document document = Read(path);
    EXPECT_EQ(Describe(document), (Lines{"x"}));
    EXPECT_EQ(document.title, u"Report.v2");
}

TEST(WordReader, PackageWithoutBodyPartIsNotAWordDocument) {
    TempDir dir;
    // Names are matched exactly: a differently cased body part does not count.
    std::string path = WritePackage(dir, "a.docx", {{"Word/Document.xml", WordXml(WordParagraph("x"))},
                                                    {"word/styles.xml", "<w:styles/>"}});
    EXPECT_EQ(ReadError(path), "This doesn't look like a Word document");
    EXPECT_EQ(ReadError(WritePackage(dir, "empty.docx", {})), "This doesn't look like a Word document");
}

TEST(OpenDocumentReader, TextDocumentsAndPresentations) {
    TempDir dir;
    std::string text = WritePackage(
        dir, "a.odt",
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
         {"styles.xml", "<office:document-styles><text:p>footer</text:p></office:document-styles>"},
         {"content.xml", "<office:document-content><office:body><office:text><text:h text:outline-level=\"1\">T</text:h>"
                         "<text:p>p</text:p></office:text></office:body></office:document-content>"}});
    EXPECT_EQ(Describe(Read(text)), (Lines{"h1:T", "p"}));

    std::string slides = WritePackage(
        dir, "b.odp",
        {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
         {"content.xml", "<office:presentation><draw:page><draw:frame presentation:class=\"title\"><draw:text-box>"
                         "<text:p>One</text:p></draw:text-box></draw:frame></draw:page><draw:page><draw:frame "
                         "presentation:class=\"title\"><draw:text-box><text:p>Two</text:p></draw:text-box></draw:frame>"
                         "</draw:page></office:presentation>"}});
    Document document = Read(slides);
    EXPECT_EQ(Describe(document), (Lines{"h2:One", "^h2:Two"}));
    EXPECT_EQ(document.title, u"b");
}

TEST(OpenDocumentReader, PackageWithoutContentIsNotAnOpenDocumentFile) {
    TempDir dir;
    std::string path = WritePackage(dir, "a.odp", {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
                                                   {"Content.xml", "<office:document-content/>"}});
    EXPECT_EQ(ReadError(path), "This doesn't look like an OpenDocument file");
}

TEST(PowerPointReader, SlideOrderComesFromThePresentationNotTheNames) {
    TempDir dir;
    std::string path = WritePackage(
        dir, "a.pptx",
        {{"ppt/slides/slide1.xml", SlideXml("One")},
         {"ppt/slides/slide2.xml", SlideXml("Two")},
         {"ppt/slides/slide3.xml", SlideXml("Three")},
         {"ppt/_rels/presentation.xml.rels",
          Relationships({"slides/slide1.xml", "slides/slide2.xml", "/ppt/slides/slide3.xml", "theme/theme1.xml"})},
         {"ppt/presentation.xml", Presentation({"rId3", "rId1", "rId2"})}});
    EXPECT_EQ(Describe(Read(path)), (Lines{"h2:Three", "^h2:One", "^h2:Two"}));
}

TEST(PowerPointReader, WithoutPresentationPartNumberedSlidesAreProbed) {
    TempDir dir;
    // Probing stops at the first missing number: slide 4 is never reached.
    std::string path = WritePackage(dir, "a.pptx", {{"ppt/slides/slide2.xml", SlideXml("Two")},
                                                    {"ppt/slides/slide1.xml", SlideXml("One")},
                                                    {"ppt/slides/slide4.xml", SlideXml("Four")}});
    EXPECT_EQ(Describe(Read(path)), (Lines{"h2:One", "^h2:Two"}));
}

TEST(PowerPointReader, UnresolvableSlideListFallsBackToProbing) {
    TempDir dir;
    // The relationships part is missing, so no listed slide resolves.
    std::string path = WritePackage(dir, "a.pptx", {{"ppt/presentation.xml", Presentation({"rId1"})},
                                                    {"ppt/slides/slide1.xml", SlideXml("")}});
    EXPECT_EQ(Describe(Read(path)), (Lines{"h2:Slide 1"}));
}

TEST(PowerPointReader, PresentationWithoutSlidesFails) {
    TempDir dir;
    EXPECT_EQ(ReadError(WritePackage(dir, "a.pptx",
                                     {{"ppt/presentation.xml", Presentation({})},
                                      {"ppt/_rels/presentation.xml.rels", Relationships({"slides/slide1.xml"})},
                                      {"ppt/slides/slide0.xml", SlideXml("zero")},
                                      {"ppt/slides/Slide1.xml", SlideXml("cased")}})),
              "This presentation has no slides");
    EXPECT_EQ(ReadError(WritePackage(dir, "b.pptx", {})), "This presentation has no slides");
}

TEST(PowerPointReader, UnreadableSlideIsSkippedButKeepsItsNumber) {
    TempDir dir;
    std::string path = WritePackage(
        dir, "a.pptx",
        {{"ppt/slides/slide1.xml", SlideXml("First")},
         {"ppt/slides/slide2.xml", SlideXml("Damaged")},
         {"ppt/slides/slide3.xml", SlideXml("")},
         {"ppt/_rels/presentation.xml.rels",
          Relationships({"slides/slide1.xml", "slides/slide2.xml", "slides/slide3.xml", "slides/missing.xml"})},
         {"ppt/presentation.xml", Presentation({"rId1", "rId4", "rId2", "rId3"})}});
    // Slide 2's local header loses its signature, so the entry cannot be read.
    std::string bytes = ReadFile(path);
    bytes[LocalHeader(bytes, "ppt/slides/slide2.xml")] = 'X';
    std::filesystem::remove(path);
    WriteFile(path, bytes);
    // The list is slide1, missing, slide2 (damaged), slide3 (no text): numbers 1 to 4.
    EXPECT_EQ(Describe(Read(path)), (Lines{"h2:First", "^h2:Slide 4"}));
}

// --- bad input --------------------------------------------------------------------------

TEST(OfficeReaders, EmptyFilesAreNotValidDocuments) {
    TempDir dir;
    for (const char* name : {"a.docx", "a.docm", "a.odt", "a.odp", "a.pptx"}) {
        WriteFile(dir.File(name), "");
        EXPECT_EQ(ReadError(dir.File(name)), "This isn't a valid document") << name;
    }
}

TEST(OfficeReaders, MissingFileCannotBeOpened) {
    TempDir dir;
    EXPECT_EQ(ErrorOf([&] { ReadWord(dir.File("gone.docx")); }), "Couldn't open the document");
    EXPECT_EQ(ErrorOf([&] { ReadOpenDocument(dir.File("gone.odt")); }), "Couldn't open the document");
    EXPECT_EQ(ErrorOf([&] { ReadPowerPoint(dir.File("gone.pptx")); }), "Couldn't open the document");
}

TEST(OfficeReaders, TextThatIsNoPackageIsNotValid) {
    TempDir dir;
    WriteFile(dir.File("a.docx"), "<w:document><w:body><w:p><w:r><w:t>plain XML</w:t></w:r></w:p></w:body></w:document>");
    EXPECT_EQ(ReadError(dir.File("a.docx")), "This isn't a valid document");
}

TEST(OfficeReaders, TruncatedPackagesFail) {
    TempDir dir;
    for (const char* name : {"docx/docx-headers.docx", "odt/odt-odt-headers.odt", "pptx/pptx-speaker-notes-output.pptx"}) {
        std::string bytes = ReadFile(Corpus(name));
        std::string path = dir.File("cut" + std::string(std::strrchr(name, '.')));
        std::filesystem::remove(path);
        WriteFile(path, bytes.substr(0, bytes.size() / 2));
        EXPECT_EQ(ReadError(path), "This isn't a valid document") << name;
    }
}

TEST(OfficeReaders, DamagedCentralDirectoryIsCorrupted) {
    TempDir dir;
    std::string bytes = ReadFile(Corpus("docx/docx-headers.docx"));
    bytes[CentralRecord(bytes, "word/document.xml")] = 'X';
    WriteFile(dir.File("a.docx"), bytes);
    EXPECT_EQ(ReadError(dir.File("a.docx")), "The document is corrupted");
}

TEST(OfficeReaders, DamagedDeflateStreamIsCorrupted) {
    TempDir dir;
    std::string bytes = ReadFile(Corpus("docx/docx-headers.docx"));
    ASSERT_EQ(Le16(bytes, CentralRecord(bytes, "word/document.xml") + 10), 8u);  // deflated
    bytes[DataStart(bytes, "word/document.xml")] = 0x07;  // final block of the reserved type 3
    WriteFile(dir.File("a.docx"), bytes);
    EXPECT_EQ(ReadError(dir.File("a.docx")), "The document is corrupted");
}

TEST(OfficeReaders, DeflateStreamCutShortIsTruncated) {
    TempDir dir;
    std::string bytes = ReadFile(Corpus("odt/odt-odt-headers.odt"));
    size_t central = CentralRecord(bytes, "content.xml");
    ASSERT_EQ(Le16(bytes, central + 10), 8u);
    PutLe32(bytes, central + 20, 16);  // the compressed size now ends the stream early
    WriteFile(dir.File("a.odt"), bytes);
    EXPECT_EQ(ReadError(dir.File("a.odt")), "The document is truncated");
}

TEST(OfficeReaders, FailedConversionLeavesNoOutputAndTheInputUnchanged) {
    TempDir dir;
    std::string bytes = ReadFile(Corpus("pptx/pptx-speaker-notes-output.pptx"));
    std::string input = dir.File("talk.pptx");
    WriteFile(input, bytes.substr(0, bytes.size() - 100));
    ConvertContext context;
    for (int32_t format : {kDocx, kOdt, kTxt, kPdf}) {
        EXPECT_EQ(ErrorOf([&] { ConvertDocument(input, Target{format, 0, ""}, context); }), "This isn't a valid document");
        EXPECT_EQ(ListFolder(dir.path()), "talk.pptx");
    }
    EXPECT_EQ(ReadFile(input), bytes.substr(0, bytes.size() - 100));
}

// --- files written by pandoc ----------------------------------------------------------

TEST(OfficeReadersWithPandoc, WordFileMatchesWhatWasWritten) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    EXPECT_EQ(Describe(Read(PandocMake(dir, kMarkdown, "made.docx", "docx"))), kMarkdownBlocks);
}

TEST(OfficeReadersWithPandoc, OpenDocumentFileMatchesWhatWasWritten) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    EXPECT_EQ(Describe(Read(PandocMake(dir, kMarkdown, "made.odt", "odt"))), kMarkdownBlocks);
}

TEST(OfficeReadersWithPandoc, PresentationSlideTitlesAndOrder) {
    REQUIRE_TOOL("pandoc");
    TempDir dir;
    std::string markdown = "# First slide\n\n- point one\n- point two\n\n"
                           "# Zweite Folie: Grüße\n\nSome text 😀\n\n"
                           "# Third\n\nBody three\n\n::: notes\nspeaker notes here\n:::\n\n"
                           "# 日本語\n\n# Last\n";
    EXPECT_EQ(Describe(Read(PandocMake(dir, markdown, "made.pptx", "pptx"))),
              (Lines{"h2:First slide", "point one", "point two", "^h2:Zweite Folie: Grüße", "Some text 😀",
                     "^h2:Third", "Body three", "^h2:日本語", "^h2:Last"}));
}

// --- real files from word processors ---------------------------------------------------

TEST(OfficeReadersOnRealFiles, EveryFileReads) {
    size_t files = 0;
    for (const char* folder : {"docx", "odt", "pptx"}) {
        for (const auto& entry : std::filesystem::directory_iterator(Corpus(folder))) {
            std::string path = entry.path().string();
            Document document;
            EXPECT_EQ(ErrorOf([&] { document = Read(path); }), "(no error)") << path;
            ++files;
            // A file written with another prefix for the WordprocessingML namespace is read
            // without error but yields nothing: element names are matched with their usual
            // prefixes, not resolved.
            std::string name = entry.path().filename().string();
            if (name == "docx-ns0-reference.docx") {
                EXPECT_TRUE(document.blocks.empty());
            } else {
                // Only a picture, or text hidden by a field: nothing to read, as pandoc agrees.
                bool textless = name == "odt-odt-image.odt" || name == "odt-odt-imageRelative.odt" ||
                                name == "odt-odt-hiddenTextByVariable.odt";
                EXPECT_EQ(Visible(document).empty(), textless) << path;
            }
        }
    }
    EXPECT_GE(files, 70u);
}

TEST(OfficeReadersOnRealFiles, HeadingsAndParagraphsAsPandocReadsThem) {
    REQUIRE_TOOL("pandoc");
    for (const char* name : {"odt/odt-odt-headers.odt", "odt/odt-odt-unicode.odt", "odt/odt-odt-bold.odt",
                             "odt/odt-odt-sourceText.odt", "docx/docx-comments.docx",
                             "docx/docx-track_changes_insertion.docx", "docx/docx-lists-compact.docx",
                             "docx/docx-unused_anchors.docx", "docx/docx-enumerated_headings.docx"}) {
        EXPECT_EQ(Visible(Read(Corpus(name))), PandocView(Corpus(name))) << name;
    }
}

TEST(OfficeReadersOnRealFiles, NotesAreLeftOut) {
    REQUIRE_TOOL("pandoc");
    // pandoc keeps the note as a numbered reference and an end note; notes are not read here.
    Lines withNote = PandocView(Corpus("odt/odt-odt-footnote.odt"));
    EXPECT_EQ(withNote, (Lines{"Some text1 with a footnote."}));
    EXPECT_EQ(Visible(Read(Corpus("odt/odt-odt-footnote.odt"))), (Lines{"Some text with a footnote."}));
    EXPECT_EQ(Visible(Read(Corpus("odt/odt-odt-endnote.odt"))), (Lines{"Some text with an endnote."}));
}

TEST(OfficeReadersOnRealFiles, WordHeadingsFollowTheStyleIdentifier) {
    REQUIRE_TOOL("pandoc");
    // Levels 4 to 6 are stored as 3. The seventh heading's style is not defined in the
    // file's styles part, which pandoc reads and we do not: its identifier "Heading7"
    // still makes it a heading here.
    Lines expected = PandocView(Corpus("docx/docx-headers.docx"));
    ASSERT_EQ(expected.size(), 13u);
    ASSERT_EQ(expected[11], "Seventh level");
    expected[11] = "h3:Seventh level";
    EXPECT_EQ(Visible(Read(Corpus("docx/docx-headers.docx"))), expected);
}

TEST(OfficeReadersOnRealFiles, TabsStayTabs) {
    REQUIRE_TOOL("pandoc");
    // pandoc shows each tab as a space; the model keeps the tab.
    Lines expected = PandocView(Corpus("docx/docx-tabs.docx"));
    EXPECT_EQ(expected, (Lines{"Some text separated by a tab.", "Tab-indented text."}));
    EXPECT_EQ(Describe(Read(Corpus("docx/docx-tabs.docx"))), (Lines{"Some text separated\tby a tab.", "\tTab-indented text."}));
    EXPECT_EQ(Describe(Read(Corpus("odt/odt-odt-tab.odt"))),
              (Lines{"Three tabs between A and B will be converted to one Space: A\t\t\tB."}));
}

TEST(OfficeReadersOnRealFiles, TableRowsAsPandocReadsThem) {
    REQUIRE_TOOL("pandoc");
    for (const char* name : {"docx/docx-table_one_row.docx", "odt/odt-odt-simpleTable.odt",
                             "docx/docx-sdt_elements.docx"}) {
        EXPECT_EQ(Visible(Read(Corpus(name))), PandocView(Corpus(name))) << name;
    }
    // This pandoc leaves out the header row (the file's "table:table-header-rows" holds
    // A, B and C); the body rows agree, empty cells included.
    Lines withHeader = PandocView(Corpus("odt/odt-odt-simpleTableWithHeader.odt"));
    withHeader.insert(withHeader.begin(), "A\tB\tC");
    EXPECT_EQ(Visible(Read(Corpus("odt/odt-odt-simpleTableWithHeader.odt"))), withHeader);
}

TEST(OfficeReadersOnRealFiles, Presentations) {
    // Checked against the slide parts themselves (unzip -p ... | grep a:t), as pandoc does
    // not read presentations.
    EXPECT_EQ(Describe(Read(Corpus("pptx/pptx-speaker-notes-output.pptx"))),
              (Lines{"h2:Here is a slide.", "^h2:A page with no speaker notes", "^h2:A page with two notes.",
                     "^h2:Strip links and footnotes."}));
    Lines background = Describe(Read(Corpus("pptx/pptx-background-image-output.pptx")));
    ASSERT_EQ(background.size(), 12u);
    EXPECT_EQ(background.front(), "h2:Section Header (with background image)");
    EXPECT_EQ(background[1], "^h2:Slide 1");  // a title that reads "Slide 1"
    EXPECT_EQ(background.back(), "^h2:Slide 6");  // the sixth slide has no text
}
