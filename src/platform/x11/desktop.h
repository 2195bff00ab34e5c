// What the host learns from the X desktop and keeps up to date: XSETTINGS and the
// resource database (scale, theme and icon theme names, double-click time, drag distance),
// whether a compositing manager runs, who owns the system tray, and the monitors with
// their work areas.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/display.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/monitors.h"
#include "platform/x11/xsettings.h"

class DesktopWatch {
public:
    DesktopWatch(XDisplay& display, EventLoop& loop);
    ~DesktopWatch();
    DesktopWatch(const DesktopWatch&) = delete;
    DesktopWatch& operator=(const DesktopWatch&) = delete;

    // Xft.dpi / 96, 1 when unset.
    double Scale() const { return scale_; }
    std::optional<std::string> ThemeName() const { return String("Net/ThemeName"); }
    std::optional<std::string> IconThemeName() const { return String("Net/IconThemeName"); }
    int DoubleClickMs() const;  // Net/DoubleClickTime, 400 when unset
    int DragThreshold() const;  // Net/DndDragThreshold, 8 when unset
    bool Composited() const { return composited_; }
    Window TrayOwner() const { return trayOwner_; }

    std::function<void()> onSettingsChanged;    // XSETTINGS or the resources changed
    std::function<void()> onCompositorChanged;  // a compositing manager started or stopped
    std::function<void()> onTrayChanged;        // the system tray appeared, went or was replaced

    // The monitor nearest the point and its work area, read fresh (monitors come and go).
    ScreenRect MonitorNear(int x, int y);
    ScreenRect WorkAreaNear(int x, int y);
    // The pointer's position on the root window; false when it is unknown.
    bool PointerPosition(int& x, int& y);

private:
    std::optional<std::string> String(const char* name) const;
    std::optional<int32_t> Integer(const char* name) const;
    void ReadSettings();
    void ReadResources();
    void WatchOwner(const char* selection);
    bool OnEvent(XEvent& event);
    std::vector<ScreenRect> Monitors();

    XDisplay& display_;
    EventLoop& loop_;
    int filter_ = 0;
    double scale_ = 1;
    XSettingsMap settings_;
    Window settingsOwner_ = 0;
    bool composited_ = false;
    Window trayOwner_ = 0;
};
