// The tray icon's menu, drawn by the kit in a translucent pop-up at the pointer. It grabs
// pointer and keyboard while open: a click elsewhere or Escape closes it without a choice.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/x11/desktop.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/windows.h"
#include "ui/kit.h"
#include "ui/surfaces.h"

struct TrayMenuItem {
    int id = 0;  // 0 for a separator
    std::string text;
    bool checked = false;
    bool isDefault = false;  // drawn in bold
};

namespace tray_menu {
inline constexpr double kItemHeight = 36, kSeparatorHeight = 9, kPadding = 4, kMinWidth = 220, kMargin = 12;
}

class TrayMenu : public MessageTarget, public XEventHandler {
public:
    TrayMenu(XDisplay& display, EventLoop& loop, DesktopWatch& desktop);
    ~TrayMenu() override;

    // Opens at the screen point; `chosen` gets the item's id, or 0 when closed without one.
    // `outsideClick` sees a press that closed the menu (the tray uses it for double clicks).
    void Show(std::vector<TrayMenuItem> items, int x, int y, std::function<void(int id)> chosen,
              std::function<void(int x, int y, Time time)> outsideClick = {});
    void Close(int id);
    bool Visible() const { return window_.Visible(); }
    Window WindowId() const { return window_.Id(); }
    void OnCompositorChanged();

    // Layout in DIPs (tests use it to find the items).
    double Width() const { return width_; }
    double Height() const;
    double ItemTop(size_t index) const;
    const std::vector<TrayMenuItem>& Items() const { return items_; }
    int OriginX() const { return originX_; }
    int OriginY() const { return originY_; }
    double Scale() const { return scale_; }
    int Highlighted() const { return highlighted_; }

    void OnTimer(int id) override;
    void OnXEvent(XEvent& event) override;

private:
    void Present();
    bool Grab();
    int ItemAt(double x, double y) const;
    void Step(int direction);

    XDisplay& display_;
    DesktopWatch& desktop_;
    LayeredWindow window_;
    LayeredSurface surface_;
    std::vector<TrayMenuItem> items_;
    std::function<void(int)> chosen_;
    std::function<void(int, int, Time)> outsideClick_;
    double scale_ = 1, width_ = tray_menu::kMinWidth;
    int originX_ = 0, originY_ = 0;
    int highlighted_ = -1;
    bool grabbed_ = false;
    int64_t grabUntil_ = 0;
    bool pressedInside_ = false;
};
