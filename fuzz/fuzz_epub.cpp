// EPUB reader. A first byte of 'P' (as in "PK") means the input is a whole archive;
// otherwise the input is split at zero bytes into container.xml, the package document
// and one chapter, and packed into a stored archive, so the package logic and the
// HTML reader are fuzzed rather than the ZIP checks.
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
            auto parts = fuzzing::SplitParts(bytes, 3);
            archive = fuzzing::StoredZip({{"META-INF/container.xml", parts[0]},
                                          {"OEBPS/content.opf", parts[1]},
                                          {"OEBPS/Text/ch 1.xhtml", parts[2]}});
        }
        Document document = ReadEpubArchive(OpenZipBytes(std::move(archive)));
        if (document.blocks.empty() && document.tables.empty()) __builtin_trap();
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
