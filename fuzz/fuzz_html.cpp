// HTML reader over the text decoder: never fails on content, never crashes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/text_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        std::string html = WideToUtf8(DecodeTextBytes(std::string_view(reinterpret_cast<const char*>(data), size)));
        Document document;
        ReadHtmlInto(html, document);
        for (const auto& block : document.blocks)
            if (block.text.find(u'\r') != std::u16string::npos || block.level < 0 || block.level > 3) __builtin_trap();
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
