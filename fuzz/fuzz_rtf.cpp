// RTF reader: any bytes either read into blocks or fail with "This RTF file is damaged".
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/documents/reader_internals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        Document document = ReadRtfBytes(std::string_view(reinterpret_cast<const char*>(data), size));
        // The text can never be longer than its source.
        size_t units = 0;
        for (const auto& block : document.blocks) units += block.text.size();
        if (units > size) __builtin_trap();
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
