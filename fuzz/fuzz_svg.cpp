// SVG input: any bytes are rendered under the intrinsic-size rules or fail with a
// ConvertError; the budget bounds the surface a forged size could ask for.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/core/errors.h"
#include "platform/imaging/svg_renderer.h"

namespace {
constexpr uint64_t kFuzzBudget = 64ull << 20;  // 64 MiB: a 2048 x 2048 surface and its copy
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        imaging::RenderSvg(std::string_view(reinterpret_cast<const char*>(data), size), kFuzzBudget);
    } catch (const ConvertError&) {
    }
    return 0;
}
