// One host per user and display: the host listens on an abstract Unix socket, and a
// second start talks to it instead of becoming a host. Requests are single lines:
//   show-settings 0x51565331 [startup id]   open the settings window (answer "ok")
//   close                                   end the host without a question (answer "ok")
//   open\0<path>\0<path>...                 hand files over (answer "ok" or "unavailable")
// Abstract sockets vanish with their process, so a crashed host leaves nothing stale.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class EventLoop;

inline constexpr uint32_t kShowSettingsTag = 0x51565331;
inline constexpr size_t kMaxInstanceRequestBytes = 4 << 20;  // an "open" of some thousand long paths
inline constexpr int kInstanceAnswerTimeoutMs = 3000;        // the hand-over's wait for an answer

// "Quillaven.SingleInstance.<uid>.<display>" (the socket's abstract name, without its NUL).
std::string SingleInstanceName(uid_t uid, std::string_view display);

struct InstanceRequest {
    enum Kind { kShowSettings, kClose, kOpen } kind = kShowSettings;
    std::string startupId;           // kShowSettings: the starter's DESKTOP_STARTUP_ID, may be empty
    std::vector<std::string> paths;  // kOpen: absolute paths
};

// A request line without its line feed; nothing for anything else (an unknown word, a
// show-settings with another tag, an open with a relative path or an empty list).
std::optional<InstanceRequest> ParseInstanceRequest(std::string_view line);
std::string FormatInstanceRequest(const InstanceRequest& request);  // with its line feed

// The host's side: accepts connections from the same user only and reads one request
// from each without ever blocking the loop.
class InstanceServer {
public:
    enum class BindResult { kBound, kTaken, kFailed };
    using Handler = std::function<std::string(const InstanceRequest&, pid_t peer)>;  // returns the answer word

    InstanceServer() = default;
    ~InstanceServer();
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;

    // Taking the name decides whether this process is the host, before any window exists.
    BindResult Bind(const std::string& name);
    // Starts answering requests on the loop.
    void Listen(EventLoop& loop, Handler handler);
    // Stops answering before the loop goes away; the name stays taken until the process ends.
    void Detach();

private:
    struct Client {
        int fd;
        int watch;
        int64_t deadline;
        pid_t pid;
        std::string buffer;
    };
    void Accept();
    void Read(int fd);
    void Drop(int fd);

    EventLoop* loop_ = nullptr;
    int listenFd_ = -1;
    int listenWatch_ = 0;
    Handler handler_;
    std::map<int, Client> clients_;
};

// The second start's side: connects (trying `tries` times, `retryMs` apart), sends the
// request and waits up to kInstanceAnswerTimeoutMs for the answer line.
struct HandOver {
    bool connected = false;
    std::string answer;  // without its line feed; empty when none came
    pid_t hostPid = 0;   // the host's process, from the socket's peer credentials
};
HandOver SendToHost(const std::string& name, const InstanceRequest& request, int tries, int retryMs);
