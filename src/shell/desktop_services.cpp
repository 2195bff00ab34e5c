#include "shell/desktop_services.h"

#include <sys/wait.h>

#include <thread>

#include "platform/dbus/appearance.h"
#include "platform/dbus/file_manager.h"
#include "platform/dbus/notifications.h"
#include "platform/dbus/session_bus.h"
#include "platform/dbus/tray_item.h"
#include "platform/spawn.h"
#include "shell/update_check.h"

namespace {

// xdg-open in a child of its own; the child is reaped when it ends (it hands the
// request to the desktop at once).
void OpenWithDesktop(const std::string& target) {
    pid_t pid = StartDetached({"xdg-open", target});
    if (pid > 0) {
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    }
}

// The session bus services behind the host's interfaces.
class Bus : public BusConnection {
public:
    explicit Bus(std::unique_ptr<SessionBus> bus) : bus_(std::move(bus)) {}
    int Descriptor() override { return bus_->Descriptor(); }
    short Events() override { return bus_->Events(); }
    uint64_t TimeoutUsec() override { return bus_->TimeoutUsec(); }
    void Process() override { bus_->Process(); }
    SessionBus* get() const { return bus_.get(); }

private:
    std::unique_ptr<SessionBus> bus_;
};

class Tray : public TrayService {
public:
    explicit Tray(SessionBus* bus) : item_(bus) {
        item_.onActivate = [this](int x, int y) {
            if (onActivate) onActivate(x, y);
        };
        item_.onContextMenu = [this](int x, int y) {
            if (onContextMenu) onContextMenu(x, y);
        };
        item_.onWatcherChanged = [this](bool present) {
            if (onWatcherChanged) onWatcherChanged(present);
        };
    }
    bool Register(const std::string& iconName, const std::vector<IconPixmap>& pixmaps, const std::string& tooltip) override {
        TrayIconImage image;
        image.name = iconName;
        for (const IconPixmap& pixmap : pixmaps) image.pixmaps.push_back({pixmap.width, pixmap.height, pixmap.argb});
        return item_.Register(image, tooltip);
    }
    bool Registered() const override { return item_.Registered(); }

private:
    TrayItem item_;
};

class Balloons : public NotificationService {
public:
    explicit Balloons(SessionBus* bus) : notifier_(bus) {
        notifier_.onClicked = [this] {
            if (onClicked) onClicked();
        };
    }
    void Show(const std::string& title, const std::string& text, int expireMs) override { notifier_.Show(title, text, expireMs); }

private:
    Notifier notifier_;
};

class Colours : public AppearanceService {
public:
    explicit Colours(SessionBus* bus) : appearance_(bus) {
        appearance_.onChanged = [this] {
            if (onChanged) onChanged();
        };
    }
    std::optional<bool> Dark() override { return appearance_.Dark(); }
    std::optional<uint32_t> AccentRgb() override { return appearance_.AccentRgb(); }

private:
    Appearance appearance_;
};

class Updates : public UpdateService {
public:
    Updates()
        : checker_(std::make_unique<UpdateChecker>(std::string(ProductWebsite()), [this](std::string version, bool) {
              if (done_) done_(std::move(version));
          })) {}
    std::string Website() const override { return std::string(ProductWebsite()); }
    void Start(std::function<void(std::string)> done) override {
        if (!checker_) return;
        done_ = std::move(done);
        if (!checker_->Start(true)) done_(std::string());  // no thread: the check failed
    }
    void CancelAndWait() override { checker_.reset(); }
    void ResultHandled() override {
        if (checker_) checker_->ResultHandled();
    }

private:
    std::function<void(std::string)> done_;
    std::unique_ptr<UpdateChecker> checker_;
};

}  // namespace

DesktopServices CreateDesktopServices(EventLoop&) {
    DesktopServices services;
    std::unique_ptr<SessionBus> sessionBus = SessionBus::Open();
    SessionBus* bus = sessionBus.get();  // may be null: each service then reports itself absent
    if (sessionBus) services.bus = std::make_unique<Bus>(std::move(sessionBus));
    services.tray = std::make_unique<Tray>(bus);
    services.notifier = std::make_unique<Balloons>(bus);
    services.appearance = std::make_unique<Colours>(bus);
    services.update = std::make_unique<Updates>();
    services.showInFolder = [bus](const std::string& path) { ShowInFolder(bus, path); };
    services.openUrl = [](const std::string& url) { OpenWithDesktop(url); };
    return services;
}
