// The update manifest and the version it names, as they come from the network: the
// reader must find a version or nothing, and what it finds must compare and show as
// a balloon of bounded, valid text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert/core/text.h"
#include "platform/dbus/notifications.h"
#include "shell/update_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string version = ExtractManifestVersion(bytes.substr(0, kManifestCap));
    if (version.empty()) return 0;
    if (!ParseVersion(version) || WideToUtf8(Utf8ToWide(version)) != version) std::abort();
    bool newer = IsNewer(version, kProgramVersion);
    if (newer && IsNewer(kProgramVersion, version)) std::abort();  // not both ways
    UpdateOutcome outcome = DecideUpdateOutcome(version, true);
    if (!outcome.balloon || outcome.updateNotice != newer) std::abort();
    std::string title = Notifier::Shorten(outcome.balloon->title, 63);
    if (Utf8ToWide(title).size() > 126 || WideToUtf8(Utf8ToWide(title)) != title) std::abort();
    return 0;
}
