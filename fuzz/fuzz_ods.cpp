// OpenDocument spreadsheet reader (a whole archive, or content.xml): at most 4,000,000 cells and rows written.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) {
        size_t written = 0;
        for (const auto& table : ReadOdsArchive(fuzzing::Package(bytes, {"content.xml"})).tables)
            for (const auto& row : table.rows) written += row.size() + 1;
        if (written > 4000000) __builtin_trap();
    });
}
