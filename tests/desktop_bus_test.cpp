// The shell's desktop services on a private session bus: the tray item against a test
// StatusNotifierWatcher, balloons against a test notification server and dunst, "Show
// in folder" against a test FileManager1 and a stand-in xdg-open, and the colour
// preferences against a test settings portal. Each service's absence is handled at once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/dbus/appearance.h"
#include "platform/dbus/file_manager.h"
#include "platform/dbus/notifications.h"
#include "platform/dbus/session_bus.h"
#include "platform/dbus/tray_item.h"
#include "support/desktop_services.h"

using namespace testing_support;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class DesktopBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TOOL("dbus-daemon");
        bus_.emplace();
        ASSERT_TRUE(bus_->Started());
        session_ = SessionBus::Open();
        ASSERT_TRUE(session_);
    }

    // Sends a command to a service that calls back into us, answering its calls until
    // the confirming line arrives.
    std::string AskPumping(BusService& service, const std::string& command, const std::string& answer) {
        service.Process().Send(command);
        std::optional<std::string> line;
        PumpUntil(*session_, [&] { return (line = service.WaitForLine(answer, milliseconds(0))).has_value(); });
        return line.value_or("(no answer to " + command + ")");
    }

    std::optional<PrivateBus> bus_;
    std::unique_ptr<SessionBus> session_;
};

TrayIconImage TestIcon() {
    TrayIconImage icon;
    icon.name = "quillaven";
    icon.pixmaps = {
        {2, 1, {0x80FF2010u, 0x01020304u}},  // kept: ARGB goes out big-endian
        {2, 2, {1, 2, 3}},                    // too few pixels for its size
        {0, 1, {}},                           // empty
        {300, 1, std::vector<uint32_t>(300)}, // wider than any tray draws
    };
    return icon;
}

}  // namespace

TEST(SessionBusTest, NoBusMeansEveryServiceIsQuietlyAbsent) {
    ScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillaven-bus");
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/nonexistent");
    auto start = Clock::now();
    EXPECT_EQ(SessionBus::Open(), nullptr);
    TrayItem tray(nullptr);
    EXPECT_FALSE(tray.Register(TestIcon(), "Quillaven"));
    EXPECT_FALSE(tray.Registered());
    Notifier notifier(nullptr);
    notifier.Show("title", "text", -1);
    EXPECT_FALSE(notifier.Available());
    Appearance appearance(nullptr);
    EXPECT_FALSE(appearance.Dark() || appearance.AccentRgb());
    EXPECT_LT(SecondsSince(start), 1.0);
}

TEST_F(DesktopBusTest, TrayItemIsListedDescribesItselfAndTakesClicks) {
    BusService watcher({"watcher"});
    ASSERT_TRUE(watcher.Ready());
    TrayItem item(session_.get());
    std::vector<std::string> clicks;
    item.onActivate = [&](int x, int y) { clicks.push_back("activate " + std::to_string(x) + "," + std::to_string(y)); };
    item.onContextMenu = [&](int x, int y) { clicks.push_back("menu " + std::to_string(x) + "," + std::to_string(y)); };
    ASSERT_TRUE(item.Register(TestIcon(), "Quillaven"));
    EXPECT_TRUE(item.Registered());
    auto registered = watcher.WaitForLine("registered ");
    ASSERT_TRUE(registered);
    EXPECT_EQ(*registered, "registered org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
                               registered->substr(registered->rfind('-') + 1));

    const std::string pixmap = "[(2 1 80ff201001020304)]";
    const std::pair<const char*, std::string> properties[] = {
        {"Id", "quillaven"},          {"Category", "ApplicationStatus"},
        {"Status", "Active"},         {"Title", "Quillaven"},
        {"IconName", "quillaven"},    {"IconPixmap", pixmap},
        {"ItemIsMenu", "false"},      {"ToolTip", "(quillaven " + pixmap + " Quillaven )"},
        {"AttentionIconPixmap", "[]"},
    };
    for (const auto& [name, value] : properties)
        EXPECT_EQ(AskPumping(watcher, std::string("get ") + name, std::string("property ") + name),
                  std::string("property ") + name + " " + value);

    EXPECT_EQ(AskPumping(watcher, "activate 12 34", "activate "), "activate answered");
    EXPECT_EQ(AskPumping(watcher, "menu -5 700", "menu "), "menu answered");
    EXPECT_EQ(clicks, (std::vector<std::string>{"activate 12,34", "menu -5,700"}));

    // A new icon reaches the listed item without a second registration.
    TrayIconImage other;
    other.name = "quillaven-busy";
    EXPECT_TRUE(item.Register(other, "Quillaven"));
    EXPECT_EQ(AskPumping(watcher, "get IconName", "property IconName"), "property IconName quillaven-busy");
    EXPECT_FALSE(watcher.WaitForLine("registered ", milliseconds(200)));
}

TEST_F(DesktopBusTest, TrayItemRegistersAgainWhenTheWatcherComesBack) {
    // No watcher at start: Register says so at once, and the item is listed when one appears.
    TrayItem item(session_.get());
    std::vector<bool> changes;
    item.onWatcherChanged = [&](bool present) { changes.push_back(present); };
    auto start = Clock::now();
    EXPECT_FALSE(item.Register(TestIcon(), "Quillaven"));
    EXPECT_LT(SecondsSince(start), 1.5);
    for (int restart = 0; restart < 2; ++restart) {
        {
            BusService watcher({"watcher"});
            ASSERT_TRUE(watcher.Ready());
            ASSERT_TRUE(PumpUntil(*session_, [&] { return item.Registered(); })) << "restart " << restart;
            EXPECT_TRUE(watcher.WaitForLine("registered org.kde.StatusNotifierItem-"));
        }  // the tray goes away
        ASSERT_TRUE(PumpUntil(*session_, [&] { return !item.Registered(); })) << "restart " << restart;
    }
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
}

TEST_F(DesktopBusTest, TrayItemGivesUpOnAWatcherThatRefusesOrIsSilent) {
    for (const char* kind : {"--refuse", "silent"}) {
        std::optional<BusService> watcher;
        if (std::string(kind) == "silent")
            watcher.emplace(std::vector<std::string>{"silent", "org.kde.StatusNotifierWatcher"});
        else
            watcher.emplace(std::vector<std::string>{"watcher", kind});
        ASSERT_TRUE(watcher->Ready());
        TrayItem item(session_.get());
        std::vector<bool> changes;
        item.onWatcherChanged = [&](bool present) { changes.push_back(present); };
        auto start = Clock::now();
        EXPECT_TRUE(item.Register(TestIcon(), "Quillaven")) << kind;  // a watcher is there: asked, not awaited
        EXPECT_LT(SecondsSince(start), 1.5) << kind;
        EXPECT_TRUE(PumpUntil(*session_, [&] { return !item.Registered(); }, milliseconds(4000))) << kind;
        EXPECT_EQ(changes, std::vector<bool>{false}) << kind;
    }
}

TEST_F(DesktopBusTest, BalloonsCarryTheirFieldsAndReplaceEachOther) {
    BusService server({"notifications"});
    ASSERT_TRUE(server.Ready());
    Notifier notifier(session_.get());
    EXPECT_TRUE(notifier.Available());
    auto shown = [&](const std::string& title, const std::string& text, int expire) {
        notifier.Show(title, text, expire);
        std::optional<std::string> line;
        PumpUntil(*session_, [&] { return (line = server.WaitForLine("Notify ", milliseconds(0))).has_value(); });
        return line.value_or("(nothing)");
    };
    const std::string rest = " rest=[default Open] [(desktop-entry (quillaven))] ";
    EXPECT_EQ(shown("Quillaven is running", "Hold Shift while dragging a file to convert it.", 5000),
              "Notify id=1 app=Quillaven replaces=0 icon=quillaven summary=Quillaven is running "
              "body=Hold Shift while dragging a file to convert it." + rest + "5000");
    // Every later balloon replaces the one before; fields are cut at whole characters.
    std::string e63;
    for (int i = 0; i < 63; ++i) e63 += "\xC3\xA9";
    std::string u255;
    for (int i = 0; i < 255; ++i) u255 += "\xE2\x82\xAC";
    EXPECT_EQ(shown(e63 + "\xC3\xA9xyz", u255 + "\xE2\x82\xAC!", -1),
              "Notify id=1 app=Quillaven replaces=1 icon=quillaven summary=" + e63 + " body=" + u255 + rest + "-1");
    EXPECT_EQ(shown("bad \xFF byte", "fine", 0),
              "Notify id=1 app=Quillaven replaces=1 icon=quillaven summary=bad \xEF\xBF\xBD byte body=fine" + rest + "0");

    // Balloons asked for while one is on its way: only the latest follows it. ("first" goes
    // out at once unless the last reply is still on its way, and then waits too.)
    notifier.Show("first", "1", -1);
    notifier.Show("second", "2", -1);
    notifier.Show("third", "3", -1);
    std::vector<std::string> summaries;
    PumpUntil(*session_, [&] {
        while (auto line = server.WaitForLine("Notify ", milliseconds(0)))
            summaries.push_back(line->substr(line->find("summary=") + 8, 5));
        return !summaries.empty() && summaries.back() == "third";
    });
    EXPECT_TRUE(summaries == std::vector<std::string>{"third"} ||
                summaries == (std::vector<std::string>{"first", "third"}))
        << testing::PrintToString(summaries);
}

TEST_F(DesktopBusTest, OnlyTheDefaultActionOfTheCurrentBalloonIsAClick) {
    BusService server({"notifications", "--markup"});
    ASSERT_TRUE(server.Ready());
    Notifier notifier(session_.get());
    int clicks = 0;
    notifier.onClicked = [&] { ++clicks; };
    notifier.Show("Quillaven 1.2 is available", "a < b & c", -1);
    std::optional<std::string> line;
    ASSERT_TRUE(PumpUntil(*session_, [&] { return (line = server.WaitForLine("Notify ", milliseconds(0))).has_value(); }));
    EXPECT_NE(line->find("body=a &lt; b &amp; c rest"), std::string::npos) << *line;  // the server reads markup

    const std::pair<std::string, int> signals[] = {
        {"close 1 2", 0},          // dismissed: not a click, though some servers also send the action
        {"invoke 1 default", 1},   // the click
        {"invoke 1 open-folder", 0},
        {"invoke 2 default", 0},   // another balloon's
        {"close 1 2", 0},
    };
    int expected = 0;
    for (const auto& [command, counts] : signals) {
        ASSERT_TRUE(server.Ask(command, " sent"));
        expected += counts;
    }
    {
        BusService forger({"emit-action", "1", "default"});  // not the notification server
        EXPECT_TRUE(forger.Process().WaitForLine("sent"));
    }
    // One last real click; once it arrived, every signal sent before it has been handled.
    ASSERT_TRUE(server.Ask("invoke 1 default", " sent"));
    ++expected;
    EXPECT_TRUE(PumpUntil(*session_, [&] { return clicks >= expected; }));
    PumpFor(*session_, milliseconds(100));
    EXPECT_EQ(clicks, expected);
}

TEST_F(DesktopBusTest, BalloonsWithoutAServerAreSkippedUntilOneAppears) {
    Notifier notifier(session_.get());
    EXPECT_FALSE(notifier.Available());
    auto start = Clock::now();
    notifier.Show("lost", "nobody shows this", -1);
    PumpFor(*session_, milliseconds(100));
    EXPECT_LT(SecondsSince(start), 1.5);

    std::optional<BusService> server;
    server.emplace(std::vector<std::string>{"notifications"});
    ASSERT_TRUE(server->Ready());
    ASSERT_TRUE(PumpUntil(*session_, [&] { return notifier.Available(); }));
    notifier.Show("found", "shown", -1);
    std::optional<std::string> line;
    ASSERT_TRUE(PumpUntil(*session_, [&] { return (line = server->WaitForLine("Notify ", milliseconds(0))).has_value(); }));
    EXPECT_NE(line->find("summary=found"), std::string::npos) << *line;
    EXPECT_EQ(server->Process().Output().find("lost"), std::string::npos);

    server.reset();  // the server goes away: the next balloon finds out and is dropped
    PumpFor(*session_, milliseconds(100));
    notifier.Show("gone", "", -1);
    EXPECT_TRUE(PumpUntil(*session_, [&] { return !notifier.Available(); }));
}

TEST_F(DesktopBusTest, ALostBusEndsTheServicesQuietly) {
    BusService watcher({"watcher"});
    BusService server({"notifications"});
    ASSERT_TRUE(watcher.Ready() && server.Ready());
    TrayItem item(session_.get());
    std::vector<bool> changes;
    item.onWatcherChanged = [&](bool present) { changes.push_back(present); };
    ASSERT_TRUE(item.Register(TestIcon(), "Quillaven"));
    Notifier notifier(session_.get());
    ASSERT_TRUE(notifier.Available());
    ASSERT_TRUE(watcher.WaitForLine("registered "));
    // The watcher calls back only after answering the registration: then nothing is pending.
    ASSERT_EQ(AskPumping(watcher, "get Id", "property Id"), "property Id quillaven");

    bus_->Crash();  // the session ends under us
    ASSERT_TRUE(PumpUntil(*session_, [&] { return !session_->Connected(); }));
    EXPECT_EQ(session_->Descriptor(), -1);  // nothing left for the host's poll to wake on
    EXPECT_EQ(session_->TimeoutUsec(), UINT64_MAX);
    EXPECT_FALSE(item.Registered());
    EXPECT_EQ(changes, std::vector<bool>{false});  // the host falls back to its other tray
    EXPECT_FALSE(notifier.Available());
    notifier.Show("after", "the end", -1);
    EXPECT_FALSE(item.Register(TestIcon(), "Quillaven"));
}

TEST_F(DesktopBusTest, DunstShowsReplacesAndReportsTheClick) {
    REQUIRE_TOOL("dunst");
    REQUIRE_TOOL("Xvfb");
    VirtualDisplay display;
    ASSERT_TRUE(display.Started());
    Dunst dunst;
    ASSERT_TRUE(dunst.Started());
    Notifier notifier(session_.get());
    int clicks = 0;
    notifier.onClicked = [&] { ++clicks; };
    std::optional<PrintedNotification> printed;
    auto show = [&](const std::string& title, const std::string& text) {
        notifier.Show(title, text, 60000);
        printed.reset();
        PumpUntil(*session_, [&] { return (printed = dunst.WaitForNotification(milliseconds(20))).has_value(); });
        return printed.has_value();
    };
    ASSERT_TRUE(show("Quillaven is up to date", "You have the latest version, 1.1.0."));
    EXPECT_EQ(printed->appname, "Quillaven");
    EXPECT_EQ(printed->summary, "Quillaven is up to date");
    EXPECT_EQ(printed->body, "You have the latest version, 1.1.0.");
    EXPECT_NE(printed->actions.find("\"default\": \"Open\""), std::string::npos) << printed->actions;
    std::string firstId = printed->id;
    ASSERT_TRUE(show("Couldn't check for updates", "The Quillaven website couldn't be reached."));
    EXPECT_EQ(printed->id, firstId);

    ASSERT_TRUE(dunst.ClickTopmost());
    EXPECT_TRUE(PumpUntil(*session_, [&] { return clicks == 1; }));
    ASSERT_TRUE(show("Quillaven 1.2 is available", "Click here to open the download page."));
    ASSERT_TRUE(dunst.CloseTopmost());
    PumpFor(*session_, milliseconds(300));
    EXPECT_EQ(clicks, 1);
}

TEST(FileManagerTest, FileUris) {
    const std::pair<const char*, const char*> uris[] = {
        {"/tmp/plain-name_1.~txt", "file:///tmp/plain-name_1.~txt"},
        {"/tmp/a b/c#1?.txt", "file:///tmp/a%20b/c%231%3F.txt"},
        {"/home/zo\xC3\xAB/50%+x;y", "file:///home/zo%C3%AB/50%25%2Bx%3By"},
        {"/tmp/\x01\x7F\xFF", "file:///tmp/%01%7F%FF"},
    };
    for (const auto& [path, uri] : uris) EXPECT_EQ(FileUri(path), uri) << path;
}

TEST_F(DesktopBusTest, ShowInFolderAsksTheFileManagerElseOpensTheFolderDetached) {
    TempDir folder;
    std::string file = folder.File("report 1.pdf");
    WriteFile(file, "x");
    // A stand-in xdg-open that reports its arguments, session, descriptors and signal state.
    std::string record = folder.File("xdg-open.txt");
    std::string opener = folder.File("xdg-open");
    // The signal state is read by the shell itself, before it runs anything: while it
    // starts a command the shell blocks signals for a moment, which a reader could catch.
    std::string signals = folder.File("signals.txt");
    WriteFile(opener, "#!/bin/sh\n"
                      "while read -r key value; do case $key in Sig[BI]*) printf '%s\\t%s\\n' $key $value;; esac;"
                      " done < /proc/$$/status > " + ShellQuote(signals) + "\n"
                      "{ echo \"args $*\"; echo \"pid $$\"; echo \"session $(cut -d' ' -f6 /proc/$$/stat)\";\n"
                      "  cat " + ShellQuote(signals) + "; for f in /proc/$$/fd/*; do readlink \"$f\"; done; true;\n"
                      "} > " + ShellQuote(record + ".tmp") + " && mv " + ShellQuote(record + ".tmp") + " " +
                      ShellQuote(record) + "\n");
    ::chmod(opener.c_str(), 0755);
    ScopedEnvironment path("PATH", folder.path() + ":" + std::getenv("PATH"));
    std::string marker = folder.File("inherited-marker");
    int leaked = ::open(marker.c_str(), O_CREAT | O_WRONLY, 0600);  // no O_CLOEXEC: the child must still not get it

    auto opened = [&](SessionBus* bus) {
        ::unlink(record.c_str());
        ShowInFolder(bus, file);
        auto done = [&] { return FileExists(record); };
        if (bus) PumpUntil(*bus, done, milliseconds(4000));
        for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(milliseconds(10));
        return done() ? ReadFile(record) : std::string();
    };

    {
        BusService manager({"file-manager"});
        ASSERT_TRUE(manager.Ready());
        ShowInFolder(session_.get(), file);
        std::optional<std::string> line;
        ASSERT_TRUE(PumpUntil(*session_, [&] { return (line = manager.WaitForLine("ShowItems", milliseconds(0))).has_value(); }));
        EXPECT_EQ(*line, "ShowItems " + FileUri(file) + " startup=");
        PumpFor(*session_, milliseconds(200));
        EXPECT_FALSE(FileExists(record));  // the file manager answered: nothing else opens
    }
    // The file manager refuses, there is none, there is no bus: the folder opens.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    auto oldPipe = ::signal(SIGPIPE, SIG_IGN);
    std::string report;
    {
        BusService refusing({"file-manager", "--fail"});
        ASSERT_TRUE(refusing.Ready());
        report = opened(session_.get());
        EXPECT_TRUE(refusing.WaitForLine("ShowItems"));
    }
    for (SessionBus* bus : {session_.get(), static_cast<SessionBus*>(nullptr)}) {
        std::string again = opened(bus);
        EXPECT_NE(again.find("args " + folder.path() + "\n"), std::string::npos) << again;
    }
    ::pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    ::signal(SIGPIPE, oldPipe);
    ::close(leaked);

    ASSERT_FALSE(report.empty());
    EXPECT_NE(report.find("args " + folder.path() + "\n"), std::string::npos) << report;
    std::string pid = report.substr(report.find("pid ") + 4, report.find('\n', report.find("pid ")) - report.find("pid ") - 4);
    EXPECT_NE(report.find("session " + pid + "\n"), std::string::npos) << report;  // leads its own session
    EXPECT_NE(report.find("SigBlk:\t0000000000000000"), std::string::npos) << report;
    // No standard signal ignored (glibc's own real-time ones, 32 and 33, may be).
    size_t ignored = report.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << report;
    EXPECT_EQ(std::stoull(report.substr(ignored + 8, 16), nullptr, 16) & 0x7FFFFFFFu, 0u) << report;
    EXPECT_EQ(report.find(marker), std::string::npos) << report;
    // Reaped: no zombie stays behind.
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = !std::filesystem::exists("/proc/" + pid);
        if (!gone) std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(gone) << "process " << pid << " was not reaped";
}

TEST_F(DesktopBusTest, AppearanceReadsThePortalInEitherWrapping) {
    struct Case {
        std::vector<std::string> portal;
        std::optional<bool> dark;
        std::optional<uint32_t> accent;
    } cases[] = {
        {{"1", "0.2", "0.4", "0.6"}, true, 0x336699},
        {{"2", "none"}, false, std::nullopt},
        {{"0", "1", "1", "1"}, std::nullopt, 0xFFFFFF},  // no preference: the caller's fallback decides
        {{"1", "1.5", "0", "0"}, true, std::nullopt},    // out of range counts as unset
        {{"1", "0", "0.5", "1", "--single-variant"}, true, 0x0080FF},
    };
    for (const Case& test : cases) {
        std::vector<std::string> arguments{"portal"};
        arguments.insert(arguments.end(), test.portal.begin(), test.portal.end());
        BusService portal(arguments);
        ASSERT_TRUE(portal.Ready());
        Appearance appearance(session_.get());
        EXPECT_EQ(appearance.Dark(), test.dark) << test.portal[0] << " " << test.portal[1];
        EXPECT_EQ(appearance.AccentRgb(), test.accent) << test.portal[0] << " " << test.portal[1];
    }
}

TEST_F(DesktopBusTest, AppearanceFollowsChangesAndLatePortals) {
    Appearance appearance(session_.get());  // no portal yet
    EXPECT_FALSE(appearance.Dark() || appearance.AccentRgb());
    int changes = 0;
    appearance.onChanged = [&] { ++changes; };
    BusService portal({"portal", "1", "0.2", "0.4", "0.6"});
    ASSERT_TRUE(portal.Ready());
    ASSERT_TRUE(PumpUntil(*session_, [&] { return appearance.AccentRgb().has_value(); }));
    EXPECT_EQ(appearance.Dark(), true);
    EXPECT_EQ(appearance.AccentRgb(), 0x336699u);

    const struct {
        const char* command;
        std::optional<bool> dark;
        std::optional<uint32_t> accent;
    } steps[] = {
        {"scheme 2", false, 0x336699},
        {"foreign", false, 0x336699},  // another namespace's color-scheme
        {"scheme 2", false, 0x336699},  // the same value again
        {"accent 1 0 0", false, 0xFF0000},
        {"accent 0 -1 0", false, std::nullopt},
        {"scheme 1", true, std::nullopt},
    };
    int before = changes;
    int expected = 0;
    for (const auto& step : steps) {
        bool changed = step.dark != appearance.Dark() || step.accent != appearance.AccentRgb();
        ASSERT_TRUE(portal.Ask(step.command, " sent")) << step.command;
        if (changed) {
            ++expected;
            EXPECT_TRUE(PumpUntil(*session_, [&] { return changes - before == expected; })) << step.command;
        }
        EXPECT_EQ(appearance.Dark(), step.dark) << step.command;
        EXPECT_EQ(appearance.AccentRgb(), step.accent) << step.command;
    }
    PumpFor(*session_, milliseconds(100));
    EXPECT_EQ(changes - before, expected);
}

TEST_F(DesktopBusTest, ASilentPortalCostsOneShortWait) {
    BusService portal({"silent", "org.freedesktop.portal.Desktop"});
    ASSERT_TRUE(portal.Ready());
    auto start = Clock::now();
    Appearance appearance(session_.get());
    double waited = SecondsSince(start);
    EXPECT_FALSE(appearance.Dark() || appearance.AccentRgb());
    EXPECT_GT(waited, 0.2);
    EXPECT_LT(waited, 2.0);
    // One read waited; the second was not even tried.
    EXPECT_TRUE(portal.WaitForLine("swallowed Read"));
    EXPECT_FALSE(portal.WaitForLine("swallowed", milliseconds(100)));
}
