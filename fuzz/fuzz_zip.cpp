// Fuzz harness for the ZIP reader: index an archive from memory and extract every entry.
// Only the reader's own failures may leave; anything else is a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/documents/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        ZipArchive archive = OpenZipBytes(std::string(reinterpret_cast<const char*>(data), size));
        for (const auto& entry : archive.entries) {
            std::string out;
            try {
                ReadEntry(archive, entry.name, out);
            } catch (const ConvertError&) {
                // A damaged entry does not stop the others from being tried.
            }
        }
    } catch (const ConvertError&) {
    }
    return 0;
}
