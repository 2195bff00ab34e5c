#include "platform/xdg.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    struct passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "/";
}

// Relative values are ignored, as the XDG base directory rules require.
std::string FromEnvironment(const char* name, const char* fallbackUnderHome) {
    const char* value = std::getenv(name);
    if (value && value[0] == '/') return value;
    return HomeFolder() + fallbackUnderHome;
}

}  // namespace

std::string ConfigHome() { return FromEnvironment("XDG_CONFIG_HOME", "/.config"); }
std::string DataHome() { return FromEnvironment("XDG_DATA_HOME", "/.local/share"); }
