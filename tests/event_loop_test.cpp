// The user-interface loop without a display: messages posted from other threads arrive in
// order, a message for a target that is gone is dropped, timers keep their period and stop
// when killed, the loop sleeps while nothing is due, and signals arrive through it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <thread>
#include <vector>

#include "platform/x11/event_loop.h"

namespace {

struct Recorder : MessageTarget {
    using MessageTarget::MessageTarget;
    std::vector<uint32_t> messages;
    std::vector<int64_t> ticks;
    void OnMessage(uint32_t message, uint64_t a, int64_t b) override {
        messages.push_back(message);
        EXPECT_EQ(a, message * 2u);
        EXPECT_EQ(b, -static_cast<int64_t>(message));
    }
    void OnTimer(int id) override {
        ticks.push_back(MonotonicMs());
        if (id == 2) Loop().KillTimer(this, 2);  // a one-shot kills itself
    }
};

TEST(EventLoop, PostedMessagesArriveInOrderAndNeverForAGoneTarget) {
    EventLoop loop(nullptr);
    ASSERT_TRUE(loop.Ok());
    Recorder recorder(loop);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (uint32_t i = 0; i < 250; ++i) loop.PostMessage(&recorder, 1000 * (t + 1) + i, 2 * (1000 * (t + 1) + i), -static_cast<int64_t>(1000 * (t + 1) + i));
        });
    for (auto& thread : threads) thread.join();
    while (recorder.messages.size() < 1000) loop.RunOnce(100);
    std::vector<uint32_t> last(4, 0);
    for (uint32_t message : recorder.messages) {  // each thread's messages in its own order
        uint32_t thread = message / 1000 - 1, index = message % 1000;
        EXPECT_GE(index + 1, last[thread]);
        last[thread] = index + 1;
    }
    auto gone = std::make_unique<Recorder>(loop);
    Recorder* address = gone.get();
    EXPECT_TRUE(loop.PostMessage(address, 7, 14, -7));
    gone.reset();  // queued, then destroyed: never delivered
    EXPECT_FALSE(loop.PostMessage(address, 8, 16, -8));
    int ran = 0;
    loop.Post([&] { ++ran; });
    loop.RunOnce(0);
    EXPECT_EQ(ran, 1);
}

TEST(EventLoop, TimersFireAtTheirPeriodAndTheLoopSleepsWhenIdle) {
    EventLoop loop(nullptr);
    Recorder recorder(loop);
    loop.SetTimer(&recorder, 1, 20);
    loop.SetTimer(&recorder, 2, 5);
    int64_t start = MonotonicMs();
    while (MonotonicMs() - start < 230) loop.RunOnce(-1);
    loop.KillTimer(&recorder, 1);
    EXPECT_FALSE(loop.TimerRunning(&recorder, 2));  // the one-shot
    // 1 one-shot tick plus about 11 of the 20 ms timer; load may make a few late, never early.
    ASSERT_GE(recorder.ticks.size(), 3u);
    EXPECT_LE(recorder.ticks.size(), 13u);
    // Never early, and a late tick brings no quick catch-up tick after it.
    for (size_t i = 2; i < recorder.ticks.size(); ++i) EXPECT_GE(recorder.ticks[i] - recorder.ticks[i - 1], 18);
    EXPECT_EQ(loop.TimerCount(), 0u);

    // With nothing due the loop blocks in poll: a 300 ms wait costs next to no CPU time.
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    int64_t idleStart = MonotonicMs();
    loop.RunOnce(300);
    EXPECT_GE(MonotonicMs() - idleStart, 290);
    getrusage(RUSAGE_THREAD, &after);
    long usedUs = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) * 1000000 + (after.ru_utime.tv_usec - before.ru_utime.tv_usec) +
                  (after.ru_stime.tv_sec - before.ru_stime.tv_sec) * 1000000 + (after.ru_stime.tv_usec - before.ru_stime.tv_usec);
    EXPECT_LT(usedUs, 20000);
}

TEST(EventLoop, SignalsArriveAsMessagesOfTheLoop) {
    std::thread([] {
        EventLoop loop(nullptr);
        int got = 0;
        ASSERT_TRUE(loop.WatchSignals({SIGUSR2}, [&](int signal) {
            got = signal;
            loop.Quit(3);
        }));
        ::pthread_kill(::pthread_self(), SIGUSR2);  // blocked now: waits for the loop
        EXPECT_EQ(loop.Run(), 3);
        EXPECT_EQ(got, SIGUSR2);
    }).join();
}

}  // namespace
