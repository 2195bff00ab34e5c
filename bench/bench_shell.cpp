// The desktop shell on a private virtual display: frame times of the jobs panel (four
// cards) and of the settings window at scale 1 and 2, and, for the program itself, start to
// tray icon docked, second start to settings window shown, CPU used while idle, and
// resident memory when idle. `bench_shell [idle seconds]` (60 by default).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "convert/core/process.h"
#include "job_runner.h"
#include "platform/x11/desktop.h"
#include "shell/jobs_panel.h"
#include "shell/settings_window.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

pid_t StartXvfb(std::string& name) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 3);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "+extension", "Composite", "-nolisten",
                 "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') name.push_back(c);
    ::close(fds[0]);
    name = ":" + name;
    return pid;
}

void SetDpi(Display* d, int dpi) {
    std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.data()), static_cast<int>(resources.size()));
    XSync(d, False);
}

struct NoHost : SettingsHost {
    void SetDragGesture(bool) override {}
    void SetCheckForUpdates(bool) override {}
    void CheckForUpdatesNow() override {}
    void UpdateLimits(const LimitSettings&) override {}
    void BeginBusy() override {}
    void EndBusy() override {}
    void StartUninstaller() override {}
    bool UpdatesAvailable() const override { return true; }
};

// Median of `runs` draws into an image surface of the window's pixel size.
template <typename Draw>
double DrawMs(int width, int height, double scale, Draw draw, int runs = 60) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        cairo_t* cr = cairo_create(surface);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_scale(cr, scale, scale);
        auto start = Clock::now();
        draw(cr);
        cairo_surface_flush(surface);
        times.push_back(Ms(Clock::now() - start));
        cairo_destroy(cr);
    }
    cairo_surface_destroy(surface);
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void FrameTimes(const std::string& display) {
    for (int dpi : {96, 192}) {
        auto x = XDisplay::Open(display.c_str());
        SetDpi(x->get(), dpi);
        EventLoop loop(x->get());
        DesktopWatch desktop(*x, loop);
        double scale = desktop.Scale();
        JobsPanel panel(*x, loop, desktop, {});
        panel.Create();
        std::vector<std::shared_ptr<Job>> jobs;
        const char* names[] = {"Holiday photo.heic", "Quarterly report.docx", "Interview.wav", "Slides.pptx"};
        for (int i = 0; i < 4; ++i) {
            auto job = MakeJob({std::string("/home/user/") + names[i]}, Target{i == 2 ? kMp3 : kPdf, 0, ""});
            job->state = i == 0 ? kJobSucceeded : kJobRunning;
            job->status = "Saved as Holiday photo.jpg";
            job->progress = i == 3 ? -1.0f : 0.4f;
            jobs.push_back(job);
            panel.Add(job, 100, 100);
        }
        for (int t = 0; t < 40; ++t) panel.Tick(MonotonicMs() + t * 16);
        int64_t now = MonotonicMs();
        double panelMs = DrawMs(static_cast<int>(372 * scale), static_cast<int>(514 * scale), scale,
                                [&](cairo_t* cr) { panel.Draw(cr, now); });
        auto presentStart = Clock::now();
        for (int i = 0; i < 20; ++i) panel.Tick(MonotonicMs());
        double presentMs = Ms(Clock::now() - presentStart) / 20;

        NoHost host;
        SettingsWindow settings(*x, loop, desktop, host, true);
        settings.Open();
        for (int i = 0; i < 20; ++i) loop.RunOnce(5);
        double settingsMs[2];
        for (size_t page = 0; page < 2; ++page) {
            settings.SelectPage(page);
            settingsMs[page] = DrawMs(settings.PixelWidth(), settings.PixelHeight(), 1.0, [&](cairo_t* cr) {
                cairo_scale(cr, scale, scale);
                settings.Draw(cr);
            });
        }
        settings.Close();
        std::printf("scale %.0f: jobs panel (4 cards) %.2f ms to draw, %.2f ms a whole tick with present; settings %.2f ms "
                    "(performance), %.2f ms (general)\n",
                    scale, panelMs, presentMs, settingsMs[0], settingsMs[1]);
        SetDpi(x->get(), 96);
    }
}

long ProcessCpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < text.size()) {
        size_t space = text.find(' ', at);
        fields.push_back(text.substr(at, space - at));
        if (space == std::string::npos) break;
        at = space + 1;
    }
    return fields.size() > 12 ? std::atol(fields[11].c_str()) + std::atol(fields[12].c_str()) : -1;  // utime + stime
}

long RssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

pid_t StartProgram(const std::string& program, std::vector<std::string> args) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

bool IsSettingsWindow(Display* d, Window w) {
    char* name = nullptr;
    bool yes = false;
    if (XFetchName(d, w, &name) && name) {
        XWindowAttributes a;
        yes = std::string(name) == "Quillaven" && XGetWindowAttributes(d, w, &a) && a.width >= 600;
        XFree(name);
    }
    return yes;
}

void ProgramFigures(const std::string& display, int idleSeconds) {
    std::string program = ModulePath();
    program = program.substr(0, program.rfind('/')) + "/../Quillaven";
    Display* d = XOpenDisplay(display.c_str());
    if (!d) {
        std::printf("the virtual display went away\n");
        return;
    }
    // A system tray of our own, to time the icon's docking.
    Window tray = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 100, 30, 0, 0, 0);
    XSetSelectionOwner(d, XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False), tray, CurrentTime);
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    auto wait = [&](auto done, int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            while (XPending(d)) {
                XEvent event;
                XNextEvent(d, &event);
                if (done(event)) return true;
            }
            pollfd p{ConnectionNumber(d), POLLIN, 0};
            ::poll(&p, 1, 10);
        }
        return false;
    };
    auto start = Clock::now();
    pid_t host = StartProgram(program, {"--background"});
    bool docked = wait([&](XEvent& e) { return e.type == ClientMessage && e.xclient.data.l[1] == 0; }, 10000);
    double dockMs = Ms(Clock::now() - start);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    start = Clock::now();
    pid_t second = StartProgram(program, {});
    bool shown = wait([&](XEvent& e) { return e.type == MapNotify && IsSettingsWindow(d, e.xmap.window); }, 10000);
    double showMs = Ms(Clock::now() - start);
    ::waitpid(second, nullptr, 0);
    // Close the window (as its close box would) and let the host settle into idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        if (!IsSettingsWindow(d, children[i])) continue;
        XEvent close{};
        close.xclient.type = ClientMessage;
        close.xclient.window = children[i];
        close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        close.xclient.format = 32;
        close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
        XSendEvent(d, children[i], False, NoEventMask, &close);
    }
    if (children) XFree(children);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::seconds(4));  // past the idle trim
    long ticksBefore = ProcessCpuTicks(host);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    long ticks = ProcessCpuTicks(host) - ticksBefore;
    long rss = RssKiB(host);
    std::printf("host start to tray icon docked: %s%.0f ms (goal < 150)\n", docked ? "" : "NOT DOCKED ", dockMs);
    std::printf("second start to settings shown: %s%.0f ms (goal < 200)\n", shown ? "" : "NOT SHOWN ", showMs);
    std::printf("idle CPU over %d s: %.2f s (%ld ticks); idle resident memory %.1f MiB (goal < 40)\n", idleSeconds,
                static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK)), ticks, static_cast<double>(rss) / 1024.0);
    ::kill(host, SIGTERM);
    ::waitpid(host, nullptr, 0);
    XCloseDisplay(d);
}

}  // namespace

int main(int argc, char** argv) {
    int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    std::string display;
    pid_t xvfb = StartXvfb(display);
    if (xvfb <= 0 || display == ":") {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    ::setenv("DISPLAY", display.c_str(), 1);
    char home[] = "/tmp/quillaven-bench-XXXXXX";
    if (::mkdtemp(home)) {
        ::setenv("XDG_CONFIG_HOME", home, 1);
        ::setenv("XDG_DATA_HOME", home, 1);
    }
    FrameTimes(display);
    ProgramFigures(display, idleSeconds);
    ::kill(xvfb, SIGKILL);
    ::waitpid(xvfb, nullptr, 0);
    std::filesystem::remove_all(home);
    return 0;
}
