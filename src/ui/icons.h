// Icons by code point. The code points are those of the icon font the windows were
// designed with; one table maps each to icon names of the freedesktop naming scheme,
// drawn from the user's icon theme (the symbolic SVG, recoloured), and to a vector
// path of our own where no theme has it.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/kit.h"

inline constexpr char16_t kIconCheckMark = 0xE73E;
inline constexpr char16_t kIconError = 0xE783;
inline constexpr char16_t kIconCancel = 0xE711;
inline constexpr char16_t kIconImage = 0xEB9F;
inline constexpr char16_t kIconVideo = 0xE714;
inline constexpr char16_t kIconAudio = 0xE8D6;
inline constexpr char16_t kIconDocument = 0xE8A5;
inline constexpr char16_t kIconSettings = 0xE713;
inline constexpr char16_t kIconFolder = 0xE838;
inline constexpr char16_t kIconRefresh = 0xE72C;
inline constexpr char16_t kIconDelete = 0xE74D;
inline constexpr char16_t kIconSpeed = 0xEC4A;

// The theme icon names tried for a code point, best first; empty when it has none.
const std::vector<const char*>& IconNamesFor(char16_t codePoint);

// The icon theme asked first (XSETTINGS Net/IconThemeName); Adwaita and hicolor follow.
void SetIconThemeName(std::string name);
// The SVG file of a themed icon, or empty.
std::string FindThemedIcon(const char* name);

// Draws the icon centred in `box`, as large as its smaller side, in `color`.
void DrawIcon(cairo_t* cr, char16_t codePoint, const RectF& box, const Color& color, double opacity = 1);
// Only the vector path (tests compare it with the themed one; no-theme systems use it).
void DrawVectorIcon(cairo_t* cr, char16_t codePoint, const RectF& box, const Color& color, double opacity = 1);

// The program's own icon at `size` pixels as straight-alpha 0xAARRGGBB values, row by row:
// the tray and window icon.
std::vector<uint32_t> AppIconPixels(int size, const Color& accent);
