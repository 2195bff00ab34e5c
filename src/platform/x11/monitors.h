// Monitor rectangles and work areas: the monitors from XRandR, the desktop's work area
// (_NET_WORKAREA) and the reserved edges of docks (_NET_WM_STRUT_PARTIAL).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    int Right() const { return x + width; }
    int Bottom() const { return y + height; }
    bool Contains(int px, int py) const { return px >= x && py >= y && px < Right() && py < Bottom(); }
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

// A dock's reserved edges in root coordinates: the twelve values of _NET_WM_STRUT_PARTIAL
// (left, right, top, bottom widths, then start and end of each along its edge).
struct Strut {
    long left = 0, right = 0, top = 0, bottom = 0;
    long leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
    long topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;
};

// The index of the monitor that holds the point, else the one nearest to it; 0 for none.
size_t NearestMonitor(const std::vector<ScreenRect>& monitors, int x, int y);

// The part of `monitor` that windows may use: the monitor cut by the desktop's work area
// (which spans all monitors and so is only trusted where it cuts this one) and by each
// strut that reaches into it. Never empty: a nonsensical cut gives the monitor whole.
ScreenRect WorkAreaFor(const ScreenRect& monitor, const std::optional<ScreenRect>& workArea,
                       const std::vector<Strut>& struts, int screenWidth, int screenHeight);
