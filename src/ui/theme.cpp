#include "ui/theme.h"

#include <cstdlib>
#include <mutex>

#include "platform/x11/xsettings.h"

namespace {

std::mutex themeMutex;
std::function<ThemeInputs()> themeSource;
std::optional<Theme> currentTheme;

ThemeInputs DefaultInputs() {
    ThemeInputs inputs;
    if (const char* gtk = std::getenv("GTK_THEME")) inputs.gtkThemeVariable = gtk;
    return inputs;
}

Theme Compute() {
    ThemeInputs inputs = themeSource ? themeSource() : DefaultInputs();
    return ThemeFor(inputs);
}

}  // namespace

Color ColorFromRgb(uint32_t rgb, float alpha) {
    return Color{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                 static_cast<float>(rgb & 0xFF) / 255.0f, alpha};
}

Color Mix(const Color& a, const Color& b, float t) {
    return Color{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Color WithAlpha(Color color, float factor) {
    color.a *= factor;
    return color;
}

std::array<Color, 6> AccentPaletteFrom(uint32_t baseRgb) {
    Color base = ColorFromRgb(baseRgb);
    Color white{1, 1, 1, 1}, black{0, 0, 0, 1};
    return {Mix(base, white, 0.65f), Mix(base, white, 0.45f), Mix(base, white, 0.25f),
            base,                    Mix(base, black, 0.2f),  Mix(base, black, 0.4f)};
}

Theme ComputeTheme(bool dark, const std::array<Color, 6>& palette) {
    Theme t;
    t.dark = dark;
    auto pick = [dark](uint32_t darkRgb, float darkAlpha, uint32_t lightRgb, float lightAlpha) {
        return dark ? ColorFromRgb(darkRgb, darkAlpha) : ColorFromRgb(lightRgb, lightAlpha);
    };
    t.windowBackground = pick(0x202020, 1, 0xF3F3F3, 1);
    t.cardBackground = pick(0xFFFFFF, 0.051f, 0xFFFFFF, 0.7f);
    t.cardBackgroundSecondary = pick(0xFFFFFF, 0.082f, 0xF9F9F9, 0.5f);
    t.cardStroke = pick(0x000000, 0.1f, 0x000000, 0.059f);
    t.flyoutBackground = pick(0x2C2C2C, 0.97f, 0xF9F9F9, 0.98f);
    t.flyoutStroke = pick(0x000000, 0.2f, 0x000000, 0.08f);
    t.divider = pick(0xFFFFFF, 0.084f, 0x000000, 0.059f);
    t.textPrimary = pick(0xFFFFFF, 1, 0x000000, 0.896f);
    t.textSecondary = pick(0xFFFFFF, 0.786f, 0x000000, 0.62f);
    t.textDisabled = pick(0xFFFFFF, 0.363f, 0x000000, 0.361f);
    t.controlFill = pick(0xFFFFFF, 0.061f, 0xFFFFFF, 0.7f);
    t.controlFillHover = pick(0xFFFFFF, 0.084f, 0xF9F9F9, 0.5f);
    t.controlFillPressed = pick(0xFFFFFF, 0.033f, 0xF9F9F9, 0.3f);
    t.controlStroke = pick(0xFFFFFF, 0.07f, 0x000000, 0.059f);
    t.controlStrongStroke = pick(0xFFFFFF, 0.545f, 0x000000, 0.447f);
    t.knobFill = pick(0x454545, 1, 0xFFFFFF, 1);
    t.accent = dark ? palette[1] : palette[4];
    t.accentHover = WithAlpha(t.accent, 0.9f);
    t.accentPressed = WithAlpha(t.accent, 0.8f);
    t.textOnAccent = pick(0x000000, 1, 0xFFFFFF, 1);
    t.accentText = dark ? palette[0] : palette[5];
    t.success = pick(0x6CCB5F, 1, 0x0F7B0F, 1);
    t.error = pick(0xFF99A4, 1, 0xC42B1C, 1);
    return t;
}

bool ResolveDark(const ThemeInputs& inputs) {
    if (inputs.portalDark) return *inputs.portalDark;
    if (inputs.xsettingsThemeName && !inputs.xsettingsThemeName->empty()) return ThemeNameIsDark(*inputs.xsettingsThemeName);
    if (inputs.gtkThemeVariable) return ThemeNameIsDark(*inputs.gtkThemeVariable);
    return false;
}

Theme ThemeFor(const ThemeInputs& inputs) {
    return ComputeTheme(ResolveDark(inputs), AccentPaletteFrom(inputs.portalAccent.value_or(kDefaultAccentRgb)));
}

void SetThemeSource(std::function<ThemeInputs()> source) {
    std::lock_guard lock(themeMutex);
    themeSource = std::move(source);
    currentTheme.reset();
}

const Theme& CurrentTheme() {
    std::lock_guard lock(themeMutex);
    if (!currentTheme) currentTheme = Compute();
    return *currentTheme;
}

bool RefreshTheme() {
    std::lock_guard lock(themeMutex);
    Theme next = Compute();
    bool changed = !currentTheme || currentTheme->dark != next.dark || !(currentTheme->accent == next.accent);
    currentTheme = next;
    return changed;
}

void OverrideTheme(const Theme& theme) {
    std::lock_guard lock(themeMutex);
    currentTheme = theme;
}
