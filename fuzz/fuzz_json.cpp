// JSON table reader over the text decoder: a table or one of its messages.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size,
                            [](std::string_view bytes) { ReadJsonContent(WideToUtf8(DecodeTextBytes(bytes)), u"fuzz"); });
}
