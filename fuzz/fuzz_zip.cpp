// Fuzz harness for the ZIP reader: index an archive from memory and extract every entry.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        ZipArchive archive = OpenZipBytes(std::string(reinterpret_cast<const char*>(data), size));
        std::string out;
        for (const auto& entry : archive.entries) {
            try {
                ReadEntry(archive, entry.name, out);
            } catch (const ConvertError&) {  // a damaged entry does not stop the others being tried
            }
        }
    } catch (const ConvertError&) {
    }
    return 0;
}
