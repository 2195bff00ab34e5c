// OpenDocument spreadsheet reader. A first byte of 'P' means a whole archive;
// otherwise the input is content.xml, packed into a stored archive.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/reader_internals.h"
#include "stored_zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        std::string archive = !bytes.empty() && bytes[0] == 'P' ? std::string(bytes)
                                                                : fuzzing::StoredZip({{"content.xml", bytes}});
        Document document = ReadOdsArchive(OpenZipBytes(std::move(archive)));
        size_t cells = 0;
        for (const auto& table : document.tables)
            for (const auto& row : table.rows) cells += row.size() + 1;
        if (document.tables.empty() || cells > 4000000 + 1024) __builtin_trap();
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
