// The user-interface thread's loop: one poll() over the X connection, an eventfd for
// messages posted from any thread, the nearest timer, a signalfd for the end of the
// session and any further descriptors (the session bus, the single-instance socket).
// Messages and timers go to `MessageTarget`s, the loop's stand-in for windows.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

class EventLoop;

// Milliseconds of the monotonic clock.
int64_t MonotonicMs();

// Receives posted messages and timers. It registers itself with its loop for its whole
// life, so a message posted to a target that is gone is dropped, never delivered.
class MessageTarget {
public:
    explicit MessageTarget(EventLoop& loop);
    virtual ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    virtual void OnMessage(uint32_t /*message*/, uint64_t /*a*/, int64_t /*b*/) {}
    virtual void OnTimer(int /*id*/) {}
    EventLoop& Loop() const { return loop_; }

private:
    EventLoop& loop_;
};

// Receives the X events of the windows it registered.
class XEventHandler {
public:
    virtual ~XEventHandler() = default;
    virtual void OnXEvent(XEvent& event) = 0;
};

class EventLoop {
public:
    // `display` may be null (a loop without X, as tests of the host's logic use).
    explicit EventLoop(Display* display);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
    bool Ok() const { return wakeFd_ >= 0; }

    // Any thread. False when the target is gone or the loop cannot be woken.
    bool PostMessage(MessageTarget* target, uint32_t message, uint64_t a = 0, int64_t b = 0);
    // Any thread: runs `task` on the loop's thread.
    bool Post(std::function<void()> task);

    // Loop thread. A timer fires every `periodMs` until killed; setting it again restarts it.
    void SetTimer(MessageTarget* target, int id, uint32_t periodMs);
    void KillTimer(MessageTarget* target, int id);
    bool TimerRunning(const MessageTarget* target, int id) const;
    size_t TimerCount() const { return timers_.size(); }

    void AddWindow(Window window, XEventHandler* handler);
    void RemoveWindow(Window window);
    // Sees every X event first (root properties, extension events); returns true to consume it.
    using EventFilter = std::function<bool(XEvent&)>;
    int AddFilter(EventFilter filter);
    void RemoveFilter(int id);

    // A further descriptor: `ready` runs with the poll result when it is ready, or when the
    // absolute monotonic deadline in microseconds (UINT64_MAX for none) from `deadline` passes.
    int WatchFd(int fd, std::function<short()> events, std::function<void(short)> ready,
                std::function<uint64_t()> deadline = {});
    void UnwatchFd(int id);
    // Blocks the signals and delivers them through a signalfd.
    bool WatchSignals(std::initializer_list<int> signals, std::function<void(int)> handler);

    // Runs until Quit; returns its code.
    int Run();
    // Runs one round: waits up to `timeoutMs` (0: no wait) for something to do, then does it.
    void RunOnce(int timeoutMs);
    void Quit(int code);
    bool Quitting() const { return quit_; }

private:
    friend class MessageTarget;
    struct Posted {
        MessageTarget* target;
        uint32_t message;
        uint64_t a;
        int64_t b;
        std::function<void()> task;
    };
    struct Timer {
        int64_t due;
        uint32_t period;
    };
    struct Watch {
        int fd;
        std::function<short()> events;
        std::function<void(short)> ready;
        std::function<uint64_t()> deadline;
    };

    void Register(MessageTarget* target);
    void Unregister(MessageTarget* target);
    void DispatchPosted();
    void DispatchX();
    void FireTimers();
    int64_t NextTimerDue() const;

    Display* display_;
    int wakeFd_ = -1;
    int signalFd_ = -1;
    std::function<void(int)> signalHandler_;

    mutable std::mutex mutex_;  // guards posted_ and targets_
    std::deque<Posted> posted_;
    std::set<MessageTarget*> targets_;

    std::map<std::pair<const MessageTarget*, int>, Timer> timers_;
    std::map<Window, XEventHandler*> windows_;
    std::map<int, EventFilter> filters_;
    std::map<int, Watch> watches_;
    int nextId_ = 1;
    bool quit_ = false;
    int quitCode_ = 0;
};
