#include "platform/x11/display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace {

std::mutex errorMutex;
std::map<Display*, unsigned long> errorCounts;
std::map<Display*, std::function<void()>> lostHandlers;

int CountError(Display* display, XErrorEvent*) {
    std::lock_guard lock(errorMutex);
    ++errorCounts[display];
    return 0;
}

void ConnectionLost(Display* display, void*) {
    std::function<void()> handler;
    {
        std::lock_guard lock(errorMutex);
        auto found = lostHandlers.find(display);
        if (found != lostHandlers.end()) handler = found->second;
    }
    if (handler) handler();
}

// Xlib's default I/O error handler prints and exits before the exit handler runs.
int QuietIoError(Display*) { return 0; }

}  // namespace

unsigned long XErrorCount(Display* display) {
    std::lock_guard lock(errorMutex);
    auto found = errorCounts.find(display);
    return found == errorCounts.end() ? 0 : found->second;
}

std::unique_ptr<XDisplay> XDisplay::Open(const char* name) {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();  // the drag watcher has a connection of its own on another thread
        XSetErrorHandler(CountError);
        XSetIOErrorHandler(QuietIoError);
    });
    Display* display = XOpenDisplay(name);
    if (!display) return nullptr;
    std::unique_ptr<XDisplay> result(new XDisplay());
    result->display_ = display;
    result->screen_ = DefaultScreen(display);
    result->root_ = RootWindow(display, result->screen_);
    XSetIOErrorExitHandler(display, ConnectionLost, nullptr);

    XVisualInfo info;
    if (XMatchVisualInfo(display, result->screen_, 32, TrueColor, &info)) {
        result->argbVisual_ = info.visual;
        result->argbColormap_ = XCreateColormap(display, result->root_, info.visual, AllocNone);
    }
    result->hasShm_ = XShmQueryExtension(display);
    int errorBase = 0, eventBase = 0;
    if (XFixesQueryExtension(display, &eventBase, &errorBase)) result->xfixesEventBase_ = eventBase;
    if (XRRQueryExtension(display, &eventBase, &errorBase)) result->randrEventBase_ = eventBase;
    return result;
}

XDisplay::~XDisplay() {
    {
        std::lock_guard lock(errorMutex);
        lostHandlers.erase(display_);
        errorCounts.erase(display_);
    }
    if (argbColormap_) XFreeColormap(display_, argbColormap_);
    XCloseDisplay(display_);
}

int XDisplay::Width() const { return DisplayWidth(display_, screen_); }
int XDisplay::Height() const { return DisplayHeight(display_, screen_); }

::Atom XDisplay::Intern(const char* name) {
    auto found = atoms_.find(name);
    if (found != atoms_.end()) return found->second;
    ::Atom atom = XInternAtom(display_, name, False);
    atoms_.emplace(name, atom);
    return atom;
}

void XDisplay::SetLostHandler(std::function<void()> handler) {
    std::lock_guard lock(errorMutex);
    lostHandlers[display_] = std::move(handler);
}

Window XDisplay::SelectionOwner(const char* nameWithScreen) {
    char name[64];
    std::snprintf(name, sizeof name, nameWithScreen, screen_);
    return XGetSelectionOwner(display_, Intern(name));
}

std::vector<long> XDisplay::CardinalProperty(Window window, const char* name, ::Atom type, size_t maxItems) {
    std::vector<long> values;
    ::Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, window, Intern(name), 0, static_cast<long>(maxItems), False, type, &actualType,
                           &format, &count, &after, &data) == Success &&
        data) {
        if (format == 32 && (type == AnyPropertyType || actualType == type)) {
            const long* items = reinterpret_cast<const long*>(data);
            values.assign(items, items + count);
        }
        XFree(data);
    }
    return values;
}

std::string XDisplay::ByteProperty(Window window, const char* name, ::Atom type, size_t maxBytes) {
    std::string bytes;
    ::Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    // The length is in 32-bit units.
    if (XGetWindowProperty(display_, window, Intern(name), 0, static_cast<long>((maxBytes + 3) / 4), False, type,
                           &actualType, &format, &count, &after, &data) == Success &&
        data) {
        if (format == 8 && (type == AnyPropertyType || actualType == type)) bytes.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return bytes;
}

bool XDisplay::HasWindowManager() {
    std::vector<long> check = CardinalProperty(root_, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1);
    if (check.empty()) return false;
    std::vector<long> self = CardinalProperty(static_cast<Window>(check[0]), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1);
    return !self.empty() && self[0] == check[0];
}

XDisplay::ErrorTrap::ErrorTrap(XDisplay& display) : display_(display) {
    XSync(display_.get(), False);
    before_ = XErrorCount(display_.get());
}

XDisplay::ErrorTrap::~ErrorTrap() = default;

bool XDisplay::ErrorTrap::Failed() {
    XSync(display_.get(), False);
    return XErrorCount(display_.get()) != before_;
}
