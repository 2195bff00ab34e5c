// Builds a stored ZIP archive in memory, so that a harness can put fuzzed bytes into
// a package part and reach the reader's own parsing instead of the ZIP checks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/documents/zip.h"

namespace fuzzing {

inline void Put16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline std::string StoredZip(const std::vector<std::pair<std::string, std::string_view>>& parts) {
    std::string archive, directory;
    for (const auto& [name, bytes] : parts) {
        uint32_t offset = static_cast<uint32_t>(archive.size());
        uint32_t crc = Crc32(bytes);
        auto size = static_cast<uint32_t>(bytes.size());
        Put32(archive, 0x04034b50);  // local header: version, flags, method 0, time, date
        Put16(archive, 20), Put16(archive, 0), Put16(archive, 0), Put16(archive, 0), Put16(archive, 0);
        Put32(archive, crc), Put32(archive, size), Put32(archive, size);
        Put16(archive, static_cast<uint32_t>(name.size())), Put16(archive, 0);
        archive += name;
        archive += bytes;
        Put32(directory, 0x02014b50);  // central record
        Put16(directory, 20), Put16(directory, 20), Put16(directory, 0), Put16(directory, 0);
        Put16(directory, 0), Put16(directory, 0);
        Put32(directory, crc), Put32(directory, size), Put32(directory, size);
        Put16(directory, static_cast<uint32_t>(name.size())), Put16(directory, 0), Put16(directory, 0);
        Put16(directory, 0), Put16(directory, 0), Put32(directory, 0), Put32(directory, offset);
        directory += name;
    }
    uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
    archive += directory;
    Put32(archive, 0x06054b50);  // end record
    Put16(archive, 0), Put16(archive, 0);
    Put16(archive, static_cast<uint32_t>(parts.size())), Put16(archive, static_cast<uint32_t>(parts.size()));
    Put32(archive, static_cast<uint32_t>(directory.size())), Put32(archive, directoryOffset), Put16(archive, 0);
    return archive;
}

// Splits fuzzed bytes into `count` parts at the separator byte 0x00.
inline std::vector<std::string_view> SplitParts(std::string_view bytes, size_t count) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < count) {
        size_t at = bytes.find('\0');
        if (at == bytes.npos) break;
        parts.push_back(bytes.substr(0, at));
        bytes.remove_prefix(at + 1);
    }
    parts.push_back(bytes);
    while (parts.size() < count) parts.push_back({});
    return parts;
}

}  // namespace fuzzing
