// The resident host: the event loop's notice target, the tray icon with its menu and
// balloons, timers for the idle trim and the update schedule, the jobs panel, the
// settings window and the job runner, and their orderly end.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job_runner.h"
#include "platform/single_instance.h"
#include "platform/x11/desktop.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/xembed_tray.h"
#include "shell/desktop_services.h"
#include "shell/jobs_panel.h"
#include "shell/message_box.h"
#include "shell/settings_window.h"
#include "shell/tray_menu.h"

inline constexpr uint32_t kWmApp = 0x8000;
enum HostMessage : uint32_t {
    kMsgTray = kWmApp + 1,
    kMsgDragStarted = kWmApp + 2,
    kMsgDragEnded = kWmApp + 3,
    kMsgJobsChanged = kWmApp + 4,
    kMsgUpdateChecked = kWmApp + 5,
};

// Tray menu items.
enum TrayCommand : int { kCmdSettings = 1, kCmdDragGesture = 2, kCmdStartAtLogin = 3, kCmdDownload = 4, kCmdExit = 5 };

struct AppOptions {
    std::string workerPath;     // empty: the program itself
    bool showUninstall = true;  // packaged builds leave removal to the package manager
};

class App : public MessageTarget, public SettingsHost {
public:
    App(XDisplay& display, EventLoop& loop, DesktopServices services, AppOptions options = {});
    ~App() override;

    // Start-up up to the loop; false (exit code 1) when a window could not be made.
    bool Start(bool background);
    // Answers the single-instance socket's requests from here on.
    void ServeInstance(InstanceServer& server);
    // The end after the loop: watcher, update thread, jobs, runner, tray, windows.
    void Shutdown();

    void ShowBalloon(const std::string& title, const std::string& text);
    void OpenSettings(Time startupTime = CurrentTime);
    void SubmitJob(std::vector<std::string> files, Target target, const std::string& label, int x, int y);
    void ShowTrayMenu(int x, int y);
    void TrayActivated(int x, int y, Time time);
    void RequestExit();  // the menu's Exit: asks first while jobs run

    // SettingsHost
    void SetDragGesture(bool on) override;
    void SetCheckForUpdates(bool on) override;
    void CheckForUpdatesNow() override;
    void UpdateLimits(const LimitSettings& limits) override;
    void BeginBusy() override;
    void EndBusy() override;
    void StartUninstaller() override;
    bool UpdatesAvailable() const override;

    void OnMessage(uint32_t message, uint64_t a, int64_t b) override;
    void OnTimer(int id) override;

    // For tests.
    JobsPanel& Panel() { return *jobsPanel_; }
    TrayMenu& Menu() { return *trayMenu_; }
    SettingsWindow& Settings() { return *settingsWindow_; }
    MessageBox& Question() { return *messageBox_; }
    XEmbedTrayIcon& EmbeddedTray() { return xembed_; }
    int BusyCount() const { return busyCount_; }
    const std::string& AvailableVersion() const { return availableVersion_; }
    std::vector<TrayMenuItem> TrayMenuItems() const;

private:
    void AddTrayIcon();
    void OnThemeInputsChanged();
    void StartUpdateCheck(bool manual);
    void UpdateChecked(const std::string& version);
    void RunTrayCommand(int id);
    void DisplayLost();

    XDisplay& display_;
    DesktopServices services_;
    AppOptions options_;
    DesktopWatch desktop_;
    std::unique_ptr<JobsPanel> jobsPanel_;
    std::unique_ptr<TrayMenu> trayMenu_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    std::unique_ptr<MessageBox> messageBox_;
    std::unique_ptr<JobRunner> runner_;
    XEmbedTrayIcon xembed_;
    int busWatch_ = 0;
    int busyCount_ = 0;
    std::atomic<bool> updateRunning_{false};
    bool updateManual_ = false;
    bool updateStarted_ = false;
    std::string availableVersion_;
    bool updateBalloonShown_ = false;
    int64_t lastActivateMs_ = -1000000;
    bool shutDown_ = false;
};

// The host's whole life: display, loop, services, App, loop, shutdown. The exit code.
int RunHost(InstanceServer& instance, bool background);
// The timestamp in a start-up notification id ("..._TIME<n>"), CurrentTime when none.
Time StartupTimeOf(const std::string& startupId);
