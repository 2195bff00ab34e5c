// A bounds-checked cursor over a byte range, for every binary format we parse.
// A read past the end returns zero, leaves the position where it was and makes
// Ok() false for good, so a parser can read a whole record and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data, size_t position = 0)
        : data_(data), position_(position <= data.size() ? position : data.size()), ok_(position <= data.size()) {}

    size_t Position() const { return position_; }
    size_t Size() const { return data_.size(); }
    size_t Remaining() const { return data_.size() - position_; }
    bool Ok() const { return ok_; }
    bool Has(size_t count) const { return count <= Remaining(); }

    bool Seek(size_t position) {
        if (position > data_.size()) return Fail();
        position_ = position;
        return true;
    }
    bool Skip(size_t count) {
        if (!Has(count)) return Fail();
        position_ += count;
        return true;
    }

    uint8_t U8() { return static_cast<uint8_t>(Little(1)); }
    uint16_t U16LE() { return static_cast<uint16_t>(Little(2)); }
    uint32_t U32LE() { return static_cast<uint32_t>(Little(4)); }
    uint64_t U64LE() { return Little(8); }
    uint16_t U16BE() { return static_cast<uint16_t>(Big(2)); }
    uint32_t U32BE() { return static_cast<uint32_t>(Big(4)); }

    // The next `count` bytes, or an empty span (and a failed reader) when fewer remain.
    std::span<const uint8_t> Bytes(size_t count) {
        if (!Has(count)) {
            Fail();
            return {};
        }
        auto result = data_.subspan(position_, count);
        position_ += count;
        return result;
    }

    // Fixed-offset peeks that never move the cursor; out of range gives 0 and fails.
    uint16_t U16LEAt(size_t offset) { return static_cast<uint16_t>(LittleAt(offset, 2)); }
    uint32_t U32LEAt(size_t offset) { return static_cast<uint32_t>(LittleAt(offset, 4)); }

private:
    bool Fail() {
        ok_ = false;
        return false;
    }
    uint64_t LittleAt(size_t offset, size_t width) {
        if (offset > data_.size() || width > data_.size() - offset) {
            Fail();
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(data_[offset + i]) << (8 * i);
        return value;
    }
    uint64_t Little(size_t width) {
        if (!Has(width)) {
            Fail();
            return 0;
        }
        uint64_t value = LittleAt(position_, width);
        position_ += width;
        return value;
    }
    uint64_t Big(size_t width) {
        if (!Has(width)) {
            Fail();
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) value = (value << 8) | data_[position_ + i];
        position_ += width;
        return value;
    }

    std::span<const uint8_t> data_;
    size_t position_;
    bool ok_;
};
