// Whole-file reads for the document side, with their limits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr uint64_t kRtfFileLimit = 0x10000000;   // 256 MiB: RTF carries pictures as hex
inline constexpr uint64_t kTextFileLimit = 0x4000000;   // 64 MiB: text decodes to twice its size

// Throws ConvertError "Couldn't open the file", "This file is too large to convert",
// "Couldn't read the file".
std::string ReadWholeFile(const std::string& path, uint64_t limit);
