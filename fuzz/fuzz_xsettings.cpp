// XSETTINGS blocks and resource-database text as a settings daemon (or anyone who can set
// a root property) publishes them: parsed without crash, and what is accepted is consistent.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/x11/xsettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto settings = ParseXSettings(bytes)) {
        if (settings->size() > kMaxXSettings) std::abort();
        for (const auto& [name, value] : *settings)
            if (name.empty()) std::abort();
    }
    if (auto dpi = ParseXftDpi(bytes); dpi && !(*dpi >= 24 && *dpi <= 960)) std::abort();
    ThemeNameIsDark(bytes);
    return 0;
}
