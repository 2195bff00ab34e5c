// RTF reader: any bytes read into blocks or fail with "This RTF file is damaged".
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::Survive(data, size, [](std::string_view bytes) { ReadRtfBytes(bytes); });
}
