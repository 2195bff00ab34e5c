// Builds a Document from arbitrary bytes, for the writers' fuzz harness and the tests
// that check random documents: blocks of any level and flags, tables of any shape and
// text of any UTF-16 units (lone surrogates, control characters, markup and separator
// characters made likely). Sizes are capped so one input stays quick to write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/documents/document.h"

namespace fuzzing {

constexpr size_t kMaxTextUnits = 48;   // per block, cell or name
constexpr size_t kMaxRows = 12;
constexpr size_t kMaxCells = 9;
constexpr size_t kMaxItems = 64;       // blocks and tables together

class ByteSource {
public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Next() { return Empty() ? 0 : data_[at_++]; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Characters that every writer treats specially, so that random input meets them often.
inline constexpr char16_t kInteresting[] =
    u" \t\n\r\"&<>'\\{}[]:*?/,;.-+0123456789eExXnN\u0001\u001F\u00e9\u20ac\uFFFE\uFFFF\xD800\xDC00";

inline std::u16string TextFrom(ByteSource& bytes) {
    size_t length = bytes.Next() % (kMaxTextUnits + 1);
    std::u16string text;
    for (size_t i = 0; i < length && !bytes.Empty(); ++i) {
        uint8_t pick = bytes.Next();
        constexpr size_t kChoices = sizeof(kInteresting) / sizeof(char16_t) - 1;
        if (pick < 0xC0) {
            text.push_back(pick < 0x80 ? static_cast<char16_t>(u'a' + pick % 26) : kInteresting[pick % kChoices]);
        } else {
            uint16_t low = bytes.Next();
            uint16_t high = bytes.Next();
            text.push_back(static_cast<char16_t>(low | (high << 8)));  // any unit, surrogates included
        }
    }
    return text;
}

inline Document DocumentFromBytes(const uint8_t* data, size_t size) {
    ByteSource bytes(data, size);
    Document document;
    document.preformatted = (bytes.Next() & 1) != 0;
    for (size_t item = 0; item < kMaxItems && !bytes.Empty(); ++item) {
        uint8_t kind = bytes.Next();
        if (kind % 4 != 3) {
            Block block;
            uint8_t shape = bytes.Next();
            block.level = static_cast<int8_t>(bytes.Next()) / 16;  // -8 to 7: beyond what readers store
            block.listItem = (shape & 1) != 0;
            block.breakBefore = (shape & 2) != 0;
            block.text = TextFrom(bytes);
            document.blocks.push_back(std::move(block));
        } else {
            Table table;
            table.name = TextFrom(bytes);
            size_t rows = bytes.Next() % (kMaxRows + 1);
            for (size_t r = 0; r < rows && !bytes.Empty(); ++r) {
                std::vector<std::u16string> row(bytes.Next() % (kMaxCells + 1));
                for (auto& cell : row) cell = TextFrom(bytes);
                table.rows.push_back(std::move(row));
            }
            document.tables.push_back(std::move(table));
        }
    }
    return document;
}

}  // namespace fuzzing
