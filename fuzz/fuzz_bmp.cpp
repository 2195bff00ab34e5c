// Fuzz harness for the BMP decoder.
#include "convert/images/bmp.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::SurviveDecoder(data, size, images::DecodeBmp);
}
