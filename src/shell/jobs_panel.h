// The stack of job cards in the bottom-right corner of the monitor where the job was
// asked for: progress while a job runs, its result afterwards, cancel and dismiss on the
// card's button, the output's folder on a click. It shows itself when a job is added and
// hides when the last card has faded out.
#pragma once

#include <cairo.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "job_runner.h"
#include "platform/x11/desktop.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/windows.h"
#include "ui/kit.h"
#include "ui/surfaces.h"

struct JobRow {
    std::shared_ptr<Job> job;
    double appear = 0;
    double y = -1;
    double shownProgress = 0;
    double hover = 0;
    double buttonHover = 0;
    int64_t finishedAt = 0;
    bool dismissed = false;
};

// Geometry in DIPs.
namespace jobs_panel {
inline constexpr double kCardWidth = 340, kCardHeight = 72, kCardPitch = 82, kBottomTop = 508;
inline constexpr double kWindowWidth = 372, kWindowHeight = 514;
inline constexpr double kButtonCentreX = 316, kButtonCentreY = 24, kButtonReach = 14;
inline constexpr uint32_t kFastMs = 16, kFollowMs = 50, kSlowMs = 250;
double CardLeft(double appear);
}  // namespace jobs_panel

class JobsPanel : public MessageTarget, public XEventHandler {
public:
    JobsPanel(XDisplay& display, EventLoop& loop, DesktopWatch& desktop,
              std::function<void(const std::string& path)> showInFolder);
    ~JobsPanel() override;

    bool Create();
    void Add(std::shared_ptr<Job> job, int x, int y);
    void Refresh();
    std::vector<std::shared_ptr<Job>> ActiveJobs() const;
    void OnCompositorChanged();

    // The animation step at `nowMs` (the timer runs it; tests call it with their own clock).
    void Tick(int64_t nowMs);
    // Draws every card into `cr` (DIPs; the caller has scaled it).
    void Draw(cairo_t* cr, int64_t nowMs);

    const std::vector<JobRow>& Rows() const { return rows_; }
    uint32_t TimerPeriod() const { return timerPeriod_; }
    double Scale() const { return scale_; }
    int OriginX() const { return originX_; }
    int OriginY() const { return originY_; }
    bool Visible() const { return window_.Visible(); }
    Window WindowId() const { return window_.Id(); }
    std::string StatusLine(const JobRow& row) const;
    // The row under a point in DIPs (−1 for none) and whether it is on that row's button.
    int HitTest(double x, double y, bool& onButton) const;

    void OnTimer(int id) override;
    void OnXEvent(XEvent& event) override;

private:
    void SetTimerPeriod(uint32_t period);
    void Present(int64_t nowMs);
    void DrawCard(cairo_t* cr, const JobRow& row, int64_t nowMs);
    void PointerAt(double x, double y);
    void Click(double x, double y);

    XDisplay& display_;
    DesktopWatch& desktop_;
    std::function<void(const std::string&)> showInFolder_;
    LayeredWindow window_;
    LayeredSurface surface_;
    std::vector<JobRow> rows_;
    double scale_ = 1;
    int originX_ = 0, originY_ = 0, width_ = 1, height_ = 1;
    int hoveredRow_ = -1;
    bool hoverOnButton_ = false;
    uint32_t timerPeriod_ = 0;
    int64_t lastTick_ = 0;
    Cursor handCursor_ = 0, arrowCursor_ = 0;
    bool handShown_ = false;
};
