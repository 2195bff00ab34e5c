// Fixtures for tests of the desktop shell: a private session bus, an X display, the
// notification server dunst, the stand-in services of tests/tools/bus_service, a local
// HTTPS server, and a loop that pumps a bus connection the way the host's loop does.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

class SessionBus;

namespace testing_support {

using std::chrono::milliseconds;

// A program started with its standard input and output on pipes (standard error
// goes with the output). Stopped (SIGTERM, then SIGKILL) and reaped when destroyed.
class ChildProcess {
public:
    // `environment` entries ("NAME=value") are added to this process's environment.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    pid_t Pid() const { return pid_; }
    // The next output line containing `part` (earlier lines are skipped and kept in
    // Output()); nothing when none came in time or the program ended.
    std::optional<std::string> WaitForLine(const std::string& part, milliseconds timeout = milliseconds(5000));
    // Everything read so far.
    const std::string& Output() const { return output_; }
    void Send(const std::string& line);
    // Ends it with `signal` first (SIGKILL: no chance to say goodbye), then SIGKILL.
    void Stop(int signal = 15);

private:
    bool ReadSome(int timeoutMs);
    pid_t pid_ = -1;
    int input_ = -1;
    int output_fd_ = -1;
    std::string output_;
    size_t consumed_ = 0;  // output_ up to here was returned or skipped by WaitForLine
};

// Sets an environment variable for a scope and restores the old value after.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// dbus-daemon with a session configuration of our own: no system service folders, so
// nothing installed on the machine is started by activation. Points
// DBUS_SESSION_BUS_ADDRESS at it for its lifetime.
class PrivateBus {
public:
    PrivateBus();
    const std::string& Address() const { return address_; }
    bool Started() const { return !address_.empty(); }
    // A folder whose NAME.service files the daemon can start by activation.
    const std::string& ServiceFolder() const { return services_; }
    // Kills the daemon outright, so that no client hears of another's departure first.
    void Crash() { daemon_->Stop(9); }

private:
    TempDir folder_;
    std::string services_;
    std::string address_;
    std::optional<ChildProcess> daemon_;
    std::optional<ScopedEnvironment> environment_;
};

// Xvfb on a free display number with a 32-bit visual; points DISPLAY at it.
class VirtualDisplay {
public:
    VirtualDisplay();
    bool Started() const { return !display_.empty(); }
    const std::string& Display() const { return display_; }

private:
    std::string display_;
    std::optional<ChildProcess> server_;
    std::optional<ScopedEnvironment> environment_;
};

// One notification as dunst -print reports it.
struct PrintedNotification {
    std::string appname;
    std::string summary;
    std::string body;
    std::string id;
    std::string actions;  // the lines of its actions block, joined by "|"
};

// dunst on the current DISPLAY and session bus with a test dunstrc in which a left
// click on a notification invokes its default action.
class Dunst {
public:
    Dunst();
    bool Started() const { return started_; }
    std::optional<PrintedNotification> WaitForNotification(milliseconds timeout = milliseconds(5000));
    // Invokes the default action of the topmost notification, as a click does.
    bool ClickTopmost();
    // Closes the topmost notification, as dismissing it does.
    bool CloseTopmost();

private:
    TempDir folder_;
    std::optional<ChildProcess> dunst_;
    std::vector<std::string> block_;
    bool started_ = false;
};

// tests/tools/bus_service in one of its roles, started once its name is owned.
class BusService {
public:
    explicit BusService(const std::vector<std::string>& arguments);
    bool Ready() const { return ready_; }
    ChildProcess& Process() { return *process_; }
    std::optional<std::string> WaitForLine(const std::string& part, milliseconds timeout = milliseconds(5000)) {
        return process_->WaitForLine(part, timeout);
    }
    // Sends a command and waits for the line that confirms it.
    std::optional<std::string> Ask(const std::string& command, const std::string& answer,
                                   milliseconds timeout = milliseconds(5000));

private:
    std::optional<ChildProcess> process_;
    bool ready_ = false;
};

// Runs the connection's loop as the host does until `done` says so or time runs out;
// returns whether `done` was reached.
bool PumpUntil(SessionBus& bus, const std::function<bool()>& done, milliseconds timeout = milliseconds(5000));
// Runs the loop for a while.
void PumpFor(SessionBus& bus, milliseconds duration);

// A local HTTPS server (python3) with a certificate made for this run. It serves files
// from Root() as they are, and these paths (each ending in /version.json):
//   /status/CODE/          answers CODE with a manifest of version 9.9 as body
//   /redirect-to-https/    302 to https://.../newer/version.json
//   /redirect-to-http/     302 to the plain server's /newer/version.json
//   /slow/                 sends the status line and headers, then nothing for a minute
//   /big/N/K/              N bytes of spaces with the member "version": "9.9" at offset K
// It also answers plain HTTP on HttpUrl() with the same paths.
class HttpsServer {
public:
    HttpsServer();
    ~HttpsServer();
    bool Started() const { return port_ != 0; }
    std::string Url(const std::string& path) const;       // https://127.0.0.1:PORT/path
    std::string HttpUrl(const std::string& path) const;   // http://127.0.0.1:HTTPPORT/path
    const std::string& Root() const { return root_; }
    const std::string& Certificate() const { return certificate_; }
    // Requests served so far, one "METHOD PATH" line each.
    std::string Log();

private:
    TempDir folder_;
    std::string root_;
    std::string certificate_;
    int port_ = 0;
    int httpPort_ = 0;
    std::optional<ChildProcess> server_;
};

}  // namespace testing_support
