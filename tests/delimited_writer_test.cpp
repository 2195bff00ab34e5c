#include <gtest/gtest.h>

#include "convert/documents/writers.h"
#include "support/package_checks.h"

using namespace testing_support;

namespace {

// Rows as Python's csv module reads them, printed as JSON with ASCII escapes.
std::string PythonRows(const std::string& path, std::string_view dialect) {
    std::string script =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
        "    print(json.dumps(list(csv.reader(f" + std::string(dialect) + "))))\n";
    TempDir folder;
    WriteFile(folder.File("read.py"), script);
    CommandResult read = RunCommand("/usr/bin/python3 " + ShellQuote(folder.File("read.py")) + " " + ShellQuote(path));
    EXPECT_EQ(read.exitCode, 0) << read.output;
    return read.output;
}

Document TwoTables() {
    Document document;
    document.blocks = {Paragraph(u"ignored")};
    document.tables = {MakeTable(u"first", {{u"name", u"note"},
                                            {u"plain", u"a,b"},
                                            {u"say \"hi\"", u"line\nbreak"},
                                            {u"cr\rhere", u"tab\there"},
                                            {u"caf\u00e9 \U0001F600"},
                                            {},
                                            {u"", u" spaced "}}),
                       MakeTable(u"second", {{u"never"}})};
    return document;
}

}  // namespace

TEST(CsvWriter, StartsWithAByteOrderMarkAndQuotesWhatNeedsIt) {
    TempDir folder;
    std::string path = folder.File("out.csv");
    WriteCsv(TwoTables(), path);
    EXPECT_EQ(ReadFile(path),
              "\xEF\xBB\xBF"
              "name,note\r\n"
              "plain,\"a,b\"\r\n"
              "\"say \"\"hi\"\"\",\"line\nbreak\"\r\n"
              "\"cr\rhere\",tab\there\r\n"
              "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n"
              "\r\n"
              ", spaced \r\n");
}

TEST(CsvWriter, PythonReadsTheSameRowsFromTheFirstTableOnly) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.csv");
    WriteCsv(TwoTables(), path);
    EXPECT_EQ(PythonRows(path, ""),
              "[[\"name\", \"note\"], [\"plain\", \"a,b\"], [\"say \\\"hi\\\"\", \"line\\nbreak\"], "
              "[\"cr\\rhere\", \"tab\\there\"], [\"caf\\u00e9 \\ud83d\\ude00\"], [], [\"\", \" spaced \"]]\n");
}

TEST(TsvWriter, HasNoByteOrderMarkAndFlattensTabsAndLineEnds) {
    REQUIRE_TOOL("/usr/bin/python3");
    TempDir folder;
    std::string path = folder.File("out.tsv");
    WriteTsv(TwoTables(), path);
    std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes,
              "name\tnote\r\n"
              "plain\ta,b\r\n"
              "say \"hi\"\tline break\r\n"
              "cr here\ttab here\r\n"
              "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n"
              "\r\n"
              "\t spaced \r\n");
    EXPECT_EQ(PythonRows(path, ", delimiter='\\t', quoting=csv.QUOTE_NONE"),
              "[[\"name\", \"note\"], [\"plain\", \"a,b\"], [\"say \\\"hi\\\"\", \"line break\"], "
              "[\"cr here\", \"tab here\"], [\"caf\\u00e9 \\ud83d\\ude00\"], [], [\"\", \" spaced \"]]\n");
}

TEST(DelimitedWriters, EmptyTableGivesAnEmptyFileAndNoTableIsRefused) {
    TempDir folder;
    Document empty;
    empty.tables = {MakeTable(u"", {})};
    WriteCsv(empty, folder.File("empty.csv"));
    WriteTsv(empty, folder.File("empty.tsv"));
    EXPECT_EQ(ReadFile(folder.File("empty.csv")), "\xEF\xBB\xBF");
    EXPECT_EQ(ReadFile(folder.File("empty.tsv")), "");

    Document text;
    text.blocks = {Paragraph(u"no table")};
    for (auto writer : {WriteCsv, WriteTsv}) {
        try {
            writer(text, folder.File("none.out"));
            ADD_FAILURE() << "wrote a table file without a table";
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.message, "This file has no table to export");
        }
    }
    EXPECT_FALSE(FileExists(folder.File("none.out")));
}
