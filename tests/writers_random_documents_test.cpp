// Random documents (any UTF-16 units, levels, flags and table shapes) written in every format
// stay readable by independent tools.
#include <gtest/gtest.h>

#include <random>

#include "../fuzz/document_from_bytes.h"
#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"
#include "support/package_checks.h"

using namespace testing_support;

class RandomDocuments : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RandomDocuments, EveryFormatStaysReadable) {
    REQUIRE_TOOL("pandoc");
    std::mt19937 generator(GetParam());
    std::vector<uint8_t> bytes(20000);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(generator());
    Document document = fuzzing::DocumentFromBytes(bytes.data(), bytes.size());
    if (document.tables.empty()) document.tables.push_back({u"", {{u"a"}, {u"1"}}});
    ASSERT_GT(document.blocks.size(), 5u);  // the builder really made a document
    TempDir folder;
    auto path = [&](const std::string& extension) { return folder.File("out." + extension); };
    using Writer = std::string (*)(const Document&);
    const std::pair<Writer, std::string> writers[] = {
        {WriteDocx, "docx"}, {WriteOdt, "odt"}, {WriteXlsx, "xlsx"}, {WriteOds, "ods"}, {WriteEpub, "epub"},
        {WriteRtf, "rtf"},   {WriteHtml, "html"}, {WriteJson, "json"}, {WriteCsv, "csv"}, {WriteTsv, "tsv"}};
    for (const auto& [writer, extension] : writers) WriteFile(path(extension), writer(document));
    for (std::string extension : {"docx", "odt", "xlsx", "ods", "epub"})
        EXPECT_EQ(PackageProblems(path(extension)), "") << extension;
    for (std::string extension : {"docx", "odt", "epub", "rtf", "html"}) PandocBlocks(path(extension));
    std::string tables = std::to_string(document.tables.size()) + "\n";
    std::string rows = std::to_string(document.tables[0].rows.size());
    EXPECT_EQ(std::to_string(CountOf(Python("read_xlsx.py", path("xlsx")), "SHEET ")) + "\n", tables);
    EXPECT_EQ(std::to_string(CountOf(Python("read_ods.py", path("ods")), "TABLE ")) + "\n", tables);
    EXPECT_EQ(Python("import json, sys\nvalue = json.load(open(sys.argv[1], encoding='utf-8'))\n"
                     "print(len(value) if isinstance(value, dict) else 1)", path("json")), tables);
    EXPECT_EQ(Python("import csv, sys\n"
                     "print(len(list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8-sig')))))",
                     path("csv")), rows + "\n");
    EXPECT_EQ(std::to_string(CountOf(ReadFile(path("tsv")), "\r\n")), rows);

    ConvertContext context;
    WriteFile(path("pdf"), LayoutPdf(document, GetParam() % 2 ? kA4Page : kLetterPage, context).Serialize());
    CommandResult qpdf = RunCommand("qpdf --check " + ShellQuote(path("pdf")));
    EXPECT_EQ(qpdf.exitCode, 0) << qpdf.output;
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomDocuments, ::testing::Values(1u, 2u, 3u, 4u));
