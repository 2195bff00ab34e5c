// Fuzz harness for inflate on raw deflate streams: the decoder must also agree with the
// bit-at-a-time decoder kept with the tests (the same output, or the same error).
#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/support/reference_inflate.h"
#include "convert/core/errors.h"
#include "convert/documents/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string output, error;
    try {
        Inflate({data, size}, output, size > 0 ? size_t{data[0]} << 8 : 0);  // a size hint from any start
    } catch (const ConvertError& failure) {
        error = "error: " + failure.message;
    }
    // Instrumented, the plain decoder takes seconds per hundred megabytes: streams that grow
    // that large (the output buffer keeps its size on an error), the cap among them, are the
    // unit tests' part.
    if (output.size() > (16u << 20)) return 0;
    if ((error.empty() ? output : error) != reference::Inflate({data, size})) __builtin_trap();
    return 0;
}
