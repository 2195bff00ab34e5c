#include "shell/settings_window.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>

#include "platform/x11/windows.h"
#include "settings.h"
#include "ui/icons.h"

namespace {

using namespace settings_layout;

constexpr int kAnimationTimer = 1;
constexpr uint32_t kAnimationMs = 10;
constexpr double kKnobRate = 20;
const char* const kPageNames[2] = {"Performance", "General"};

bool Focusable(const Setting& row) { return row.kind != RowKind::kHeading && row.enabled; }

double Fraction(const Setting& row) {
    if (row.kind == RowKind::kSlider)
        return row.stops.size() > 1 && row.selected >= 0 ? static_cast<double>(row.selected) / static_cast<double>(row.stops.size() - 1) : 0;
    if (row.kind == RowKind::kSwitch) return row.selected == 1 ? 1 : 0;
    return 0;
}

std::vector<unsigned long> WindowIcon() {
    std::vector<unsigned long> icon;
    for (int size : {16, 32, 48}) {
        std::vector<uint32_t> pixels = AppIconPixels(size, CurrentTheme().accent);
        icon.push_back(static_cast<unsigned long>(size));
        icon.push_back(static_cast<unsigned long>(size));
        icon.insert(icon.end(), pixels.begin(), pixels.end());
    }
    return icon;
}

// Choice options laid out from the right edge of the card.
std::vector<RectF> ChoiceRects(const Setting& row, double right, double centreY) {
    Kit& kit = Kit::Get();
    std::vector<double> widths;
    double total = 0;
    for (const std::string& option : row.options) {
        double w = std::max(48.0, std::ceil(kit.MeasureText(option, kit.Format(14)) + 28));
        widths.push_back(w);
        total += w;
    }
    total += 4.0 * static_cast<double>(row.options.empty() ? 0 : row.options.size() - 1);
    std::vector<RectF> rects;
    double x = right - total;
    for (double w : widths) {
        rects.push_back(RectF{x, centreY - 16, w, 32});
        x += w + 4;
    }
    return rects;
}

RectF ButtonRect(const Setting& row, double right, double centreY) {
    Kit& kit = Kit::Get();
    std::string text = row.options.empty() ? std::string() : row.options[0];
    double w = std::max(112.0, std::ceil(kit.MeasureText(text, kit.Format(14)) + 32));
    return RectF{right - w, centreY - 16, w, 32};
}

}  // namespace

SettingsWindow::SettingsWindow(XDisplay& display, EventLoop& loop, DesktopWatch& desktop, SettingsHost& host,
                               bool showUninstall)
    : MessageTarget(loop), display_(display), desktop_(desktop), host_(host), showUninstall_(showUninstall), surface_(display) {}

SettingsWindow::~SettingsWindow() { Close(); }

void SettingsWindow::Build() {
    pages_[0] = BuildPerformanceRows();
    pages_[1] = BuildGeneralRows(host_.UpdatesAvailable(), showUninstall_);
    for (size_t p = 0; p < 2; ++p) shown_[p].assign(pages_[p].size(), 0);
    Refresh();
    for (size_t p = 0; p < 2; ++p)
        for (size_t i = 0; i < pages_[p].size(); ++i) shown_[p][i] = Fraction(pages_[p][i]);
}

void SettingsWindow::Refresh() {
    if (pages_[0].empty()) return;
    SelectLimits(pages_[0], ReadLimits());
    std::vector<Setting>& general = pages_[1];
    general[GeneralRows::kDragGesture].selected = ReadDragGesture() ? 1 : 0;
    general[GeneralRows::kStartAtLogin].selected = IsStartWithWindows() ? 1 : 0;
    general[GeneralRows::kCheckForUpdates].selected = host_.UpdatesAvailable() && ReadCheckForUpdates() ? 1 : 0;
    Animate();
}

void SettingsWindow::Open(Time startupTime) {
    if (window_) {
        XMapRaised(display_.get(), window_);  // restores a minimised window
        ActivateWindow(display_, window_, startupTime != CurrentTime ? startupTime : display_.LastTime());
        return;
    }
    Build();
    scale_ = desktop_.Scale();
    int px = 0, py = 0;
    if (!desktop_.PointerPosition(px, py)) px = py = 0;
    ScreenRect work = desktop_.WorkAreaNear(px, py);
    width_ = static_cast<int>(std::ceil(kClientWidth * scale_));
    height_ = static_cast<int>(std::ceil(kClientHeight * scale_));
    height_ = std::min(height_, work.height - static_cast<int>(std::ceil(48 * scale_)));
    height_ = std::max(height_, static_cast<int>(std::ceil(kMinHeight * scale_)));
    int x = work.x + (work.width - width_) / 2, y = work.y + (work.height - height_) / 2;
    window_ = CreateManagedWindow(display_, x, y, width_, height_, "Quillaven", "_NET_WM_WINDOW_TYPE_NORMAL",
                                  ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                                      LeaveWindowMask | StructureNotifyMask | FocusChangeMask);
    if (!window_) return;  // the host runs on without a settings window
    SetMinimumSize(display_, window_, static_cast<int>(std::ceil(kMinWidth * scale_)),
                   static_cast<int>(std::ceil(kMinHeight * scale_)));
    SetWindowIcon(display_, window_, WindowIcon());
    SetThemeVariant(display_, window_, CurrentTheme().dark);
    Loop().AddWindow(window_, this);
    host_.BeginBusy();
    busy_ = true;
    page_ = 0;
    scroll_ = 0;
    hovered_ = pressed_ = focused_ = hoveredTab_ = -1;
    showFocus_ = false;
    XMapRaised(display_.get(), window_);
    // Focus can be given only once the window is viewable: at its MapNotify.
    activateOnMap_ = true;
    pendingActivation_ = startupTime != CurrentTime ? startupTime : display_.LastTime();
}

void SettingsWindow::Close() {
    if (!window_) return;
    Loop().KillTimer(this, kAnimationTimer);
    Loop().RemoveWindow(window_);
    XDestroyWindow(display_.get(), window_);
    XFlush(display_.get());
    window_ = 0;
    surface_.Release();
    hovered_ = pressed_ = focused_ = hoveredTab_ = -1;
    if (busy_) {
        busy_ = false;
        host_.EndBusy();
    }
}

void SettingsWindow::OnThemeChanged() {
    if (!window_) return;
    SetThemeVariant(display_, window_, CurrentTheme().dark);
    SetWindowIcon(display_, window_, WindowIcon());
    Paint();
}

void SettingsWindow::SelectPage(size_t page) {
    if (page > 1 || page == page_) return;
    page_ = page;
    scroll_ = 0;
    focused_ = -1;
    hovered_ = -1;
    Paint();
}

double SettingsWindow::RowTop(size_t page, size_t index) const {
    double y = 0;
    for (size_t i = 0; i < index && i < pages_[page].size(); ++i)
        y += (pages_[page][i].kind == RowKind::kHeading ? kHeadingHeight : kRowHeight) + kRowGap;
    return y;
}

double SettingsWindow::ContentHeight(size_t page) const { return RowTop(page, pages_[page].size()) + 24; }

void SettingsWindow::ClampScroll() {
    double visible = height_ / scale_ - kContentTop;
    scroll_ = std::clamp(scroll_, 0.0, std::max(0.0, ContentHeight(page_) - visible));
}

RectF SettingsWindow::TabRect(size_t page) const {
    Kit& kit = Kit::Get();
    double x = kSide;
    for (size_t p = 0; p < page; ++p) x += kit.MeasureText(kPageNames[p], kit.Format(14)) + 32 + 8;
    return RectF{x, kTabTop, kit.MeasureText(kPageNames[page], kit.Format(14)) + 32, kTabHeight};
}

RectF SettingsWindow::RowRect(size_t page, size_t index, bool card) const {
    const Setting& row = pages_[page][index];
    double width = width_ / scale_;
    double top = kContentTop + RowTop(page, index) - scroll_;
    double height = row.kind == RowKind::kHeading ? kHeadingHeight : kRowHeight;
    RectF cardRect{kSide, top, width - 2 * kSide, height};
    if (card || row.kind == RowKind::kHeading) return cardRect;
    double right = cardRect.Right() - 16, centreY = top + height / 2;
    switch (row.kind) {
        case RowKind::kSwitch:
            return RectF{right - kSwitchWidth, centreY - kSwitchHeight / 2, kSwitchWidth, kSwitchHeight};
        case RowKind::kSlider:
            return RectF{right - kValueWidth - 12 - kSliderWidth, centreY - 12, kSliderWidth, 24};
        case RowKind::kChoice: {
            std::vector<RectF> rects = ChoiceRects(row, right, centreY);
            return rects.empty() ? cardRect : RectF::FromEdges(rects.front().x, rects.front().y, rects.back().Right(), rects.back().Bottom());
        }
        case RowKind::kButton:
            return ButtonRect(row, right, centreY);
        default:
            return cardRect;
    }
}

double SettingsWindow::SliderStopX(size_t page, size_t index, int32_t stop) const {
    const Setting& row = pages_[page][index];
    RectF track = RowRect(page, index);
    double inner = track.width - 20;  // the knob's centre stays 10 DIPs inside each end
    if (row.stops.size() < 2) return track.x + 10;
    return track.x + 10 + inner * static_cast<double>(stop) / static_cast<double>(row.stops.size() - 1);
}

int32_t SettingsWindow::SliderStopAt(size_t index, double x) const {
    const Setting& row = pages_[page_][index];
    RectF track = RowRect(page_, index);
    if (row.stops.size() < 2) return 0;
    double fraction = std::clamp((x - track.x - 10) / (track.width - 20), 0.0, 1.0);
    return static_cast<int32_t>(std::lround(fraction * static_cast<double>(row.stops.size() - 1)));
}

SettingsWindow::Hit SettingsWindow::HitTest(double x, double y) const {
    Hit hit;
    for (size_t p = 0; p < 2; ++p)
        if (TabRect(p).Contains(x, y)) hit.tab = static_cast<int>(p);
    if (y < kContentTop) return hit;
    for (size_t i = 0; i < pages_[page_].size(); ++i) {
        const Setting& row = pages_[page_][i];
        if (row.kind == RowKind::kHeading || !RowRect(page_, i, true).Contains(x, y)) continue;
        hit.row = static_cast<int>(i);
        RectF control = RowRect(page_, i);
        hit.onControl = control.Contains(x, y);
        if (row.kind == RowKind::kChoice) {
            std::vector<RectF> rects = ChoiceRects(row, RowRect(page_, i, true).Right() - 16, control.y + control.height / 2);
            for (size_t o = 0; o < rects.size(); ++o)
                if (rects[o].Contains(x, y)) hit.option = static_cast<int>(o);
        } else if (row.kind == RowKind::kSlider) {
            hit.option = SliderStopAt(i, x);
        }
        break;
    }
    return hit;
}

void SettingsWindow::Change(size_t index, int32_t value) {
    std::vector<Setting>& rows = pages_[page_];
    Setting& row = rows[index];
    if (!row.enabled) return;
    switch (row.action) {
        case RowAction::kPreset: {
            if (value < 0 || value > 2) return;
            LimitSettings limits = Preset(value);
            WriteLimits(limits);
            host_.UpdateLimits(limits);
            break;
        }
        case RowAction::kLimit: {
            if (row.selected == value) return;
            row.selected = value;
            LimitSettings limits = LimitsFromRows(rows);
            WriteLimits(limits);
            host_.UpdateLimits(limits);
            break;
        }
        case RowAction::kDragGesture:
            host_.SetDragGesture(value == 1);
            break;
        case RowAction::kStartAtLogin:
            SetStartWithWindows(value == 1);
            break;
        case RowAction::kCheckForUpdates:
            host_.SetCheckForUpdates(value == 1);
            break;
        default:
            return;
    }
    Refresh();
}

void SettingsWindow::Activate(size_t index) {
    const Setting& row = pages_[page_][index];
    if (!row.enabled) return;
    if (row.kind == RowKind::kSwitch) {
        Change(index, row.selected == 1 ? 0 : 1);
    } else if (row.kind == RowKind::kButton) {
        if (row.action == RowAction::kCheckNow) host_.CheckForUpdatesNow();
        if (row.action == RowAction::kUninstall) host_.StartUninstaller();
    }
}

void SettingsWindow::StepFocused(int direction) {
    if (focused_ < 0) return;
    size_t index = static_cast<size_t>(focused_);
    const Setting& row = pages_[page_][index];
    if (!row.enabled) return;
    switch (row.kind) {
        case RowKind::kSwitch:
            if (row.selected != (direction > 0 ? 1 : 0)) Change(index, direction > 0 ? 1 : 0);
            break;
        case RowKind::kSlider:
        case RowKind::kChoice: {
            int32_t count = static_cast<int32_t>(row.kind == RowKind::kSlider ? row.stops.size() : row.options.size());
            int32_t next = row.selected < 0 ? (direction > 0 ? 0 : count - 1) : std::clamp(row.selected + direction, 0, count - 1);
            if (next != row.selected) Change(index, next);
            break;
        }
        default:
            break;
    }
}

void SettingsWindow::MoveFocus(int direction) {
    const std::vector<Setting>& rows = pages_[page_];
    int count = static_cast<int>(rows.size());
    int index = focused_;
    for (int tries = 0; tries < count; ++tries) {
        index = index < 0 ? (direction > 0 ? 0 : count - 1) : (index + direction + count) % count;
        if (Focusable(rows[static_cast<size_t>(index)])) {
            focused_ = index;
            showFocus_ = true;
            ScrollIntoView(static_cast<size_t>(index));
            Paint();
            return;
        }
    }
}

void SettingsWindow::ScrollIntoView(size_t index) {
    double top = RowTop(page_, index), bottom = top + kRowHeight;
    double visible = height_ / scale_ - kContentTop;
    if (top - 8 < scroll_) scroll_ = top - 8;
    if (bottom + 8 > scroll_ + visible) scroll_ = bottom + 8 - visible;
    ClampScroll();
}

void SettingsWindow::Animate() {
    if (!window_) return;
    if (!Loop().TimerRunning(this, kAnimationTimer)) {
        lastTick_ = MonotonicMs() - kAnimationMs;
        Loop().SetTimer(this, kAnimationTimer, kAnimationMs);
    }
}

void SettingsWindow::OnTimer(int id) {
    if (id != kAnimationTimer) return;
    int64_t now = MonotonicMs();
    double dt = std::clamp(static_cast<double>(now - lastTick_) / 1000.0, 0.001, 0.05);
    lastTick_ = now;
    bool moving = false;
    for (size_t p = 0; p < 2; ++p) {
        for (size_t i = 0; i < pages_[p].size(); ++i) {
            double target = Fraction(pages_[p][i]);
            shown_[p][i] = Approach(shown_[p][i], target, dt, kKnobRate);
            moving = moving || shown_[p][i] != target;
        }
    }
    Paint();
    if (!moving) Loop().KillTimer(this, kAnimationTimer);
}

void SettingsWindow::Paint() {
    if (!window_) return;
    cairo_t* cr = surface_.Begin(window_, width_, height_, scale_, CurrentTheme().windowBackground);
    if (!cr) return;
    Draw(cr);
    surface_.End();
}

void SettingsWindow::Draw(cairo_t* cr) {
    const Theme& theme = CurrentTheme();
    Kit& kit = Kit::Get();
    double width = width_ / scale_, height = height_ / scale_;
    kit.DrawText(cr, "Settings", kit.Format(28, 600), RectF{kSide, 20, width - 2 * kSide, 44}, theme.textPrimary);
    for (size_t p = 0; p < 2; ++p) {
        RectF tab = TabRect(p);
        if (static_cast<int>(p) == hoveredTab_ && p != page_) FillRoundedRect(cr, tab, 4, theme.controlFillHover);
        kit.DrawText(cr, kPageNames[p], kit.Format(14, p == page_ ? 600 : 400, kAlignCentre), tab,
                     p == page_ ? theme.textPrimary : theme.textSecondary);
        if (p == page_) FillRoundedRect(cr, RectF{tab.x + tab.width / 2 - 8, tab.Bottom() - 3, 16, 3}, 1.5, theme.accent);
    }
    cairo_rectangle(cr, 0, kTabTop + kTabHeight + 4, width, 1);
    SetSource(cr, theme.divider);
    cairo_fill(cr);

    cairo_save(cr);
    cairo_rectangle(cr, 0, kContentTop - 8, width, height - kContentTop + 8);
    cairo_clip(cr);
    for (size_t i = 0; i < pages_[page_].size(); ++i) {
        RectF card = RowRect(page_, i, true);
        if (card.Bottom() < kContentTop - 8 || card.y > height) continue;
        DrawRow(cr, i, card.y);
    }
    cairo_restore(cr);
}

void SettingsWindow::DrawRow(cairo_t* cr, size_t index, double top) {
    const Theme& theme = CurrentTheme();
    Kit& kit = Kit::Get();
    const Setting& row = pages_[page_][index];
    RectF card = RowRect(page_, index, true);
    if (row.kind == RowKind::kHeading) {
        kit.DrawText(cr, row.label, kit.Format(14, 600), RectF{card.x + 4, top + 12, card.width, 28}, theme.textPrimary);
        return;
    }
    bool hovered = static_cast<int>(index) == hovered_ && row.enabled;
    FillRoundedRect(cr, card, 6, hovered ? theme.cardBackgroundSecondary : theme.cardBackground);
    StrokeRoundedRect(cr, RectF{card.x + 0.5, card.y + 0.5, card.width - 1, card.height - 1}, 6, 1, theme.cardStroke);
    RectF control = RowRect(page_, index);
    double textRight = control.x - 16;
    Color labelColor = row.enabled ? theme.textPrimary : theme.textDisabled;
    kit.DrawText(cr, row.label, kit.Format(14), RectF::FromEdges(card.x + 16, top + 12, textRight, top + 34), labelColor);
    kit.DrawText(cr, row.description, kit.Format(12), RectF::FromEdges(card.x + 16, top + 34, textRight, top + 54),
                 row.enabled ? theme.textSecondary : theme.textDisabled);
    double shown = shown_[page_][index];
    bool pressed = static_cast<int>(index) == pressed_;
    switch (row.kind) {
        case RowKind::kSwitch: {
            bool on = row.selected == 1;
            kit.DrawText(cr, on ? "On" : "Off", kit.Format(14, 400, kAlignTrailing),
                         RectF{control.x - 52, control.y - 4, 40, control.height + 8}, labelColor);
            double radius = control.height / 2;
            if (on && row.enabled) {
                FillRoundedRect(cr, control, radius, pressed ? theme.accentPressed : hovered ? theme.accentHover : theme.accent);
            } else {
                FillRoundedRect(cr, control, radius, hovered ? theme.controlFillHover : theme.controlFill);
                StrokeRoundedRect(cr, RectF{control.x + 0.5, control.y + 0.5, control.width - 1, control.height - 1}, radius - 0.5, 1,
                                  row.enabled ? theme.controlStrongStroke : theme.textDisabled);
            }
            double knobX = control.x + radius + shown * (control.width - 2 * radius);
            cairo_arc(cr, knobX, control.y + radius, on ? 6 : 5, 0, 2 * M_PI);
            SetSource(cr, !row.enabled ? theme.textDisabled : on ? theme.textOnAccent : theme.textSecondary);
            cairo_fill(cr);
            break;
        }
        case RowKind::kSlider: {
            double centreY = control.y + control.height / 2;
            double left = control.x + 10, inner = control.width - 20;
            double knobX = left + shown * inner;
            FillRoundedRect(cr, RectF{left, centreY - 2, inner, 4}, 2, theme.controlStrongStroke);
            FillRoundedRect(cr, RectF{left, centreY - 2, knobX - left, 4}, 2, theme.accent);
            cairo_arc(cr, knobX, centreY, 10, 0, 2 * M_PI);
            SetSource(cr, theme.knobFill);
            cairo_fill_preserve(cr);
            SetSource(cr, theme.controlStroke);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
            cairo_arc(cr, knobX, centreY, pressed ? 4 : hovered ? 6 : 5, 0, 2 * M_PI);
            SetSource(cr, theme.accent);
            cairo_fill(cr);
            std::string value = row.selected >= 0 && static_cast<size_t>(row.selected) < row.options.size()
                                    ? row.options[static_cast<size_t>(row.selected)]
                                    : std::string();
            kit.DrawText(cr, value, kit.Format(14, 400, kAlignTrailing),
                         RectF{control.Right() + 12, control.y - 4, kValueWidth, control.height + 8}, labelColor);
            break;
        }
        case RowKind::kChoice: {
            std::vector<RectF> rects = ChoiceRects(row, card.Right() - 16, control.y + control.height / 2);
            for (size_t o = 0; o < rects.size(); ++o) {
                bool selected = static_cast<int32_t>(o) == row.selected;
                if (selected) {
                    FillRoundedRect(cr, rects[o], 4, theme.accent);
                } else {
                    FillRoundedRect(cr, rects[o], 4, theme.controlFill);
                    StrokeRoundedRect(cr, RectF{rects[o].x + 0.5, rects[o].y + 0.5, rects[o].width - 1, rects[o].height - 1}, 4, 1,
                                      theme.controlStroke);
                }
                kit.DrawText(cr, row.options[o], kit.Format(14, 400, kAlignCentre), rects[o],
                             selected ? theme.textOnAccent : labelColor);
            }
            break;
        }
        case RowKind::kButton: {
            FillRoundedRect(cr, control, 4, pressed ? theme.controlFillPressed : hovered ? theme.controlFillHover : theme.controlFill);
            StrokeRoundedRect(cr, RectF{control.x + 0.5, control.y + 0.5, control.width - 1, control.height - 1}, 4, 1,
                              theme.controlStroke);
            kit.DrawText(cr, row.options.empty() ? std::string() : row.options[0], kit.Format(14, 400, kAlignCentre), control,
                         labelColor);
            break;
        }
        default:
            break;
    }
    if (showFocus_ && static_cast<int>(index) == focused_) {
        RectF ring = row.kind == RowKind::kSlider ? RectF{control.x, control.y, control.width + 12 + kValueWidth, control.height} : control;
        DrawFocusRing(cr, ring, row.kind == RowKind::kSwitch ? control.height / 2 : 4);
    }
}

void SettingsWindow::OnXEvent(XEvent& event) {
    bool close = false;
    if (HandleWindowProtocols(display_, event, close)) {
        if (close) Close();
        return;
    }
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) Paint();
            break;
        case MapNotify:
            Paint();
            if (activateOnMap_) {
                activateOnMap_ = false;
                ActivateWindow(display_, window_, pendingActivation_);
            }
            break;
        case ConfigureNotify:
            if (event.xconfigure.width != width_ || event.xconfigure.height != height_) {
                width_ = std::max(1, event.xconfigure.width);
                height_ = std::max(1, event.xconfigure.height);
                ClampScroll();
                Paint();
            }
            break;
        case MotionNotify: {
            display_.NoteTime(event.xmotion.time);
            double x = event.xmotion.x / scale_, y = event.xmotion.y / scale_;
            if (pressed_ >= 0 && pages_[page_][static_cast<size_t>(pressed_)].kind == RowKind::kSlider) {
                Change(static_cast<size_t>(pressed_), SliderStopAt(static_cast<size_t>(pressed_), x));
                break;
            }
            Hit hit = HitTest(x, y);
            if (hit.row != hovered_ || hit.tab != hoveredTab_) {
                hovered_ = hit.row;
                hoveredTab_ = hit.tab;
                Paint();
            }
            break;
        }
        case LeaveNotify:
            if (pressed_ < 0 && (hovered_ != -1 || hoveredTab_ != -1)) {
                hovered_ = hoveredTab_ = -1;
                Paint();
            }
            break;
        case ButtonPress: {
            display_.NoteTime(event.xbutton.time);
            double x = event.xbutton.x / scale_, y = event.xbutton.y / scale_;
            if (event.xbutton.button == Button4 || event.xbutton.button == Button5) {
                scroll_ += event.xbutton.button == Button4 ? -kWheelStep : kWheelStep;
                ClampScroll();
                Paint();
                break;
            }
            if (event.xbutton.button != Button1) break;
            Hit hit = HitTest(x, y);
            if (hit.tab >= 0) {
                SelectPage(static_cast<size_t>(hit.tab));
                break;
            }
            showFocus_ = false;
            if (hit.row < 0 || !pages_[page_][static_cast<size_t>(hit.row)].enabled) break;
            pressed_ = hit.row;
            focused_ = hit.row;
            const Setting& row = pages_[page_][static_cast<size_t>(hit.row)];
            if (row.kind == RowKind::kSlider && hit.onControl) Change(static_cast<size_t>(hit.row), hit.option);
            Paint();
            break;
        }
        case ButtonRelease: {
            display_.NoteTime(event.xbutton.time);
            if (event.xbutton.button != Button1 || pressed_ < 0) break;
            Hit hit = HitTest(event.xbutton.x / scale_, event.xbutton.y / scale_);
            size_t index = static_cast<size_t>(pressed_);
            pressed_ = -1;
            if (hit.row == static_cast<int>(index)) {
                const Setting& row = pages_[page_][index];
                if (row.kind == RowKind::kChoice && hit.option >= 0)
                    Change(index, hit.option);
                else if (row.kind == RowKind::kSwitch || (row.kind == RowKind::kButton && hit.onControl))
                    Activate(index);
            }
            Paint();
            break;
        }
        case KeyPress: {
            display_.NoteTime(event.xkey.time);
            KeySym key = XLookupKeysym(&event.xkey, 0);
            bool shift = (event.xkey.state & ShiftMask) != 0;
            if (key == XK_Escape) {
                Close();
            } else if (key == XK_Tab || key == XK_ISO_Left_Tab) {
                MoveFocus(shift || key == XK_ISO_Left_Tab ? -1 : 1);
            } else if (key == XK_Right || key == XK_Up || key == XK_Left || key == XK_Down) {
                int direction = key == XK_Right || key == XK_Up ? 1 : -1;
                if (focused_ < 0) {
                    SelectPage(direction > 0 ? 1 : 0);
                } else {
                    showFocus_ = true;
                    StepFocused(direction);
                    Paint();
                }
            } else if ((key == XK_space || key == XK_Return || key == XK_KP_Enter) && focused_ >= 0) {
                showFocus_ = true;
                Activate(static_cast<size_t>(focused_));
                Paint();
            }
            break;
        }
        default:
            break;
    }
}
