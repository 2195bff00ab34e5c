#include "shell/tray_menu.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>

#include "ui/icons.h"

namespace {

using namespace tray_menu;

constexpr int kGrabTimer = 1;
constexpr int kGrabRetryMs = 25;
// The tray's click carries no timestamp and the panel may still hold its grab for a
// moment: the menu keeps trying this long before it gives up and closes.
constexpr int kGrabPatienceMs = 250;

}  // namespace

TrayMenu::TrayMenu(XDisplay& display, EventLoop& loop, DesktopWatch& desktop)
    : MessageTarget(loop),
      display_(display),
      desktop_(desktop),
      window_(display, loop, this, "Quillaven", "_NET_WM_WINDOW_TYPE_POPUP_MENU"),
      surface_(display) {}

TrayMenu::~TrayMenu() {
    if (grabbed_) {
        XUngrabPointer(display_.get(), CurrentTime);
        XUngrabKeyboard(display_.get(), CurrentTime);
    }
}

void TrayMenu::OnCompositorChanged() {
    bool shown = window_.Visible();
    window_.SetComposited(desktop_.Composited());
    if (shown) {
        grabbed_ = false;
        Present();
        Grab();
    }
}

double TrayMenu::ItemTop(size_t index) const {
    double y = kPadding;
    for (size_t i = 0; i < index && i < items_.size(); ++i) y += items_[i].id == 0 ? kSeparatorHeight : kItemHeight;
    return y;
}

double TrayMenu::Height() const { return ItemTop(items_.size()) + kPadding; }

void TrayMenu::Show(std::vector<TrayMenuItem> items, int x, int y, std::function<void(int)> chosen,
                    std::function<void(int, int, Time)> outsideClick) {
    if (window_.Visible()) Close(0);
    items_ = std::move(items);
    chosen_ = std::move(chosen);
    outsideClick_ = std::move(outsideClick);
    highlighted_ = -1;
    pressedInside_ = false;
    scale_ = desktop_.Scale();
    Kit& kit = Kit::Get();
    width_ = kMinWidth;
    for (const TrayMenuItem& item : items_)
        width_ = std::max(width_, kit.MeasureText(item.text, kit.Format(14, item.isDefault ? 600 : 400)) + 40 + 24 + 2 * kPadding);
    // The whole window holds the menu and its shadow margin; it opens toward the inside of
    // the work area from the point, above it near the bottom edge.
    ScreenRect work = desktop_.WorkAreaNear(x, y);
    int w = static_cast<int>(std::ceil((width_ + 2 * kMargin) * scale_));
    int h = static_cast<int>(std::ceil((Height() + 2 * kMargin) * scale_));
    int margin = static_cast<int>(kMargin * scale_);
    originX_ = x - margin;
    originY_ = y - margin;
    if (originX_ + w > work.Right()) originX_ = x - w + margin;
    if (originY_ + h > work.Bottom()) originY_ = y - h + margin;
    originX_ = std::clamp(originX_, work.x - margin, std::max(work.x - margin, work.Right() - w + margin));
    originY_ = std::clamp(originY_, work.y - margin, std::max(work.y - margin, work.Bottom() - h + margin));
    Present();
    grabUntil_ = MonotonicMs() + kGrabPatienceMs;
    if (!Grab()) Loop().SetTimer(this, kGrabTimer, kGrabRetryMs);
}

bool TrayMenu::Grab() {
    Display* d = display_.get();
    Window w = window_.Id();
    int pointer = XGrabPointer(d, w, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask,
                               GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    int keyboard = XGrabKeyboard(d, w, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    grabbed_ = pointer == GrabSuccess && keyboard == GrabSuccess;
    if (!grabbed_) {
        if (pointer == GrabSuccess) XUngrabPointer(d, CurrentTime);
        if (keyboard == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
    }
    return grabbed_;
}

void TrayMenu::OnTimer(int id) {
    if (id != kGrabTimer) return;
    if (!window_.Visible() || Grab()) {
        Loop().KillTimer(this, kGrabTimer);
        return;
    }
    if (MonotonicMs() >= grabUntil_) {
        Loop().KillTimer(this, kGrabTimer);
        Close(0);  // a menu without the grab could never be dismissed by a click elsewhere
    }
}

void TrayMenu::Close(int id) {
    Loop().KillTimer(this, kGrabTimer);
    if (grabbed_) {
        XUngrabPointer(display_.get(), CurrentTime);
        XUngrabKeyboard(display_.get(), CurrentTime);
        grabbed_ = false;
    }
    window_.Hide();
    surface_.Release();
    auto chosen = std::move(chosen_);
    chosen_ = {};
    outsideClick_ = {};
    if (chosen) chosen(id);
}

void TrayMenu::Present() {
    int w = static_cast<int>(std::ceil((width_ + 2 * kMargin) * scale_));
    int h = static_cast<int>(std::ceil((Height() + 2 * kMargin) * scale_));
    cairo_t* cr = surface_.Begin(window_, w, h);
    if (!cr) return;
    cairo_scale(cr, scale_, scale_);
    cairo_translate(cr, kMargin, kMargin);
    const Theme& theme = CurrentTheme();
    Kit& kit = Kit::Get();
    RectF menu{0, 0, width_, Height()};
    DrawShadow(cr, menu, 8, 1);
    FillRoundedRect(cr, menu, 8, theme.flyoutBackground);
    StrokeRoundedRect(cr, RectF{0.5, 0.5, width_ - 1, Height() - 1}, 7.5, 1, theme.flyoutStroke);
    for (size_t i = 0; i < items_.size(); ++i) {
        const TrayMenuItem& item = items_[i];
        double top = ItemTop(i);
        if (item.id == 0) {
            cairo_rectangle(cr, 0, top + kSeparatorHeight / 2 - 0.5, width_, 1);
            SetSource(cr, theme.divider);
            cairo_fill(cr);
            continue;
        }
        RectF row{kPadding, top, width_ - 2 * kPadding, kItemHeight};
        if (static_cast<int>(i) == highlighted_) FillRoundedRect(cr, row, 4, theme.dark ? Color{1, 1, 1, 0.084f} : Color{0, 0, 0, 0.037f});
        if (item.checked) DrawIcon(cr, kIconCheckMark, RectF{row.x + 12, top + 10, 16, 16}, theme.textPrimary);
        kit.DrawText(cr, item.text, kit.Format(14, item.isDefault ? 600 : 400), RectF::FromEdges(row.x + 40, top, row.Right() - 12, top + kItemHeight),
                     theme.textPrimary);
    }
    surface_.Present(window_, originX_, originY_);
}

int TrayMenu::ItemAt(double x, double y) const {
    if (x < kPadding || x >= width_ - kPadding) return -1;
    for (size_t i = 0; i < items_.size(); ++i) {
        double top = ItemTop(i);
        double height = items_[i].id == 0 ? kSeparatorHeight : kItemHeight;
        if (y >= top && y < top + height) return items_[i].id == 0 ? -1 : static_cast<int>(i);
    }
    return -1;
}

void TrayMenu::Step(int direction) {
    if (items_.empty()) return;
    int count = static_cast<int>(items_.size());
    int index = highlighted_;
    for (int tries = 0; tries < count; ++tries) {
        index = index < 0 ? (direction > 0 ? 0 : count - 1) : (index + direction + count) % count;
        if (items_[static_cast<size_t>(index)].id != 0) break;
    }
    highlighted_ = index;
    Present();
}

void TrayMenu::OnXEvent(XEvent& event) {
    if (!window_.Visible()) return;
    // Window coordinates to the menu's DIPs (the menu sits kMargin inside its window).
    auto toMenu = [&](int px, int py, double& x, double& y) {
        x = px / scale_ - kMargin;
        y = py / scale_ - kMargin;
    };
    double x = 0, y = 0;
    switch (event.type) {
        case MotionNotify: {
            toMenu(event.xmotion.x, event.xmotion.y, x, y);
            int item = ItemAt(x, y);
            if (item != highlighted_) {
                highlighted_ = item;
                Present();
            }
            break;
        }
        case LeaveNotify:
            if (highlighted_ != -1) {
                highlighted_ = -1;
                Present();
            }
            break;
        case ButtonPress: {
            display_.NoteTime(event.xbutton.time);
            toMenu(event.xbutton.x, event.xbutton.y, x, y);
            pressedInside_ = x >= 0 && y >= 0 && x < width_ && y < Height();
            if (!pressedInside_) {
                auto outside = outsideClick_;
                int rootX = event.xbutton.x_root, rootY = event.xbutton.y_root;
                Time time = event.xbutton.time;
                Close(0);
                if (outside) outside(rootX, rootY, time);
            }
            break;
        }
        case ButtonRelease: {
            display_.NoteTime(event.xbutton.time);
            toMenu(event.xbutton.x, event.xbutton.y, x, y);
            int item = ItemAt(x, y);
            // The release of the click that opened the menu lands here too: only a press
            // inside the menu makes a choice.
            if (pressedInside_ && item >= 0) Close(items_[static_cast<size_t>(item)].id);
            pressedInside_ = false;
            break;
        }
        case KeyPress: {
            KeySym key = XLookupKeysym(&event.xkey, 0);
            if (key == XK_Escape) Close(0);
            else if (key == XK_Down || key == XK_Tab) Step(1);
            else if (key == XK_Up || key == XK_ISO_Left_Tab) Step(-1);
            else if ((key == XK_Return || key == XK_KP_Enter || key == XK_space) && highlighted_ >= 0)
                Close(items_[static_cast<size_t>(highlighted_)].id);
            break;
        }
        default:
            break;
    }
}
