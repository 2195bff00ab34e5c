#include "convert/documents/table_cells.h"

#include <charconv>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr size_t kMaxPlainDecimal = 15;   // a spreadsheet keeps 15 significant digits
constexpr size_t kMaxFloatText = 30;      // longer "numbers" are identifiers, not values
constexpr size_t kMaxSheetName = 31;      // the longest sheet name spreadsheet programs accept

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Digits from `i` on; returns how many.
size_t SkipDigits(std::u16string_view text, size_t& i) {
    size_t start = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i - start;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The first `units` code units, one fewer when that would split a surrogate pair.
std::u16string_view CutUnits(std::u16string_view text, size_t units) {
    if (text.size() <= units) return text;
    if (units > 0 && IsHighSurrogate(text[units - 1])) --units;
    return text.substr(0, units);
}

bool IsForbiddenInSheetName(char16_t c) {
    return c == u'[' || c == u']' || c == u':' || c == u'*' || c == u'?' || c == u'/' || c == u'\\' ||
           c < 0x20 || c == 0xFFFE || c == 0xFFFF;  // XML drops these, which could leave no name
}

void TrimApostrophes(std::u16string& name) {
    // Spreadsheet programs refuse names that begin or end with an apostrophe.
    size_t first = name.find_first_not_of(u'\'');
    if (first == name.npos) {
        name.clear();
        return;
    }
    size_t last = name.find_last_not_of(u'\'');
    name = name.substr(first, last - first + 1);
}

std::u16string FoldAsciiCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return folded;
}

std::u16string Decimal(size_t value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(digits, end);
}

}  // namespace

bool IsPlainDecimal(std::u16string_view text) {
    if (text.empty() || text.size() > kMaxPlainDecimal) return false;
    size_t i = text[0] == u'-' ? 1 : 0;
    size_t start = i;
    size_t digits = 0;
    bool dot = false;
    for (; i < text.size(); ++i) {
        if (IsDigit(text[i])) {
            ++digits;
        } else if (text[i] == u'.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (digits == 0 || text.back() == u'.') return false;
    // "007" would lose its zeros as a number; "0" and "0.5" are fine.
    if (text[start] == u'0' && start + 1 < text.size() && text[start + 1] != u'.') return false;
    return true;
}

bool IsFloatText(std::u16string_view text) {
    if (text.empty() || text.size() > kMaxFloatText) return false;
    size_t i = 0;
    if (text[i] == u'+' || text[i] == u'-') ++i;
    size_t whole = SkipDigits(text, i);
    size_t fraction = 0;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        fraction = SkipDigits(text, i);
    }
    if (whole + fraction == 0) return false;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
        if (SkipDigits(text, i) == 0) return false;  // "1e" leaves the "e" unparsed
    }
    return i == text.size();
}

bool IsJsonNumber(std::u16string_view text) {
    size_t i = 0;
    if (i < text.size() && text[i] == u'-') ++i;
    size_t start = i;
    size_t whole = SkipDigits(text, i);
    if (whole == 0 || (whole > 1 && text[start] == u'0')) return false;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        if (SkipDigits(text, i) == 0) return false;
    }
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
        if (SkipDigits(text, i) == 0) return false;
    }
    return i == text.size();
}

std::vector<std::u16string> SheetNames(const std::vector<Table>& tables) {
    std::vector<std::u16string> names;
    names.reserve(tables.size());
    std::unordered_set<std::u16string> taken;
    std::unordered_map<std::u16string, size_t> nextNumber;  // per clashing name, the next "(n)" to try
    for (size_t index = 0; index < tables.size(); ++index) {
        std::u16string name;
        for (char16_t c : tables[index].name)
            if (!IsForbiddenInSheetName(c)) name.push_back(c);
        TrimApostrophes(name);
        if (name.empty()) name = u"Sheet" + Decimal(index + 1);
        name = std::u16string(CutUnits(name, kMaxSheetName));
        TrimApostrophes(name);  // the cut may have left one at the end
        std::u16string folded = FoldAsciiCase(name);
        if (!taken.insert(folded).second) {
            // Two sheets of one name make the workbook unreadable: number the later ones.
            size_t& number = nextNumber.try_emplace(folded, 2).first->second;
            for (;; ++number) {
                std::u16string suffix = u" (" + Decimal(number) + u")";
                std::u16string candidate =
                    std::u16string(CutUnits(name, kMaxSheetName - suffix.size())) + suffix;
                if (taken.insert(FoldAsciiCase(candidate)).second) {
                    name = std::move(candidate);
                    ++number;
                    break;
                }
            }
        }
        names.push_back(std::move(name));
    }
    return names;
}
