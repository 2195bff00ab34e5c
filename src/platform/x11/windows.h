// Windows of the shell on X11: a window-sized image that cairo draws into and that is
// copied to the screen in one request (shared memory where the server allows it), the
// translucent pop-up windows (jobs panel, menus), and the frame properties of ordinary
// windows (settings, dialogs, setup).
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/x11/display.h"
#include "platform/x11/event_loop.h"

// Pixels in the layout cairo's ARGB32 uses (premultiplied B, G, R, A in memory on
// little-endian machines), which is also what a 24- or 32-bit TrueColor ZPixmap holds.
class PixelBuffer {
public:
    explicit PixelBuffer(XDisplay& display) : display_(display) {}
    ~PixelBuffer() { Release(); }
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    // Keeps the memory when the size and depth are the same; false when it cannot be made.
    bool Resize(int width, int height, int depth, Visual* visual);
    void Release();
    uint8_t* Data() const { return image_ ? reinterpret_cast<uint8_t*>(image_->data) : nullptr; }
    int Stride() const { return image_ ? image_->bytes_per_line : 0; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Copies the pixels to the drawable at (x, y); waits until the server has read them.
    bool Put(Drawable drawable, int x = 0, int y = 0);

private:
    XDisplay& display_;
    XImage* image_ = nullptr;
    XShmSegmentInfo shm_{};
    bool usesShm_ = false;
    GC gc_ = nullptr;
    Drawable gcDrawable_ = 0;
    int width_ = 0, height_ = 0, depth_ = 0;
};

// Input shape and bounding shape from a pixel buffer: the rectangles (in YX bands) of the
// pixels whose alpha is at least `minAlpha`.
struct ShapeRect {
    int16_t x, y;
    uint16_t width, height;
    friend bool operator==(const ShapeRect&, const ShapeRect&) = default;
};
std::vector<ShapeRect> AlphaShape(const uint8_t* pixels, int width, int height, int stride, uint8_t minAlpha);
// Without a compositor the colours are shown as they are: undo the premultiplication of
// the pixels that stay, so a half-transparent edge is not darkened.
void Unpremultiply(uint8_t* pixels, int width, int height, int stride);

// An override-redirect pop-up with per-pixel alpha. With a compositing manager it uses the
// 32-bit visual; without one the default visual, cut by a bounding shape at alpha 128.
// Either way clicks pass through where alpha is 0.
class LayeredWindow : public XEventHandler {
public:
    // `type` is the _NET_WM_WINDOW_TYPE name (…_POPUP_MENU, …_NOTIFICATION, …_DND).
    LayeredWindow(XDisplay& display, EventLoop& loop, XEventHandler* owner, std::string title, std::string type);
    ~LayeredWindow() override;

    bool Create(bool composited);
    Window Id() const { return window_; }
    bool Visible() const { return mapped_; }
    // Shows the buffer at screen position (x, y), raised above other windows. The buffer
    // must stay untouched until the next Present (it repaints exposed areas).
    bool Present(PixelBuffer& pixels, int x, int y);
    void Hide();
    // The compositor started or stopped: the window is made again with the right visual.
    void SetComposited(bool composited);
    bool Composited() const { return composited_; }
    void SetCursor(Cursor cursor);

    void OnXEvent(XEvent& event) override;

private:
    void Destroy();

    XDisplay& display_;
    EventLoop& loop_;
    XEventHandler* owner_;
    std::string title_, type_;
    Window window_ = 0;
    bool composited_ = false;
    bool mapped_ = false;
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
    PixelBuffer* last_ = nullptr;
    Cursor cursor_ = 0;
};

// Properties of the shell's windows.
void SetWindowTitle(XDisplay& display, Window window, const std::string& title);
void SetWindowType(XDisplay& display, Window window, const char* type);
void SetWindowClass(XDisplay& display, Window window);  // "quillaven", "Quillaven"
// ARGB32 pixels, each icon as width, height, then width × height values (_NET_WM_ICON).
void SetWindowIcon(XDisplay& display, Window window, const std::vector<unsigned long>& icon);
void SetThemeVariant(XDisplay& display, Window window, bool dark);
// Raises and gives focus: through the window manager when one runs, else directly.
void ActivateWindow(XDisplay& display, Window window, Time time);

// A window managed by the window manager: close box (WM_DELETE_WINDOW), ping answers,
// class, type and minimum size.
Window CreateManagedWindow(XDisplay& display, int x, int y, int width, int height, const std::string& title,
                           const char* type, long eventMask);
void SetMinimumSize(XDisplay& display, Window window, int width, int height);
// Answers _NET_WM_PING; true when the event was a close request (WM_DELETE_WINDOW).
bool HandleWindowProtocols(XDisplay& display, XEvent& event, bool& closeRequested);
