// Text decoder and the plain-text and Markdown readers: blocks never hold a carriage return.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) {
        std::u16string text = DecodeTextBytes(bytes);
        for (bool markdown : {false, true})
            for (const auto& block : ReadPlainTextContent(text, markdown, false).blocks)
                if (block.text.find(u'\r') != std::u16string::npos) __builtin_trap();
    });
}
