// Fuzz harness for inflate on raw deflate streams: the decoder must also agree with the
// bit-at-a-time decoder kept with the tests (the same output, or the same error).
#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/support/reference_inflate.h"
#include "convert/core/errors.h"
#include "convert/documents/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string output;
    try {
        Inflate({data, size}, output, size > 0 ? size_t{data[0]} << 8 : 0);  // a size hint from any start
    } catch (const ConvertError& failure) {
        // The plain decoder takes seconds to fill 256 MiB; the unit tests check that limit.
        if (failure.message == "This document expands to an unreasonable size") return 0;
        output = "error: " + failure.message;
    }
    if (output != reference::Inflate({data, size})) __builtin_trap();
    return 0;
}
