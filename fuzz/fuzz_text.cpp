// Text decoder and the plain-text and Markdown readers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/text_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        std::u16string text = DecodeTextBytes(std::string_view(reinterpret_cast<const char*>(data), size));
        if (text.size() > size) __builtin_trap();  // no encoding we read grows in code units
        for (bool markdown : {false, true}) {
            Document document = ReadPlainTextContent(text, markdown, !markdown);
            for (const auto& block : document.blocks)
                if (block.text.find(u'\r') != std::u16string::npos) __builtin_trap();
        }
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
