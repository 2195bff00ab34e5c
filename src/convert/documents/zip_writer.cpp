// ZIP writer: stored entries with UTF-8 names, dated 1 January 1980, built in memory
// and returned whole for publishing. Limits: 32-bit sizes and offsets, at most 65,535 entries.
#include <array>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint16_t kVersion = 20;
constexpr uint16_t kUtf8NamesFlag = 0x0800;
constexpr uint16_t kDosDate1980 = 0x0021;  // 1 January 1980, the earliest DOS date
constexpr size_t kMaxEntries = 0xFFFF;            // the end record counts entries in 16 bits
constexpr size_t kMaxArchiveBytes = 0xFFFF0000;   // offsets are 32-bit; leave room for the directory

void Put16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes) {
    // Eight tables, so that the loop takes eight bytes per step ("slicing by eight"):
    // packages of tens of megabytes are checksummed whole. Table 0 is the classic one.
    using Tables = std::array<std::array<uint32_t, 256>, 8>;
    static const Tables tables = [] {
        Tables built{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            built[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (size_t t = 1; t < 8; ++t) built[t][n] = built[0][built[t - 1][n] & 0xFF] ^ (built[t - 1][n] >> 8);
        return built;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint32_t low = crc ^ (uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 |
                              uint32_t(bytes[i + 3]) << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][bytes[i + 4]] ^ tables[2][bytes[i + 5]] ^ tables[1][bytes[i + 6]] ^
              tables[0][bytes[i + 7]];
    }
    for (; i < bytes.size(); ++i) crc = tables[0][(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void AddEntry(ZipWriter& writer, std::string_view name, std::string_view bytes) {
    ZipWriter::Record record{std::string(name), Crc32(bytes), static_cast<uint32_t>(bytes.size()),
                             static_cast<uint32_t>(writer.buffer.size())};
    std::string& out = writer.buffer;
    Put32(out, kLocalHeaderSignature);
    Put16(out, kVersion);
    Put16(out, kUtf8NamesFlag);
    Put16(out, 0);  // stored
    Put16(out, 0);  // time
    Put16(out, kDosDate1980);
    Put32(out, record.crc);
    Put32(out, record.size);
    Put32(out, record.size);
    Put16(out, static_cast<uint32_t>(name.size()));
    Put16(out, 0);  // extra length
    out.append(name);
    out.append(bytes);
    writer.records.push_back(std::move(record));
}

std::string FinishZip(ZipWriter& writer) {
    std::string& out = writer.buffer;
    // Without ZIP64 the format cannot describe more; refuse rather than write a broken package.
    if (writer.records.size() > kMaxEntries || out.size() > kMaxArchiveBytes)
        throw ConvertError("This document is too large to convert");
    uint32_t directoryOffset = static_cast<uint32_t>(out.size());
    for (const auto& record : writer.records) {
        Put32(out, kCentralHeaderSignature);
        Put16(out, kVersion);  // made by
        Put16(out, kVersion);  // needed
        Put16(out, kUtf8NamesFlag);
        Put16(out, 0);  // stored
        Put16(out, 0);  // time
        Put16(out, kDosDate1980);
        Put32(out, record.crc);
        Put32(out, record.size);
        Put32(out, record.size);
        Put16(out, static_cast<uint32_t>(record.name.size()));
        Put16(out, 0);  // extra length
        Put16(out, 0);  // comment length
        Put16(out, 0);  // disk number
        Put16(out, 0);  // internal attributes
        Put32(out, 0);  // external attributes
        Put32(out, record.offset);
        out.append(record.name);
    }
    uint32_t count = static_cast<uint32_t>(writer.records.size());
    uint32_t directorySize = static_cast<uint32_t>(out.size() - directoryOffset);
    Put32(out, kEndRecordSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, count);
    Put16(out, count);
    Put32(out, directorySize);
    Put32(out, directoryOffset);
    Put16(out, 0);  // comment length

    return std::move(out);
}
