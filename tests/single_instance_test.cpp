// One host per user and display: the request lines, and a host's socket answering a
// second start, ignoring a silent peer and refusing a second bind.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/single_instance.h"
#include "platform/x11/event_loop.h"

namespace {

using namespace std::string_literals;

TEST(InstanceRequests, ParseAndFormat) {
    struct Case {
        std::string line;
        bool ok;
        InstanceRequest::Kind kind;
        std::string startupId;
        std::vector<std::string> paths;
    } cases[] = {
        {"close", true, InstanceRequest::kClose, "", {}},
        {"show-settings 0x51565331", true, InstanceRequest::kShowSettings, "", {}},
        {"show-settings 0x51565331 launcher_TIME77", true, InstanceRequest::kShowSettings, "launcher_TIME77", {}},
        {"show-settings 0x51565332", false, {}, "", {}},  // another tag is ignored
        {"show-settings 0x", false, {}, "", {}},
        {"show-settings 51565331", false, {}, "", {}},
        {"show-settings 0x51565331x", false, {}, "", {}},
        {"open\0/a/b.png\0/c d/e.docx"s, true, InstanceRequest::kOpen, "", {"/a/b.png", "/c d/e.docx"}},
        {"open\0relative.png"s, false, {}, "", {}},
        {"open\0/a\0\0/b"s, false, {}, "", {}},  // an empty path
        {"open\0"s, false, {}, "", {}},
        {"open", false, {}, "", {}},
        {"close ", false, {}, "", {}},
        {"CLOSE", false, {}, "", {}},
        {"", false, {}, "", {}},
    };
    for (const Case& c : cases) {
        std::optional<InstanceRequest> request = ParseInstanceRequest(c.line);
        ASSERT_EQ(request.has_value(), c.ok) << c.line;
        if (!c.ok) continue;
        EXPECT_EQ(request->kind, c.kind);
        EXPECT_EQ(request->startupId, c.startupId);
        EXPECT_EQ(request->paths, c.paths);
        std::string formatted = FormatInstanceRequest(*request);
        EXPECT_EQ(formatted, c.line + "\n");
    }
    EXPECT_EQ(SingleInstanceName(1000, ":0"), "Quillaven.SingleInstance.1000.:0");
}

// A host on a private name, answering on its own loop in a thread.
struct Host {
    std::string name = "Quillaven.SingleInstance.test." + std::to_string(::getpid()) + "." +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    InstanceServer server;
    std::atomic<int> shows{0}, closes{0};
    std::atomic<bool> stop{false};
    std::thread thread;
    std::string lastStartupId;

    bool Start() {
        if (server.Bind(name) != InstanceServer::BindResult::kBound) return false;
        thread = std::thread([this] {
            EventLoop loop(nullptr);
            server.Listen(loop, [this](const InstanceRequest& request, pid_t peer) -> std::string {
                EXPECT_EQ(peer, ::getpid());
                if (request.kind == InstanceRequest::kShowSettings) {
                    lastStartupId = request.startupId;
                    ++shows;
                }
                if (request.kind == InstanceRequest::kClose) ++closes;
                return "ok";
            });
            while (!stop) loop.RunOnce(20);
            server.Detach();
        });
        return true;
    }
    ~Host() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
};

TEST(InstanceServer, AnswersASecondStartAndRefusesASecondHost) {
    Host host;
    ASSERT_TRUE(host.Start());
    InstanceServer second;
    EXPECT_EQ(second.Bind(host.name), InstanceServer::BindResult::kTaken);

    // A peer that connects and says nothing does not hold up the next one.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, host.name.data(), host.name.size());
    int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&address),
                        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + host.name.size())),
              0);

    InstanceRequest show;
    show.kind = InstanceRequest::kShowSettings;
    show.startupId = "x_TIME5";
    auto start = std::chrono::steady_clock::now();
    HandOver result = SendToHost(host.name, show, 1, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_TRUE(result.connected);
    EXPECT_EQ(result.answer, "ok");
    EXPECT_EQ(result.hostPid, ::getpid());
    EXPECT_EQ(host.shows.load(), 1);
    EXPECT_EQ(host.lastStartupId, "x_TIME5");

    // Garbage gets "unknown" and changes nothing.
    ::send(silent, "show-settings 0x1\n", 18, MSG_NOSIGNAL);
    char answer[32] = {};
    ssize_t got = ::recv(silent, answer, sizeof answer, 0);
    EXPECT_EQ(std::string(answer, got > 0 ? static_cast<size_t>(got) : 0), "unknown\n");
    ::close(silent);

    InstanceRequest close;
    close.kind = InstanceRequest::kClose;
    EXPECT_EQ(SendToHost(host.name, close, 1, 0).answer, "ok");
    EXPECT_EQ(host.closes.load(), 1);
    EXPECT_EQ(host.shows.load(), 1);
}

TEST(InstanceServer, NoHostMeansNoConnection) {
    InstanceRequest close;
    close.kind = InstanceRequest::kClose;
    auto start = std::chrono::steady_clock::now();
    HandOver result = SendToHost("Quillaven.SingleInstance.nobody." + std::to_string(::getpid()), close, 3, 10);
    EXPECT_FALSE(result.connected);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));  // it did retry
}

}  // namespace
