// Fuzz harness for the TGA decoder.
#include "convert/images/tga.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::SurviveDecoder(data, size, images::DecodeTga);
}
