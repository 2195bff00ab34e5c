// ZIP reader: loads a whole archive (at most 512 MiB), indexes its central directory and
// extracts entries by exact name, stored (method 0) or deflated (method 8).
// Limits: 32-bit sizes and offsets, at most 65,535 entries, an archive comment of at most
// 65,535 bytes; each entry inflates to at most 256 MiB. The sizes an archive declares
// are hints only: they never decide how much memory is taken up front beyond 64 MiB.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "convert/core/byte_reader.h"
#include "convert/core/errors.h"
#include "convert/documents/zip.h"
#include "platform/file_io.h"

namespace {

constexpr uint64_t kMaxArchiveBytes = 0x20000000;  // 512 MiB: the archive is held whole in memory
constexpr size_t kMaxReserve = 0x4000000;          // 64 MiB: a declared size is only a hint
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentLength = 0xFFFF;       // the comment length field is 16 bits
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

const char kNotValid[] = "This isn't a valid document";
const char kCorrupted[] = "The document is corrupted";

std::span<const uint8_t> Bytes(const std::string& data) {
    return {reinterpret_cast<const uint8_t*>(data.data()), data.size()};
}

// The end-of-central-directory record sits at the end, before a comment of up to
// 65,535 bytes: search back from the last place it can start.
size_t FindEndRecord(ByteReader& reader) {
    const size_t size = reader.Size();
    const size_t last = size - kEndRecordSize;
    const size_t earliest = last > kMaxCommentLength ? last - kMaxCommentLength : 0;
    for (size_t at = last;; --at) {
        if (reader.U32LEAt(at) == kEndRecordSignature) return at;
        if (at == earliest) break;
    }
    throw ConvertError(kNotValid);
}

const ZipEntry* FindEntry(const ZipArchive& archive, std::string_view name) {
    auto found = archive.byName.find(std::string(name));
    return found == archive.byName.end() ? nullptr : &archive.entries[found->second];
}

}  // namespace

ZipArchive OpenZip(const std::string& path) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) throw ConvertError("Couldn't open the document", HResultFromErrno(errno));
    struct stat info;
    if (::fstat(file.get(), &info) != 0) throw ConvertError("Couldn't read the document");
    if (static_cast<uint64_t>(info.st_size) > kMaxArchiveBytes) throw ConvertError("This document is too large to convert");
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::string data;
    // An error, or a file that shrank while we read it: the index would not match.
    if (!ReadExactly(file.get(), static_cast<size_t>(info.st_size), data) ||
        data.size() != static_cast<size_t>(info.st_size))
        throw ConvertError("Couldn't read the document");
    return OpenZipBytes(std::move(data));
}

ZipArchive OpenZipBytes(std::string data) {
    if (data.size() > kMaxArchiveBytes) throw ConvertError("This document is too large to convert");
    if (data.size() < kEndRecordSize) throw ConvertError(kNotValid);
    ZipArchive archive;
    archive.data = std::move(data);
    ByteReader reader(Bytes(archive.data));

    const size_t endRecord = FindEndRecord(reader);
    const uint16_t count = reader.U16LEAt(endRecord + 10);
    uint64_t at = reader.U32LEAt(endRecord + 16);
    archive.entries.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        // Records are bounded by the file; `at` stays far below 2^64 (at most 65,535 steps of
        // under 200 KiB each past a 32-bit start).
        if (at + kCentralHeaderSize > reader.Size() || reader.U32LEAt(at) != kCentralHeaderSignature)
            throw ConvertError(kCorrupted);
        ZipEntry entry;
        entry.method = reader.U16LEAt(at + 10);
        entry.compressedSize = reader.U32LEAt(at + 20);
        entry.uncompressedSize = reader.U32LEAt(at + 24);
        const uint16_t nameLength = reader.U16LEAt(at + 28);
        const uint16_t extraLength = reader.U16LEAt(at + 30);
        const uint16_t commentLength = reader.U16LEAt(at + 32);
        entry.localHeaderOffset = reader.U32LEAt(at + 42);
        if (at + kCentralHeaderSize + nameLength > reader.Size()) throw ConvertError(kCorrupted);
        entry.name.assign(archive.data, static_cast<size_t>(at + kCentralHeaderSize), nameLength);
        archive.byName.emplace(entry.name, archive.entries.size());
        archive.entries.push_back(std::move(entry));
        at += kCentralHeaderSize + uint64_t{nameLength} + extraLength + commentLength;
    }
    return archive;
}

bool ReadEntry(const ZipArchive& archive, std::string_view name, std::string& out) {
    out.clear();
    const ZipEntry* entry = FindEntry(archive, name);
    if (!entry) return false;
    ByteReader reader(Bytes(archive.data));
    const uint64_t header = entry->localHeaderOffset;
    if (header + kLocalHeaderSize > reader.Size() || reader.U32LEAt(header) != kLocalHeaderSignature) return false;
    const uint64_t start = header + kLocalHeaderSize + reader.U16LEAt(header + 26) + reader.U16LEAt(header + 28);
    if (start + entry->compressedSize > reader.Size()) return false;
    if (entry->method != kStored && entry->method != kDeflated) return false;

    auto data = Bytes(archive.data).subspan(static_cast<size_t>(start), entry->compressedSize);
    if (entry->method == kStored) {
        // The declared uncompressed size is not trusted: the stored bytes are the entry.
        out.assign(reinterpret_cast<const char*>(data.data()), data.size());
        return true;
    }
    Inflate(data, out, std::min<size_t>(entry->uncompressedSize, kMaxReserve));
    return true;
}

bool HasEntry(const ZipArchive& archive, std::string_view name) { return FindEntry(archive, name) != nullptr; }

std::string ReadEntryOrFail(const ZipArchive& archive, std::string_view name, const std::string& message) {
    std::string bytes;
    if (!ReadEntry(archive, name, bytes)) throw ConvertError(message);
    return bytes;
}
