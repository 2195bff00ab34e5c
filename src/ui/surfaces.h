// The two drawing surfaces: a translucent pop-up's pixels (premultiplied ARGB, shown
// with per-pixel alpha) and an ordinary window's back buffer, copied in one request.
#pragma once

#include <cairo.h>

#include "platform/x11/windows.h"
#include "ui/theme.h"

class LayeredSurface {
public:
    explicit LayeredSurface(XDisplay& display) : display_(display), pixels_(display) {}
    ~LayeredSurface() { Release(); }
    LayeredSurface(const LayeredSurface&) = delete;
    LayeredSurface& operator=(const LayeredSurface&) = delete;

    // Keeps the pixels when the size is unchanged, clears them to transparent and returns
    // a context with the identity transform; null when the pixels cannot be made.
    cairo_t* Begin(const LayeredWindow& window, int width, int height);
    // Ends drawing and shows the frame at the screen position.
    bool Present(LayeredWindow& window, int x, int y);
    // Frees the pixels (the window is hidden or empty).
    void Release();
    const PixelBuffer& Pixels() const { return pixels_; }

private:
    XDisplay& display_;
    PixelBuffer pixels_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

class WindowSurface {
public:
    explicit WindowSurface(XDisplay& display) : display_(display), pixels_(display) {}
    ~WindowSurface() { Release(); }
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    // A context scaled by `scale` over a back buffer of the window's size (at least 1 × 1),
    // cleared to `clear`; null when the buffer cannot be made.
    cairo_t* Begin(Window window, int width, int height, double scale, const Color& clear);
    void End();
    void Release();

private:
    XDisplay& display_;
    PixelBuffer pixels_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    Window window_ = 0;
};
