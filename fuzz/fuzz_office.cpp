// Fuzzes the Word, OpenDocument and PowerPoint readers on the same package in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        ZipArchive archive = OpenZipBytes(std::string(reinterpret_cast<const char*>(data), size));
        for (auto read : {ReadWordPackage, ReadOpenDocumentPackage, ReadPowerPointPackage}) {
            try {
                for (const Block& block : read(archive).blocks)
                    if (block.level < 0 || block.level > 3) __builtin_trap();
            } catch (const ConvertError&) {
            }
        }
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
