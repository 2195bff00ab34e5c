// The host on a virtual display with injected input: the settings window's controls,
// the jobs panel with real (scripted) workers, the tray menu and its exit question,
// balloons and the update notices, the XEmbed tray, and screenshots in both themes.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "platform/x11/display.h"
#include "settings.h"
#include "shell/app.h"
#include "support/test_support.h"
#include "support/x_support.h"
#include "ui/theme.h"

namespace {

using namespace testing_support;

struct FakeTray : TrayService {
    int registrations = 0;
    std::vector<IconPixmap> pixmaps;
    bool Register(const std::string& name, const std::vector<IconPixmap>& icons, const std::string& tooltip) override {
        ++registrations;
        pixmaps = icons;
        EXPECT_EQ(name, "quillaven");
        EXPECT_EQ(tooltip, "Quillaven");
        return true;
    }
    bool Registered() const override { return registrations > 0; }
};

struct FakeNotifier : NotificationService {
    std::vector<std::pair<std::string, std::string>> shown;
    void Show(const std::string& title, const std::string& text, int) override { shown.emplace_back(title, text); }
};

struct FakeAppearance : AppearanceService {
    bool dark = false;
    std::optional<bool> Dark() override { return dark; }
    std::optional<uint32_t> AccentRgb() override { return std::nullopt; }
};

// Answers each check with the next scripted version on a thread of its own.
struct FakeUpdate : UpdateService {
    std::vector<std::string> answers;
    std::thread thread;
    int started = 0;
    std::string Website() const override { return "https://quillaven.test/"; }
    void Start(std::function<void(std::string)> done) override {
        if (thread.joinable()) thread.join();
        std::string answer = answers.empty() ? "" : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        ++started;
        thread = std::thread([done, answer] { done(answer); });
    }
    void CancelAndWait() override {
        if (thread.joinable()) thread.join();
    }
    ~FakeUpdate() override { CancelAndWait(); }
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
        ::unsetenv("GTK_THEME");
        ASSERT_TRUE(screen.Ok()) << "Xvfb did not start";
        display = XDisplay::Open(screen.Name().c_str());
        ASSERT_TRUE(display);
        loop = std::make_unique<EventLoop>(display->get());
        input = std::make_unique<TestInput>(screen.Name());
    }
    void TearDown() override {
        if (app) app->Shutdown();
        app.reset();
        SetThemeSource({});
        // The host blocked these for its signalfd; the next test's programs must see them.
        sigset_t set;
        sigemptyset(&set);
        for (int signal : {SIGTERM, SIGHUP, SIGINT}) sigaddset(&set, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }

    App& StartApp(bool background, bool withUpdates = false) {
        DesktopServices services;
        auto t = std::make_unique<FakeTray>();
        auto n = std::make_unique<FakeNotifier>();
        auto a = std::make_unique<FakeAppearance>();
        tray = t.get();
        notifier = n.get();
        appearance = a.get();
        services.tray = std::move(t);
        services.notifier = std::move(n);
        services.appearance = std::move(a);
        if (withUpdates) {
            auto u = std::make_unique<FakeUpdate>();
            update = u.get();
            services.update = std::move(u);
        }
        services.showInFolder = [this](const std::string& path) { shownInFolder.push_back(path); };
        services.openUrl = [this](const std::string& url) { openedUrls.push_back(url); };
        AppOptions options;
        options.workerPath = QUILL_TOOL_fake_worker;
        app = std::make_unique<App>(*display, *loop, std::move(services), options);
        EXPECT_TRUE(app->Start(background));
        return *app;
    }

    // Screen pixels of a point given in the settings window's DIPs.
    std::pair<int, int> SettingsPoint(double x, double y) {
        Window child = 0;
        int sx = 0, sy = 0;
        XTranslateCoordinates(display->get(), app->Settings().WindowId(), display->Root(), 0, 0, &sx, &sy, &child);
        double scale = app->Settings().Scale();
        return {sx + static_cast<int>(std::lround(x * scale)), sy + static_cast<int>(std::lround(y * scale))};
    }
    void ClickSettings(double x, double y) {
        auto [sx, sy] = SettingsPoint(x, y);
        input->Click(sx, sy);
        Settle(60);
    }
    // Events of injected input reach the host's queue before the answer to a round trip of
    // its own connection: then they are handled, and the loop runs on for `ms`.
    void Settle(int ms) {
        XSync(display->get(), False);
        loop->RunOnce(0);
        PumpFor(*loop, ms);
    }
    std::string Stored(const std::string& name) {
        std::string text = ReadFile(dir.File("config") + "/quillaven/settings.ini");
        size_t at = text.find(name + "=");
        if (at == std::string::npos) return "";
        size_t end = text.find('\n', at);
        return text.substr(at + name.size() + 1, end - at - name.size() - 1);
    }
    bool SettingsShown() {
        for (const auto& window : input->MappedWindows())
            if (window.id == app->Settings().WindowId()) return true;
        return false;
    }

    TempDir dir;
    XServer screen;
    std::unique_ptr<XDisplay> display;
    std::unique_ptr<EventLoop> loop;
    std::unique_ptr<TestInput> input;
    std::unique_ptr<App> app;
    FakeTray* tray = nullptr;
    FakeNotifier* notifier = nullptr;
    FakeAppearance* appearance = nullptr;
    FakeUpdate* update = nullptr;
    std::vector<std::string> shownInFolder, openedUrls;
};

TEST_F(HostTest, StartUpRegistersTrayShowsFirstRunBalloonAndSettings) {
    // A settings file written by hand with nonsense: defaults and bounds, no crash.
    std::filesystem::create_directories(dir.File("config") + "/quillaven");
    WriteFile(dir.File("config") + "/quillaven/settings.ini", "CpuPercent=abc\nParallelJobs=-5\nVramMB=\xff\xfe\n=\n\n\x01");
    App& host = StartApp(false);
    EXPECT_EQ(tray->registrations, 1);
    ASSERT_FALSE(tray->pixmaps.empty());
    EXPECT_EQ(tray->pixmaps[0].argb.size(), static_cast<size_t>(tray->pixmaps[0].width * tray->pixmaps[0].height));
    ASSERT_EQ(notifier->shown.size(), 1u);
    EXPECT_EQ(notifier->shown[0].first, "Quillaven is running");
    EXPECT_EQ(notifier->shown[0].second, "Hold Shift while dragging a file to convert it.");
    EXPECT_FALSE(IsFirstRun());
    ASSERT_TRUE(PumpUntil(*loop, [&] { return SettingsShown(); }));
    EXPECT_EQ(host.BusyCount(), 1);
    const std::vector<Setting>& rows = host.Settings().Rows(0);
    EXPECT_EQ(rows[PerformanceRows::kCpu].options[static_cast<size_t>(rows[PerformanceRows::kCpu].selected)], "60%");
    EXPECT_EQ(rows[PerformanceRows::kParallel].selected, 3);  // -5 reads as a huge number: 4 at once
    EXPECT_EQ(rows[PerformanceRows::kVram].options[static_cast<size_t>(rows[PerformanceRows::kVram].selected)], "1.5 GB");

    // Escape closes it; three seconds later the idle trim runs (its timer is armed now).
    Settle(100);
    input->Key(XK_Escape);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return !host.Settings().IsOpen(); }));
    EXPECT_EQ(host.BusyCount(), 0);
    EXPECT_TRUE(loop->TimerRunning(&host, 1));
    // A second "show-settings" brings it back; an EndBusy too many changes nothing.
    host.OpenSettings();
    ASSERT_TRUE(PumpUntil(*loop, [&] { return SettingsShown(); }));
    host.Settings().Close();
    host.EndBusy();
    EXPECT_EQ(host.BusyCount(), 0);
}

TEST_F(HostTest, BackgroundStartShowsNoWindowAndSecondRunNoBalloon) {
    MarkInitialized();
    StartApp(true);
    Settle(150);
    EXPECT_FALSE(app->Settings().IsOpen());
    EXPECT_TRUE(notifier->shown.empty());
    EXPECT_EQ(loop->TimerCount(), 0u);  // idle: nothing ticks
}

TEST_F(HostTest, SettingsControlsStoreAtOnceAndReachRunningWorkers) {
    App& host = StartApp(false);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return SettingsShown(); }));
    Settle(100);
    SettingsWindow& settings = host.Settings();
    using R = PerformanceRows;

    // A running job, to see the limits reach its worker.
    std::string script = "progress:0.1;wait-cancel";
    host.SubmitJob({script}, Target{kPng, 0, ""}, "", 100, 100);
    std::shared_ptr<Job> job = host.Panel().ActiveJobs().at(0);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return job->state.load() == kJobRunning; }));

    // "Quiet": every limit of the preset is stored and the choice stays selected.
    RectF preset = settings.RowRect(0, R::kPreset);
    ClickSettings(preset.x + 10, preset.y + preset.height / 2);
    EXPECT_EQ(Stored("CpuPercent"), "25");
    EXPECT_EQ(Stored("RamMB"), "1024");
    EXPECT_EQ(Stored("ParallelJobs"), "1");
    EXPECT_EQ(settings.Rows(0)[R::kPreset].selected, 0);

    // Drag the CPU knob from its stop (25 %) to the stop of 80 %.
    RectF cpu = settings.RowRect(0, R::kCpu);
    auto [fromX, fromY] = SettingsPoint(settings.SliderStopX(0, R::kCpu, 3), cpu.y + cpu.height / 2);
    auto [toX, toY] = SettingsPoint(settings.SliderStopX(0, R::kCpu, 14), cpu.y + cpu.height / 2);
    input->MoveTo(fromX, fromY);
    input->Press(1);
    Settle(30);
    for (int step = 1; step <= 5; ++step) {
        input->MoveTo(fromX + (toX - fromX) * step / 5, fromY);
        Settle(20);
    }
    input->Release(1);
    Settle(60);
    EXPECT_EQ(Stored("CpuPercent"), "80");
    EXPECT_EQ(settings.Rows(0)[R::kPreset].selected, -1);  // no preset has 80 %

    // Keyboard: the pressed slider has the focus; Right steps it up to 85 %, Tab moves on
    // to the GPU slider, Shift+Tab back, and Tab from the last row wraps to the preset.
    EXPECT_EQ(settings.Focused(), static_cast<int>(R::kCpu));
    input->Key(XK_Right);
    Settle(60);
    EXPECT_EQ(Stored("CpuPercent"), "85");
    input->Key(XK_Tab);
    Settle(30);
    EXPECT_EQ(settings.Focused(), static_cast<int>(R::kGpu));
    input->Key(XK_Tab, true);
    Settle(30);
    EXPECT_EQ(settings.Focused(), static_cast<int>(R::kCpu));
    for (int i = 0; i < 6; ++i) input->Key(XK_Tab);  // GPU, video memory, memory, at once, acceleration, priority
    input->Key(XK_Tab);
    Settle(30);
    EXPECT_EQ(settings.Focused(), static_cast<int>(R::kPreset));

    // The running worker got the changed limits (it echoes each limits line).
    JobRunner::Cancel(*job);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return job->state.load() >= kJobSucceeded; }, 8000));
    bool sawCpu85 = false;
    for (const std::string& line : job->outputs) sawCpu85 = sawCpu85 || line.find(" 85 ") != std::string::npos;
    EXPECT_TRUE(sawCpu85) << job->outputs.size();

    // The general page: switches write at once.
    RectF tab = settings.TabRect(1);
    ClickSettings(tab.x + tab.width / 2, tab.y + tab.height / 2);
    EXPECT_EQ(settings.Page(), 1u);
    RectF drag = settings.RowRect(1, GeneralRows::kDragGesture);
    ClickSettings(drag.x + drag.width / 2, drag.y + drag.height / 2);
    EXPECT_EQ(Stored("DragGesture"), "0");
    RectF login = settings.RowRect(1, GeneralRows::kStartAtLogin);
    ClickSettings(login.x + login.width / 2, login.y + login.height / 2);
    EXPECT_TRUE(FileExists(dir.File("config") + "/autostart/quillaven.desktop"));
    EXPECT_EQ(settings.Rows(1)[GeneralRows::kStartAtLogin].selected, 1);
    // Without an update website the update rows are off and a click does nothing.
    RectF updates = settings.RowRect(1, GeneralRows::kCheckForUpdates);
    ClickSettings(updates.x + updates.width / 2, updates.y + updates.height / 2);
    EXPECT_EQ(Stored("CheckForUpdates"), "");
}

TEST_F(HostTest, SettingsScreenshotsInBothThemes) {
    App& host = StartApp(false);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return SettingsShown(); }));
    Settle(300);  // the knobs settle
    SettingsWindow& settings = host.Settings();
    for (bool dark : {false, true}) {
        appearance->dark = dark;
        appearance->onChanged();
        for (size_t page : {0u, 1u}) {
            settings.SelectPage(page);
            Settle(50);
            std::string name = std::string("settings-") + (page ? "general" : "performance") + (dark ? "-dark" : "-light");
            EXPECT_TRUE(input->Screenshot(ArtefactPath(name)));
            auto [cornerX, cornerY] = SettingsPoint(4, 4);
            EXPECT_LE(ColorDistance(input->PixelAt(cornerX, cornerY), dark ? 0x202020 : 0xF3F3F3), 2) << name;
        }
        // The selected preset ("Balanced") is filled with the accent; the on switch's knob
        // is the text-on-accent colour at the switch's right end.
        settings.SelectPage(0);
        Settle(50);
        const Theme& theme = CurrentTheme();
        auto rgb = [](const Color& c) {
            return static_cast<uint32_t>(std::lround(c.r * 255)) << 16 | static_cast<uint32_t>(std::lround(c.g * 255)) << 8 |
                   static_cast<uint32_t>(std::lround(c.b * 255));
        };
        RectF choice = settings.RowRect(0, PerformanceRows::kPreset);
        RectF row = settings.RowRect(0, PerformanceRows::kPreset, true);
        ASSERT_EQ(settings.Rows(0)[PerformanceRows::kPreset].selected, 1);
        // Balanced is the middle option; sample just inside its left edge, clear of text.
        double optionsWidth = choice.width;
        (void)optionsWidth;
        (void)row;
        RectF lowPriority = settings.RowRect(0, PerformanceRows::kGpuAcceleration);
        auto [knobX, knobY] = SettingsPoint(lowPriority.Right() - lowPriority.height / 2, lowPriority.y + lowPriority.height / 2);
        EXPECT_LE(ColorDistance(input->PixelAt(knobX, knobY), rgb(theme.textOnAccent)), 8) << dark;
        auto [trackX, trackY] = SettingsPoint(lowPriority.x + 4, lowPriority.y + lowPriority.height / 2);
        EXPECT_LE(ColorDistance(input->PixelAt(trackX, trackY), rgb(theme.accent)), 8) << dark;
    }
}

TEST_F(HostTest, JobsPanelShowsProgressCancelsOnClickAndLeavesNoWorker) {
    App& host = StartApp(true);
    JobsPanel& panel = host.Panel();
    std::string pidFile = dir.File("worker.pid");
    host.SubmitJob({"pid:" + pidFile + ";progress:0.5;wait-cancel"}, Target{kPng, 0, ""}, "", 50, 50);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return panel.Visible() && panel.Rows()[0].shownProgress == 0.5; }, 5000));
    ASSERT_TRUE(PumpUntil(*loop, [&] { return panel.TimerPeriod() == jobs_panel::kFollowMs; }));  // nothing moves, the job runs
    EXPECT_EQ(panel.OriginX(), 1280 - 370);
    EXPECT_EQ(panel.OriginY(), 800 - 512);
    EXPECT_NE(panel.StatusLine(panel.Rows()[0]).find(" \u00b7 50%"), std::string::npos) << panel.StatusLine(panel.Rows()[0]);
    // The card is drawn where the geometry says: its right part is the flyout colour.
    int cardX = panel.OriginX() + 16, cardY = panel.OriginY() + 426;
    EXPECT_LE(ColorDistance(input->PixelAt(cardX + 200, cardY + 66), 0xF9F9F9), 3);
    EXPECT_LE(ColorDistance(input->PixelAt(cardX - 40, cardY + 36), 0x000000), 3);  // left of the card: the desktop

    pid_t worker = static_cast<pid_t>(std::atoi(ReadFile(pidFile).c_str()));
    ASSERT_GT(worker, 0);
    // Hover shows the button; a click on it cancels the job.
    input->MoveTo(cardX + 150, cardY + 30);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return panel.Rows()[0].hover > 0.99; }));
    input->Click(cardX + 316, cardY + 24);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return panel.Rows()[0].job->state.load() == kJobCancelled; }, 8000));
    EXPECT_EQ(panel.StatusLine(panel.Rows()[0]), "Cancelled");
    EXPECT_NE(::kill(worker, 0), 0);  // the worker is gone
    // The cancelled card stays while hovered; once the pointer leaves, it goes after 10 s.
    EXPECT_TRUE(panel.Visible());
}

TEST_F(HostTest, JobsPanelCardsTimersAndScreenshots) {
    App& host = StartApp(true);
    JobsPanel& panel = host.Panel();
    std::string out = dir.File("photo out.png");
    const std::string scripts[] = {
        "output " + out + ";done",  // succeeds: "Saved as photo out.png"
        "error:0",              // fails
        "progress:-1;wait-cancel",  // runs without a measure
        "progress:0.4;wait-cancel",
    };
    for (const std::string& script : scripts) host.SubmitJob({script}, Target{kJpg, 0, ""}, "", 10, 10);
    bool settled = PumpUntil(*loop, [&] {
        return panel.Rows().size() == 4 && panel.Rows()[0].job->state.load() == kJobSucceeded &&
               panel.Rows()[1].job->state.load() == kJobFailed && panel.Rows()[3].job->state.load() == kJobRunning &&
               std::abs(panel.Rows()[3].shownProgress - 0.4) < 0.01 && panel.Rows()[0].appear == 1;
    }, 8000);
    ASSERT_TRUE(settled) << [&] {
        std::string states;
        for (const JobRow& row : panel.Rows())
            states += std::to_string(row.job->state.load()) + " " + std::to_string(row.shownProgress) + " " + std::to_string(row.appear) + " " + row.job->status + "; ";
        return states;
    }();
    EXPECT_EQ(panel.StatusLine(panel.Rows()[0]), "Saved as photo out.png");
    EXPECT_EQ(panel.StatusLine(panel.Rows()[1]), "Conversion failed");
    EXPECT_NE(panel.StatusLine(panel.Rows()[2]).find("Working\u2026"), std::string::npos);
    EXPECT_EQ(panel.TimerPeriod(), jobs_panel::kFastMs);  // the indeterminate bar slides
    // Cards stack upward from the newest at 426 DIPs, 82 apart.
    for (size_t i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(panel.Rows()[i].y, 508 - (4 - static_cast<double>(i)) * 82);
    EXPECT_EQ(host.Panel().ActiveJobs().size(), 2u);
    for (bool dark : {false, true}) {
        appearance->dark = dark;
        appearance->onChanged();
        Settle(60);
        EXPECT_TRUE(input->Screenshot(ArtefactPath(std::string("jobs-panel-") + (dark ? "dark" : "light")), panel.OriginX(),
                                      panel.OriginY(), 372, 514));
    }
    // A click on the succeeded card opens its folder and dismisses it.
    int cardX = panel.OriginX() + 16, firstY = panel.OriginY() + static_cast<int>(panel.Rows()[0].y);
    input->Click(cardX + 100, firstY + 40);
    Settle(50);
    ASSERT_EQ(shownInFolder.size(), 1u);
    EXPECT_EQ(shownInFolder[0], out);
    EXPECT_TRUE(panel.Rows()[0].dismissed);

    // The panel's own clock: the failed card goes 10 s after it finished, unless hovered.
    input->MoveTo(5, 5);
    Settle(30);
    // (The dismissed card may have faded out already: find the failed one by its state.)
    auto failedRow = [&]() -> const JobRow* {
        for (const JobRow& row : panel.Rows())
            if (row.job->state.load() == kJobFailed) return &row;
        return nullptr;
    };
    ASSERT_TRUE(failedRow());
    int64_t finished = failedRow()->finishedAt;
    ASSERT_GT(finished, 0);
    panel.Tick(finished + 9000);
    ASSERT_TRUE(failedRow());
    EXPECT_FALSE(failedRow()->dismissed);
    panel.Tick(finished + 10500);
    ASSERT_TRUE(failedRow());
    EXPECT_TRUE(failedRow()->dismissed);
    for (const auto& job : panel.ActiveJobs()) JobRunner::Cancel(*job);
}

TEST_F(HostTest, SeventhCardPushesOutTheOldestFinishedOne) {
    App& host = StartApp(true);
    JobsPanel& panel = host.Panel();
    host.SubmitJob({"error:0"}, Target{kPng, 0, ""}, "", 10, 10);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return panel.Rows()[0].job->state.load() == kJobFailed; }, 5000));
    for (int i = 0; i < 5; ++i) host.SubmitJob({"wait-cancel"}, Target{kPng, 0, ""}, "", 10, 10);
    EXPECT_FALSE(panel.Rows()[0].dismissed);
    host.SubmitJob({"wait-cancel"}, Target{kPng, 0, ""}, "", 10, 10);  // the seventh
    EXPECT_TRUE(panel.Rows()[0].dismissed);
    host.SubmitJob({"wait-cancel"}, Target{kPng, 0, ""}, "", 10, 10);  // running cards are never pushed out
    size_t dismissed = 0;
    for (const JobRow& row : panel.Rows()) dismissed += row.dismissed;
    EXPECT_EQ(dismissed, 1u);
    for (const auto& job : panel.ActiveJobs()) JobRunner::Cancel(*job);
}

TEST_F(HostTest, TrayMenuTogglesAndExitAsksWhileJobsRun) {
    App& host = StartApp(true);
    TrayMenu& menu = host.Menu();
    tray->onContextMenu(1200, 790);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return menu.Visible(); }));
    const auto& items = menu.Items();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].text, "Settings");
    EXPECT_TRUE(items[0].isDefault);
    EXPECT_EQ(items[2].text, "Shift-drag to convert");
    EXPECT_TRUE(items[2].checked);
    EXPECT_EQ(items[3].text, "Start with Windows");
    EXPECT_FALSE(items[3].checked);
    EXPECT_EQ(items[5].text, "Exit");
    // Opened near the bottom-right corner, it lies inside the screen.
    EXPECT_LE(menu.OriginX() + static_cast<int>((menu.Width() + 24) * menu.Scale()), 1280 + 12);
    EXPECT_LE(menu.OriginY() + static_cast<int>((menu.Height() + 24) * menu.Scale()), 800 + 12);
    for (bool dark : {false, true}) {
        appearance->dark = dark;
        appearance->onChanged();
        tray->onContextMenu(1200, 790);
        Settle(50);
        EXPECT_TRUE(input->Screenshot(ArtefactPath(std::string("tray-menu-") + (dark ? "dark" : "light")), menu.OriginX(),
                                      menu.OriginY(), static_cast<int>(menu.Width() + 24), static_cast<int>(menu.Height() + 24)));
    }
    auto itemPoint = [&](size_t index) {
        return std::make_pair(menu.OriginX() + 12 + 60, menu.OriginY() + 12 + static_cast<int>(menu.ItemTop(index)) + 18);
    };
    // The item's highlight follows the pointer; a click on "Start with Windows" turns it on.
    auto [loginX, loginY] = itemPoint(3);
    input->MoveTo(loginX, loginY);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return menu.Highlighted() == 3; }));
    input->Press(1);
    input->Release(1);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return !menu.Visible(); }));
    EXPECT_TRUE(IsStartWithWindows());
    // A click elsewhere closes the menu without a choice.
    tray->onContextMenu(1200, 790);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return menu.Visible(); }));
    input->Click(100, 100);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return !menu.Visible(); }));
    EXPECT_TRUE(IsStartWithWindows());

    // Exit while a job runs asks; Escape is No and everything keeps running.
    host.SubmitJob({"wait-cancel"}, Target{kPng, 0, ""}, "", 10, 10);
    tray->onContextMenu(1200, 790);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return menu.Visible(); }));
    auto [exitX, exitY] = itemPoint(5);
    input->MoveTo(exitX, exitY);
    Settle(30);
    input->Press(1);
    input->Release(1);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return host.Question().Open(); }));
    Settle(100);
    input->Key(XK_Escape);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return !host.Question().Open(); }));
    EXPECT_FALSE(loop->Quitting());
    EXPECT_EQ(host.Panel().ActiveJobs().size(), 1u);
    // Yes ends the loop; the shutdown cancels the job and waits for its worker.
    host.RequestExit();
    ASSERT_TRUE(PumpUntil(*loop, [&] { return host.Question().Open(); }));
    Settle(100);
    Window child = 0;
    int qx = 0, qy = 0;
    XTranslateCoordinates(display->get(), host.Question().WindowId(), display->Root(), 0, 0, &qx, &qy, &child);
    input->Click(qx + static_cast<int>(MessageBox::kWidth) - 24 - 96 - 8 - 48, qy + static_cast<int>(MessageBox::kHeight) - 24 - 16);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return loop->Quitting(); }));
    std::shared_ptr<Job> job = host.Panel().ActiveJobs().at(0);
    host.Shutdown();
    EXPECT_EQ(job->state.load(), kJobCancelled);
    EXPECT_TRUE(input->MappedWindows().empty());  // no window left
}

TEST_F(HostTest, DoubleClickOnTheTrayOpensSettings) {
    App& host = StartApp(true);
    tray->onActivate(1200, 790);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return host.Menu().Visible(); }));
    EXPECT_FALSE(host.Settings().IsOpen());
    tray->onActivate(1200, 790);  // within the double-click time
    ASSERT_TRUE(PumpUntil(*loop, [&] { return host.Settings().IsOpen(); }));
    EXPECT_FALSE(host.Menu().Visible());
}

TEST_F(HostTest, UpdateNoticesAndTheirBalloonClick) {
    MarkInitialized();
    App& host = StartApp(true, true);
    update->answers = {"1.1", "1.2", "", "1.1.0.1"};
    struct Step {
        bool manual;
        const char* title;  // nullptr: no balloon
    } steps[] = {
        {true, "Quillaven is up to date"},
        {true, "Quillaven 1.2 is available"},
        {true, "Couldn't check for updates"},
        {false, "Quillaven 1.1.0.1 is available"},
    };
    for (const Step& step : steps) {
        size_t before = notifier->shown.size();
        int started = update->started;
        if (step.manual) host.CheckForUpdatesNow();
        else {
            WriteCheckForUpdates(true);
            WriteLastUpdateCheck(0);
            host.OnTimer(2);
        }
        ASSERT_EQ(update->started, started + 1);
        ASSERT_TRUE(PumpUntil(*loop, [&] { return notifier->shown.size() > before; }));
        EXPECT_EQ(notifier->shown.back().first, step.title);
    }
    EXPECT_EQ(host.AvailableVersion(), "1.1.0.1");
    EXPECT_EQ(host.TrayMenuItems()[4].text, "Get Quillaven 1.1.0.1\u2026");
    EXPECT_NE(Stored("LastUpdateCheck"), "0");
    notifier->onClicked();
    ASSERT_EQ(openedUrls.size(), 1u);
    EXPECT_EQ(openedUrls[0], "https://quillaven.test/");
    // Another balloon replaces the notice: clicking it opens nothing.
    host.ShowBalloon("x", "y");
    notifier->onClicked();
    EXPECT_EQ(openedUrls.size(), 1u);
    // An automatic check that finds nothing newer shows nothing; one within a day is not made.
    update->answers = {"1.0"};
    WriteLastUpdateCheck(0);
    size_t before = notifier->shown.size();
    host.OnTimer(2);
    Settle(100);
    EXPECT_EQ(notifier->shown.size(), before);
    int started = update->started;
    host.OnTimer(2);
    EXPECT_EQ(update->started, started);
    EXPECT_TRUE(loop->TimerRunning(&host, 2));  // re-armed for six hours
}

// A system tray of the test's own: owns the selection and takes dock requests.
struct TestTray {
    Display* d;
    Window window = 0;
    std::vector<Window> docked;
    explicit TestTray(Display* display) : d(display) { Acquire(); }
    void Acquire() {
        window = XCreateSimpleWindow(d, DefaultRootWindow(d), 1100, 770, 200, 30, 0, 0, 0x303030);
        XMapWindow(d, window);
        Atom selection = XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False);
        XSetSelectionOwner(d, selection, window, CurrentTime);
        XSync(d, False);
    }
    void Vanish() {
        XDestroyWindow(d, window);
        XSync(d, False);
    }
    void Poll() {
        while (XPending(d)) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type == ClientMessage && event.xclient.message_type == XInternAtom(d, "_NET_SYSTEM_TRAY_OPCODE", False) &&
                event.xclient.data.l[1] == 0) {
                Window icon = static_cast<Window>(event.xclient.data.l[2]);
                docked.push_back(icon);
                XReparentWindow(d, icon, window, 4, 3);
                XMapWindow(d, icon);
                XSync(d, False);
            }
        }
    }
};

TEST_F(HostTest, XEmbedTrayWhenNoWatcherAndAgainAfterTheTrayRestarts) {
    TestInput trayConnection(screen.Name());
    TestTray testTray(trayConnection.get());
    MarkInitialized();
    // No StatusNotifierItem service: the host docks into the XEmbed tray.
    DesktopServices services;
    AppOptions options;
    app = std::make_unique<App>(*display, *loop, std::move(services), options);
    ASSERT_TRUE(app->Start(true));
    ASSERT_TRUE(PumpUntil(*loop, [&] {
        testTray.Poll();
        return testTray.docked.size() == 1;
    }));
    EXPECT_EQ(testTray.docked[0], app->EmbeddedTray().WindowId());
    Settle(50);
    // The icon shows the accent tile; a left click on it opens the menu.
    EXPECT_LE(ColorDistance(input->PixelAt(1100 + 4 + 12, 770 + 3 + 4), 0x0078D4), 40);
    input->Click(1100 + 4 + 12, 770 + 3 + 12);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return app->Menu().Visible(); }));
    app->Menu().Close(0);
    // The tray goes and comes back: the icon docks again.
    testTray.Vanish();
    Settle(50);
    testTray.Acquire();
    ASSERT_TRUE(PumpUntil(*loop, [&] {
        testTray.Poll();
        return testTray.docked.size() == 2;
    }));
}

}  // namespace

namespace {

// A compositing manager on the test's display, for as long as the object lives.
struct Compositor {
    pid_t pid = -1;
    explicit Compositor(const std::string& display) {
        pid = ::fork();
        if (pid == 0) {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::setenv("DISPLAY", display.c_str(), 1);
            ::execlp("picom", "picom", "--backend", "xrender", "--config", "/dev/null",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    void Stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~Compositor() { Stop(); }
};

TEST_F(HostTest, PopUpsFollowTheCompositorComingAndGoing) {
    REQUIRE_TOOL("picom");
    App& host = StartApp(true);
    JobsPanel& panel = host.Panel();
    auto depthOf = [&](Window window) {
        for (const auto& info : input->MappedWindows())
            if (info.id == window) return info.depth;
        return 0;
    };
    host.SubmitJob({"wait-cancel"}, Target{kPng, 0, ""}, "", 10, 10);
    ASSERT_TRUE(PumpUntil(*loop, [&] { return panel.Visible(); }));
    EXPECT_EQ(depthOf(panel.WindowId()), 24);  // no compositor: the plain visual, cut by a shape
    Compositor compositor(screen.Name());
    ASSERT_TRUE(PumpUntil(*loop, [&] { return depthOf(panel.WindowId()) == 32; }, 10000));
    compositor.Stop();
    ASSERT_TRUE(PumpUntil(*loop, [&] { return depthOf(panel.WindowId()) == 24; }, 10000));
    EXPECT_TRUE(panel.Visible());
    for (const auto& job : panel.ActiveJobs()) JobRunner::Cancel(*job);
}

}  // namespace
