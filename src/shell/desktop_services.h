// The host's services beyond X: the tray item and notifications on the session bus, the
// file manager, the appearance portal, the update check, and the Shift-drag watcher and
// radial menu. Each is a small interface the host uses from its user-interface thread;
// any of them may be missing, and the host then does without it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EventLoop;

// The session bus connection: the host's loop polls its descriptor.
class BusConnection {
public:
    virtual ~BusConnection() = default;
    virtual int Descriptor() = 0;
    virtual short Events() = 0;
    virtual uint64_t TimeoutUsec() = 0;  // absolute CLOCK_MONOTONIC, UINT64_MAX for none
    virtual void Process() = 0;
};

// One icon size as straight-alpha 0xAARRGGBB values.
struct IconPixmap {
    int width = 0, height = 0;
    std::vector<uint32_t> argb;
};

class TrayService {
public:
    virtual ~TrayService() = default;
    virtual bool Register(const std::string& iconName, const std::vector<IconPixmap>& pixmaps,
                          const std::string& tooltip) = 0;
    virtual bool Registered() const = 0;
    std::function<void(int x, int y)> onActivate;
    std::function<void(int x, int y)> onContextMenu;
    std::function<void(bool present)> onWatcherChanged;
};

class NotificationService {
public:
    virtual ~NotificationService() = default;
    virtual void Show(const std::string& title, const std::string& text, int expireMs) = 0;
    std::function<void()> onClicked;  // the current balloon's default action
};

class AppearanceService {
public:
    virtual ~AppearanceService() = default;
    virtual std::optional<bool> Dark() = 0;
    virtual std::optional<uint32_t> AccentRgb() = 0;
    virtual std::optional<std::string> InterfaceFont() { return std::nullopt; }
    std::function<void()> onChanged;
};

class UpdateService {
public:
    virtual ~UpdateService() = default;
    virtual std::string Website() const = 0;  // empty: the check is off in this build
    // Runs one check on a thread of its own; `done` gets the version found (empty on any
    // failure) on that thread.
    virtual void Start(std::function<void(std::string version)> done) = 0;
    virtual void CancelAndWait() = 0;  // at shutdown
    // The host handled the last result: another check may start.
    virtual void ResultHandled() {}
};

class DragWatcherService {
public:
    virtual ~DragWatcherService() = default;
    // `started` and `ended` may be called on the watcher's thread; they post to the host.
    virtual void Configure(std::function<void(int x, int y)> started, std::function<void()> ended) = 0;
    virtual bool Enable(bool on) = 0;
    virtual void Stop() = 0;
};

class RadialMenuService {
public:
    virtual ~RadialMenuService() = default;
    virtual void ShowAt(int x, int y) = 0;
    virtual void DragEnded() = 0;
    virtual void Hide() = 0;
    // Files handed over by "Open with": false when the menu cannot open for them.
    virtual bool OpenWith(const std::vector<std::string>& paths) = 0;
};

struct DesktopServices {
    std::unique_ptr<BusConnection> bus;
    std::unique_ptr<TrayService> tray;
    std::unique_ptr<NotificationService> notifier;
    std::unique_ptr<AppearanceService> appearance;
    std::unique_ptr<UpdateService> update;
    std::unique_ptr<DragWatcherService> dragWatcher;
    std::unique_ptr<RadialMenuService> radialMenu;
    // Opens the file's folder with the file selected.
    std::function<void(const std::string& path)> showInFolder;
    // Opens a web address in the user's browser.
    std::function<void(const std::string& url)> openUrl;
};

// What this build has of them.
DesktopServices CreateDesktopServices(EventLoop& loop);
