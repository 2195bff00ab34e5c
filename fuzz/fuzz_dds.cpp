// Fuzz harness for the DDS decoder.
#include "convert/images/dds.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::SurviveDecoder(data, size, images::DecodeDds);
}
