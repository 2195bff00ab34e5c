// XSETTINGS: the desktop's settings, published by its settings daemon in the property
// _XSETTINGS_SETTINGS of the owner of the selection _XSETTINGS_S<screen>.
//
// Layout: byte order (1 byte: 0 least significant first, 1 most; anything else is
// refused), 3 unused, serial (CARD32), setting count (CARD32), then per setting:
// type (0 integer, 1 string, 2 colour), 1 unused, name length (CARD16), the name padded
// to 4 bytes, last-change serial (CARD32), then an INT32, or a CARD32 length and the string
// padded to 4, or four CARD16 (red, blue, green, alpha).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

struct XSettingsColor {
    uint16_t red = 0, blue = 0, green = 0, alpha = 0;
    friend bool operator==(const XSettingsColor&, const XSettingsColor&) = default;
};
using XSettingsValue = std::variant<int32_t, std::string, XSettingsColor>;
using XSettingsMap = std::map<std::string, XSettingsValue, std::less<>>;

inline constexpr size_t kMaxXSettingsBytes = 1 << 20;  // real daemons publish a few KiB
inline constexpr uint32_t kMaxXSettings = 4096;         // real daemons publish about a hundred

// The settings, or nothing when the block is malformed or over the limits.
std::optional<XSettingsMap> ParseXSettings(std::string_view bytes);

// "Xft.dpi" from the X resource database text (RESOURCE_MANAGER): the last such line
// wins, as in Xrm; nothing when absent, not a number, or outside 24..960.
std::optional<double> ParseXftDpi(std::string_view resources);

// The theme is dark when its GTK name ends in "-dark" (any letter case) or names the
// dark variant as GTK_THEME does ("Adwaita:dark").
bool ThemeNameIsDark(std::string_view name);
