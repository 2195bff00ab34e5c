// Delimited-text reader over the text decoder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/text_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        std::u16string text = DecodeTextBytes(std::string_view(reinterpret_cast<const char*>(data), size));
        Document document = ReadDelimitedContent(text, u"fuzz");
        if (document.tables.size() != 1) __builtin_trap();
        size_t cells = 0;
        for (const auto& row : document.tables[0].rows) cells += row.size();
        if (cells > text.size() + 1) __builtin_trap();  // each cell needs a character of its own
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
