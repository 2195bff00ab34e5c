#include "ui/surfaces.h"

#include <X11/Xutil.h>

#include <algorithm>

namespace {

// A cairo surface over the buffer's memory, remade when the buffer was reallocated.
bool Wrap(PixelBuffer& pixels, cairo_surface_t*& surface) {
    if (surface && cairo_image_surface_get_data(surface) == pixels.Data() &&
        cairo_image_surface_get_width(surface) == pixels.Width() && cairo_image_surface_get_height(surface) == pixels.Height())
        return true;
    if (surface) cairo_surface_destroy(surface);
    surface = cairo_image_surface_create_for_data(pixels.Data(), CAIRO_FORMAT_ARGB32, pixels.Width(), pixels.Height(),
                                                  pixels.Stride());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        surface = nullptr;
        return false;
    }
    return true;
}

}  // namespace

cairo_t* LayeredSurface::Begin(const LayeredWindow& window, int width, int height) {
    if (cr_) {
        cairo_destroy(cr_);
        cr_ = nullptr;
    }
    bool argb = window.Composited();
    Display* d = display_.get();
    Visual* visual = argb ? display_.ArgbVisual() : DefaultVisual(d, display_.Screen());
    int depth = argb ? 32 : DefaultDepth(d, display_.Screen());
    if (!pixels_.Resize(width, height, depth, visual) || !Wrap(pixels_, surface_)) return nullptr;
    cr_ = cairo_create(surface_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    return cr_;
}

bool LayeredSurface::Present(LayeredWindow& window, int x, int y) {
    if (!cr_) return false;
    cairo_destroy(cr_);
    cr_ = nullptr;
    cairo_surface_flush(surface_);
    return window.Present(pixels_, x, y);
}

void LayeredSurface::Release() {
    if (cr_) cairo_destroy(cr_);
    cr_ = nullptr;
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = nullptr;
    pixels_.Release();
}

cairo_t* WindowSurface::Begin(Window window, int width, int height, double scale, const Color& clear) {
    if (cr_) {
        cairo_destroy(cr_);
        cr_ = nullptr;
    }
    Display* d = display_.get();
    window_ = window;
    if (!pixels_.Resize(std::max(width, 1), std::max(height, 1), DefaultDepth(d, display_.Screen()),
                        DefaultVisual(d, display_.Screen())) ||
        !Wrap(pixels_, surface_))
        return nullptr;
    cr_ = cairo_create(surface_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr_, clear.r, clear.g, clear.b, 1);  // the window has no alpha
    cairo_paint(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    cairo_scale(cr_, scale, scale);
    return cr_;
}

void WindowSurface::End() {
    if (!cr_) return;
    cairo_destroy(cr_);
    cr_ = nullptr;
    cairo_surface_flush(surface_);
    pixels_.Put(window_);
}

void WindowSurface::Release() {
    if (cr_) cairo_destroy(cr_);
    cr_ = nullptr;
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = nullptr;
    pixels_.Release();
}
