// Excel reader. A first byte of 'P' means a whole archive; otherwise the input is
// split at zero bytes into the shared strings, the relationships, the workbook and a
// worksheet, packed into a stored archive.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/reader_internals.h"
#include "stored_zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        std::string archive;
        if (!bytes.empty() && bytes[0] == 'P') {
            archive = std::string(bytes);
        } else {
            auto parts = fuzzing::SplitParts(bytes, 4);
            archive = fuzzing::StoredZip({{"xl/sharedStrings.xml", parts[0]},
                                          {"xl/_rels/workbook.xml.rels", parts[1]},
                                          {"xl/workbook.xml", parts[2]},
                                          {"xl/worksheets/sheet1.xml", parts[3]}});
        }
        Document document = ReadXlsxArchive(OpenZipBytes(std::move(archive)));
        for (const auto& table : document.tables) {
            if (table.rows.size() > 0x100000) __builtin_trap();
            for (const auto& row : table.rows)
                if (row.size() > 16384) __builtin_trap();
        }
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
