// The imaging layer's decoders, chosen by content as the pipeline chooses them: any bytes
// decode to a first frame or fail with a ConvertError; a decoded frame is turned by the
// orientation the last byte names and read out whole, so the chain is exercised too.
// The memory budget keeps a forged header from planning more than a worker would allow.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/images/image_encode.h"
#include "platform/imaging/decoders.h"

namespace {
constexpr uint64_t kFuzzBudget = 256ull << 20;  // 256 MiB, a small worker's RAM limit
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    imaging::DecodeOptions options;
    options.memoryBudget = kFuzzBudget;
    options.tryRawFirst = size > 0 && (data[0] & 1) == 0 && data[0] != 0xFF;
    try {
        imaging::DecodedFrame frame;
        if (imaging::DecodeFirstFrame(bytes, options, frame) != imaging::S_OK) return 0;
        int orientation = size > 0 ? data[size - 1] % 9 : 1;
        images::ReadPixels(imaging::OrientSource(frame.source, orientation));
    } catch (const ConvertError&) {
    }
    return 0;
}
