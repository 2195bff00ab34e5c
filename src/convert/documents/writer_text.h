// Appending document text to a writer's UTF-8 output without a temporary string per
// cell or run in the common case. Text that is plain ASCII (and, for XML, holds nothing
// to escape) is copied as it is; anything else goes through WideToUtf8 or EscapeXml,
// which stay the only authorities on conversion and escaping.
#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

#include "convert/core/text.h"
#include "convert/documents/xml.h"

inline bool IsAsciiText(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80) return false;
    return true;
}

// Printable ASCII with nothing that EscapeXml would change.
inline bool IsPlainXmlText(std::u16string_view text) {
    for (char16_t c : text)
        if (c < 0x20 || c >= 0x7F || c == u'"' || c == u'&' || c == u'<' || c == u'>') return false;
    return true;
}

inline void AppendAsciiUnits(std::string& out, std::u16string_view text) {
    size_t start = out.size();
    out.resize(start + text.size());
    for (size_t i = 0; i < text.size(); ++i) out[start + i] = static_cast<char>(text[i]);
}

// The text in UTF-8, as WideToUtf8 converts it.
inline void AppendUtf8Text(std::string& out, std::u16string_view text) {
    if (IsAsciiText(text))
        AppendAsciiUnits(out, text);
    else
        out += WideToUtf8(text);
}

inline bool IsXmlNonCharacter(char16_t c) { return c == 0xFFFE || c == 0xFFFF; }

// The text escaped for XML content or a double-quoted attribute, as EscapeXml does it.
// U+FFFE and U+FFFF are left out as well: XML has no way to carry them, and a part
// holding them is not well-formed, so the whole file would be refused.
inline void AppendXmlText(std::string& out, std::u16string_view text) {
    if (IsPlainXmlText(text)) {
        AppendAsciiUnits(out, text);
        return;
    }
    bool hasNonCharacter = false;
    for (char16_t c : text) hasNonCharacter = hasNonCharacter || IsXmlNonCharacter(c);
    if (!hasNonCharacter) {
        out += EscapeXml(text);
        return;
    }
    std::u16string kept;
    kept.reserve(text.size());
    for (char16_t c : text)
        if (!IsXmlNonCharacter(c)) kept.push_back(c);
    out += EscapeXml(kept);
}

// A non-negative number in decimal, locale-independent.
inline void AppendDecimal(std::string& out, size_t value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}
