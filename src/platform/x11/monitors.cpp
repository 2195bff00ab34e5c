#include "platform/x11/monitors.h"

#include <algorithm>
#include <climits>

namespace {

int64_t DistanceSquared(const ScreenRect& rect, int x, int y) {
    int64_t dx = x < rect.x ? rect.x - x : x >= rect.Right() ? x - rect.Right() + 1 : 0;
    int64_t dy = y < rect.y ? rect.y - y : y >= rect.Bottom() ? y - rect.Bottom() + 1 : 0;
    return dx * dx + dy * dy;
}

// Two ranges [a0, a1) and [b0, b1] (strut ranges are inclusive) overlap.
bool Overlaps(long a0, long a1, long b0, long b1) { return a0 <= b1 && b0 < a1; }

}  // namespace

size_t NearestMonitor(const std::vector<ScreenRect>& monitors, int x, int y) {
    size_t best = 0;
    int64_t bestDistance = INT64_MAX;
    for (size_t i = 0; i < monitors.size(); ++i) {
        int64_t distance = DistanceSquared(monitors[i], x, y);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

ScreenRect WorkAreaFor(const ScreenRect& monitor, const std::optional<ScreenRect>& workArea,
                       const std::vector<Strut>& struts, int screenWidth, int screenHeight) {
    long left = monitor.x, top = monitor.y, right = monitor.Right(), bottom = monitor.Bottom();
    if (workArea && workArea->width > 0 && workArea->height > 0) {
        left = std::max<long>(left, workArea->x);
        top = std::max<long>(top, workArea->y);
        right = std::min<long>(right, workArea->Right());
        bottom = std::min<long>(bottom, workArea->Bottom());
    }
    for (const Strut& s : struts) {
        // Widths count from the screen's edges; a strut applies where its range crosses the monitor.
        if (s.left > 0 && Overlaps(monitor.y, monitor.Bottom(), s.leftStartY, s.leftEndY) && s.left > monitor.x)
            left = std::max(left, s.left);
        if (s.right > 0 && Overlaps(monitor.y, monitor.Bottom(), s.rightStartY, s.rightEndY) &&
            screenWidth - s.right < monitor.Right())
            right = std::min<long>(right, screenWidth - s.right);
        if (s.top > 0 && Overlaps(monitor.x, monitor.Right(), s.topStartX, s.topEndX) && s.top > monitor.y)
            top = std::max(top, s.top);
        if (s.bottom > 0 && Overlaps(monitor.x, monitor.Right(), s.bottomStartX, s.bottomEndX) &&
            screenHeight - s.bottom < monitor.Bottom())
            bottom = std::min<long>(bottom, screenHeight - s.bottom);
    }
    if (right - left < 1 || bottom - top < 1) return monitor;
    return ScreenRect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                      static_cast<int>(bottom - top)};
}
