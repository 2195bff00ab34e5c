// The program as a user starts it: with no mode it becomes the host, once per user and
// display; a second start hands over and exits, --background never disturbs a running
// host, --uninstall ends it, and the host ends cleanly on the end of the session or when
// its display goes away.
#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/desktop_services.h"
#include "support/test_support.h"
#include "support/x_support.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

class HostProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(screen.Ok());
        ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
        input = std::make_unique<TestInput>(screen.Name());
    }
    void TearDown() override {
        if (host > 0) {
            ::kill(host, SIGKILL);
            ::waitpid(host, nullptr, 0);
        }
    }
    pid_t Start(std::vector<std::string> args) {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<char*> argv = {const_cast<char*>(QUILL_PROGRAM)};
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(QUILL_PROGRAM, argv.data());
            ::_exit(127);
        }
        return pid;
    }
    // The exit code, or -1 when it did not end in time.
    int WaitFor(pid_t pid, int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    bool SettingsShown() {
        for (const auto& window : input->MappedWindows())
            if (window.name == "Quillaven" && window.width >= 600) return true;
        return false;
    }
    size_t HostWindows() {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(input->get(), DefaultRootWindow(input->get()), &root, &parent, &children, &count);
        if (children) XFree(children);
        return count;
    }
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    TempDir dir;
    XServer screen;
    std::unique_ptr<TestInput> input;
    pid_t host = -1;
};

TEST_F(HostProcess, SecondStartsHandOverAndUninstallEndsTheHost) {
    host = Start({"--background"});
    ASSERT_TRUE(WaitUntil([&] { return HostWindows() > 0; }, 10000));
    CommandResult background = RunCommand(std::string(QUILL_PROGRAM) + " --background");
    EXPECT_EQ(background.exitCode, 0);
    EXPECT_EQ(background.output, "");
    EXPECT_FALSE(SettingsShown());
    EXPECT_EQ(WaitFor(host, 0), -1);  // still running

    // A plain second start opens the running host's settings and exits 0, without a usage text.
    auto start = Clock::now();
    CommandResult second = RunCommand(QUILL_PROGRAM);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "");
    EXPECT_TRUE(WaitUntil([&] { return SettingsShown(); }, 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    // --worker or --convert in the second place changes nothing: it is another second start.
    EXPECT_EQ(RunCommand(std::string(QUILL_PROGRAM) + " x --convert").exitCode, 0);

    // --uninstall removes the settings and ends the host without a question.
    CommandResult uninstall = RunCommand(std::string(QUILL_PROGRAM) + " --uninstall");
    EXPECT_EQ(uninstall.exitCode, 0);
    EXPECT_EQ(WaitFor(host, 10000), 0);
    host = -1;
    EXPECT_FALSE(FileExists(dir.File("config") + "/quillaven/settings.ini"));
    EXPECT_TRUE(input->MappedWindows().empty());
    // With no host left, --uninstall still succeeds.
    EXPECT_EQ(RunCommand(std::string(QUILL_PROGRAM) + " --uninstall").exitCode, 0);
}

TEST_F(HostProcess, EndsOnTheEndOfTheSessionAndWhenTheDisplayGoes) {
    for (int signal : {SIGTERM, SIGHUP}) {
        host = Start({});
        ASSERT_TRUE(WaitUntil([&] { return SettingsShown(); }, 10000));
        ::kill(host, signal);
        EXPECT_EQ(WaitFor(host, 10000), 0) << signal;
        host = -1;
        EXPECT_TRUE(input->MappedWindows().empty());
    }
    host = Start({"--background"});
    // Up once its windows exist (the jobs panel's is made hidden at start-up).
    ASSERT_TRUE(WaitUntil([&] { return HostWindows() > 0; }, 10000));
    input.reset();
    screen.Kill();
    EXPECT_EQ(WaitFor(host, 10000), 0);
    host = -1;
}

// With the desktop's services on a private session bus: the tray item is listed, clicks on
// it open the menu, the first-run balloon reaches the notification server, and a
// restarted watcher lists the item again.
TEST_F(HostProcess, RegistersItsTrayItemAndShowsItsBalloonOnTheSessionBus) {
    REQUIRE_TOOL("dbus-daemon");
    PrivateBus bus;
    ASSERT_TRUE(bus.Started());
    std::optional<BusService> watcher;
    watcher.emplace(std::vector<std::string>{"watcher"});
    BusService notifications({"notifications"});
    ASSERT_TRUE(watcher->Ready() && notifications.Ready());
    auto start = Clock::now();
    host = Start({"--background"});
    ASSERT_TRUE(watcher->WaitForLine("registered org.kde.StatusNotifierItem-" + std::to_string(host), milliseconds(10000)));
    auto registered = Clock::now() - start;
    auto balloon = notifications.WaitForLine("Notify ", milliseconds(10000));
    ASSERT_TRUE(balloon);
    EXPECT_NE(balloon->find("app=Quillaven "), std::string::npos) << *balloon;
    EXPECT_NE(balloon->find("summary=Quillaven is running body=Hold Shift while dragging a file to convert it."),
              std::string::npos) << *balloon;
    EXPECT_LT(registered, std::chrono::seconds(5));  // the goal is 150 ms; the bench measures it

    auto menuShown = [&] {
        for (const auto& window : input->MappedWindows())
            if (window.name == "Quillaven" && window.width < 600 && window.x > 600 && window.y > 400) return true;
        return false;
    };
    ASSERT_TRUE(watcher->Ask("menu 1200 790", "menu "));
    EXPECT_TRUE(WaitUntil(menuShown, 5000));
    input->Key(XK_Escape);  // the menu holds the keyboard
    EXPECT_TRUE(WaitUntil([&] { return !menuShown(); }, 5000));

    watcher.reset();  // the tray restarts
    watcher.emplace(std::vector<std::string>{"watcher"});
    ASSERT_TRUE(watcher->Ready());
    EXPECT_TRUE(watcher->WaitForLine("registered org.kde.StatusNotifierItem-" + std::to_string(host), milliseconds(10000)));
}

TEST_F(HostProcess, WithoutADisplayTheHostFailsAtOnce) {
    std::string command = "env -u DISPLAY " + std::string(QUILL_PROGRAM) + " --background";
    CommandResult result = RunCommand(command);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "");
}

}  // namespace
