// Fuzz harness for inflate: raw deflate streams. Besides failing cleanly, the decoder
// must agree with the bit-at-a-time decoder kept with the tests on every input: the
// same output, or the same error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/support/reference_inflate.h"
#include "convert/core/errors.h"
#include "convert/documents/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    std::string output;
    std::string error;
    try {
        // A size hint taken from the input exercises the buffer growth from any start.
        Inflate(input, output, size > 0 ? size_t{data[0]} << 8 : 0);
    } catch (const ConvertError& failure) {
        error = failure.message;
        output.clear();
    }
    // The plain decoder takes seconds on a stream that fills the whole 256 MiB; the unit
    // tests check where that limit bites.
    if (error == "This document expands to an unreasonable size") return 0;
    reference::InflateResult expected = reference::Inflate(input);
    if (error != expected.error || output != expected.output) __builtin_trap();
    return 0;
}
