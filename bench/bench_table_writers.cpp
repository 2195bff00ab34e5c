// Times our table writers on a 100,000-row, 8-column table (about 6 MB as CSV) and
// compares each with what a user would reach for instead, on the same rows in one run:
// Python's openpyxl for XLSX, odfpy for ODS, Python's csv and json modules for CSV and
// JSON, and pandoc for CSV to DOCX/ODT. The Python figures time only the writing
// (the rows are loaded before the clock starts); pandoc's include reading its CSV.
// ODS with odfpy and the pandoc runs use the first 10,000 rows, as they are far slower.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/documents/writers.h"

namespace {

constexpr size_t kRows = 100000;
constexpr size_t kSliceRows = 10000;
constexpr int kRepeats = 3;  // our writers are timed best of three: the machine is shared

using Clock = std::chrono::steady_clock;

std::u16string Wide(const std::string& text) { return Utf8ToWide(text); }

Table MakeTable(size_t rows) {
    static const char* const kWords[] = {"alpha", "beta", "gamma", "delta, inc.", "caf\xC3\xA9", "\"quoted\"",
                                         "north", "south east"};
    Table table;
    table.name = u"Data";
    table.rows.reserve(rows + 1);
    table.rows.push_back({u"id", u"name", u"city", u"amount", u"ratio", u"code", u"date", u"note"});
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (size_t r = 1; r <= rows; ++r) {
        std::vector<std::u16string> row;
        row.reserve(8);
        row.push_back(Wide(std::to_string(r)));
        row.push_back(Wide("item " + std::to_string(next() % 1000)));
        row.push_back(Wide(kWords[next() % 8]));
        row.push_back(Wide(std::to_string(next() % 100000) + "." + std::to_string(next() % 100)));
        row.push_back(Wide("-0." + std::to_string(next() % 1000)));
        row.push_back(Wide("00" + std::to_string(next() % 100)));  // leading zeros: stays text
        row.push_back(Wide("2024-0" + std::to_string(1 + next() % 9) + "-1" + std::to_string(next() % 10)));
        row.push_back(Wide(next() % 4 == 0 ? "" : "checked"));
        table.rows.push_back(std::move(row));
    }
    return table;
}

double BestMilliseconds(const std::function<void(const std::string&)>& write, const std::string& folder,
                        const std::string& name) {
    double best = 1e300;
    for (int i = 0; i < kRepeats; ++i) {
        std::string path = folder + "/" + name;
        std::filesystem::remove(path);
        auto start = Clock::now();
        write(path);
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

// Runs a command and returns the last number it prints (the Python scripts print their
// own writing time in ms), or the wall time in ms when `ownTiming` is false; -1 on failure.
double RunTimed(const std::string& command, bool ownTiming) {
    auto start = Clock::now();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::string output;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    int status = ::pclose(pipe);
    double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed:\n%s\n", command.c_str(), output.c_str());
        return -1;
    }
    if (!ownTiming) return wall;
    return std::atof(output.c_str());
}

bool Have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

// Our writers' bytes reach the disk the way a conversion's do.
void Publish(const std::string& path, std::string_view bytes) {
    PublishOutput(FolderOf(path), StemOf(path), ExtensionOf(path), bytes);
}

void WriteText(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// Loads the CSV rows (numbers as numbers, by the same plain-decimal idea as ours), then
// times only the writing.
constexpr const char* kPythonPrelude =
    "import csv, json, re, sys, time\n"
    "number = re.compile(r'^-?(0|[1-9][0-9]*)?(\\.[0-9]+)?$')\n"
    "def value(text):\n"
    "    if text and len(text) <= 15 and number.match(text) and text not in ('-', '.', '-.'):\n"
    "        return float(text) if '.' in text else int(text)\n"
    "    return text\n"
    "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8-sig')))\n"
    "limit = int(sys.argv[3])\n"
    "rows = rows[:limit + 1]\n"
    "typed = [rows[0]] + [[value(c) for c in row] for row in rows[1:]]\n"
    "start = time.perf_counter()\n";

constexpr const char* kOpenpyxlImports = "import openpyxl\nfrom openpyxl.styles import Font\n";
constexpr const char* kOpenpyxl =
    "book = openpyxl.Workbook()\n"
    "sheet = book.active\n"
    "sheet.title = 'Data'\n"
    "for row in typed: sheet.append(row)\n"
    "for cell in sheet[1]: cell.font = Font(bold=True)\n"
    "sheet.freeze_panes = 'A2'\n"
    "book.save(sys.argv[2])\n";

constexpr const char* kOpenpyxlWriteOnly =
    "book = openpyxl.Workbook(write_only=True)\n"
    "sheet = book.create_sheet('Data')\n"
    "sheet.freeze_panes = 'A2'\n"
    "for row in typed: sheet.append(row)\n"
    "book.save(sys.argv[2])\n";

constexpr const char* kOdfpyImports =
    "from odf.opendocument import OpenDocumentSpreadsheet\n"
    "from odf.table import Table, TableRow, TableCell\n"
    "from odf.text import P\n";
constexpr const char* kOdfpy =
    "document = OpenDocumentSpreadsheet()\n"
    "table = Table(name='Data')\n"
    "for row in typed:\n"
    "    tr = TableRow()\n"
    "    for v in row:\n"
    "        if isinstance(v, str):\n"
    "            cell = TableCell(valuetype='string')\n"
    "        else:\n"
    "            cell = TableCell(valuetype='float', value=v)\n"
    "        cell.addElement(P(text=str(v)))\n"
    "        tr.addElement(cell)\n"
    "    table.addElement(tr)\n"
    "document.spreadsheet.addElement(table)\n"
    "document.save(sys.argv[2])\n";

constexpr const char* kPythonCsv =
    "with open(sys.argv[2], 'w', newline='', encoding='utf-8-sig') as f:\n"
    "    csv.writer(f).writerows(rows)\n";

constexpr const char* kPythonJson =
    "keys = rows[0]\n"
    "with open(sys.argv[2], 'w', encoding='utf-8') as f:\n"
    "    json.dump([dict(zip(keys, row)) for row in typed[1:]], f, ensure_ascii=False, indent=1)\n";

constexpr const char* kPythonEnd = "print((time.perf_counter() - start) * 1000)\n";

// Modules are imported before the rows are loaded, so that the clock sees only the writing.
double TimePython(const std::string& folder, const std::string& name, const char* imports, const char* body,
                  const std::string& csv, const std::string& output, size_t rows) {
    std::string script = folder + "/write_with_" + name + ".py";  // never the name of a module it imports
    WriteText(script, std::string(imports) + kPythonPrelude + body + kPythonEnd);
    std::filesystem::remove(output);
    return RunTimed("/usr/bin/python3 " + script + " " + csv + " " + output + " " + std::to_string(rows), true);
}

void PrintRow(const char* what, double ours, const char* other, double theirs) {
    if (theirs < 0) {
        std::printf("%-26s %10.1f ms   %-28s %12s\n", what, ours, other, "unavailable");
        return;
    }
    std::printf("%-26s %10.1f ms   %-28s %9.1f ms   x%.1f\n", what, ours, other, theirs, theirs / ours);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/quillaven-bench-tables-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    std::string folder = pattern;

    Document document;
    document.tables.push_back(MakeTable(kRows));
    Document slice;
    slice.tables.push_back(document.tables.front());
    slice.tables.front().rows.resize(kSliceRows + 1);

    try {
        double csv = BestMilliseconds([&](const std::string& p) { Publish(p, WriteCsv(document)); }, folder, "ours.csv");
        std::string input = folder + "/ours.csv";
        std::printf("table: %zu rows x 8 columns, %.1f MB as CSV\n\n", kRows,
                    static_cast<double>(std::filesystem::file_size(input)) / 1e6);
        std::printf("%-26s %13s   %-28s %12s   %s\n", "our writer", "", "alternative", "", "their time / ours");

        bool python = Have("/usr/bin/python3");
        auto PythonOrNone = [&](const char* name, const char* imports, const char* body, const std::string& out,
                                size_t rows) {
            return python ? TimePython(folder, name, imports, body, input, out, rows) : -1.0;
        };
        double xlsx = BestMilliseconds([&](const std::string& p) { Publish(p, WriteXlsx(document)); }, folder, "ours.xlsx");
        PrintRow("XLSX 100k rows", xlsx, "openpyxl",
                 PythonOrNone("openpyxl", kOpenpyxlImports, kOpenpyxl, folder + "/py.xlsx", kRows));
        PrintRow("XLSX 100k rows", xlsx, "openpyxl write-only",
                 PythonOrNone("openpyxl_wo", kOpenpyxlImports, kOpenpyxlWriteOnly, folder + "/pywo.xlsx", kRows));
        double ods = BestMilliseconds([&](const std::string& p) { Publish(p, WriteOds(document)); }, folder, "ours.ods");
        double odsSlice =
            BestMilliseconds([&](const std::string& p) { Publish(p, WriteOds(slice)); }, folder, "ours-slice.ods");
        std::printf("%-26s %10.1f ms\n", "ODS 100k rows", ods);
        PrintRow("ODS 10k rows", odsSlice, "odfpy",
                 PythonOrNone("odfpy", kOdfpyImports, kOdfpy, folder + "/py.ods", kSliceRows));
        PrintRow("CSV 100k rows", csv, "Python csv", PythonOrNone("csv", "", kPythonCsv, folder + "/py.csv", kRows));
        double json = BestMilliseconds([&](const std::string& p) { Publish(p, WriteJson(document)); }, folder, "ours.json");
        PrintRow("JSON 100k rows", json, "Python json",
                 PythonOrNone("json", "", kPythonJson, folder + "/py.json", kRows));

        double tsv = BestMilliseconds([&](const std::string& p) { Publish(p, WriteTsv(document)); }, folder, "ours.tsv");
        std::printf("%-26s %10.1f ms\n", "TSV 100k rows", tsv);

        // Documents with the table: pandoc reads the CSV itself.
        Publish(folder + "/slice.csv", WriteCsv(slice));
        bool pandoc = Have("pandoc");
        using Writer = std::string (*)(const Document&);
        const std::pair<const char*, Writer> documentWriters[] = {{"docx", WriteDocx}, {"odt", WriteOdt}};
        for (auto [format, writer] : documentWriters) {
            double ours = BestMilliseconds([&](const std::string& p) { Publish(p, writer(slice)); }, folder,
                                           std::string("ours.") + format);
            double theirs = pandoc ? RunTimed("pandoc -f csv -t " + std::string(format) + " -o " + folder +
                                                  "/pandoc." + format + " " + folder + "/slice.csv",
                                              false)
                                   : -1;
            std::string label = std::string(format == std::string("docx") ? "DOCX" : "ODT") + " 10k-row table";
            PrintRow(label.c_str(), ours, "pandoc (CSV in)", theirs);
        }
        double rtf = BestMilliseconds([&](const std::string& p) { Publish(p, WriteRtf(slice)); }, folder, "ours.rtf");
        std::printf("%-26s %10.1f ms\n", "RTF 10k-row table", rtf);
    } catch (const ConvertError& error) {
        std::printf("failed: %s\n", error.message.c_str());
    }
    std::filesystem::remove_all(folder);
    return 0;
}
