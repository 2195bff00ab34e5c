// Builds a Document from arbitrary bytes for the writers' fuzz harnesses and the random-document
// test: any levels and flags, ragged tables, a title, and texts of any UTF-16 units with markup
// and separator characters made likely. Byte 0 bit 0 is `preformatted`; then each item starts
// with a kind byte (% 8): 0-4 a block (flags: bit 0 list item, bit 1 break; a signed level byte
// / 16; a text), 5-6 a table (name, row count, each row a cell count and texts), 7 the title.
// A text is a length n and n units: a byte below 0x80 is a letter, one below 0xC0 picks from
// kInteresting, and any other is followed by a little-endian unit.
#pragma once

#include <string>

#include "convert/documents/document.h"

namespace fuzzing {

inline constexpr char16_t kInteresting[] =
    u" \t\n\r\"&<>'\\{}[]()%:*?/,;.-+#|`0123456789eExXnN\u0001\u001F\u00e9\u20ac\u2014\uFFFE\uFFFF\xD800\xDC00";
constexpr uint8_t kRowChoices = 9, kCellChoices = 7;  // small tables keep one input quick to write

inline Document DocumentFromBytes(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    auto text = [&] {
        std::u16string out(next(), u'a');
        for (auto& unit : out) {
            uint8_t pick = next(), low = pick >= 0xC0 ? next() : 0;
            unit = pick < 0x80   ? char16_t(u'a' + pick % 26)
                   : pick < 0xC0 ? kInteresting[pick % (std::size(kInteresting) - 1)]
                                 : char16_t(low | next() << 8);
        }
        return out;
    };
    Document document;
    document.preformatted = next() & 1;
    while (at < size) {
        uint8_t kind = next() % 8, flags = kind < 5 ? next() : 0;
        if (kind < 5) {
            int32_t level = static_cast<int8_t>(next()) / 16;  // -8 to 7: beyond the levels readers make
            document.blocks.push_back({text(), level, (flags & 1) != 0, (flags & 2) != 0});
        } else if (kind < 7) {
            Table& table = document.tables.emplace_back(Table{text(), {}});
            for (uint8_t rows = next() % kRowChoices; rows > 0 && at < size; --rows)
                for (auto& cell : table.rows.emplace_back(next() % kCellChoices)) cell = text();
        } else {
            document.title = text();
        }
    }
    return document;
}

}  // namespace fuzzing
