// Shared by the reader harnesses: a reader may leave only with its own ConvertError or Cancelled;
// package parts go into a stored archive, so that the reader's parsing is fuzzed rather than the ZIP checks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../tests/support/document_support.h"

namespace fuzzing {

template <typename Read>
int Survive(const uint8_t* data, size_t size, Read read) {
    try {
        read(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}

// A first byte of 'P' (as in "PK") means a whole archive; otherwise the bytes are split
// at zero bytes into the named parts, the last part taking the rest.
inline ZipArchive Package(std::string_view bytes, const std::vector<std::string_view>& names) {
    if (!bytes.empty() && bytes[0] == 'P') return OpenZipBytes(std::string(bytes));
    std::vector<std::pair<std::string_view, std::string_view>> parts;
    for (size_t i = 0; i < names.size(); ++i) {
        size_t end = i + 1 < names.size() ? bytes.find('\0') : bytes.npos;
        parts.emplace_back(names[i], bytes.substr(0, end));
        bytes.remove_prefix(end == bytes.npos ? bytes.size() : end + 1);
    }
    return testing_support::StoredPackage(parts);
}

}  // namespace fuzzing
