#include "shell/jobs_panel.h"

#include <X11/cursorfont.h>

#include <algorithm>
#include <cmath>

#include "ui/icons.h"

namespace {

using namespace jobs_panel;

constexpr int kAnimationTimer = 1;
constexpr size_t kMaxShownRows = 6;                 // more live cards push out a finished one
constexpr int64_t kSucceededStayMs = 6000;
constexpr int64_t kFailedStayMs = 10000;
constexpr int64_t kIndeterminatePeriodMs = 1600;

bool IsFinal(int32_t state) { return state >= kJobSucceeded; }

}  // namespace

double jobs_panel::CardLeft(double appear) { return 16 + 56 * (1 - EaseOutCubic(appear)); }

JobsPanel::JobsPanel(XDisplay& display, EventLoop& loop, DesktopWatch& desktop,
                     std::function<void(const std::string&)> showInFolder)
    : MessageTarget(loop),
      display_(display),
      desktop_(desktop),
      showInFolder_(std::move(showInFolder)),
      window_(display, loop, this, "Quillaven jobs", "_NET_WM_WINDOW_TYPE_NOTIFICATION"),
      surface_(display) {}

JobsPanel::~JobsPanel() {
    surface_.Release();
    if (handCursor_) XFreeCursor(display_.get(), handCursor_);
    if (arrowCursor_) XFreeCursor(display_.get(), arrowCursor_);
}

bool JobsPanel::Create() {
    handCursor_ = XCreateFontCursor(display_.get(), XC_hand2);
    arrowCursor_ = XCreateFontCursor(display_.get(), XC_left_ptr);
    window_.SetCursor(arrowCursor_);
    return window_.Create(desktop_.Composited());
}

void JobsPanel::OnCompositorChanged() {
    window_.SetComposited(desktop_.Composited());
    handShown_ = false;
    if (!rows_.empty()) Present(MonotonicMs());
}

void JobsPanel::Add(std::shared_ptr<Job> job, int x, int y) {
    if (rows_.empty()) {
        scale_ = desktop_.Scale();
        ScreenRect work = desktop_.WorkAreaNear(x, y);
        width_ = static_cast<int>(std::ceil(kWindowWidth * scale_));
        height_ = static_cast<int>(std::ceil(kWindowHeight * scale_));
        originX_ = work.Right() - static_cast<int>(std::trunc(370 * scale_));
        originY_ = work.Bottom() - static_cast<int>(std::trunc(512 * scale_));
    }
    JobRow row;
    row.job = std::move(job);
    rows_.push_back(std::move(row));
    size_t live = std::count_if(rows_.begin(), rows_.end(), [](const JobRow& r) { return !r.dismissed; });
    if (live > kMaxShownRows) {
        for (JobRow& r : rows_) {
            if (!r.dismissed && IsFinal(r.job->state.load())) {
                r.dismissed = true;
                break;
            }
        }
    }
    if (timerPeriod_ == 0) lastTick_ = MonotonicMs() - kFastMs;
    Present(MonotonicMs());
    SetTimerPeriod(kFastMs);
}

void JobsPanel::Refresh() {
    if (rows_.empty()) return;
    if (timerPeriod_ == 0) lastTick_ = MonotonicMs() - kFastMs;
    SetTimerPeriod(kFastMs);
}

std::vector<std::shared_ptr<Job>> JobsPanel::ActiveJobs() const {
    std::vector<std::shared_ptr<Job>> active;
    for (const JobRow& row : rows_)
        if (row.job->state.load() <= kJobRunning) active.push_back(row.job);
    return active;
}

void JobsPanel::SetTimerPeriod(uint32_t period) {
    if (period == timerPeriod_ && (period == 0 || Loop().TimerRunning(this, kAnimationTimer))) return;
    timerPeriod_ = period;
    if (period == 0)
        Loop().KillTimer(this, kAnimationTimer);
    else
        Loop().SetTimer(this, kAnimationTimer, period);
}

void JobsPanel::OnTimer(int id) {
    if (id == kAnimationTimer) Tick(MonotonicMs());
}

void JobsPanel::Tick(int64_t nowMs) {
    double dt = std::clamp(static_cast<double>(nowMs - lastTick_) / 1000.0, 0.001, 0.1);
    lastTick_ = nowMs;
    bool moving = false, following = false;
    size_t n = rows_.size();
    auto approach = [&](double& value, double target, double rate) {
        double next = Approach(value, target, dt, rate);
        if (next != target) moving = true;
        value = next;
    };
    for (size_t i = 0; i < n; ++i) {
        JobRow& row = rows_[i];
        int32_t state = row.job->state.load();
        if (IsFinal(state)) {
            if (row.finishedAt == 0) row.finishedAt = nowMs;
            int64_t stay = state == kJobSucceeded ? kSucceededStayMs : kFailedStayMs;
            if (static_cast<int>(i) != hoveredRow_ && nowMs - row.finishedAt > stay) row.dismissed = true;
        } else {
            following = true;
        }
        approach(row.appear, row.dismissed ? 0 : 1, row.dismissed ? 16 : 12);
        double targetY = kBottomTop - static_cast<double>(n - i) * kCardPitch;
        if (row.y < 0)
            row.y = targetY;
        else
            approach(row.y, targetY, 14);
        float progress = row.job->progress.load();
        if (progress >= 0) approach(row.shownProgress, progress, 9);
        else if (state == kJobRunning) moving = true;  // the indeterminate bar slides
        bool hovered = static_cast<int>(i) == hoveredRow_;
        approach(row.hover, hovered ? 1 : 0, 20);
        approach(row.buttonHover, hovered && hoverOnButton_ ? 1 : 0, 20);
    }
    std::erase_if(rows_, [](const JobRow& row) { return row.dismissed && row.appear <= 0.01; });
    if (hoveredRow_ >= static_cast<int>(rows_.size())) hoveredRow_ = -1;
    if (rows_.empty()) {
        window_.Hide();
        SetTimerPeriod(0);
        surface_.Release();
        hoveredRow_ = -1;
        return;
    }
    Present(nowMs);
    SetTimerPeriod(moving ? kFastMs : following ? kFollowMs : kSlowMs);
}

void JobsPanel::Present(int64_t nowMs) {
    cairo_t* cr = surface_.Begin(window_, width_, height_);
    if (!cr) return;  // the frame is skipped
    cairo_scale(cr, scale_, scale_);
    Draw(cr, nowMs);
    surface_.Present(window_, originX_, originY_);
}

void JobsPanel::Draw(cairo_t* cr, int64_t nowMs) {
    for (const JobRow& row : rows_) {
        if (row.y < 0) continue;
        cairo_save(cr);
        cairo_translate(cr, CardLeft(row.appear), row.y);
        DrawCard(cr, row, nowMs);
        cairo_restore(cr);
    }
}

std::string JobsPanel::StatusLine(const JobRow& row) const {
    const Job& job = *row.job;
    switch (job.state.load()) {
        case kJobQueued:
            return job.subtitle + " \u00b7 Queued";
        case kJobRunning: {
            float progress = job.progress.load();
            if (progress < 0) return job.subtitle + " \u00b7 Working\u2026";
            return job.subtitle + " \u00b7 " + std::to_string(static_cast<int>(std::lround(row.shownProgress * 100))) + "%";
        }
        case kJobSucceeded:
            return row.hover > 0.5 ? "Show in folder" : job.status;
        case kJobFailed:
            return job.status;
        default:
            return "Cancelled";
    }
}

void JobsPanel::DrawCard(cairo_t* cr, const JobRow& row, int64_t nowMs) {
    const Theme& theme = CurrentTheme();
    Kit& kit = Kit::Get();
    double o = std::min(1.0, 1.2 * row.appear);
    RectF card{0, 0, kCardWidth, kCardHeight};
    DrawShadow(cr, card, 8, o);
    FillRoundedRect(cr, card, 8, theme.flyoutBackground, o);
    if (row.hover > 0.01) {
        Color overlay = theme.dark ? Color{1, 1, 1, static_cast<float>(0.04 * row.hover)}
                                   : Color{0, 0, 0, static_cast<float>(0.025 * row.hover)};
        FillRoundedRect(cr, card, 8, overlay, o);
    }
    StrokeRoundedRect(cr, RectF{0.5, 0.5, kCardWidth - 1, kCardHeight - 1}, 7.5, 1, theme.flyoutStroke, o);

    int32_t state = row.job->state.load();
    char16_t glyph = state == kJobSucceeded ? kIconCheckMark
                     : state == kJobFailed  ? kIconError
                     : state == kJobCancelled ? kIconCancel
                                              : row.job->glyph;
    Color glyphColor = state == kJobSucceeded  ? theme.success
                       : state == kJobFailed   ? theme.error
                       : state == kJobCancelled ? theme.textSecondary
                                                : theme.accentText;
    DrawIcon(cr, glyph, RectF::FromEdges(12, 12, 40, 34), glyphColor, o);

    kit.DrawText(cr, row.job->title, kit.Format(14, 600), RectF::FromEdges(48, 12, 296, 33), WithAlpha(theme.textPrimary, static_cast<float>(o)));
    Color statusColor = state == kJobFailed ? theme.error : theme.textSecondary;
    kit.DrawText(cr, StatusLine(row), kit.Format(12), RectF::FromEdges(48, 33, 324, 51), WithAlpha(statusColor, static_cast<float>(o)));

    if (state <= kJobRunning) {
        float progress = row.job->progress.load();
        double phase = static_cast<double>(nowMs % kIndeterminatePeriodMs) / static_cast<double>(kIndeterminatePeriodMs);
        DrawProgressBar(cr, RectF::FromEdges(48, 56, 324, 62), progress < 0 ? -1 : row.shownProgress, phase, o);
    }
    if (row.hover > 0.01) {
        FillRoundedRect(cr, RectF::FromEdges(302, 10, 330, 38), 4, theme.controlFillHover, o * row.buttonHover);
        Color glyphTone = Mix(theme.textSecondary, theme.textPrimary, static_cast<float>(row.buttonHover));
        DrawIcon(cr, kIconCancel, RectF::FromEdges(310, 18, 322, 30), glyphTone, o * row.hover);
    }
}

int JobsPanel::HitTest(double x, double y, bool& onButton) const {
    onButton = false;
    for (size_t i = 0; i < rows_.size(); ++i) {
        const JobRow& row = rows_[i];
        if (row.dismissed || row.y < 0) continue;
        double left = CardLeft(row.appear);
        if (x < left || x >= left + kCardWidth || y < row.y || y >= row.y + kCardHeight) continue;
        onButton = std::abs(x - (left + kButtonCentreX)) <= kButtonReach && std::abs(y - (row.y + kButtonCentreY)) <= kButtonReach;
        return static_cast<int>(i);
    }
    return -1;
}

void JobsPanel::PointerAt(double x, double y) {
    bool onButton = false;
    int row = HitTest(x, y, onButton);
    bool hand = row >= 0;
    if (hand != handShown_) {
        window_.SetCursor(hand ? handCursor_ : arrowCursor_);
        handShown_ = hand;
    }
    if (row != hoveredRow_ || onButton != hoverOnButton_) {
        hoveredRow_ = row;
        hoverOnButton_ = onButton;
        Refresh();
    }
}

void JobsPanel::Click(double x, double y) {
    bool onButton = false;
    int index = HitTest(x, y, onButton);
    if (index < 0) return;
    JobRow& row = rows_[static_cast<size_t>(index)];
    int32_t state = row.job->state.load();
    if (onButton) {
        if (state <= kJobRunning)
            JobRunner::Cancel(*row.job);
        else
            row.dismissed = true;
    } else if (state == kJobSucceeded) {
        if (!row.job->outputs.empty() && showInFolder_) showInFolder_(row.job->outputs.front());
        row.dismissed = true;
    } else if (state > kJobSucceeded) {
        row.dismissed = true;
    }
    Refresh();
}

void JobsPanel::OnXEvent(XEvent& event) {
    switch (event.type) {
        case MotionNotify:
            display_.NoteTime(event.xmotion.time);
            PointerAt(event.xmotion.x / scale_, event.xmotion.y / scale_);
            break;
        case EnterNotify:
            PointerAt(event.xcrossing.x / scale_, event.xcrossing.y / scale_);
            break;
        case LeaveNotify:
            if (hoveredRow_ != -1 || hoverOnButton_) {
                hoveredRow_ = -1;
                hoverOnButton_ = false;
                Refresh();
            }
            break;
        case ButtonRelease:
            display_.NoteTime(event.xbutton.time);
            if (event.xbutton.button == Button1) Click(event.xbutton.x / scale_, event.xbutton.y / scale_);
            break;
        default:
            break;
    }
}
