#include "platform/x11/xembed_tray.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr long kSystemTrayRequestDock = 0;
constexpr int kDefaultIconSide = 24;  // the tray resizes us to its own size
constexpr unsigned long kXEmbedVersion = 0;
constexpr unsigned long kXEmbedMapped = 1;

}  // namespace

XEmbedTrayIcon::XEmbedTrayIcon(XDisplay& display, EventLoop& loop) : display_(display), loop_(loop), pixels_(display) {}

XEmbedTrayIcon::~XEmbedTrayIcon() { Remove(); }

void XEmbedTrayIcon::SetIcon(std::function<std::vector<uint32_t>(int)> render) {
    render_ = std::move(render);
    if (window_) Paint();
}

void XEmbedTrayIcon::Remove() {
    if (!window_) return;
    loop_.RemoveWindow(window_);
    XDestroyWindow(display_.get(), window_);
    XFlush(display_.get());
    window_ = 0;
    pixels_.Release();
}

bool XEmbedTrayIcon::Dock() {
    Remove();
    Window tray = display_.SelectionOwner("_NET_SYSTEM_TRAY_S%d");
    if (!tray) return false;
    Display* d = display_.get();
    // A tray that offers a 32-bit visual composes our alpha; otherwise we fill our square.
    std::vector<long> visualId = display_.CardinalProperty(tray, "_NET_SYSTEM_TRAY_VISUAL", XA_VISUALID, 1);
    Visual* visual = nullptr;
    if (!visualId.empty() && display_.ArgbVisual() && XVisualIDFromVisual(display_.ArgbVisual()) == static_cast<VisualID>(visualId[0]))
        visual = display_.ArgbVisual();
    argb_ = visual != nullptr;
    XSetWindowAttributes attributes{};
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;
    unsigned long mask = CWEventMask | CWBorderPixel | CWBackPixel;
    if (argb_) {
        attributes.colormap = display_.ArgbColormap();
        mask |= CWColormap;
        window_ = XCreateWindow(d, display_.Root(), 0, 0, kDefaultIconSide, kDefaultIconSide, 0, 32, InputOutput, visual, mask,
                                &attributes);
    } else {
        window_ = XCreateWindow(d, display_.Root(), 0, 0, kDefaultIconSide, kDefaultIconSide, 0, CopyFromParent, InputOutput,
                                CopyFromParent, mask, &attributes);
    }
    if (!window_) return false;
    width_ = height_ = kDefaultIconSide;
    SetWindowTitle(display_, window_, "Quillaven");
    SetWindowClass(display_, window_);
    unsigned long info[2] = {kXEmbedVersion, kXEmbedMapped};
    XChangeProperty(d, window_, display_.Intern("_XEMBED_INFO"), display_.Intern("_XEMBED_INFO"), 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(info), 2);
    loop_.AddWindow(window_, this);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = tray;
    event.xclient.message_type = display_.Intern("_NET_SYSTEM_TRAY_OPCODE");
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(display_.LastTime());
    event.xclient.data.l[1] = kSystemTrayRequestDock;
    event.xclient.data.l[2] = static_cast<long>(window_);
    XDisplay::ErrorTrap trap(display_);
    XSendEvent(d, tray, False, NoEventMask, &event);
    if (trap.Failed()) {  // the tray went away between the lookup and the request
        Remove();
        return false;
    }
    return true;
}

void XEmbedTrayIcon::Paint() {
    if (!window_ || !render_ || width_ < 1 || height_ < 1) return;
    Display* d = display_.get();
    Visual* visual = argb_ ? display_.ArgbVisual() : DefaultVisual(d, display_.Screen());
    if (!pixels_.Resize(width_, height_, argb_ ? 32 : DefaultDepth(d, display_.Screen()), visual)) return;
    int side = std::min(width_, height_);
    std::vector<uint32_t> icon = render_(side);
    uint8_t* data = pixels_.Data();
    std::memset(data, 0, static_cast<size_t>(pixels_.Stride()) * static_cast<size_t>(height_));
    int left = (width_ - side) / 2, top = (height_ - side) / 2;
    for (int y = 0; y < side && static_cast<size_t>(y) * static_cast<size_t>(side) < icon.size(); ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(top + y) * static_cast<size_t>(pixels_.Stride()));
        for (int x = 0; x < side; ++x) {
            uint32_t p = icon[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)];
            uint32_t a = p >> 24;
            if (argb_) {  // premultiplied for the compositing tray
                auto c = [&](int shift) { return (((p >> shift) & 0xFF) * a + 127) / 255; };
                row[left + x] = a << 24 | c(16) << 16 | c(8) << 8 | c(0);
            } else {  // over a neutral grey: the tray's own colour is unknown
                auto c = [&](int shift) { return (((p >> shift) & 0xFF) * a + 0x80 * (255 - a) + 127) / 255; };
                row[left + x] = 0xFF000000u | c(16) << 16 | c(8) << 8 | c(0);
            }
        }
    }
    pixels_.Put(window_);
}

void XEmbedTrayIcon::OnXEvent(XEvent& event) {
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) Paint();
            break;
        case ConfigureNotify:
            if (event.xconfigure.width != width_ || event.xconfigure.height != height_) {
                width_ = event.xconfigure.width;
                height_ = event.xconfigure.height;
                Paint();
            }
            break;
        case ButtonPress:
            display_.NoteTime(event.xbutton.time);
            if (event.xbutton.button == Button1 && onActivate)
                onActivate(event.xbutton.x_root, event.xbutton.y_root, event.xbutton.time);
            else if (event.xbutton.button == Button3 && onContextMenu)
                onContextMenu(event.xbutton.x_root, event.xbutton.y_root, event.xbutton.time);
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) {
                loop_.RemoveWindow(window_);
                window_ = 0;
            }
            break;
        default:
            break;
    }
}
