// Every document, spreadsheet, presentation, text and e-book input the catalog knows,
// made by independent producers where one exists, converted through the command line
// (and so a worker) to every target the catalog offers it; each output is read back and
// must still hold the input's marker word.
#include <gtest/gtest.h>

#include <set>

#include "convert/core/catalog.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/readers.h"
#include "convert/documents/zip.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

constexpr char kMarker[] = "Quillaven";

const char kMarkdown[] = "# Quillaven report\n\nFirst paragraph with Grüße.\n\n- one item\n- two item\n";
const char kPython[] = "/usr/bin/python3";

void Run(const std::string& command) {
    CommandResult result = RunCommand(command);
    ASSERT_EQ(result.exitCode, 0) << command << "\n" << result.output;
}

// An OpenDocument presentation of one slide; no tool on the machine writes one.
void WriteOdp(const std::string& path) {
    ZipWriter zip;
    AddEntry(zip, "mimetype", "application/vnd.oasis.opendocument.presentation");
    AddEntry(zip, "content.xml",
             "<office:document-content><office:body><office:presentation>"
             "<draw:page draw:name=\"p1\"><draw:frame><draw:text-box>"
             "<text:p>Quillaven slide</text:p></draw:text-box></draw:frame></draw:page>"
             "</office:presentation></office:body></office:document-content>");
    WriteFile(path, FinishZip(zip));
}

// Makes one input of every document-family extension in `dir`; returns their paths.
std::vector<std::string> MakeInputs(const TempDir& dir) {
    std::vector<std::string> inputs;
    auto add = [&](const std::string& name) { inputs.push_back(dir.File(name)); };
    WriteFile(dir.File("source.md"), kMarkdown);
    for (const char* format : {"docx", "odt", "rtf", "html", "epub", "pptx"}) {
        Run("pandoc -s --metadata title=Report " + ShellQuote(dir.File("source.md")) + " -o " +
            ShellQuote(dir.File(std::string("doc.") + format)));
        add(std::string("doc.") + format);
    }
    Run("cp " + ShellQuote(dir.File("doc.docx")) + " " + ShellQuote(dir.File("macro.docm")));
    Run("cp " + ShellQuote(dir.File("doc.html")) + " " + ShellQuote(dir.File("page.htm")));
    Run("cp " + ShellQuote(dir.File("doc.html")) + " " + ShellQuote(dir.File("page.xhtml")));
    add("macro.docm");
    add("page.htm");
    add("page.xhtml");

    for (const char* name : {"notes.md", "notes.markdown", "notes.txt", "run.log", "data.xml", "setup.ini",
                             "config.yaml", "config.yml"}) {
        WriteFile(dir.File(name), kMarkdown);
        add(name);
    }
    WriteFile(dir.File("table.csv"), "Name,Count\nQuillaven,3\nOther,4\n");
    WriteFile(dir.File("table.tsv"), "Name\tCount\nQuillaven\t3\n");
    WriteFile(dir.File("rows.json"), "[{\"name\": \"Quillaven\", \"count\": 3}, {\"name\": \"Other\", \"count\": 4}]");
    add("table.csv");
    add("table.tsv");
    add("rows.json");

    Run(std::string(kPython) + " -c " +
        ShellQuote("import openpyxl,sys\nwb=openpyxl.Workbook()\nws=wb.active\nws.title='Sheet'\n"
                   "ws.append(['Name','Count'])\nws.append(['Quillaven',3])\nwb.save(sys.argv[1])") +
        " " + ShellQuote(dir.File("book.xlsx")));
    Run("cp " + ShellQuote(dir.File("book.xlsx")) + " " + ShellQuote(dir.File("macro.xlsm")));
    Run(std::string(kPython) + " -c " +
        ShellQuote("import sys\nfrom odf.opendocument import OpenDocumentSpreadsheet\n"
                   "from odf.table import Table,TableRow,TableCell\nfrom odf.text import P\n"
                   "d=OpenDocumentSpreadsheet()\nt=Table(name='Sheet')\n"
                   "for row in (('Name','Count'),('Quillaven','3')):\n"
                   "  r=TableRow()\n  [r.addElement(TableCell(valuetype='string')) for _ in row]\n"
                   "  [c.addElement(P(text=v)) for c,v in zip(r.childNodes,row)]\n  t.addElement(r)\n"
                   "d.spreadsheet.addElement(t)\nd.save(sys.argv[1])") +
        " " + ShellQuote(dir.File("book.ods")));
    add("book.xlsx");
    add("macro.xlsm");
    add("book.ods");

    WriteOdp(dir.File("deck.odp"));
    add("deck.odp");
    return inputs;
}

void CollectFormats(const MenuEntry& entry, std::set<int32_t>& formats) {
    if (entry.format != 0) formats.insert(entry.format);
    for (const auto& child : entry.children) CollectFormats(child, formats);
}

// The output's text as our own reader (or, for PDF, an independent one) sees it.
std::string TextOf(const std::string& output) {
    if (ExtensionOf(output) == "pdf") return RunCommand("pdftotext " + ShellQuote(output) + " -").output;
    ConvertContext context;
    Document document = ExtensionOf(output) == "json" ? ReadJsonTable(output) : ReadDocument(output, context);
    std::u16string text = document.title;
    for (const auto& block : document.blocks) text += block.text + u"\n";
    for (const auto& table : document.tables)
        for (const auto& row : table.rows)
            for (const auto& cell : row) text += cell + u"\n";
    return WideToUtf8(text);
}

}  // namespace

TEST(DocumentMatrix, EveryDocumentInputConvertsToEveryOfferedTarget) {
    for (const char* tool : {"pandoc", "pdftotext", kPython}) REQUIRE_TOOL(tool);
    TempDir dir;
    std::vector<std::string> inputs = MakeInputs(dir);
    ASSERT_EQ(inputs.size(), 24u);
    ASSERT_FALSE(HasFailure());

    std::set<std::string> extensionsSeen;
    size_t conversions = 0;
    for (const std::string& input : inputs) {
        FileKind kind = KindOf(input);
        ASSERT_TRUE(kind >= kDocumentKind && kind <= kTextKind) << input;
        extensionsSeen.insert(ExtensionOf(input));
        std::set<int32_t> formats;
        CollectFormats(BuildTargetMenu({input}), formats);
        ASSERT_FALSE(formats.empty()) << input;
        for (int32_t format : formats) {
            SCOPED_TRACE(input + " to " + std::string(FormatName(format)));
            CommandResult result =
                RunCommand(ShellQuote(QUILL_PROGRAM) + " --convert " + ShellQuote(input) + " " + std::string(FormatName(format)));
            ASSERT_EQ(result.exitCode, 0) << result.output;
            std::string output = result.output.substr(0, result.output.find('\n'));
            EXPECT_EQ(FolderOf(output), dir.path());
            EXPECT_EQ(ExtensionOf(output), FormatExtension(format));
            EXPECT_NE(TextOf(output).find(kMarker), std::string::npos) << ReadFile(output).substr(0, 400);
            ++conversions;
        }
    }
    // Every extension of the four document kinds was tried.
    for (const std::string& extension : AllExtensions()) {
        FileKind kind = KindOfExtension(extension);
        if (kind >= kDocumentKind && kind <= kTextKind) {
            EXPECT_EQ(extensionsSeen.count(extension), 1u) << extension;
        }
    }
    EXPECT_GT(conversions, 150u);

    // The command line takes any target, also one the menu does not offer for the kind.
    for (const auto& [input, format] : {std::pair{"doc.pptx", "rtf"}, {"book.ods", "docx"}, {"doc.epub", "xlsx"}}) {
        CommandResult result = RunCommand(ShellQuote(QUILL_PROGRAM) + " --convert " + ShellQuote(dir.File(input)) + " " + format);
        if (std::string(format) == "xlsx") {
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.output, "error: Only tables (like CSV files) can become spreadsheets\n");
        } else {
            ASSERT_EQ(result.exitCode, 0) << result.output;
            EXPECT_NE(TextOf(result.output.substr(0, result.output.find('\n'))).find(kMarker), std::string::npos);
        }
    }
}
