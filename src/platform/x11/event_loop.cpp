#include "platform/x11/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace {

constexpr size_t kMaxPostedPerRound = 4096;  // messages handled before the loop looks at X again

uint64_t MonotonicUsec() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace

int64_t MonotonicMs() { return static_cast<int64_t>(MonotonicUsec() / 1000u); }

MessageTarget::MessageTarget(EventLoop& loop) : loop_(loop) { loop_.Register(this); }
MessageTarget::~MessageTarget() { loop_.Unregister(this); }

EventLoop::EventLoop(Display* display) : display_(display) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

EventLoop::~EventLoop() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
    if (signalFd_ >= 0) ::close(signalFd_);
}

void EventLoop::Register(MessageTarget* target) {
    std::lock_guard lock(mutex_);
    targets_.insert(target);
}

void EventLoop::Unregister(MessageTarget* target) {
    {
        std::lock_guard lock(mutex_);
        targets_.erase(target);
        std::erase_if(posted_, [&](const Posted& posted) { return posted.target == target; });
    }
    std::erase_if(timers_, [&](const auto& entry) { return entry.first.first == target; });
}

bool EventLoop::PostMessage(MessageTarget* target, uint32_t message, uint64_t a, int64_t b) {
    {
        std::lock_guard lock(mutex_);
        if (wakeFd_ < 0 || !targets_.count(target)) return false;
        posted_.push_back({target, message, a, b, {}});
    }
    uint64_t one = 1;
    return ::write(wakeFd_, &one, sizeof one) == sizeof one;
}

bool EventLoop::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (wakeFd_ < 0) return false;
        posted_.push_back({nullptr, 0, 0, 0, std::move(task)});
    }
    uint64_t one = 1;
    return ::write(wakeFd_, &one, sizeof one) == sizeof one;
}

void EventLoop::SetTimer(MessageTarget* target, int id, uint32_t periodMs) {
    timers_[{target, id}] = Timer{MonotonicMs() + periodMs, std::max<uint32_t>(periodMs, 1)};
}

void EventLoop::KillTimer(MessageTarget* target, int id) { timers_.erase({target, id}); }

bool EventLoop::TimerRunning(const MessageTarget* target, int id) const { return timers_.count({target, id}) != 0; }

void EventLoop::AddWindow(Window window, XEventHandler* handler) { windows_[window] = handler; }
void EventLoop::RemoveWindow(Window window) { windows_.erase(window); }

int EventLoop::AddFilter(EventFilter filter) {
    int id = nextId_++;
    filters_.emplace(id, std::move(filter));
    return id;
}

void EventLoop::RemoveFilter(int id) { filters_.erase(id); }

int EventLoop::WatchFd(int fd, std::function<short()> events, std::function<void(short)> ready,
                       std::function<uint64_t()> deadline) {
    int id = nextId_++;
    watches_.emplace(id, Watch{fd, std::move(events), std::move(ready), std::move(deadline)});
    return id;
}

void EventLoop::UnwatchFd(int id) { watches_.erase(id); }

bool EventLoop::WatchSignals(std::initializer_list<int> signals, std::function<void(int)> handler) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : signals) sigaddset(&set, signal);
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    int fd = ::signalfd(signalFd_, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return false;
    signalFd_ = fd;
    signalHandler_ = std::move(handler);
    return true;
}

void EventLoop::Quit(int code) {
    quit_ = true;
    quitCode_ = code;
}

int EventLoop::Run() {
    while (!quit_) RunOnce(-1);
    return quitCode_;
}

int64_t EventLoop::NextTimerDue() const {
    int64_t due = INT64_MAX;
    for (const auto& entry : timers_) due = std::min(due, entry.second.due);
    return due;
}

void EventLoop::DispatchPosted() {
    for (size_t handled = 0; handled < kMaxPostedPerRound && !quit_; ++handled) {
        Posted posted;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) return;
            posted = std::move(posted_.front());
            posted_.pop_front();
        }
        if (posted.task)
            posted.task();
        else
            posted.target->OnMessage(posted.message, posted.a, posted.b);  // Unregister purges the queue
    }
}

void EventLoop::DispatchX() {
    if (!display_) return;
    while (!quit_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        bool consumed = false;
        // A filter may remove itself or others while it runs.
        std::vector<int> ids;
        for (const auto& entry : filters_) ids.push_back(entry.first);
        for (int id : ids) {
            auto found = filters_.find(id);
            if (found == filters_.end()) continue;
            EventFilter filter = found->second;  // it may remove itself while it runs
            if (filter(event)) {
                consumed = true;
                break;
            }
        }
        if (consumed) continue;
        auto window = windows_.find(event.xany.window);
        if (window != windows_.end()) window->second->OnXEvent(event);
    }
}

void EventLoop::FireTimers() {
    int64_t now = MonotonicMs();
    std::vector<std::pair<const MessageTarget*, int>> due;
    for (const auto& entry : timers_)
        if (entry.second.due <= now) due.push_back(entry.first);
    for (const auto& key : due) {
        auto found = timers_.find(key);
        if (found == timers_.end() || quit_) continue;  // killed by an earlier timer of this round
        // The next tick is a period after this one: a late tick is never followed by a
        // quick catch-up (animations measure their own time step).
        found->second.due = now + found->second.period;
        const_cast<MessageTarget*>(key.first)->OnTimer(key.second);
    }
}

void EventLoop::RunOnce(int timeoutMs) {
    DispatchPosted();
    DispatchX();
    FireTimers();
    if (quit_) return;

    std::vector<pollfd> fds;
    std::vector<int> watchIds;
    fds.push_back({wakeFd_, POLLIN, 0});
    if (display_) fds.push_back({ConnectionNumber(display_), POLLIN, 0});
    if (signalFd_ >= 0) fds.push_back({signalFd_, POLLIN, 0});
    size_t firstWatch = fds.size();
    uint64_t nowUsec = MonotonicUsec();
    uint64_t deadlineUsec = UINT64_MAX;
    for (const auto& [id, watch] : watches_) {
        fds.push_back({watch.fd, watch.events ? watch.events() : static_cast<short>(POLLIN), 0});
        watchIds.push_back(id);
        if (watch.deadline) deadlineUsec = std::min(deadlineUsec, watch.deadline());
    }

    int64_t wait = timeoutMs;
    int64_t timerDue = NextTimerDue();
    if (timerDue != INT64_MAX) {
        int64_t untilTimer = std::max<int64_t>(0, timerDue - MonotonicMs());
        wait = wait < 0 ? untilTimer : std::min(wait, untilTimer);
    }
    if (deadlineUsec != UINT64_MAX) {
        int64_t untilDeadline = deadlineUsec <= nowUsec ? 0 : static_cast<int64_t>((deadlineUsec - nowUsec + 999) / 1000);
        wait = wait < 0 ? untilDeadline : std::min(wait, untilDeadline);
    }
    if (display_) {
        XFlush(display_);
        if (XEventsQueued(display_, QueuedAlready) > 0) wait = 0;
    }
    {
        std::lock_guard lock(mutex_);
        if (!posted_.empty()) wait = 0;
    }
    int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<int64_t>(wait, INT_MAX)));
    if (ready < 0) return;  // EINTR: the next round looks again

    if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        while (::read(wakeFd_, &count, sizeof count) == sizeof count) {
        }
    }
    if (signalFd_ >= 0) {
        const pollfd& signalPoll = fds[display_ ? 2 : 1];
        if (signalPoll.revents & POLLIN) {
            signalfd_siginfo info{};
            while (::read(signalFd_, &info, sizeof info) == sizeof info)
                if (signalHandler_) signalHandler_(static_cast<int>(info.ssi_signo));
        }
    }
    nowUsec = MonotonicUsec();
    for (size_t i = 0; i < watchIds.size(); ++i) {
        auto found = watches_.find(watchIds[i]);
        if (found == watches_.end()) continue;
        short revents = fds[firstWatch + i].revents;
        bool due = found->second.deadline && found->second.deadline() <= nowUsec;
        if (revents || due) {
            auto callback = found->second.ready;  // it may unwatch itself while it runs
            callback(revents);
        }
    }
    DispatchPosted();
    DispatchX();
    FireTimers();
}
