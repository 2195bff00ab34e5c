// The settings window: two pages of rows ("Performance" and "General") drawn by the kit,
// used with the mouse (click, drag, wheel) and the keyboard (Tab, arrows, Space, Enter,
// Escape). Every change is stored at once and reaches running workers through the host.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "convert/core/limits.h"
#include "platform/x11/desktop.h"
#include "platform/x11/event_loop.h"
#include "shell/settings_rows.h"
#include "ui/kit.h"
#include "ui/surfaces.h"

// What the window asks of the host.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    virtual void SetDragGesture(bool on) = 0;
    virtual void SetCheckForUpdates(bool on) = 0;
    virtual void CheckForUpdatesNow() = 0;
    virtual void UpdateLimits(const LimitSettings& limits) = 0;
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
    virtual void StartUninstaller() = 0;
    virtual bool UpdatesAvailable() const = 0;
};

namespace settings_layout {
inline constexpr double kClientWidth = 700, kClientHeight = 780, kMinWidth = 620, kMinHeight = 420;
inline constexpr double kSide = 32, kContentTop = 124, kHeadingHeight = 40, kRowHeight = 68, kRowGap = 4;
inline constexpr double kTabTop = 72, kTabHeight = 36, kWheelStep = 64;
inline constexpr double kSliderWidth = 240, kValueWidth = 72, kSwitchWidth = 40, kSwitchHeight = 20;
}  // namespace settings_layout

class SettingsWindow : public MessageTarget, public XEventHandler {
public:
    SettingsWindow(XDisplay& display, EventLoop& loop, DesktopWatch& desktop, SettingsHost& host, bool showUninstall);
    ~SettingsWindow() override;

    // Shows the window, creating it when needed, and brings it to the front.
    void Open(Time startupTime = CurrentTime);
    void Close();
    bool IsOpen() const { return window_ != 0; }
    void Refresh();
    void OnThemeChanged();

    // For tests and the frame benchmark.
    Window WindowId() const { return window_; }
    double Scale() const { return scale_; }
    size_t Page() const { return page_; }
    void SelectPage(size_t page);
    const std::vector<Setting>& Rows(size_t page) const { return pages_[page]; }
    // The control of a row in window DIPs (scrolled), the card when `card` is set.
    RectF RowRect(size_t page, size_t index, bool card = false) const;
    RectF TabRect(size_t page) const;
    // The place of a slider stop (window DIPs) on its row's track.
    double SliderStopX(size_t page, size_t index, int32_t stop) const;
    double ScrollOffset() const { return scroll_; }
    int Focused() const { return focused_; }
    void Draw(cairo_t* cr);
    int PixelWidth() const { return width_; }
    int PixelHeight() const { return height_; }

    void OnTimer(int id) override;
    void OnXEvent(XEvent& event) override;

private:
    struct Hit {
        int row = -1;
        int option = -1;  // choice option or slider stop under the point
        bool onControl = false;
        int tab = -1;
    };
    void Build();
    void Paint();
    void Animate();
    Hit HitTest(double x, double y) const;
    double RowTop(size_t page, size_t index) const;  // content DIPs, unscrolled
    double ContentHeight(size_t page) const;
    void ClampScroll();
    void Change(size_t index, int32_t value);
    void Activate(size_t index);
    void MoveFocus(int direction);
    void StepFocused(int direction);
    void ScrollIntoView(size_t index);
    int32_t SliderStopAt(size_t index, double x) const;
    void DrawRow(cairo_t* cr, size_t index, double top);

    XDisplay& display_;
    DesktopWatch& desktop_;
    SettingsHost& host_;
    bool showUninstall_;
    WindowSurface surface_;
    Window window_ = 0;
    double scale_ = 1;
    int width_ = 1, height_ = 1;
    std::vector<Setting> pages_[2];
    std::vector<double> shown_[2];  // animated knob places: slider fraction, switch 0..1
    size_t page_ = 0;
    int hovered_ = -1;
    int hoveredTab_ = -1;
    int pressed_ = -1;
    int focused_ = -1;
    bool showFocus_ = false;
    double scroll_ = 0;
    int64_t lastTick_ = 0;
    bool busy_ = false;
    Time pendingActivation_ = CurrentTime;
    bool activateOnMap_ = false;
};
