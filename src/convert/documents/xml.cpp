#include "convert/documents/xml.h"

#include <charconv>

#include "convert/core/text.h"

namespace {

constexpr size_t kLongestEntity = 10;  // "&" to ";" further apart than this is plain text
constexpr char32_t kReplacementCharacter = 0xFFFD;  // for references to no character

struct NamedEntity {
    std::string_view name;
    char32_t character;
};

constexpr NamedEntity kEntities[] = {
    {"amp", U'&'},       {"lt", U'<'},         {"gt", U'>'},         {"quot", U'"'},       {"apos", U'\''},
    {"nbsp", 0x00A0},    {"copy", 0x00A9},     {"reg", 0x00AE},      {"mdash", 0x2014},    {"ndash", 0x2013},
    {"hellip", 0x2026},  {"lsquo", 0x2018},    {"rsquo", 0x2019},    {"ldquo", 0x201C},    {"rdquo", 0x201D},
    {"bull", 0x2022},    {"euro", 0x20AC},
};

// The code point of a named or numeric entity, or 0 when the "&" must stay literal.
char32_t EntityValue(std::string_view name) {
    for (const auto& entity : kEntities)
        if (entity.name == name) return entity.character;
    if (name.size() < 2 || name[0] != '#') return 0;
    std::string_view digits = name.substr(1);
    int base = 10;
    if (digits[0] == 'x') {
        digits.remove_prefix(1);
        base = 16;
    }
    // Leading digits only, as an unsigned number; overflow keeps the reference literal.
    uint32_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end == digits.data()) return 0;
    // Surrogates and values past Unicode have no UTF-8 form; written as four bytes anyway
    // they would alias a real character (&#x21F600; would read as U+1F600).
    if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return kReplacementCharacter;
    return value;
}

void Emit(std::string_view text, TextSink& sink) {
    if (sink.collecting && !text.empty()) DecodeEntities(text, sink.out);
}

bool IsNameEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/'; }

}  // namespace

void DecodeEntities(std::string_view bytes, std::string& out) {
    out.reserve(out.size() + bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t amp = bytes.find('&', i);
        if (amp == bytes.npos) {
            out.append(bytes.substr(i));
            return;
        }
        out.append(bytes.substr(i, amp - i));
        size_t semicolon = bytes.find(';', amp + 1);
        if (semicolon != bytes.npos && semicolon - amp <= kLongestEntity) {
            char32_t value = EntityValue(bytes.substr(amp + 1, semicolon - amp - 1));
            if (value != 0) {
                AppendUtf8(out, value);
                i = semicolon + 1;
                continue;
            }
        }
        out.push_back('&');
        i = amp + 1;
    }
}

void ScanXml(std::string_view text, XmlHandler& handler, TextSink& sink) {
    size_t position = 0;
    for (size_t handled = 0; handled < text.size(); ++handled) {
        size_t open = text.find('<', position);
        if (open == text.npos) {
            Emit(text.substr(position), sink);
            return;
        }
        Emit(text.substr(position, open - position), sink);
        if (text.compare(open, 4, "<!--") == 0) {
            size_t end = text.find("-->", open + 4);
            if (end == text.npos) return;
            position = end + 3;
            continue;
        }
        size_t close = text.find('>', open + 1);
        if (close == text.npos) return;
        std::string_view tag = text.substr(open + 1, close - open - 1);
        position = close + 1;
        if (tag.empty() || tag[0] == '?' || tag[0] == '!') continue;
        bool closing = tag[0] == '/';
        bool selfClosing = tag.back() == '/';
        size_t nameStart = closing ? 1 : 0;
        size_t nameEnd = nameStart;
        while (nameEnd < tag.size() && !IsNameEnd(tag[nameEnd])) ++nameEnd;
        handler.OnTag(tag.substr(nameStart, nameEnd - nameStart), tag, closing, selfClosing);
    }
}

std::string_view GetAttribute(std::string_view tag, std::string_view attributeName) {
    // The first place where a space, the name, "=" and a double quote follow each other;
    // searched without building that pattern, as this runs for many tags.
    if (attributeName.empty()) return {};
    for (size_t found = tag.find(attributeName, 1); found != tag.npos; found = tag.find(attributeName, found + 1)) {
        size_t after = found + attributeName.size();
        if (tag[found - 1] != ' ' || tag.compare(after, 2, "=\"") != 0) continue;
        size_t end = tag.find('"', after + 2);
        if (end == tag.npos) return {};
        return tag.substr(after + 2, end - after - 2);
    }
    return {};
}

std::string EscapeXml(std::u16string_view text) {
    std::u16string escaped;
    escaped.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
        case u'"': escaped.append(u"&quot;"); break;
        case u'&': escaped.append(u"&amp;"); break;
        case u'<': escaped.append(u"&lt;"); break;
        case u'>': escaped.append(u"&gt;"); break;
        default:
            if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') break;
            escaped.push_back(c);
        }
    }
    return WideToUtf8(escaped);
}
