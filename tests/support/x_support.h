// Desktop tests: a private virtual X server per test, input injected with XTest, the
// pixels of the screen read back, and PNG screenshots kept as artefacts under build/.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class EventLoop;

namespace testing_support {

// Xvfb on a display number it picks itself (-displayfd), with a 32-bit visual (Composite).
// DISPLAY is set to it for the test's process and the programs it starts.
class XServer {
public:
    explicit XServer(const std::string& screen = "1280x800x24");
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool Ok() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }
    pid_t Pid() const { return pid_; }
    void Kill();  // the display goes away under its clients

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A connection of the test's own: injects input and reads pixels.
class TestInput {
public:
    explicit TestInput(const std::string& display);
    ~TestInput();
    Display* get() const { return display_; }
    void MoveTo(int x, int y);
    void Press(unsigned button);
    void Release(unsigned button);
    void Click(int x, int y, unsigned button = 1);
    void Key(unsigned long keysym, bool shift = false);
    // 0xRRGGBB of a screen pixel.
    uint32_t PixelAt(int x, int y);
    // Writes the screen (or a part of it) as PNG.
    bool Screenshot(const std::string& path, int x = 0, int y = 0, int width = 0, int height = 0);
    // Top-level windows (children of the root) that are mapped, with their names.
    struct WindowInfo {
        Window id;
        std::string name;
        int x, y, width, height;
        int depth;
    };
    std::vector<WindowInfo> MappedWindows();

private:
    Display* display_ = nullptr;
};

// Runs the loop until `done` holds or `timeoutMs` passes; returns `done()`.
bool PumpUntil(EventLoop& loop, const std::function<bool()>& done, int timeoutMs = 10000);
void PumpFor(EventLoop& loop, int ms);

// Where screenshots go: <build>/screenshots/<name>.png.
std::string ArtefactPath(const std::string& name);

// Colour distance: the largest channel difference.
int ColorDistance(uint32_t a, uint32_t b);

}  // namespace testing_support
