// The desktop shell's logic that needs no display: the settings rows and their mapping to
// the stored limits, work areas, the theme, the kit's helpers and the pop-up shapes.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/x11/monitors.h"
#include "platform/x11/windows.h"
#include "settings.h"
#include "shell/app.h"
#include "shell/settings_rows.h"
#include "ui/icons.h"
#include "ui/kit.h"
#include "ui/theme.h"

namespace {

using R = PerformanceRows;

TEST(SettingsRows, StopForStoredValue) {
    struct Case {
        std::vector<int32_t> stops;
        int64_t value;
        int32_t index;
    } cases[] = {
        {PercentStops(), 5, 0},       // below the first stop: 10 %
        {PercentStops(), 60, 10},     // exact
        {PercentStops(), 62, 10},     // nearest
        {PercentStops(), 63, 11},
        {PercentStops(), 0, 18},      // 0 is the last stop
        {PercentStops(), 12, 0},      // 12 is nearer 10 than 15
        {{10, 20}, 15, 0},            // a real tie takes the first
        {MemoryStops(), 4096, 4},
        {MemoryStops(), 5000, 4},     // 4096 is nearer than 6144
        {MemoryStops(), 4194304, 8},  // far above: the largest stop, never "No limit"
        {MemoryStops(), 0, 9},
        {VideoMemoryStops(), 1536, 3},
        {VideoMemoryStops(), 100, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(StopIndexFor(c.stops, c.value), c.index) << c.value;
    EXPECT_EQ(PercentStops().size(), 19u);
    EXPECT_EQ(StopIndexFor({}, 5), -1);
}

TEST(SettingsRows, MemoryLabels) {
    std::pair<int32_t, const char*> cases[] = {{0, "No limit"},  {256, "256 MB"}, {512, "512 MB"}, {1024, "1 GB"},
                                               {1536, "1.5 GB"}, {4096, "4 GB"},   {3072, "3 GB"},  {16384, "16 GB"}};
    for (auto [value, text] : cases) EXPECT_EQ(MemoryLabel(value), text);
    std::vector<Setting> rows = BuildPerformanceRows();
    EXPECT_EQ(rows[R::kRam].options.back(), "No limit");
    EXPECT_EQ(rows[R::kCpu].options.front(), "10%");
}

TEST(SettingsRows, PresetsAndLimitsRoundTrip) {
    std::vector<Setting> rows = BuildPerformanceRows();
    ASSERT_EQ(rows.size(), R::kCount);
    for (int preset = 0; preset < 3; ++preset) {
        SelectLimits(rows, Preset(preset));
        EXPECT_EQ(rows[R::kPreset].selected, preset);
        EXPECT_EQ(LimitsFromRows(rows), Preset(preset));
    }
    // "Quiet", then the CPU slider moved: no preset any more, and the rest stays.
    SelectLimits(rows, Preset(0));
    rows[R::kCpu].selected = 5;
    LimitSettings moved = LimitsFromRows(rows);
    EXPECT_EQ(moved.CpuPercent, 35);
    EXPECT_EQ(moved.RamMB, 1024);
    SelectLimits(rows, moved);
    EXPECT_EQ(rows[R::kPreset].selected, -1);

    // A stored 5 shows 10 %, and storing from the rows writes 10.
    LimitSettings low = Preset(1);
    low.CpuPercent = 5;
    SelectLimits(rows, low);
    EXPECT_EQ(rows[R::kCpu].selected, 0);
    EXPECT_EQ(LimitsFromRows(rows).CpuPercent, 10);
    // Parallel jobs outside 1..4 are shown within it; full speed's zeros select "No limit".
    low.ParallelJobs = 9;
    SelectLimits(rows, low);
    EXPECT_EQ(rows[R::kParallel].selected, 3);
    SelectLimits(rows, Preset(2));
    EXPECT_EQ(rows[R::kVram].options[static_cast<size_t>(rows[R::kVram].selected)], "No limit");
    EXPECT_EQ(rows[R::kCpu].options[static_cast<size_t>(rows[R::kCpu].selected)], "100%");
}

TEST(SettingsRows, GeneralPageSaysWhenUpdatesAreOff) {
    std::vector<Setting> on = BuildGeneralRows(true, true), off = BuildGeneralRows(false, false);
    ASSERT_EQ(on.size(), 5u);
    EXPECT_EQ(on[GeneralRows::kCheckNow].options[0], "Check now");
    EXPECT_TRUE(on[GeneralRows::kCheckForUpdates].enabled);
    ASSERT_EQ(off.size(), 4u);  // no uninstall row
    EXPECT_FALSE(off[GeneralRows::kCheckForUpdates].enabled);
    EXPECT_FALSE(off[GeneralRows::kCheckNow].enabled);
    EXPECT_NE(off[GeneralRows::kCheckNow].description.find("Not available"), std::string::npos);
}

TEST(Monitors, WorkAreas) {
    ScreenRect left{0, 0, 1280, 800}, right{1280, 0, 1920, 1080};
    struct Case {
        ScreenRect monitor;
        std::optional<ScreenRect> workArea;
        std::vector<Strut> struts;
        ScreenRect expected;
    } cases[] = {
        {left, std::nullopt, {}, left},
        {left, ScreenRect{0, 32, 3200, 768}, {}, {0, 32, 1280, 768}},  // a top panel across both
        // A bottom dock only on the right monitor: it cuts that one, not the left.
        {left, std::nullopt, {{0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 1280, 3199}}, left},
        {right, std::nullopt, {{0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 1280, 3199}}, {1280, 0, 1920, 1032}},
        {left, std::nullopt, {{40, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}}, {40, 0, 1240, 800}},
        // Nonsense that would leave nothing gives the monitor whole.
        {left, ScreenRect{5000, 5000, 10, 10}, {}, left},
    };
    for (const Case& c : cases) EXPECT_EQ(WorkAreaFor(c.monitor, c.workArea, c.struts, 3200, 1080), c.expected);
    std::vector<ScreenRect> monitors = {left, right};
    EXPECT_EQ(NearestMonitor(monitors, 100, 100), 0u);
    EXPECT_EQ(NearestMonitor(monitors, 1500, 900), 1u);
    EXPECT_EQ(NearestMonitor(monitors, 5000, 100), 1u);  // beyond every monitor: the nearest
    EXPECT_EQ(NearestMonitor(monitors, 100, 1000), 0u);
}

TEST(Theme, PaletteDarkLightAndSources) {
    Theme light = ComputeTheme(false, AccentPaletteFrom(kDefaultAccentRgb));
    // 0x0078D4 mixed 20 % toward black.
    EXPECT_NEAR(light.accent.r, 0.0f, 1e-6);
    EXPECT_NEAR(light.accent.g, 0x78 / 255.0f * 0.8f, 1e-6);
    EXPECT_NEAR(light.accent.b, 0xD4 / 255.0f * 0.8f, 1e-6);
    EXPECT_NEAR(light.accentHover.a, 0.9f, 1e-6);
    EXPECT_EQ(light.windowBackground, ColorFromRgb(0xF3F3F3));
    Theme dark = ComputeTheme(true, AccentPaletteFrom(kDefaultAccentRgb));
    EXPECT_NEAR(dark.accent.b, 0xD4 / 255.0f + (1 - 0xD4 / 255.0f) * 0.45f, 1e-6);  // entry 1
    EXPECT_EQ(dark.textOnAccent, ColorFromRgb(0x000000));
    EXPECT_EQ(dark.error, ColorFromRgb(0xFF99A4));

    struct Case {
        ThemeInputs inputs;
        bool dark;
    } cases[] = {
        {{}, false},
        {{true, {}, std::string("Adwaita"), {}}, true},  // the portal wins
        {{false, {}, std::string("Adwaita-dark"), {}}, false},
        {{{}, {}, std::string("Adwaita-dark"), std::string("Adwaita")}, true},
        {{{}, {}, std::string("Yaru-DARK"), {}}, true},
        {{{}, {}, std::nullopt, std::string("Adwaita:dark")}, true},
        {{{}, {}, std::nullopt, std::string("Darkness")}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(ResolveDark(c.inputs), c.dark);
    ThemeInputs accent;
    accent.portalAccent = 0xFF0000;
    EXPECT_EQ(ThemeFor(accent).accent, Mix(ColorFromRgb(0xFF0000), ColorFromRgb(0), 0.2f));
}

TEST(Kit, AnimationAndProgressHelpers) {
    EXPECT_DOUBLE_EQ(EaseOutCubic(-1), 0);
    EXPECT_DOUBLE_EQ(EaseOutCubic(0.5), 0.875);
    EXPECT_DOUBLE_EQ(EaseOutCubic(2), 1);
    EXPECT_NEAR(Approach(0, 1, 0.1, 10), 1 - std::exp(-1.0), 1e-12);
    EXPECT_EQ(Approach(0.9995, 1, 0.001, 1), 1.0);  // within 0.001: there
    struct Case {
        double value, phase, a, b;
    } cases[] = {{0.3, 0, 0, 0.3}, {1.5, 0, 0, 1}, {-1, 0, 0, 0}, {-1, 0.5, 0.3, 0.7}, {-1, 1, 1, 1}, {-1, 0.2, 0, 0.28}};
    for (const Case& c : cases) {
        auto [a, b] = ProgressSpan(c.value, c.phase);
        EXPECT_NEAR(a, c.a, 1e-9);
        EXPECT_NEAR(b, c.b, 1e-9);
    }
}

TEST(Kit, FontsAndFormats) {
    EXPECT_EQ(Kit::FirstInstalledFamily({"No Such Family 42"}, "sans-serif"), "sans-serif");
    EXPECT_EQ(Kit::FirstInstalledFamily({"No Such Family 42", "DejaVu Sans"}, "x"), "DejaVu Sans");
    std::pair<const char*, const char*> names[] = {
        {"Cantarell 11", "Cantarell"}, {"Noto Sans Bold 10", "Noto Sans"}, {"DejaVu Sans", "DejaVu Sans"}, {"Ubuntu 10.5", "Ubuntu"}};
    for (auto [name, family] : names) EXPECT_EQ(Kit::FamilyOfFontName(name), family);
    Kit& kit = Kit::Get();
    const TextFormat* small = kit.Format(19.5f);
    const TextFormat* large = kit.Format(20);
    ASSERT_TRUE(small && large);
    EXPECT_EQ(pango_font_description_get_family(small->font), kit.TextFamily());
    EXPECT_EQ(pango_font_description_get_family(large->font), kit.DisplayFamily());
    size_t count = kit.FormatCount();
    EXPECT_EQ(kit.Format(20), large);  // cached
    EXPECT_EQ(kit.FormatCount(), count);
    EXPECT_EQ(kit.Format(0), nullptr);
    double one = kit.MeasureText("x", small), trailing = kit.MeasureText("x ", small);
    EXPECT_GT(one, 0);
    EXPECT_GT(trailing, one);  // trailing white space counts
    EXPECT_EQ(kit.MeasureText("x", nullptr), 0);
}

TEST(Icons, TableThemeAndVectorPaths) {
    for (char16_t code : {kIconCheckMark, kIconError, kIconCancel, kIconImage, kIconVideo, kIconAudio, kIconDocument}) {
        ASSERT_FALSE(IconNamesFor(code).empty());
        EXPECT_FALSE(FindThemedIcon(IconNamesFor(code)[0]).empty()) << IconNamesFor(code)[0];
    }
    EXPECT_TRUE(IconNamesFor(0x1234).empty());
    // Every code point draws something, themed or not: count covered pixels in a 32 × 32 box.
    for (char16_t code : {kIconCheckMark, kIconError, kIconImage, char16_t{0x1234}}) {
        for (bool vector : {false, true}) {
            cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32);
            cairo_t* cr = cairo_create(surface);
            if (vector) DrawVectorIcon(cr, code, RectF{0, 0, 32, 32}, Color{1, 0, 0, 1});
            else DrawIcon(cr, code, RectF{0, 0, 32, 32}, Color{1, 0, 0, 1});
            cairo_destroy(cr);
            cairo_surface_flush(surface);
            const uint32_t* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
            int covered = 0;
            for (int i = 0; i < 32 * 32; ++i) covered += (px[i] >> 24) > 128 && ((px[i] >> 16) & 0xFF) > 128;
            EXPECT_GT(covered, 20) << int(code) << " vector " << vector;
            EXPECT_LT(covered, 32 * 32 * 3 / 4) << int(code);
            cairo_surface_destroy(surface);
        }
    }
    std::vector<uint32_t> icon = AppIconPixels(16, ColorFromRgb(0x0078D4));
    ASSERT_EQ(icon.size(), 256u);
    EXPECT_EQ(icon[0] >> 24, 0u);                       // the rounded corner is clear
    EXPECT_EQ(icon[8 * 16 + 1], 0xFF0078D4u);            // the tile is the accent, straight alpha
    EXPECT_TRUE(AppIconPixels(0, Color{}).empty());
}

TEST(Shapes, AlphaBandsAndUnpremultiply) {
    // 4 × 3 pixels, alpha per pixel: rows 0 and 1 alike, row 2 different.
    const uint8_t alphas[3][4] = {{0, 200, 200, 0}, {0, 200, 200, 0}, {255, 10, 0, 130}};
    uint8_t pixels[3 * 16] = {};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) pixels[y * 16 + x * 4 + 3] = alphas[y][x];
    std::vector<ShapeRect> input = AlphaShape(pixels, 4, 3, 16, 1);
    std::vector<ShapeRect> expected = {{1, 0, 2, 2}, {0, 2, 2, 1}, {3, 2, 1, 1}};
    EXPECT_EQ(input, expected);
    std::vector<ShapeRect> bounding = AlphaShape(pixels, 4, 3, 16, 128);
    std::vector<ShapeRect> expectedBounding = {{1, 0, 2, 2}, {0, 2, 1, 1}, {3, 2, 1, 1}};
    EXPECT_EQ(bounding, expectedBounding);
    uint8_t half[8] = {50, 64, 128, 128, 10, 20, 30, 0};
    Unpremultiply(half, 2, 1, 8);
    EXPECT_EQ(half[0], 100);
    EXPECT_EQ(half[1], 128);
    EXPECT_EQ(half[2], 255);
    EXPECT_EQ(half[4], 10);  // alpha 0 stays as it is
}

TEST(StartupId, TimeStamp) {
    std::pair<const char*, Time> cases[] = {{"launcher-123_TIME4567", 4567},
                                            {"", CurrentTime},
                                            {"x_TIME", CurrentTime},
                                            {"x_TIME12a", CurrentTime},
                                            {"a_TIME1_TIME99", 99}};
    for (auto [id, time] : cases) EXPECT_EQ(StartupTimeOf(id), time) << id;
}

}  // namespace
