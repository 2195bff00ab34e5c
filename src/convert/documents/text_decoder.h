// The shared decoder of plain text files (text, Markdown, HTML, CSV/TSV and JSON):
// a UTF-16 or UTF-8 byte-order mark decides; unmarked bytes are UTF-8 when they are
// strictly valid UTF-8 and the ANSI code page (Windows-1252) otherwise.
// Limit: files above 64 MiB are refused by ReadWholeFile.
#pragma once

#include <string>
#include <string_view>

// Throws ConvertError "Couldn't open the file", "This file is too large to convert",
// "Couldn't read the file".
std::u16string DecodeTextFile(const std::string& path);

// The same decoding for bytes already in memory.
std::u16string DecodeTextBytes(std::string_view bytes);

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
