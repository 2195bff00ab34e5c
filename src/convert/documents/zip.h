// ZIP packages (the containers of DOCX, PPTX, XLSX, ODT, ODP, ODS and EPUB).
// Reading: the whole archive is loaded (at most 512 MiB) and entries are extracted
// by exact name, stored or deflated, each at most 256 MiB once inflated.
// Writing: stored entries only, built in memory and published once.
// Not supported: ZIP64, multi-disk archives, encryption, data descriptors.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ZipEntry {
    std::string name;  // bytes as stored, no code-page conversion
    uint16_t method = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t localHeaderOffset = 0;
};

struct ZipArchive {
    std::string data;
    std::vector<ZipEntry> entries;  // central-directory order
    // Entry position by name, first occurrence: a package of many parts is read
    // part by part, and a linear search per part would make that quadratic.
    std::unordered_map<std::string, size_t> byName;
};

// Throws ConvertError "Couldn't open the document", "This document is too large to convert",
// "Couldn't read the document", "This isn't a valid document", "The document is corrupted".
ZipArchive OpenZip(const std::string& path);
// Parses an archive already in memory (the same checks as OpenZip after loading).
ZipArchive OpenZipBytes(std::string data);

// False when the entry is missing or unreadable; inflate errors are thrown.
bool ReadEntry(const ZipArchive& archive, std::string_view name, std::string& out);
bool HasEntry(const ZipArchive& archive, std::string_view name);
std::string ReadEntryOrFail(const ZipArchive& archive, std::string_view name, const std::string& message);

// Raw deflate (RFC 1951). Throws ConvertError "The document is truncated",
// "The document is corrupted", "This document expands to an unreasonable size".
void Inflate(std::span<const uint8_t> compressed, std::string& out, size_t reserveHint);

struct ZipWriter {
    struct Record {
        std::string name;
        uint32_t crc = 0;
        uint32_t size = 0;
        uint32_t offset = 0;
    };
    std::string buffer;
    std::vector<Record> records;
};

void AddEntry(ZipWriter& writer, std::string_view name, std::string_view bytes);
// The finished archive (the writer's buffer, moved out). Throws ConvertError
// "This document is too large to convert".
std::string FinishZip(ZipWriter& writer);

uint32_t Crc32(std::span<const uint8_t> bytes);
inline uint32_t Crc32(std::string_view bytes) {
    return Crc32(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}
