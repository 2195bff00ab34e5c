#include "support/x_support.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/x11/event_loop.h"

namespace testing_support {

XServer::XServer(const std::string& screen) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        // The host under test blocks its end-of-session signals; the server must not inherit that.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(fds[1], 3);  // -displayfd writes the number here (dup2 clears close-on-exec)
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setsid();
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "+extension", "Composite",
                 "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::poll(&p, 1, 200) <= 0) continue;
        char c = 0;
        ssize_t got = ::read(fds[0], &c, 1);
        if (got <= 0 || c == '\n') break;
        number.push_back(c);
    }
    ::close(fds[0]);
    if (number.empty()) {
        Kill();
        return;
    }
    name_ = ":" + number;
    ::setenv("DISPLAY", name_.c_str(), 1);
}

XServer::~XServer() { Kill(); }

void XServer::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);  // nothing of the server is worth an orderly end
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

TestInput::TestInput(const std::string& display) { display_ = XOpenDisplay(display.c_str()); }

TestInput::~TestInput() {
    if (display_) XCloseDisplay(display_);
}

void TestInput::MoveTo(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XSync(display_, False);
}

void TestInput::Press(unsigned button) {
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XSync(display_, False);
}

void TestInput::Release(unsigned button) {
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void TestInput::Click(int x, int y, unsigned button) {
    MoveTo(x, y);
    Press(button);
    Release(button);
}

void TestInput::Key(unsigned long keysym, bool shift) {
    KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    KeyCode code = XKeysymToKeycode(display_, keysym);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
    XSync(display_, False);
}

uint32_t TestInput::PixelAt(int x, int y) {
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFF;
    uint32_t pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel;
}

bool TestInput::Screenshot(const std::string& path, int x, int y, int width, int height) {
    int screen = DefaultScreen(display_);
    int screenWidth = DisplayWidth(display_, screen), screenHeight = DisplayHeight(display_, screen);
    if (width <= 0) width = screenWidth - x;
    if (height <= 0) height = screenHeight - y;
    // Keep the part that lies on the screen (a pop-up's shadow margin may not).
    if (x < 0) { width += x; x = 0; }
    if (y < 0) { height += y; y = 0; }
    width = std::min(width, screenWidth - x);
    height = std::min(height, screenHeight - y);
    if (width <= 0 || height <= 0) return false;
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            reinterpret_cast<uint32_t*>(data + row * stride)[column] = static_cast<uint32_t>(XGetPixel(image, column, row)) & 0xFFFFFF;
    cairo_surface_mark_dirty(surface);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    XDestroyImage(image);
    return ok;
}

std::vector<TestInput::WindowInfo> TestInput::MappedWindows() {
    std::vector<WindowInfo> windows;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XSync(display_, False);
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) return windows;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, children[i], &attributes) || attributes.map_state != IsViewable) continue;
        char* name = nullptr;
        std::string text;
        if (XFetchName(display_, children[i], &name) && name) {
            text = name;
            XFree(name);
        }
        windows.push_back({children[i], text, attributes.x, attributes.y, attributes.width, attributes.height, attributes.depth});
    }
    if (children) XFree(children);
    return windows;
}

bool PumpUntil(EventLoop& loop, const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        loop.RunOnce(10);
    }
    return true;
}

void PumpFor(EventLoop& loop, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) loop.RunOnce(5);
}

std::string ArtefactPath(const std::string& name) { return std::string(QUILL_BUILD_DIR) + "/screenshots/" + name + ".png"; }

int ColorDistance(uint32_t a, uint32_t b) {
    int best = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int d = std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
        best = std::max(best, d);
    }
    return best;
}

}  // namespace testing_support
