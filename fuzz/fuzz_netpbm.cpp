// Fuzz harness for the Netpbm (P1 to P7) decoder.
#include "convert/images/netpbm.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::SurviveDecoder(data, size, images::DecodeNetpbm);
}
