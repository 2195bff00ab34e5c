// A question with Yes and No in a small dialog drawn by the kit. No is the default:
// Enter answers the focused button, Escape or closing the window answers No.
#pragma once

#include <functional>
#include <string>

#include "platform/x11/desktop.h"
#include "platform/x11/event_loop.h"
#include "ui/surfaces.h"

class MessageBox : public XEventHandler {
public:
    MessageBox(XDisplay& display, EventLoop& loop, DesktopWatch& desktop);
    ~MessageBox() override;

    // Replaces a question already open (which then counts as No).
    void Ask(const std::string& caption, const std::string& text, std::function<void(bool yes)> answered);
    bool Open() const { return window_ != 0; }
    Window WindowId() const { return window_; }
    void Answer(bool yes);
    void Repaint();

    void OnXEvent(XEvent& event) override;

    static constexpr double kWidth = 420, kHeight = 150;

private:
    int ButtonAt(double x, double y) const;  // 0 Yes, 1 No, −1 none

    XDisplay& display_;
    EventLoop& loop_;
    DesktopWatch& desktop_;
    WindowSurface surface_;
    Window window_ = 0;
    std::string text_;
    std::function<void(bool)> answered_;
    double scale_ = 1;
    int width_ = 1, height_ = 1;
    int focused_ = 1;
    int hovered_ = -1;
};
