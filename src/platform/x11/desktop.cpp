#include "platform/x11/desktop.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>

namespace {

constexpr size_t kMaxResourceBytes = 1 << 20;  // the resource database is a few KiB
constexpr int kDefaultDoubleClickMs = 400;
constexpr int kDefaultDragThreshold = 8;
constexpr size_t kMaxClientWindows = 4096;  // for dock struts; desktops hold far fewer

}  // namespace

DesktopWatch::DesktopWatch(XDisplay& display, EventLoop& loop) : display_(display), loop_(loop) {
    XSelectInput(display_.get(), display_.Root(), PropertyChangeMask | StructureNotifyMask);
    WatchOwner("_XSETTINGS_S%d");
    WatchOwner("_NET_WM_CM_S%d");
    WatchOwner("_NET_SYSTEM_TRAY_S%d");
    if (display_.RandrEventBase() >= 0) XRRSelectInput(display_.get(), display_.Root(), RRScreenChangeNotifyMask);
    composited_ = display_.SelectionOwner("_NET_WM_CM_S%d") != 0;
    trayOwner_ = display_.SelectionOwner("_NET_SYSTEM_TRAY_S%d");
    ReadSettings();
    ReadResources();
    filter_ = loop_.AddFilter([this](XEvent& event) { return OnEvent(event); });
}

DesktopWatch::~DesktopWatch() { loop_.RemoveFilter(filter_); }

void DesktopWatch::WatchOwner(const char* selection) {
    if (display_.XFixesEventBase() < 0) return;
    char name[64];
    std::snprintf(name, sizeof name, selection, display_.Screen());
    XFixesSelectSelectionInput(display_.get(), display_.Root(), display_.Intern(name),
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
}

std::optional<std::string> DesktopWatch::String(const char* name) const {
    auto found = settings_.find(name);
    if (found == settings_.end()) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&found->second)) return *text;
    return std::nullopt;
}

std::optional<int32_t> DesktopWatch::Integer(const char* name) const {
    auto found = settings_.find(name);
    if (found == settings_.end()) return std::nullopt;
    if (const auto* value = std::get_if<int32_t>(&found->second)) return *value;
    return std::nullopt;
}

int DesktopWatch::DoubleClickMs() const {
    auto value = Integer("Net/DoubleClickTime");
    return value && *value > 0 && *value <= 5000 ? *value : kDefaultDoubleClickMs;
}

int DesktopWatch::DragThreshold() const {
    auto value = Integer("Net/DndDragThreshold");
    return value && *value > 0 && *value <= 1000 ? *value : kDefaultDragThreshold;
}

void DesktopWatch::ReadSettings() {
    settingsOwner_ = display_.SelectionOwner("_XSETTINGS_S%d");
    settings_.clear();
    if (!settingsOwner_) return;
    XSelectInput(display_.get(), settingsOwner_, PropertyChangeMask | StructureNotifyMask);
    std::string bytes = display_.ByteProperty(settingsOwner_, "_XSETTINGS_SETTINGS",
                                              display_.Intern("_XSETTINGS_SETTINGS"), kMaxXSettingsBytes);
    if (auto parsed = ParseXSettings(bytes)) settings_ = std::move(*parsed);
}

void DesktopWatch::ReadResources() {
    std::string resources = display_.ByteProperty(display_.Root(), "RESOURCE_MANAGER", XA_STRING, kMaxResourceBytes);
    scale_ = ParseXftDpi(resources).value_or(96.0) / 96.0;
}

bool DesktopWatch::OnEvent(XEvent& event) {
    if (display_.XFixesEventBase() >= 0 && event.type == display_.XFixesEventBase() + XFixesSelectionNotify) {
        auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
        char name[64];
        std::snprintf(name, sizeof name, "_XSETTINGS_S%d", display_.Screen());
        if (notify.selection == display_.Intern(name)) {
            ReadSettings();
            if (onSettingsChanged) onSettingsChanged();
            return true;
        }
        std::snprintf(name, sizeof name, "_NET_WM_CM_S%d", display_.Screen());
        if (notify.selection == display_.Intern(name)) {
            bool now = notify.owner != 0;
            if (now != composited_) {
                composited_ = now;
                if (onCompositorChanged) onCompositorChanged();
            }
            return true;
        }
        std::snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", display_.Screen());
        if (notify.selection == display_.Intern(name)) {
            trayOwner_ = notify.owner;
            if (onTrayChanged) onTrayChanged();
            return true;
        }
        return false;
    }
    if (event.type == PropertyNotify) {
        display_.NoteTime(event.xproperty.time);
        if (event.xproperty.window == display_.Root() && event.xproperty.atom == XA_RESOURCE_MANAGER) {
            double before = scale_;
            ReadResources();
            if (before != scale_ && onSettingsChanged) onSettingsChanged();
            return true;
        }
        if (settingsOwner_ && event.xproperty.window == settingsOwner_ &&
            event.xproperty.atom == display_.Intern("_XSETTINGS_SETTINGS")) {
            ReadSettings();
            if (onSettingsChanged) onSettingsChanged();
            return true;
        }
        return event.xproperty.window == display_.Root();
    }
    return false;
}

std::vector<ScreenRect> DesktopWatch::Monitors() {
    std::vector<ScreenRect> monitors;
    if (display_.RandrEventBase() >= 0) {
        int count = 0;
        XRRMonitorInfo* info = XRRGetMonitors(display_.get(), display_.Root(), True, &count);
        for (int i = 0; info && i < count; ++i)
            if (info[i].width > 0 && info[i].height > 0)
                monitors.push_back({info[i].x, info[i].y, info[i].width, info[i].height});
        if (info) XRRFreeMonitors(info);
    }
    if (monitors.empty()) monitors.push_back({0, 0, display_.Width(), display_.Height()});
    return monitors;
}

ScreenRect DesktopWatch::MonitorNear(int x, int y) {
    std::vector<ScreenRect> monitors = Monitors();
    return monitors[NearestMonitor(monitors, x, y)];
}

ScreenRect DesktopWatch::WorkAreaNear(int x, int y) {
    ScreenRect monitor = MonitorNear(x, y);
    std::optional<ScreenRect> workArea;
    std::vector<long> desktop = display_.CardinalProperty(display_.Root(), "_NET_CURRENT_DESKTOP", XA_CARDINAL, 1);
    std::vector<long> areas = display_.CardinalProperty(display_.Root(), "_NET_WORKAREA", XA_CARDINAL, 4 * 64);
    size_t index = desktop.empty() ? 0 : static_cast<size_t>(desktop[0]);
    if (areas.size() >= 4 * (index + 1))
        workArea = ScreenRect{static_cast<int>(areas[4 * index]), static_cast<int>(areas[4 * index + 1]),
                              static_cast<int>(areas[4 * index + 2]), static_cast<int>(areas[4 * index + 3])};
    std::vector<Strut> struts;
    for (long client : display_.CardinalProperty(display_.Root(), "_NET_CLIENT_LIST", XA_WINDOW, kMaxClientWindows)) {
        std::vector<long> v = display_.CardinalProperty(static_cast<Window>(client), "_NET_WM_STRUT_PARTIAL", XA_CARDINAL, 12);
        if (v.size() == 12) struts.push_back({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]});
    }
    return WorkAreaFor(monitor, workArea, struts, display_.Width(), display_.Height());
}

bool DesktopWatch::PointerPosition(int& x, int& y) {
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    return XQueryPointer(display_.get(), display_.Root(), &root, &child, &x, &y, &wx, &wy, &mask) == True;
}
