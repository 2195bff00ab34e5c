#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/x11/event_loop.h"

namespace {

constexpr int kClientTimeoutMs = 3000;  // a peer that sends no full line in time is dropped
constexpr size_t kMaxClients = 64;      // more at once is not a second start, it is a flood

socklen_t AbstractAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);  // sun_path[0] = 0: the abstract namespace
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

bool PeerCredentials(int fd, ucred& credentials) {
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && length == sizeof credentials;
}

bool IsAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == '/' && path.find('\n') == std::string_view::npos;
}

}  // namespace

std::string SingleInstanceName(uid_t uid, std::string_view display) {
    return "Quillaven.SingleInstance." + std::to_string(uid) + "." + std::string(display);
}

std::optional<InstanceRequest> ParseInstanceRequest(std::string_view line) {
    if (line.size() > kMaxInstanceRequestBytes || line.find('\n') != std::string_view::npos) return std::nullopt;
    InstanceRequest request;
    if (line == "close") {
        request.kind = InstanceRequest::kClose;
        return request;
    }
    constexpr std::string_view kShow = "show-settings ";
    if (line.substr(0, kShow.size()) == kShow) {
        std::string_view rest = line.substr(kShow.size());
        size_t space = rest.find(' ');
        std::string_view tag = rest.substr(0, space);
        if (tag.size() < 3 || tag.substr(0, 2) != "0x") return std::nullopt;
        uint32_t value = 0;
        auto [end, error] = std::from_chars(tag.data() + 2, tag.data() + tag.size(), value, 16);
        if (error != std::errc() || end != tag.data() + tag.size() || value != kShowSettingsTag) return std::nullopt;
        request.kind = InstanceRequest::kShowSettings;
        if (space != std::string_view::npos) request.startupId = std::string(rest.substr(space + 1));
        if (request.startupId.find('\0') != std::string::npos) return std::nullopt;
        return request;
    }
    constexpr std::string_view kOpen("open\0", 5);
    if (line.substr(0, kOpen.size()) == kOpen) {
        request.kind = InstanceRequest::kOpen;
        std::string_view rest = line.substr(kOpen.size());
        while (true) {
            size_t end = rest.find('\0');
            std::string_view path = rest.substr(0, end);
            if (!IsAbsolutePath(path)) return std::nullopt;
            request.paths.emplace_back(path);
            if (end == std::string_view::npos) break;
            rest = rest.substr(end + 1);
        }
        return request;
    }
    return std::nullopt;
}

std::string FormatInstanceRequest(const InstanceRequest& request) {
    switch (request.kind) {
        case InstanceRequest::kClose:
            return "close\n";
        case InstanceRequest::kShowSettings: {
            std::string line = "show-settings 0x51565331";
            if (!request.startupId.empty()) line += " " + request.startupId;
            return line + "\n";
        }
        case InstanceRequest::kOpen: {
            std::string line = "open";
            for (const std::string& path : request.paths) {
                line.push_back('\0');
                line += path;
            }
            return line + "\n";
        }
    }
    return {};
}

InstanceServer::~InstanceServer() {
    Detach();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void InstanceServer::Detach() {
    while (!clients_.empty()) Drop(clients_.begin()->first);
    if (listenWatch_ && loop_) loop_->UnwatchFd(listenWatch_);
    listenWatch_ = 0;
    loop_ = nullptr;
}

InstanceServer::BindResult InstanceServer::Bind(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return BindResult::kFailed;
    sockaddr_un address;
    socklen_t length = AbstractAddress(name, address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? BindResult::kTaken : BindResult::kFailed;
    }
    if (::listen(fd, 16) != 0) {
        ::close(fd);
        return BindResult::kFailed;
    }
    listenFd_ = fd;
    return BindResult::kBound;
}

void InstanceServer::Listen(EventLoop& loop, Handler handler) {
    if (listenFd_ < 0 || loop_) return;
    loop_ = &loop;
    handler_ = std::move(handler);
    listenWatch_ = loop_->WatchFd(listenFd_, {}, [this](short) { Accept(); });
}

void InstanceServer::Accept() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        ucred credentials{};
        if (clients_.size() >= kMaxClients || !PeerCredentials(fd, credentials) || credentials.uid != ::getuid()) {
            ::close(fd);
            continue;
        }
        int64_t deadline = MonotonicMs() + kClientTimeoutMs;
        int watch = loop_->WatchFd(
            fd, {}, [this, fd](short) { Read(fd); },
            [this, fd]() -> uint64_t {
                auto found = clients_.find(fd);
                return found == clients_.end() ? UINT64_MAX : static_cast<uint64_t>(found->second.deadline) * 1000u;
            });
        clients_.emplace(fd, Client{fd, watch, deadline, credentials.pid, {}});
    }
}

void InstanceServer::Read(int fd) {
    auto found = clients_.find(fd);
    if (found == clients_.end()) return;
    Client& client = found->second;
    char chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            client.buffer.append(chunk, static_cast<size_t>(got));
            if (client.buffer.size() > kMaxInstanceRequestBytes + 1) return Drop(fd);
            size_t end = client.buffer.find('\n');
            if (end == std::string::npos) continue;
            std::optional<InstanceRequest> request = ParseInstanceRequest(std::string_view(client.buffer).substr(0, end));
            pid_t pid = client.pid;
            std::string answer = request && handler_ ? handler_(*request, pid) : std::string("unknown");
            answer.push_back('\n');
            // A small answer fits the socket buffer; a peer that stopped reading loses it.
            if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            }
            return Drop(fd);
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (MonotonicMs() >= client.deadline) return Drop(fd);
            return;
        }
        return Drop(fd);  // closed before a whole line, or an error
    }
}

void InstanceServer::Drop(int fd) {
    auto found = clients_.find(fd);
    if (found == clients_.end()) return;
    loop_->UnwatchFd(found->second.watch);
    ::close(fd);
    clients_.erase(found);
}

HandOver SendToHost(const std::string& name, const InstanceRequest& request, int tries, int retryMs) {
    HandOver result;
    sockaddr_un address;
    socklen_t length = AbstractAddress(name, address);
    int fd = -1;
    for (int attempt = 0; attempt < tries; ++attempt) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return result;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) break;
        ::close(fd);
        fd = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(retryMs));
    }
    if (fd < 0) return result;
    result.connected = true;
    ucred credentials{};
    if (PeerCredentials(fd, credentials)) {
        if (credentials.uid != ::getuid()) {  // someone else holds our name: tell it nothing
            ::close(fd);
            result.connected = false;
            return result;
        }
        result.hostPid = credentials.pid;
    }
    std::string line = FormatInstanceRequest(request);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kInstanceAnswerTimeoutMs);
    size_t sent = 0;
    while (sent < line.size()) {
        ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(fd);
            return result;
        }
        sent += static_cast<size_t>(n);
    }
    std::string answer;
    while (answer.find('\n') == std::string::npos && answer.size() < 256) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char chunk[256];
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        answer.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    size_t end = answer.find('\n');
    if (end != std::string::npos) result.answer = answer.substr(0, end);
    return result;
}
