// HTML reader over the text decoder: never fails on content, never crashes.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) {
        Document document;
        ReadHtmlInto(WideToUtf8(DecodeTextBytes(bytes)), document);
    });
}
