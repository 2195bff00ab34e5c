// Random documents (any UTF-16 units, levels, flags and table shapes) written in every
// format must stay readable by independent tools: well-formed XML in sound packages,
// JSON that parses, CSV with the right number of rows.
#include <gtest/gtest.h>

#include <random>

#include "../fuzz/document_from_bytes.h"
#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

constexpr size_t kRandomBytes = 20000;

Document RandomDocument(uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(kRandomBytes);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(generator());
    Document document = fuzzing::DocumentFromBytes(bytes.data(), bytes.size());
    if (document.tables.empty()) document.tables.push_back(MakeTable(u"", {{u"a"}, {u"1"}}));
    return document;
}

std::string PythonCheck(const std::string& script, const std::string& path) {
    TempDir folder;
    WriteFile(folder.File("check.py"), script);
    CommandResult result =
        RunCommand("/usr/bin/python3 " + ShellQuote(folder.File("check.py")) + " " + ShellQuote(path));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.output;
}

}  // namespace

class RandomDocuments : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RandomDocuments, EveryFormatStaysReadable) {
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("xmllint");
    REQUIRE_TOOL("pandoc");
    REQUIRE_TOOL("/usr/bin/python3");
    Document document = RandomDocument(GetParam());
    ASSERT_GT(document.blocks.size(), 5u);  // the generator really made a document
    TempDir folder;

    using Writer = void (*)(const Document&, const std::string&);
    const std::pair<Writer, const char*> packages[] = {
        {WriteDocx, "out.docx"}, {WriteOdt, "out.odt"}, {WriteXlsx, "out.xlsx"}, {WriteOds, "out.ods"}};
    for (auto [writer, name] : packages) {
        std::string path = folder.File(name);
        writer(document, path);
        EXPECT_EQ(PackageProblems(path), "") << name;
    }
    for (const char* format : {"docx", "odt"}) {
        CommandResult read = PandocBlocks(folder.File(std::string("out.") + format), format);
        EXPECT_EQ(read.exitCode, 0) << format << ": " << read.output;
    }
    CommandResult sheets = RunPythonScript("read_xlsx.py", folder.File("out.xlsx"));
    EXPECT_EQ(sheets.exitCode, 0) << sheets.output;
    EXPECT_EQ(CountOf(sheets.output, "SHEET "), document.tables.size());
    CommandResult tables = RunPythonScript("read_ods.py", folder.File("out.ods"));
    EXPECT_EQ(tables.exitCode, 0) << tables.output;
    EXPECT_EQ(CountOf(tables.output, "TABLE "), document.tables.size());

    WriteRtf(document, folder.File("out.rtf"));
    EXPECT_EQ(PandocBlocks(folder.File("out.rtf"), "rtf").exitCode, 0);

    WriteJson(document, folder.File("out.json"));
    std::string tableCount = PythonCheck(
        "import json, sys\n"
        "value = json.load(open(sys.argv[1], encoding='utf-8'))\n"
        "print(len(value) if isinstance(value, dict) else 1)\n",
        folder.File("out.json"));
    EXPECT_EQ(tableCount, std::to_string(document.tables.size()) + "\n");

    WriteCsv(document, folder.File("out.csv"));
    WriteTsv(document, folder.File("out.tsv"));
    std::string rows = PythonCheck(
        "import csv, sys\n"
        "print(len(list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8-sig')))))\n",
        folder.File("out.csv"));
    EXPECT_EQ(rows, std::to_string(document.tables.front().rows.size()) + "\n");
    std::string tsvLines = PythonCheck(
        "import sys\n"
        "print(open(sys.argv[1], 'rb').read().count(b'\\r\\n'))\n", folder.File("out.tsv"));
    EXPECT_EQ(tsvLines, std::to_string(document.tables.front().rows.size()) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomDocuments, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u));
