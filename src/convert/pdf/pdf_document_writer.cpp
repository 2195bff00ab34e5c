// Document layout for PDF output: fixed sizes and spacing on Letter or A4 paper,
// 56-point margins, Helvetica for body text, Helvetica-Bold for headings, Courier
// for preformatted text and table rows, and a grey page number on every page.
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "convert/documents/writers.h"
#include "convert/pdf/pdf_layout.h"
#include "convert/pdf/pdf_text.h"

namespace {

constexpr double kMargin = 56;
constexpr double kBulletX = 58;
constexpr double kListIndent = 14;
constexpr std::array<double, 3> kHeadingSizes = {22, 16, 13};
constexpr double kBodySize = 11;
constexpr double kMonospaceSize = 8.5;
constexpr double kLineFactor = 1.42;
constexpr double kMonospaceLineFactor = 1.3;
constexpr double kHeadingSpaceBefore = 0.7;
constexpr double kHeadingSpaceAfter = 0.25;
constexpr double kBodySpaceAfter = 0.4;
constexpr double kPageNumberSize = 8;
constexpr double kPageNumberBaseline = kMargin / 2;
constexpr size_t kItemsPerCheck = 128;   // cancel and progress once per this many items
constexpr size_t kTabStop = 4;           // tabs advance to the next multiple of four characters
constexpr size_t kCellCut = 28;          // longer cells are cut ...
constexpr size_t kCellKeep = 27;         // ... to this many characters and an ellipsis
constexpr size_t kCellGap = 2;           // spaces between table columns
constexpr char kEllipsis = '\x85';       // "…" in Windows-1252
constexpr char kBullet = '\x95';         // "•" in Windows-1252
constexpr int kUsMeasurement = 2;        // glibc: 1 metric, 2 US

struct Item {
    const std::u16string* text = nullptr;  // block text or table name, converted when placed
    std::string bytes;                     // a table row, already WinAnsi
    int32_t level = 0;
    bool listItem = false;
    bool breakBefore = false;
    bool monospace = false;
};

std::vector<Item> CollectItems(const Document& document) {
    std::vector<Item> items;
    items.reserve(document.blocks.size());
    for (const Block& block : document.blocks) {
        Item item;
        item.text = &block.text;
        item.level = block.level;
        item.listItem = block.listItem;
        item.breakBefore = block.breakBefore;
        item.monospace = document.preformatted;
        items.push_back(std::move(item));
    }
    bool named = document.tables.size() >= 2;
    for (size_t t = 0; t < document.tables.size(); ++t) {
        const Table& table = document.tables[t];
        if (named) {
            Item heading;
            heading.text = &table.name;
            heading.level = 2;
            heading.breakBefore = t > 0;
            items.push_back(std::move(heading));
        }
        for (std::string& row : MonospaceTableRows(table)) {
            Item line;
            line.bytes = std::move(row);
            line.monospace = true;
            items.push_back(std::move(line));
        }
    }
    return items;
}

std::string ExpandTabStops(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (c == '\t')
            out.append(kTabStop - out.size() % kTabStop, ' ');
        else
            out.push_back(c);
    }
    return out;
}

long Units(std::string_view bytes, PdfFont font) {
    long units = 0;
    for (char c : bytes) units += GlyphWidth(static_cast<unsigned char>(c), font);
    return units;
}

class Layout {
public:
    Layout(PdfPageSize size) : size_(size) {}

    void Place(const Item& item) {
        if (item.breakBefore && !fresh_) StartPage();
        bool heading = item.level >= 1;
        bool monospace = item.monospace && !heading;
        PdfFont font = PdfFont::kHelvetica;
        double fontSize = kBodySize;
        double factor = kLineFactor;
        if (heading) {
            font = PdfFont::kHelveticaBold;
            fontSize = kHeadingSizes[static_cast<size_t>(std::min(item.level, 3) - 1)];
        } else if (monospace) {
            font = PdfFont::kCourier;
            fontSize = kMonospaceSize;
            factor = kMonospaceLineFactor;
        }
        double lineHeight = fontSize * factor;
        if (heading && !fresh_) y_ -= fontSize * kHeadingSpaceBefore;

        double indent = item.listItem ? kListIndent : 0;
        double width = size_.width - 2 * kMargin - indent;
        std::string converted = item.text ? ToWinAnsi(*item.text) : std::string();
        std::string_view bytes = item.text ? std::string_view(converted) : std::string_view(item.bytes);
        bool first = true;
        size_t start = 0;
        while (true) {
            size_t end = bytes.find('\n', start);
            std::string_view line = bytes.substr(start, end == bytes.npos ? bytes.npos : end - start);
            for (const std::string& wrapped : WrapLine(ExpandTabStops(line), font, fontSize, width)) {
                if (y_ - lineHeight < kMargin) StartPage();
                y_ -= lineHeight;
                if (item.listItem && first)
                    file_.PutText(page_, font, fontSize, kBulletX, y_, std::string_view(&kBullet, 1));
                if (!wrapped.empty()) file_.PutText(page_, font, fontSize, kMargin + indent, y_, wrapped);
                first = false;
                fresh_ = false;
            }
            if (end == bytes.npos) break;
            start = end + 1;
        }
        if (!monospace) y_ -= fontSize * (heading ? kHeadingSpaceAfter : kBodySpaceAfter);
    }

    void StartPage() {
        page_ = file_.NewPage(size_.width, size_.height);
        y_ = size_.height - kMargin;
        fresh_ = true;
        std::array<char, 24> digits;
        auto result = std::to_chars(digits.data(), digits.data() + digits.size(), page_ + 1);
        std::string_view number(digits.data(), static_cast<size_t>(result.ptr - digits.data()));
        double x = (size_.width - TextWidth(number, PdfFont::kHelvetica, kPageNumberSize)) / 2;
        file_.AppendContent(page_, "0.55 g\n");
        file_.PutText(page_, PdfFont::kHelvetica, kPageNumberSize, x, kPageNumberBaseline, number);
        file_.AppendContent(page_, "0.1 g\n");
    }

    PdfFile Finish() { return std::move(file_); }

private:
    PdfPageSize size_;
    PdfFile file_;
    size_t page_ = 0;
    double y_ = 0;
    bool fresh_ = true;
};

}  // namespace

PdfPageSize PageSizeForMeasurement(int measurement) {
    return measurement == kUsMeasurement ? kLetterPage : kA4Page;
}

PdfPageSize LocalePageSize() {
    // A private locale object reads the user's setting without setlocale, so the
    // process's number formatting and other threads are left alone.
    locale_t locale = ::newlocale(LC_MEASUREMENT_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return kA4Page;
    const char* value = ::nl_langinfo_l(_NL_MEASUREMENT_MEASUREMENT, locale);
    int measurement = value ? static_cast<unsigned char>(value[0]) : 0;
    ::freelocale(locale);
    return PageSizeForMeasurement(measurement);
}

std::vector<std::string> WrapLine(std::string_view line, PdfFont font, double size, double width) {
    auto fits = [&](long units) { return static_cast<double>(units) * size / 1000.0 <= width; };
    std::vector<std::string> lines;
    // The current output line is always a contiguous run of the input line.
    size_t currentStart = 0;
    size_t currentEnd = 0;
    long currentUnits = 0;
    size_t position = 0;
    while (position < line.size()) {
        size_t wordStart = position;
        while (position < line.size() && line[position] == ' ') ++position;
        size_t textStart = position;
        while (position < line.size() && line[position] != ' ') ++position;
        long wordUnits = Units(line.substr(wordStart, position - wordStart), font);
        if (fits(currentUnits + wordUnits)) {
            if (currentEnd == currentStart) currentStart = wordStart;
            currentEnd = position;
            currentUnits += wordUnits;
            continue;
        }
        if (currentEnd > currentStart) lines.emplace_back(line.substr(currentStart, currentEnd - currentStart));
        // Continuation lines never start with the spaces that separated the words.
        size_t pieceStart = textStart;
        long pieceUnits = Units(line.substr(textStart, position - textStart), font);
        while (!fits(pieceUnits)) {
            size_t take = 0;
            long taken = 0;
            while (pieceStart + take < position) {
                long next = GlyphWidth(static_cast<unsigned char>(line[pieceStart + take]), font);
                if (take > 0 && !fits(taken + next)) break;
                taken += next;
                ++take;
            }
            lines.emplace_back(line.substr(pieceStart, take));
            pieceStart += take;
            pieceUnits -= taken;
        }
        currentStart = pieceStart;
        currentEnd = position;
        currentUnits = pieceUnits;
    }
    // An empty input line still takes one line of space; a run of spaces that only
    // overflowed at the end of the line does not add an empty line.
    if (currentEnd > currentStart || lines.empty())
        lines.emplace_back(line.substr(currentStart, currentEnd - currentStart));
    return lines;
}

std::vector<std::string> MonospaceTableRows(const Table& table) {
    std::vector<std::vector<std::string>> cells;
    cells.reserve(table.rows.size());
    std::vector<size_t> widths;
    for (const auto& row : table.rows) {
        std::vector<std::string> converted;
        converted.reserve(row.size());
        for (size_t column = 0; column < row.size(); ++column) {
            std::string cell = ToWinAnsi(row[column]);
            // Line breaks and tabs would break the grid of the columns.
            std::replace(cell.begin(), cell.end(), '\n', ' ');
            std::replace(cell.begin(), cell.end(), '\t', ' ');
            if (cell.size() > kCellCut) {
                cell.resize(kCellKeep);
                cell.push_back(kEllipsis);
            }
            if (widths.size() <= column) widths.resize(column + 1, 0);
            widths[column] = std::max(widths[column], cell.size());
            converted.push_back(std::move(cell));
        }
        cells.push_back(std::move(converted));
    }
    std::vector<std::string> lines;
    lines.reserve(cells.size());
    for (const auto& row : cells) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column) {
            line.append(row[column]);
            if (column + 1 < row.size()) line.append(widths[column] + kCellGap - row[column].size(), ' ');
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

PdfFile LayoutPdf(const Document& document, PdfPageSize page, ConvertContext& context) {
    std::vector<Item> items = CollectItems(document);
    Layout layout(page);
    layout.StartPage();
    for (size_t i = 0; i < items.size(); ++i) {
        if (i % kItemsPerCheck == 0) {
            context.ThrowIfCancelled();
            context.Report(0.3 + 0.7 * static_cast<double>(i) / static_cast<double>(items.size()));
        }
        layout.Place(items[i]);
    }
    return layout.Finish();
}

std::string WritePdf(const Document& document, ConvertContext& context) {
    return LayoutPdf(document, LocalePageSize(), context).Serialize();
}
