#include "support/desktop_services.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "platform/dbus/session_bus.h"

extern char** environ;

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits until some connection owns `name` on the current session bus.
bool WaitForBusName(const char* name, milliseconds timeout) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return false;
    auto deadline = Clock::now() + timeout;
    bool owned = false;
    while (!owned && Clock::now() < deadline) {
        sd_bus_message* reply = nullptr;
        int has = 0;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", name) >= 0 &&
            sd_bus_message_read(reply, "b", &has) >= 0)
            owned = has != 0;
        sd_bus_message_unref(reply);
        if (!owned) std::this_thread::sleep_for(milliseconds(20));
    }
    sd_bus_flush_close_unref(bus);
    return owned;
}

}  // namespace

// ---- ChildProcess

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    // Everything the child needs is built before fork: a test process may have threads.
    std::vector<std::string> variables;
    for (char** each = environ; *each; ++each) {
        std::string entry = *each;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = std::any_of(environment.begin(), environment.end(),
                                    [&](const std::string& added) { return added.rfind(name + "=", 0) == 0; });
        if (!replaced) variables.push_back(entry);
    }
    variables.insert(variables.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args) argp.push_back(arg.data());
    argp.push_back(nullptr);

    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);  // its own group, so that Stop also ends what it starts
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::dup2(fromChild[1], 2);
        ::execvpe(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    input_ = toChild[1];
    output_fd_ = fromChild[0];
    if (pid_ < 0) Stop();
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool ChildProcess::ReadSome(int timeoutMs) {
    if (output_fd_ < 0) return false;
    pollfd fd{output_fd_, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) return true;
    char chunk[4096];
    ssize_t got = ::read(output_fd_, chunk, sizeof chunk);
    if (got <= 0) {
        ::close(output_fd_);
        output_fd_ = -1;
        return false;
    }
    output_.append(chunk, static_cast<size_t>(got));
    return true;
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& part, milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t end;
        while ((end = output_.find('\n', consumed_)) != std::string::npos) {
            std::string line = output_.substr(consumed_, end - consumed_);
            consumed_ = end + 1;
            if (line.find(part) != std::string::npos) return line;
        }
        // At least one look at the pipe, even when no time was given.
        bool late = Clock::now() >= deadline;
        size_t had = output_.size();
        if (!ReadSome(RemainingMs(deadline))) return std::nullopt;
        if (late && output_.size() == had) return std::nullopt;
    }
}

void ChildProcess::Send(const std::string& line) {
    std::string text = line + "\n";
    if (input_ >= 0 && ::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        // the program has ended; the test sees that in its output
    }
}

void ChildProcess::Stop(int signal) {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    if (pid_ > 0) {
        ::kill(-pid_, signal);
        ::kill(pid_, signal);
        int status = 0;
        for (int round = 0; round < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++round)
            std::this_thread::sleep_for(milliseconds(10));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        ::kill(-pid_, SIGKILL);  // whatever it started and left behind
        pid_ = -1;
    }
    if (output_fd_ >= 0) ::close(output_fd_);
    output_fd_ = -1;
}

// ---- ScopedEnvironment

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

// ---- PrivateBus

PrivateBus::PrivateBus() : services_(folder_.File("services")) {
    ::mkdir(services_.c_str(), 0700);
    std::string config = folder_.File("session.conf");
    WriteFile(config,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>session</type>\n"
              "  <listen>unix:dir=" + folder_.path() + "</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <servicedir>" + services_ + "</servicedir>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n");
    daemon_.emplace(std::vector<std::string>{"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"});
    auto line = daemon_->WaitForLine("unix:");
    if (!line) return;
    address_ = *line;
    environment_.emplace("DBUS_SESSION_BUS_ADDRESS", address_);
}

// ---- VirtualDisplay

VirtualDisplay::VirtualDisplay() {
    server_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "+extension",
                                             "Composite", "-nolisten", "tcp"});
    auto deadline = Clock::now() + milliseconds(10000);
    while (Clock::now() < deadline) {
        auto line = server_->WaitForLine("", milliseconds(RemainingMs(deadline)));
        if (!line) return;
        if (!line->empty() && std::all_of(line->begin(), line->end(), [](char c) { return c >= '0' && c <= '9'; })) {
            display_ = ":" + *line;
            environment_.emplace("DISPLAY", display_);
            return;
        }
    }
}

// ---- Dunst

Dunst::Dunst() {
    std::string config = folder_.File("dunstrc");
    WriteFile(config,
              "[global]\n"
              "    mouse_left_click = do_action\n"
              "    mouse_middle_click = close_current\n"
              "    origin = top-right\n"
              "    offset = 10x10\n"
              "    width = 300\n"
              "    idle_threshold = 0\n");
    dunst_.emplace(std::vector<std::string>{"dunst", "-config", config, "-print"});
    started_ = WaitForBusName("org.freedesktop.Notifications", milliseconds(5000));
}

std::optional<PrintedNotification> Dunst::WaitForNotification(milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    // A block of -print output runs from "{" to "}" at the start of a line; lines read
    // by an earlier call that ran out of time are kept in block_.
    while (auto line = dunst_->WaitForLine("", milliseconds(RemainingMs(deadline)))) {
        if (*line != "}") {
            block_.push_back(*line);
            continue;
        }
        PrintedNotification notification;
        auto value = [](const std::string& text) {
            size_t open = text.find('\'');
            size_t last = text.rfind('\'');
            return open != std::string::npos && last > open ? text.substr(open + 1, last - open - 1) : std::string();
        };
        bool inActions = false;
        for (const std::string& each : block_) {
            size_t start = each.find_first_not_of("\t ");
            std::string trimmed = start == std::string::npos ? std::string() : each.substr(start);
            if (inActions) {
                if (trimmed == "}")
                    inActions = false;
                else
                    notification.actions += (notification.actions.empty() ? "" : "|") + trimmed;
            } else if (trimmed.rfind("appname:", 0) == 0) {
                notification.appname = value(trimmed);
            } else if (trimmed.rfind("summary:", 0) == 0) {
                notification.summary = value(trimmed);
            } else if (trimmed.rfind("body:", 0) == 0) {
                notification.body = value(trimmed);
            } else if (trimmed.rfind("id:", 0) == 0) {
                notification.id = trimmed.substr(4);
            } else if (trimmed.rfind("actions: {", 0) == 0) {
                inActions = true;
            }
        }
        block_.clear();
        return notification;
    }
    return std::nullopt;
}

bool Dunst::ClickTopmost() { return RunCommand("dunstctl action 0").exitCode == 0; }

bool Dunst::CloseTopmost() { return RunCommand("dunstctl close").exitCode == 0; }

// ---- BusService

BusService::BusService(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{QUILL_TOOL_bus_service};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process_.emplace(argv);
    ready_ = process_->WaitForLine("ready").has_value();
}

std::optional<std::string> BusService::Ask(const std::string& command, const std::string& answer,
                                           milliseconds timeout) {
    process_->Send(command);
    return process_->WaitForLine(answer, timeout);
}

// ---- pumping a connection

bool PumpUntil(SessionBus& bus, const std::function<bool()>& done, milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        bus.Process();
        if (done()) return true;
        int wait = RemainingMs(deadline);
        if (wait == 0) return false;
        uint64_t due = bus.TimeoutUsec();
        if (due != UINT64_MAX) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            uint64_t nowUsec = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
            int untilDue = due <= nowUsec ? 0 : static_cast<int>(std::min<uint64_t>((due - nowUsec + 999) / 1000, 60000));
            wait = std::min(wait, untilDue);
        }
        pollfd fd{bus.Descriptor(), bus.Events(), 0};
        ::poll(&fd, 1, std::min(wait, 50));
    }
}

void PumpFor(SessionBus& bus, milliseconds duration) {
    PumpUntil(bus, [] { return false; }, duration);
}

// ---- HttpsServer

HttpsServer::HttpsServer() : root_(folder_.File("root")), certificate_(folder_.File("cert.pem")) {
    ::mkdir(root_.c_str(), 0700);
    std::string key = folder_.File("key.pem");
    CommandResult made = RunCommand(
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout " + ShellQuote(key) + " -out " + ShellQuote(certificate_));
    if (made.exitCode != 0) return;
    server_.emplace(std::vector<std::string>{"python3", std::string(QUILL_SOURCE_DIR) + "/tests/support/https_server.py",
                                             certificate_, key, root_});
    auto line = server_->WaitForLine("ports ", milliseconds(10000));
    if (!line) return;
    std::istringstream words(line->substr(6));
    words >> port_ >> httpPort_;
}

HttpsServer::~HttpsServer() = default;

std::string HttpsServer::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::string HttpsServer::HttpUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + "/" + path;
}

std::string HttpsServer::Log() {
    std::string log;
    while (auto line = server_->WaitForLine("request ", milliseconds(50))) log += line->substr(8) + "\n";
    return log;
}

}  // namespace testing_support
