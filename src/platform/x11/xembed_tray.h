// The tray icon where no StatusNotifierItem watcher runs: a small window docked into the
// system tray that owns _NET_SYSTEM_TRAY_S<screen> (the XEmbed system tray protocol).
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/x11/display.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/windows.h"

class XEmbedTrayIcon : public XEventHandler {
public:
    XEmbedTrayIcon(XDisplay& display, EventLoop& loop);
    ~XEmbedTrayIcon() override;

    // Docks into the tray now (again after the tray was replaced); false without a tray.
    bool Dock();
    void Remove();
    bool Docked() const { return window_ != 0; }
    Window WindowId() const { return window_; }
    // The icon as drawn at a size: straight-alpha 0xAARRGGBB rows (AppIconPixels).
    void SetIcon(std::function<std::vector<uint32_t>(int size)> render);

    std::function<void(int x, int y, Time time)> onActivate;     // left button
    std::function<void(int x, int y, Time time)> onContextMenu;  // right button

    void OnXEvent(XEvent& event) override;

private:
    void Paint();

    XDisplay& display_;
    EventLoop& loop_;
    Window window_ = 0;
    bool argb_ = false;
    int width_ = 0, height_ = 0;
    PixelBuffer pixels_;
    std::function<std::vector<uint32_t>(int)> render_;
};
