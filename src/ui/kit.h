// The drawing kit every window shares: fonts chosen once per process, a cache of text
// formats, text measuring and drawing with pango, animation helpers, and the painters
// for shadows, focus rings and progress bars. All sizes are DIPs; a window scales its
// cairo context by its scale before drawing.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <compare>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/theme.h"

struct RectF {
    double x = 0, y = 0, width = 0, height = 0;
    double Right() const { return x + width; }
    double Bottom() const { return y + height; }
    bool Contains(double px, double py) const { return px >= x && py >= y && px < Right() && py < Bottom(); }
    static RectF FromEdges(double left, double top, double right, double bottom) {
        return {left, top, right - left, bottom - top};
    }
};

enum TextAlign : int { kAlignLeading = 0, kAlignCentre = 1, kAlignTrailing = 2 };

struct TextStyle {
    float size = 14;
    int weight = 400;  // 400 normal, 600 semibold
    int align = kAlignLeading;
    bool icon = false;
    bool wrap = false;
    auto operator<=>(const TextStyle&) const = default;
};

// A cached text format: the font and how a box lays text out (single line centred
// vertically with an ellipsis, or wrapped from the top).
struct TextFormat {
    TextStyle style;
    PangoFontDescription* font = nullptr;
};

class Kit {
public:
    // The process-wide kit, made on first use.
    static Kit& Get();
    ~Kit();

    const std::string& TextFamily() const { return textFamily_; }
    const std::string& DisplayFamily() const { return displayFamily_; }

    const TextFormat* Format(float size, int weight = 400, int align = kAlignLeading, bool icon = false,
                             bool wrap = false);
    // Width of the text on one line, trailing white space included; 0 without a format.
    double MeasureText(std::string_view text, const TextFormat* format);
    // Draws clipped to `rect`; nothing for empty text or a missing format.
    void DrawText(cairo_t* cr, std::string_view text, const TextFormat* format, const RectF& rect, const Color& color);
    // Height of wrapped text in a box `width` wide.
    double WrappedHeight(std::string_view text, const TextFormat* format, double width);

    size_t FormatCount() const { return formats_.size(); }

    // The first of `families` that fontconfig has (its match names the family asked for),
    // else `fallback`.
    static std::string FirstInstalledFamily(const std::vector<std::string>& families, const std::string& fallback);
    // The family of a desktop font name such as "Cantarell 11" or "Noto Sans Bold 10".
    static std::string FamilyOfFontName(std::string_view fontName);

private:
    Kit();
    // A laid-out text, kept for the next frames (the same texts are drawn every frame).
    PangoLayout* Layout(std::string_view text, const TextFormat* format, double width);

    struct LayoutKey {
        const TextFormat* format;
        int width;
        std::string text;
        auto operator<=>(const LayoutKey&) const = default;
    };
    std::map<LayoutKey, PangoLayout*> layouts_;
    std::map<std::pair<const TextFormat*, std::string>, double, std::less<>> widths_;
    PangoFontMap* fontMap_ = nullptr;
    PangoContext* context_ = nullptr;
    std::string textFamily_, displayFamily_;
    std::map<TextStyle, std::unique_ptr<TextFormat>> formats_;
};

// Set before the kit is first used: the desktop's interface font (portal), asked after
// the preferred families.
void SetInterfaceFontName(std::string fontName);

// Animation.
double EaseOutCubic(double t);
double Approach(double current, double target, double dt, double rate);

// Painting helpers.
void SetSource(cairo_t* cr, const Color& color, double opacity = 1);
void RoundedRectPath(cairo_t* cr, const RectF& rect, double radius);
void FillRoundedRect(cairo_t* cr, const RectF& rect, double radius, const Color& color, double opacity = 1);
void StrokeRoundedRect(cairo_t* cr, const RectF& rect, double radius, double width, const Color& color,
                       double opacity = 1);
void DrawShadow(cairo_t* cr, const RectF& rect, double radius, double opacity);
void DrawFocusRing(cairo_t* cr, const RectF& rect, double radius);
// `value` 0..1, or negative for the sliding piece whose place `phase` (0..1) gives.
void DrawProgressBar(cairo_t* cr, const RectF& box, double value, double phase, double opacity = 1);
// The covered fraction [a, b] of a progress bar.
std::pair<double, double> ProgressSpan(double value, double phase);
