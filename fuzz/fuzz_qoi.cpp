// Fuzz harness for the QOI decoder.
#include "convert/images/qoi.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::SurviveDecoder(data, size, images::DecodeQoi);
}
