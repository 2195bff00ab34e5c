#include "shell/app.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <ctime>
#include <thread>

#include "convert/core/check.h"
#include "convert/core/process.h"
#include "platform/spawn.h"
#include "settings.h"
#include "shell/update_check.h"
#include "ui/icons.h"
#include "ui/kit.h"
#include "ui/theme.h"

namespace {

constexpr int kTrimTimer = 1;
constexpr int kUpdateTimer = 2;
constexpr uint32_t kTrimDelayMs = 3000;
constexpr uint32_t kFirstUpdateDelayMs = 60000;
constexpr uint32_t kUpdateRecheckMs = 21600000;   // 6 hours
constexpr int kBalloonExpireMs = -1;               // the notification server's own default

void Reap(pid_t pid) {
    if (pid > 0) std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

}  // namespace

Time StartupTimeOf(const std::string& startupId) {
    size_t at = startupId.rfind("_TIME");
    if (at == std::string::npos) return CurrentTime;
    unsigned long value = 0;
    const char* begin = startupId.data() + at + 5;
    const char* end = startupId.data() + startupId.size();
    auto [next, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || next != end || begin == end) return CurrentTime;
    return static_cast<Time>(value);
}

App::App(XDisplay& display, EventLoop& loop, DesktopServices services, AppOptions options)
    : MessageTarget(loop),
      display_(display),
      services_(std::move(services)),
      options_(std::move(options)),
      desktop_(display, loop),
      xembed_(display, loop) {}

App::~App() { Shutdown(); }

bool App::Start(bool background) {
    EventLoop& loop = Loop();
    if (!loop.Ok()) return false;
    display_.SetLostHandler([this] { DisplayLost(); });
    loop.WatchSignals({SIGTERM, SIGHUP, SIGINT}, [this](int) { Loop().Quit(0); });  // the session ends
    if (services_.bus) {
        BusConnection* bus = services_.bus.get();
        busWatch_ = loop.WatchFd(
            bus->Descriptor(), [bus] { return bus->Events(); }, [bus](short) { bus->Process(); },
            [bus] { return bus->TimeoutUsec(); });
    }

    // The theme follows the portal, then XSETTINGS, then GTK_THEME.
    SetThemeSource([this] {
        ThemeInputs inputs;
        if (services_.appearance) {
            inputs.portalDark = services_.appearance->Dark();
            inputs.portalAccent = services_.appearance->AccentRgb();
        }
        inputs.xsettingsThemeName = desktop_.ThemeName();
        if (const char* gtk = std::getenv("GTK_THEME")) inputs.gtkThemeVariable = gtk;
        return inputs;
    });
    if (auto iconTheme = desktop_.IconThemeName()) SetIconThemeName(*iconTheme);
    if (services_.appearance) {
        if (auto font = services_.appearance->InterfaceFont()) SetInterfaceFontName(*font);
        services_.appearance->onChanged = [this] { OnThemeInputsChanged(); };
    }
    desktop_.onSettingsChanged = [this] {
        if (auto iconTheme = desktop_.IconThemeName()) SetIconThemeName(*iconTheme);
        OnThemeInputsChanged();
    };
    desktop_.onCompositorChanged = [this] {
        jobsPanel_->OnCompositorChanged();
        trayMenu_->OnCompositorChanged();
    };

    auto showInFolder = services_.showInFolder ? services_.showInFolder : [](const std::string&) {};
    jobsPanel_ = std::make_unique<JobsPanel>(display_, loop, desktop_, showInFolder);
    trayMenu_ = std::make_unique<TrayMenu>(display_, loop, desktop_);
    messageBox_ = std::make_unique<MessageBox>(display_, loop, desktop_);
    if (!jobsPanel_->Create()) return false;

    runner_ = std::make_unique<JobRunner>([this] { Loop().PostMessage(this, kMsgJobsChanged); }, ReadLimits(),
                                          options_.workerPath);
    settingsWindow_ = std::make_unique<SettingsWindow>(display_, loop, desktop_, *this, options_.showUninstall);

    bool firstRun = IsFirstRun();
    if (firstRun) MarkInitialized();
    RemoveContextMenus();
    RefreshStartWithWindows();

    xembed_.SetIcon([](int size) { return AppIconPixels(size, CurrentTheme().accent); });
    xembed_.onActivate = [this](int x, int y, Time time) { TrayActivated(x, y, time); };
    xembed_.onContextMenu = [this](int x, int y, Time) { ShowTrayMenu(x, y); };
    if (services_.tray) {
        services_.tray->onActivate = [this](int x, int y) { TrayActivated(x, y, CurrentTime); };
        services_.tray->onContextMenu = [this](int x, int y) { ShowTrayMenu(x, y); };
        services_.tray->onWatcherChanged = [this](bool present) {
            if (present) xembed_.Remove();
            else xembed_.Dock();
        };
    }
    desktop_.onTrayChanged = [this] {
        // The tray was restarted: the icon goes in again (what "TaskbarCreated" asks).
        if (!(services_.tray && services_.tray->Registered())) xembed_.Dock();
    };
    if (services_.notifier) {
        services_.notifier->onClicked = [this] {
            if (updateBalloonShown_ && UpdatesAvailable() && services_.openUrl) services_.openUrl(services_.update->Website());
        };
    }
    AddTrayIcon();

    if (services_.dragWatcher) {
        services_.dragWatcher->Configure(
            [this](int x, int y) {
                Loop().PostMessage(this, kMsgDragStarted, 0,
                                   static_cast<int64_t>(static_cast<uint16_t>(x)) | static_cast<int64_t>(static_cast<uint16_t>(y)) << 16);
            },
            [this] { Loop().PostMessage(this, kMsgDragEnded); });
        if (ReadDragGesture() && !services_.dragWatcher->Enable(true))
            ShowBalloon("Shift-drag isn't available", "Windows didn't allow Quillaven to watch the mouse.");
    }

    Kit::Get();
    if (firstRun) ShowBalloon("Quillaven is running", "Hold Shift while dragging a file to convert it.");
    if (UpdatesAvailable() && ReadCheckForUpdates()) loop.SetTimer(this, kUpdateTimer, kFirstUpdateDelayMs);
    if (!background) OpenSettings();
    return true;
}

void App::ServeInstance(InstanceServer& server) {
    server.Listen(Loop(), [this](const InstanceRequest& request, pid_t) -> std::string {
        switch (request.kind) {
            case InstanceRequest::kShowSettings:
                OpenSettings(StartupTimeOf(request.startupId));
                return "ok";
            case InstanceRequest::kClose:
                Loop().Quit(0);  // as WM_CLOSE: no question
                return "ok";
            case InstanceRequest::kOpen:
                return services_.radialMenu && services_.radialMenu->OpenWith(request.paths) ? "ok" : "unavailable";
        }
        return "unknown";
    });
}

void App::Shutdown() {
    if (shutDown_ || !runner_) return;
    shutDown_ = true;
    if (services_.dragWatcher) services_.dragWatcher->Stop();
    if (services_.update && updateStarted_) services_.update->CancelAndWait();
    for (const auto& job : jobsPanel_->ActiveJobs()) JobRunner::Cancel(*job);
    runner_.reset();  // waits for the supervisors; the workers' group ends what is left
    xembed_.Remove();
    settingsWindow_.reset();
    if (services_.radialMenu) services_.radialMenu->Hide();
    messageBox_.reset();
    trayMenu_.reset();
    jobsPanel_.reset();
    if (busWatch_) Loop().UnwatchFd(busWatch_);
    busWatch_ = 0;
    XFlush(display_.get());
}

void App::DisplayLost() {
    // Xlib ends the process when this returns: finish the jobs' side first, touch no window.
    if (runner_) {
        for (const auto& job : jobsPanel_->ActiveJobs()) JobRunner::Cancel(*job);
        runner_.reset();
    }
    ::_exit(0);
}

void App::AddTrayIcon() {
    if (services_.tray) {
        std::vector<IconPixmap> pixmaps;
        for (int size : {16, 22, 24, 32, 48}) pixmaps.push_back({size, size, AppIconPixels(size, CurrentTheme().accent)});
        if (services_.tray->Register("quillaven", pixmaps, "Quillaven")) {
            xembed_.Remove();
            return;
        }
    }
    xembed_.Dock();  // no tray at all is fine: a second start still opens the settings
}

void App::ShowBalloon(const std::string& title, const std::string& text) {
    updateBalloonShown_ = false;
    if (services_.notifier) services_.notifier->Show(title, text, kBalloonExpireMs);
}

void App::OpenSettings(Time startupTime) { settingsWindow_->Open(startupTime); }

void App::SubmitJob(std::vector<std::string> files, Target target, const std::string& label, int x, int y) {
    std::shared_ptr<Job> job = MakeJob(std::move(files), std::move(target), label);
    runner_->Enqueue(job);
    jobsPanel_->Add(job, x, y);
}

std::vector<TrayMenuItem> App::TrayMenuItems() const {
    std::vector<TrayMenuItem> items;
    items.push_back({kCmdSettings, "Settings", false, true});
    items.push_back({0, "", false, false});
    items.push_back({kCmdDragGesture, "Shift-drag to convert", ReadDragGesture(), false});
    items.push_back({kCmdStartAtLogin, "Start with Windows", IsStartWithWindows(), false});
    if (!availableVersion_.empty()) items.push_back({kCmdDownload, "Get Quillaven " + availableVersion_ + "\u2026", false, false});
    items.push_back({0, "", false, false});
    items.push_back({kCmdExit, "Exit", false, false});
    return items;
}

void App::ShowTrayMenu(int x, int y) {
    trayMenu_->Show(TrayMenuItems(), x, y, [this](int id) { RunTrayCommand(id); },
                    [this](int px, int py, Time time) {
                        // A second click on the tray icon while its menu is open is a double click.
                        Window icon = xembed_.WindowId();
                        if (!icon) return;
                        Window root = 0, child = 0;
                        int ix = 0, iy = 0;
                        unsigned w = 0, h = 0, border = 0, depth = 0;
                        if (!XGetGeometry(display_.get(), icon, &root, &ix, &iy, &w, &h, &border, &depth)) return;
                        XTranslateCoordinates(display_.get(), icon, root, 0, 0, &ix, &iy, &child);
                        if (px >= ix && py >= iy && px < ix + static_cast<int>(w) && py < iy + static_cast<int>(h))
                            TrayActivated(px, py, time);
                    });
}

void App::TrayActivated(int x, int y, Time) {
    int64_t now = MonotonicMs();
    if (now - lastActivateMs_ <= desktop_.DoubleClickMs()) {
        lastActivateMs_ = -1000000;
        if (trayMenu_->Visible()) trayMenu_->Close(0);
        OpenSettings();
        return;
    }
    lastActivateMs_ = now;
    ShowTrayMenu(x, y);
}

void App::RunTrayCommand(int id) {
    switch (id) {
        case kCmdSettings:
            OpenSettings();
            break;
        case kCmdDragGesture:
            SetDragGesture(!ReadDragGesture());
            break;
        case kCmdStartAtLogin:
            SetStartWithWindows(!IsStartWithWindows());
            settingsWindow_->Refresh();
            break;
        case kCmdDownload:
            if (UpdatesAvailable() && services_.openUrl) services_.openUrl(services_.update->Website());
            break;
        case kCmdExit:
            RequestExit();
            break;
        default:
            break;
    }
}

void App::RequestExit() {
    if (jobsPanel_->ActiveJobs().empty()) {
        Loop().Quit(0);
        return;
    }
    messageBox_->Ask("Quillaven", "Conversions are still in progress. Cancel them and exit?", [this](bool yes) {
        if (yes) Loop().Quit(0);
    });
}

void App::SetDragGesture(bool on) {
    WriteDragGesture(on);
    if (services_.dragWatcher) {
        if (!services_.dragWatcher->Enable(on) && on)
            ShowBalloon("Shift-drag isn't available", "Windows didn't allow Quillaven to watch the mouse.");
    }
    settingsWindow_->Refresh();
}

void App::SetCheckForUpdates(bool on) {
    WriteCheckForUpdates(on);
    if (on && UpdatesAvailable())
        Loop().SetTimer(this, kUpdateTimer, kFirstUpdateDelayMs);
    else
        Loop().KillTimer(this, kUpdateTimer);
}

bool App::UpdatesAvailable() const { return services_.update && !services_.update->Website().empty(); }

void App::CheckForUpdatesNow() { StartUpdateCheck(true); }

void App::StartUpdateCheck(bool manual) {
    if (!UpdatesAvailable()) return;
    if (updateRunning_.exchange(true)) return;
    updateManual_ = manual;
    updateStarted_ = true;
    EventLoop* loop = &Loop();
    services_.update->Start([this, loop](std::string version) {
        auto* text = new std::string(std::move(version));
        if (!loop->PostMessage(this, kMsgUpdateChecked, 0, reinterpret_cast<int64_t>(text))) delete text;
    });
}

void App::UpdateChecked(const std::string& version) {
    updateRunning_ = false;
    if (services_.update) services_.update->ResultHandled();
    UpdateOutcome outcome = DecideUpdateOutcome(version, updateManual_);
    if (outcome.storeLastCheck) WriteLastUpdateCheck(static_cast<int64_t>(std::time(nullptr)));
    if (!outcome.availableVersion.empty()) availableVersion_ = outcome.availableVersion;
    if (outcome.balloon) ShowBalloon(outcome.balloon->title, outcome.balloon->text);
    updateBalloonShown_ = outcome.updateNotice;  // after ShowBalloon, which clears it
}

void App::UpdateLimits(const LimitSettings& limits) { runner_->UpdateLimits(limits); }

void App::BeginBusy() {
    if (busyCount_++ == 0) Loop().KillTimer(this, kTrimTimer);
}

void App::EndBusy() {
    if (busyCount_ == 0) {
        QUILL_CHECK(busyCount_ > 0);
        return;
    }
    if (--busyCount_ == 0) Loop().SetTimer(this, kTrimTimer, kTrimDelayMs);
}

void App::StartUninstaller() {
    std::string self = ModulePath();
    size_t slash = self.rfind('/');
    if (slash == std::string::npos) return;
    std::string uninstaller = self.substr(0, slash) + "/Uninstall";
    if (::access(uninstaller.c_str(), X_OK) != 0) return;  // not reported, as a failed start
    Reap(StartDetached({uninstaller}));
}

void App::OnThemeInputsChanged() {
    if (!RefreshTheme()) return;
    if (settingsWindow_) settingsWindow_->OnThemeChanged();
    if (messageBox_) messageBox_->Repaint();
    if (xembed_.Docked()) xembed_.SetIcon([](int size) { return AppIconPixels(size, CurrentTheme().accent); });
}

void App::OnMessage(uint32_t message, uint64_t, int64_t b) {
    switch (message) {
        case kMsgDragStarted:
            if (services_.radialMenu)
                services_.radialMenu->ShowAt(static_cast<int16_t>(b & 0xFFFF), static_cast<int16_t>((b >> 16) & 0xFFFF));
            break;
        case kMsgDragEnded:
            if (services_.radialMenu) services_.radialMenu->DragEnded();
            break;
        case kMsgJobsChanged:
            if (jobsPanel_) jobsPanel_->Refresh();
            break;
        case kMsgUpdateChecked: {
            std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(b));
            UpdateChecked(text ? *text : std::string());
            break;
        }
        default:
            break;
    }
}

void App::OnTimer(int id) {
    if (id == kTrimTimer) {
        Loop().KillTimer(this, kTrimTimer);
        if (busyCount_ == 0) TrimMemory();
    } else if (id == kUpdateTimer) {
        Loop().SetTimer(this, kUpdateTimer, kUpdateRecheckMs);
        int64_t now = static_cast<int64_t>(std::time(nullptr));
        if (AutomaticCheckDue(ReadCheckForUpdates(), ReadLastUpdateCheck(), now, UpdatesAvailable()) && !updateRunning_)
            StartUpdateCheck(false);
    }
}

int RunHost(InstanceServer& instance, bool background) {
    std::unique_ptr<XDisplay> display = XDisplay::Open();
    if (!display) return 1;
    EventLoop loop(display->get());
    App app(*display, loop, CreateDesktopServices(loop));
    if (!app.Start(background)) return 1;
    app.ServeInstance(instance);
    int code = loop.Run();
    instance.Detach();
    app.Shutdown();
    return code;
}
