#include "shell/message_box.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <cmath>

#include "platform/x11/windows.h"
#include "ui/kit.h"

namespace {

constexpr double kButtonWidth = 96, kButtonHeight = 32, kButtonGap = 8, kEdge = 24;

RectF ButtonRect(int index) {
    double right = MessageBox::kWidth - kEdge - (index == 0 ? kButtonWidth + kButtonGap : 0);
    return RectF{right - kButtonWidth, MessageBox::kHeight - kEdge - kButtonHeight, kButtonWidth, kButtonHeight};
}

}  // namespace

MessageBox::MessageBox(XDisplay& display, EventLoop& loop, DesktopWatch& desktop)
    : display_(display), loop_(loop), desktop_(desktop), surface_(display) {}

MessageBox::~MessageBox() {
    if (window_) {
        loop_.RemoveWindow(window_);
        XDestroyWindow(display_.get(), window_);
    }
}

void MessageBox::Ask(const std::string& caption, const std::string& text, std::function<void(bool)> answered) {
    if (window_) Answer(false);
    text_ = text;
    answered_ = std::move(answered);
    focused_ = 1;
    hovered_ = -1;
    scale_ = desktop_.Scale();
    width_ = static_cast<int>(std::ceil(kWidth * scale_));
    height_ = static_cast<int>(std::ceil(kHeight * scale_));
    int px = 0, py = 0;
    desktop_.PointerPosition(px, py);
    ScreenRect work = desktop_.WorkAreaNear(px, py);
    window_ = CreateManagedWindow(display_, work.x + (work.width - width_) / 2, work.y + (work.height - height_) / 2, width_,
                                  height_, caption, "_NET_WM_WINDOW_TYPE_DIALOG",
                                  ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                                      StructureNotifyMask | FocusChangeMask);
    if (!window_) {
        Answer(false);
        return;
    }
    SetMinimumSize(display_, window_, width_, height_);
    SetThemeVariant(display_, window_, CurrentTheme().dark);
    loop_.AddWindow(window_, this);
    XMapRaised(display_.get(), window_);  // focus follows at MapNotify, once it is viewable
}

void MessageBox::Answer(bool yes) {
    if (window_) {
        loop_.RemoveWindow(window_);
        XDestroyWindow(display_.get(), window_);
        window_ = 0;
        surface_.Release();
    }
    auto answered = std::move(answered_);
    answered_ = {};
    if (answered) answered(yes);
}

int MessageBox::ButtonAt(double x, double y) const {
    for (int i = 0; i < 2; ++i)
        if (ButtonRect(i).Contains(x, y)) return i;
    return -1;
}

void MessageBox::Repaint() {
    if (!window_) return;
    const Theme& theme = CurrentTheme();
    cairo_t* cr = surface_.Begin(window_, width_, height_, scale_, theme.windowBackground);
    if (!cr) return;
    Kit& kit = Kit::Get();
    kit.DrawText(cr, text_, kit.Format(14, 400, kAlignLeading, false, true), RectF{kEdge, kEdge, kWidth - 2 * kEdge, 60},
                 theme.textPrimary);
    const char* labels[2] = {"Yes", "No"};
    for (int i = 0; i < 2; ++i) {
        RectF r = ButtonRect(i);
        bool isDefault = i == 1;
        if (isDefault) {
            FillRoundedRect(cr, r, 4, hovered_ == i ? theme.accentHover : theme.accent);
        } else {
            FillRoundedRect(cr, r, 4, hovered_ == i ? theme.controlFillHover : theme.controlFill);
            StrokeRoundedRect(cr, RectF{r.x + 0.5, r.y + 0.5, r.width - 1, r.height - 1}, 4, 1, theme.controlStroke);
        }
        kit.DrawText(cr, labels[i], kit.Format(14, 400, kAlignCentre), r, isDefault ? theme.textOnAccent : theme.textPrimary);
        if (focused_ == i) DrawFocusRing(cr, r, 4);
    }
    surface_.End();
}

void MessageBox::OnXEvent(XEvent& event) {
    bool close = false;
    if (HandleWindowProtocols(display_, event, close)) {
        if (close) Answer(false);
        return;
    }
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) Repaint();
            break;
        case MapNotify:
            Repaint();
            ActivateWindow(display_, window_, display_.LastTime());
            break;
        case ConfigureNotify:
            if (event.xconfigure.width != width_ || event.xconfigure.height != height_) {
                width_ = event.xconfigure.width;
                height_ = event.xconfigure.height;
                Repaint();
            }
            break;
        case MotionNotify: {
            int hovered = ButtonAt(event.xmotion.x / scale_, event.xmotion.y / scale_);
            if (hovered != hovered_) {
                hovered_ = hovered;
                Repaint();
            }
            break;
        }
        case ButtonRelease:
            display_.NoteTime(event.xbutton.time);
            if (event.xbutton.button == Button1) {
                int button = ButtonAt(event.xbutton.x / scale_, event.xbutton.y / scale_);
                if (button >= 0) Answer(button == 0);
            }
            break;
        case KeyPress: {
            display_.NoteTime(event.xkey.time);
            KeySym key = XLookupKeysym(&event.xkey, 0);
            if (key == XK_Escape) {
                Answer(false);
            } else if (key == XK_Return || key == XK_KP_Enter || key == XK_space) {
                Answer(focused_ == 0);
            } else if (key == XK_Tab || key == XK_ISO_Left_Tab || key == XK_Left || key == XK_Right) {
                focused_ = 1 - focused_;
                Repaint();
            }
            break;
        }
        default:
            break;
    }
}
