// Fuzz harness for the ZIP reader: index an archive from memory and extract every
// entry. Only the reader's own failures may leave; anything else is a crash.
#include <algorithm>
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
                bool read = ReadEntry(archive, entry.name, out);
                // A stored entry is exactly its bytes, whatever size it declares (a name
                // used twice reads the first entry of that name).
                const ZipEntry& found = *std::find_if(archive.entries.begin(), archive.entries.end(),
                                                      [&](const ZipEntry& e) { return e.name == entry.name; });
                if (read && found.method == 0 && out.size() != found.compressedSize) __builtin_trap();
            } catch (const ConvertError&) {
                // A damaged entry does not stop the others from being tried.
            }
            if (!HasEntry(archive, entry.name)) __builtin_trap();
        }
    } catch (const ConvertError&) {
    }
    return 0;
}
