// Delimited-text reader over the text decoder.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) { ReadDelimitedContent(DecodeTextBytes(bytes), u"fuzz"); });
}
