#include "convert/core/process.h"

#include <malloc.h>
#include <unistd.h>

#include <climits>

std::string ModulePath() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<size_t>(length));
}

void TrimMemory() { ::malloc_trim(0); }
