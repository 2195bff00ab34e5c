// One connection to the X server: its atoms, the 32-bit visual for translucent windows,
// and error handlers that never end the process (a vanished window is normal).
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

class XDisplay {
public:
    // Nothing when the display cannot be opened (no DISPLAY, server gone).
    static std::unique_ptr<XDisplay> Open(const char* name = nullptr);
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    Display* get() const { return display_; }
    int Screen() const { return screen_; }
    Window Root() const { return root_; }
    int Width() const;
    int Height() const;
    ::Atom Intern(const char* name);  // interned once, then cached

    // The 32-bit TrueColor visual with alpha, when the server has one.
    Visual* ArgbVisual() const { return argbVisual_; }
    Colormap ArgbColormap() const { return argbColormap_; }
    bool HasShm() const { return hasShm_; }
    int XFixesEventBase() const { return xfixesEventBase_; }  // -1 without XFixes
    int RandrEventBase() const { return randrEventBase_; }    // -1 without XRandR

    // The window manager's running (_NET_SUPPORTING_WM_CHECK points at a live window).
    bool HasWindowManager();
    // The owner of a selection named with the screen number ("_NET_WM_CM_S%d"), or None.
    Window SelectionOwner(const char* nameWithScreen);
    // A property of up to `maxItems` 32-bit items (longs), or of bytes for format 8.
    std::vector<long> CardinalProperty(Window window, const char* name, ::Atom type, size_t maxItems);
    std::string ByteProperty(Window window, const char* name, ::Atom type, size_t maxBytes);
    // The last server time seen in an event (for focus and selections); CurrentTime before any.
    Time LastTime() const { return lastTime_; }
    void NoteTime(Time time) {
        if (time != CurrentTime) lastTime_ = time;
    }

    // Runs when the connection breaks; it should end the process after its orderly work
    // (Xlib exits when it returns).
    void SetLostHandler(std::function<void()> handler);

    // Counts protocol errors of this connection from here on (XSync first): a scope that
    // asks whether its requests failed.
    class ErrorTrap {
    public:
        explicit ErrorTrap(XDisplay& display);
        ~ErrorTrap();
        bool Failed();  // syncs and reports whether an error arrived since construction
    private:
        XDisplay& display_;
        unsigned long before_;
    };

private:
    XDisplay() = default;

    Display* display_ = nullptr;
    int screen_ = 0;
    Window root_ = 0;
    Visual* argbVisual_ = nullptr;
    Colormap argbColormap_ = 0;
    bool hasShm_ = false;
    int xfixesEventBase_ = -1;
    int randrEventBase_ = -1;
    Time lastTime_ = CurrentTime;
    std::unordered_map<std::string, ::Atom> atoms_;
};

// Errors counted per connection by the process-wide handler.
unsigned long XErrorCount(Display* display);
