// Request lines from a second start (any process of the same user can send them): parsed
// without crash; an accepted request formats back to the same line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/single_instance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    std::optional<InstanceRequest> request = ParseInstanceRequest(line);
    if (!request) return 0;
    if (FormatInstanceRequest(*request) != line + "\n") std::abort();
    for (const std::string& path : request->paths)
        if (path.empty() || path[0] != '/') std::abort();
    return 0;
}
