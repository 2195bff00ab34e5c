// What the reader tests and fuzz harnesses share: the readers, what the blocks say, the
// message of a failing call, and tiny ZIP packages written byte by byte here rather
// than by our own ZIP writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "convert/documents/text_decoder.h"
#include "convert/documents/zip.h"
#include "test_support.h"

namespace testing_support {

using Rows = std::vector<std::vector<std::u16string>>;
using Lines = std::vector<std::string>;

// Each block's text, after "<page>" when a page break comes before it, "<hN>" for a
// heading and "<li>" for a list item.
inline Lines Blocks(const Document& document) {
    Lines lines;
    for (const auto& block : document.blocks)
        lines.push_back(std::string(block.breakBefore ? "<page>" : "") +
                        (block.level ? "<h" + std::to_string(block.level) + ">" : "") + (block.listItem ? "<li>" : "") +
                        WideToUtf8(block.text));
    return lines;
}

// The ConvertError message of `action`, or "no error".
template <typename Action>
std::string ErrorOf(Action&& action) {
    try {
        action();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no error";
}

inline std::string Repeat(std::string_view piece, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += piece;
    return out;
}

// The parts, in order and stored (not compressed), as a ZIP archive opened from memory.
inline ZipArchive StoredPackage(const std::vector<std::pair<std::string_view, std::string_view>>& parts) {
    std::string archive, directory;
    auto put = [](std::string& out, uint64_t value, int bytes) {  // little-endian
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0));
    };
    for (const auto& [name, bytes] : parts) {
        // Shared by the local header and the central record: version needed (2.0), flags,
        // method (stored), time and date, CRC, both sizes, name length, extra length.
        std::string common;
        put(common, 20, 2), put(common, 0, 8), put(common, Crc32(bytes), 4), put(common, bytes.size(), 4);
        put(common, bytes.size(), 4), put(common, name.size(), 2), put(common, 0, 2);
        // The central record: signature, version made by, the above, then comment length,
        // disk, attributes, and the offset of the local header.
        put(directory, 0x02014b50, 4), put(directory, 20, 2), directory += common;
        put(directory, 0, 10), put(directory, archive.size(), 4), directory += name;
        put(archive, 0x04034b50, 4), ((archive += common) += name) += bytes;
    }
    const uint64_t directoryOffset = archive.size(), directorySize = directory.size();
    archive += directory;  // then the end record: disks, entry counts, directory size and offset, no comment
    put(archive, 0x06054b50, 4), put(archive, 0, 4), put(archive, parts.size(), 2), put(archive, parts.size(), 2);
    put(archive, directorySize, 4), put(archive, directoryOffset, 4), put(archive, 0, 2);
    return OpenZipBytes(std::move(archive));
}

}  // namespace testing_support
