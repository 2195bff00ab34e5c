#include "ui/kit.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

constexpr int kMeasureWidth = 10000;  // the measuring box, wide enough for any one line
constexpr size_t kMaxCachedLayouts = 1024;  // a few windows' texts; dropped whole when full
constexpr size_t kMaxCachedWidths = 4096;
constexpr size_t kMaxCachedShadows = 64;

std::mutex interfaceFontMutex;
std::string interfaceFontName;

bool SameFamily(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

}  // namespace

void SetInterfaceFontName(std::string fontName) {
    std::lock_guard lock(interfaceFontMutex);
    interfaceFontName = std::move(fontName);
}

std::string Kit::FirstInstalledFamily(const std::vector<std::string>& families, const std::string& fallback) {
    for (const std::string& family : families) {
        if (family.empty()) continue;
        FcPattern* pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(nullptr, pattern, &result);
        bool present = false;
        if (match) {
            FcChar8* found = nullptr;
            // fontconfig always offers some font: only a match of the same name counts.
            if (FcPatternGetString(match, FC_FAMILY, 0, &found) == FcResultMatch)
                present = SameFamily(reinterpret_cast<const char*>(found), family);
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        if (present) return family;
    }
    return fallback;
}

std::string Kit::FamilyOfFontName(std::string_view fontName) {
    // Trailing words that are a size, a weight or a style are not part of the family.
    static const char* const kStyleWords[] = {"bold", "italic", "oblique", "light", "medium", "regular", "semibold",
                                              "semi-bold", "thin", "heavy", "black", "condensed", "book", "ultra-light"};
    std::string name(fontName);
    while (true) {
        while (!name.empty() && name.back() == ' ') name.pop_back();
        size_t space = name.rfind(' ');
        if (space == std::string::npos) break;
        std::string word = name.substr(space + 1);
        bool drop = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
        for (const char* style : kStyleWords) drop = drop || SameFamily(word, style);
        if (!drop) break;
        name.erase(space);
    }
    return name;
}

Kit& Kit::Get() {
    static Kit kit;  // thread-safe first use; lives until the process ends
    return kit;
}

Kit::Kit() {
    std::string interfaceFamily;
    {
        std::lock_guard lock(interfaceFontMutex);
        interfaceFamily = FamilyOfFontName(interfaceFontName);
    }
    textFamily_ = FirstInstalledFamily({"Segoe UI Variable Text", "Segoe UI", interfaceFamily}, "sans-serif");
    displayFamily_ = FirstInstalledFamily({"Segoe UI Variable Display"}, textFamily_);
    fontMap_ = pango_cairo_font_map_new();
    context_ = pango_font_map_create_context(fontMap_);
    pango_cairo_context_set_resolution(context_, 96);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
}

Kit::~Kit() {
    for (auto& [key, layout] : layouts_) g_object_unref(layout);
    for (auto& [style, format] : formats_) pango_font_description_free(format->font);
    if (context_) g_object_unref(context_);
    if (fontMap_) g_object_unref(fontMap_);
}

const TextFormat* Kit::Format(float size, int weight, int align, bool icon, bool wrap) {
    TextStyle style{size, weight, align, icon, wrap};
    auto found = formats_.find(style);
    if (found != formats_.end()) return found->second.get();
    if (!(size > 0) || size > 1000) return nullptr;
    auto format = std::make_unique<TextFormat>();
    format->style = style;
    format->font = pango_font_description_new();
    const std::string& family = size >= 20 ? displayFamily_ : textFamily_;
    pango_font_description_set_family(format->font, family.c_str());
    pango_font_description_set_weight(format->font, static_cast<PangoWeight>(weight));
    pango_font_description_set_absolute_size(format->font, size * PANGO_SCALE);
    const TextFormat* result = format.get();
    formats_.emplace(style, std::move(format));
    return result;
}

PangoLayout* Kit::Layout(std::string_view text, const TextFormat* format, double width) {
    LayoutKey key{format, static_cast<int>(std::max(0.0, width) * PANGO_SCALE), std::string(text)};
    auto cached = layouts_.find(key);
    if (cached != layouts_.end()) return cached->second;  // pango redoes it when the context changed
    if (layouts_.size() >= kMaxCachedLayouts) {
        for (auto& [k, old] : layouts_) g_object_unref(old);
        layouts_.clear();
    }
    PangoLayout* layout = pango_layout_new(context_);
    pango_layout_set_font_description(layout, format->font);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    pango_layout_set_width(layout, static_cast<int>(std::max(0.0, width) * PANGO_SCALE));
    pango_layout_set_alignment(layout, format->style.align == kAlignCentre     ? PANGO_ALIGN_CENTER
                                       : format->style.align == kAlignTrailing ? PANGO_ALIGN_RIGHT
                                                                               : PANGO_ALIGN_LEFT);
    if (format->style.wrap) {
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    } else {
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        pango_layout_set_single_paragraph_mode(layout, TRUE);
    }
    layouts_.emplace(std::move(key), layout);
    return layout;
}

double Kit::MeasureText(std::string_view text, const TextFormat* format) {
    if (!format || text.empty()) return 0;
    auto cached = widths_.find(std::make_pair(format, std::string(text)));
    if (cached != widths_.end()) return cached->second;
    if (widths_.size() >= kMaxCachedWidths) widths_.clear();
    PangoLayout* layout = pango_layout_new(context_);
    pango_layout_set_font_description(layout, format->font);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_width(layout, kMeasureWidth * PANGO_SCALE);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    double width = static_cast<double>(logical.width) / PANGO_SCALE;
    widths_.emplace(std::make_pair(format, std::string(text)), width);
    return width;
}

double Kit::WrappedHeight(std::string_view text, const TextFormat* format, double width) {
    if (!format || text.empty()) return 0;
    PangoLayout* layout = Layout(text, format, width);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return static_cast<double>(logical.height) / PANGO_SCALE;
}

void Kit::DrawText(cairo_t* cr, std::string_view text, const TextFormat* format, const RectF& rect, const Color& color) {
    if (!format || text.empty() || rect.width <= 0 || rect.height <= 0) return;
    pango_cairo_update_context(cr, context_);
    PangoLayout* layout = Layout(text, format, rect.width);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    double height = static_cast<double>(logical.height) / PANGO_SCALE;
    double y = format->style.wrap ? rect.y : rect.y + (rect.height - height) / 2;
    cairo_save(cr);
    cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
    cairo_clip(cr);
    SetSource(cr, color);
    cairo_move_to(cr, rect.x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

double EaseOutCubic(double t) {
    t = std::clamp(t, 0.0, 1.0);
    double u = 1 - t;
    return 1 - u * u * u;
}

double Approach(double current, double target, double dt, double rate) {
    double next = current + (target - current) * (1 - std::exp(-rate * dt));
    return std::abs(next - target) <= 0.001 ? target : next;
}

void SetSource(cairo_t* cr, const Color& color, double opacity) {
    cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a * opacity);
}

void RoundedRectPath(cairo_t* cr, const RectF& rect, double radius) {
    double r = std::min({radius, rect.width / 2, rect.height / 2});
    if (r <= 0) {
        cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, rect.Right() - r, rect.y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, rect.Right() - r, rect.Bottom() - r, r, 0, M_PI / 2);
    cairo_arc(cr, rect.x + r, rect.Bottom() - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, rect.x + r, rect.y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void FillRoundedRect(cairo_t* cr, const RectF& rect, double radius, const Color& color, double opacity) {
    RoundedRectPath(cr, rect, radius);
    SetSource(cr, color, opacity);
    cairo_fill(cr);
}

void StrokeRoundedRect(cairo_t* cr, const RectF& rect, double radius, double width, const Color& color, double opacity) {
    RoundedRectPath(cr, rect, radius);
    SetSource(cr, color, opacity);
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
}

namespace {

// The six passes of a shadow, drawn once per size and scale into an alpha mask; each
// frame then paints the mask (a card's shadow is the same in every frame).
struct ShadowKey {
    int width, height, radius, scale;  // 1/64 DIP and 1/64 scale steps
    auto operator<=>(const ShadowKey&) const = default;
};
std::map<ShadowKey, cairo_surface_t*> shadows;

cairo_surface_t* ShadowMask(const RectF& rect, double radius, double scale) {
    ShadowKey key{static_cast<int>(rect.width * 64), static_cast<int>(rect.height * 64), static_cast<int>(radius * 64),
                  static_cast<int>(scale * 64)};
    auto found = shadows.find(key);
    if (found != shadows.end()) return found->second;
    if (shadows.size() >= kMaxCachedShadows) {
        for (auto& [k, surface] : shadows) cairo_surface_destroy(surface);
        shadows.clear();
    }
    // The mask spans the largest pass: 12 DIPs around, 16 below, from 9 above the card.
    int width = static_cast<int>(std::ceil((rect.width + 24) * scale)) + 2;
    int height = static_cast<int>(std::ceil((rect.height + 28) * scale)) + 2;
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
    cairo_t* cr = cairo_create(mask);
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, 12, 9);
    for (int i = 1; i <= 6; ++i) {
        double grow = 2.0 * i;
        RectF r = RectF::FromEdges(-grow, -grow + 3, rect.width + grow, rect.height + grow + 4);
        FillRoundedRect(cr, r, radius + grow, Color{0, 0, 0, 1}, 1.0 / 6.0);
    }
    cairo_destroy(cr);
    shadows.emplace(key, mask);
    return mask;
}

}  // namespace

void DrawShadow(cairo_t* cr, const RectF& rect, double radius, double opacity) {
    // Six passes at alpha a each: the mask holds them at 1/6, painted at 6a.
    double alpha = opacity * (CurrentTheme().dark ? 0.06 : 0.035) * 6;
    double sx = 1, sy = 0;
    cairo_user_to_device_distance(cr, &sx, &sy);
    double scale = std::hypot(sx, sy);
    if (!(scale > 0)) return;
    cairo_surface_t* mask = ShadowMask(rect, radius, scale);
    cairo_save(cr);
    cairo_translate(cr, rect.x - 12, rect.y - 9);
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_rgba(cr, 0, 0, 0, alpha);
    cairo_mask_surface(cr, mask, 0, 0);
    cairo_restore(cr);
}

void DrawFocusRing(cairo_t* cr, const RectF& rect, double radius) {
    RectF ring = RectF::FromEdges(rect.x - 3, rect.y - 3, rect.Right() + 3, rect.Bottom() + 3);
    StrokeRoundedRect(cr, ring, radius + 3, 2, CurrentTheme().textPrimary);
}

std::pair<double, double> ProgressSpan(double value, double phase) {
    if (value >= 0) return {0.0, std::clamp(value, 0.0, 1.0)};
    return {std::clamp(1.4 * phase - 0.4, 0.0, 1.0), std::clamp(1.4 * phase, 0.0, 1.0)};
}

void DrawProgressBar(cairo_t* cr, const RectF& box, double value, double phase, double opacity) {
    const Theme& theme = CurrentTheme();
    double middle = box.y + box.height / 2;
    cairo_rectangle(cr, box.x, middle - 0.5, box.width, 1);
    SetSource(cr, theme.controlStrongStroke, opacity);
    cairo_fill(cr);
    auto [a, b] = ProgressSpan(value, phase);
    if (b <= a) return;
    FillRoundedRect(cr, RectF{box.x + a * box.width, middle - 1.5, (b - a) * box.width, 3}, 1.5, theme.accent, opacity);
}
