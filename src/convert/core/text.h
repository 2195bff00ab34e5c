// Text helpers shared by the whole program. Paths and user-facing text are UTF-8
// std::string; document text, whose rules count UTF-16 code units, is std::u16string.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Strict UTF-8 <-> UTF-16. Invalid UTF-8 sequences and lone surrogates become U+FFFD.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

// printf-style formatting; results longer than 1,023 bytes are cut at a character boundary.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ASCII case mapping: every token and extension the program compares is ASCII.
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

// The parts between single-character separators; empty parts are kept, the last always included.
template <typename Char>
std::vector<std::basic_string<Char>> Split(std::basic_string_view<Char> text, Char separator) {
    std::vector<std::basic_string<Char>> parts;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == separator) {
            parts.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.emplace_back(text.substr(start));
    return parts;
}

// The text with every occurrence of a non-empty part removed.
template <typename Char>
std::basic_string<Char> EraseAll(std::basic_string_view<Char> text, std::basic_string_view<Char> part) {
    if (part.empty()) return std::basic_string<Char>(text);
    std::basic_string<Char> result;
    result.reserve(text.size());
    size_t start = 0;
    for (size_t found = text.find(part); found != text.npos; found = text.find(part, start)) {
        result.append(text.substr(start, found - start));
        start = found + part.size();
    }
    result.append(text.substr(start));
    return result;
}

// Every tab replaced by four spaces.
template <typename Char>
std::basic_string<Char> ExpandTabs(std::basic_string_view<Char> text) {
    std::basic_string<Char> result;
    result.reserve(text.size());
    for (Char c : text) {
        if (c == Char('\t'))
            result.append(4, Char(' '));
        else
            result.push_back(c);
    }
    return result;
}

// Appends one code point as UTF-8 (1 to 4 bytes).
void AppendUtf8(std::string& out, char32_t codePoint);
