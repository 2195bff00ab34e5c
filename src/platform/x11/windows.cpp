#include "platform/x11/windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxSide = 16384;  // larger than any screen; keeps width × height × 4 in range

}  // namespace

bool PixelBuffer::Resize(int width, int height, int depth, Visual* visual) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
    if (image_ && width == width_ && height == height_ && depth == depth_) return true;
    Release();
    Display* d = display_.get();
    if (display_.HasShm()) {
        image_ = XShmCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &shm_,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height));
        if (image_) {
            size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height);
            shm_.shmid = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
            void* memory = shm_.shmid >= 0 ? ::shmat(shm_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
            bool attached = false;
            if (memory != reinterpret_cast<void*>(-1)) {
                shm_.shmaddr = image_->data = static_cast<char*>(memory);
                shm_.readOnly = False;
                XDisplay::ErrorTrap trap(display_);
                attached = XShmAttach(d, &shm_) && !trap.Failed();
            }
            // Marked for removal at once: it goes away with the last detach, even after a crash.
            if (shm_.shmid >= 0) ::shmctl(shm_.shmid, IPC_RMID, nullptr);
            if (attached && image_->bits_per_pixel == 32) {
                usesShm_ = true;
            } else {
                if (attached) XShmDetach(d, &shm_);
                if (memory != reinterpret_cast<void*>(-1)) ::shmdt(memory);
                image_->data = nullptr;
                XDestroyImage(image_);
                image_ = nullptr;
            }
        }
    }
    if (!image_) {
        size_t stride = static_cast<size_t>(width) * 4;
        char* data = static_cast<char*>(std::calloc(stride * static_cast<size_t>(height), 1));
        if (!data) return false;
        image_ = XCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, 0, data, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), 32, static_cast<int>(stride));
        if (!image_ || image_->bits_per_pixel != 32) {
            if (image_) XDestroyImage(image_);  // frees data too
            else std::free(data);
            image_ = nullptr;
            return false;
        }
    }
    width_ = width;
    height_ = height;
    depth_ = depth;
    return true;
}

void PixelBuffer::Release() {
    Display* d = display_.get();
    if (gc_) {
        XFreeGC(d, gc_);
        gc_ = nullptr;
        gcDrawable_ = 0;
    }
    if (!image_) return;
    if (usesShm_) {
        XShmDetach(d, &shm_);
        XSync(d, False);
        ::shmdt(shm_.shmaddr);
        image_->data = nullptr;
        usesShm_ = false;
    }
    XDestroyImage(image_);
    image_ = nullptr;
    width_ = height_ = depth_ = 0;
}

bool PixelBuffer::Put(Drawable drawable, int x, int y) {
    if (!image_) return false;
    Display* d = display_.get();
    // A GC is bound to a depth: make it for the drawable it is used with.
    if (!gc_ || gcDrawable_ != drawable) {
        if (gc_) XFreeGC(d, gc_);
        gc_ = XCreateGC(d, drawable, 0, nullptr);
        gcDrawable_ = drawable;
    }
    unsigned w = static_cast<unsigned>(width_), h = static_cast<unsigned>(height_);
    if (usesShm_) {
        XShmPutImage(d, drawable, gc_, image_, 0, 0, x, y, w, h, False);
        XSync(d, False);  // the next frame draws into the same memory
    } else {
        XPutImage(d, drawable, gc_, image_, 0, 0, x, y, w, h);
    }
    return true;
}

std::vector<ShapeRect> AlphaShape(const uint8_t* pixels, int width, int height, int stride, uint8_t minAlpha) {
    std::vector<ShapeRect> rects;
    std::vector<ShapeRect> previous, current;
    for (int y = 0; y < height; ++y) {
        current.clear();
        const uint8_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
        int x = 0;
        while (x < width) {
            while (x < width && row[4 * x + 3] < minAlpha) ++x;
            int start = x;
            while (x < width && row[4 * x + 3] >= minAlpha) ++x;
            if (x > start)
                current.push_back({static_cast<int16_t>(start), static_cast<int16_t>(y), static_cast<uint16_t>(x - start), 1});
        }
        // Rows with the same runs grow the band above instead of starting one.
        bool same = current.size() == previous.size();
        for (size_t i = 0; same && i < current.size(); ++i)
            same = current[i].x == previous[i].x && current[i].width == previous[i].width;
        if (same && !current.empty()) {
            for (size_t i = 0; i < current.size(); ++i) ++rects[rects.size() - current.size() + i].height;
        } else {
            rects.insert(rects.end(), current.begin(), current.end());
        }
        previous = current;
    }
    return rects;
}

void Unpremultiply(uint8_t* pixels, int width, int height, int stride) {
    for (int y = 0; y < height; ++y) {
        uint8_t* p = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < width; ++x, p += 4) {
            unsigned a = p[3];
            if (a == 0 || a == 255) continue;
            for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
        }
    }
}

LayeredWindow::LayeredWindow(XDisplay& display, EventLoop& loop, XEventHandler* owner, std::string title, std::string type)
    : display_(display), loop_(loop), owner_(owner), title_(std::move(title)), type_(std::move(type)) {}

LayeredWindow::~LayeredWindow() { Destroy(); }

void LayeredWindow::Destroy() {
    if (!window_) return;
    loop_.RemoveWindow(window_);
    XDestroyWindow(display_.get(), window_);
    window_ = 0;
    mapped_ = false;
    last_ = nullptr;
}

bool LayeredWindow::Create(bool composited) {
    Destroy();
    composited_ = composited && display_.ArgbVisual();
    Display* d = display_.get();
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask |
                            LeaveWindowMask | StructureNotifyMask | KeyPressMask;
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;
    unsigned long mask = CWOverrideRedirect | CWEventMask | CWBorderPixel | CWBackPixel;
    if (composited_) {
        attributes.colormap = display_.ArgbColormap();
        mask |= CWColormap;
        window_ = XCreateWindow(d, display_.Root(), 0, 0, 1, 1, 0, 32, InputOutput, display_.ArgbVisual(), mask, &attributes);
    } else {
        window_ = XCreateWindow(d, display_.Root(), 0, 0, 1, 1, 0, CopyFromParent, InputOutput, CopyFromParent, mask,
                                &attributes);
    }
    if (!window_) return false;
    SetWindowTitle(display_, window_, title_);
    SetWindowClass(display_, window_);
    SetWindowType(display_, window_, type_.c_str());
    if (cursor_) XDefineCursor(d, window_, cursor_);
    width_ = height_ = 1;
    loop_.AddWindow(window_, this);
    return true;
}

void LayeredWindow::SetCursor(Cursor cursor) {
    cursor_ = cursor;
    if (window_) XDefineCursor(display_.get(), window_, cursor);
}

void LayeredWindow::SetComposited(bool composited) {
    if (window_ && (composited && display_.ArgbVisual()) == composited_) return;
    // The new window is empty and unmapped: the owner's next frame shows it.
    Create(composited);
}

bool LayeredWindow::Present(PixelBuffer& pixels, int x, int y) {
    if (!window_ && !Create(composited_)) return false;
    Display* d = display_.get();
    int width = pixels.Width(), height = pixels.Height();
    if (width != width_ || height != height_ || x != x_ || y != y_) {
        XMoveResizeWindow(d, window_, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
        x_ = x;
        y_ = y;
        width_ = width;
        height_ = height;
    }
    if (!composited_) Unpremultiply(pixels.Data(), width, height, pixels.Stride());
    std::vector<ShapeRect> input = AlphaShape(pixels.Data(), width, height, pixels.Stride(), 1);
    static_assert(sizeof(ShapeRect) == sizeof(XRectangle));
    XserverRegion region = XFixesCreateRegion(d, reinterpret_cast<XRectangle*>(input.data()), static_cast<int>(input.size()));
    XFixesSetWindowShapeRegion(d, window_, ShapeInput, 0, 0, region);
    if (!composited_) {
        std::vector<ShapeRect> bounding = AlphaShape(pixels.Data(), width, height, pixels.Stride(), 128);
        XShapeCombineRectangles(d, window_, ShapeBounding, 0, 0, reinterpret_cast<XRectangle*>(bounding.data()),
                                static_cast<int>(bounding.size()), ShapeSet, YXBanded);
    }
    XFixesDestroyRegion(d, region);
    if (!mapped_) {
        XMapRaised(d, window_);
        mapped_ = true;
    } else {
        XRaiseWindow(d, window_);
    }
    last_ = &pixels;
    return pixels.Put(window_);
}

void LayeredWindow::Hide() {
    if (window_ && mapped_) XUnmapWindow(display_.get(), window_);
    mapped_ = false;
    last_ = nullptr;
}

void LayeredWindow::OnXEvent(XEvent& event) {
    if (event.type == Expose) {
        if (event.xexpose.count == 0 && last_ && mapped_ && last_->Width() == width_ && last_->Height() == height_)
            last_->Put(window_);
        return;
    }
    if (owner_) owner_->OnXEvent(event);
}

void SetWindowTitle(XDisplay& display, Window window, const std::string& title) {
    Display* d = display.get();
    XStoreName(d, window, title.c_str());
    XChangeProperty(d, window, display.Intern("_NET_WM_NAME"), display.Intern("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
}

void SetWindowType(XDisplay& display, Window window, const char* type) {
    ::Atom atom = display.Intern(type);
    XChangeProperty(display.get(), window, display.Intern("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&atom), 1);
}

void SetWindowClass(XDisplay& display, Window window) {
    XClassHint hint;
    char name[] = "quillaven";
    char className[] = "Quillaven";
    hint.res_name = name;
    hint.res_class = className;
    XSetClassHint(display.get(), window, &hint);
    long pid = ::getpid();
    XChangeProperty(display.get(), window, display.Intern("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
}

void SetWindowIcon(XDisplay& display, Window window, const std::vector<unsigned long>& icon) {
    if (icon.empty()) return;
    XChangeProperty(display.get(), window, display.Intern("_NET_WM_ICON"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(icon.data()), static_cast<int>(icon.size()));
}

void SetThemeVariant(XDisplay& display, Window window, bool dark) {
    const char* variant = dark ? "dark" : "light";
    XChangeProperty(display.get(), window, display.Intern("_GTK_THEME_VARIANT"), display.Intern("UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(variant), static_cast<int>(std::strlen(variant)));
}

void ActivateWindow(XDisplay& display, Window window, Time time) {
    Display* d = display.get();
    XChangeProperty(d, window, display.Intern("_NET_WM_USER_TIME"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&time), 1);
    if (display.HasWindowManager()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = display.Intern("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 1;  // a normal application
        event.xclient.data.l[1] = static_cast<long>(time);
        XSendEvent(d, display.Root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        XRaiseWindow(d, window);
        XDisplay::ErrorTrap trap(display);  // refused while the window is not yet viewable
        XSetInputFocus(d, window, RevertToParent, time);
        trap.Failed();
    }
}

Window CreateManagedWindow(XDisplay& display, int x, int y, int width, int height, const std::string& title,
                           const char* type, long eventMask) {
    Display* d = display.get();
    XSetWindowAttributes attributes{};
    attributes.event_mask = eventMask;
    attributes.background_pixmap = None;  // no flash of a background before the first frame
    attributes.bit_gravity = NorthWestGravity;
    Window window = XCreateWindow(d, display.Root(), x, y, static_cast<unsigned>(std::max(width, 1)),
                                  static_cast<unsigned>(std::max(height, 1)), 0, CopyFromParent, InputOutput,
                                  CopyFromParent, CWEventMask | CWBackPixmap | CWBitGravity, &attributes);
    if (!window) return 0;
    SetWindowTitle(display, window, title);
    SetWindowClass(display, window);
    SetWindowType(display, window, type);
    ::Atom protocols[2] = {display.Intern("WM_DELETE_WINDOW"), display.Intern("_NET_WM_PING")};
    XSetWMProtocols(d, window, protocols, 2);
    XSizeHints hints{};
    hints.flags = PPosition | PSize;
    hints.x = x;
    hints.y = y;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(d, window, &hints);
    return window;
}

void SetMinimumSize(XDisplay& display, Window window, int width, int height) {
    XSizeHints hints{};
    long supplied = 0;
    XGetWMNormalHints(display.get(), window, &hints, &supplied);
    hints.flags |= PMinSize;
    hints.min_width = width;
    hints.min_height = height;
    XSetWMNormalHints(display.get(), window, &hints);
}

bool HandleWindowProtocols(XDisplay& display, XEvent& event, bool& closeRequested) {
    closeRequested = false;
    if (event.type != ClientMessage || event.xclient.message_type != display.Intern("WM_PROTOCOLS")) return false;
    ::Atom protocol = static_cast<::Atom>(event.xclient.data.l[0]);
    if (protocol == display.Intern("WM_DELETE_WINDOW")) {
        closeRequested = true;
    } else if (protocol == display.Intern("_NET_WM_PING")) {
        XEvent reply = event;
        reply.xclient.window = display.Root();
        XSendEvent(display.get(), display.Root(), False, SubstructureNotifyMask | SubstructureRedirectMask, &reply);
    }
    return true;
}
