// The light or dark palette of every window, with the user's accent colour.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct Color {
    float r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Color&, const Color&) = default;
};

Color ColorFromRgb(uint32_t rgb, float alpha = 1);
// a + (b − a) × t on all four channels.
Color Mix(const Color& a, const Color& b, float t);
Color WithAlpha(Color color, float factor);

struct Theme {
    bool dark = false;
    Color windowBackground, cardBackground, cardBackgroundSecondary, cardStroke, flyoutBackground, flyoutStroke, divider,
        textPrimary, textSecondary, textDisabled, controlFill, controlFillHover, controlFillPressed, controlStroke,
        controlStrongStroke, knobFill, accent, accentHover, accentPressed, textOnAccent, accentText, success, error;
};

inline constexpr uint32_t kDefaultAccentRgb = 0x0078D4;

// Six accent shades, lightest first: mixes of `base` toward white (0.65, 0.45, 0.25), the
// base itself, then toward black (0.2, 0.4).
std::array<Color, 6> AccentPaletteFrom(uint32_t baseRgb);
Theme ComputeTheme(bool dark, const std::array<Color, 6>& palette);

// Where dark/light and the accent come from, in the order they are asked: the desktop's
// settings portal, then the GTK theme name from XSETTINGS, then GTK_THEME.
struct ThemeInputs {
    std::optional<bool> portalDark;
    std::optional<uint32_t> portalAccent;
    std::optional<std::string> xsettingsThemeName;
    std::optional<std::string> gtkThemeVariable;
};
bool ResolveDark(const ThemeInputs& inputs);
Theme ThemeFor(const ThemeInputs& inputs);

// The process's theme, computed from the installed source on first use. The host installs
// a source that asks the portal and XSETTINGS; without one only GTK_THEME is read.
void SetThemeSource(std::function<ThemeInputs()> source);
const Theme& CurrentTheme();
// Recomputes the theme; true when `dark` or the accent changed.
bool RefreshTheme();
// Tests and screenshots pin a theme.
void OverrideTheme(const Theme& theme);
