// JSON table reader over the text decoder: a table or one of its messages.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/text_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        std::string json = WideToUtf8(DecodeTextBytes(std::string_view(reinterpret_cast<const char*>(data), size)));
        Document document = ReadJsonContent(json, u"fuzz");
        if (document.tables.size() != 1) __builtin_trap();
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
